#include "os/window/OffscreenWindow.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

namespace {

// A 2 x 2 grid of channels in one 640 x 480 window, as the host lays it out.
struct Grid {
    os::OffscreenWindow top{640, 480};
    HWND cell[4];
    Grid() {
        for (int i = 0; i < 4; ++i)
            cell[i] =
                top.CreateChild(RECT{(i % 2) * 320, (i / 2) * 240, (i % 2) * 320 + 320, (i / 2) * 240 + 240});
    }
};

TEST(WindowTest, ChildWindowsAreRectanglesOfTheParentSurface) {
    Grid g;
    RECT r{};
    ASSERT_TRUE(GetClientRect(g.cell[3], &r));
    EXPECT_EQ(320, r.right);
    EXPECT_EQ(240, r.bottom);
    EXPECT_EQ(&g.top, GetParent(g.cell[3]));
    {
        os::Window::SurfaceLock lock(g.cell[3]);
        const os::SurfaceView& v = lock.View();
        std::memset(v.pixels, 0x7F, 4); // top left pixel of the lower right channel
        v.pixels[(v.height - 1) * v.stride + (v.width - 1) * 4] = 0x33;
    }
    const std::vector<uint8_t> all = g.top.Snapshot();
    EXPECT_EQ(0x7F, all[(240 * 640 + 320) * 4]);
    EXPECT_EQ(0x33, all[(479 * 640 + 639) * 4]);
    EXPECT_EQ(0, all[(240 * 640 + 319) * 4]); // the neighbour to the left stays untouched
    // A child outside its parent is clipped to it, an empty one is refused.
    HWND clipped = g.top.CreateChild(RECT{600, 400, 700, 500});
    ASSERT_NE(nullptr, clipped);
    EXPECT_EQ(40, clipped->Width());
    EXPECT_EQ(nullptr, g.top.CreateChild(RECT{700, 0, 800, 10}));
}

TEST(WindowTest, ClientToScreenAddsTheChildOffsetAndTheWindowPosition) {
    Grid g;
    g.top.SetScreenPosition(100, 50);
    POINT p{10, 20};
    ASSERT_TRUE(ClientToScreen(g.cell[3], &p));
    EXPECT_EQ(100 + 320 + 10, p.x);
    EXPECT_EQ(50 + 240 + 20, p.y);
    ASSERT_TRUE(ScreenToClient(g.cell[3], &p));
    EXPECT_EQ(10, p.x);
    EXPECT_EQ(20, p.y);
    EXPECT_FALSE(ClientToScreen(nullptr, &p));
}

TEST(WindowTest, MouseGoesToTheChannelUnderItAndStaysThereDuringADrag) {
    Grid g;
    struct Step {
        UINT message;
        POINT at;
        WPARAM keys;
        int cell; // expected target
        POINT local;
        int left; // the cell told first that the pointer left it; -1 none
    } steps[] = {
        {WM_MOUSEMOVE, {330, 10}, 0, 1, {10, 10}, -1},
        {WM_LBUTTONDOWN, {300, 200}, MK_LBUTTON, 0, {300, 200}, 1},
        // Dragged into the neighbour: still the pressed channel, coordinates beyond its edge.
        {WM_MOUSEMOVE, {400, 300}, MK_LBUTTON, 0, {400, 300}, -1},
        {WM_LBUTTONUP, {400, 300}, 0, 0, {400, 300}, -1},
        // Released: the pointer belongs to what is under it again.
        {WM_MOUSEMOVE, {401, 300}, 0, 3, {81, 60}, 0},
    };
    for (const Step& s : steps) {
        ASSERT_TRUE(g.top.PostMouse(s.message, s.at, s.keys));
        MSG m{};
        if (s.left >= 0) {
            ASSERT_TRUE(g.top.PeekMessage(&m));
            EXPECT_EQ(static_cast<UINT>(WM_MOUSELEAVE), m.message);
            EXPECT_EQ(g.cell[s.left], m.hwnd);
        }
        ASSERT_TRUE(g.top.PeekMessage(&m));
        EXPECT_EQ(s.message, m.message);
        EXPECT_EQ(g.cell[s.cell], m.hwnd) << "message " << s.message << " at " << s.at.x << "," << s.at.y;
        EXPECT_EQ(s.local.x, GET_X_LPARAM(m.lParam));
        EXPECT_EQ(s.local.y, GET_Y_LPARAM(m.lParam));
        EXPECT_EQ(s.keys, m.wParam);
    }
    // The wheel: delta in the high word, as the PTZ control reads it.
    ASSERT_TRUE(g.top.PostMouse(WM_MOUSEWHEEL, POINT{5, 5}, 0, -2 * WHEEL_DELTA));
    MSG m{};
    ASSERT_TRUE(g.top.PeekMessage(&m));
    EXPECT_EQ(static_cast<UINT>(WM_MOUSELEAVE), m.message);
    EXPECT_EQ(g.cell[3], m.hwnd);
    ASSERT_TRUE(g.top.PeekMessage(&m));
    EXPECT_EQ(-240, GET_WHEEL_DELTA_WPARAM(m.wParam));
    EXPECT_EQ(g.cell[0], m.hwnd);
    // The pointer leaves the window: the cell it was over is told, once.
    EXPECT_TRUE(g.top.PostMouseLeave());
    ASSERT_TRUE(g.top.PeekMessage(&m));
    EXPECT_EQ(static_cast<UINT>(WM_MOUSELEAVE), m.message);
    EXPECT_EQ(g.cell[0], m.hwnd);
    EXPECT_FALSE(g.top.PostMouseLeave());
    EXPECT_FALSE(g.top.PeekMessage(&m));
}

TEST(WindowTest, MouseMovesMergeAndAFullQueueRefusesPosts) {
    os::OffscreenWindow w(100, 100);
    for (int i = 0; i < 50; ++i)
        w.PostMouse(WM_MOUSEMOVE, POINT{i, i}, 0);
    MSG m{};
    ASSERT_TRUE(w.PeekMessage(&m));
    EXPECT_EQ(49, GET_X_LPARAM(m.lParam)); // only the latest position is left
    EXPECT_FALSE(w.PeekMessage(&m));

    for (size_t i = 0; i < os::kMaxQueuedMessages; ++i)
        ASSERT_TRUE(PostMessageA(&w, WM_COMMAND, i, 0));
    EXPECT_FALSE(PostMessageA(&w, WM_COMMAND, 1, 0));
    EXPECT_EQ(1u, w.DroppedMessages());
    ASSERT_TRUE(w.PeekMessage(&m));
    EXPECT_EQ(0u, m.wParam); // first in, first out
}

TEST(WindowTest, WaitMessageWakesForAPostFromAnotherThread) {
    os::OffscreenWindow w(10, 10);
    std::thread poster([&] { PostMessageA(&w, WM_COMMAND, 33006, 0); });
    MSG m{};
    EXPECT_TRUE(w.WaitMessage(&m, 10000));
    EXPECT_EQ(33006u, LOWORD(m.wParam));
    poster.join();
    EXPECT_FALSE(w.WaitMessage(&m, 1));
}

// The editors' menu convention: build, track at a screen point, destroy; the
// choice comes back to the owner as WM_COMMAND.
HMENU EditorMenu() {
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 33004, "Disable motion.");
    AppendMenuA(menu, MF_STRING, 33002, "Select the &max area. ");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING | MF_GRAYED, 33007, "Grey");
    AppendMenuA(menu, MF_STRING, 33006, "&Save setting");
    return menu;
}

