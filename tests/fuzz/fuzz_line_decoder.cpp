// The reader's undoing of the driver's parity marking runs on whatever the line delivers. The
// first byte picks the decoder's options, the rest is fed in two reads split where the second
// byte says, so escapes that straddle a read boundary are covered.
#include "serial/line_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    orv::TLineDecoder decoder;
    decoder.Unmark = data[0] & 1;
    decoder.IgnoreNull = data[0] & 2;
    decoder.Replace = data[0] & 4;
    decoder.ReplacedChar = data[0] & 8 ? 0x3F : 0;
    const uint8_t* body = data + 2;
    const size_t n = size - 2;
    const size_t split = n ? data[1] % (n + 1) : 0;

    std::vector<uint8_t> out(n + 4);
    uint32_t marks = 0;
    size_t produced = decoder.Decode(body, split, out.data(), marks);
    if (produced > split + 2)
        std::abort();
    std::vector<uint8_t> out2(n - split + 4);
    const size_t produced2 = decoder.Decode(body + split, n - split, out2.data(), marks);
    if (produced2 > n - split + 2)
        std::abort();
    produced += produced2;
    // Unmarking only ever removes bytes, and without it nothing but NULs may go.
    if (produced > n + 2 || marks > n)
        std::abort();
    if (!decoder.Unmark && !decoder.IgnoreNull && produced != n)
        std::abort();
    return 0;
}
