#include "os/gdi/Gdi.h"
#include "os/window/OffscreenWindow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

// A memory context with a white bitmap of w x h selected.
struct MemoryDC {
    HDC dc;
    HBITMAP bitmap;
    MemoryDC(int w, int h) {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateCompatibleBitmap(dc, w, h);
        SelectObject(dc, bitmap);
        RECT all{0, 0, w, h};
        FillRect(dc, &all, reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1)));
    }
    ~MemoryDC() {
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    // Bounds of the pixels that are not white; empty when all are.
    RECT Ink() const {
        const SIZE s = os::DcSize(dc);
        RECT r{s.cx, s.cy, -1, -1};
        for (int y = 0; y < s.cy; ++y)
            for (int x = 0; x < s.cx; ++x)
                if (GetPixel(dc, x, y) != RGB(255, 255, 255)) {
                    r.left = std::min<LONG>(r.left, x);
                    r.top = std::min<LONG>(r.top, y);
                    r.right = std::max<LONG>(r.right, x + 1);
                    r.bottom = std::max<LONG>(r.bottom, y + 1);
                }
        return r;
    }
    int Count(COLORREF c) const {
        const SIZE s = os::DcSize(dc);
        int n = 0;
        for (int y = 0; y < s.cy; ++y)
            for (int x = 0; x < s.cx; ++x)
                n += GetPixel(dc, x, y) == c;
        return n;
    }
};

void ExpectRect(const RECT& want, const RECT& got, const std::string& what) {
    EXPECT_EQ(want.left, got.left) << what;
    EXPECT_EQ(want.top, got.top) << what;
    EXPECT_EQ(want.right, got.right) << what;
    EXPECT_EQ(want.bottom, got.bottom) << what;
}

TEST(GdiTest, FillsAndLinesCoverExactlyTheirPixels) {
    const COLORREF red = RGB(255, 0, 0);
    struct Case {
        const char* what;
        int penWidth;
        POINT from, to;
        RECT ink;
    } cases[] = {
        {"fill", 0, {2, 3}, {7, 9}, {2, 3, 7, 9}},
        {"horizontal line stops before its end", 1, {1, 15}, {10, 15}, {1, 15, 10, 16}},
        {"vertical line", 1, {4, 2}, {4, 12}, {4, 2, 5, 12}},
        // Wide pens are centred on the line and have round ends.
        {"3-pixel line", 3, {5, 10}, {15, 10}, {4, 9, 17, 12}},
    };
    for (const Case& c : cases) {
        MemoryDC m(20, 20);
        HBRUSH brush = CreateSolidBrush(red);
        HPEN pen = CreatePen(PS_SOLID, c.penWidth, red);
        if (c.penWidth == 0) {
            RECT r{c.from.x, c.from.y, c.to.x, c.to.y};
            EXPECT_EQ(1, FillRect(m.dc, &r, brush));
            EXPECT_EQ((c.to.x - c.from.x) * (c.to.y - c.from.y), m.Count(red));
        } else {
            HGDIOBJ old = SelectObject(m.dc, pen);
            MoveToEx(m.dc, c.from.x, c.from.y, nullptr);
            LineTo(m.dc, c.to.x, c.to.y);
            SelectObject(m.dc, old);
        }
        ExpectRect(c.ink, m.Ink(), c.what);
        DeleteObject(pen);
        DeleteObject(brush);
    }
}

