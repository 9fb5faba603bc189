// On Windows the settings are the current user's registry itself, so a value the program
// writes is what the registry editor and `reg query` show. The rules are the .reg file's:
// a string read takes REG_SZ and REG_EXPAND_SZ (unexpanded) and decodes them as the file's
// hex(1) and hex(2) values are decoded, a double word must be REG_DWORD of four bytes.
#include "common/wide_text.h"
#include "settings/reg_store.h"
#include "settings/reg_text.h"

#include <string>
#include <windows.h>

namespace orv {

namespace {

class RegistryKey final : public RegKey {
public:
    explicit RegistryKey(HKEY key) : key_(key) {}
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() override { Close(); }

    bool ValueExists(std::string_view name) override {
        std::wstring wname;
        return key_ && ToWide(name, wname) &&
               RegQueryValueExW(key_, wname.c_str(), nullptr, nullptr, nullptr, nullptr) ==
                   ERROR_SUCCESS;
    }

    std::string ReadString(std::string_view name) override {
        DWORD type = 0;
        std::string bytes = Read(name, type);
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            throw ERegError(InvalidDataTypeMessage(name));
        std::string text;
        if (!DecodeRegString(RegValue::Hex(type, std::move(bytes)), text))
            throw ERegError(FailedToGetMessage(name));
        return text;
    }

    uint32_t ReadDWord(std::string_view name) override {
        DWORD type = 0;
        std::string bytes = Read(name, type);
        if (type != REG_DWORD)
            throw ERegError(InvalidDataTypeMessage(name));
        if (bytes.size() != 4)
            throw ERegError(FailedToGetMessage(name));
        uint32_t x = 0;
        for (int i = 3; i >= 0; --i)
            x = (x << 8) | static_cast<unsigned char>(bytes[static_cast<size_t>(i)]);
        return x;
    }

    void WriteString(std::string_view name, std::string_view value) override {
        std::wstring wvalue;
        if (!ToWide(value, wvalue))
            throw ERegError(FailedToSetMessage(name));
        // With its terminator, as every reader of REG_SZ expects.
        Write(name, REG_SZ, wvalue.c_str(), (wvalue.size() + 1) * sizeof(wchar_t));
    }

    void WriteDWord(std::string_view name, uint32_t value) override {
        DWORD dword = value;
        Write(name, REG_DWORD, &dword, sizeof dword);
    }

    // The registry keeps each value as it is set, so nothing is left to fail here.
    bool Close() override {
        if (key_)
            RegCloseKey(key_);
        key_ = nullptr;
        return true;
    }

private:
    std::string Read(std::string_view name, DWORD& type) {
        std::wstring wname;
        if (!key_ || !ToWide(name, wname))
            throw ERegError(FailedToGetMessage(name));
        std::string bytes;
        // Another program may grow the value between asking its size and reading it.
        for (int attempt = 0; attempt < 4; ++attempt) {
            DWORD size = 0;
            if (RegQueryValueExW(key_, wname.c_str(), nullptr, &type, nullptr, &size) !=
                ERROR_SUCCESS)
                break;
            bytes.resize(size);
            LONG rc = RegQueryValueExW(key_, wname.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(bytes.data()), &size);
            if (rc == ERROR_MORE_DATA)
                continue;
            if (rc != ERROR_SUCCESS)
                break;
            bytes.resize(size);
            return bytes;
        }
        throw ERegError(FailedToGetMessage(name));
    }

    void Write(std::string_view name, DWORD type, const void* data, size_t size) {
        std::wstring wname;
        if (!key_ || !ToWide(name, wname) || size > MAXDWORD ||
            RegSetValueExW(key_, wname.c_str(), 0, type, static_cast<const BYTE*>(data),
                           static_cast<DWORD>(size)) != ERROR_SUCCESS)
            throw ERegError(FailedToSetMessage(name));
    }

    HKEY key_;
};

// The system's words for an error code, without the line break it ends them with.
std::string SystemMessage(LONG code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message =
        length > 0 ? ToUtf8(std::wstring_view(text, length)) : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

class RegistryStore final : public RegStore {
public:
    std::unique_ptr<RegKey> OpenKey(std::string_view path, bool forWriting) override {
        failure_.clear();
        // The registry would quietly read "a\\b\\" as "a\\b" and "a\\\\b" as "a\\b"; the file
        // store refuses such paths, and so does this one.
        std::wstring wpath;
        if (!ValidKeyPath(path) || !ToWide(path, wpath)) {
            failure_ = "the key " + std::string(path) + " is not a valid key path";
            return nullptr;
        }
        HKEY key = nullptr;
        const LONG created =
            RegCreateKeyExW(HKEY_CURRENT_USER, wpath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
        if (created == ERROR_SUCCESS)
            return std::make_unique<RegistryKey>(key);
        // A key this user may only read is still read.
        if (!forWriting && RegOpenKeyExW(HKEY_CURRENT_USER, wpath.c_str(), 0, KEY_QUERY_VALUE,
                                         &key) == ERROR_SUCCESS)
            return std::make_unique<RegistryKey>(key);
        failure_ = "the registry refused to open the key: " + SystemMessage(created);
        return nullptr;
    }

    std::string Location(std::string_view path) const override {
        return "HKEY_CURRENT_USER\\" + std::string(path);
    }

    std::string FailureReason() const override { return failure_; }

private:
    std::string failure_;
};

} // namespace

std::unique_ptr<RegStore> MakeUserRegStore() {
    return std::make_unique<RegistryStore>();
}

} // namespace orv