TEST(WindowTest, PopupMenusAnswerFromTheScriptAndPostTheChoice) {
    Grid g;
    struct Case {
        bool scripted;
        UINT answer;
        UINT expectedCommand; // 0: none posted
    } cases[] = {
        {true, 33006, 33006}, {true, 0, 0}, // dismissed
        {true, 33007, 0},                   // a grey item cannot be chosen
        {true, 12345, 0},                   // nor one the menu does not have
        {false, 0, 0},                      // headless without a script: dismissed
    };
    for (const Case& c : cases) {
        if (c.scripted)
            g.top.ScriptMenuAnswer(c.answer);
        HMENU menu = EditorMenu();
        POINT at{5, 6};
        ClientToScreen(g.cell[2], &at);
        BOOL shown = TrackPopupMenu(menu, 0, at.x, at.y, 0, g.cell[2], nullptr);
        DestroyMenu(menu);
        EXPECT_EQ(c.expectedCommand != 0, shown != 0);
        MSG m{};
        if (c.expectedCommand) {
            ASSERT_TRUE(g.top.PeekMessage(&m));
            EXPECT_EQ(WM_COMMAND, m.message);
            EXPECT_EQ(g.cell[2], m.hwnd);
            EXPECT_EQ(c.expectedCommand, LOWORD(m.wParam));
        }
        EXPECT_FALSE(g.top.PeekMessage(&m));
        const os::DialogRecord last = g.top.Dialogs().back();
        EXPECT_EQ(os::DialogRecord::Kind::PopupMenu, last.kind);
        EXPECT_EQ(c.scripted, last.scripted);
        EXPECT_EQ(static_cast<int>(c.expectedCommand), last.answer);
        EXPECT_EQ(5, last.point.x);
        EXPECT_EQ(246, last.point.y);
        ASSERT_EQ(5u, last.items.size());
        EXPECT_EQ("Select the &max area. ", last.items[1].text);
    }
    HMENU menu = EditorMenu();
    g.top.ScriptMenuAnswer(33002);
    EXPECT_EQ(33002, TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, &g.top, nullptr));
    MSG m{};
    EXPECT_FALSE(g.top.PeekMessage(&m)); // returned, not posted
    DestroyMenu(menu);
}

