#pragma once
// Turns the bytes the terminal driver hands the reader into the bytes that were on the line.
// With parity checking on (INPCK+PARMRK) the driver doubles every received 0xFF and puts
// 0xFF 0x00 in front of a byte received with a parity or framing error (a break reads as
// 0xFF 0x00 0x00). Undone here, across read boundaries: a doubled 0xFF becomes one 0xFF; a
// marked byte is counted as a line error and stays in the data as it was received (as the
// line delivered it), or becomes the replacement character when one is set. NUL bytes are
// dropped afterwards when asked to.

#include <cstddef>
#include <cstdint>

namespace orv {

class TLineDecoder {
public:
    bool Unmark = false;
    bool IgnoreNull = false;
    bool Replace = false;
    uint8_t ReplacedChar = 0;

    // out must have room for n + 2 bytes. Returns the count written to out; marks is
    // increased by the number of marked (bad) bytes found.
    size_t Decode(const uint8_t* in, size_t n, uint8_t* out, uint32_t& marks);

private:
    enum class TState { Normal, Escape, Marked };
    size_t Emit(uint8_t b, uint8_t* out, size_t k) const;
    TState State = TState::Normal;
};

} // namespace orv
