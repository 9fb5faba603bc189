// Undoing the driver's parity marking, on byte streams cut at every possible place.

#include "serial/line_decoder.h"

#include <gtest/gtest.h>
#include <vector>

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes DecodeInParts(TLineDecoder d, const Bytes& in, size_t cut, uint32_t& marks) {
    Bytes out;
    for (size_t start = 0; start < in.size(); start += cut) {
        const size_t n = std::min(cut, in.size() - start);
        uint8_t buf[64];
        const size_t k = d.Decode(in.data() + start, n, buf, marks);
        out.insert(out.end(), buf, buf + k);
    }
    return out;
}

// 1, a doubled 0xFF, 'x' with a parity error, 2, a break (marked zero), 3
const Bytes Marked = {1, 0xFF, 0xFF, 0xFF, 0x00, 'x', 2, 0xFF, 0x00, 0x00, 3};

TEST(LineDecoder, UnmarksAcrossEveryReadBoundary) {
    struct Case {
        bool ignoreNull, replace;
        Bytes expected;
    } cases[] = {
        {false, false, {1, 0xFF, 'x', 2, 0, 3}},
        {true, false, {1, 0xFF, 'x', 2, 3}},
        {false, true, {1, 0xFF, '?', 2, '?', 3}},
    };
    for (const Case& c : cases) {
        for (size_t cut = 1; cut <= Marked.size(); ++cut) {
            TLineDecoder d;
            d.Unmark = true;
            d.IgnoreNull = c.ignoreNull;
            d.Replace = c.replace;
            d.ReplacedChar = '?';
            uint32_t marks = 0;
            EXPECT_EQ(DecodeInParts(d, Marked, cut, marks), c.expected) << "cut " << cut;
            EXPECT_EQ(marks, 2u) << "cut " << cut;
        }
    }
}

TEST(LineDecoder, PassesBytesThroughWhenMarkingIsOff) {
    TLineDecoder d;
    uint32_t marks = 0;
    EXPECT_EQ(DecodeInParts(d, Marked, 3, marks), Marked);
    EXPECT_EQ(marks, 0u);

    // Marking switched off with half an escape held: the held byte is data.
    d.Unmark = true;
    uint8_t out[8];
    const uint8_t ff = 0xFF, five = 5;
    EXPECT_EQ(d.Decode(&ff, 1, out, marks), 0u);
    d.Unmark = false;
    ASSERT_EQ(d.Decode(&five, 1, out, marks), 2u);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 5);

    // A lone 0xFF before a plain byte (read before marking came on) is kept.
    TLineDecoder e;
    e.Unmark = true;
    const uint8_t lone[] = {0xFF, 'a'};
    ASSERT_EQ(e.Decode(lone, 2, out, marks), 2u);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 'a');
    EXPECT_EQ(marks, 0u);
}

} // namespace
} // namespace orv
