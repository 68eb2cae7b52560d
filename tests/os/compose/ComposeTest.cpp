// The compositing function on pictures made here, in every pixel code and
// both row orders: where the picture and the letterbox bars land, what the
// source rectangle keeps, what the overlay's colour key and alpha do, that
// nothing outside the destination is written, that pictures ending at the
// edge of a mapping are read safely, and one context shared by threads.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "os/compose/CComposeContext.h"
#include "os/compose/CKeyedOverlay.h"
#include "os/compose/Compose.h"

using namespace os;

namespace {

struct Rgb {
    int r, g, b;
};
using Painter = std::function<Rgb(int x, int y)>;

constexpr uint32_t kSentinel = 0x5A123456u;
constexpr int32_t kCodes[] = {kComposeBgra, kComposeBgr24, kComposeRgb565, kComposeI420};

// Colour levels a pixel code keeps: RGB565 drops 3 bits, I420 goes through
// video-range YCbCr.
int Tolerance(int32_t code) {
    return code == kComposeRgb565 ? 8 : code == kComposeI420 ? 6 : 1;
}

std::string Name(int32_t code, bool bottomUp) {
    return std::string(code == kComposeBgr24    ? "BGR24"
                       : code == kComposeRgb565 ? "RGB565"
                       : code == kComposeI420   ? "I420"
                                                : "BGRA") +
           (bottomUp ? " bottom-up" : " top-down");
}

// A picture as a decoder lays it out, painted pixel by pixel (I420 chroma
// from the top-left pixel of each 2 x 2 block, BT.601 video range).
std::vector<uint8_t> MakePicture(int32_t code, int width, int height, bool bottomUp, const Painter& paint) {
    auto row = [&](int y) { return bottomUp ? height - 1 - y : y; };
    if (code == kComposeI420) {
        const int cw = width / 2, ch = height / 2;
        std::vector<uint8_t> out(size_t(width) * height + 2 * size_t(cw) * ch);
        uint8_t* u = out.data() + size_t(width) * height;
        uint8_t* v = u + size_t(cw) * ch;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                Rgb c = paint(x, y);
                out[size_t(row(y)) * width + x] =
                    uint8_t(std::lround(16 + (65.481 * c.r + 128.553 * c.g + 24.966 * c.b) / 255));
                if (x % 2 == 0 && y % 2 == 0 && x / 2 < cw && y / 2 < ch) {
                    const size_t at = size_t(bottomUp ? ch - 1 - y / 2 : y / 2) * cw + x / 2;
                    u[at] = uint8_t(std::lround(128 + (-37.797 * c.r - 74.203 * c.g + 112.0 * c.b) / 255));
                    v[at] = uint8_t(std::lround(128 + (112.0 * c.r - 93.786 * c.g - 18.214 * c.b) / 255));
                }
            }
        return out;
    }
    const int bytes = code == kComposeBgr24 ? 3 : code == kComposeRgb565 ? 2 : 4;
    const int stride = (width * bytes + 3) / 4 * 4;
    std::vector<uint8_t> out(size_t(stride) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Rgb c = paint(x, y);
            uint8_t* p = out.data() + size_t(row(y)) * stride + size_t(x) * bytes;
            if (code == kComposeRgb565) {
                const unsigned w = unsigned(c.r >> 3) << 11 | unsigned(c.g >> 2) << 5 | unsigned(c.b >> 3);
                p[0] = uint8_t(w);
                p[1] = uint8_t(w >> 8);
                continue;
            }
            p[0] = uint8_t(c.b), p[1] = uint8_t(c.g), p[2] = uint8_t(c.r);
            if (bytes == 4)
                p[3] = 255;
        }
    return out;
}

SComposePicture View(const std::vector<uint8_t>& data, int32_t code, int width, int height, bool bottomUp) {
    SComposePicture p;
    p.mpData = data.data();
    p.mBytes = int64_t(data.size());
    p.mPixelCode = code;
    p.mWidth = width;
    p.mHeight = bottomUp ? height : -height;
    return p;
}

