#include "serial/line_decoder.h"

namespace orv {

size_t TLineDecoder::Emit(uint8_t b, uint8_t* out, size_t k) const {
    if (IgnoreNull && b == 0)
        return k;
    out[k] = b;
    return k + 1;
}

size_t TLineDecoder::Decode(const uint8_t* in, size_t n, uint8_t* out, uint32_t& marks) {
    size_t k = 0;
    if (!Unmark && State != TState::Normal) {
        // Marking was switched off with an escape half read: what was held is plain data.
        k = Emit(0xFF, out, k);
        if (State == TState::Marked)
            k = Emit(0x00, out, k);
        State = TState::Normal;
    }
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = in[i];
        if (!Unmark) {
            k = Emit(b, out, k);
            continue;
        }
        switch (State) {
        case TState::Normal:
            if (b == 0xFF)
                State = TState::Escape;
            else
                k = Emit(b, out, k);
            break;
        case TState::Escape:
            if (b == 0xFF) {
                k = Emit(0xFF, out, k);
                State = TState::Normal;
            } else if (b == 0x00) {
                State = TState::Marked;
            } else {
                // Not something the driver makes: a lone 0xFF read before marking was on.
                k = Emit(0xFF, out, k);
                k = Emit(b, out, k);
                State = TState::Normal;
            }
            break;
        case TState::Marked:
            ++marks;
            k = Emit(Replace ? ReplacedChar : b, out, k);
            State = TState::Normal;
            break;
        }
    }
    return k;
}

} // namespace orv
