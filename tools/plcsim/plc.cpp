#include "plc.h"

#include "common/crc16.h"
#include "common/hex.h"

#include <algorithm>
#include <cstdio>

namespace orv::plcsim {

std::optional<uint32_t> SpeedOfCode(int code) {
    switch (code) {
    case 1:
        return 9600;
    case 2:
        return 19200;
    case 3:
        return 38400;
    case 0x0B:
        return 57600;
    case 0x0C:
        return 115200;
    default:
        return std::nullopt;
    }
}

std::optional<LineFormat> DecodePortSetting(unsigned value) {
    // 0x5600 | data bits (0x40: 8) | parity (0x20 even, 0xA0 odd, 0 none) | speed code.
    if ((value & 0xFF10) != 0x5600)
        return std::nullopt;
    const unsigned parity = value & 0xA0;
    if (parity == 0x80)
        return std::nullopt;
    const auto speed = SpeedOfCode(static_cast<int>(value & 0x0F));
    if (!speed)
        return std::nullopt;
    LineFormat f;
    f.speed = *speed;
    f.dataBits = (value & 0x40) ? 8 : 7;
    f.parity = parity == 0x20 ? 'E' : parity == 0xA0 ? 'O' : 'N';
    f.stopBits = 1;
    return f;
}

int PortRegister(int registerCode) {
    static constexpr int kRegisters[] = {4050, 4146, 4158, 4043, 4044};
    return registerCode >= 0 && registerCode < 5 ? kRegisters[registerCode] : -1;
}

namespace {

char DigitOf(uint8_t value) {
    // One character carries the field; a value that needs two cannot be shown.
    return value < 16 ? "0123456789ABCDEF"[value] : '?';
}

void AppendChecksumAndEtx(std::vector<uint8_t>& frame) {
    unsigned sum = 0;
    for (uint8_t b : frame)
        sum += b;
    char hex[2];
    WriteHexByte(hex, static_cast<uint8_t>(sum));
    frame.push_back(static_cast<uint8_t>(hex[0]));
    frame.push_back(static_cast<uint8_t>(hex[1]));
    frame.push_back(kEtx);
}

bool IsUpperHex(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

Plc::Plc(const PlcConfig& config)
    : config_(config), stationLine_(config.line), line_(config.line), running_(config.running),
      os_(config.os) {}

std::vector<uint8_t> Plc::ShortReply(const uint8_t* command, char code) const {
    std::vector<uint8_t> r{kStx};
    char st[2];
    WriteHexByte(st, config_.station);
    r.push_back(static_cast<uint8_t>(st[0]));
    r.push_back(static_cast<uint8_t>(st[1]));
    r.push_back(command[0]);
    r.push_back(command[1]);
    r.push_back(static_cast<uint8_t>(code));
    AppendChecksumAndEtx(r);
    return r;
}

std::vector<uint8_t> Plc::StatusReply() const {
    // 66 bytes; every position the client does not read holds "0" so that no byte is NUL.
    std::vector<uint8_t> r(63, '0');
    r[0] = kStx;
    char st[2];
    WriteHexByte(st, config_.station);
    r[1] = static_cast<uint8_t>(st[0]);
    r[2] = static_cast<uint8_t>(st[1]);
    r[3] = '0';
    r[4] = '0';
    r[5] = static_cast<uint8_t>(kAccepted);
    r[6] = static_cast<uint8_t>('0' + config_.registerCode);
    r[26] = static_cast<uint8_t>(os_.major);
    r[27] = static_cast<uint8_t>(os_.minor[0]);
    r[28] = static_cast<uint8_t>(os_.minor[1]);
    r[29] = static_cast<uint8_t>(os_.month[0]);
    r[30] = static_cast<uint8_t>(os_.month[1]);
    r[31] = static_cast<uint8_t>(os_.year[0]);
    r[32] = static_cast<uint8_t>(os_.year[1]);
    r[33] = static_cast<uint8_t>(os_.flash);
    r[57] = static_cast<uint8_t>(st[0]);
    r[58] = static_cast<uint8_t>(st[1]);
    AppendChecksumAndEtx(r);
    return r;
}

Outcome Plc::OnStationFrame(const RxFrame& frame) {
    Outcome out;
    const auto& b = frame.bytes;
    if (frame.lineError) {
        out.note = "garbled frame (line error), ignored";
        return out;
    }
    if (b.size() < 8 || b.front() != kStx || b.back() != kEtx) {
        out.note = "malformed frame, ignored";
        return out;
    }
    for (size_t i = 1; i + 1 < b.size(); ++i) {
        if (b[i] < 0x20 || b[i] > 0x7E) {
            out.note = "frame with a non-printable byte, ignored";
            return out;
        }
    }
    const size_t n = b.size();
    unsigned sum = 0;
    for (size_t i = 0; i + 3 < n; ++i)
        sum += b[i];
    const auto given = ParseHexByte(std::string_view(reinterpret_cast<const char*>(&b[n - 3]), 2));
    if (!given || *given != static_cast<uint8_t>(sum)) {
        out.note = "frame with a bad checksum, ignored";
        return out;
    }
    if (!IsUpperHex(b[1]) || !IsUpperHex(b[2])) {
        out.note = "frame with a malformed station, ignored";
        return out;
    }
    const auto station = ParseHexByte(std::string_view(reinterpret_cast<const char*>(&b[1]), 2));
    if (!station || *station != config_.station) {
        out.note = "frame for station " + std::string(b.begin() + 1, b.begin() + 3) + ", ignored";
        out.otherStation = true;
        return out;
    }
    const uint8_t* command = &b[3];
    const std::string code(b.begin() + 3, b.begin() + 5);
    const std::string data(b.begin() + 5, b.end() - 3);

    if (code == "00") {
        out.note = "status request";
        out.reply = StatusReply();
    } else if (code == "41") {
        if (data != "0") {
            out.note = "stop with data \"" + data + "\", refused";
            out.reply = ShortReply(command, kBadData);
        } else if (config_.refuseStop) {
            out.note = "stop, refused";
            out.reply = ShortReply(command, kStopRefused);
        } else {
            running_ = false;
            out.note = "stop: PLC stopped";
            out.reply = ShortReply(command, kAccepted);
        }
    } else if (code == "3E") {
        if (!data.empty()) {
            out.note = "change mode with data, refused";
            out.reply = ShortReply(command, kBadData);
        } else if (running_) {
            out.note = "change mode while running, refused";
            out.reply = ShortReply(command, kRefusedRunning);
        } else {
            out.note = "change mode: entering download mode";
            out.reply = ShortReply(command, kAccepted);
            LineFormat f = line_;
            f.dataBits = 8;
            f.parity = 'E';
            f.stopBits = 1;
            pendingLine_ = f;
            pendingDownload_ = true;
        }
    } else if (code == "47") {
        out = OnRegisterWrite(data, command);
    } else {
        out.note = "unknown command \"" + code + "\", refused";
        out.reply = ShortReply(command, kUnknownCommand);
    }
    return out;
}

Outcome Plc::OnRegisterWrite(const std::string& data, const uint8_t* command) {
    Outcome out;
    // "01" (one register), "R" and five decimal digits, four upper-case hex digits.
    bool wellFormed = data.size() == 12 && data.compare(0, 3, "01R") == 0;
    int reg = 0;
    unsigned value = 0;
    for (size_t i = 3; wellFormed && i < 8; ++i) {
        wellFormed = data[i] >= '0' && data[i] <= '9';
        reg = reg * 10 + (data[i] - '0');
    }
    for (size_t i = 8; wellFormed && i < 12; ++i) {
        wellFormed = IsUpperHex(static_cast<uint8_t>(data[i]));
        value = value * 16 + static_cast<unsigned>(HexDigitValue(data[i]));
    }
    if (!wellFormed) {
        out.note = "register write \"" + data + "\" malformed, refused";
        out.reply = ShortReply(command, kBadData);
        return out;
    }
    char regText[16];
    std::snprintf(regText, sizeof regText, "R%05d", reg);
    const std::string valueText = data.substr(8);
    if (reg != PortRegister(config_.registerCode)) {
        out.note = std::string("write ") + valueText + " to " + regText +
                   ", not the port register, refused";
        out.reply = ShortReply(command, kBadData);
        return out;
    }
    const auto f = DecodePortSetting(value);
    if (!f) {
        out.note = std::string("write ") + valueText + " to " + regText +
                   ": not a valid port setting, refused";
        out.reply = ShortReply(command, kBadData);
        return out;
    }
    stationLine_ = *f;
    pendingLine_ = *f;
    out.registerWrite = true;
    out.note = std::string("write ") + valueText + " to " + regText + ": port to " +
               std::to_string(f->speed) + " " + f->Text();
    out.reply = ShortReply(command, kAccepted);
    return out;
}

Outcome Plc::OnPageFrame(const RxFrame& frame, const std::function<bool()>& refuseGood) {
    Outcome out;
    out.pageFrame = true;
    static const std::vector<uint8_t> kNak{0x15, 0x15};
    const auto& b = frame.bytes;
    auto refuse = [&](const std::string& why) {
        out.note = "page frame refused: " + why;
        out.reply = kNak;
        return out;
    };
    if (b.size() != kPageFrameSize)
        return refuse("length " + std::to_string(b.size()));
    if (frame.lineError)
        return refuse("line error");
    const uint16_t crc = CRC16(b.data(), 264, kCrcInit);
    if (b[264] != (crc & 0xFF) || b[265] != (crc >> 8))
        return refuse("bad CRC");
    if (b[0] != config_.station)
        return refuse("station " + std::to_string(b[0]));
    if (b[1] != 0x0D || b[2] != 0x13)
        return refuse("bad frame type");
    if (b[3] != 0x01 && b[3] != 0xFF)
        return refuse("bad page mark " + HexByte(b[3]));
    if (b[6] != 0x01 || b[7] != 0x00)
        return refuse("bad data length");
    const int page = b[4] << 8 | b[5];
    const bool last = b[3] == 0xFF;
    const bool inOrder = page == 0 || page == expectedPage_ || page == lastPage_;
    if (!inOrder) {
        return refuse("page " + std::to_string(page) + " out of order (expected " +
                      std::to_string(expectedPage_) + ")");
    }
    out.goodPage = true;
    if (refuseGood && refuseGood())
        return refuse("page " + std::to_string(page) + " (injected fault)");

    if (page == 0) {
        flash_.clear();
        pagesReceived_ = 0;
        firstPage_ = b[8 + 23];
        verdict_.clear();
    }
    const size_t offset = static_cast<size_t>(page) * kPageSize;
    if (flash_.size() < offset + kPageSize)
        flash_.resize(offset + kPageSize, 0xFF);
    std::copy(b.begin() + 8, b.begin() + 264, flash_.begin() + static_cast<long>(offset));
    if (page != lastPage_)
        ++pagesReceived_;
    lastPage_ = page;
    out.pageWritten = true;
    expectedPage_ = page == 0 ? firstPage_ : page + 1;
    out.note = "page " + std::to_string(page) + (last ? " (last)" : "") + " written";
    out.reply = std::vector<uint8_t>{0x06, 0x0D};
    if (last) {
        // The image ends with this page: anything held beyond it is from an earlier attempt.
        flash_.resize(offset + kPageSize);
        Complete();
        out.downloadDone = true;
        pendingDownload_ = false;
        pendingLine_ = stationLine_;
    }
    return out;
}

void Plc::Complete() {
    const size_t pages = flash_.size() / kPageSize;
    std::string crcText;
    bool ok = true;
    if (flash_.size() > 0x8000) {
        const uint16_t computed =
            CRC16(flash_.data() + 0x8000, static_cast<uint32_t>(flash_.size() - 0x8000), kCrcInit);
        const uint16_t header = static_cast<uint16_t>(flash_[26] << 8 | flash_[27]);
        ok = computed == header;
        crcText = ok ? "image CRC ok"
                     : "image CRC MISMATCH (header " + HexByte(flash_[26]) + HexByte(flash_[27]) +
                           ", computed " + HexByte(static_cast<uint8_t>(computed >> 8)) +
                           HexByte(static_cast<uint8_t>(computed)) + ")";
    } else {
        crcText = "image CRC not checked (image ends before 0x8000)";
    }
    verdict_ = "download complete: " + std::to_string(pages) + " pages, " + crcText;
    // A PLC does not start an OS whose image CRC fails.
    if (ok && !config_.keepOs) {
        os_.major = DigitOf(flash_[13]);
        WriteHexByte(os_.minor, flash_[12]);
        WriteHexByte(os_.month, flash_[14]);
        WriteHexByte(os_.year, flash_[15]);
        os_.flash = DigitOf(flash_[25]);
        running_ = false;
    }
    expectedPage_ = 0;
    lastPage_ = -1;
}

void Plc::ReplyGone() {
    if (pendingLine_)
        line_ = *pendingLine_;
    if (pendingDownload_)
        download_ = *pendingDownload_;
    pendingLine_.reset();
    pendingDownload_.reset();
}

} // namespace orv::plcsim
