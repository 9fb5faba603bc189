#pragma once
// The ASCII station frame: STX, station (two hex digits), command (two characters), data,
// checksum (two hex digits of the byte sum), ETX. Plain C++ on byte buffers.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orv {

constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;

// A frame that cannot be built (a register code or speed without a table row).
class EFrameError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Sum of frame[0, n) modulo 256 as two upper-case hex digits at frame[n] and frame[n + 1].
void AddChecksum(uint8_t* frame, size_t n);

// Station numbers are 0..255: the frames carry exactly two hex digits, the page frames a byte.
constexpr int kMaxStation = 255;

// "%02X" of a station number 0..255: two upper-case hex digits ("0A" for 10). Throws
// EFrameError outside 0..255.
std::string FormatStationHex(int station);

// The station field's text as a station number: decimal digits whose value is 0..255, with
// any leading zeros, an optional sign and blanks around them ("0007", "+7", " 12 "). Nothing
// for anything else.
std::optional<int> ParseStationNumber(std::string_view text);
// The same, throwing std::invalid_argument with a message for the operator.
int StationNumberFromText(std::string_view text);

// The station protocol's program-wide state, one object for the run.
struct StationState {
    std::string StationHex; // two upper-case hex digits; empty at start
    std::array<uint8_t, 8> StatusRequestFrame{STX, 0, 0, '0', '0', 0, 0, ETX};
    std::array<uint8_t, 9> StopPlcFrame{STX, 0, 0, '4', '1', '0', 0, 0, ETX};
    std::array<uint8_t, 8> ChangeModeFrame{};
    std::string DownloadSpeedFrame; // the last register-write frame; sent whole
    int32_t PortSettingWord = 0;
    int32_t PortRegisterCode = 0;
};

// Each completes its frame right before its first send, as the sender does. A station text
// shorter than two characters throws EFrameError.
void CompleteStatusRequestFrame(StationState& s, const std::string& stationHex);
void CompleteStopPlcFrame(StationState& s);
void CompleteChangeModeFrame(StationState& s);

// "%02X4700%c%05d%04X" with the count "01" in place of the "00", checksum and ETX, into
// DownloadSpeedFrame: always 20 bytes. Throws EFrameError for a station outside 0..255, a
// register number outside 0..99999 or a value outside 0..0xFFFF, which would not fit.
void BuildRegisterWriteFrame(StationState& s, int station, int registerNumber, int value);

// The register that holds the PLC port's line settings, by PortRegisterCode 0..4
// (4050, 4146, 4158, 4043, 4044); throws EFrameError outside.
int PortRegisterNumber(int32_t portRegisterCode);

// The five-entry speed list shared by the connect and speed dialogs.
constexpr std::array<int, 5> kSpeedList{9600, 19200, 38400, 57600, 115200};
// Speed code by list position (1, 2, 3, 11, 12); throws EFrameError outside 0..4.
int SpeedCode(int listIndex);

// 0x5600, plus 0x40 for 8 data bits, plus 0x20 EVEN, 0xA0 ODD, 0x00 NONE by parity position
// (0 EVEN, 1 ODD, 2 NONE); throws EFrameError for any other position.
int32_t ComputePortSettingWord(bool eightDataBits, int parityIndex);

// "%02X4700..." builder for the download-speed or restore-speed command: station, register of
// PortRegisterCode, PortSettingWord + speed code of the list position.
void BuildSpeedFrame(StationState& s, int station, int speedListIndex);

// Flash type names by code 0..6; anything else shows "Unknown".
extern const std::array<const char*, 7> FlashTypeNames;
std::string FlashTypeName(int code);

// The fields of a recognised 66-byte status reply, as the status window shows them.
struct StatusReply {
    std::string Version;          // "1.61": position 26, ".", positions 27 and 28
    std::string ReleaseDate;      // "03/2010": positions 29, 30, "/20", 31, 32
    std::string FlashType;        // FlashTypeNames of position 33; "Unknown" outside "0".."6"
    int32_t PortRegisterCode = 0; // position 6 minus 48: 0..4
    std::string StationHex;       // positions 57 and 58: two upper-case hex digits
    int Station = 0;              // their value 0..255
};

constexpr size_t kStatusReplyLength = 66;

// A block is recognised when it starts with STX or holds ETX at position 65; one shorter
// than 66 bytes is never read past its end and counts as not recognised.
bool IsStatusReply(const uint8_t* block, size_t length);
// Nothing for a block that is not recognised, and for one whose register-code digit or
// station digits cannot be read: the update would otherwise write to a register, or address
// a station, that the PLC never named.
std::optional<StatusReply> DecodeStatusReply(const uint8_t* block, size_t length);

// A reply in the station envelope: STX, then the station and the command echo as printable
// characters at positions 1 to 4. A page acknowledgement (CR second) never is one.
bool IsStationReply(const uint8_t* block, size_t length);
// A station reply that echoes the station and the command of `request` (positions 1 to 4), a
// station frame as sent: on a line with several PLCs, another station's late answer to the
// same command is not this one's.
bool EchoesCommand(const uint8_t* block, size_t length, const uint8_t* request);

// The envelope of the shortest station reply: STX, station, command echo, error code,
// checksum, ETX.
constexpr size_t kShortReplyLength = 9;
// The whole reply a station frame (STX first, ETX last) asks for ends with ETX after at least
// this many bytes: the status reply for the status request, the short envelope for the rest.
// 0 for anything that is not a station frame.
size_t StationReplyLength(const uint8_t* frame, size_t count);
// Exactly one whole station reply and nothing else: STX, printable characters, a checksum
// that adds up, ETX last. What a cut at ETX may be trusted as.
bool IsWholeStationReply(const uint8_t* block, size_t length);

} // namespace orv
