// What ComposePicture keeps from one picture to the next: libswscale contexts
// for the geometries in use (making one costs far more than a 1080p
// conversion, so a renderer that shows a steady stream makes it once), and
// scratch memory for the rows that may not be read in place.
//
// Threads: a context belongs to one renderer. ComposePicture takes the
// context's lock for the whole call, so sharing a context between threads is
// safe but serialises them; different contexts never share state and run in
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
    // Scalers kept: a renderer needs one or two (see Scale); a few more let a
    // window that flips between two sizes, or a stream that changes its
    // resolution, come back to a context it had.
    static constexpr int kMaxScalers = 6;
    // Bytes libswscale's vector loops may read past the end of a source row
    // (32 were seen with ffmpeg 5.1; twice that for safety).
    static constexpr int kReadSlack = 64;
    // The unscaled I420 to BGRA conversion of libswscale writes whole groups
    // of this many pixels, past the end of a row that is not a multiple of it.
    static constexpr int kYuvGroup = 8;

    CComposeContext();
    ~CComposeContext();
    CComposeContext(const CComposeContext&) = delete;
    CComposeContext& operator=(const CComposeContext&) = delete;

    // Scalers held now, and made since construction.
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
        int mFlags;
        bool operator==(const SScalerKey& o) const {
            return mSrcWidth == o.mSrcWidth && mSrcHeight == o.mSrcHeight && mSrcFormat == o.mSrcFormat &&
                   mDstWidth == o.mDstWidth && mDstHeight == o.mDstHeight && mFlags == o.mFlags;
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
        int mPlanes;     // 1 packed, 3 I420
        int mFormat;     // AVPixelFormat
        int mPixelBytes; // packed formats
        int mWidth;
        int mHeight;
        // Rows [mDirectBegin, mDirectEnd) of the region lie far enough from
        // the end of the picture's buffer to be read where they are; the rest
        // are copied to scratch rows with kReadSlack bytes of room. For I420
        // the boundaries are even.
        int mDirectBegin;
        int mDirectEnd;
    };

    // Scales source (pixels of the picture, clipped) of picture into a
    // width x height BGRA rectangle at dst. Caller holds mLock.
    bool Scale(const SComposePicture& picture, const RECT& source, uint8_t* dst, int dstStride, int width,
               int height, EComposeFilter filter);
    static bool Region(const SComposePicture& picture, const RECT& source, SRegion* region);
    // Runs one scaler over columns [column, column + columns) of the region,
    // slice by slice.
    bool Run(SwsContext* scaler, const SRegion& region, int column, int columns, uint8_t* dst, int dstStride);
    SwsContext* Scaler(const SScalerKey& key);
    // kReadSlack-padded, 64-byte aligned scratch memory of at least bytes.
    uint8_t* Scratch(size_t bytes);

    std::mutex mLock;
    // Everything below is guarded by mLock.
    std::vector<SScaler> mScalers;
    uint64_t mUseClock = 0;
    int64_t mScalersMade = 0;
    std::vector<uint8_t> mScratch;
};

} // namespace os
