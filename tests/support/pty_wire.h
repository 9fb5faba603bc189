#pragma once
// The lines the Windows tests and serial_pty_peer exchange: bytes travel as hex text.

#include "common/hex.h"

#include <string>
#include <vector>

namespace orv::test {

inline std::string WireHex(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t b : bytes)
        text += HexByte(b);
    return text;
}

inline bool WireBytes(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        const auto b = ParseHexByte(std::string_view(text).substr(i, 2));
        if (!b)
            return false;
        bytes.push_back(*b);
    }
    return true;
}

} // namespace orv::test