// The editors' outline: MoveToEx to the top left, four LineTo round - every
// pixel of the border, corners included, and nothing inside or outside.
TEST(GdiTest, AnOutlineOfFourLinesClosesAndRectangleFillsInside) {
    MemoryDC m(30, 30);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    SelectObject(m.dc, pen);
    MoveToEx(m.dc, 5, 5, nullptr);
    LineTo(m.dc, 20, 5);
    LineTo(m.dc, 20, 15);
    LineTo(m.dc, 5, 15);
    LineTo(m.dc, 5, 5);
    EXPECT_EQ(2 * 15 + 2 * 10, m.Count(RGB(0, 0, 0)));
    ExpectRect(RECT{5, 5, 21, 16}, m.Ink(), "outline");

    MemoryDC r(30, 30);
    HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
    SelectObject(r.dc, pen);
    SelectObject(r.dc, green);
    Rectangle(r.dc, 2, 2, 12, 8); // border on the rectangle's own last column and row
    ExpectRect(RECT{2, 2, 12, 8}, r.Ink(), "rectangle");
    EXPECT_EQ(2 * 10 + 2 * 4, r.Count(RGB(0, 0, 0)));
    EXPECT_EQ(8 * 4, r.Count(RGB(0, 255, 0)));
    SelectObject(r.dc, GetStockObject(BLACK_PEN));
    SelectObject(r.dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(green);
    DeleteObject(pen); // still selected in m: kept until m's context goes
}

TEST(GdiTest, TheSystemWindowColourIsWhite) {
    EXPECT_EQ(RGB(255, 255, 255), GetSysColor(COLOR_WINDOW));
    MemoryDC m(8, 8);
    RECT all{0, 0, 8, 8};
    FillRect(m.dc, &all, GetStockObject(BLACK_BRUSH));
    FillRect(m.dc, &all, GetSysColorBrush(COLOR_WINDOW));
    EXPECT_EQ(64, m.Count(RGB(255, 255, 255)));
    EXPECT_TRUE(DeleteObject(GetSysColorBrush(COLOR_WINDOW))); // shared: stays usable
    FillRect(m.dc, &all, GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(1, FillRect(m.dc, &all, GetSysColorBrush(COLOR_WINDOW)));
    EXPECT_EQ(64, m.Count(RGB(255, 255, 255)));
}

TEST(GdiTest, CourierNewComesOutAsLiberationMono) {
    MemoryDC m(8, 8);
    HFONT font = CreateFontA(45, 19, 0, 0, 600, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Courier New");
    SelectObject(m.dc, font);
    char face[64] = {};
    EXPECT_GT(GetTextFaceA(m.dc, sizeof face, face), 0);
    EXPECT_STREQ("Liberation Mono", face);
    SelectObject(m.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
}

// The caption worker makes and deletes its font ten times a second: a face
// shared through the cache must survive any number of fonts made from it.
TEST(GdiTest, FontsMadeAndDeletedOverAndOverKeepDrawing) {
    MemoryDC m(100, 40);
    for (int i = 0; i < 300; ++i) {
        HFONT font = CreateFontA(22, 9, 0, 0, 600, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Courier New");
        HGDIOBJ old = SelectObject(m.dc, font);
        RECT r{0, 0, 100, 40};
        ASSERT_GT(DrawTextA(m.dc, "x", -1, &r, DT_SINGLELINE), 0) << "pass " << i;
        SelectObject(m.dc, old);
        DeleteObject(font);
    }
    EXPECT_GT(m.Count(RGB(0, 0, 0)), 0);
}

// CreateFontA's numbers are the cell: a positive height is ascent +
// descent, the width the width of each character of a fixed-pitch face.
TEST(GdiTest, AFontCellHasTheHeightAndWidthItWasMadeWith) {
    struct Case {
        int height, width;
    } cases[] = {{45, 19}, {22, 9}, {33, 14}, {16, 0}};
    for (const Case& c : cases) {
        MemoryDC m(8, 8);
        HFONT font =
            CreateFontA(c.height, c.width, 0, 0, 600, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Courier New");
        SelectObject(m.dc, font);
        RECT r{0, 0, 0, 0};
        const int height = DrawTextA(m.dc, "Gate 01", -1, &r, DT_SINGLELINE | DT_CALCRECT);
        EXPECT_NEAR(c.height, height, 1) << c.height << "x" << c.width;
        EXPECT_EQ(height, r.bottom);
        if (c.width > 0)
            EXPECT_EQ(7 * c.width, r.right) << c.height << "x" << c.width;
        else
            // Liberation Mono's natural advance: 1229 of its 2320-unit cell, whole pixels.
            EXPECT_EQ(7 * std::lround(1229.0 * c.height / 2320), r.right) << "natural width";
        SelectObject(m.dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(font);
    }
}

TEST(GdiTest, DrawTextPlacesAndClipsTheLineByItsFlags) {
    struct Case {
        UINT format;
        int expectedResult;                        // -1: the line height
        bool inkLeft, inkRight, inkTop, inkBottom; // ink touches that side of the box
    } cases[] = {
        {DT_SINGLELINE, -1, true, false, true, false},
        {DT_SINGLELINE | DT_RIGHT | DT_BOTTOM, 80, false, true, false, true},
        {DT_SINGLELINE | DT_CENTER | DT_VCENTER, -2, false, false, false, false},
    };
    for (const Case& c : cases) {
        MemoryDC m(200, 100);
        HFONT font = CreateFontA(30, 12, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Courier New");
        SelectObject(m.dc, font);
        SetBkMode(m.dc, OPAQUE);
        SetBkColor(m.dc, RGB(0, 0, 255)); // the text cell shows as a blue box
        RECT box{10, 10, 190, 90};
        const int result = DrawTextA(m.dc, "ABCDE", -1, &box, c.format);
        const RECT ink = m.Ink();
        const int lineHeight = ink.bottom - ink.top;
        EXPECT_EQ(60, ink.right - ink.left) << c.format;
        EXPECT_EQ(c.inkLeft, ink.left == 10) << c.format;
        EXPECT_EQ(c.inkRight, ink.right == 190) << c.format;
        EXPECT_EQ(c.inkTop, ink.top == 10) << c.format;
        EXPECT_EQ(c.inkBottom, ink.bottom == 90) << c.format;
        if (c.expectedResult == -1)
            EXPECT_EQ(lineHeight, result);
        else if (c.expectedResult == -2)
            EXPECT_EQ(ink.bottom - 10, result); // offset from the box's top to the text's bottom
        else
            EXPECT_EQ(c.expectedResult, result);
        if (c.format & DT_CENTER) {
            EXPECT_EQ(100, (ink.left + ink.right) / 2);
            EXPECT_NEAR(50, (ink.top + ink.bottom) / 2, 1);
        }
        SelectObject(m.dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(font);
    }
    // Without DT_NOCLIP nothing leaves the box.
    MemoryDC m(200, 100);
    SetTextColor(m.dc, RGB(0, 0, 0));
    RECT tiny{0, 0, 5, 5};
    DrawTextW(m.dc, L"clipped text", -1, &tiny, DT_SINGLELINE);
    const RECT ink = m.Ink();
    EXPECT_LE(ink.right, 5);
    EXPECT_LE(ink.bottom, 5);
}

TEST(GdiTest, HandlesAreCheckedAndObjectsOutliveTheirDeletionWhileSelected) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 16, 16);
    ASSERT_NE(nullptr, SelectObject(dc, bitmap)); // gives back the 1 x 1 bitmap a context starts with
    // Deleted while selected (the overlay bitmap's order): drawing goes on.
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(bitmap));
    RECT all{0, 0, 16, 16};
    EXPECT_EQ(1, FillRect(dc, &all, GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(dc, 15, 15));
    // A bitmap lives in one context at a time.
    HDC other = CreateCompatibleDC(nullptr);
    HBITMAP shared = CreateCompatibleBitmap(dc, 4, 4);
    ASSERT_NE(nullptr, SelectObject(other, shared));
    EXPECT_EQ(nullptr, SelectObject(dc, shared));
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_FALSE(DeleteDC(dc));
    EXPECT_EQ(CLR_INVALID, GetPixel(dc, 0, 0));
    EXPECT_EQ(0, FillRect(dc, &all, GetStockObject(BLACK_BRUSH)));
    EXPECT_TRUE(DeleteDC(other));
    EXPECT_TRUE(DeleteObject(shared));
    // Sizes beyond the limits, or empty, give no bitmap.
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(nullptr, 0, 10));
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(nullptr, os::kMaxBitmapSide + 1, 1));
}

TEST(GdiTest, AWindowContextDrawsIntoItsOwnPartOfTheSurface) {
    os::OffscreenWindow top(100, 100);
    HWND child = top.CreateChild(RECT{50, 50, 100, 100});
    const uint64_t before = top.InvalidateCount();
    HDC dc = GetDC(child);
    EXPECT_EQ(50, os::DcSize(dc).cx);
    RECT huge{-100, -100, 1000, 1000};
    FillRect(dc, &huge, GetStockObject(WHITE_BRUSH));
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 4, 4);
    EXPECT_EQ(nullptr, SelectObject(dc, bitmap)) << "windows hold no bitmaps";
    DeleteObject(bitmap);
    EXPECT_EQ(0, ReleaseDC(&top, dc)) << "released for the wrong window";
    EXPECT_EQ(1, ReleaseDC(child, dc));
    EXPECT_GT(top.InvalidateCount(), before);
    const std::vector<uint8_t> pixels = top.Snapshot();
    auto at = [&](int x, int y) { return pixels[(y * 100 + x) * 4]; };
    EXPECT_EQ(255, at(50, 50));
    EXPECT_EQ(255, at(99, 99));
    EXPECT_EQ(0, at(49, 99));
    EXPECT_EQ(0, at(99, 49));
}

// The overlay painter thread and the host's thread paint into one context
// while the mixer copies it: each call is whole.
TEST(GdiTest, ThreadsShareAContextCallByCall) {
    MemoryDC m(64, 64);
    auto painter = [&](COLORREF colour) {
        HBRUSH brush = CreateSolidBrush(colour);
        for (int i = 0; i < 200; ++i) {
            RECT all{0, 0, 64, 64};
            FillRect(m.dc, &all, brush);
            RECT text{0, 0, 64, 64};
            DrawTextA(m.dc, "x", 1, &text, DT_SINGLELINE);
        }
        DeleteObject(brush);
    };
    std::thread a(painter, RGB(10, 20, 30));
    std::thread b(painter, RGB(40, 50, 60));
    std::vector<uint8_t> copy(64 * 64 * 4);
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(os::CopyDcPixels(m.dc, RECT{0, 0, 64, 64}, copy.data(), 64 * 4));
    a.join();
    b.join();
    EXPECT_FALSE(os::CopyDcPixels(m.dc, RECT{0, 0, 65, 64}, copy.data(), 65 * 4)) << "beyond the bitmap";
}

} // namespace
