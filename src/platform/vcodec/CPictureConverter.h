// Converts one decoded picture into an output picture layout with libswscale,
// or with plain row copies where no conversion is needed (planar 4:2:0 in,
// I420 out). One converter per codec handle, so it is used by one thread at a
// time; it keeps its swscale context while the conversion stays the same.
#pragma once
#include <cstdint>
#include <vector>

#include "CPictureLayout.h"

struct SwsContext;

namespace ipcam {

// A source picture: planes as a decoder left them.
struct SourcePicture {
    const uint8_t* mpPlanes[4] = {};
    int mStrides[4] = {};
    int32_t mWidth = 0;
    int32_t mHeight = 0;
    AVPixelFormat mFormat = AV_PIX_FMT_NONE;
    bool mFullRange = false; // JPEG's YCbCr uses all 256 levels, video streams 16..235
};

class CPictureConverter {
public:
    CPictureConverter() = default;
    ~CPictureConverter();
    CPictureConverter(const CPictureConverter&) = delete;
    CPictureConverter& operator=(const CPictureConverter&) = delete;

    // Fills dst (same width and height as src). False when libswscale cannot
    // do the conversion.
    bool Convert(const SourcePicture& src, const CPictureLayout& dst);

    // Scales full-range 8-bit luma and chroma planes to video range in place,
    // as libswscale does when it turns JPEG YCbCr into I420.
    static void FullToVideoRange(const CPictureLayout& picture);

private:
    bool Scale(const SourcePicture& src, uint8_t* const* dstPlanes, const int* dstStrides,
               AVPixelFormat dstFormat);
    static void CopyI420(const SourcePicture& src, const CPictureLayout& dst);

    SwsContext* mpScaler = nullptr;
    // What mpScaler was made for.
    int32_t mWidth = 0;
    int32_t mHeight = 0;
    AVPixelFormat mSrcFormat = AV_PIX_FMT_NONE;
    AVPixelFormat mDstFormat = AV_PIX_FMT_NONE;
    bool mFullRange = false;
    // I420 of odd size or from other sources goes through here first.
    std::vector<uint8_t> mScratch;
};

} // namespace ipcam
