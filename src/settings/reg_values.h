#pragma once
// Helpers of TReg's members, shared by its plain half and its Qt half.
#include "settings/reg_store.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace orv {

// A value name with numbers in it: "Item%d", "ColWidth%d", "Column[%d.%d].Width".
inline std::string Numbered(const char* format, int a, int b = 0) {
    char buf[48];
    std::snprintf(buf, sizeof buf, format, a, b);
    return buf;
}

// Integers are kept as double words; false, with `value` untouched, when there is none.
inline bool ReadInt(RegKey& key, const std::string& name, int32_t& value) {
    if (!key.ValueExists(name))
        return false;
    value = static_cast<int32_t>(key.ReadDWord(name));
    return true;
}

inline void WriteInt(RegKey& key, const std::string& name, int32_t value) {
    key.WriteDWord(name, static_cast<uint32_t>(value));
}

} // namespace orv
