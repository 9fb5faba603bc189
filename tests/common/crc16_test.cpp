#include "common/crc16.h"

#include <gtest/gtest.h>
#include <random>
#include <string_view>
#include <vector>

namespace {

// Bit-at-a-time reference, independent of the table code.
uint16_t SlowCrc(const std::vector<uint8_t>& data, uint16_t crc) {
    for (uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

TEST(Crc16, CheckValueAndEmptyInput) {
    constexpr std::string_view check = "123456789";
    EXPECT_EQ(orv::CRC16(reinterpret_cast<const uint8_t*>(check.data()), 9, 0xFFFF), 0x4B37);
    EXPECT_EQ(orv::CRC16(nullptr, 0, 0xFFFF), 0xFFFF);
    EXPECT_EQ(orv::CRC16(nullptr, 0, 0x1234), 0x1234);
}

TEST(Crc16, MatchesBitwiseReferenceAndAppendedCrcGivesZero) {
    std::mt19937 rng(7);
    for (size_t len : {1u, 2u, 255u, 256u, 264u, 4097u}) {
        std::vector<uint8_t> data(len + 2);
        for (size_t i = 0; i < len; ++i)
            data[i] = static_cast<uint8_t>(rng());
        std::vector<uint8_t> body(data.begin(), data.begin() + static_cast<long>(len));
        const uint16_t crc = orv::CRC16(data.data(), static_cast<uint32_t>(len), 0xFFFF);
        EXPECT_EQ(crc, SlowCrc(body, 0xFFFF)) << len;
        orv::AppendCrc(data.data(), static_cast<uint32_t>(len));
        EXPECT_EQ(data[len], crc & 0xFF);
        EXPECT_EQ(data[len + 1], crc >> 8);
        EXPECT_EQ(orv::CRC16(data, 0xFFFF), 0) << len;
    }
}

} // namespace