struct Canvas {
    int mWidth, mHeight;
    std::vector<uint32_t> mPixels;
    Canvas(int width, int height, uint32_t fill = kSentinel)
        : mWidth(width), mHeight(height), mPixels(size_t(width) * height, fill) {}
    SComposeSurface Surface() {
        return SComposeSurface{reinterpret_cast<uint8_t*>(mPixels.data()), mWidth, mHeight, mWidth * 4};
    }
    uint32_t At(int x, int y) const { return mPixels[size_t(y) * mWidth + x]; }
};

bool Near(uint32_t pixel, Rgb c, int tolerance) {
    return std::abs(int(pixel >> 16 & 255) - c.r) <= tolerance &&
           std::abs(int(pixel >> 8 & 255) - c.g) <= tolerance &&
           std::abs(int(pixel & 255) - c.b) <= tolerance;
}

bool Inside(const RECT& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Every pixel of the canvas outside rect still holds the sentinel.
int WrittenOutside(const Canvas& canvas, const RECT& rect) {
    int written = 0;
    for (int y = 0; y < canvas.mHeight; ++y)
        for (int x = 0; x < canvas.mWidth; ++x)
            written += !Inside(rect, x, y) && canvas.At(x, y) != kSentinel;
    return written;
}

constexpr Rgb kGreen{56, 200, 104};
const Painter kFlat = [](int, int) { return kGreen; };

// --- placement ---------------------------------------------------------------

TEST(ComposeTest, LetterboxBarsAreBlackAndThePictureCentred) {
    struct Case {
        const char* what;
        int width, height; // picture
        RECT source;
        int surfaceWidth, surfaceHeight;
        RECT destination;
        EComposeAspect aspect;
        RECT expected; // worked out by hand from the shapes
    } cases[] = {
        // clang-format off
        {"wide window: bars left and right", 640, 480, {}, 800, 400, {}, EComposeAspect::Letterbox,
         {133, 0, 666, 400}},
        {"tall window: bars above and below", 640, 480, {}, 640, 600, {}, EComposeAspect::Letterbox,
         {0, 60, 640, 540}},
        {"child rectangle of a larger surface", 352, 288, {}, 500, 400, {100, 50, 420, 290},
         EComposeAspect::Letterbox, {113, 50, 406, 290}},
        {"shape of the source rectangle, not the picture", 640, 480, {0, 0, 320, 480}, 640, 480, {},
         EComposeAspect::Letterbox, {160, 0, 480, 480}},
        {"same shape: no bars", 320, 240, {}, 640, 480, {}, EComposeAspect::Letterbox, {0, 0, 640, 480}},
        {"stretch fills the destination", 640, 480, {}, 500, 400, {10, 20, 310, 120}, EComposeAspect::Stretch,
         {10, 20, 310, 120}},
        {"destination clipped to the surface", 640, 480, {}, 300, 200, {-100, -50, 200, 150},
         EComposeAspect::Stretch, {0, 0, 200, 150}},
        // clang-format on
    };
    for (const Case& c : cases)
        for (int32_t code : kCodes)
            for (bool bottomUp : {true, false}) {
                SCOPED_TRACE(std::string(c.what) + ", " + Name(code, bottomUp));
                const auto data = MakePicture(code, c.width, c.height, bottomUp, kFlat);
                Canvas canvas(c.surfaceWidth, c.surfaceHeight);
                SComposeOptions options;
                options.mSource = c.source;
                options.mDestination = c.destination;
                options.mAspect = c.aspect;
                CComposeContext context;
                RECT shown{};
                ASSERT_TRUE(ComposePicture(context, View(data, code, c.width, c.height, bottomUp),
                                           canvas.Surface(), options, &shown));
                EXPECT_TRUE(Same(shown, c.expected))
                    << shown.left << "," << shown.top << "," << shown.right << "," << shown.bottom;
                const RECT destination =
                    c.destination.right > c.destination.left
                        ? RECT{std::max(0, int(c.destination.left)), std::max(0, int(c.destination.top)),
                               std::min(c.surfaceWidth, int(c.destination.right)),
                               std::min(c.surfaceHeight, int(c.destination.bottom))}
                        : RECT{0, 0, c.surfaceWidth, c.surfaceHeight};
                int wrong = 0;
                for (int y = destination.top; y < destination.bottom; ++y)
                    for (int x = destination.left; x < destination.right; ++x) {
                        const uint32_t p = canvas.At(x, y);
                        wrong += Inside(c.expected, x, y) ? !Near(p, kGreen, Tolerance(code))
                                                          : (p & 0xFFFFFF) != 0;
                    }
                EXPECT_EQ(wrong, 0);
                EXPECT_EQ(WrittenOutside(canvas, destination), 0);
            }
}

TEST(ComposeTest, SourceRectangleCrops) {
    // Four quadrants of 160 x 120, each its own colour.
    const Rgb quadrant[4] = {{200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {200, 200, 40}};
    const Painter quadrants = [&](int x, int y) { return quadrant[(y >= 120) * 2 + (x >= 160)]; };
    struct Case {
        const char* what;
        RECT source;
        int quadrant; // -1: the call fails
    } cases[] = {
        {"top left", {0, 0, 160, 120}, 0},
        {"top right", {160, 0, 320, 120}, 1},
        {"bottom left", {0, 120, 160, 240}, 2},
        {"bottom right, inner part", {200, 150, 300, 230}, 3},
        {"negative bottom counts as its magnitude", {160, 120, 320, -240}, 3},
        {"clipped to the picture", {180, 130, 900, 900}, 3},
        {"outside the picture", {400, 300, 500, 400}, -1},
    };
    for (const Case& c : cases)
        for (int32_t code : kCodes)
            for (bool bottomUp : {true, false}) {
                SCOPED_TRACE(std::string(c.what) + ", " + Name(code, bottomUp));
                const auto data = MakePicture(code, 320, 240, bottomUp, quadrants);
                Canvas canvas(200, 150);
                SComposeOptions options;
                options.mSource = c.source;
                CComposeContext context;
                const bool drawn =
                    ComposePicture(context, View(data, code, 320, 240, bottomUp), canvas.Surface(), options);
                ASSERT_EQ(drawn, c.quadrant >= 0);
                if (!drawn) {
                    EXPECT_EQ(WrittenOutside(canvas, RECT{0, 0, 0, 0}), 0);
                    continue;
                }
                int wrong = 0;
                for (uint32_t p : canvas.mPixels)
                    wrong += !Near(p, quadrant[c.quadrant], Tolerance(code));
                EXPECT_EQ(wrong, 0);
            }
}

// libswscale writes whole groups of pixels past a row's end on some paths
// and reads past the end of rows: neither may reach pixels of a neighbouring
// window, nor memory past the picture.
TEST(ComposeTest, NothingOutsideTheDestinationIsWritten) {
    struct Case {
        int width, height;
        RECT source;
        RECT destination;
        int canvasWidth; // 0: room of 40 pixels right of the destination
    } cases[] = {
        {642, 480, {}, {37, 5, 679, 485}, 0}, // unscaled, width not a multiple of 8
        {638, 480, {}, {37, 5, 675, 485}, 0}, // unscaled, 6 pixels over a group
        {10, 6, {}, {3, 3, 13, 9}, 0},        // unscaled, tiny
        {640, 480, {}, {11, 7, 344, 258}, 0}, // scaled down to an odd size
        {352, 288, {}, {1, 1, 706, 578}, 0},  // scaled up
        {640, 481, {}, {2, 2, 642, 483}, 0},  // odd height
        {640,
         480,
         {100, 50, 420, 290},
         {160, 120, 480, 360},
         640}, // unscaled crop, strides in the pixels' ratio
    };
    for (const Case& c : cases)
        for (int32_t code : kCodes)
            for (bool bottomUp : {true, false})
                for (EComposeFilter filter : {EComposeFilter::Bilinear, EComposeFilter::Point}) {
                    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + ", " +
                                 Name(code, bottomUp));
                    const auto data = MakePicture(code, c.width, c.height, bottomUp, kFlat);
                    Canvas canvas(c.canvasWidth ? c.canvasWidth : c.destination.right + 40,
                                  c.destination.bottom + 3);
                    SComposeOptions options;
                    options.mSource = c.source;
                    options.mDestination = c.destination;
                    options.mFilter = filter;
                    CComposeContext context;
                    ASSERT_TRUE(ComposePicture(context, View(data, code, c.width, c.height, bottomUp),
                                               canvas.Surface(), options));
                    EXPECT_EQ(WrittenOutside(canvas, c.destination), 0);
                }
}

// A picture whose buffer ends right before an unmapped page, with no room
// after it or a decoder's 8 bytes: composing must neither fault nor give
// other pixels than the same picture with room after it.
TEST(ComposeTest, PicturesEndingAtAMappingEdgeAreReadSafely) {
    const long page = sysconf(_SC_PAGESIZE);
    struct Case {
        int width, height, windowWidth, windowHeight;
    } cases[] = {
        {2, 2, 100, 100}, {6, 4, 6, 4}, {636, 480, 636, 480}, {640, 480, 801, 601}, {322, 240, 160, 120}};
    for (const Case& c : cases)
        for (int32_t code : kCodes)
            for (bool bottomUp : {true, false})
                for (int slack : {0, 8}) {
                    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + ", " +
                                 Name(code, bottomUp) + ", slack " + std::to_string(slack));
                    const auto data = MakePicture(code, c.width, c.height, bottomUp, [](int x, int y) {
                        return Rgb{x * 7 % 256, y * 5 % 256, (x + y) % 256};
                    });
                    const size_t bytes = data.size() + size_t(slack);
                    const size_t pages = (bytes + size_t(page) - 1) / size_t(page) + 1;
                    auto* map =
                        static_cast<uint8_t*>(mmap(nullptr, pages * size_t(page), PROT_READ | PROT_WRITE,
                                                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
                    ASSERT_NE(map, MAP_FAILED);
                    ASSERT_EQ(mprotect(map + (pages - 1) * size_t(page), size_t(page), PROT_NONE), 0);
                    uint8_t* edge = map + (pages - 1) * size_t(page) - bytes;
                    memcpy(edge, data.data(), data.size());
                    SComposePicture atEdge = View(data, code, c.width, c.height, bottomUp);
                    atEdge.mpData = edge;
                    atEdge.mBytes = int64_t(bytes);

                    std::vector<uint8_t> roomy(data);
                    roomy.resize(data.size() + 4096);
                    SComposePicture withRoom = View(roomy, code, c.width, c.height, bottomUp);
                    Canvas a(c.windowWidth, c.windowHeight), b(c.windowWidth, c.windowHeight);
                    CComposeContext context;
                    EXPECT_TRUE(ComposePicture(context, atEdge, a.Surface(), SComposeOptions{}));
                    EXPECT_TRUE(ComposePicture(context, withRoom, b.Surface(), SComposeOptions{}));
                    EXPECT_TRUE(a.mPixels == b.mPixels);
                    munmap(map, pages * size_t(page));
                }
}

TEST(ComposeTest, InvalidInputDrawsNothing) {
    const auto data = MakePicture(kComposeBgra, 64, 48, true, kFlat);
    struct Case {
        const char* what;
        std::function<void(SComposePicture&, SComposeSurface&)> spoil;
    } cases[] = {
        {"no data", [](SComposePicture& p, SComposeSurface&) { p.mpData = nullptr; }},
        {"no width", [](SComposePicture& p, SComposeSurface&) { p.mWidth = 0; }},
        {"no height", [](SComposePicture& p, SComposeSurface&) { p.mHeight = 0; }},
        {"too wide", [](SComposePicture& p, SComposeSurface&) { p.mWidth = kComposeMaxDimension + 1; }},
        {"pixel code 0", [](SComposePicture& p, SComposeSurface&) { p.mPixelCode = 0; }},
        {"buffer one byte short", [](SComposePicture& p, SComposeSurface&) { --p.mBytes; }},
        {"stride shorter than a row", [](SComposePicture& p, SComposeSurface&) { p.mStride = 64 * 4 - 4; }},
        {"surface stride shorter than a row", [](SComposePicture&, SComposeSurface& s) { s.mStride -= 4; }},
        {"no surface", [](SComposePicture&, SComposeSurface& s) { s.mpPixels = nullptr; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Canvas canvas(80, 60);
        SComposePicture picture = View(data, kComposeBgra, 64, 48, true);
        SComposeSurface surface = canvas.Surface();
        c.spoil(picture, surface);
        CComposeContext context;
        EXPECT_FALSE(ComposePicture(context, picture, surface, SComposeOptions{}));
        EXPECT_EQ(WrittenOutside(canvas, RECT{0, 0, 0, 0}), 0);
    }
}

// --- overlay -----------------------------------------------------------------

// An overlay bitmap of 160 x 120 cleared to white, with a box drawn in it.
struct OverlayBitmap {
    EOverlayFormat mFormat;
    int mBytes;
    std::vector<uint8_t> mPixels;
    explicit OverlayBitmap(EOverlayFormat format, uint8_t fourth = 0)
        : mFormat(format), mBytes(format == EOverlayFormat::Bgrx ? 4 : 3),
          mPixels(size_t(160) * 120 * mBytes, 255) {
        if (mBytes == 4)
            for (size_t i = 3; i < mPixels.size(); i += 4)
                mPixels[i] = fourth;
    }
    void Box(const RECT& r, Rgb c) {
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                uint8_t* p = &mPixels[(size_t(y) * 160 + x) * mBytes];
                p[0] = uint8_t(c.b), p[1] = uint8_t(c.g), p[2] = uint8_t(c.r);
            }
    }
    bool Into(CKeyedOverlay& overlay, COLORREF key) const {
        return overlay.Set(mPixels.data(), 160, 120, 160 * mBytes, mFormat, key);
    }
};

TEST(ComposeTest, OverlayKeyIsTransparentAndOtherColoursBlendByAlpha) {
    const Rgb video{40, 80, 120};
    const RECT box{40, 30, 100, 90};
    struct Case {
        const char* what;
        EOverlayFormat format;
        uint8_t fourth; // what GDI left in the fourth byte
        Rgb boxColour;  // none: a cleared bitmap
        bool drawBox;
        COLORREF key;
        float alpha;
        bool boxShows; // the box is blended (else the key hides it)
    } cases[] = {
        // clang-format off
        {"cleared bitmap, alpha 1", EOverlayFormat::Bgrx, 0, {}, false, CKeyedOverlay::kWhite, 1.0f, false},
        {"cleared bitmap, alpha 0.5", EOverlayFormat::Bgrx, 0, {}, false, CKeyedOverlay::kWhite, 0.5f, false},
        {"cleared bitmap, fourth byte 255", EOverlayFormat::Bgrx, 255, {}, false, CKeyedOverlay::kWhite, 1.0f, false},
        {"red box, alpha 1", EOverlayFormat::Bgrx, 0, {255, 0, 0}, true, CKeyedOverlay::kWhite, 1.0f, true},
        {"red box, alpha 0.5", EOverlayFormat::Bgrx, 0, {255, 0, 0}, true, CKeyedOverlay::kWhite, 0.5f, true},
        {"caption colour 0xFAFAFA is not the key", EOverlayFormat::Bgrx, 0, {250, 250, 250}, true,
         CKeyedOverlay::kWhite, 1.0f, true},
        {"24-bit bitmap, alpha 0.25", EOverlayFormat::Bgr24, 0, {0, 0, 255}, true, CKeyedOverlay::kWhite, 0.25f, true},
        {"alpha 0 shows nothing", EOverlayFormat::Bgrx, 0, {255, 0, 0}, true, CKeyedOverlay::kWhite, 0.0f, false},
        {"red key hides a red box, white then blends", EOverlayFormat::Bgrx, 0, {255, 0, 0}, true, 0x0000FF, 1.0f,
         false},
        // clang-format on
    };
    for (const Case& c : cases)
        for (int32_t code : {kComposeBgra, kComposeI420}) {
            SCOPED_TRACE(std::string(c.what) + ", " + Name(code, true));
            const auto data = MakePicture(code, 160, 120, true, [&](int, int) { return video; });
            Canvas plain(160, 120), blended(160, 120);
            CComposeContext context;
            ASSERT_TRUE(ComposePicture(context, View(data, code, 160, 120, true), plain.Surface(),
                                       SComposeOptions{}));

            OverlayBitmap bitmap(c.format, c.fourth);
            if (c.drawBox)
                bitmap.Box(box, c.boxColour);
            CKeyedOverlay overlay;
            ASSERT_TRUE(bitmap.Into(overlay, c.key));
            overlay.SetAlpha(c.alpha);
            SComposeOptions options;
            options.mpOverlay = &overlay;
            ASSERT_TRUE(
                ComposePicture(context, View(data, code, 160, 120, true), blended.Surface(), options));

            const bool whiteShows = c.key != CKeyedOverlay::kWhite && c.alpha > 0;
            int wrong = 0;
            for (int y = 0; y < 120; ++y)
                for (int x = 0; x < 160; ++x) {
                    const uint32_t under = plain.At(x, y);
                    const bool inBox = Inside(box, x, y);
                    Rgb top = inBox ? c.boxColour : Rgb{255, 255, 255};
                    const bool shows = inBox ? c.boxShows : whiteShows;
                    Rgb expected{int(under >> 16 & 255), int(under >> 8 & 255), int(under & 255)};
                    if (shows) {
                        auto mix = [&](int o, int v) {
                            return int(std::lround(c.alpha * o + (1 - c.alpha) * v));
                        };
                        expected =
                            Rgb{mix(top.r, expected.r), mix(top.g, expected.g), mix(top.b, expected.b)};
                    }
                    wrong += shows ? !Near(blended.At(x, y), expected, 1) : blended.At(x, y) != under;
                }
            EXPECT_EQ(wrong, 0);
        }
}

TEST(ComposeTest, OverlayStretchesOverThePictureOrItsOwnRectangle) {
    // A 4 x 2 bitmap of eight colours; no white, so every pixel shows.
    const Rgb colours[8] = {{10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0},
                            {0, 10, 0}, {0, 20, 0}, {0, 30, 0}, {0, 40, 0}};
    std::vector<uint8_t> bitmap(4 * 2 * 3);
    for (int i = 0; i < 8; ++i)
        bitmap[i * 3] = uint8_t(colours[i].b), bitmap[i * 3 + 1] = uint8_t(colours[i].g),
                   bitmap[i * 3 + 2] = uint8_t(colours[i].r);
    // Bottom-up rows given by the top row and a negative stride.
    std::vector<uint8_t> bottomUp(bitmap.size());
    memcpy(bottomUp.data(), bitmap.data() + 12, 12);
    memcpy(bottomUp.data() + 12, bitmap.data(), 12);
    struct Case {
        const char* what;
        const uint8_t* top;
        int stride;
        EComposeAspect aspect;
        RECT overlayRect;
        RECT covered; // where the bitmap's 4 x 2 cells lie
        RECT destination;
    } cases[] = {
        // clang-format off
        {"over the whole window", bitmap.data(), 12, EComposeAspect::Stretch, {}, {0, 0, 400, 200}, {0, 0, 400, 200}},
        {"over the picture inside the bars", bitmap.data(), 12, EComposeAspect::Letterbox, {}, {100, 0, 300, 200},
         {0, 0, 400, 200}},
        {"bottom-up bitmap", bottomUp.data() + 12, -12, EComposeAspect::Stretch, {}, {0, 0, 400, 200},
         {0, 0, 400, 200}},
        {"its own rectangle, clipped to the destination", bitmap.data(), 12, EComposeAspect::Stretch,
         {200, 100, 600, 300}, {200, 100, 600, 300}, {0, 0, 400, 200}},
        // clang-format on
    };
    const auto data = MakePicture(kComposeBgra, 200, 200, false, kFlat);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CKeyedOverlay overlay;
        ASSERT_TRUE(overlay.Set(c.top, 4, 2, c.stride, EOverlayFormat::Bgr24));
        Canvas canvas(400, 200);
        SComposeOptions options;
        options.mAspect = c.aspect;
        options.mpOverlay = &overlay;
        options.mOverlayRect = c.overlayRect;
        CComposeContext context;
        ASSERT_TRUE(
            ComposePicture(context, View(data, kComposeBgra, 200, 200, false), canvas.Surface(), options));
        const int cellWidth = (c.covered.right - c.covered.left) / 4;
        const int cellHeight = (c.covered.bottom - c.covered.top) / 2;
        int wrong = 0;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 400; ++x) {
                if (!Inside(c.covered, x, y))
                    continue;
                const int cell = (y - c.covered.top) / cellHeight * 4 + (x - c.covered.left) / cellWidth;
                wrong += !Near(canvas.At(x, y), colours[cell], 0);
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(WrittenOutside(canvas, c.destination), 0);
    }
}

// --- context -----------------------------------------------------------------

TEST(ComposeTest, ContextKeepsItsConvertersAcrossPictures) {
    const auto data = MakePicture(kComposeI420, 320, 240, true, kFlat);
    CComposeContext context;
    Canvas canvas(800, 600);
    SComposeOptions options;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(
            ComposePicture(context, View(data, kComposeI420, 320, 240, true), canvas.Surface(), options));
    EXPECT_EQ(context.ScalersMade(), 1);
    // Many source rectangles: the context keeps only the latest few.
    for (int w = 100; w < 100 + 4 * CComposeContext::kMaxScalers; w += 4) {
        options.mSource = RECT{0, 0, w, 100};
        ASSERT_TRUE(
            ComposePicture(context, View(data, kComposeI420, 320, 240, true), canvas.Surface(), options));
    }
    EXPECT_EQ(context.ScalersMade(), 1 + CComposeContext::kMaxScalers);
    EXPECT_EQ(context.ScalerCount(), CComposeContext::kMaxScalers);
}

// Renderers of a grid draw into one surface from their own threads, each
// into its own rectangle; one context shared by two of them serialises them.
TEST(ComposeTest, ThreadsComposeIntoTheirOwnRectangles) {
    const int kRounds = 30;
    const auto picture = MakePicture(kComposeI420, 320, 240, false, [](int x, int y) {
        return Rgb{x % 256, y % 256, (x * y) % 256};
    });
    Canvas expected(640, 240), shared(640, 240), own(640, 240);
    const RECT halves[2] = {{0, 0, 321, 240}, {321, 0, 640, 240}};
    for (const RECT& half : halves) {
        CComposeContext context;
        SComposeOptions options;
        options.mDestination = half;
        ASSERT_TRUE(ComposePicture(context, View(picture, kComposeI420, 320, 240, false), expected.Surface(),
                                   options));
    }
    CComposeContext one;
    CComposeContext separate[2];
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            SComposeOptions options;
            options.mDestination = halves[t];
            for (int i = 0; i < kRounds; ++i) {
                ComposePicture(one, View(picture, kComposeI420, 320, 240, false), shared.Surface(), options);
                ComposePicture(separate[t], View(picture, kComposeI420, 320, 240, false), own.Surface(),
                               options);
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_TRUE(shared.mPixels == expected.mPixels);
    EXPECT_TRUE(own.mPixels == expected.mPixels);
}

} // namespace
