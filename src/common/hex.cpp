#include "common/hex.h"

#include <cstdio>

namespace orv {
namespace {
constexpr char kDigits[] = "0123456789ABCDEF";

int StrictDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

int HexDigitValue(char c) {
    const int code = static_cast<unsigned char>(c);
    return code <= '9' ? code - 48 : code - 55;
}

void WriteHexByte(char* out, uint8_t value) {
    out[0] = kDigits[value >> 4];
    out[1] = kDigits[value & 0x0F];
}

std::string HexText(unsigned value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X", value);
    return buf;
}

std::string HexByte(uint8_t value) {
    char buf[2];
    WriteHexByte(buf, value);
    return std::string(buf, 2);
}

std::string HexDump(const uint8_t* data, size_t length) {
    std::string out;
    out.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        if (i)
            out.push_back(' ');
        char buf[2];
        WriteHexByte(buf, data[i]);
        out.append(buf, 2);
    }
    return out;
}

std::optional<uint8_t> ParseHexByte(std::string_view two) {
    if (two.size() != 2)
        return std::nullopt;
    const int hi = StrictDigit(two[0]);
    const int lo = StrictDigit(two[1]);
    if (hi < 0 || lo < 0)
        return std::nullopt;
    return static_cast<uint8_t>(hi * 16 + lo);
}

} // namespace orv
