#include "os/compose/CKeyedOverlay.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace os {

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;
constexpr uint32_t kColour = 0x00FFFFFFu;

uint32_t LoadBgrx(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v & kColour;
}

uint32_t LoadBgr24(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
}

// First column from x on that is not the key. Most of a bitmap is the key, so
// four pixels are tested at a time.
int SkipKeyBgrx(const uint8_t* row, int x, int width, uint32_t key) {
    const uint64_t key2 = uint64_t(key) | uint64_t(key) << 32;
    const uint64_t mask2 = uint64_t(kColour) | uint64_t(kColour) << 32;
    for (; x + 4 <= width; x += 4) {
        uint64_t a, b;
        memcpy(&a, row + x * 4, 8);
        memcpy(&b, row + x * 4 + 8, 8);
        if (((a ^ key2) | (b ^ key2)) & mask2)
            break;
    }
    while (x < width && LoadBgrx(row + x * 4) == key)
        ++x;
    return x;
}

int SkipKeyBgr24(const uint8_t* row, int x, int width, const uint8_t (&key4)[12]) {
    for (; x + 4 <= width; x += 4)
        if (memcmp(row + x * 3, key4, 12) != 0)
            break;
    const uint32_t key = LoadBgr24(key4);
    while (x < width && LoadBgr24(row + x * 3) == key)
        ++x;
    return x;
}

// weight / 256 of the overlay, the rest of the video, per colour byte.
inline uint32_t Mix(uint32_t overlay, uint32_t video, uint32_t weight) {
    const uint32_t rest = 256 - weight;
    const uint32_t rb = ((overlay & 0xFF00FFu) * weight + (video & 0xFF00FFu) * rest) >> 8;
    const uint32_t g = ((overlay & 0x00FF00u) * weight + (video & 0x00FF00u) * rest) >> 8;
    return kOpaque | (rb & 0xFF00FFu) | (g & 0x00FF00u);
}

void MixRow(uint32_t* out, const uint32_t* overlay, int count, uint32_t weight) {
    if (weight >= 256) {
        memcpy(out, overlay, size_t(count) * 4);
        return;
    }
    for (int i = 0; i < count; ++i)
        out[i] = Mix(overlay[i], out[i], weight);
}

// The first target column (0 to size) whose nearest bitmap column is at
// least column, for a bitmap of width columns stretched over size.
int FirstColumn(int64_t column, int64_t width, int64_t size) {
    const int64_t numerator = 2 * column * size - width;
    if (numerator <= 0)
        return 0;
    return int(std::min<int64_t>((numerator + 2 * width - 1) / (2 * width), size));
}

} // namespace

bool CKeyedOverlay::Set(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                        EOverlayFormat format, COLORREF key) {
    Clear();
    if (!pixels || width <= 0 || height <= 0 || width > kComposeMaxDimension || height > kComposeMaxDimension)
        return false;
    const int pixelBytes = format == EOverlayFormat::Bgrx ? 4 : 3;
    if (stride > -width * pixelBytes && stride < width * pixelBytes)
        return false;
    const uint32_t keyPixel = uint32_t(GetRValue(key)) << 16 | uint32_t(GetGValue(key)) << 8 | GetBValue(key);
    uint8_t key4[12];
    for (int i = 0; i < 4; ++i) {
        key4[i * 3] = GetBValue(key);
        key4[i * 3 + 1] = GetGValue(key);
        key4[i * 3 + 2] = GetRValue(key);
    }
    mWidth = width;
    mHeight = height;
    mRowRuns.resize(size_t(height) + 1);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = pixels + int64_t(y) * stride;
        mRowRuns[y] = uint32_t(mRuns.size());
        int x = 0;
        while (true) {
            x = format == EOverlayFormat::Bgrx ? SkipKeyBgrx(row, x, width, keyPixel)
                                               : SkipKeyBgr24(row, x, width, key4);
            if (x >= width)
                break;
            const int begin = x;
            const uint32_t first = uint32_t(mPixels.size());
            for (; x < width; ++x) {
                const uint32_t colour =
                    format == EOverlayFormat::Bgrx ? LoadBgrx(row + x * 4) : LoadBgr24(row + x * 3);
                if (colour == keyPixel)
                    break;
                mPixels.push_back(kOpaque | colour);
            }
            mRuns.push_back(SRun{begin, x, first});
        }
    }
    mRowRuns[height] = uint32_t(mRuns.size());
    return true;
}

