#include "settings/reg.h"

#include "settings/reg_values.h"

#include <utility>

namespace orv {

namespace {

constexpr const char* kDefaultKeyPath = "Software\\Velko\\Reg\\v1.0";

} // namespace

TReg::TReg() : TReg(kDefaultKeyPath) {}

TReg::TReg(std::string keyPath) : TReg(std::move(keyPath), MakeUserRegStore()) {}

TReg::TReg(std::string keyPath, std::unique_ptr<RegStore> store)
    : KeyPath(std::move(keyPath)), store_(std::move(store)) {}

TReg::~TReg() = default;

std::unique_ptr<RegKey> TReg::Open(const std::string& subPath, bool forWriting) {
    std::unique_ptr<RegKey> key = store_ ? store_->OpenKey(KeyPath + subPath, forWriting) : nullptr;
    if (!key && forWriting)
        Saved(false);
    return key;
}

bool TReg::Saved(bool ok) {
    if (!ok && saveFailure_.empty()) {
        saveFailure_ = store_ ? store_->FailureReason() : std::string();
        if (saveFailure_.empty())
            saveFailure_ = "the settings store refused the change";
    }
    return ok;
}

std::string TReg::Location() const {
    return store_ ? store_->Location(KeyPath) : std::string();
}

bool TReg::LoadStringNoted(const std::string& section, const std::string& name,
                           std::string& value) {
    try {
        std::string read;
        if (!LoadStringA(section, name, read))
            return false;
        value = std::move(read);
        return true;
    } catch (const ERegError& e) {
        loadProblems_.emplace_back(e.what());
        return false;
    }
}

bool TReg::SaveStringNoted(const std::string& section, const std::string& name,
                           const std::string& value) {
    try {
        return SaveString(section, name, value);
    } catch (const ERegError& e) {
        if (saveFailure_.empty())
            saveFailure_ = e.what();
        return false;
    }
}

std::vector<std::string> TReg::TakeLoadProblems() {
    return std::exchange(loadProblems_, {});
}

std::string TReg::TakeSaveFailure() {
    return std::exchange(saveFailure_, {});
}

bool TReg::LoadStringA(const std::string& section, const std::string& name, std::string& value) {
    auto key = Open(section, false);
    if (!key)
        return false;
    bool found = key->ValueExists(name);
    if (found)
        value = key->ReadString(name);
    key->Close();
    return found;
}

bool TReg::SaveString(const std::string& section, const std::string& name,
                      const std::string& value) {
    auto key = Open(section, true);
    if (!key)
        return false;
    key->WriteString(name, value);
    return Closed(*key);
}

bool TReg::LoadInteger(const std::string& section, const std::string& name, int32_t& value) {
    auto key = Open(section, false);
    if (!key)
        return false;
    bool found = ReadInt(*key, name, value);
    key->Close();
    return found;
}

bool TReg::SaveInteger(const std::string& section, const std::string& name, int32_t value) {
    auto key = Open(section, true);
    if (!key)
        return false;
    WriteInt(*key, name, value);
    return Closed(*key);
}

bool TReg::LoadBoolean(const std::string& section, const std::string& name, bool& value) {
    auto key = Open(section, false);
    if (!key)
        return false;
    int32_t v = 0;
    bool found = ReadInt(*key, name, v);
    if (found)
        value = v != 0;
    key->Close();
    return found;
}

bool TReg::SaveBoolean(const std::string& section, const std::string& name, bool value) {
    return SaveInteger(section, name, value ? 1 : 0);
}

bool TReg::LoadStrings(const std::string& section, std::vector<std::string>& list) {
    auto key = Open(section, false);
    if (!key)
        return false;
    int32_t count = 0;
    ReadInt(*key, "ItemCnt", count);
    for (int i = 0; i < count; ++i) {
        std::string name = Numbered("Item%d", i);
        if (!key->ValueExists(name))
            break;
        list.push_back(key->ReadString(name));
    }
    key->Close();
    return true;
}

bool TReg::SaveStrings(const std::string& section, const std::vector<std::string>& list) {
    auto key = Open(section, true);
    if (!key)
        return false;
    WriteInt(*key, "ItemCnt", static_cast<int32_t>(list.size()));
    for (size_t i = 0; i < list.size(); ++i)
        key->WriteString(Numbered("Item%d", static_cast<int>(i)), list[i]);
    return Closed(*key);
}

bool TReg::LoadColumnsGroup(const std::string& section, const std::string& name,
                            TColumnsGroup& groups) {
    auto key = Open(section + "\\" + name, false);
    if (!key)
        return false;
    for (size_t g = 0; g < groups.Groups.size(); ++g) {
        std::vector<int>& widths = groups.Groups[g].Widths;
        for (size_t c = 0; c < widths.size(); ++c) {
            int32_t w = 0;
            if (ReadInt(*key,
                        Numbered("Column[%d.%d].Width", static_cast<int>(g), static_cast<int>(c)),
                        w))
                widths[c] = w;
        }
    }
    key->Close();
    return true;
}

bool TReg::SaveColumnsGroup(const std::string& section, const std::string& name,
                            const TColumnsGroup& groups) {
    auto key = Open(section + "\\" + name, true);
    if (!key)
        return false;
    for (size_t g = 0; g < groups.Groups.size(); ++g) {
        const std::vector<int>& widths = groups.Groups[g].Widths;
        for (size_t c = 0; c < widths.size(); ++c)
            WriteInt(*key,
                     Numbered("Column[%d.%d].Width", static_cast<int>(g), static_cast<int>(c)),
                     widths[c]);
    }
    return Closed(*key);
}

TReg& Reg() {
    static TReg reg;
    return reg;
}

} // namespace orv
