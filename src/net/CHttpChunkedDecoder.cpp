#include "net/CHttpChunkedDecoder.h"

#include "platform/CStrUtil.h"

#include <algorithm>
#include <cctype>
#include <cstring>

void CHttpChunkedDecoder::Reset() {
    mState = State::Size;
    mChunkRemaining = 0;
    mSizeLength = 0;
    mSizeText[0] = '\0';
    mSawDigit = false;
}

void CHttpChunkedDecoder::FinishSizeLine() {
    if (!mSawDigit) {
        // A blank line where a size was due: not the last chunk, just noise.
        mState = State::Size;
        return;
    }
    mSizeText[mSizeLength] = '\0';
    mChunkRemaining = static_cast<DWORD>(media_util::CStrUtil::ParseInt(mSizeText, 16));
    mSizeLength = 0;
    mSizeText[0] = '\0';
    mSawDigit = false;
    mState = mChunkRemaining > 0 ? State::Data : State::TrailerLine;
}

DWORD CHttpChunkedDecoder::Decode(const BYTE* raw, DWORD length, BYTE* out, DWORD* consumed) {
    DWORD written = 0;
    DWORD i = 0;
    while (i < length && mState != State::Done) {
        const BYTE c = raw[i];
        switch (mState) {
        case State::Size:
            ++i;
            if (c == '\r') {
                mState = State::SizeLF;
            } else if (c == '\n') {
                FinishSizeLine();
            } else if (!std::isxdigit(c)) {
                // A ";" extension, blanks, or garbage: the size (if any) is
                // what came before; the rest of the line is skipped.
                mState = State::Extension;
            } else if (c == '0' && mSizeLength == 0) {
                // Leading zeros take no room, so a zero-padded size still
                // fits the text.
                mSawDigit = true;
            } else {
                mSawDigit = true;
                if (mSizeLength < kSizeTextMax)
                    mSizeText[mSizeLength++] = static_cast<char>(c);
            }
            break;
        case State::Extension:
            ++i;
            if (c == '\r')
                mState = State::SizeLF;
            else if (c == '\n')
                FinishSizeLine();
            break;
        case State::SizeLF:
            if (c == '\n')
                ++i;
            FinishSizeLine();
            break;
        case State::Data: {
            const DWORD n = std::min(mChunkRemaining, length - i);
            std::memcpy(out + written, raw + i, n);
            written += n;
            i += n;
            mChunkRemaining -= n;
            if (mChunkRemaining == 0)
                mState = State::DataCR;
            break;
        }
        case State::DataCR:
            // A missing CR LF after the data is tolerated: the byte is taken
            // as the start of the next size line.
            if (c == '\r') {
                ++i;
                mState = State::DataLF;
            } else {
                if (c == '\n')
                    ++i;
                mState = State::Size;
            }
            break;
        case State::DataLF:
            if (c == '\n')
                ++i;
            mState = State::Size;
            break;
        case State::TrailerLine:
            ++i;
            if (c == '\r')
                mState = State::TrailerLF;
            else if (c == '\n')
                mState = State::Done;
            else
                mState = State::TrailerText;
            break;
        case State::TrailerText:
            ++i;
            if (c == '\n')
                mState = State::TrailerLine;
            break;
        case State::TrailerLF:
            // "0 CR LF CR" and anything but LF: the body has ended all the
            // same, and the byte is not the body's.
            if (c == '\n')
                ++i;
            mState = State::Done;
            break;
        case State::Done:
            break;
        }
    }
    if (consumed != nullptr)
        *consumed = i;
    return written;
}
