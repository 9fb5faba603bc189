#pragma once
// CRC-16/MODBUS: reflected polynomial 0xA001, no final XOR; "123456789" gives 0x4B37.
// Page frames and ciphered image files carry it low byte first, so that the CRC over the data
// followed by its CRC is 0.

#include <cstdint>
#include <span>

namespace orv {

// Every caller of the protocol passes 0xFFFF as the initial value.
constexpr uint16_t kCrcInit = 0xFFFF;

uint16_t CRC16(const uint8_t* data, uint32_t length, uint16_t init);

inline uint16_t CRC16(std::span<const uint8_t> data, uint16_t init = kCrcInit) {
    return CRC16(data.data(), static_cast<uint32_t>(data.size()), init);
}

// Stores the CRC of buffer[0, count) at buffer[count] (low byte) and buffer[count + 1] (high);
// the buffer must hold count + 2 bytes.
void AppendCrc(uint8_t* buffer, uint32_t count);

} // namespace orv
