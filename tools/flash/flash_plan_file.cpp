#include "flash_plan_file.h"

#include "common/platform_io.h"
#include "port_key.h"
#include "update/os_image.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace orv {

namespace {

namespace fs = std::filesystem;

// The columns and the option each one stands for; the first three are needed.
const std::vector<std::pair<std::string, std::string>> kColumns{
    {"port", "--port"},   {"station", "--station"},   {"image", "--image"},
    {"baud", "--baud"},   {"parity", "--parity"},     {"databits", "--databits"},
    {"speed", "--speed"}, {"stop_plc", "--stop-plc"}, {"skip_current", ""},
};
constexpr size_t kRequiredColumns = 3;

std::string Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    size_t b = 0, e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    return std::string(text.substr(b, e - b));
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// One line of CSV: fields separated by commas, blanks around them dropped; a field in double
// quotes keeps its commas and blanks, and "" inside it is one quote. Returns an error text,
// empty when the line was understood.
std::string SplitCsv(std::string_view line, std::vector<std::string>& fields) {
    fields.clear();
    size_t i = 0;
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::string field;
        if (i < line.size() && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= line.size())
                    return "a quoted field is not closed (a field cannot go on to the next line)";
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
                ++i;
            if (i < line.size() && line[i] != ',')
                return "text after the closing quote of field " + std::to_string(fields.size() + 1);
        } else {
            const size_t comma = std::min(line.find(',', i), line.size());
            field = Trim(line.substr(i, comma - i));
            if (field.find('"') != std::string::npos)
                return "a quote inside field " + std::to_string(fields.size() + 1) +
                       " that does not start with one";
            i = comma;
        }
        fields.push_back(std::move(field));
        if (i >= line.size())
            return {};
        ++i; // the comma
    }
}

// A plan is a few lines a PLC; anything far larger is not one.
constexpr size_t kMaxPlanBytes = 4 << 20;

// Returns why the file cannot be read, empty when text holds it.
std::string ReadText(const std::string& path, std::string& text) {
    std::FILE* file = OpenFile(path, "rb");
    if (!file)
        return std::string("cannot be read: ") + std::strerror(errno);
    char buf[65536];
    size_t n = 0;
    while (text.size() <= kMaxPlanBytes && (n = std::fread(buf, 1, sizeof buf, file)) > 0)
        text.append(buf, n);
    const int failed = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (failed)
        return std::string("cannot be read: ") + std::strerror(failed);
    if (text.size() > kMaxPlanBytes)
        return "is larger than 4 MiB: not a plan";
    return {};
}

// CLI11 names the option ("--baud: 4800 is not ..."); the plan names its column.
std::string ColumnWords(std::string text) {
    for (const auto& [column, option] : kColumns) {
        const size_t at = option.empty() ? std::string::npos : text.find(option + ":");
        if (at != std::string::npos)
            return text.replace(at, option.size(), column);
    }
    return text;
}

} // namespace