TEST(WindowTest, MessageBoxesGoToTheNewestWindowAndNeverAnswerYesUnasked) {
    // Without any window nobody can answer.
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "Save data successfully.", "Success", MB_ICONINFORMATION));
    EXPECT_EQ(IDNO, MessageBoxA(nullptr, "?", "?", MB_YESNO));
    os::OffscreenWindow older(10, 10);
    os::OffscreenWindow newer(10, 10);
    std::vector<std::string> seen;
    // The opening is told before anyone answers, the answer after.
    newer.SetDialogOpenObserver([&](const os::DialogRecord& r) {
        seen.push_back("opens " + r.caption + ": " + r.text + (r.scripted ? " (scripted)" : ""));
        EXPECT_EQ(0, r.answer);
    });
    newer.SetDialogObserver([&](const os::DialogRecord& r) { seen.push_back(r.caption + ": " + r.text); });
    newer.ScriptMessageBoxAnswer(IDYES);
    EXPECT_EQ(IDYES, MessageBoxA(nullptr, "Replace?", "Question", MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(IDCANCEL, MessageBoxA(nullptr, "Go on?", "Question", MB_YESNOCANCEL));
    newer.ScriptMessageBoxAnswer(IDNO); // not a button of MB_OK: the box's own answer
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "Save data failed.", "Error", MB_ICONERROR));
    ASSERT_EQ(6u, seen.size());
    EXPECT_EQ("opens Question: Replace? (scripted)", seen[0]);
    EXPECT_EQ("Question: Replace?", seen[1]);
    EXPECT_EQ("opens Question: Go on?", seen[2]);
    EXPECT_EQ("Error: Save data failed.", seen[5]);
    EXPECT_TRUE(older.Dialogs().empty());
    EXPECT_EQ(&newer, os::Window::ActiveTopLevel());
    // An owned box goes to its owner's window.
    older.ScriptMessageBoxAnswer(IDCANCEL);
    EXPECT_EQ(IDCANCEL, MessageBoxA(&older, "x", "y", MB_OKCANCEL));
    EXPECT_EQ(1u, older.Dialogs().size());
}

TEST(WindowTest, TheWaitCursorIsObservableAndPutBack) {
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    ASSERT_NE(nullptr, wait);
    EXPECT_NE(arrow, wait);
    EXPECT_EQ(32514, os::CursorId(wait));
    EXPECT_EQ(nullptr, LoadCursorA(reinterpret_cast<HINSTANCE>(1), IDC_WAIT)); // no resources of our own
    const uint64_t waits = os::CursorSetCount(wait);
    HCURSOR before = GetCursor();
    HCURSOR previous = SetCursor(wait);
    EXPECT_EQ(before, previous);
    EXPECT_EQ(wait, GetCursor());
    SetCursor(previous);
    EXPECT_EQ(before, GetCursor());
    EXPECT_EQ(waits + 1, os::CursorSetCount(wait));
    HICON icon = LoadIconA(nullptr, IDI_APPLICATION);
    EXPECT_NE(nullptr, icon);
    EXPECT_TRUE(DestroyIcon(icon));
    EXPECT_FALSE(DestroyIcon(nullptr));
}

