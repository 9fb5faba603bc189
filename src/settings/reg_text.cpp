#include "settings/reg_text.h"

#include <cstdio>

namespace orv {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kHive = "HKEY_CURRENT_USER";
constexpr size_t kKeptErrors = 8;

bool IsControl(unsigned char c) {
    return (c < 0x20 && c != '\t') || c == 0x7F;
}

bool HasControl(std::string_view s) {
    for (unsigned char c : s)
        if (IsControl(c))
            return true;
    return false;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(s[i]) != Lower(prefix[i]))
            return false;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// 1 to `maxDigits` hex digits, the whole of `s`.
bool ParseHexNumber(std::string_view s, size_t maxDigits, uint32_t& out) {
    if (s.empty() || s.size() > maxDigits)
        return false;
    uint32_t v = 0;
    for (char c : s) {
        int d = HexValue(c);
        if (d < 0)
            return false;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    out = v;
    return true;
}

// A quoted name or string starting at s[pos] == '"', with the escapes \\ and \".
bool ParseQuoted(std::string_view s, size_t& pos, std::string& out, const char*& why) {
    out.clear();
    ++pos;
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"')
            return true;
        if (c == '\\') {
            if (pos < s.size() && (s[pos] == '\\' || s[pos] == '"')) {
                out += s[pos++];
                continue;
            }
            why = "a backslash that is not \\\\ or \\\" inside quotes";
            return false;
        }
        if (IsControl(static_cast<unsigned char>(c))) {
            why = "a control character inside quotes";
            return false;
        }
        out += c;
    }
    why = "quotes that are not closed";
    return false;
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    RegParseResult Run() {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            text_.remove_prefix(3);
        bool first = true;
        std::string_view raw;
        while (NextLine(raw)) {
            std::string_view line = Trim(raw);
            if (line.empty())
                continue;
            if (first) {
                first = false;
                if (line == kHeader || line == kOldHeader)
                    continue;
                Error("the file does not begin with \"Windows Registry Editor Version 5.00\"");
            }
            if (line.front() == ';')
                continue;
            if (line.front() == '[')
                KeyLine(line);
            else
                ValueLine(line);
        }
        return std::move(result_);
    }

private:
    bool NextLine(std::string_view& line) {
        if (pos_ >= text_.size())
            return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos)
            end = text_.size();
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos_ = end + 1;
        ++lineNo_;
        return true;
    }

    void Error(const std::string& what) { ErrorAt(lineNo_, what); }

    void ErrorAt(size_t line, const std::string& what) {
        if (result_.errors.size() < kKeptErrors)
            result_.errors.push_back("line " + std::to_string(line) + ": " + what);
        ++result_.errorCount;
    }

    void KeyLine(std::string_view line) {
        haveKey_ = false;
        if (line.size() < 2 || line.back() != ']') {
            Error("a key line without its closing ']'");
            return;
        }
        std::string_view inner = line.substr(1, line.size() - 2);
        if (!inner.empty() && inner.front() == '-') {
            Error("a key deletion, which a settings file does not use");
            return;
        }
        std::string_view path;
        if (inner.size() == kHive.size() && StartsNoCase(inner, kHive)) {
            path = {};
        } else if (inner.size() > kHive.size() && StartsNoCase(inner, kHive) &&
                   inner[kHive.size()] == '\\') {
            path = inner.substr(kHive.size() + 1);
        } else {
            Error("a key outside HKEY_CURRENT_USER");
            return;
        }
        if (!ValidKeyPath(path)) {
            Error("an invalid key name");
            return;
        }
        RegKeyData& key = result_.doc.AddKey(path);
        currentKey_ = key.Path();
        haveKey_ = true;
    }

    void ValueLine(std::string_view line) {
        size_t startLine = lineNo_;
        std::string name;
        size_t p = 0;
        const char* why = nullptr;
        if (line.front() == '@') {
            p = 1;
        } else if (line.front() == '"') {
            if (!ParseQuoted(line, p, name, why)) {
                Error(std::string("a value name with ") + why);
                return;
            }
        } else {
            Error("neither a key, a value nor a comment");
            return;
        }
        while (p < line.size() && IsBlank(line[p]))
            ++p;
        if (p >= line.size() || line[p] != '=') {
            Error("a value name without '='");
            return;
        }
        std::string_view data = Trim(line.substr(p + 1));

        RegValue value;
        if (!ParseData(data, value))
            return;
        if (!haveKey_) {
            ErrorAt(startLine, "a value outside any key");
            return;
        }
        if (RegKeyData* key = result_.doc.FindKey(currentKey_))
            key->Set(name, std::move(value));
    }

