// Removes chunked transfer coding from a body that arrives in pieces of any
// size, a chunk-size line or a CR LF pair split anywhere between them.
//
// The body ends after the last chunk (size 0) and its trailer: header lines,
// if any, and the blank line. From then on the decoder takes no more bytes, so
// whatever follows on the connection is not body. Devices write the framing
// loosely, so the decoder is lenient where no byte of data is at stake:
// - a chunk-size line may carry leading zeros, upper- or lower-case digits,
//   blanks and a ";" extension of any length; only the first kSizeTextMax
//   significant digits are kept, and the size ends at the first byte that is
//   no hexadecimal digit;
// - a line that ends in a bare LF is a line;
// - a size line that does not begin with a digit (a stray blank line
//   between chunks, garbage) is skipped, so only a written "0" ends the body;
// - a missing CR LF after a chunk's data is tolerated: the byte is taken as
//   the start of the next size line.
//
// Not thread-safe; one per answer, driven by the thread that reads the body.
#pragma once

#include "os/kernel/Kernel.h"

class CHttpChunkedDecoder {
public:
    // Significant hexadecimal digits of a chunk size that are kept; more
    // cannot be a size any device sends (the value saturates).
    static constexpr int kSizeTextMax = 16;

    // Decodes raw[0, length): writes the data bytes to `out` (room for
    // `length` bytes is enough) and returns how many. *consumed, when not
    // null, gets the raw bytes taken, which is `length` unless the body ended
    // inside the piece.
    DWORD Decode(const BYTE* raw, DWORD length, BYTE* out, DWORD* consumed = nullptr);

    // The last chunk and its trailer have been read: the body is complete.
    bool IsDone() const { return mState == State::Done; }
    // Data bytes still expected in the current chunk.
    DWORD ChunkRemaining() const { return mChunkRemaining; }
    // Back to the start of a body.
    void Reset();

private:
    enum class State {
        Size,        // collecting the hex digits of a chunk-size line
        Extension,   // past the digits (";" extension or blanks), skipping to the line end
        SizeLF,      // CR of a size line seen, LF expected
        Data,        // mChunkRemaining data bytes to go
        DataCR,      // after the data, CR expected
        DataLF,      // after the data, LF expected
        TrailerLine, // at the start of a trailer line, or of the blank line that ends the body
        TrailerText, // inside a trailer header line, skipping to its end
        TrailerLF,   // CR of the final blank line seen, LF expected
        Done,        // the body has ended
    };

    void FinishSizeLine();

    State mState = State::Size;
    DWORD mChunkRemaining = 0;
    char mSizeText[kSizeTextMax + 1] = {};
    int mSizeLength = 0;    // significant digits kept in mSizeText
    bool mSawDigit = false; // the size line had a digit (leading zeros count)
};
