#pragma once
// Hex text of the ASCII station protocol: upper-case, two characters a byte.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

// "0".."9" give 0..9; any greater character gives its code minus 55 ("A".."F" give 10..15).
// Only upper-case digits are meant; other characters give what the rule gives.
int HexDigitValue(char c);

// The two upper-case hex digits of a byte, written at out[0] and out[1].
void WriteHexByte(char* out, uint8_t value);

// "%02X": at least two upper-case hex digits.
std::string HexText(unsigned value);

// A byte as two upper-case hex digits ("0F", "FF").
std::string HexByte(uint8_t value);

// Bytes as spaced hex, for logs and traces: "02 30 31".
std::string HexDump(const uint8_t* data, size_t length);

// The value of exactly two upper-case hex digits, or nothing when either is not one.
std::optional<uint8_t> ParseHexByte(std::string_view two);

} // namespace orv
