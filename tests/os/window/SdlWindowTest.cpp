// SdlWindow on a real X server: Xvfb on a display of its own, started here,
// and ffmpeg's x11grab as the independent reader of what the screen shows.
#include "os/window/SdlWindow.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <random>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

// An Xvfb server on a free display; Xvfb picks the number itself
// (-displayfd), so parallel runs never collide.
class Xvfb {
public:
    bool Start(std::string* why) {
        const std::string binary = FindOnPath("Xvfb");
        if (binary.empty()) {
            *why = "Xvfb is not installed (Debian package xvfb)";
            return false;
        }
        int fds[2];
        if (pipe(fds) != 0) {
            *why = "pipe failed";
            return false;
        }
        const std::string fd = std::to_string(fds[1]);
        const char* argv[] = {binary.c_str(), "-displayfd", fd.c_str(), "-screen",  "0",
                              "640x480x24",   "-nolisten",  "tcp",      "-noreset", nullptr};
        mPid = fork();
        if (mPid == 0) {
            // The server goes with the test, however the test ends.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            close(fds[0]);
            execv(binary.c_str(), const_cast<char**>(argv));
            _exit(127);
        }
        if (mPid < 0) {
            close(fds[0]);
            close(fds[1]);
            *why = "cannot start Xvfb";
            return false;
        }
        close(fds[1]);
        // Xvfb writes the display number once it accepts connections.
        std::string number;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, 200) <= 0)
                continue;
            char c;
            if (read(fds[0], &c, 1) != 1)
                break;
            if (c == '\n')
                break;
            number.push_back(c);
        }
        close(fds[0]);
        if (number.empty()) {
            *why = "Xvfb did not report a display";
            return false;
        }
        mDisplay = ":" + number;
        return true;
    }
    ~Xvfb() {
        if (mPid > 0) {
            kill(mPid, SIGTERM);
            waitpid(mPid, nullptr, 0);
        }
    }
    const std::string& Display() const { return mDisplay; }

private:
    pid_t mPid = -1;
    std::string mDisplay;
};

// One frame of the screen area (x, y, w, h) as B, G, R, A bytes, through
// ffmpeg's X11 grabber, without the pointer (which Xvfb puts in the middle
// of the screen, over the window).
std::vector<uint8_t> Grab(const std::string& display, int x, int y, int w, int h) {
    const std::string cmd = "ffmpeg -nostdin -loglevel error -f x11grab -draw_mouse 0 -video_size " +
                            std::to_string(w) + "x" + std::to_string(h) + " -i " + display + ".0+" +
                            std::to_string(x) + "," + std::to_string(y) +
                            " -frames:v 1 -f rawvideo -pix_fmt bgra -";
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
    FILE* f = popen(cmd.c_str(), "r");
    if (!f)
        return {};
    const size_t got = fread(out.data(), 1, out.size(), f);
    pclose(f);
    if (got != out.size())
        return {};
    return out;
}

constexpr int kBlock = 8; // pattern block, surface pixels
constexpr int kSurfaceW = 160, kSurfaceH = 120, kScale = 2;

// Fills the surface with blocks of random colours.
std::vector<uint32_t> PaintBlocks(os::Window* w, std::mt19937* rng) {
    std::vector<uint32_t> colours((kSurfaceW / kBlock) * (kSurfaceH / kBlock));
    for (uint32_t& c : colours)
        c = (*rng)() & 0xFFFFFF;
    os::Window::SurfaceLock lock(w);
    const os::SurfaceView& v = lock.View();
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x) {
            const uint32_t c = colours[(y / kBlock) * (kSurfaceW / kBlock) + x / kBlock];
            uint8_t* p = v.pixels + y * v.stride + x * 4;
            p[0] = c & 0xFF;
            p[1] = (c >> 8) & 0xFF;
            p[2] = (c >> 16) & 0xFF;
        }
    return colours;
}

// The worst colour difference at the centres of the blocks, where scaling
// has nothing to blend.
int WorstBlockError(const std::vector<uint8_t>& grab, const std::vector<uint32_t>& colours) {
    const int gw = kSurfaceW * kScale;
    int worst = 0;
    for (int by = 0; by < kSurfaceH / kBlock; ++by)
        for (int bx = 0; bx < kSurfaceW / kBlock; ++bx) {
            const uint32_t c = colours[by * (kSurfaceW / kBlock) + bx];
            const int x = (bx * kBlock + kBlock / 2) * kScale, y = (by * kBlock + kBlock / 2) * kScale;
            const uint8_t* p = &grab[(static_cast<size_t>(y) * gw + x) * 4];
            worst = std::max({worst, std::abs(p[0] - static_cast<int>(c & 0xFF)),
                              std::abs(p[1] - static_cast<int>((c >> 8) & 0xFF)),
                              std::abs(p[2] - static_cast<int>((c >> 16) & 0xFF))});
        }
    return worst;
}

