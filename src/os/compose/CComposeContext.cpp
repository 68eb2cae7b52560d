#include "os/compose/CComposeContext.h"

#include "os/compose/SwscaleLibrary.h"

#include <algorithm>
#include <cstring>

#include <pixman.h>

extern "C" {
#include <libswscale/swscale.h>
}

namespace os {

namespace {

constexpr int kScratchAlign = 64;

// A row of rowBytes with at least kReadSlack bytes of room after it.
int RoomyStride(int rowBytes) {
    return (rowBytes + CComposeContext::kReadSlack + kScratchAlign - 1) / kScratchAlign * kScratchAlign;
}

// Rows of one plane that may be read in place, in its own top-down row
// numbers: those with kReadSlack bytes of the buffer after their end.
void SafePlaneRows(int64_t bytes, int64_t offset, int64_t rowBytes, int rows, bool bottomUp, int* begin,
                   int* end) {
    const int64_t room = bytes - CComposeContext::kReadSlack - offset;
    const int64_t safe = room <= 0 || rowBytes <= 0 ? 0 : std::min<int64_t>(room / rowBytes, rows);
    // Memory rows [0, safe) are safe; bottom-up, memory row m is row rows-1-m.
    *begin = bottomUp ? rows - int(safe) : 0;
    *end = bottomUp ? rows : int(safe);
}

void CopyRows(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int rowBytes, int rows) {
    for (int y = 0; y < rows; ++y)
        memcpy(dst + int64_t(y) * dstStride, src + int64_t(y) * srcStride, size_t(rowBytes));
}

// pixman's images of B, G, R, X rows, scaled from one into the other with the
// pixel centres lined up, as ffmpeg's scale filter does, and the edges
// repeated (no black creeps in from outside).
bool PixmanScale(const uint8_t* src, int srcStride, int srcWidth, int srcHeight, uint8_t* dst, int dstStride,
                 int width, int height, EComposeFilter filter) {
    pixman_image_t* from =
        pixman_image_create_bits_no_clear(PIXMAN_x8r8g8b8, srcWidth, srcHeight,
                                          reinterpret_cast<uint32_t*>(const_cast<uint8_t*>(src)), srcStride);
    pixman_image_t* to = pixman_image_create_bits_no_clear(PIXMAN_x8r8g8b8, width, height,
                                                           reinterpret_cast<uint32_t*>(dst), dstStride);
    const bool ok = from && to;
    if (ok) {
        pixman_transform_t scale;
        pixman_transform_init_scale(&scale, pixman_fixed_t((int64_t(srcWidth) << 16) / width),
                                    pixman_fixed_t((int64_t(srcHeight) << 16) / height));
        pixman_image_set_transform(from, &scale);
        pixman_image_set_filter(
            from, filter == EComposeFilter::Point ? PIXMAN_FILTER_NEAREST : PIXMAN_FILTER_BILINEAR, nullptr,
            0);
        pixman_image_set_repeat(from, PIXMAN_REPEAT_PAD);
        pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, to, 0, 0, 0, 0, 0, 0, width, height);
    }
    if (from)
        pixman_image_unref(from);
    if (to)
        pixman_image_unref(to);
    return ok;
}

} // namespace

CComposeContext::CComposeContext() = default;

CComposeContext::~CComposeContext() {
    for (SScaler& s : mScalers)
        compose::Swscale()->freeContext(s.mpContext);
}

int CComposeContext::ScalerCount() {
    std::lock_guard<std::mutex> lock(mLock);
    return int(mScalers.size());
}

int64_t CComposeContext::ScalersMade() {
    std::lock_guard<std::mutex> lock(mLock);
    return mScalersMade;
}

