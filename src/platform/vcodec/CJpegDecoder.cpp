#include "CJpegDecoder.h"

#include <cstddef>

#include <turbojpeg.h>

#include "ipcamview/vcodec.h"

namespace ipcam {

namespace {
AVPixelFormat PlanarFormat(int subsampling) {
    switch (subsampling) {
    case TJSAMP_444:
        return AV_PIX_FMT_YUV444P;
    case TJSAMP_422:
        return AV_PIX_FMT_YUV422P;
    case TJSAMP_420:
        return AV_PIX_FMT_YUV420P;
    case TJSAMP_GRAY:
        return AV_PIX_FMT_GRAY8;
    case TJSAMP_440:
        return AV_PIX_FMT_YUV440P;
    case TJSAMP_411:
        return AV_PIX_FMT_YUV411P;
    default:
        return AV_PIX_FMT_NONE;
    }
}
} // namespace

CJpegDecoder::CJpegDecoder(int32_t pixelCode, bool bottomUp)
    : mPixelCode(pixelCode), mBottomUp(bottomUp), m_hDecompressor(tjInitDecompress()) {}

CJpegDecoder::~CJpegDecoder() {
    if (m_hDecompressor)
        tjDestroy(m_hDecompressor);
}

bool CJpegDecoder::DecodeThroughPlanes(const uint8_t* in, int32_t length, int subsampling,
                                       const CPictureLayout& layout, int64_t spare) {
    SourcePicture src;
    src.mWidth = layout.Width();
    src.mHeight = layout.Height();
    src.mFormat = PlanarFormat(subsampling);
    src.mFullRange = true;
    if (src.mFormat == AV_PIX_FMT_NONE)
        return false;
    int components = subsampling == TJSAMP_GRAY ? 1 : 3;
    size_t offsets[3] = {};
    size_t total = 0;
    for (int c = 0; c < components; ++c) {
        offsets[c] = total;
        int w = tjPlaneWidth(c, src.mWidth, subsampling);
        int h = tjPlaneHeight(c, src.mHeight, subsampling);
        if (w <= 0 || h <= 0)
            return false;
        src.mStrides[c] = CPictureConverter::RoomyStride(w);
        total += size_t(src.mStrides[c]) * size_t(h);
    }
    mPlanes.resize(total + CPictureConverter::kRowAlign);
    uintptr_t at = reinterpret_cast<uintptr_t>(mPlanes.data());
    uint8_t* base = mPlanes.data() + (CPictureConverter::kRowAlign - at % CPictureConverter::kRowAlign) %
                                         CPictureConverter::kRowAlign;
    unsigned char* planes[3] = {};
    for (int c = 0; c < components; ++c) {
        planes[c] = base + offsets[c];
        src.mpPlanes[c] = planes[c];
    }
    if (tjDecompressToYUVPlanes(m_hDecompressor, in, (unsigned long)length, planes, src.mWidth, src.mStrides,
                                src.mHeight, 0) != 0)
        return false;
    return mConverter.Convert(src, layout, spare);
}

bool CJpegDecoder::Decode(const uint8_t* in, int32_t length, int32_t* consumed, uint8_t* out, int64_t outSize,
                          int64_t* pictureSize) {
    *consumed = length;
    if (!m_hDecompressor || length <= 0 || mPixelCode == CPictureLayout::kNone)
        return false;
    bool tjFailed = false;
    bool ok = DecodeImage(in, length, out, outSize, pictureSize, &tjFailed);
    if (tjFailed)
        ResetDecompressor();
    return ok;
}

void CJpegDecoder::ResetDecompressor() {
    // TurboJPEG's header reader (libjpeg-turbo 2.1) returns from a libjpeg
    // error without aborting the decompressor: it stays in the middle of the
    // broken image's headers, and the next images on the handle are read as
    // their continuation and refused. A fresh decompressor is the only reset
    // the API offers; it costs a few allocations, on failures only.
    tjDestroy(m_hDecompressor);
    m_hDecompressor = tjInitDecompress();
}

bool CJpegDecoder::DecodeImage(const uint8_t* in, int32_t length, uint8_t* out, int64_t outSize,
                               int64_t* pictureSize, bool* tjFailed) {
    int width = 0, height = 0, subsampling = -1, colorspace = -1;
    if (tjDecompressHeader3(m_hDecompressor, in, (unsigned long)length, &width, &height, &subsampling,
                            &colorspace) != 0) {
        *tjFailed = true;
        return false;
    }
    if (width <= 0 || height <= 0 || width > VCODEC_MAX_DIMENSION || height > VCODEC_MAX_DIMENSION)
        return false;
    // Checked before decoding, so that an image too large for the buffer costs
    // nothing and nothing is written past it.
    int64_t size = CPictureLayout::PictureSize(mPixelCode, width, height);
    if (size > outSize)
        return false;
    CPictureLayout layout(mPixelCode, width, height, mBottomUp, out);
    bool ok = false;
    // Chroma is widened by repeating samples, as libswscale does for everyone
    // who converts ffmpeg's JPEG pictures: same pictures, and a third faster
    // than libjpeg's smoothing.
    int flags = TJFLAG_FASTUPSAMPLE | (mBottomUp ? TJFLAG_BOTTOMUP : 0);
    // Odd sizes go through libswscale, which interpolates chroma there; the
    // pictures then stay those of every other ffmpeg-based viewer.
    bool evenSize = width % 2 == 0 && height % 2 == 0;
    if (evenSize && (mPixelCode == CPictureLayout::kBgr24 || layout.Format() == AV_PIX_FMT_BGRA)) {
        int format = mPixelCode == CPictureLayout::kBgr24 ? TJPF_BGR : TJPF_BGRA;
        int stride = int(CPictureLayout::Stride(mPixelCode, width));
        // TJPF_BGRA sets alpha to 255 as a Windows 32-bit DIB reader expects.
        ok = tjDecompress2(m_hDecompressor, in, (unsigned long)length, out, width, stride, height, format,
                           flags) == 0;
    } else if (evenSize && layout.IsPlanar() && subsampling == TJSAMP_420) {
        unsigned char* planes[3] = {layout.Planes()[0], layout.Planes()[1], layout.Planes()[2]};
        int strides[3] = {layout.Strides()[0], layout.Strides()[1], layout.Strides()[2]};
        ok = tjDecompressToYUVPlanes(m_hDecompressor, in, (unsigned long)length, planes, width, strides,
                                     height, 0) == 0;
        if (ok)
            CPictureConverter::FullToVideoRange(layout);
    } else {
        ok = DecodeThroughPlanes(in, length, subsampling, layout, outSize - size);
    }
    if (!ok) {
        *tjFailed = true;
        return false;
    }
    *pictureSize = size;
    return true;
}

} // namespace ipcam