// One server for all the tests: SDL keeps its display connection from the
// first window to the end of the process.
class SdlWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sServer = new Xvfb();
        if (!sServer->Start(&sWhy)) {
            delete sServer;
            sServer = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete sServer;
        sServer = nullptr;
    }

    void SetUp() override {
        if (!sServer)
            GTEST_SKIP() << sWhy;
        setenv("DISPLAY", sServer->Display().c_str(), 1);
        // SDL's software renderer, as on a display without a GPU (which Xvfb
        // is): Mesa's GL emulation would add nothing to what is tested here,
        // and it is unloaded at exit with allocations the leak checker
        // cannot attribute.
        setenv("SDL_RENDER_DRIVER", "software", 1);
        std::string error;
        mWindow = os::SdlWindow::Create("ipcamview test", kSurfaceW, kSurfaceH, kSurfaceW * kScale,
                                        kSurfaceH * kScale, &error);
        ASSERT_NE(nullptr, mWindow) << error;
    }
    void TearDown() override { mWindow.reset(); }

    // Pumps until the window has presented after the latest invalidation.
    void PumpUntilPresented() {
        const uint64_t before = mWindow->PresentCount();
        InvalidateRect(mWindow.get(), nullptr, FALSE);
        MSG m;
        for (int i = 0; i < 1000 && mWindow->PresentCount() == before; ++i)
            mWindow->WaitMessage(&m, 10);
        ASSERT_GT(mWindow->PresentCount(), before);
    }

    // Presents and reads the screen (the window at origin) until its blocks
    // are within tolerance of colours, for up to 20 s; the worst error seen
    // last, 256 when ffmpeg could not grab the screen.
    int WorstOnScreen(POINT origin, const std::vector<uint32_t>& colours, int tolerance) {
        int worst = 256;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (worst > tolerance && std::chrono::steady_clock::now() < deadline) {
            PumpUntilPresented();
            const std::vector<uint8_t> grab =
                Grab(sServer->Display(), origin.x, origin.y, kSurfaceW * kScale, kSurfaceH * kScale);
            if (grab.empty()) {
                ADD_FAILURE() << "ffmpeg could not grab the screen";
                return 256;
            }
            worst = WorstBlockError(grab, colours);
        }
        return worst;
    }

    static Xvfb* sServer;
    static std::string sWhy;
    std::unique_ptr<os::SdlWindow> mWindow;
};
Xvfb* SdlWindowTest::sServer = nullptr;
std::string SdlWindowTest::sWhy;

TEST_F(SdlWindowTest, WhatIsPresentedIsWhatTheScreenShowsScaled) {
    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
    SCOPED_TRACE("pattern seed " + std::to_string(seed));
    POINT origin{0, 0};
    ASSERT_TRUE(ClientToScreen(mWindow.get(), &origin));
    POINT far{kSurfaceW, kSurfaceH};
    ASSERT_TRUE(ClientToScreen(mWindow.get(), &far));
    EXPECT_EQ(kSurfaceW * kScale, far.x - origin.x); // the surface fills the window, twice its size
    EXPECT_EQ(kSurfaceH * kScale, far.y - origin.y);

    // Two different pictures in turn: the screen follows each.
    for (int round = 0; round < 2; ++round) {
        const std::vector<uint32_t> colours = PaintBlocks(mWindow.get(), &rng);
        EXPECT_LE(WorstOnScreen(origin, colours, 3), 3) << "round " << round;
    }
}