    bool ParseData(std::string_view data, RegValue& value) {
        const char* why = nullptr;
        if (!data.empty() && data.front() == '"') {
            size_t p = 0;
            std::string text;
            if (!ParseQuoted(data, p, text, why)) {
                Error(std::string("a string with ") + why);
                return false;
            }
            if (p != data.size()) {
                Error("text after a string's closing quote");
                return false;
            }
            value = RegValue::Text(std::move(text));
            return true;
        }
        if (StartsNoCase(data, "dword:")) {
            uint32_t v = 0;
            if (!ParseHexNumber(data.substr(6), 8, v)) {
                Error("a dword that is not 1 to 8 hex digits");
                return false;
            }
            value = RegValue::DWord(v);
            return true;
        }
        if (StartsNoCase(data, "hex")) {
            uint32_t type = rtBinary;
            std::string_view rest = data.substr(3);
            if (!rest.empty() && rest.front() == '(') {
                size_t close = rest.find(')');
                if (close == std::string_view::npos ||
                    !ParseHexNumber(rest.substr(1, close - 1), 8, type)) {
                    Error("a hex value type that is not 1 to 8 hex digits");
                    return false;
                }
                rest.remove_prefix(close + 1);
            }
            if (rest.empty() || rest.front() != ':') {
                Error("a hex value without ':'");
                return false;
            }
            std::string bytes;
            if (!HexBytes(rest.substr(1), bytes))
                return false;
            value = RegValue::Hex(type, std::move(bytes));
            return true;
        }
        if (data == "-")
            Error("a value deletion, which a settings file does not use");
        else
            Error("value data that is not a string, a dword or hex bytes");
        return false;
    }

