#pragma once
// Internal: the running state shared by deciphering and its inverse, so that both draw from
// the generator in exactly the same order.

#include "cipher/crypt_lib.h"

#include <algorithm>

namespace orv {

class CryptState {
public:
    CryptState(const CryptKeys& keys, int32_t addKey, int32_t multKey)
        : FK3(keys.K3), FAdd(static_cast<uint32_t>(addKey)), FMult(static_cast<uint32_t>(multKey)),
          FR(keys.K2) {
        FGen.State = keys.K1;
    }

    // The exchange partners of a block of n bytes, zero-based: all n draws come before any
    // byte of the block is touched.
    void DrawTable(uint16_t* table, size_t n) {
        const auto range = static_cast<uint32_t>(n - 1);
        for (size_t i = 0; i < n; ++i)
            table[i] = static_cast<uint16_t>(FGen.Draw(range));
    }

    // The mask of the next byte: the running key's bytes folded, and one draw.
    uint8_t Mask() {
        const uint8_t x = static_cast<uint8_t>(FR ^ FR >> 8 ^ FR >> 16 ^ FR >> 24);
        return static_cast<uint8_t>(x ^ FGen.Draw(255));
    }

    // Feeds the ciphered byte back into the running key.
    void Feed(uint8_t c) { FR = (c + FR + FK3) * FMult + FAdd; }

private:
    CryptGenerator FGen;
    uint32_t FK3;
    uint32_t FAdd;
    uint32_t FMult;
    uint32_t FR;
};

} // namespace orv
