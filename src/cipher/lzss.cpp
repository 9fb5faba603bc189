#include "cipher/lzss.h"

#include <array>

namespace orv {

std::vector<uint8_t> LzssDecode(std::span<const uint8_t> input) {
    constexpr size_t kRing = 4096;
    std::array<uint8_t, kRing> ring{};
    size_t r = kRing - 18;
    std::vector<uint8_t> out;
    // At most 18 bytes come from two input bytes; reserve a fair guess, not the worst case.
    out.reserve(input.size() * 2);

    size_t in = 0;
    auto emit = [&](uint8_t b) {
        out.push_back(b);
        ring[r] = b;
        r = (r + 1) % kRing;
    };
    while (in < input.size()) {
        const unsigned flags = input[in++];
        for (int bit = 0; bit < 8; ++bit) {
            if (flags >> bit & 1) {
                if (in >= input.size())
                    return out;
                emit(input[in++]);
            } else {
                if (in + 1 >= input.size())
                    return out;
                const unsigned b1 = input[in++];
                const unsigned b2 = input[in++];
                const size_t p = b1 | (b2 >> 4) << 8;
                const unsigned length = (b2 & 15) + 3;
                // Fetch after each store: an overlapping copy repeats what it just wrote.
                for (unsigned k = 0; k < length; ++k)
                    emit(ring[(p + k) % kRing]);
            }
        }
    }
    return out;
}

} // namespace orv
