#include "os/dshow/PictureDraw.h"

#include <algorithm>
#include <cstring>

namespace os::dshow {

int32_t PixelCodeOf(REFGUID subtype) {
    if (subtype == MEDIASUBTYPE_RGB32)
        return kComposeBgra;
    if (subtype == MEDIASUBTYPE_RGB24)
        return kComposeBgr24;
    if (subtype == MEDIASUBTYPE_RGB565)
        return kComposeRgb565;
    if (subtype == MEDIASUBTYPE_IYUV)
        return kComposeI420;
    return 0;
}

int64_t PictureBytes(int32_t pixelCode, int32_t stride, int32_t height) {
    const int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    if (pixelCode == kComposeI420)
        return static_cast<int64_t>(stride) * rows + 2 * static_cast<int64_t>(stride / 2) * (rows / 2);
    return static_cast<int64_t>(stride) * rows;
}

bool PictureOfSample(const CMediaSample& sample, int32_t pixelCode, SComposePicture* picture) {
    if (pixelCode == 0 || sample.pData == nullptr || sample.lWidth <= 0 || sample.lHeight == 0 ||
        sample.lStride <= 0)
        return false;
    const int bytesPerPixel = pixelCode == kComposeBgr24    ? 3
                              : pixelCode == kComposeRgb565 ? 2
                              : pixelCode == kComposeI420   ? 1
                                                            : 4;
    if (sample.lStride < sample.lWidth * bytesPerPixel ||
        PictureBytes(pixelCode, sample.lStride, sample.lHeight) > sample.lLength)
        return false;
    picture->mpData = sample.pData;
    picture->mBytes = sample.lLength;
    picture->mPixelCode = pixelCode;
    picture->mWidth = sample.lWidth;
    picture->mHeight = sample.lHeight;
    picture->mStride = sample.lStride;
    return true;
}

RECT LetterboxRect(const RECT& dst, int32_t width, int32_t height) {
    const int64_t dstW = dst.right - dst.left;
    const int64_t dstH = dst.bottom - dst.top;
    if (width <= 0 || height <= 0 || dstW <= 0 || dstH <= 0)
        return dst;
    int64_t w = dstW;
    int64_t h = dstW * height / width;
    if (h > dstH) {
        h = dstH;
        w = dstH * width / height;
    }
    RECT r;
    r.left = dst.left + static_cast<LONG>((dstW - w) / 2);
    r.top = dst.top + static_cast<LONG>((dstH - h) / 2);
    r.right = r.left + static_cast<LONG>(w);
    r.bottom = r.top + static_cast<LONG>(h);
    return r;
}

void FillSurfaceRect(const SComposeSurface& surface, const RECT& rect, COLORREF colour) {
    const LONG left = std::max<LONG>(rect.left, 0);
    const LONG top = std::max<LONG>(rect.top, 0);
    const LONG right = std::min<LONG>(rect.right, surface.mWidth);
    const LONG bottom = std::min<LONG>(rect.bottom, surface.mHeight);
    if (left >= right || top >= bottom)
        return;
    const uint8_t px[4] = {GetBValue(colour), GetGValue(colour), GetRValue(colour), 255};
    for (LONG y = top; y < bottom; ++y) {
        uint8_t* out = surface.mpPixels + static_cast<int64_t>(y) * surface.mStride + left * 4;
        for (LONG x = left; x < right; ++x, out += 4)
            std::memcpy(out, px, 4);
    }
}

} // namespace os::dshow