// A renderer thread writes whole frames, as pixels or as planes, while the
// host reads: every snapshot is one frame, never half of two.
TEST(WindowTest, SnapshotsNeverTearAFrameBeingWritten) {
    for (const bool planar : {false, true}) {
        SCOPED_TRACE(planar ? "planes" : "pixels");
        os::OffscreenWindow w(320, 240);
        std::atomic<bool> stop{false};
        std::thread renderer([&] {
            for (uint8_t frame = 1; !stop.load(); ++frame) {
                if (planar) {
                    // Grey planes: every pixel becomes B = G = R = frame.
                    os::Window::PlanarLock lock(&w, RECT{0, 0, 320, 240}, TJSAMP_420);
                    const os::PlanarView& v = lock.View();
                    std::memset(v.planes[0], frame, static_cast<size_t>(v.strides[0]) * 240);
                    std::memset(v.planes[1], 128, static_cast<size_t>(v.strides[1]) * 120);
                    std::memset(v.planes[2], 128, static_cast<size_t>(v.strides[2]) * 120);
                    lock.Commit();
                } else {
                    os::Window::SurfaceLock lock(&w);
                    const os::SurfaceView& v = lock.View();
                    for (int y = 0; y < v.height; ++y)
                        std::memset(v.pixels + y * v.stride, frame, static_cast<size_t>(v.width) * 4);
                }
                InvalidateRect(&w, nullptr, FALSE);
            }
        });
        uint64_t seen = 0;
        for (int i = 0; i < 200; ++i) {
            ASSERT_TRUE(w.WaitInvalidated(seen, 10000));
            seen = w.InvalidateCount();
            const std::vector<uint8_t> s = w.Snapshot();
            const uint8_t first = s[0];
            bool torn = false;
            for (size_t k = 0; k < s.size() && !torn; k += 97) {
                // The fourth byte of a pixel is not looked at.
                torn = k % 4 != 3 && s[k] != first;
                EXPECT_FALSE(torn) << "torn at byte " << k;
            }
            if (torn)
                break;
        }
        stop = true;
        renderer.join();
    }
}

// --- Planar pictures ---

struct YCbCr {
    uint8_t y, cb, cr;
};

// B, G, R of a JPEG colour (JFIF's full-range BT.601), rounded.
std::array<int, 3> Bgr(YCbCr c) {
    auto clamp = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0))); };
    const double cb = c.cb - 128.0, cr = c.cr - 128.0;
    return {clamp(c.y + 1.772 * cb), clamp(c.y - 0.344136 * cb - 0.714136 * cr), clamp(c.y + 1.402 * cr)};
}

constexpr int kBlock = 8;

// Fills the planes with blocks of one colour each (kBlock pixels square,
// so that no subsampling mixes two colours), colour(bx, by).
template <typename Colour> void PaintPlanes(const os::PlanarView& v, Colour colour) {
    const bool grey = v.subsampling == TJSAMP_GRAY;
    // Chroma pixels per luma pixel, across and down, by subsampling code.
    const int shiftX = v.subsampling == TJSAMP_422 || v.subsampling == TJSAMP_420 ? 1
                       : v.subsampling == TJSAMP_411                              ? 2
                                                                                  : 0;
    const int shiftY = v.subsampling == TJSAMP_420 || v.subsampling == TJSAMP_440 ? 1 : 0;
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x)
            v.planes[0][y * v.strides[0] + x] = colour(x / kBlock, y / kBlock).y;
    if (grey)
        return;
    for (int y = 0; y < (v.height + (1 << shiftY) - 1) >> shiftY; ++y)
        for (int x = 0; x < (v.width + (1 << shiftX) - 1) >> shiftX; ++x) {
            const YCbCr c = colour((x << shiftX) / kBlock, (y << shiftY) / kBlock);
            v.planes[1][y * v.strides[1] + x] = c.cb;
            v.planes[2][y * v.strides[2] + x] = c.cr;
        }
}

const uint8_t* PixelAt(const std::vector<uint8_t>& snapshot, int width, int x, int y) {
    return &snapshot[(static_cast<size_t>(y) * width + x) * 4];
}

TEST(WindowTest, PlanarPicturesBecomePixelsWhenLookedAt) {
    const struct {
        const char* name;
        int subsampling;
    } cases[] = {{"4:4:4", TJSAMP_444}, {"4:2:2", TJSAMP_422}, {"4:2:0", TJSAMP_420},
                 {"grey", TJSAMP_GRAY}, {"4:4:0", TJSAMP_440}, {"4:1:1", TJSAMP_411}};
    std::mt19937 rng(7);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Grid g;
        // In the lower right channel, away from its corner.
        const RECT rect{16, 8, 16 + 64, 8 + 48};
        std::vector<YCbCr> colours(8 * 6);
        for (YCbCr& colour : colours) {
            colour =
                YCbCr{static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
            if (c.subsampling == TJSAMP_GRAY)
                colour.cb = colour.cr = 128;
        }
        auto colourOf = [&](int bx, int by) { return colours[static_cast<size_t>(by * 8 + bx)]; };
        {
            os::Window::PlanarLock lock(g.cell[3], rect, c.subsampling);
            ASSERT_TRUE(lock.Ok());
            EXPECT_EQ(64, lock.View().width);
            EXPECT_EQ(48, lock.View().height);
            PaintPlanes(lock.View(), colourOf);
            lock.Commit();
        }
        EXPECT_EQ(1u, g.top.PendingPlanarCount());
        const std::vector<uint8_t> all = g.top.Snapshot();
        EXPECT_EQ(0u, g.top.PendingPlanarCount());
        int worst = 0;
        for (int by = 0; by < 6; ++by)
            for (int bx = 0; bx < 8; ++bx) {
                const auto expected = Bgr(colourOf(bx, by));
                const uint8_t* p = PixelAt(all, 640, 320 + rect.left + bx * kBlock + kBlock / 2,
                                           240 + rect.top + by * kBlock + kBlock / 2);
                for (int k = 0; k < 3; ++k)
                    worst = std::max(worst, std::abs(p[k] - expected[static_cast<size_t>(k)]));
            }
        EXPECT_LE(worst, 2);
        // Only the rectangle changed.
        EXPECT_EQ(0, PixelAt(all, 640, 320 + rect.left - 1, 240 + rect.top)[0]);
        EXPECT_EQ(0, PixelAt(all, 640, 320 + rect.left, 240 + rect.top - 1)[1]);
        EXPECT_EQ(0, PixelAt(all, 640, 320 + rect.right, 240 + rect.bottom - 1)[2]);
        EXPECT_EQ(0, PixelAt(all, 640, 320 + rect.left, 240 + rect.bottom)[0]);
    }
}