void CKeyedOverlay::SetAlpha(float alpha) {
    mAlpha = std::isnan(alpha) ? 0.0f : std::clamp(alpha, 0.0f, 1.0f);
}

void CKeyedOverlay::Clear() {
    // clear() keeps the capacity: the next bitmap, ten times a second, needs
    // no allocation.
    mWidth = mHeight = 0;
    mRowRuns.clear();
    mRuns.clear();
    mPixels.clear();
}

int CKeyedOverlay::AlphaWeight() const {
    return int(std::lround(mAlpha * 256.0f));
}

void CKeyedOverlay::Blend(const SComposeSurface& surface, const RECT& target, const RECT& clip) const {
    const int weight = AlphaWeight();
    if (mPixels.empty() || weight <= 0 || !surface.mpPixels)
        return;
    const int64_t targetWidth = int64_t(target.right) - target.left;
    const int64_t targetHeight = int64_t(target.bottom) - target.top;
    if (targetWidth <= 0 || targetHeight <= 0)
        return;
    const int left = std::max({target.left, clip.left, LONG(0)});
    const int right = std::min({target.right, clip.right, LONG(surface.mWidth)});
    const int top = std::max({target.top, clip.top, LONG(0)});
    const int bottom = std::min({target.bottom, clip.bottom, LONG(surface.mHeight)});
    if (left >= right || top >= bottom)
        return;
    // Target columns [columnFrom, columnTo) are written.
    const int columnFrom = left - target.left;
    const int columnTo = right - target.left;
    const bool sameWidth = targetWidth == mWidth;
    // Nearest bitmap column of target column c: ((2c + 1) x width) / (2 x
    // targetWidth), stepped without a division per pixel.
    const int64_t twice = 2 * targetWidth;
    const int64_t wholeStep = (2 * int64_t(mWidth)) / twice;
    const int64_t partStep = (2 * int64_t(mWidth)) % twice;
    for (int y = top; y < bottom; ++y) {
        const int64_t row = ((2 * int64_t(y - target.top) + 1) * mHeight) / (2 * targetHeight);
        uint32_t* out =
            reinterpret_cast<uint32_t*>(surface.mpPixels + int64_t(y) * surface.mStride) + target.left;
        for (uint32_t r = mRowRuns[row]; r < mRowRuns[row + 1]; ++r) {
            const SRun& run = mRuns[r];
            int from = sameWidth ? run.mBegin : FirstColumn(run.mBegin, mWidth, targetWidth);
            int to = sameWidth ? run.mEnd : FirstColumn(run.mEnd, mWidth, targetWidth);
            from = std::max(from, columnFrom);
            to = std::min(to, columnTo);
            if (from >= to)
                continue;
            if (sameWidth) {
                MixRow(out + from, &mPixels[run.mFirst + uint32_t(from - run.mBegin)], to - from, weight);
                continue;
            }
            int64_t source = ((2 * int64_t(from) + 1) * mWidth) / twice;
            int64_t remainder = ((2 * int64_t(from) + 1) * mWidth) % twice;
            for (int c = from; c < to; ++c) {
                const uint32_t pixel = mPixels[run.mFirst + uint32_t(source - run.mBegin)];
                out[c] = weight >= 256 ? pixel : Mix(pixel, out[c], weight);
                source += wholeStep;
                remainder += partStep;
                if (remainder >= twice) {
                    remainder -= twice;
                    ++source;
                }
            }
        }
    }
}

} // namespace os
