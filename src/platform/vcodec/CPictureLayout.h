// Where the pixels of one output picture go in the caller's buffer: the pixel
// code, the rows' stride and order, and for I420 the three planes.
#pragma once
#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace ipcam {

class CPictureLayout {
public:
    // Bits per pixel of an output pixel code: 0 -> 0, 100 -> 24, 120 -> 16,
    // 130 -> 12, any other -> 32.
    static int BitsPerPixel(int32_t pixelCode);
    // ceil(width * bits / 8) rounded up to a multiple of 4 bytes; 0 for width <= 0.
    static int64_t Stride(int32_t pixelCode, int32_t width);
    // stride x |height| bytes.
    static int64_t PictureSize(int32_t pixelCode, int32_t width, int32_t height);

    // Lays a width x height picture (height > 0) over out. bottomUp stores the
    // rows (of each plane) last first.
    CPictureLayout(int32_t pixelCode, int32_t width, int32_t height, bool bottomUp, uint8_t* out);

    bool IsPlanar() const { return mPixelCode == kI420; }
    int32_t PixelCode() const { return mPixelCode; }
    // The pixel format the rows hold, as libswscale names it.
    AVPixelFormat Format() const;
    int32_t Width() const { return mWidth; }
    int32_t Height() const { return mHeight; }
    int64_t Size() const { return mSize; }
    // Pointers to the top row of each plane and the step to the next row down
    // (negative for bottom-up). Packed pictures use plane 0 only.
    uint8_t* const* Planes() const { return mpPlanes; }
    const int* Strides() const { return mStrides; }

    static constexpr int32_t kBgr24 = 100;
    static constexpr int32_t kRgb565 = 120;
    static constexpr int32_t kI420 = 130;
    static constexpr int32_t kNone = 0;

private:
    int32_t mPixelCode;
    int32_t mWidth;
    int32_t mHeight;
    int64_t mSize;
    uint8_t* mpPlanes[4] = {};
    int mStrides[4] = {};
};

} // namespace ipcam
