#pragma once
// The serial line between two UARTs: a line's settings, and what a receiving UART makes of
// bytes sent with settings of its own.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv::plcsim {

struct LineFormat {
    uint32_t speed = 9600;
    int dataBits = 8;  // 5 to 8
    char parity = 'E'; // 'N', 'E', 'O', 'M' (mark), 'S' (space)
    int stopBits = 1;  // 1 or 2

    int BitsPerChar() const { return 1 + dataBits + (parity != 'N' ? 1 : 0) + stopBits; }
    // How long one character takes on the wire.
    double CharSeconds() const { return speed ? static_cast<double>(BitsPerChar()) / speed : 0; }
    std::string Text() const; // "8E1"
    bool operator==(const LineFormat&) const = default;
};

// Parses "8E1", "7O2", "8N1" ...
std::optional<LineFormat> ParseFormat(std::string_view text, uint32_t speed);

// One character as a receiving UART delivers it; `error` flags a framing or parity error.
struct LineChar {
    uint8_t value = 0;
    bool error = false;
};

// What a UART set to `to` makes of `bytes` sent back to back by a UART set to `to`'s peer
// `from`, the line idle before and after. Identical settings give the bytes themselves (cut to
// the data bits); otherwise the bit stream is sampled as a real receiver would, mid-bit, so a
// speed mismatch gives garbage and a 7-bit sender loses the top bit of every byte.
std::vector<LineChar> CarryOverLine(std::span<const uint8_t> bytes, const LineFormat& from,
                                    const LineFormat& to);

std::vector<uint8_t> Values(const std::vector<LineChar>& chars);

} // namespace orv::plcsim
