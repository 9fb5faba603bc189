#include "protocol/station.h"

#include "common/hex.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace orv {

const std::array<const char*, 7> FlashTypeNames{"Unknown", "W29C020", "AT29C020", "MA",
                                                "MC",      "MN",      "MU"};

namespace {

constexpr std::array<int, 5> kPortRegisters{4050, 4146, 4158, 4043, 4044};
constexpr std::array<int, 5> kSpeedCodes{1, 2, 3, 11, 12};

void CopyStation(uint8_t* frame, const std::string& stationHex) {
    if (stationHex.size() < 2)
        throw EFrameError("No station number to address: connect to the PLC first");
    frame[1] = static_cast<uint8_t>(stationHex[0]);
    frame[2] = static_cast<uint8_t>(stationHex[1]);
}

} // namespace

void AddChecksum(uint8_t* frame, size_t n) {
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += frame[i];
    char digits[2];
    WriteHexByte(digits, static_cast<uint8_t>(sum & 0xFF));
    frame[n] = static_cast<uint8_t>(digits[0]);
    frame[n + 1] = static_cast<uint8_t>(digits[1]);
}

std::string FormatStationHex(int station) {
    if (station < 0 || station > kMaxStation)
        throw EFrameError("Station number " + std::to_string(station) + " is outside 0 to 255");
    return HexText(static_cast<unsigned>(station));
}

std::optional<int> ParseStationNumber(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > kMaxStation) // also keeps any number of digits from overflowing
            return std::nullopt;
    }
    if (negative && value != 0)
        return std::nullopt;
    return value;
}

int StationNumberFromText(std::string_view text) {
    if (const auto station = ParseStationNumber(text))
        return *station;
    throw std::invalid_argument("Station NO. \"" + std::string(text) +
                                "\" is not a whole number from 0 to 255");
}

void CompleteStatusRequestFrame(StationState& s, const std::string& stationHex) {
    CopyStation(s.StatusRequestFrame.data(), stationHex);
    AddChecksum(s.StatusRequestFrame.data(), 5);
}

void CompleteStopPlcFrame(StationState& s) {
    CopyStation(s.StopPlcFrame.data(), s.StationHex);
    AddChecksum(s.StopPlcFrame.data(), 6);
}

void CompleteChangeModeFrame(StationState& s) {
    auto& f = s.ChangeModeFrame;
    CopyStation(f.data(), s.StationHex);
    f[0] = STX;
    f[3] = '3';
    f[4] = 'E';
    AddChecksum(f.data(), 5);
    f[7] = ETX;
}

void BuildRegisterWriteFrame(StationState& s, int station, int registerNumber, int value) {
    // Out of these ranges the printf fields grow and the frame would no longer be the 20 bytes
    // the PLC parses at fixed positions.
    if (station < 0 || station > kMaxStation)
        throw EFrameError("Station number " + std::to_string(station) + " is outside 0 to 255");
    if (registerNumber < 0 || registerNumber > 99999)
        throw EFrameError("Register number " + std::to_string(registerNumber) +
                          " does not fit in five digits");
    if (value < 0 || value > 0xFFFF)
        throw EFrameError("Register value " + std::to_string(value) +
                          " does not fit in four hex digits");
    char text[32];
    text[0] = static_cast<char>(STX);
    const int written = std::snprintf(text + 1, sizeof text - 1, "%02X4700%c%05d%04X",
                                      static_cast<unsigned>(station), 'R', registerNumber,
                                      static_cast<unsigned>(value));
    // The "00" after the command is a placeholder for the register count, always 1.
    text[5] = '0';
    text[6] = '1';
    const size_t length = 1 + static_cast<size_t>(written);
    uint8_t frame[32];
    for (size_t i = 0; i < length; ++i)
        frame[i] = static_cast<uint8_t>(text[i]);
    AddChecksum(frame, length);
    frame[length + 2] = ETX;
    s.DownloadSpeedFrame.assign(reinterpret_cast<const char*>(frame), length + 3);
}

int PortRegisterNumber(int32_t portRegisterCode) {
    if (portRegisterCode < 0 || portRegisterCode >= static_cast<int32_t>(kPortRegisters.size()))
        throw EFrameError("Port register code " + std::to_string(portRegisterCode) +
                          " has no register: it must be 0 to 4");
    return kPortRegisters[static_cast<size_t>(portRegisterCode)];
}