PlanReading ParsePlan(std::string text, const std::string& path, const FlashArgs& defaults,
                      const PlanImageCheck& checkImage) {
    PlanReading plan;
    auto error = [&](int line, const std::string& text) {
        // Appended piece by piece: GCC 12 at -O3 takes `":" + std::to_string(line)` for an
        // overlapping copy (-Wrestrict) and stops the cross build.
        std::string where = path;
        if (line > 0) {
            where += ':';
            where += std::to_string(line);
        }
        plan.Errors.push_back(where + ": " + text);
    };
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3); // a spreadsheet's byte-order mark

    const std::map<std::string, std::string> fallback{
        {"baud", std::to_string(defaults.Baud)},
        {"parity", kParityNames[defaults.ParityIndex]},
        {"databits", std::to_string(defaults.DataBits)},
        {"speed", std::to_string(defaults.Speed)},
        {"stop_plc", defaults.StopPlc == StopPlcAnswer::Yes ? "yes" : "no"},
    };
    const fs::path folder = PathOf(path).parent_path();
    std::vector<std::string> header;
    std::map<std::string, std::string> imageVerdicts; // path -> refusal, empty when good
    std::map<std::pair<std::string, int>, int> taken; // (port, station) -> line
    std::istringstream lines(text);
    std::string raw;
    std::vector<std::string> fields;
    for (int n = 1; std::getline(lines, raw); ++n) {
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        const std::string trimmed = Trim(raw);
        if (trimmed.empty() || trimmed[0] == '#')
            continue;
        if (const std::string bad = SplitCsv(raw, fields); !bad.empty()) {
            error(n, bad);
            if (header.empty())
                return plan;
            continue;
        }
        if (header.empty()) {
            std::set<std::string> seen;
            for (std::string& f : fields) {
                f = Lower(f);
                const bool known = std::any_of(kColumns.begin(), kColumns.end(),
                                               [&](const auto& c) { return c.first == f; });
                if (!known)
                    error(n, "unknown column \"" + f + "\"");
                else if (!seen.insert(f).second)
                    error(n, "column \"" + f + "\" is named twice");
            }
            for (size_t c = 0; c < kRequiredColumns; ++c)
                if (std::find(fields.begin(), fields.end(), kColumns[c].first) == fields.end())
                    error(n, "the header has no column \"" + kColumns[c].first + "\"");
            if (!plan.Errors.empty())
                return plan;
            header = fields;
            continue;
        }
        if (fields.size() > header.size()) {
            error(n, std::to_string(fields.size()) + " fields, but the header names " +
                         std::to_string(header.size()) + " columns");
            continue;
        }
        std::map<std::string, std::string> value;
        for (size_t c = 0; c < fields.size(); ++c)
            value[header[c]] = fields[c];
        bool complete = true;
        for (size_t c = 0; c < kRequiredColumns; ++c) {
            if (value[kColumns[c].first].empty()) {
                error(n, "no " + kColumns[c].first);
                complete = false;
            }
        }
        if (!complete)
            continue;
        if (Lower(value["stop_plc"]) == "ask") {
            error(n, "stop_plc: nobody is asked in a plan: yes or no");
            continue;
        }
        // A yes-or-no of its own: --skip-current is a flag, given or not.
        const std::string skip = Lower(value["skip_current"]);
        if (!skip.empty() && skip != "yes" && skip != "no") {
            error(n, "skip_current: " + value["skip_current"] + " is not yes or no");
            continue;
        }
        if (const fs::path image = PathOf(value["image"]); image.is_relative())
            value["image"] = TextOf(folder / image);

        std::vector<std::string> argv;
        for (const auto& [column, option] : kColumns) {
            if (option.empty())
                continue;
            const std::string& v = value[column];
            const auto f = fallback.find(column);
            // "--port=-x": a value that starts like an option is still the value.
            argv.push_back(option + "=" + (v.empty() && f != fallback.end() ? f->second : v));
        }
        const FlashArgsResult parsed = ParseFlashArgs(argv);
        if (!parsed.Error.empty()) {
            error(n, ColumnWords(parsed.Error));
            continue;
        }
        // Everything else the command line says holds for every PLC of the plan.
        FlashArgs args = defaults;
        const FlashArgs& own = parsed.Args;
        args.Mode = FlashArgs::TMode::Update;
        args.Plan.clear();
        args.Port = own.Port;
        args.CommName = own.CommName;
        args.Station = own.Station;
        args.Image = own.Image;
        args.Baud = own.Baud;
        args.BaudIndex = own.BaudIndex;
        args.ParityIndex = own.ParityIndex;
        args.DataBits = own.DataBits;
        args.Speed = own.Speed;
        args.SpeedIndex = own.SpeedIndex;
        args.StopPlc = own.StopPlc;
        if (!skip.empty())
            args.SkipCurrent = skip == "yes";
        auto verdict = imageVerdicts.find(args.Image);
        if (verdict == imageVerdicts.end())
            verdict = imageVerdicts.emplace(args.Image, checkImage(args.Image)).first;
        if (!verdict->second.empty()) {
            error(n, verdict->second);
            continue;
        }
        PlanEntry entry{n, args, PortKey(args.CommName)};
        const auto [at, fresh] = taken.emplace(std::pair(entry.PortKey, entry.Args.Station), n);
        if (!fresh) {
            error(n, "station " + std::to_string(entry.Args.Station) + " on " + entry.Args.Port +
                         " is on line " + std::to_string(at->second) + " already");
            continue;
        }
        plan.Entries.push_back(std::move(entry));
    }
    if (header.empty())
        error(0, "no header line (port,station,image,...)");
    else if (plan.Entries.empty() && plan.Errors.empty())
        error(0, "lists no PLC");
    return plan;
}

namespace {

std::string CheckPlanImage(const std::string& path) {
    const PrepareResult prepared = PrepareImageFile(path);
    if (prepared.Outcome == PrepareOutcome::Ready)
        return {};
    const std::string refusal = PrepareResultText(prepared, path);
    return refusal.empty() ? "the image " + path + " cannot be used" : refusal;
}

} // namespace

PlanReading ReadPlan(const std::string& path, const FlashArgs& defaults) {
    std::string text;
    if (const std::string why = ReadText(path, text); !why.empty()) {
        PlanReading plan;
        plan.Errors.push_back(path + ": " + why);
        return plan;
    }
    return ParsePlan(std::move(text), path, defaults, CheckPlanImage);
}

} // namespace orv