    // Comma-separated bytes; a line ending in a backslash goes on in the next line.
    bool HexBytes(std::string_view first, std::string& bytes) {
        size_t startLine = lineNo_;
        std::string joined(Trim(first));
        while (!joined.empty() && joined.back() == '\\') {
            joined.pop_back();
            std::string_view next;
            if (!NextLine(next)) {
                ErrorAt(startLine, "hex bytes continued past the end of the file");
                return false;
            }
            joined += Trim(next);
        }
        std::string_view s = Trim(joined);
        if (s.empty())
            return true;
        for (;;) {
            size_t comma = s.find(',');
            std::string_view item = Trim(s.substr(0, comma));
            uint32_t b = 0;
            if (!ParseHexNumber(item, 2, b)) {
                ErrorAt(startLine, "hex bytes that are not two-digit numbers separated by commas");
                return false;
            }
            bytes += static_cast<char>(b);
            if (comma == std::string_view::npos)
                return true;
            s.remove_prefix(comma + 1);
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
    size_t lineNo_ = 0;
    bool haveKey_ = false;
    std::string currentKey_;
    RegParseResult result_;
};

// Strict UTF-8 to code points: no overlong forms, no surrogates, nothing above U+10FFFF.
bool DecodeUtf8(std::string_view s, std::vector<uint32_t>& out) {
    size_t i = 0;
    while (i < s.size()) {
        auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        }
        size_t n = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if ((b0 & 0xE0) == 0xC0) {
            n = 1, cp = b0 & 0x1F, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            n = 2, cp = b0 & 0x0F, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            n = 3, cp = b0 & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (s.size() - i - 1 < n)
            return false;
        for (size_t k = 1; k <= n; ++k) {
            auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        out.push_back(cp);
        i += n + 1;
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUnit(std::string& out, uint32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

} // namespace

RegValue RegValue::Text(std::string text) {
    RegValue v;
    v.form = Form::Text;
    v.type = rtString;
    v.data = std::move(text);
    return v;
}

RegValue RegValue::DWord(uint32_t value) {
    RegValue v;
    v.form = Form::DWord;
    v.type = rtDWord;
    v.dword = value;
    return v;
}

RegValue RegValue::Hex(uint32_t type, std::string bytes) {
    RegValue v;
    v.form = Form::Hex;
    v.type = type;
    v.data = std::move(bytes);
    return v;
}

std::string FoldName(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        c = Lower(c);
    return out;
}

const RegValue* RegKeyData::Find(std::string_view name) const {
    auto it = index_.find(FoldName(name));
    return it == index_.end() ? nullptr : &values_[it->second].value;
}

void RegKeyData::Set(std::string_view name, RegValue value) {
    auto [it, added] = index_.emplace(FoldName(name), values_.size());
    if (added)
        values_.push_back({std::string(name), std::move(value)});
    else
        values_[it->second].value = std::move(value);
}

RegKeyData* RegDocument::FindKey(std::string_view path) {
    auto it = index_.find(FoldName(path));
    return it == index_.end() ? nullptr : &keys_[it->second];
}

const RegKeyData* RegDocument::FindKey(std::string_view path) const {
    auto it = index_.find(FoldName(path));
    return it == index_.end() ? nullptr : &keys_[it->second];
}

bool RegDocument::KeyExists(std::string_view path) const {
    if (path.empty() || FindKey(path))
        return true;
    std::string prefix = FoldName(path) + '\\';
    for (const RegKeyData& key : keys_)
        if (key.Path().size() > prefix.size() && FoldName(key.Path()).starts_with(prefix))
            return true;
    return false;
}

RegKeyData& RegDocument::AddKey(std::string_view path) {
    auto [it, added] = index_.emplace(FoldName(path), keys_.size());
    if (added)
        keys_.emplace_back(std::string(path));
    return keys_[it->second];
}

bool ValidKeyPath(std::string_view path) {
    if (path.empty())
        return true;
    if (HasControl(path))
        return false;
    size_t start = 0;
    for (;;) {
        size_t sep = path.find('\\', start);
        if (sep == start || start == path.size())
            return false; // an empty name: leading, doubled or trailing backslash
        if (sep == std::string_view::npos)
            return true;
        start = sep + 1;
    }
}

bool ValidValueName(std::string_view name) {
    return !HasControl(name);
}

RegParseResult ParseRegText(std::string_view text) {
    return Parser(text).Run();
}

std::string WriteRegText(const RegDocument& doc) {
    std::string out(kHeader);
    out += "\n\n";
    char buf[16];
    for (const RegKeyData& key : doc.Keys()) {
        out += '[';
        out += kHive;
        if (!key.Path().empty()) {
            out += '\\';
            out += key.Path();
        }
        out += "]\n";
        for (const RegNamedValue& v : key.Values()) {
            out += v.name.empty() ? std::string("@") : Quote(v.name);
            out += '=';
            switch (v.value.form) {
            case RegValue::Form::Text:
                out += Quote(v.value.data);
                break;
            case RegValue::Form::DWord:
                std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v.value.dword));
                out += buf;
                break;
            case RegValue::Form::Hex:
                if (v.value.type == rtBinary) {
                    out += "hex:";
                } else {
                    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.value.type));
                    out += buf;
                }
                for (size_t i = 0; i < v.value.data.size(); ++i) {
                    std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x",
                                  static_cast<unsigned char>(v.value.data[i]));
                    out += buf;
                }
                break;
            }
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

bool DecodeRegString(const RegValue& value, std::string& text) {
    if (value.form == RegValue::Form::Text) {
        text = value.data;
        return true;
    }
    if (value.form != RegValue::Form::Hex ||
        (value.type != rtString && value.type != rtExpandString))
        return false;
    std::string out;
    const std::string& b = value.data;
    size_t units = b.size() / 2; // an odd last byte is no whole character
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = static_cast<unsigned char>(b[2 * i]) |
                     (static_cast<uint32_t>(static_cast<unsigned char>(b[2 * i + 1])) << 8);
        if (u == 0)
            break;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= units)
                return false;
            uint32_t lo = static_cast<unsigned char>(b[2 * i + 2]) |
                          (static_cast<uint32_t>(static_cast<unsigned char>(b[2 * i + 3])) << 8);
            if (lo < 0xDC00 || lo > 0xDFFF)
                return false;
            u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
        AppendUtf8(out, u);
    }
    text = std::move(out);
    return true;
}

bool EncodeRegString(std::string_view text, RegValue& value) {
    if (text.find('\0') != std::string_view::npos)
        return false;
    if (!HasControl(text)) {
        value = RegValue::Text(std::string(text));
        return true;
    }
    std::vector<uint32_t> cps;
    if (!DecodeUtf8(text, cps))
        return false;
    std::string bytes;
    for (uint32_t cp : cps) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            AppendUnit(bytes, 0xD800 + (cp >> 10));
            AppendUnit(bytes, 0xDC00 + (cp & 0x3FF));
        } else {
            AppendUnit(bytes, cp);
        }
    }
    AppendUnit(bytes, 0);
    value = RegValue::Hex(rtString, std::move(bytes));
    return true;
}

} // namespace orv
