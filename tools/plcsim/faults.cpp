#include "faults.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace orv::plcsim {

bool ParseInt(std::string_view text, long long lo, long long hi, long long& out) {
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && p == end && out >= lo && out <= hi;
}

namespace {

bool ParseRate(std::string_view text, FaultRate& rate) {
    long long n = 0;
    if (text.size() > 1 && text.back() == 'x') {
        if (!ParseInt(text.substr(0, text.size() - 1), 1, 1000000, n))
            return false;
        rate.count = static_cast<int>(n);
        rate.probability = 0;
        return true;
    }
    // std::from_chars for double is not in every standard library we build with.
    const std::string s(text);
    char* end = nullptr;
    const double p = std::strtod(s.c_str(), &end);
    if (s.empty() || end != s.c_str() + s.size() || !std::isfinite(p) || p < 0 || p > 1)
        return false;
    rate.probability = p;
    rate.count = 0;
    return true;
}

} // namespace

std::string ParseFaults(std::string_view spec, Faults& faults) {
    if (spec.empty())
        return "empty fault spec";
    size_t start = 0;
    while (start <= spec.size()) {
        size_t comma = spec.find(',', start);
        if (comma == std::string_view::npos)
            comma = spec.size();
        const std::string_view item = spec.substr(start, comma - start);
        start = comma + 1;
        const size_t colon = item.find(':');
        const std::string_view kind = item.substr(0, colon);
        const std::string_view value =
            colon == std::string_view::npos ? std::string_view() : item.substr(colon + 1);
        const bool hasValue = colon != std::string_view::npos;
        long long n = 0;
        if (kind == "silent" && !hasValue) {
            faults.silent = true;
        } else if (hasValue && ((kind == "drop" && ParseRate(value, faults.drop)) ||
                                (kind == "garble" && ParseRate(value, faults.garble)) ||
                                (kind == "nak" && ParseRate(value, faults.nak)))) {
            // the rate is read into its place
        } else if (kind == "nak-from" && hasValue && ParseInt(value, 0, 65535, n)) {
            faults.nakFrom = static_cast<int>(n);
        } else if (kind == "delay" && hasValue && ParseInt(value, 0, 600000, n)) {
            faults.delayMs = static_cast<int>(n);
        } else if (kind == "vanish-after" && hasValue && ParseInt(value, 0, 1000000, n)) {
            faults.vanishAfter = static_cast<int>(n);
        } else if (kind == "drop-ack" && hasValue && ParseInt(value, 0, 65535, n)) {
            faults.dropAck = static_cast<int>(n);
        } else if (kind == "ack-split" && hasValue && ParseInt(value, 0, 60000, n)) {
            faults.ackSplitMs = static_cast<int>(n);
        } else {
            return "bad fault \"" + std::string(item) + "\"";
        }
        if (comma == spec.size())
            break;
    }
    return {};
}

bool FaultDice::Roll(FaultRate& rate) {
    if (rate.count > 0) {
        --rate.count;
        return true;
    }
    if (rate.probability <= 0)
        return false;
    // 53 random bits as a fraction in [0, 1), the same on every standard library.
    const double u = static_cast<double>(rng_() >> 11) * 0x1.0p-53;
    return u < rate.probability;
}

size_t FaultDice::Pick(size_t n) {
    return n ? static_cast<size_t>(rng_() % n) : 0;
}

uint8_t FaultDice::Byte() {
    return static_cast<uint8_t>(rng_());
}

Struck FaultInjector::Strike(std::vector<uint8_t>& reply, int ackedPage) {
    Struck s;
    s.lost = dice_.Roll(faults_.drop);
    if (ackedPage >= 0 && ackedPage == faults_.dropAck) {
        s.lost = true;
        faults_.dropAck = -1;
    }
    if (!s.lost && !reply.empty() && dice_.Roll(faults_.garble)) {
        // A damaged byte, never a NUL: the program's port drops those.
        const size_t i = dice_.Pick(reply.size());
        uint8_t mask = 0;
        do {
            mask = dice_.Byte();
        } while (mask == 0 || (reply[i] ^ mask) == 0);
        reply[i] ^= mask;
        s.garbled = true;
    }
    if (ackedPage >= 0 && faults_.ackSplitMs >= 0 && reply.size() >= 2) {
        // A line end after the acknowledgement, as some PLCs send, late enough to come apart.
        reply.insert(reply.begin() + 2, 0x0A);
        s.splitAt = 2;
        s.pauseSeconds = faults_.ackSplitMs / 1000.0;
    }
    return s;
}

} // namespace orv::plcsim
