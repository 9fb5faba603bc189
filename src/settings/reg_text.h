#pragma once
// The .reg text format of the settings file: parse and write, keeping each value's type.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Velko\DUReroro\v1.0]
//   "OSFile"="/home/op/a.os"
//   "Count"=dword:00000005
//   "Path"=hex(2):25,00,48,00,00,00
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orv {

// Value types, numbered as the registry numbers them.
inline constexpr uint32_t rtString = 1;
inline constexpr uint32_t rtExpandString = 2;
inline constexpr uint32_t rtBinary = 3;
inline constexpr uint32_t rtDWord = 4;

struct RegValue {
    // How the value is spelt in the file: "text", dword:xxxxxxxx or hex(type):bytes.
    enum class Form : uint8_t { Text, DWord, Hex };
    Form form = Form::Text;
    uint32_t type = rtString; // Text is always rtString, DWord always rtDWord
    std::string data;         // Text: the string; Hex: the raw bytes
    uint32_t dword = 0;

    static RegValue Text(std::string text);
    static RegValue DWord(uint32_t value);
    static RegValue Hex(uint32_t type, std::string bytes);
    bool operator==(const RegValue&) const = default;
};

struct RegNamedValue {
    std::string name; // "" is the key's default value, written @
    RegValue value;
};

// Names of keys and values compare without regard to ASCII letter case, as in the registry.
std::string FoldName(std::string_view name);

class RegKeyData {
public:
    explicit RegKeyData(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }
    const std::vector<RegNamedValue>& Values() const { return values_; }
    const RegValue* Find(std::string_view name) const;
    // Replaces a value of the same name in place, or appends.
    void Set(std::string_view name, RegValue value);

private:
    std::string path_;
    std::vector<RegNamedValue> values_;
    std::unordered_map<std::string, size_t> index_;
};

class RegDocument {
public:
    const std::vector<RegKeyData>& Keys() const { return keys_; }
    RegKeyData* FindKey(std::string_view path);
    const RegKeyData* FindKey(std::string_view path) const;
    // True for a key written in the document and for every parent of one.
    bool KeyExists(std::string_view path) const;
    RegKeyData& AddKey(std::string_view path);

private:
    std::vector<RegKeyData> keys_;
    std::unordered_map<std::string, size_t> index_;
};

// A key path below the hive: names separated by single backslashes, none empty, no control
// characters. "" (the hive itself) is valid.
bool ValidKeyPath(std::string_view path);
// A value name the file can hold: no control characters.
bool ValidValueName(std::string_view name);

struct RegParseResult {
    RegDocument doc;
    size_t errorCount = 0;
    std::vector<std::string> errors; // the first few, as "line N: what was wrong"
};

// Reads what it can: a damaged line is reported and skipped, the rest is kept.
RegParseResult ParseRegText(std::string_view text);
// Writes a document so that ParseRegText reads it back unchanged and without errors.
std::string WriteRegText(const RegDocument& doc);

// The string a value holds as the registry would hand it to a string read: the text, or the
// UTF-16 text of a hex(1)/hex(2) value up to its terminator. False when the bytes do not
// decode.
bool DecodeRegString(const RegValue& value, std::string& text);
// A string value for `text`: plain text when it has no control characters, else UTF-16 in
// hex(1). False when the text cannot be stored (a NUL, or control characters in text that is
// not UTF-8).
bool EncodeRegString(std::string_view text, RegValue& value);

} // namespace orv
