#pragma once
// LZSS decoder of the cipher's compressed form: 4096-byte ring, lengths 3 to 18, flag bits
// least significant first. Decoding stops wherever the input runs out.

#include <cstdint>
#include <span>
#include <vector>

namespace orv {

std::vector<uint8_t> LzssDecode(std::span<const uint8_t> input);

} // namespace orv
