#include "Picture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace camsim {

namespace {

// 5x7 glyphs, one byte per row, bit 4 the leftmost column.
struct Glyph {
    char c;
    uint8_t rows[7];
};

const Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
};

const uint8_t* GlyphRows(char c) {
    for (const Glyph& g : kFont)
        if (g.c == c)
            return g.rows;
    return nullptr; // blank
}

int Even(int value) {
    return std::clamp(value, Picture::kMinSide, Picture::kMaxSide) & ~1;
}

// Colour bars as (U, V) pairs; each channel starts at another bar so that
// channels look different.
const uint8_t kBars[8][2] = {{128, 128}, {16, 146}, {166, 16},  {54, 34},
                             {202, 222}, {90, 240}, {240, 110}, {128, 128}};

// Division rounding down, so that the view's offsets left of and above the
// centre step like those right of and below it.
int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0))
        --q;
    return q;
}

// The pattern repeats every picture width and height: the scene has no edge
// a pan could run into.
int Wrap(int64_t value, int size) {
    const int64_t r = value % size;
    return static_cast<int>(r < 0 ? r + size : r);
}

// Grey of the privacy masks.
constexpr uint8_t kMaskLuma = 96;

} // namespace

Picture::Picture(int width, int height) : mWidth(Even(width)), mHeight(Even(height)) {
    mPlanes[0].assign(static_cast<size_t>(mWidth) * mHeight, 16);
    mPlanes[1].assign(static_cast<size_t>(mWidth / 2) * (mHeight / 2), 128);
    mPlanes[2].assign(static_cast<size_t>(mWidth / 2) * (mHeight / 2), 128);
}

void Picture::Fill(int left, int top, int right, int bottom, uint8_t y, uint8_t u, uint8_t v) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, mWidth);
    bottom = std::min(bottom, mHeight);
    for (int row = top; row < bottom; ++row)
        if (right > left)
            std::memset(&mPlanes[0][static_cast<size_t>(row) * mWidth + left], y, right - left);
    for (int row = top / 2; row < (bottom + 1) / 2; ++row) {
        for (int col = left / 2; col < (right + 1) / 2; ++col) {
            mPlanes[1][static_cast<size_t>(row) * (mWidth / 2) + col] = u;
            mPlanes[2][static_cast<size_t>(row) * (mWidth / 2) + col] = v;
        }
    }
}

void Picture::Text(int left, int top, int scale, const std::string& text) {
    const int advance = 6 * scale;
    // A dark box behind the text keeps it readable over the moving pattern.
    Fill(left - scale, top - scale, left + advance * static_cast<int>(text.size()) + scale, top + 8 * scale,
         16, 128, 128);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t* rows = GlyphRows(text[i]);
        if (!rows)
            continue;
        for (int r = 0; r < 7; ++r)
            for (int c = 0; c < 5; ++c)
                if (rows[r] & (0x10 >> c)) {
                    int x = left + static_cast<int>(i) * advance + c * scale;
                    int y = top + r * scale;
                    Fill(x, y, x + scale, y + scale, 235, 128, 128);
                }
    }
}

void Picture::Look(int top, int bottom, const Scene& scene) {
    const int w = mWidth;
    const int h = bottom - top;
    if (h <= 0 || !scene.Moved())
        return;
    const int64_t zoom = std::max(scene.zoom, 1);
    // Where each picture column and row of the region looks in the pattern:
    // magnified around the centre, then moved by the view.
    std::vector<int> cols(static_cast<size_t>(w));
    std::vector<int> rows(static_cast<size_t>(h));
    for (int x = 0; x < w; ++x)
        cols[x] = Wrap(FloorDiv(int64_t(x - w / 2) * Scene::kZoomHome, zoom) + w / 2 + scene.pan, w);
    for (int y = 0; y < h; ++y)
        rows[y] = Wrap(FloorDiv(int64_t(y - h / 2) * Scene::kZoomHome, zoom) + h / 2 + scene.tilt, h);
    uint8_t* luma = mPlanes[0].data();
    mScratch.assign(luma + static_cast<size_t>(top) * w, luma + static_cast<size_t>(bottom) * w);
    for (int y = 0; y < h; ++y) {
        uint8_t* dst = luma + static_cast<size_t>(top + y) * w;
        const uint8_t* src = mScratch.data() + static_cast<size_t>(rows[y]) * w;
        for (int x = 0; x < w; ++x)
            dst[x] = src[cols[x]];
    }
    const int cw = w / 2;
    const int ctop = top / 2;
    const int cbottom = std::min((bottom + 1) / 2, mHeight / 2);
    const int ch = cbottom - ctop;
    if (cw <= 0 || ch <= 0)
        return;
    for (int plane = 1; plane <= 2; ++plane) {
        uint8_t* chroma = mPlanes[plane].data();
        mScratch.assign(chroma + static_cast<size_t>(ctop) * cw, chroma + static_cast<size_t>(cbottom) * cw);
        for (int y = 0; y < ch; ++y) {
            const int sy = std::min(rows[std::min(2 * y, h - 1)] / 2, ch - 1);
            uint8_t* dst = chroma + static_cast<size_t>(ctop + y) * cw;
            const uint8_t* src = mScratch.data() + static_cast<size_t>(sy) * cw;
            for (int x = 0; x < cw; ++x)
                dst[x] = src[std::min(cols[2 * x] / 2, cw - 1)];
        }
    }
}

