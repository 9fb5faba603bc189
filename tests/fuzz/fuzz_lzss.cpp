// The LZSS decoder on arbitrary bytes: never reads outside the input, and its output stays
// within what the input can announce.
#include "cipher/lzss.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto out = orv::LzssDecode({data, size});
    // A flag byte announces at most eight items; a two-byte pair yields at most 18 bytes.
    if (out.size() > (size + 8) * 9)
        std::abort();
    return 0;
}
