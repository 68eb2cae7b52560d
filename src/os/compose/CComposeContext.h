// What ComposePicture keeps from one picture to the next: libswscale contexts
// for the pixel formats and sizes in use (making one costs more than a 1080p
// conversion, so a renderer that shows a steady stream makes it once), and
// scratch pictures.
//
// How a picture is drawn (docs/compositing.md has the measurements):
// - at its own size: converted straight into the surface by libswscale (BGRA
//   rows are copied);
// - enlarged, or at any size with the nearest-pixel filter: scaled by
//   pixman, the rasteriser under Cairo, from a BGRX picture (the picture
//   itself when it is BGRA, else converted at its size by libswscale);
// - shrunk with the bilinear filter: scaled by libswscale, whose filter
//   widens with the ratio and so averages the pixels it leaves out: I420
//   straight into the surface, BGRA (the picture's own or a conversion,
//   halved by pixman while it is twice the size) to planar RGB, then
//   converted into the surface. pixman's bilinear filter reads only the four
//   nearest pixels and makes a shrunk picture shimmer; libswscale's RGB to
//   packed RGB scaling is three times slower than these steps.
// libswscale's YUV to RGB output writes whole groups of kYuvGroup pixels, so
// a row of another width is converted next to the surface and copied.
//
// Threads: a context belongs to one renderer. ComposePicture takes the
// context's lock for the whole call, so sharing a context between threads is
// safe but serialises them; different contexts share nothing and run in
// parallel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "os/compose/Compose.h"

struct SwsContext;

namespace os {

class CComposeContext {
public:
    // libswscale contexts kept: a renderer needs one to three (a shrunk
    // RGB565 picture goes through three); a few more let a stream that
    // changes its resolution, or a window that changes its size, come back
    // to the ones it had.
    static constexpr int kMaxScalers = 6;
    // Bytes libswscale's vector loops may read past the end of a source row
    // (32 were seen with ffmpeg 5.1; twice that for safety).
    static constexpr int kReadSlack = 64;
    // libswscale's YUV to RGB output writes whole groups of pixels (16 in
    // its unscaled conversion, 8 when it scales, with ffmpeg 5.1): it writes
    // straight into the surface only rows whose width is a multiple of this,
    // so that nothing right of the rectangle (another channel's window in a
    // grid) is painted over.
    static constexpr int kYuvGroup = 16;

    CComposeContext();
    ~CComposeContext();
    CComposeContext(const CComposeContext&) = delete;
    CComposeContext& operator=(const CComposeContext&) = delete;

    // libswscale contexts held now, and made since construction.
    int ScalerCount();
    int64_t ScalersMade();

private:
    friend bool ComposePicture(CComposeContext& context, const SComposePicture& picture,
                               const SComposeSurface& surface, const SComposeOptions& options, RECT* shown);

    struct SScalerKey {
        int mSrcWidth;
        int mSrcHeight;
        int mSrcFormat; // AVPixelFormat
        int mDstWidth;
        int mDstHeight;
        int mDstFormat;
        bool operator==(const SScalerKey& o) const {
            return mSrcWidth == o.mSrcWidth && mSrcHeight == o.mSrcHeight && mSrcFormat == o.mSrcFormat &&
                   mDstWidth == o.mDstWidth && mDstHeight == o.mDstHeight && mDstFormat == o.mDstFormat;
        }
    };
    struct SScaler {
        SScalerKey mKey;
        SwsContext* mpContext; // owned
        uint64_t mLastUse;
    };
    // The part of a picture that is read: the top-left pixel of the region in
    // each plane, the signed step from a row to the one below it, and which
    // rows may be read in place.
    struct SRegion {
        const uint8_t* mpPlanes[3];
        int mStrides[3];
        int mPlanes;      // 1 packed, 3 I420 or planar RGB
        int mChromaShift; // 1 when planes 1 and 2 have half the width and height
        int mFormat;      // AVPixelFormat
        int mPixelBytes;  // packed formats
        int mWidth;
        int mHeight;
        // Rows [mDirectBegin, mDirectEnd) of the region lie far enough from
        // the end of the picture's buffer to be read where they are; the rest
        // are copied to scratch rows with kReadSlack bytes of room first. For
        // I420 the boundaries are even.
        int mDirectBegin;
        int mDirectEnd;
    };

    // Draws source (picture pixels, clipped) of picture into a width x height
    // rectangle of BGRX pixels at dst. Caller holds mLock.
    bool Draw(const SComposePicture& picture, const RECT& source, uint8_t* dst, int dstStride, int width,
              int height, EComposeFilter filter);
    static void Region(const SComposePicture& picture, const RECT& source, SRegion* region);
    // A region over a whole scratch picture of ours (rows with room after them).
    static SRegion ScratchRegion(int format, const uint8_t* const planes[3], const int strides[3], int width,
                                 int height);
    // Converts the region, at its size, into BGRX at dst.
    bool Convert(const SRegion& region, uint8_t* dst, int dstStride);
    // Scales the region with libswscale into width x height BGRX at dst,
    // through a scratch picture when its whole groups of YUV output would
    // reach past the rectangle.
    bool ScaleInto(const SRegion& region, int width, int height, uint8_t* dst, int dstStride);
    // The region as BGRX rows: the picture's own when it is BGRA that pixman
    // can address (whole 32-bit words), else a conversion in scratch.
    bool Bgrx(const SRegion& region, const uint8_t** pixels, int* stride);
    // Runs libswscale over the region into a picture of dstFormat, slice by
    // slice, copying rows near the end of the buffer first.
    bool Run(const SRegion& region, int dstWidth, int dstHeight, int dstFormat, uint8_t* const dst[3],
             const int dstStrides[3]);
    SwsContext* Scaler(const SScalerKey& key);
    // 64-byte aligned memory of at least bytes, one block per use.
    enum class EScratch { Slices, Bgrx, HalfA, HalfB, Shrunk, Output, Count };
    uint8_t* Scratch(EScratch use, size_t bytes);

    std::mutex mLock;
    // Everything below is guarded by mLock.
    std::vector<SScaler> mScalers;
    uint64_t mUseClock = 0;
    int64_t mScalersMade = 0;
    std::vector<uint8_t> mScratch[int(EScratch::Count)];
};

} // namespace os
