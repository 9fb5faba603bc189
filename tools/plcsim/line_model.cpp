#include "line_model.h"

#include <algorithm>
#include <bit>

namespace orv::plcsim {

std::string LineFormat::Text() const {
    std::string s;
    s += static_cast<char>('0' + dataBits);
    s += parity;
    s += static_cast<char>('0' + stopBits);
    return s;
}

std::optional<LineFormat> ParseFormat(std::string_view text, uint32_t speed) {
    if (text.size() != 3)
        return std::nullopt;
    LineFormat f;
    f.speed = speed;
    if (text[0] < '5' || text[0] > '8')
        return std::nullopt;
    f.dataBits = text[0] - '0';
    const char p = static_cast<char>(text[1] >= 'a' ? text[1] - 32 : text[1]);
    if (p != 'N' && p != 'E' && p != 'O' && p != 'M' && p != 'S')
        return std::nullopt;
    f.parity = p;
    if (text[2] != '1' && text[2] != '2')
        return std::nullopt;
    f.stopBits = text[2] - '0';
    return f;
}

namespace {

int ParityBit(uint8_t data, char parity) {
    const int ones = std::popcount(data) & 1;
    switch (parity) {
    case 'E':
        return ones;
    case 'O':
        return ones ^ 1;
    case 'M':
        return 1;
    default:
        return 0;
    }
}

} // namespace

std::vector<LineChar> CarryOverLine(std::span<const uint8_t> bytes, const LineFormat& from,
                                    const LineFormat& to) {
    std::vector<LineChar> out;
    const uint8_t toMask = static_cast<uint8_t>((1u << to.dataBits) - 1);
    if (from.speed == to.speed && from.dataBits == to.dataBits && from.parity == to.parity) {
        out.reserve(bytes.size());
        for (uint8_t b : bytes)
            out.push_back({static_cast<uint8_t>(b & toMask), false});
        return out;
    }
    // A line set to 0 bit/s is hung up: nothing gets through.
    if (from.speed == 0 || to.speed == 0 || bytes.empty())
        return out;

    const uint8_t fromMask = static_cast<uint8_t>((1u << from.dataBits) - 1);
    std::vector<uint8_t> bits;
    bits.reserve(bytes.size() * static_cast<size_t>(from.BitsPerChar()));
    for (uint8_t b : bytes) {
        const uint8_t data = b & fromMask;
        bits.push_back(0);
        for (int i = 0; i < from.dataBits; ++i)
            bits.push_back((data >> i) & 1);
        if (from.parity != 'N')
            bits.push_back(static_cast<uint8_t>(ParityBit(data, from.parity)));
        for (int i = 0; i < from.stopBits; ++i)
            bits.push_back(1);
    }

    // Integer time: a sender bit lasts 2 * to.speed units and a receiver bit 2 * from.speed,
    // so that both, and half a receiver bit, are whole numbers.
    const int64_t senderBit = 2 * static_cast<int64_t>(to.speed);
    const int64_t receiverBit = 2 * static_cast<int64_t>(from.speed);
    const int64_t n = static_cast<int64_t>(bits.size());
    const int64_t end = n * senderBit;
    auto level = [&](int64_t t) { return t / senderBit < n ? bits[t / senderBit] : 1; };

    int64_t cursor = 0;
    while (cursor < end) {
        // Hunt for the start bit: the first low level at or after the cursor.
        int64_t k = cursor / senderBit;
        while (k < n && bits[k] != 0)
            ++k;
        if (k >= n)
            break;
        const int64_t edge = std::max(cursor, k * senderBit);
        const int64_t mid = edge + receiverBit / 2;
        if (level(mid) != 0) {
            cursor = (k + 1) * senderBit; // too short to be a start bit
            continue;
        }
        uint8_t value = 0;
        int64_t t = mid;
        for (int i = 0; i < to.dataBits; ++i) {
            t += receiverBit;
            value |= static_cast<uint8_t>(level(t) << i);
        }
        bool error = false;
        if (to.parity != 'N') {
            t += receiverBit;
            error = level(t) != ParityBit(value, to.parity);
        }
        t += receiverBit;
        if (level(t) != 1)
            error = true; // framing error: no stop bit
        out.push_back({value, error});
        cursor = t;
    }
    return out;
}

std::vector<uint8_t> Values(const std::vector<LineChar>& chars) {
    std::vector<uint8_t> v;
    v.reserve(chars.size());
    for (const LineChar& c : chars)
        v.push_back(c.value);
    return v;
}

} // namespace orv::plcsim
