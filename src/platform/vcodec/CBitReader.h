// Reads a bitstream header most significant bit first, the way libavcodec's
// header parsers read one: past the end of the bytes it reads zeros (the
// decoders' input padding), so a cut-short header reads as the decoder reads
// it rather than failing earlier.
//
// Threads: none of its own; one reader per caller.
#pragma once

#include <cstdint>

namespace ipcam {

class CBitReader {
public:
    CBitReader(const uint8_t* data, int64_t size, int64_t byteAt = 0)
        : mpData(data), mSize(size), mBit(byteAt * 8) {}

    // The next count bits (count <= 32) as an unsigned number.
    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i, ++mBit) {
            const int64_t byte = mBit >> 3;
            const uint32_t bit = byte < mSize ? (mpData[byte] >> (7 - (mBit & 7))) & 1u : 0u;
            value = (value << 1) | bit;
        }
        return value;
    }
    void Skip(int64_t count) { mBit += count; }
    // Bits read (or skipped) so far.
    int64_t Position() const { return mBit; }
    // Bits left before the end of the bytes (negative once past it).
    int64_t Left() const { return mSize * 8 - mBit; }

private:
    const uint8_t* mpData;
    int64_t mSize;
    int64_t mBit;
};

} // namespace ipcam
