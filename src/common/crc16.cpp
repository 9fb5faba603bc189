#include "common/crc16.h"

#include <array>

namespace orv {
namespace {

struct CrcTables {
    std::array<uint8_t, 256> lo{};
    std::array<uint8_t, 256> hi{};
};

// The standard table of the reflected polynomial, split into its low and high bytes so the
// register can be stepped as two bytes.
constexpr CrcTables MakeTables() {
    CrcTables t;
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t v = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 1) ? static_cast<uint16_t>((v >> 1) ^ 0xA001) : static_cast<uint16_t>(v >> 1);
        t.lo[i] = static_cast<uint8_t>(v & 0xFF);
        t.hi[i] = static_cast<uint8_t>(v >> 8);
    }
    return t;
}

constexpr CrcTables kTables = MakeTables();
static_assert(kTables.lo[1] == 0xC1 && kTables.hi[1] == 0xC0, "CRC table entry 1 is 0xC0C1");
static_assert(kTables.lo[255] == 0x40 && kTables.hi[255] == 0x40, "CRC table entry 255 is 0x4040");

} // namespace

uint16_t CRC16(const uint8_t* data, uint32_t length, uint16_t init) {
    uint8_t lo = static_cast<uint8_t>(init & 0xFF);
    uint8_t hi = static_cast<uint8_t>(init >> 8);
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t index = data[i] ^ lo;
        lo = kTables.lo[index] ^ hi;
        hi = kTables.hi[index];
    }
    return static_cast<uint16_t>((hi << 8) | lo);
}

void AppendCrc(uint8_t* buffer, uint32_t count) {
    const uint16_t crc = CRC16(buffer, count, kCrcInit);
    buffer[count] = static_cast<uint8_t>(crc & 0xFF);
    buffer[count + 1] = static_cast<uint8_t>(crc >> 8);
}

} // namespace orv
