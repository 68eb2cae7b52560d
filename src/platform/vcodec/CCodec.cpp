#include "CCodec.h"

#include <cstring>

#include "CAvDecoder.h"
#include "CJpegDecoder.h"
#include "ipcamview/vcodec.h"

namespace ipcam {

const uint8_t CCodec::kAlignMarker[8] = {0x19, 0x74, 0x10, 0x10, 0x74, 0x19, 0x01, 0x01};

std::unique_ptr<CCodec> CCodec::Create(int32_t inFormat, int32_t pixelCode, int32_t width, int32_t height) {
    if (width <= 0 || width > VCODEC_MAX_DIMENSION || height == 0 || height < -VCODEC_MAX_DIMENSION ||
        height > VCODEC_MAX_DIMENSION)
        return nullptr;
    bool bottomUp = height > 0;
    if (inFormat == VCODEC_FORMAT_JPEG) {
        auto decoder = std::make_unique<CJpegDecoder>(pixelCode, bottomUp);
        if (!decoder->IsReady())
            return nullptr;
        return std::unique_ptr<CCodec>(new CCodec(std::move(decoder)));
    }
    if (inFormat == VCODEC_FORMAT_MPEG4 || inFormat == VCODEC_FORMAT_H264) {
        auto decoder = std::make_unique<CAvDecoder>(inFormat, pixelCode, bottomUp);
        if (!decoder->IsReady())
            return nullptr;
        return std::unique_ptr<CCodec>(new CCodec(std::move(decoder)));
    }
    return nullptr;
}

int32_t CCodec::Decode(const uint8_t* in, int32_t* inOutLength, uint8_t* out, int32_t* inOutSize) {
    int32_t length = *inOutLength;
    int32_t size = *inOutSize;
    if (length < 0 || (length > 0 && !in) || !out || size <= 0) {
        *inOutLength = 0;
        *inOutSize = 0;
        return 0;
    }
    // The viewer's picture buffers carry this marker when malloc gave an
    // address off a 16-byte boundary; the picture then begins after it.
    if ((reinterpret_cast<uintptr_t>(out) & 15) != 0 && size >= 8 &&
        memcmp(out, kAlignMarker, sizeof kAlignMarker) == 0) {
        out += 8;
        size -= 8;
    }
    std::lock_guard<std::mutex> lock(mLock);
    int32_t consumed = 0;
    int64_t pictureSize = 0;
    bool ok = mpDecoder->Decode(in, length, &consumed, out, size, &pictureSize);
    *inOutLength = consumed;
    *inOutSize = ok ? int32_t(pictureSize) : 0;
    return ok ? 1 : 0;
}

} // namespace ipcam
