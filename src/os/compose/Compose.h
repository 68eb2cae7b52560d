// How a decoded camera picture reaches a window: the part of the picture that
// is shown (the source rectangle) is converted to the window's B, G, R, X
// pixels and scaled onto a rectangle of the window surface, stretched or
// letterboxed, and the overlay bitmap (captions, editor graphics) is blended
// over it with its colour key and alpha, as the video mixer of a Windows
// renderer would. The video renderers share this one function.
//
// Pictures come as vcodec lays them out (include/ipcamview/vcodec.h): pixel
// code 100 BGR24, 120 RGB565, 130 I420 (tight planes Y, U, V; chroma halves
// rounded down), any other code BGRA; rows padded to 4 bytes; a positive
// height means bottom-up rows (a Windows DIB), a negative one top-down rows.
// libswscale converts and shrinks, pixman (the rasteriser under Cairo)
// enlarges, CKeyedOverlay blends the overlay; CComposeContext.h says which
// does what and docs/compositing.md why.
//
// Threads: ComposePicture may run on any thread; it holds the context's lock
// for the whole call, so a context shared by several threads serialises them.
// The caller keeps the surface's own lock (a window's SurfaceLock) around the
// call, and must not change the picture or the overlay while it runs.
#pragma once

#include <cstdint>

#include "os/window/WinDef.h"

namespace os {

class CComposeContext;
class CKeyedOverlay;

// Pixel codes of decoded pictures.
constexpr int32_t kComposeBgr24 = 100;
constexpr int32_t kComposeRgb565 = 120;
constexpr int32_t kComposeI420 = 130;
constexpr int32_t kComposeBgra = 32; // or any code not named above

// Largest picture or surface side, in pixels (as vcodec's largest stream).
constexpr int32_t kComposeMaxDimension = 8192;

// A decoded picture.
struct SComposePicture {
    const uint8_t* mpData = nullptr; // first byte of the picture (after a decoder's alignment marker)
    // Bytes that may be read from mpData: the picture and whatever of its
    // buffer follows it. libswscale reads a little past the end of rows; rows
    // that lie closer than CComposeContext::kReadSlack to this end are copied
    // before they are read, so a picture at the very end of a mapping is safe.
    int64_t mBytes = 0;
    int32_t mPixelCode = kComposeBgra;
    int32_t mWidth = 0;
    int32_t mHeight = 0; // > 0 bottom-up rows, < 0 top-down rows
    // Bytes from one row to the next (I420: a luma row; chroma rows take
    // half); 0 means vcodec's: ceil(width x bits / 8) rounded up to 4 bytes,
    // and width for I420.
    int32_t mStride = 0;
};

// The pixels of a window surface (or of a child window's part of it): B, G,
// R, X bytes, rows top-down, mStride bytes apart (pixels and stride on
// 4-byte boundaries). The fourth byte is not looked at and may be written
// with any value.
struct SComposeSurface {
    uint8_t* mpPixels = nullptr;
    int32_t mWidth = 0;
    int32_t mHeight = 0;
    int32_t mStride = 0;
};

enum class EComposeAspect {
    Stretch,   // the source rectangle fills the destination rectangle
    Letterbox, // keeps the source rectangle's shape, centred, the rest black
};

enum class EComposeFilter {
    Bilinear, // the renderer's default
    Point,    // nearest pixel: what the mixer uses while it blends an overlay bitmap
};

struct SComposeOptions {
    // The part of the picture shown, in picture pixels counted from its top
    // row whatever the row order. Empty (right <= left or bottom <= top) is
    // the whole picture. A negative bottom counts as its magnitude, as when a
    // rectangle is copied from a format whose height is negative. Clipped to
    // the picture.
    RECT mSource{0, 0, 0, 0};
    // Where the picture goes, in surface pixels; empty is the whole surface.
    // Clipped to the surface first (the picture is fitted to what is left);
    // nothing outside it is written.
    RECT mDestination{0, 0, 0, 0};
    EComposeAspect mAspect = EComposeAspect::Stretch;
    EComposeFilter mFilter = EComposeFilter::Bilinear;
    // Blended over the picture when not null.
    const CKeyedOverlay* mpOverlay = nullptr;
    // Where the overlay is stretched to, in surface pixels; empty means over
    // the rectangle the picture was shown in (inside the letterbox bars, so
    // that graphics drawn in picture coordinates stay on the picture).
    // Clipped to the destination rectangle.
    RECT mOverlayRect{0, 0, 0, 0};
};

// Draws one picture into the surface as the options say. Returns true when
// the picture was drawn; *shown (when not null) then holds the rectangle of
// the surface it covers (empty when the destination lies outside the
// surface). Returns false, drawing nothing, for a picture that is not valid
// (no data, a size of 0 or above kComposeMaxDimension, pixel code 0, mBytes
// short of the picture), an invalid surface, a source rectangle that misses
// the picture, or a conversion libswscale refuses.
bool ComposePicture(CComposeContext& context, const SComposePicture& picture, const SComposeSurface& surface,
                    const SComposeOptions& options, RECT* shown = nullptr);

} // namespace os