void CComposeContext::Region(const SComposePicture& picture, const RECT& source, SRegion* region) {
    const bool bottomUp = picture.mHeight > 0;
    const int rows = bottomUp ? picture.mHeight : -picture.mHeight;
    const int top = source.top;
    *region = SRegion{};
    region->mWidth = source.right - source.left;
    region->mHeight = source.bottom - source.top;
    int safeBegin = 0;
    int safeEnd = rows;
    if (picture.mPixelCode == kComposeI420) {
        const int lumaStride = picture.mStride ? picture.mStride : picture.mWidth;
        const int chromaStride = lumaStride / 2;
        const int chromaRows = rows / 2;
        const int64_t planeOffset[3] = {0, int64_t(lumaStride) * rows,
                                        int64_t(lumaStride) * rows + int64_t(chromaStride) * chromaRows};
        const int planeStride[3] = {lumaStride, chromaStride, chromaStride};
        const int planeRows[3] = {rows, chromaRows, chromaRows};
        const int planeTop[3] = {top, top / 2, top / 2};
        const int planeLeft[3] = {source.left, source.left / 2, source.left / 2};
        for (int p = 0; p < 3; ++p) {
            const int memoryRow = bottomUp ? planeRows[p] - 1 - planeTop[p] : planeTop[p];
            region->mpPlanes[p] =
                picture.mpData + planeOffset[p] + int64_t(memoryRow) * planeStride[p] + planeLeft[p];
            region->mStrides[p] = bottomUp ? -planeStride[p] : planeStride[p];
            int begin, end;
            SafePlaneRows(picture.mBytes, planeOffset[p], planeStride[p], planeRows[p], bottomUp, &begin,
                          &end);
            // A chroma row serves two luma rows.
            const int scale = p == 0 ? 1 : 2;
            safeBegin = std::max(safeBegin, begin * scale);
            safeEnd = std::min(safeEnd, end * scale);
        }
        region->mPlanes = 3;
        region->mChromaShift = 1;
        region->mFormat = AV_PIX_FMT_YUV420P;
    } else {
        const int bits = picture.mPixelCode == kComposeBgr24    ? 24
                         : picture.mPixelCode == kComposeRgb565 ? 16
                                                                : 32;
        region->mPixelBytes = bits / 8;
        const int stride =
            picture.mStride ? picture.mStride : int((int64_t(picture.mWidth) * bits + 31) / 32 * 4);
        const int memoryRow = bottomUp ? rows - 1 - top : top;
        region->mpPlanes[0] =
            picture.mpData + int64_t(memoryRow) * stride + int64_t(source.left) * region->mPixelBytes;
        region->mStrides[0] = bottomUp ? -stride : stride;
        SafePlaneRows(picture.mBytes, 0, stride, rows, bottomUp, &safeBegin, &safeEnd);
        region->mPlanes = 1;
        region->mFormat = bits == 24 ? AV_PIX_FMT_BGR24 : bits == 16 ? AV_PIX_FMT_RGB565LE : AV_PIX_FMT_BGRA;
    }
    // Into region rows; slices of 4:2:0 pictures start on even rows.
    int begin = std::clamp(safeBegin - top, 0, region->mHeight);
    int end = std::clamp(safeEnd - top, 0, region->mHeight);
    if (region->mPlanes == 3) {
        begin = (begin + 1) & ~1;
        if (end < region->mHeight)
            end &= ~1;
    }
    if (begin >= end)
        begin = end = 0;
    region->mDirectBegin = begin;
    region->mDirectEnd = end;
}

SwsContext* CComposeContext::Scaler(const SScalerKey& key) {
    ++mUseClock;
    for (SScaler& s : mScalers) {
        if (s.mKey == key) {
            s.mLastUse = mUseClock;
            return s.mpContext;
        }
    }
    const compose::SSwscaleApi* api = compose::Swscale();
    if (api == nullptr)
        return nullptr;
    SwsContext* context = api->getContext(key.mSrcWidth, key.mSrcHeight, AVPixelFormat(key.mSrcFormat),
                                         key.mDstWidth, key.mDstHeight, AVPixelFormat(key.mDstFormat),
                                         SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!context)
        return nullptr;
    ++mScalersMade;
    if (int(mScalers.size()) >= kMaxScalers) {
        auto oldest =
            std::min_element(mScalers.begin(), mScalers.end(),
                             [](const SScaler& a, const SScaler& b) { return a.mLastUse < b.mLastUse; });
        api->freeContext(oldest->mpContext);
        mScalers.erase(oldest);
    }
    mScalers.push_back(SScaler{key, context, mUseClock});
    return context;
}

uint8_t* CComposeContext::Scratch(EScratch use, size_t bytes) {
    std::vector<uint8_t>& block = mScratch[int(use)];
    // Room for libswscale's whole groups after the last row as well.
    const size_t wanted = bytes + kReadSlack + kScratchAlign;
    if (block.size() < wanted)
        block.resize(wanted);
    const uintptr_t p = reinterpret_cast<uintptr_t>(block.data());
    return block.data() + (kScratchAlign - p % kScratchAlign) % kScratchAlign;
}

CComposeContext::SRegion CComposeContext::ScratchRegion(int format, const uint8_t* const planes[3],
                                                        const int strides[3], int width, int height) {
    SRegion region{};
    region.mPlanes = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_GBRP ? 3 : 1;
    region.mChromaShift = format == AV_PIX_FMT_YUV420P ? 1 : 0;
    for (int p = 0; p < region.mPlanes; ++p) {
        region.mpPlanes[p] = planes[p];
        region.mStrides[p] = strides[p];
    }
    region.mFormat = format;
    region.mPixelBytes = format == AV_PIX_FMT_BGRA ? 4 : 0;
    region.mWidth = width;
    region.mHeight = height;
    region.mDirectBegin = 0;
    region.mDirectEnd = height;
    return region;
}

