#include "cipher/lzss.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

std::vector<uint8_t> Decode(std::vector<uint8_t> in) {
    return orv::LzssDecode(in);
}

TEST(Lzss, OverlappingCopyRepeatsTheByteJustWritten) {
    // Literal 'a' at 4078, then a copy of 5 from 4078 while writing at 4079.
    EXPECT_EQ(Decode({0x01, 0x61, 0xEE, 0xF2}), std::vector<uint8_t>(6, 0x61));
}

TEST(Lzss, UnwrittenRingReadsAsZero) {
    EXPECT_EQ(Decode({0x00, 0x00, 0x00}), std::vector<uint8_t>(3, 0x00));
}

TEST(Lzss, LongestCopyAndFlagGroups) {
    // b2 low nibble 15: 18 bytes.
    EXPECT_EQ(Decode({0x00, 0x00, 0x0F}).size(), 18u);
    // Eight literals, then a second flag byte announcing a copy of the first three of them.
    std::vector<uint8_t> in = {0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0x00, 0xEE, 0xF0};
    EXPECT_EQ(Decode(in), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3}));
    // Position wraps: 0xFFF + k runs on to 0, 1 ... (zero bytes there).
    EXPECT_EQ(Decode({0x01, 0x55, 0xFF, 0xF0}), (std::vector<uint8_t>{0x55, 0, 0, 0}));
}

TEST(Lzss, TruncatedInputStopsCleanly) {
    EXPECT_TRUE(Decode({}).empty());
    EXPECT_TRUE(Decode({0xFF}).empty());
    EXPECT_TRUE(Decode({0x00, 0x12}).empty()); // pair cut after its first byte
    EXPECT_EQ(Decode({0x03, 0x41, 0x42, 0x00}), (std::vector<uint8_t>{0x41, 0x42}));
}

} // namespace
