#include "man_page.h"

#include "tools.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>

namespace orv::test {

namespace {

// A line of roff as it reads: escapes resolved, fonts dropped, blanks evened out.
std::string RoffText(const std::string& line) {
    static const std::vector<std::pair<std::string, std::string>> kEscapes{
        {"\\&", ""},  {"\\|", ""},  {"\\-", "-"}, {"\\(lq", "\""}, {"\\(rq", "\""}, {"\\(aq", "'"},
        {"\\fB", ""}, {"\\fI", ""}, {"\\fR", ""}, {"\\fP", ""},    {"\\e", "\\"}};
    std::string text = line;
    for (const auto& [escape, plain] : kEscapes)
        for (size_t at = text.find(escape); at != std::string::npos; at = text.find(escape, at))
            text.replace(at, escape.size(), plain);
    std::istringstream words(text);
    std::string out, word;
    while (words >> word)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

// The lines of a section of orv-flash(1), from its .SH to the next.
std::vector<std::string> ManSection(const std::string& title) {
    std::ifstream in(SourceDir() + "/packaging/man/orv-flash.1.in");
    std::vector<std::string> lines;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH", 0) == 0)
            inside = line == ".SH " + title;
        else if (inside)
            lines.push_back(line);
    }
    return lines;
}

// ".B name", ".I \"every event\"": the name a tag line gives.
std::string TagName(const std::string& line) {
    std::string text = RoffText(line.substr(std::min(line.find(' '), line.size())));
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    return text;
}

// A type as the manual page words it: alternatives such as "OS or null".
bool HasType(const nlohmann::json& v, const std::string& type) {
    for (size_t from = 0; from <= type.size();) {
        const size_t end = std::min(type.find(" or ", from), type.size());
        const std::string t = type.substr(from, end - from);
        from = end + 4;
        const auto all = [&](auto check) {
            return v.is_array() && std::all_of(v.begin(), v.end(), check);
        };
        const bool os =
            v.is_object() && v.size() == 3 &&
            std::all_of(v.begin(), v.end(), [](const auto& f) { return f.is_string(); }) &&
            v.contains("version") && v.contains("date") && v.contains("flash");
        if ((t == "string" && v.is_string()) || (t == "integer" && v.is_number_integer()) ||
            (t == "number" && v.is_number()) || (t == "boolean" && v.is_boolean()) ||
            (t == "null" && v.is_null()) || (t == "OS" && os) ||
            (t == "array of integers" &&
             all([](const auto& e) { return e.is_number_integer(); })) ||
            (t == "array of strings" && all([](const auto& e) { return e.is_string(); })) ||
            (t == "array of objects" && all([](const auto& e) { return e.is_object(); })))
            return true;
    }
    return false;
}

} // namespace

std::map<int, std::string> HelpExitStatuses(const std::string& help) {
    std::map<int, std::string> codes;
    const size_t at = help.find("\nexit status:\n");
    std::istringstream lines(at == std::string::npos ? "" : help.substr(at + 14));
    int code = -1;
    // "  0    done: ...", then its continuation lines, indented further.
    for (std::string line; std::getline(lines, line) && line.rfind("  ", 0) == 0;) {
        if (std::isdigit(static_cast<unsigned char>(line[2]))) {
            const size_t end = line.find(' ', 2);
            code = std::stoi(line.substr(2, end - 2));
            line.erase(0, end);
        }
        codes[code] = RoffText(codes[code] + " " + line);
    }
    return codes;
}

std::map<int, std::string> ManExitStatuses() {
    std::map<int, std::string> codes;
    const std::vector<std::string> lines = ManSection("EXIT STATUS");
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != ".TP" || lines[i + 1].rfind(".B ", 0) != 0)
            continue;
        std::string& text = codes[std::stoi(TagName(lines[i + 1]))];
        for (i += 2; i < lines.size() && lines[i].rfind('.', 0) != 0; ++i)
            text = RoffText(text + " " + lines[i]);
        --i;
    }
    return codes;
}

std::string UndocumentedInEvents(const std::vector<nlohmann::json>& events) {
    // Event (empty: every event) -> field -> type; "field.sub" for the objects of an array.
    std::map<std::string, std::map<std::string, std::string>> documented;
    std::string event, field, *type = nullptr;
    int depth = 0;
    bool tag = false;
    for (const std::string& line : ManSection("JSON EVENTS")) {
        if (line.rfind(".RS", 0) == 0 || line.rfind(".RE", 0) == 0) {
            depth += line[2] == 'S' ? 1 : -1;
        } else if (line.rfind(".TP", 0) == 0) {
            tag = true;
        } else if (tag) {
            tag = false;
            const std::string name = TagName(line);
            if (depth == 0) {
                event = name == "every event" ? "" : name;
                documented[event];
                continue;
            }
            if (depth == 1)
                field = name;
            type = &documented[event][depth == 1 ? name : field + "." + name];
            // An event documented in two sections takes a field's types from both.
            if (!type->empty())
                *type += " or ";
        } else if (type && line.rfind('.', 0) != 0) {
            *type += RoffText(line.substr(0, line.find(':')));
            type = nullptr;
        }
    }
    std::set<std::string> missing;
    const auto check = [&](const std::string& name, const std::string& key, const auto& value) {
        for (const std::string& where : {name, std::string()}) {
            const auto& fields = documented[where];
            if (const auto doc = fields.find(key); doc != fields.end()) {
                if (!HasType(value, doc->second))
                    missing.insert(name + ": " + key + " is " + value.dump() + ", not " +
                                   doc->second);
                return;
            }
        }
        missing.insert(name + ": no field " + key);
    };
    for (const nlohmann::json& e : events) {
        const std::string name = e.value("event", "");
        if (!documented.count(name)) {
            missing.insert("no event " + name);
            continue;
        }
        for (const auto& [key, value] : e.items()) {
            check(name, key, value);
            if (value.is_array())
                for (const auto& element : value)
                    if (element.is_object())
                        for (const auto& [sub, subValue] : element.items())
                            check(name, key + "." + sub, subValue);
        }
    }
    std::string text;
    for (const std::string& m : missing)
        text += m + "\n";
    return text;
}

} // namespace orv::test