bool CComposeContext::Run(const SRegion& region, int dstWidth, int dstHeight, int dstFormat,
                          uint8_t* const dst[3], const int dstStrides[3]) {
    SwsContext* scaler =
        Scaler(SScalerKey{region.mWidth, region.mHeight, region.mFormat, dstWidth, dstHeight, dstFormat});
    if (!scaler)
        return false;
    const bool planar = region.mPlanes == 3;
    const bool unscaled = region.mWidth == dstWidth && region.mHeight == dstHeight;
    // Bytes of a region row per plane (chroma rounded up, as libswscale reads).
    const int shift = region.mChromaShift;
    const int chromaWidth = (region.mWidth + (1 << shift) - 1) >> shift;
    const int rowBytes[3] = {planar ? region.mWidth : region.mWidth * region.mPixelBytes, chromaWidth,
                             chromaWidth};
    const int slices[3][2] = {{0, region.mDirectBegin},
                              {region.mDirectBegin, region.mDirectEnd},
                              {region.mDirectEnd, region.mHeight}};
    uint8_t* const dstPlanes[4] = {dst[0], dst[1], dst[2], nullptr};
    const int dstStride[4] = {dstStrides[0], dstStrides[1], dstStrides[2], 0};
    for (int s = 0; s < 3; ++s) {
        const int first = slices[s][0];
        const int last = slices[s][1];
        if (first >= last)
            continue;
        const uint8_t* src[4] = {};
        int srcStrides[4] = {};
        for (int p = 0; p < region.mPlanes; ++p) {
            src[p] = region.mpPlanes[p] + int64_t(p == 0 ? first : first >> shift) * region.mStrides[p];
            srcStrides[p] = region.mStrides[p];
        }
        if (s != 1) {
            // Rows near the end of the buffer: copied to rows with room after
            // them before libswscale reads them.
            const int chromaRows = ((last + (1 << shift) - 1) >> shift) - (first >> shift);
            const int planeRows[3] = {last - first, chromaRows, chromaRows};
            int roomy[3] = {};
            size_t total = 0;
            for (int p = 0; p < region.mPlanes; ++p) {
                roomy[p] = RoomyStride(rowBytes[p]);
                total += size_t(roomy[p]) * size_t(planeRows[p]);
            }
            uint8_t* scratch = Scratch(EScratch::Slices, total);
            for (int p = 0; p < region.mPlanes; ++p) {
                CopyRows(src[p], srcStrides[p], scratch, roomy[p], rowBytes[p], planeRows[p]);
                src[p] = scratch;
                srcStrides[p] = roomy[p];
                scratch += size_t(roomy[p]) * size_t(planeRows[p]);
            }
        }
        // libswscale converts packed rows of one size as one block when the
        // strides are in the ratio of the pixel sizes, and so also the bytes
        // between the rows: on the surface, the pixels beside the rectangle.
        // Such rows go one at a time.
        const bool block = unscaled && !planar && dstFormat == AV_PIX_FMT_BGRA && srcStrides[0] > 0 &&
                           srcStrides[0] != rowBytes[0] &&
                           int64_t(dstStride[0]) * region.mPixelBytes == int64_t(srcStrides[0]) * 4;
        const int step = block ? 1 : last - first;
        for (int row = first; row < last; row += step) {
            const uint8_t* rowSrc[4] = {src[0] + int64_t(row - first) * srcStrides[0], src[1], src[2],
                                        nullptr};
            if (compose::Swscale()->scale(scaler, rowSrc, srcStrides, row, step, dstPlanes, dstStride) < 0)
                return false;
        }
    }
    return true;
}

bool CComposeContext::Convert(const SRegion& region, uint8_t* dst, int dstStride) {
    if (region.mFormat == AV_PIX_FMT_BGRA) {
        // Already the surface's format. (libswscale's own copy takes as many
        // bytes a row as both strides allow, past the rectangle.)
        CopyRows(region.mpPlanes[0], region.mStrides[0], dst, dstStride, region.mWidth * 4, region.mHeight);
        return true;
    }
    return ScaleInto(region, region.mWidth, region.mHeight, dst, dstStride);
}

