#include "protocol/station.h"
#include "status_reply_builder.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace orv;

namespace {
std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) {
    return {p, p + n};
}
std::vector<uint8_t> Frame(const std::string& body) {
    std::vector<uint8_t> v{STX};
    v.insert(v.end(), body.begin(), body.end());
    v.push_back(ETX);
    return v;
}
StationState Station1() {
    StationState s;
    s.StationHex = "01";
    return s;
}
} // namespace

TEST(StationFrame, FixedFramesForStationOne) {
    StationState s = Station1();
    CompleteStatusRequestFrame(s, "01");
    EXPECT_EQ(Bytes(s.StatusRequestFrame.data(), 8),
              (std::vector<uint8_t>{0x02, 0x30, 0x31, 0x30, 0x30, 0x43, 0x33, 0x03}));
    CompleteStopPlcFrame(s);
    EXPECT_EQ(Bytes(s.StopPlcFrame.data(), 9),
              (std::vector<uint8_t>{0x02, 0x30, 0x31, 0x34, 0x31, 0x30, 0x46, 0x38, 0x03}));
    CompleteChangeModeFrame(s);
    EXPECT_EQ(Bytes(s.ChangeModeFrame.data(), 8),
              (std::vector<uint8_t>{0x02, 0x30, 0x31, 0x33, 0x45, 0x44, 0x42, 0x03}));

    // Completing again for another station replaces the station and the checksum only.
    s.StationHex = "1F";
    CompleteStopPlcFrame(s);
    EXPECT_EQ(Bytes(s.StopPlcFrame.data(), 9), Frame("1F4100E"));
}

TEST(StationFrame, MissingStationIsRefusedNotSentAsZeroBytes) {
    StationState s;
    EXPECT_THROW(CompleteChangeModeFrame(s), EFrameError);
    EXPECT_THROW(CompleteStopPlcFrame(s), EFrameError);
    EXPECT_THROW(CompleteStatusRequestFrame(s, "1"), EFrameError);
}

TEST(StationFrame, ChecksumKeepsLeadingZeroAndWrapsModulo256) {
    uint8_t f[4] = {0x07, 0x08, 0, 0};
    AddChecksum(f, 2);
    EXPECT_EQ(f[2], '0');
    EXPECT_EQ(f[3], 'F');
    uint8_t g[5] = {0xFF, 0xFF, 0x03, 0xEE, 0xEE};
    AddChecksum(g, 3); // 0x201 -> 01; nothing past n + 1 is touched
    EXPECT_EQ(g[3], '0');
    EXPECT_EQ(g[4], '1');
}

TEST(StationFrame, RegisterWriteFramesForStationOne) {
    StationState s = Station1();
    s.PortSettingWord = ComputePortSettingWord(true, 0);
    EXPECT_EQ(s.PortSettingWord, 0x5660);
    BuildSpeedFrame(s, 1, 4);
    EXPECT_EQ(s.DownloadSpeedFrame, std::string("\x02") + "014701R04050566C5E" + "\x03");
    BuildSpeedFrame(s, 1, 0);
    EXPECT_EQ(s.DownloadSpeedFrame, std::string("\x02") + "014701R040505661" + "4C\x03");
    EXPECT_EQ(s.DownloadSpeedFrame.size(), 20u);

    // Register by PortRegisterCode, and the other parts of the setting word.
    s.PortRegisterCode = 3;
    s.PortSettingWord = ComputePortSettingWord(false, 1);
    BuildSpeedFrame(s, 255, 3);
    EXPECT_EQ(s.DownloadSpeedFrame.substr(1, 16), "FF4701R0404356AB");
    EXPECT_EQ(ComputePortSettingWord(false, 2), 0x5600);
}

TEST(StationFrame, TablesAndTheirRefusals) {
    const int registers[] = {4050, 4146, 4158, 4043, 4044};
    for (int code = 0; code < 5; ++code)
        EXPECT_EQ(PortRegisterNumber(code), registers[code]);
    const int codes[] = {1, 2, 3, 11, 12};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(SpeedCode(i), codes[i]);
    EXPECT_THROW(PortRegisterNumber(5), EFrameError);
    EXPECT_THROW(PortRegisterNumber(-1), EFrameError);
    EXPECT_THROW(SpeedCode(5), EFrameError);
    EXPECT_THROW(SpeedCode(-1), EFrameError);
    EXPECT_THROW(ComputePortSettingWord(true, 3), EFrameError);

    // A refused build leaves the previous frame in place.
    StationState s = Station1();
    BuildSpeedFrame(s, 1, 4);
    const std::string before = s.DownloadSpeedFrame;
    s.PortRegisterCode = 7;
    EXPECT_THROW(BuildSpeedFrame(s, 1, 4), EFrameError);
    EXPECT_THROW(BuildRegisterWriteFrame(s, 256, 4050, 0x5660), EFrameError);
    EXPECT_THROW(BuildRegisterWriteFrame(s, 1, 100000, 0x5660), EFrameError);
    EXPECT_THROW(BuildRegisterWriteFrame(s, 1, 4050, 0x10000), EFrameError);
    EXPECT_EQ(s.DownloadSpeedFrame, before);
}