int SpeedCode(int listIndex) {
    if (listIndex < 0 || listIndex >= static_cast<int>(kSpeedCodes.size()))
        throw EFrameError("No speed code for speed list position " + std::to_string(listIndex) +
                          ": choose one of 9600, 19200, 38400, 57600, 115200");
    return kSpeedCodes[static_cast<size_t>(listIndex)];
}

int32_t ComputePortSettingWord(bool eightDataBits, int parityIndex) {
    constexpr std::array<int32_t, 3> kParityBits{0x20, 0xA0, 0x00};
    if (parityIndex < 0 || parityIndex >= static_cast<int>(kParityBits.size()))
        throw EFrameError("No parity at list position " + std::to_string(parityIndex) +
                          ": choose EVEN, ODD or NONE");
    return 0x5600 + (eightDataBits ? 0x40 : 0) + kParityBits[static_cast<size_t>(parityIndex)];
}

void BuildSpeedFrame(StationState& s, int station, int speedListIndex) {
    BuildRegisterWriteFrame(s, station, PortRegisterNumber(s.PortRegisterCode),
                            s.PortSettingWord + SpeedCode(speedListIndex));
}

std::string FlashTypeName(int code) {
    if (code < 0 || code >= static_cast<int>(FlashTypeNames.size()))
        return FlashTypeNames[0];
    return FlashTypeNames[static_cast<size_t>(code)];
}

bool IsStatusReply(const uint8_t* block, size_t length) {
    if (block == nullptr || length < kStatusReplyLength)
        return false;
    return block[0] == STX || block[65] == ETX;
}

std::optional<StatusReply> DecodeStatusReply(const uint8_t* block, size_t length) {
    if (!IsStatusReply(block, length))
        return std::nullopt;
    if (block[6] < '0' || block[6] > '4')
        return std::nullopt;
    const auto ch = [block](size_t i) { return static_cast<char>(block[i]); };
    const char station[2] = {ch(57), ch(58)};
    const auto stationValue = ParseHexByte(std::string_view(station, 2));
    if (!stationValue)
        return std::nullopt;
    StatusReply r;
    r.FlashType = FlashTypeName(block[33] - '0');
    r.ReleaseDate = {ch(29), ch(30), '/', '2', '0', ch(31), ch(32)};
    r.PortRegisterCode = block[6] - '0';
    r.StationHex.assign(station, 2);
    r.Station = *stationValue;
    r.Version = {ch(26), '.', ch(27), ch(28)};
    return r;
}

bool IsStationReply(const uint8_t* block, size_t length) {
    if (block == nullptr || length < 5 || block[0] != STX)
        return false;
    for (size_t i = 1; i < 5; ++i) {
        if (block[i] < 0x20 || block[i] > 0x7E)
            return false;
    }
    return true;
}

bool EchoesCommand(const uint8_t* block, size_t length, const uint8_t* request) {
    return IsStationReply(block, length) && std::equal(block + 1, block + 5, request + 1);
}

size_t StationReplyLength(const uint8_t* frame, size_t count) {
    if (frame == nullptr || count < 8 || frame[0] != STX || frame[count - 1] != ETX)
        return 0;
    return frame[3] == '0' && frame[4] == '0' ? kStatusReplyLength : kShortReplyLength;
}

bool IsWholeStationReply(const uint8_t* block, size_t length) {
    if (block == nullptr || length < kShortReplyLength || block[0] != STX ||
        block[length - 1] != ETX)
        return false;
    const auto printable = [](uint8_t c) { return c >= 0x20 && c <= 0x7E; };
    if (!std::all_of(block + 1, block + length - 1, printable))
        return false;
    // The checksum is the last thing before ETX: the sum of everything ahead of it.
    unsigned sum = 0;
    for (size_t i = 0; i + 3 < length; ++i)
        sum += block[i];
    char digits[2];
    WriteHexByte(digits, static_cast<uint8_t>(sum & 0xFF));
    return block[length - 3] == static_cast<uint8_t>(digits[0]) &&
           block[length - 2] == static_cast<uint8_t>(digits[1]);
}

} // namespace orv
