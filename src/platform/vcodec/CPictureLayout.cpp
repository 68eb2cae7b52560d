#include "CPictureLayout.h"

namespace ipcam {

int CPictureLayout::BitsPerPixel(int32_t pixelCode) {
    switch (pixelCode) {
    case kNone:
        return 0;
    case kBgr24:
        return 24;
    case kRgb565:
        return 16;
    case kI420:
        return 12;
    default:
        return 32;
    }
}

int64_t CPictureLayout::Stride(int32_t pixelCode, int32_t width) {
    if (width <= 0)
        return 0;
    int64_t bytes = (int64_t(width) * BitsPerPixel(pixelCode) + 7) / 8;
    return (bytes + 3) & ~int64_t(3);
}

int64_t CPictureLayout::PictureSize(int32_t pixelCode, int32_t width, int32_t height) {
    int64_t rows = height < 0 ? -int64_t(height) : int64_t(height);
    return Stride(pixelCode, width) * rows;
}

CPictureLayout::CPictureLayout(int32_t pixelCode, int32_t width, int32_t height, bool bottomUp, uint8_t* out)
    : mPixelCode(pixelCode), mWidth(width), mHeight(height), mSize(PictureSize(pixelCode, width, height)) {
    if (mPixelCode == kI420) {
        // Tight planes: Y, then U and V at half size rounded down, so that the
        // three fit in the stride x height the caller sized the buffer for.
        int planeWidth[3] = {width, width / 2, width / 2};
        int planeHeight[3] = {height, height / 2, height / 2};
        uint8_t* p = out;
        for (int i = 0; i < 3; ++i) {
            mpPlanes[i] =
                bottomUp && planeHeight[i] > 0 ? p + int64_t(planeHeight[i] - 1) * planeWidth[i] : p;
            mStrides[i] = bottomUp ? -planeWidth[i] : planeWidth[i];
            p += int64_t(planeWidth[i]) * planeHeight[i];
        }
        return;
    }
    int stride = int(Stride(pixelCode, width));
    mpPlanes[0] = bottomUp ? out + int64_t(height - 1) * stride : out;
    mStrides[0] = bottomUp ? -stride : stride;
}

AVPixelFormat CPictureLayout::Format() const {
    switch (mPixelCode) {
    case kBgr24:
        return AV_PIX_FMT_BGR24;
    case kRgb565:
        return AV_PIX_FMT_RGB565LE;
    case kI420:
        return AV_PIX_FMT_YUV420P;
    case kNone:
        return AV_PIX_FMT_NONE;
    default:
        return AV_PIX_FMT_BGRA;
    }
}

} // namespace ipcam
