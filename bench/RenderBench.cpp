// What showing one camera frame costs: a 1080p JPEG pushed through the
// renderer's graph (push source decode, compositing into an off-screen
// window's surface), for the display formats a channel may use (RGB32 as
// planes that nobody converts, as planes converted after every frame, and
// decoded to pixels at once), and the wall
// case: one 1080p camera in a 480 x 270 cell of a 4 x 4 grid, with and without
// the source's scaled JPEG decoding. And the 1080p frame under an editor's
// overlay: decoded to pixels, kept for redrawing the overlay, blended.
//
// Input: 25 frames of ffmpeg's testsrc2 at 1920 x 1080, JPEG quality 5 (about
// what a camera sends), made into $RENDER_BENCH_DIR or a temporary folder.
// Google Benchmark's "CPU" column is this thread's CPU per frame; the whole
// path runs on the pushing thread. Compare ratios from one run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "os/dshow/CVmrSourceFilter.h"
#include "os/gdi/Gdi.h"
#include "os/window/OffscreenWindow.h"
#include "platform/CMediaObj.h"
#include "render/CDirectShowRenderer.h"

using media_util::CMediaObj;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 25;

std::vector<CMediaObj>& Frames() {
    static std::vector<CMediaObj> frames = [] {
        std::string dir;
        const char* given = std::getenv("RENDER_BENCH_DIR");
        if (given != nullptr && *given != '\0') {
            dir = given;
        } else {
            char pattern[] = "/tmp/render-bench-XXXXXX";
            if (mkdtemp(pattern) == nullptr)
                throw std::runtime_error("mkdtemp");
            dir = pattern;
        }
        const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 "
                                    "-frames:v " +
                                    std::to_string(kFrames) + " -c:v mjpeg -q:v 5 -pix_fmt yuvj420p '" + dir +
                                    "/f%03d.jpg'";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("ffmpeg");
        std::vector<CMediaObj> out(kFrames);
        for (int i = 0; i < kFrames; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/f%03d.jpg", i + 1);
            std::ifstream in(dir + name, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
            CMediaObj& o = out[static_cast<size_t>(i)];
            o.mVideoFormat = media_util::kVideoJpeg;
            o.mWidth = kWidth;
            o.mHeight = kHeight;
            o.mFrameNumber = i;
            o.CopyData(bytes.data(), static_cast<int32_t>(bytes.size()));
        }
        return out;
    }();
    return frames;
}

// What reads the window after each frame.
enum class ELook {
    Nobody,     // a headless window, or a GPU presenting planes
    Converting, // a reader of pixels (a snapshot, a window without YUV textures)
};

// Pushes the frames into a renderer on a window of the given size.
void Show(benchmark::State& state, int32_t pixelCode, int windowW, int windowH, bool scaled,
          bool planar = true, ELook look = ELook::Nobody, bool overlay = false) {
    std::vector<CMediaObj>& frames = Frames();
    os::dshow::CVmrSourceFilter::SetScaledDecoding(scaled);
    os::dshow::CVmrSourceFilter::SetPlanarPictures(planar);
    os::OffscreenWindow window(windowW, windowH);
    const RECT client{0, 0, windowW, windowH};
    CDirectShowRenderer renderer;
    CMediaObj input;
    input.mVideoFormat = media_util::kVideoJpeg;
    input.mWidth = kWidth;
    input.mHeight = kHeight;
    CMediaObj display;
    display.mVideoFormat = pixelCode;
    display.mWidth = kWidth;
    display.mHeight = -kHeight;
    renderer.SetFormats(&input, &display);
    renderer.SetAspectMode(CDirectShowRenderer::kAspectStretch);
    if (renderer.Start(&window, &client, overlay ? CDirectShowRenderer::kFlagOverlay : 0) != 1) {
        state.SkipWithError("renderer did not start");
        return;
    }
    if (overlay) {
        // An editor's area: a box filled in the middle of a white (keyed) bitmap.
        HDC dc = renderer.GetOverlayDC();
        const SIZE size = renderer.GetOverlaySize();
        const RECT all{0, 0, size.cx, size.cy}, box{size.cx / 4, size.cy / 4, size.cx * 3 / 4, size.cy * 3 / 4};
        HBRUSH white = CreateSolidBrush(RGB(255, 255, 255)), green = CreateSolidBrush(RGB(200, 255, 200));
        FillRect(dc, &all, white);
        FillRect(dc, &box, green);
        DeleteObject(white);
        DeleteObject(green);
        renderer.SetOverlayAlpha(0.5f);
        renderer.ApplyOverlay();
    }
    size_t i = 0;
    int64_t shown = 0;
    for (auto _ : state) {
        shown += renderer.Push(&frames[i]);
        if (look == ELook::Converting)
            os::Window::SurfaceLock lock(&window); // turns planes into pixels
        i = (i + 1) % frames.size();
    }
    renderer.Stop();
    os::dshow::CVmrSourceFilter::SetScaledDecoding(true);
    os::dshow::CVmrSourceFilter::SetPlanarPictures(true);
    if (shown != static_cast<int64_t>(state.iterations()))
        state.SkipWithError("a frame was not shown");
    state.SetItemsProcessed(state.iterations());
}

void BM_Show1080pBgra(benchmark::State& state) {
    Show(state, 32, kWidth, kHeight, true);
}
void BM_Show1080pBgraPlanesConverted(benchmark::State& state) {
    Show(state, 32, kWidth, kHeight, true, true, ELook::Converting);
}
void BM_Show1080pBgraPixels(benchmark::State& state) {
    Show(state, 32, kWidth, kHeight, true, false);
}
void BM_Show1080pBgraUnderOverlay(benchmark::State& state) {
    Show(state, 32, kWidth, kHeight, true, true, ELook::Nobody, true);
}
void BM_Show1080pRgb565(benchmark::State& state) {
    Show(state, 120, kWidth, kHeight, true);
}
void BM_Show1080pI420(benchmark::State& state) {
    Show(state, 130, kWidth, kHeight, true);
}
void BM_WallCellScaledDecode(benchmark::State& state) {
    Show(state, 32, kWidth / 4, kHeight / 4, true);
}
void BM_WallCellWholeDecode(benchmark::State& state) {
    Show(state, 32, kWidth / 4, kHeight / 4, false);
}

BENCHMARK(BM_Show1080pBgra)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Show1080pBgraPlanesConverted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Show1080pBgraPixels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Show1080pBgraUnderOverlay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Show1080pRgb565)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Show1080pI420)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WallCellScaledDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WallCellWholeDecode)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
