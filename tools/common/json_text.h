#pragma once
// Text for the tools' JSON output. Bytes from a PLC, a line or a file name may be anything;
// nlohmann-json holds UTF-8, so each byte is taken as the Latin-1 character of its number.
// Written with ensure_ascii, every byte outside printable ASCII then comes out escaped.

#include <string>
#include <string_view>

namespace orv {

inline std::string JsonText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

} // namespace orv