bool CComposeContext::ScaleInto(const SRegion& region, int width, int height, uint8_t* dst, int dstStride) {
    const int rowBytes = width * 4;
    uint8_t* out = dst;
    int outStride = dstStride;
    const bool grouped = region.mFormat == AV_PIX_FMT_YUV420P && width % kYuvGroup != 0;
    if (grouped) {
        outStride = RoomyStride(rowBytes);
        out = Scratch(EScratch::Output, size_t(outStride) * size_t(height));
    }
    uint8_t* const planes[3] = {out, nullptr, nullptr};
    const int strides[3] = {outStride, 0, 0};
    if (!Run(region, width, height, AV_PIX_FMT_BGRA, planes, strides))
        return false;
    if (grouped)
        CopyRows(out, outStride, dst, dstStride, rowBytes, height);
    return true;
}

bool CComposeContext::Bgrx(const SRegion& region, const uint8_t** pixels, int* stride) {
    if (region.mFormat == AV_PIX_FMT_BGRA && reinterpret_cast<uintptr_t>(region.mpPlanes[0]) % 4 == 0 &&
        region.mStrides[0] % 4 == 0) {
        *pixels = region.mpPlanes[0];
        *stride = region.mStrides[0];
        return true;
    }
    *stride = RoomyStride(region.mWidth * 4);
    uint8_t* converted = Scratch(EScratch::Bgrx, size_t(*stride) * size_t(region.mHeight));
    *pixels = converted;
    return Convert(region, converted, *stride);
}

bool CComposeContext::Draw(const SComposePicture& picture, const RECT& source, uint8_t* dst, int dstStride,
                           int width, int height, EComposeFilter filter) {
    SRegion region;
    Region(picture, source, &region);
    if (region.mWidth <= 0 || region.mHeight <= 0 || width <= 0 || height <= 0)
        return false;
    if (region.mWidth == width && region.mHeight == height)
        return Convert(region, dst, dstStride);

    const bool enlarged = width >= region.mWidth && height >= region.mHeight;
    if (enlarged || filter == EComposeFilter::Point) {
        const uint8_t* pixels;
        int stride;
        return Bgrx(region, &pixels, &stride) && PixmanScale(pixels, stride, region.mWidth, region.mHeight,
                                                             dst, dstStride, width, height, filter);
    }

    // Shrunk: libswscale scales I420 into the surface, and RGB to planar
    // RGB (its RGB to packed RGB scaling is the slow one) from BGRA, the
    // picture's own or a conversion (its RGB565 and BGR24 readers are slow
    // too), which is then converted into the surface. An RGB picture at least
    // twice the size both ways is first halved by pixman: a bilinear sample
    // at an exact half lies between four pixels and averages them, a box
    // filter at a fraction of libswscale's cost on RGB.
    if (region.mPlanes == 3)
        return ScaleInto(region, width, height, dst, dstStride);
    SRegion from = region;
    if (region.mFormat != AV_PIX_FMT_BGRA || (region.mWidth >= 2 * width && region.mHeight >= 2 * height)) {
        const uint8_t* pixels;
        int stride;
        if (!Bgrx(region, &pixels, &stride))
            return false;
        int w = region.mWidth;
        int h = region.mHeight;
        for (EScratch half = EScratch::HalfA; w >= 2 * width && h >= 2 * height;
             half = half == EScratch::HalfA ? EScratch::HalfB : EScratch::HalfA) {
            const int halfStride = RoomyStride(w / 2 * 4);
            uint8_t* halved = Scratch(half, size_t(halfStride) * size_t(h / 2));
            if (!PixmanScale(pixels, stride, w, h, halved, halfStride, w / 2, h / 2,
                             EComposeFilter::Bilinear))
                return false;
            pixels = halved;
            stride = halfStride;
            w /= 2;
            h /= 2;
        }
        const uint8_t* planes[3] = {pixels, nullptr, nullptr};
        const int strides[3] = {stride, 0, 0};
        from = ScratchRegion(AV_PIX_FMT_BGRA, planes, strides, w, h);
        if (w == width && h == height)
            return Convert(from, dst, dstStride);
    }
    int strides[3];
    uint8_t* planes[3];
    const int stride = RoomyStride(width);
    uint8_t* shrunk = Scratch(EScratch::Shrunk, 3 * size_t(stride) * size_t(height));
    for (int p = 0; p < 3; ++p) {
        strides[p] = stride;
        planes[p] = shrunk + size_t(p) * size_t(stride) * size_t(height);
    }
    if (!Run(from, width, height, AV_PIX_FMT_GBRP, planes, strides))
        return false;
    const uint8_t* const shrunkPlanes[3] = {planes[0], planes[1], planes[2]};
    return Convert(ScratchRegion(AV_PIX_FMT_GBRP, shrunkPlanes, strides, width, height), dst, dstStride);
}

} // namespace os