// A 4:2:0 planar picture in the right half goes to the screen through a YUV
// texture, beside the pixels of the left half, and stays planar: the
// present converts nothing into the surface.
TEST_F(SdlWindowTest, PlanarPicturesArePresentedWithoutConvertingTheSurface) {
    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
    SCOPED_TRACE("pattern seed " + std::to_string(seed));
    POINT origin{0, 0};
    ASSERT_TRUE(ClientToScreen(mWindow.get(), &origin));
    std::vector<uint32_t> colours = PaintBlocks(mWindow.get(), &rng);
    HWND right = mWindow->CreateChild(RECT{kSurfaceW / 2, 0, kSurfaceW, kSurfaceH});
    ASSERT_NE(nullptr, right);
    {
        os::Window::PlanarLock lock(right, RECT{0, 0, kSurfaceW / 2, kSurfaceH}, 2 /* TJSAMP_420 */);
        ASSERT_TRUE(lock.Ok());
        const os::PlanarView& v = lock.View();
        const int blocksAcross = kSurfaceW / 2 / kBlock;
        std::vector<std::array<uint8_t, 3>> ycc(static_cast<size_t>(blocksAcross) * (kSurfaceH / kBlock));
        // Colours a camera's encoder makes: from R, G, B (far outside that
        // gamut SDL's software converter wraps instead of clamping).
        for (auto& c : ycc) {
            const double r = rng() & 255, g = rng() & 255, b = rng() & 255;
            auto byte = [](double d) { return static_cast<uint8_t>(std::lround(std::clamp(d, 0.0, 255.0))); };
            c = {byte(0.299 * r + 0.587 * g + 0.114 * b), byte(128 - 0.168736 * r - 0.331264 * g + 0.5 * b),
                 byte(128 + 0.5 * r - 0.418688 * g - 0.081312 * b)};
        }
        for (int y = 0; y < v.height; ++y)
            for (int x = 0; x < v.width; ++x) {
                const auto& c = ycc[static_cast<size_t>((y / kBlock) * blocksAcross + x / kBlock)];
                v.planes[0][y * v.strides[0] + x] = c[0];
                if (x % 2 == 0 && y % 2 == 0) {
                    v.planes[1][(y / 2) * v.strides[1] + x / 2] = c[1];
                    v.planes[2][(y / 2) * v.strides[2] + x / 2] = c[2];
                }
            }
        lock.Commit();
        // The expected colours of the right half's blocks (JPEG's YCbCr).
        auto clamp = [](double d) { return static_cast<uint32_t>(std::lround(std::clamp(d, 0.0, 255.0))); };
        for (int by = 0; by < kSurfaceH / kBlock; ++by)
            for (int bx = 0; bx < blocksAcross; ++bx) {
                const auto& c = ycc[static_cast<size_t>(by * blocksAcross + bx)];
                const double cb = c[1] - 128.0, cr = c[2] - 128.0;
                colours[static_cast<size_t>(by * (kSurfaceW / kBlock) + blocksAcross + bx)] =
                    clamp(c[0] + 1.772 * cb) | clamp(c[0] - 0.344136 * cb - 0.714136 * cr) << 8 |
                    clamp(c[0] + 1.402 * cr) << 16;
            }
    }
    EXPECT_LE(WorstOnScreen(origin, colours, 4), 4);
    EXPECT_EQ(1u, mWindow->PendingPlanarCount());
}

// SDL events in window pixels come out as messages in surface pixels, to the
// child window under the pointer.
TEST_F(SdlWindowTest, InputBecomesMessagesOfTheWindowUnderThePointer) {
    HWND right = mWindow->CreateChild(RECT{80, 0, 160, 120});
    ASSERT_NE(nullptr, right);
    auto push = [&](SDL_Event e) { ASSERT_EQ(1, SDL_PushEvent(&e)); };
    SDL_Event e;
    SDL_zero(e);
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = mWindow->WindowId();
    e.motion.x = 200; // surface (100, 50): the right child at (20, 50)
    e.motion.y = 100;
    push(e);
    SDL_zero(e);
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.windowID = mWindow->WindowId();
    e.button.button = SDL_BUTTON_RIGHT;
    e.button.state = SDL_PRESSED;
    e.button.x = 200;
    e.button.y = 100;
    push(e);
    SDL_zero(e);
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = mWindow->WindowId();
    e.wheel.y = 1;
    push(e);
    SDL_zero(e);
    e.type = SDL_KEYDOWN;
    e.key.windowID = mWindow->WindowId();
    e.key.keysym.sym = SDLK_r;
    push(e);
    SDL_zero(e);
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = mWindow->WindowId();
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    push(e);

    struct Expected {
        UINT message;
        WPARAM wParamLow;
        int x, y;
    } expected[] = {
        {WM_MOUSEMOVE, 0, 20, 50},
        {WM_RBUTTONDOWN, MK_RBUTTON, 20, 50},
        {WM_MOUSEWHEEL, MK_RBUTTON, 20, 50},
        {WM_KEYDOWN, 'R', -1, -1},
        {WM_CLOSE, 0, -1, -1},
    };
    for (const Expected& x : expected) {
        MSG m{};
        ASSERT_TRUE(mWindow->WaitMessage(&m, 10000)) << "missing message " << x.message;
        EXPECT_EQ(x.message, m.message);
        EXPECT_EQ(x.wParamLow, LOWORD(m.wParam));
        if (x.x >= 0) {
            EXPECT_EQ(right, m.hwnd);
            EXPECT_EQ(x.x, GET_X_LPARAM(m.lParam));
            EXPECT_EQ(x.y, GET_Y_LPARAM(m.lParam));
        }
        if (x.message == WM_MOUSEWHEEL) {
            EXPECT_EQ(WHEEL_DELTA, GET_WHEEL_DELTA_WPARAM(m.wParam));
        }
    }
}

} // namespace
