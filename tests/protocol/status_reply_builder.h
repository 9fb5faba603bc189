#pragma once
// A 66-byte status reply as a PLC sends it, with the fields the program reads.

#include "protocol/station.h"

#include <array>
#include <cstdint>
#include <string>

namespace orv::fakes {

inline std::array<uint8_t, kStatusReplyLength>
MakeStatusReply(const std::string& version = "161", const std::string& monthYear = "0310",
                char flash = '2', char portRegister = '1', const std::string& station = "0A") {
    std::array<uint8_t, kStatusReplyLength> r{};
    r.fill('5');
    r[0] = STX;
    r[1] = '0';
    r[2] = '1';
    r[3] = '0';
    r[4] = '0';
    r[5] = '0';
    r[6] = static_cast<uint8_t>(portRegister);
    for (size_t i = 0; i < 3; ++i)
        r[26 + i] = static_cast<uint8_t>(version.at(i));
    for (size_t i = 0; i < 4; ++i)
        r[29 + i] = static_cast<uint8_t>(monthYear.at(i));
    r[33] = static_cast<uint8_t>(flash);
    r[57] = static_cast<uint8_t>(station.at(0));
    r[58] = static_cast<uint8_t>(station.at(1));
    AddChecksum(r.data(), 63);
    r[65] = ETX;
    return r;
}

} // namespace orv::fakes
