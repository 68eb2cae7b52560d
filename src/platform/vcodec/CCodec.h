// What a vcodec handle stands for: one decoder and the lock that keeps a
// handle to one caller at a time.
#pragma once
#include <memory>
#include <mutex>

#include "IVideoDecoder.h"

namespace ipcam {

class CCodec {
public:
    // Null when the formats or the size are not accepted or the decoder could
    // not be set up.
    static std::unique_ptr<CCodec> Create(int32_t inFormat, int32_t pixelCode, int32_t width, int32_t height);

    // The C entry point's Decode, after its handle has been looked up.
    int32_t Decode(const uint8_t* in, int32_t* inOutLength, uint8_t* out, int32_t* inOutSize);

    // The bytes a caller may put first in a buffer that is not 16-byte aligned.
    static const uint8_t kAlignMarker[8];

private:
    explicit CCodec(std::unique_ptr<IVideoDecoder> decoder) : mpDecoder(std::move(decoder)) {}
    std::mutex mLock; // held for a whole Decode
    std::unique_ptr<IVideoDecoder> mpDecoder;
};

} // namespace ipcam