TEST(StationFrame, StationNumbersAndTheirText) {
    EXPECT_EQ(FormatStationHex(255), "FF");
    EXPECT_EQ(FormatStationHex(0), "00");
    EXPECT_EQ(FormatStationHex(10), "0A");
    EXPECT_EQ(FormatStationHex(31), "1F");
    EXPECT_THROW(FormatStationHex(256), EFrameError);
    EXPECT_THROW(FormatStationHex(-1), EFrameError);

    EXPECT_EQ(ParseStationNumber("1"), 1);
    EXPECT_EQ(ParseStationNumber(" 255 "), 255);
    EXPECT_EQ(ParseStationNumber("007"), 7);
    // Every decimal text of a value in range: leading zeros, a sign, blanks around it.
    EXPECT_EQ(ParseStationNumber("0007"), 7);
    EXPECT_EQ(ParseStationNumber("+7"), 7);
    EXPECT_EQ(ParseStationNumber("\t+0255 "), 255);
    EXPECT_EQ(ParseStationNumber("00000000000000000000012"), 12);
    EXPECT_EQ(ParseStationNumber("-0"), 0);
    for (const char* bad : {"", " ", "256", "0256", "-1", "1a", "0x1", "1.0", "+", "++1", "+ 1",
                            "1 2", "1000", "99999999999", "１"})
        EXPECT_FALSE(ParseStationNumber(bad)) << bad;
    EXPECT_THROW(StationNumberFromText("abc"), std::invalid_argument);
}

TEST(StatusReply, DecodesTheFieldsShown) {
    const auto block = fakes::MakeStatusReply("161", "0310", '2', '1', "0A");
    const auto r = DecodeStatusReply(block.data(), block.size());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Version, "1.61");
    EXPECT_EQ(r->ReleaseDate, "03/2010");
    EXPECT_EQ(r->FlashType, "AT29C020");
    EXPECT_EQ(r->PortRegisterCode, 1);
    EXPECT_EQ(r->StationHex, "0A");
    EXPECT_EQ(r->Station, 10);

    const auto r2 = DecodeStatusReply(fakes::MakeStatusReply("100", "0303", '0', '4', "1F").data(),
                                      kStatusReplyLength);
    ASSERT_TRUE(r2);
    EXPECT_EQ(r2->FlashType, "Unknown");
    EXPECT_EQ(r2->Station, 31);
    EXPECT_EQ(r2->PortRegisterCode, 4);
}

TEST(StatusReply, CodesWithoutATableRow) {
    for (char flash : {'7', '9', '/', 'A', '\xFF'}) {
        const auto block = fakes::MakeStatusReply("161", "0310", flash, '4');
        const auto r = DecodeStatusReply(block.data(), block.size());
        ASSERT_TRUE(r);
        EXPECT_EQ(r->FlashType, "Unknown");
    }
    EXPECT_EQ(FlashTypeName(6), "MU");
    EXPECT_EQ(FlashTypeName(7), "Unknown");
    EXPECT_EQ(FlashTypeName(-1), "Unknown");
    // A register code or a station that cannot be read makes the whole reply unreadable: the
    // update must not write to a register, or address a station, the PLC never named.
    for (char code : {'5', '/', 'A', '\0'}) {
        const auto block = fakes::MakeStatusReply("161", "0310", '1', code);
        EXPECT_FALSE(DecodeStatusReply(block.data(), block.size())) << code;
    }
    for (const char* station : {"0a", "G1", " 1", "\x00\x01"}) {
        const auto block = fakes::MakeStatusReply("161", "0310", '1', '0', std::string(station, 2));
        EXPECT_FALSE(DecodeStatusReply(block.data(), block.size())) << station;
    }
}

TEST(StatusReply, RecognitionAndShortBlocks) {
    auto block = fakes::MakeStatusReply();
    // Either end marker suffices.
    block[65] = 'x';
    EXPECT_TRUE(IsStatusReply(block.data(), block.size()));
    block[0] = 'x';
    EXPECT_FALSE(IsStatusReply(block.data(), block.size()));
    block[65] = ETX;
    EXPECT_TRUE(IsStatusReply(block.data(), block.size()));

    // Shorter than 66 bytes: not recognised even with STX in front; decoding reads within the
    // block only (ASan sees a read past a heap copy of the exact length).
    const auto full = fakes::MakeStatusReply();
    for (size_t n : {size_t{1}, size_t{8}, size_t{34}, size_t{65}}) {
        std::vector<uint8_t> shortBlock(n);
        std::memcpy(shortBlock.data(), full.data(), n);
        EXPECT_FALSE(DecodeStatusReply(shortBlock.data(), shortBlock.size())) << n;
    }
    EXPECT_FALSE(DecodeStatusReply(nullptr, 0));

    // A longer block (two replies in one read) still decodes at the fixed positions.
    std::vector<uint8_t> longBlock(2 * full.size());
    std::memcpy(longBlock.data(), full.data(), full.size());
    std::memcpy(longBlock.data() + full.size(), full.data(), full.size());
    const auto r = DecodeStatusReply(longBlock.data(), longBlock.size());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Version, "1.61");
}
