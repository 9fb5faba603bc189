#include "common/hex.h"

#include <gtest/gtest.h>

TEST(Hex, DigitValues) {
    EXPECT_EQ(orv::HexDigitValue('7'), 7);
    EXPECT_EQ(orv::HexDigitValue('0'), 0);
    EXPECT_EQ(orv::HexDigitValue('C'), 12);
    EXPECT_EQ(orv::HexDigitValue('F'), 15);
}

TEST(Hex, FormattingKeepsLeadingZeroAndUpperCase) {
    EXPECT_EQ(orv::HexByte(0x0F), "0F");
    EXPECT_EQ(orv::HexByte(0xAB), "AB");
    EXPECT_EQ(orv::HexText(10), "0A");
    EXPECT_EQ(orv::HexText(255), "FF");
    EXPECT_EQ(orv::HexText(0), "00");
    EXPECT_EQ(orv::HexText(0x1FF), "1FF");
    const uint8_t bytes[] = {0x02, 0x30, 0xFF};
    EXPECT_EQ(orv::HexDump(bytes, 3), "02 30 FF");
}

TEST(Hex, StrictParseRefusesLowerCaseAndNonDigits) {
    EXPECT_EQ(orv::ParseHexByte("1F"), 0x1F);
    EXPECT_EQ(orv::ParseHexByte("0A"), 0x0A);
    EXPECT_FALSE(orv::ParseHexByte("1f"));
    EXPECT_FALSE(orv::ParseHexByte("G0"));
    EXPECT_FALSE(orv::ParseHexByte("1"));
}