void Picture::Blank(int top, int bottom, const Scene& scene) {
    if (scene.maskColumns <= 0 || scene.maskRows <= 0)
        return;
    const int64_t h = bottom - top;
    for (const Scene::Mask& m : scene.masks) {
        if (m.x1 > m.x2 || m.y1 > m.y2 || m.x1 >= scene.maskColumns || m.y1 >= scene.maskRows)
            continue;
        // Cell corners to pixels; the masks stay put on the screen while the
        // view moves, as the device paints them over its picture.
        const int left = static_cast<int>(int64_t(m.x1) * mWidth / scene.maskColumns);
        const int right =
            static_cast<int>(int64_t(std::min(m.x2 + 1, scene.maskColumns)) * mWidth / scene.maskColumns);
        const int y1 = top + static_cast<int>(int64_t(m.y1) * h / scene.maskRows);
        const int y2 =
            top + static_cast<int>(int64_t(std::min(m.y2 + 1, scene.maskRows)) * h / scene.maskRows);
        Fill(left, y1, right, std::min(y2, bottom), kMaskLuma, 128, 128);
    }
}

void Picture::DrawRegion(int top, int bottom, int channel, uint32_t frame, const std::string& clock,
                         const Scene& scene) {
    const int height = bottom - top;
    if (height <= 0)
        return;
    uint8_t* luma = mPlanes[0].data();
    // A still scene shows its first picture's pattern for ever.
    const uint32_t motion = scene.still ? 0 : frame;
    const uint32_t shift = motion * 4;
    for (int y = top; y < bottom; ++y) {
        uint8_t* row = luma + static_cast<size_t>(y) * mWidth;
        for (int x = 0; x < mWidth; ++x)
            row[x] = static_cast<uint8_t>(32 + ((static_cast<uint32_t>(x + y) + shift) & 127));
    }
    const int barWidth = std::max(mWidth / 8, 1);
    for (int b = 0; b < 8; ++b) {
        const uint8_t* bar = kBars[(b + channel) % 8];
        for (int y = top / 2; y < (bottom + 1) / 2; ++y)
            for (int x = b * barWidth / 2; x < std::min((b + 1) * barWidth, mWidth) / 2; ++x) {
                mPlanes[1][static_cast<size_t>(y) * (mWidth / 2) + x] = bar[0];
                mPlanes[2][static_cast<size_t>(y) * (mWidth / 2) + x] = bar[1];
            }
    }
    // Fine texture in a block that walks across: it costs the encoders real
    // bits, as a scene with detail does.
    const int block = std::max(std::min(mWidth, height) / 4, 8);
    const int span = std::max(mWidth - block, 1);
    const int bx = static_cast<int>((motion * 3) % static_cast<uint32_t>(span));
    const int by = top + height / 2 - block / 2;
    uint32_t seed = 0x9E3779B9u * (static_cast<uint32_t>(channel) + 1);
    for (int y = std::max(by, top); y < std::min(by + block, bottom); ++y) {
        for (int x = bx; x < std::min(bx + block, mWidth); ++x) {
            seed = seed * 1664525u + 1013904223u;
            luma[static_cast<size_t>(y) * mWidth + x] = static_cast<uint8_t>(16 + (seed >> 24) % 220);
        }
    }
    Look(top, bottom, scene);
    Blank(top, bottom, scene);
    const int scale = std::max(1, height / 80);
    const int line = 9 * scale;
    if (scene.still || height < 3 * line + 2 * scale)
        return;
    char text[32];
    std::snprintf(text, sizeof(text), "CH %02d", channel);
    Text(2 * scale, top + scale, scale, text);
    std::snprintf(text, sizeof(text), "#%06u", frame % 1000000u);
    Text(2 * scale, top + scale + line, scale, text);
    Text(2 * scale, top + scale + 2 * line, scale, clock);
}

void Picture::Draw(int channel, uint32_t frame, const std::string& clock, const Scene& scene) {
    DrawRegion(0, mHeight, channel, frame, clock, scene);
}

void Picture::DrawDual(int oddChannel, uint32_t frame, const std::string& clock, const Scene& scene) {
    const int half = (mHeight - kBandRows) / 2;
    Fill(0, 0, mWidth, mHeight, 16, 128, 128);
    DrawRegion(kBandRows, half, oddChannel + 1, frame, clock, scene);
    DrawRegion(half + kBandRows, mHeight, oddChannel, frame, clock, scene);
}

} // namespace camsim
