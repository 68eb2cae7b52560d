#include "os/compose/CComposeContext.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libswscale/swscale.h>
}

namespace os {

namespace {

constexpr int kScratchAlign = 64;

int RoomyStride(int rowBytes) {
    return (rowBytes + CComposeContext::kReadSlack + kScratchAlign - 1) / kScratchAlign * kScratchAlign;
}

// Safe rows of one plane, in its own top-down row numbers: a row may be read
// in place when kReadSlack bytes after its end still lie inside the buffer.
void SafePlaneRows(int64_t bytes, int64_t offset, int64_t rowBytes, int rows, bool bottomUp, int* begin,
                   int* end) {
    int64_t room = bytes - CComposeContext::kReadSlack - offset;
    int64_t safe = room <= 0 || rowBytes <= 0 ? 0 : std::min<int64_t>(room / rowBytes, rows);
    // Memory rows [0, safe) are safe; bottom-up, memory row m is row rows-1-m.
    *begin = bottomUp ? rows - int(safe) : 0;
    *end = bottomUp ? rows : int(safe);
}

} // namespace

CComposeContext::CComposeContext() = default;

CComposeContext::~CComposeContext() {
    for (SScaler& s : mScalers)
        sws_freeContext(s.mpContext);
}

int CComposeContext::ScalerCount() {
    std::lock_guard<std::mutex> lock(mLock);
    return int(mScalers.size());
}

int64_t CComposeContext::ScalersMade() {
    std::lock_guard<std::mutex> lock(mLock);
    return mScalersMade;
}

bool CComposeContext::Region(const SComposePicture& picture, const RECT& source, SRegion* region) {
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
        region->mFormat = AV_PIX_FMT_YUV420P;
    } else {
        int bits = picture.mPixelCode == kComposeBgr24 ? 24 : picture.mPixelCode == kComposeRgb565 ? 16 : 32;
        region->mPixelBytes = bits / 8;
        const int stride =
            picture.mStride ? picture.mStride : int((int64_t(picture.mWidth) * bits + 31) / 32 * 4);
        const int memoryRow = bottomUp ? rows - 1 - top : top;
        region->mpPlanes[0] =
            picture.mpData + int64_t(memoryRow) * stride + int64_t(source.left) * region->mPixelBytes;
        region->mStrides[0] = bottomUp ? -stride : stride;
        SafePlaneRows(picture.mBytes, 0, stride, rows, bottomUp, &safeBegin, &safeEnd);
        region->mPlanes = 1;
        region->mFormat = picture.mPixelCode == kComposeBgr24    ? AV_PIX_FMT_BGR24
                          : picture.mPixelCode == kComposeRgb565 ? AV_PIX_FMT_RGB565LE
                                                                 : AV_PIX_FMT_BGRA;
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
    return region->mWidth > 0 && region->mHeight > 0;
}

SwsContext* CComposeContext::Scaler(const SScalerKey& key) {
    ++mUseClock;
    for (SScaler& s : mScalers) {
        if (s.mKey == key) {
            s.mLastUse = mUseClock;
            return s.mpContext;
        }
    }
    SwsContext* context =
        sws_getContext(key.mSrcWidth, key.mSrcHeight, AVPixelFormat(key.mSrcFormat), key.mDstWidth,
                       key.mDstHeight, AV_PIX_FMT_BGRA, key.mFlags, nullptr, nullptr, nullptr);
    if (!context)
        return nullptr;
    ++mScalersMade;
    if (int(mScalers.size()) >= kMaxScalers) {
        auto oldest =
            std::min_element(mScalers.begin(), mScalers.end(),
                             [](const SScaler& a, const SScaler& b) { return a.mLastUse < b.mLastUse; });
        sws_freeContext(oldest->mpContext);
        mScalers.erase(oldest);
    }
    mScalers.push_back(SScaler{key, context, mUseClock});
    return context;
}

uint8_t* CComposeContext::Scratch(size_t bytes) {
    if (mScratch.size() < bytes + kScratchAlign)
        mScratch.resize(bytes + kScratchAlign);
    uintptr_t p = reinterpret_cast<uintptr_t>(mScratch.data());
    return mScratch.data() + ((kScratchAlign - p % kScratchAlign) % kScratchAlign);
}

bool CComposeContext::Run(SwsContext* scaler, const SRegion& region, int column, int columns, uint8_t* dst,
                          int dstStride) {
    const bool planar = region.mPlanes == 3;
    // Bytes of one row of the columns read, and where they start, per plane.
    int rowBytes[3] = {planar ? columns : columns * region.mPixelBytes, (columns + 1) / 2, (columns + 1) / 2};
    int columnOffset[3] = {planar ? column : column * region.mPixelBytes, column / 2, column / 2};
    const int slices[3][2] = {{0, region.mDirectBegin},
                              {region.mDirectBegin, region.mDirectEnd},
                              {region.mDirectEnd, region.mHeight}};
    uint8_t* const dstPlanes[4] = {dst, nullptr, nullptr, nullptr};
    const int dstStrides[4] = {dstStride, 0, 0, 0};
    for (int s = 0; s < 3; ++s) {
        const int first = slices[s][0];
        const int last = slices[s][1];
        if (first >= last)
            continue;
        const uint8_t* src[4] = {};
        int srcStrides[4] = {};
        for (int p = 0; p < region.mPlanes; ++p) {
            const int planeFirst = p == 0 ? first : first / 2;
            src[p] = region.mpPlanes[p] + int64_t(planeFirst) * region.mStrides[p] + columnOffset[p];
            srcStrides[p] = region.mStrides[p];
        }
        if (s != 1) {
            // Rows near the end of the buffer: copied to rows with room after
            // them before libswscale reads them.
            int planeRows[3] = {last - first, (last + 1) / 2 - first / 2, (last + 1) / 2 - first / 2};
            int roomy[3] = {};
            size_t total = 0;
            for (int p = 0; p < region.mPlanes; ++p) {
                roomy[p] = RoomyStride(rowBytes[p]);
                total += size_t(roomy[p]) * planeRows[p];
            }
            uint8_t* scratch = Scratch(total);
            for (int p = 0; p < region.mPlanes; ++p) {
                for (int r = 0; r < planeRows[p]; ++r)
                    memcpy(scratch + size_t(r) * roomy[p], src[p] + int64_t(r) * srcStrides[p], rowBytes[p]);
                src[p] = scratch;
                srcStrides[p] = roomy[p];
                scratch += size_t(roomy[p]) * planeRows[p];
            }
        }
        if (sws_scale(scaler, src, srcStrides, first, last - first, dstPlanes, dstStrides) < 0)
            return false;
    }
    return true;
}

bool CComposeContext::Scale(const SComposePicture& picture, const RECT& source, uint8_t* dst, int dstStride,
                            int width, int height, EComposeFilter filter) {
    SRegion region;
    if (!Region(picture, source, &region))
        return false;
    const int flags = filter == EComposeFilter::Point ? SWS_POINT : SWS_BILINEAR;
    // libswscale's unscaled I420 to BGRA conversion writes whole groups of
    // kYuvGroup pixels: on a row whose width is not a multiple of that it
    // would paint over the pixels to the right of the rectangle (another
    // channel's window in a grid). The whole groups go through it, the rest
    // of the columns through the exact, general path.
    int groups = width;
    if (region.mPlanes == 3 && region.mWidth == width && region.mHeight == height && height % 2 == 0)
        groups = width / kYuvGroup * kYuvGroup;
    if (groups > 0) {
        SwsContext* main = Scaler(SScalerKey{groups == width ? region.mWidth : groups, region.mHeight,
                                             region.mFormat, groups, height, flags});
        if (!main || !Run(main, region, 0, groups == width ? region.mWidth : groups, dst, dstStride))
            return false;
    }
    if (groups < width) {
        const int rest = width - groups;
        SwsContext* tail =
            Scaler(SScalerKey{rest, region.mHeight, region.mFormat, rest, height, flags | SWS_ACCURATE_RND});
        if (!tail || !Run(tail, region, groups, rest, dst + int64_t(groups) * 4, dstStride))
            return false;
    }
    return true;
}

} // namespace os
