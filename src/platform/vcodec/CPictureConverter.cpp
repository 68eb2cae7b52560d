#include "CPictureConverter.h"

#include <cstring>

extern "C" {
#include <libswscale/swscale.h>
}

namespace ipcam {

CPictureConverter::~CPictureConverter() {
    sws_freeContext(mpScaler);
}

namespace {

// libavcodec's "J" formats (full-range YCbCr, from a stream that says so)
// as the plain format and the range, which is how libswscale wants them: it
// takes the J formats too, but warns about them in the host's log for every
// converter it makes.
AVPixelFormat PlainFormat(AVPixelFormat format, bool* fullRange) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        *fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        *fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        *fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        *fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        *fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return format;
    }
}

} // namespace

bool CPictureConverter::Scale(const SourcePicture& src, uint8_t* const* dstPlanes, const int* dstStrides,
                              AVPixelFormat dstFormat) {
    bool fullRange = src.mFullRange;
    const AVPixelFormat srcFormat = PlainFormat(src.mFormat, &fullRange);
    if (!mpScaler || mWidth != src.mWidth || mHeight != src.mHeight || mSrcFormat != srcFormat ||
        mDstFormat != dstFormat || mFullRange != fullRange) {
        sws_freeContext(mpScaler);
        // Bicubic is what the ffmpeg tool picks; for an unscaled conversion it
        // decides only which of libswscale's converters runs, and choosing the
        // same one keeps our pictures equal to what its users see.
        mpScaler = sws_getContext(src.mWidth, src.mHeight, srcFormat, src.mWidth, src.mHeight, dstFormat,
                                  SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!mpScaler)
            return false;
        mWidth = src.mWidth;
        mHeight = src.mHeight;
        mSrcFormat = srcFormat;
        mDstFormat = dstFormat;
        mFullRange = fullRange;
        if (mFullRange) {
            const int* table = sws_getCoefficients(SWS_CS_ITU601);
            sws_setColorspaceDetails(mpScaler, table, 1, table, 0, 0, 1 << 16, 1 << 16);
        }
    }
    int rows = sws_scale(mpScaler, src.mpPlanes, src.mStrides, 0, src.mHeight, dstPlanes, dstStrides);
    return rows > 0;
}

void CPictureConverter::CopyI420(const SourcePicture& src, const CPictureLayout& dst) {
    int widths[3] = {dst.Width(), dst.Width() / 2, dst.Width() / 2};
    int heights[3] = {dst.Height(), dst.Height() / 2, dst.Height() / 2};
    for (int p = 0; p < 3; ++p) {
        const uint8_t* s = src.mpPlanes[p];
        uint8_t* d = dst.Planes()[p];
        for (int y = 0; y < heights[p]; ++y) {
            memcpy(d, s, size_t(widths[p]));
            s += src.mStrides[p];
            d += dst.Strides()[p];
        }
    }
}

int CPictureConverter::RoomyStride(int rowBytes) {
    return (rowBytes + kRowSlack + kRowAlign - 1) / kRowAlign * kRowAlign;
}

uint8_t* CPictureConverter::Scratch(size_t size) {
    if (mScratch.size() < size + kRowAlign)
        mScratch.resize(size + kRowAlign);
    uintptr_t at = reinterpret_cast<uintptr_t>(mScratch.data());
    return mScratch.data() + (kRowAlign - at % kRowAlign) % kRowAlign;
}

bool CPictureConverter::Convert(const SourcePicture& src, const CPictureLayout& dst, int64_t spare) {
    if (!dst.IsPlanar()) {
        int rowBytes = dst.Width() * (CPictureLayout::BitsPerPixel(dst.PixelCode()) / 8);
        int stride = dst.Strides()[0];
        bool topDown = stride > 0;
        int padding = (topDown ? stride : -stride) - rowBytes;
        // Top-down, a row's overrun lands in the next row before that is
        // converted, so only the last one needs room after the picture.
        if (padding >= kRowSlack || (topDown && spare >= kRowSlack))
            return Scale(src, dst.Planes(), dst.Strides(), dst.Format());
        int roomy = RoomyStride(rowBytes);
        uint8_t* planes[4] = {Scratch(size_t(roomy) * size_t(dst.Height())), nullptr, nullptr, nullptr};
        int strides[4] = {roomy, 0, 0, 0};
        if (!Scale(src, planes, strides, dst.Format()))
            return false;
        const uint8_t* from = planes[0];
        uint8_t* to = dst.Planes()[0];
        for (int y = 0; y < dst.Height(); ++y, from += roomy, to += stride)
            memcpy(to, from, size_t(rowBytes));
        return true;
    }
    if (src.mFormat == AV_PIX_FMT_YUV420P && !src.mFullRange) {
        CopyI420(src, dst);
        return true;
    }
    // Anything else becomes 4:2:0 first, at the chroma size libswscale writes
    // (halves rounded up), and is then cut to our planes. libswscale copies
    // planes of the same layout without looking at their range, so a JPEG's
    // full range is narrowed afterwards, the same way for every sampling.
    SourcePicture samples = src;
    samples.mFullRange = false;
    // Every plane's rows get room after them: a luma row's overrun would
    // otherwise reach the chroma plane written row by row beside it.
    int cw = (src.mWidth + 1) / 2;
    int ch = (src.mHeight + 1) / 2;
    int lumaStride = RoomyStride(src.mWidth);
    int chromaStride = RoomyStride(cw);
    size_t lumaSize = size_t(lumaStride) * size_t(src.mHeight);
    size_t chromaSize = size_t(chromaStride) * size_t(ch);
    uint8_t* scratch = Scratch(lumaSize + 2 * chromaSize);
    uint8_t* planes[4] = {scratch, scratch + lumaSize, scratch + lumaSize + chromaSize, nullptr};
    int strides[4] = {lumaStride, chromaStride, chromaStride, 0};
    if (!Scale(samples, planes, strides, AV_PIX_FMT_YUV420P))
        return false;
    SourcePicture yuv;
    for (int p = 0; p < 3; ++p) {
        yuv.mpPlanes[p] = planes[p];
        yuv.mStrides[p] = strides[p];
    }
    yuv.mWidth = src.mWidth;
    yuv.mHeight = src.mHeight;
    yuv.mFormat = AV_PIX_FMT_YUV420P;
    CopyI420(yuv, dst);
    if (src.mFullRange)
        FullToVideoRange(dst);
    return true;
}

namespace {
struct RangeTables {
    uint8_t mLuma[256];
    uint8_t mChroma[256];
    RangeTables() {
        // Video range: luma 16..235, chroma 16..240 around 128.
        for (int v = 0; v < 256; ++v) {
            mLuma[v] = uint8_t((v * 219 + 127) / 255 + 16);
            int c = ((v - 128) * 224 + (v >= 128 ? 127 : -127)) / 255 + 128;
            mChroma[v] = uint8_t(c);
        }
    }
};
} // namespace

void CPictureConverter::FullToVideoRange(const CPictureLayout& picture) {
    static const RangeTables tables;
    int widths[3] = {picture.Width(), picture.Width() / 2, picture.Width() / 2};
    int heights[3] = {picture.Height(), picture.Height() / 2, picture.Height() / 2};
    for (int p = 0; p < 3; ++p) {
        const uint8_t* table = p == 0 ? tables.mLuma : tables.mChroma;
        uint8_t* row = picture.Planes()[p];
        for (int y = 0; y < heights[p]; ++y) {
            for (int x = 0; x < widths[p]; ++x)
                row[x] = table[row[x]];
            row += picture.Strides()[p];
        }
    }
}

} // namespace ipcam
