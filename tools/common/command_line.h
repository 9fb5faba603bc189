#pragma once
// The tools' command lines on CLI11: a help page that opens with the tool's own synopsis, a
// later value that overrides an earlier one, and one outcome for help, version and refusals.

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv::cli {

// CLI11's own usage line cannot say "(--image FILE | --status)"; the tool's synopsis can. A
// subcommand's help page names the subcommand beneath it.
class TSynopsisFormatter : public CLI::Formatter {
public:
    explicit TSynopsisFormatter(std::string synopsis) : synopsis_(std::move(synopsis)) {}
    std::string make_description(const CLI::App*) const override { return {}; }
    std::string make_usage(const CLI::App* app, std::string) const override {
        const std::string& about = app->get_description();
        return about.empty() ? synopsis_ : synopsis_ + "\n" + app->get_name() + ": " + about + "\n";
    }

private:
    std::string synopsis_;
};

// Call before adding options: the defaults apply to the options added after.
inline void Configure(CLI::App& app, const std::string& synopsis, const std::string& footer) {
    auto formatter = std::make_shared<TSynopsisFormatter>(synopsis + "\n");
    formatter->column_width(22);
    app.formatter(formatter);
    app.footer(footer);
    app.set_help_flag("-h,--help", "print this help and exit");
    // Scripts append settings to a command line: the last one holds.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// A check of an option's value: refusal gives what is wrong with it, or empty when it is good.
// CLI11 puts the option's name in front: "--baud: 4800 is not one of ...".
inline CLI::Validator Check(const char* typeName,
                            std::function<std::string(const std::string&)> refusal) {
    return CLI::Validator(
        [refusal = std::move(refusal)](std::string& value) { return refusal(value); }, "",
        typeName);
}

// An empty value (--log "") is refused with refusal.
inline CLI::Validator NotEmpty(const char* typeName, std::string refusal) {
    return Check(typeName, [refusal = std::move(refusal)](const std::string& v) {
        return v.empty() ? refusal : std::string();
    });
}

struct TOutcome {
    enum class TKind { Run, Print, Refused };
    TKind Kind = TKind::Run;
    std::string Text; // Print: the help page or the version; Refused: what was wrong
};

// args without the program's name.
inline TOutcome Parse(CLI::App& app, const std::vector<std::string>& args) {
    // CLI11 reads "--json=1" as a value for the flag; a flag here is only ever given bare.
    for (const std::string& arg : args) {
        const auto eq = arg.find('=');
        if (arg.rfind("--", 0) != 0 || eq == std::string::npos)
            continue;
        const CLI::Option* option = app.get_option_no_throw(arg.substr(0, eq));
        if (option && option->get_expected_max() == 0)
            return {TOutcome::TKind::Refused, arg.substr(0, eq) + " takes no value"};
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return {TOutcome::TKind::Print, app.help()};
    } catch (const CLI::CallForVersion& e) {
        return {TOutcome::TKind::Print, std::string(e.what()) + "\n"};
    } catch (const CLI::ParseError& e) {
        return {TOutcome::TKind::Refused, e.what()};
    }
    return {};
}

} // namespace orv::cli