// Solid planes of one colour over the whole of rect.
void CommitSolid(os::Window* w, const RECT& rect, YCbCr colour, bool commit = true) {
    os::Window::PlanarLock lock(w, rect, TJSAMP_420);
    ASSERT_TRUE(lock.Ok());
    PaintPlanes(lock.View(), [colour](int, int) { return colour; });
    if (commit)
        lock.Commit();
}

void ExpectColour(const std::vector<uint8_t>& snapshot, int width, int x, int y, YCbCr colour) {
    const auto expected = Bgr(colour);
    const uint8_t* p = PixelAt(snapshot, width, x, y);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(expected[static_cast<size_t>(k)], p[k], 2) << "at " << x << "," << y << " channel " << k;
}

TEST(WindowTest, PixelsAndPlanesTakeTurnsInTheOrderTheyWereWritten) {
    const YCbCr red{76, 85, 255}, blue{29, 255, 107}, green{150, 44, 21};
    os::OffscreenWindow w(64, 64);
    const RECT whole{0, 0, 64, 64};

    // Planes that were not committed show nothing.
    CommitSolid(&w, whole, red, false);
    EXPECT_EQ(0u, w.PendingPlanarCount());
    EXPECT_EQ(0, w.Snapshot()[0]);

    // Pixels written after a planar picture are written over it.
    CommitSolid(&w, whole, red);
    {
        os::Window::SurfaceLock lock(&w);
        std::memset(lock.View().pixels, 0x55, 4);
    }
    std::vector<uint8_t> s = w.Snapshot();
    EXPECT_EQ(0x55, s[0]);
    ExpectColour(s, 64, 32, 32, red);

    // The next planar picture covers them again.
    CommitSolid(&w, whole, blue);
    s = w.Snapshot();
    ExpectColour(s, 64, 0, 0, blue);

    // A planar picture over part of another shows the other one first.
    CommitSolid(&w, RECT{0, 0, 32, 32}, red);
    CommitSolid(&w, RECT{16, 16, 48, 48}, green);
    EXPECT_EQ(1u, w.PendingPlanarCount());
    s = w.Snapshot();
    ExpectColour(s, 64, 8, 8, red);
    ExpectColour(s, 64, 20, 20, green);
    ExpectColour(s, 64, 40, 40, green);
    ExpectColour(s, 64, 56, 56, blue);
}

TEST(WindowTest, PlanarLocksRefuseWhatTheWindowCannotHold) {
    const struct {
        const char* name;
        RECT rect;
        int subsampling;
    } cases[] = {
        {"past the right edge", {32, 0, 65, 16}, TJSAMP_420},
        {"above the top", {0, -2, 16, 16}, TJSAMP_420},
        {"empty", {8, 8, 8, 16}, TJSAMP_420},
        {"upside down", {8, 16, 16, 8}, TJSAMP_420},
        {"unknown subsampling", {0, 0, 16, 16}, TJ_NUMSAMP},
        {"negative subsampling", {0, 0, 16, 16}, -1},
    };
    os::OffscreenWindow w(64, 64);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        os::Window::PlanarLock lock(&w, c.rect, c.subsampling);
        EXPECT_FALSE(lock.Ok());
        EXPECT_EQ(nullptr, lock.View().planes[0]);
        lock.Commit(); // harmless
    }
    EXPECT_EQ(0u, w.PendingPlanarCount());
}

} // namespace
