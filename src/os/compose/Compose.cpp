#include "os/compose/Compose.h"

#include <algorithm>
#include <cstring>

#include "os/compose/CComposeContext.h"
#include "os/compose/CKeyedOverlay.h"

namespace os {

namespace {

constexpr uint32_t kBlack = 0xFF000000u;

bool IsEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

RECT Intersect(const RECT& a, const RECT& b) {
    return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

int64_t PictureBytesNeeded(const SComposePicture& picture, int64_t rows) {
    if (picture.mPixelCode == kComposeI420) {
        const int64_t luma = picture.mStride ? picture.mStride : picture.mWidth;
        return luma * rows + 2 * (luma / 2) * (rows / 2);
    }
    const int bits = picture.mPixelCode == kComposeBgr24    ? 24
                     : picture.mPixelCode == kComposeRgb565 ? 16
                                                            : 32;
    const int64_t tight = (int64_t(picture.mWidth) * bits + 7) / 8;
    const int64_t stride = picture.mStride ? picture.mStride : (tight + 3) / 4 * 4;
    if (stride < tight)
        return -1;
    return stride * rows;
}

bool IsValid(const SComposePicture& picture) {
    const int64_t rows = picture.mHeight < 0 ? -int64_t(picture.mHeight) : picture.mHeight;
    if (!picture.mpData || picture.mPixelCode == 0 || picture.mWidth <= 0 ||
        picture.mWidth > kComposeMaxDimension || rows == 0 || rows > kComposeMaxDimension ||
        picture.mStride < 0)
        return false;
    if (picture.mPixelCode == kComposeI420 && picture.mStride != 0 && picture.mStride < picture.mWidth)
        return false;
    const int64_t needed = PictureBytesNeeded(picture, rows);
    return needed > 0 && picture.mBytes >= needed;
}

bool IsValid(const SComposeSurface& surface) {
    return surface.mpPixels && surface.mWidth > 0 && surface.mHeight > 0 &&
           surface.mWidth <= kComposeMaxDimension && surface.mHeight <= kComposeMaxDimension &&
           surface.mStride >= surface.mWidth * 4 && surface.mStride % 4 == 0 &&
           reinterpret_cast<uintptr_t>(surface.mpPixels) % 4 == 0;
}

// The largest rectangle of the source's shape centred in destination.
RECT Letterbox(const RECT& destination, int64_t width, int64_t height) {
    const int64_t dw = destination.right - destination.left;
    const int64_t dh = destination.bottom - destination.top;
    int64_t w = dw;
    int64_t h = dh;
    if (width * dh > dw * height)
        h = std::clamp<int64_t>((2 * dw * height + width) / (2 * width), 1, dh);
    else
        w = std::clamp<int64_t>((2 * dh * width + height) / (2 * height), 1, dw);
    const LONG left = LONG(destination.left + (dw - w) / 2);
    const LONG top = LONG(destination.top + (dh - h) / 2);
    return RECT{left, top, LONG(left + w), LONG(top + h)};
}

void Fill(const SComposeSurface& surface, const RECT& r, uint32_t colour) {
    if (IsEmpty(r))
        return;
    for (LONG y = r.top; y < r.bottom; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(surface.mpPixels + int64_t(y) * surface.mStride);
        std::fill(row + r.left, row + r.right, colour);
    }
}

// Paints destination black around the picture's rectangle.
void FillBars(const SComposeSurface& surface, const RECT& destination, const RECT& picture) {
    Fill(surface, RECT{destination.left, destination.top, destination.right, picture.top}, kBlack);
    Fill(surface, RECT{destination.left, picture.bottom, destination.right, destination.bottom}, kBlack);
    Fill(surface, RECT{destination.left, picture.top, picture.left, picture.bottom}, kBlack);
    Fill(surface, RECT{picture.right, picture.top, destination.right, picture.bottom}, kBlack);
}

} // namespace

bool ComposePicture(CComposeContext& context, const SComposePicture& picture, const SComposeSurface& surface,
                    const SComposeOptions& options, RECT* shown) {
    if (shown)
        *shown = RECT{0, 0, 0, 0};
    if (!IsValid(picture) || !IsValid(surface))
        return false;

    // The part of the picture shown. I420 chroma covers an even number of
    // rows and columns (vcodec rounds the halves down): an odd last row or
    // column has no colour of its own and is left out.
    LONG width = picture.mWidth;
    LONG height = picture.mHeight < 0 ? -picture.mHeight : picture.mHeight;
    if (picture.mPixelCode == kComposeI420) {
        width &= ~1;
        height &= ~1;
    }
    RECT source = options.mSource;
    if (source.bottom < 0)
        source.bottom = -source.bottom;
    if (IsEmpty(source))
        source = RECT{0, 0, width, height};
    source = Intersect(source, RECT{0, 0, width, height});
    if (IsEmpty(source))
        return false;

    RECT destination = options.mDestination;
    const RECT whole{0, 0, surface.mWidth, surface.mHeight};
    if (IsEmpty(destination))
        destination = whole;
    destination = Intersect(destination, whole);
    if (IsEmpty(destination))
        return true;

    RECT place = destination;
    if (options.mAspect == EComposeAspect::Letterbox)
        place = Letterbox(destination, source.right - source.left, source.bottom - source.top);

    std::lock_guard<std::mutex> lock(context.mLock);
    FillBars(surface, destination, place);
    uint8_t* at = surface.mpPixels + int64_t(place.top) * surface.mStride + int64_t(place.left) * 4;
    if (!context.Draw(picture, source, at, surface.mStride, place.right - place.left,
                      place.bottom - place.top, options.mFilter))
        return false;
    if (options.mpOverlay) {
        const RECT target = IsEmpty(options.mOverlayRect) ? place : options.mOverlayRect;
        options.mpOverlay->Blend(surface, target, destination);
    }
    if (shown)
        *shown = place;
    return true;
}

} // namespace os
