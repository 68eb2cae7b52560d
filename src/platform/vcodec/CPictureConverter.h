// Converts one decoded picture into an output picture layout with libswscale,
// or with plain row copies where no conversion is needed (planar 4:2:0 in,
// I420 out). One converter per codec handle, so it is used by one thread at a
// time; it keeps its swscale context while the conversion stays the same.
//
// libswscale's vector loops convert whole vectors and so write (and read) up
// to a vector past the end of a row, as ffmpeg's own padded frames allow. The
// caller's rows have at most 3 bytes of padding and nothing after the last
// one, and in a bottom-up picture the bytes past a row's end are the start of
// the row converted just before. Such pictures are converted into a scratch
// picture with room after every row and copied; only where the caller's
// buffer has room of its own does libswscale write into it directly.
#pragma once
#include <cstddef>
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

    // Bytes libswscale may write or read past the end of a row.
    static constexpr int kRowSlack = 64;
    // Row and buffer alignment of scratch pictures, the widest vector.
    static constexpr int kRowAlign = 64;
    // A stride for rowBytes of pixels with kRowSlack bytes of room after
    // them, aligned to kRowAlign.
    static int RoomyStride(int rowBytes);

    // Fills dst (same width and height as src); spare is how many bytes the
    // caller's buffer holds after the picture (0 when it ends with it). Writes
    // nothing outside dst's rows. False when libswscale cannot do the
    // conversion.
    bool Convert(const SourcePicture& src, const CPictureLayout& dst, int64_t spare);

    // Scales full-range 8-bit luma and chroma planes to video range in place,
    // as libswscale does when it turns JPEG YCbCr into I420.
    static void FullToVideoRange(const CPictureLayout& picture);

private:
    bool Scale(const SourcePicture& src, uint8_t* const* dstPlanes, const int* dstStrides,
               AVPixelFormat dstFormat);
    static void CopyI420(const SourcePicture& src, const CPictureLayout& dst);
    // 64-byte aligned scratch memory of at least size bytes, in mScratch.
    uint8_t* Scratch(size_t size);

    SwsContext* mpScaler = nullptr;
    // What mpScaler was made for.
    int32_t mWidth = 0;
    int32_t mHeight = 0;
    AVPixelFormat mSrcFormat = AV_PIX_FMT_NONE;
    AVPixelFormat mDstFormat = AV_PIX_FMT_NONE;
    bool mFullRange = false;
    // Pictures libswscale may not write into directly go through here first.
    std::vector<uint8_t> mScratch;
};

} // namespace ipcam
