// CPU time of compositing one picture into a window surface, and of the
// choices behind it. The pictures are raw 1080p frames made by the ffmpeg
// tool (in.yuv I420, in.bgra, in.rgb565 in $COMPOSE_BENCH_DIR, as
// bench/compose_vs_ffmpeg.sh makes them for ffmpeg too), or made here into a
// temporary folder when it is unset. The overlay is what the caption worker
// paints: white, an outlined caption and an editor's grid, drawn with Cairo.
//
// BM_Compose*: ComposePicture of a whole frame into a 1920 x 1080 window,
//   with and without the overlay; BM_ComposeGridCell: into one cell of a 4 x 4
//   grid.
// BM_Enlarge* / BM_Shrink*: the same scaling done by libswscale, pixman and
//   Cairo, to show why each path uses what it does.
// BM_Overlay*: blending the overlay as runs of its drawn pixels, against
//   pixman compositing a premultiplied copy and a loop over every pixel.
// Google Benchmark's "CPU" column is this thread's CPU time per picture.
#include <benchmark/benchmark.h>

#include <cairo.h>
#include <pixman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include "os/compose/CComposeContext.h"
#include "os/compose/CKeyedOverlay.h"
#include "os/compose/Compose.h"

using namespace os;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 8; // pictures cycled through, 64 MB of BGRA: never all in a cache

std::string InputDir() {
    static const std::string dir = [] {
        const char* given = std::getenv("COMPOSE_BENCH_DIR");
        if (given && *given)
            return std::string(given);
        char pattern[] = "/tmp/compose-bench-XXXXXX";
        if (!mkdtemp(pattern))
            throw std::runtime_error("mkdtemp");
        const std::string d = pattern;
        const std::string make =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v " +
            std::to_string(kFrames) + " -f rawvideo -pix_fmt ";
        for (const char* format : {"yuv420p '", "bgra '", "rgb565le '"}) {
            const std::string name = std::string(format).find("yuv") == 0    ? "in.yuv"
                                     : std::string(format).find("bgra") == 0 ? "in.bgra"
                                                                             : "in.rgb565";
            if (std::system((make + format + d + "/" + name + "'").c_str()) != 0)
                throw std::runtime_error("ffmpeg could not make the inputs");
        }
        return d;
    }();
    return dir;
}

// Frames of one raw file; each buffer ends with a decoder's 16 spare bytes.
const std::vector<Bytes>& Frames(int32_t code) {
    static std::vector<Bytes> cache[3];
    const int which = code == kComposeI420 ? 0 : code == kComposeRgb565 ? 1 : 2;
    std::vector<Bytes>& frames = cache[which];
    if (!frames.empty())
        return frames;
    const char* names[3] = {"in.yuv", "in.rgb565", "in.bgra"};
    const size_t size = code == kComposeI420     ? kWidth * kHeight * 3 / 2
                        : code == kComposeRgb565 ? kWidth * kHeight * 2
                                                 : kWidth * kHeight * 4;
    std::ifstream in(InputDir() + "/" + names[which], std::ios::binary);
    for (int i = 0; i < kFrames; ++i) {
        Bytes frame(size + 16);
        if (!in.read(reinterpret_cast<char*>(frame.data()), std::streamsize(size)))
            break;
        frames.push_back(std::move(frame));
    }
    if (frames.empty())
        throw std::runtime_error("no frames in " + InputDir());
    return frames;
}

SComposePicture View(const Bytes& frame, int32_t code, bool bottomUp) {
    SComposePicture p;
    p.mpData = frame.data();
    p.mBytes = int64_t(frame.size());
    p.mPixelCode = code;
    p.mWidth = kWidth;
    p.mHeight = bottomUp ? kHeight : -kHeight;
    return p;
}

// The overlay of a channel with a caption and the motion grid editor: white,
// grid lines every 120 pixels, the caption in four black copies and 0xFAFAFA.
struct OverlayPicture {
    Bytes mPixels = Bytes(size_t(kWidth) * kHeight * 4);
    int mStride = kWidth * 4;
    OverlayPicture() {
        cairo_surface_t* surface =
            cairo_image_surface_create_for_data(mPixels.data(), CAIRO_FORMAT_RGB24, kWidth, kHeight, mStride);
        cairo_t* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_set_source_rgb(cr, 0, 0.8, 0);
        cairo_set_line_width(cr, 1);
        for (int x = 120; x < kWidth; x += 120) {
            cairo_move_to(cr, x + 0.5, 0);
            cairo_line_to(cr, x + 0.5, kHeight);
        }
        for (int y = 120; y < kHeight; y += 120) {
            cairo_move_to(cr, 0, y + 0.5);
            cairo_line_to(cr, kWidth, y + 0.5);
        }
        cairo_stroke(cr);
        cairo_select_font_face(cr, "Liberation Mono", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cr, 45);
        const char* caption = "Motion area 1  2026-12-06 18:00:00";
        const int shifts[4][2] = {{-1, -1}, {1, 1}, {-1, 1}, {1, -1}};
        cairo_set_source_rgb(cr, 0, 0, 0);
        for (const auto& s : shifts) {
            cairo_move_to(cr, 10 + s[0], kHeight - 20 + s[1]);
            cairo_show_text(cr, caption);
        }
        cairo_set_source_rgb(cr, 250 / 255.0, 250 / 255.0, 250 / 255.0);
        cairo_move_to(cr, 10, kHeight - 20);
        cairo_show_text(cr, caption);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        cairo_surface_destroy(surface);
    }
};

const OverlayPicture& Overlay() {
    static const OverlayPicture overlay;
    return overlay;
}

struct Window {
    Bytes mPixels;
    int mWidth, mHeight;
    Window(int width, int height) : mPixels(size_t(width) * height * 4), mWidth(width), mHeight(height) {}
    SComposeSurface Surface() { return SComposeSurface{mPixels.data(), mWidth, mHeight, mWidth * 4}; }
};

void Compose(benchmark::State& state, int32_t code, bool bottomUp, bool withOverlay, int width, int height) {
    av_log_set_level(AV_LOG_ERROR);
    const auto& frames = Frames(code);
    CKeyedOverlay overlay;
    overlay.Set(Overlay().mPixels.data(), kWidth, kHeight, Overlay().mStride, EOverlayFormat::Bgrx);
    Window window(kWidth, kHeight);
    SComposeOptions options;
    options.mDestination = RECT{0, 0, width, height};
    options.mpOverlay = withOverlay ? &overlay : nullptr;
    CComposeContext context;
    size_t i = 0;
    for (auto _ : state) {
        if (!ComposePicture(context, View(frames[i++ % frames.size()], code, bottomUp), window.Surface(),
                            options))
            state.SkipWithError("ComposePicture failed");
        benchmark::ClobberMemory();
    }
    state.counters["drawn"] = double(overlay.OpaquePixels());
}

void BM_ComposeI420(benchmark::State& s) {
    Compose(s, kComposeI420, false, true, kWidth, kHeight);
}
void BM_ComposeI420BottomUp(benchmark::State& s) {
    Compose(s, kComposeI420, true, true, kWidth, kHeight);
}
void BM_ComposeI420NoOverlay(benchmark::State& s) {
    Compose(s, kComposeI420, false, false, kWidth, kHeight);
}
void BM_ComposeBgra(benchmark::State& s) {
    Compose(s, kComposeBgra, false, true, kWidth, kHeight);
}
void BM_ComposeBgraBottomUp(benchmark::State& s) {
    Compose(s, kComposeBgra, true, true, kWidth, kHeight);
}
void BM_ComposeBgraNoOverlay(benchmark::State& s) {
    Compose(s, kComposeBgra, false, false, kWidth, kHeight);
}
void BM_ComposeRgb565(benchmark::State& s) {
    Compose(s, kComposeRgb565, false, true, kWidth, kHeight);
}
void BM_ComposeGridCellI420(benchmark::State& s) {
    Compose(s, kComposeI420, true, true, kWidth / 4, kHeight / 4);
}
void BM_ComposeGridCellRgb565(benchmark::State& s) {
    Compose(s, kComposeRgb565, true, true, kWidth / 4, kHeight / 4);
}
BENCHMARK(BM_ComposeI420)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeI420BottomUp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeI420NoOverlay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeBgra)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeBgraBottomUp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeBgraNoOverlay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeRgb565)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeGridCellI420)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeGridCellRgb565)->Unit(benchmark::kMillisecond);

// --- scaling: libswscale, pixman, Cairo --------------------------------------

// A BGRA picture of width x height cut from the first frame.
Bytes Bgra(int width, int height) {
    const Bytes& frame = Frames(kComposeBgra)[0];
    Bytes out(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        memcpy(&out[size_t(y) * width * 4], &frame[size_t(y) * kWidth * 4], size_t(width) * 4);
    return out;
}

void ScaleSwscale(benchmark::State& state, int32_t srcFormat, int sw, int sh, int dw, int dh) {
    av_log_set_level(AV_LOG_ERROR);
    const Bytes src = srcFormat == AV_PIX_FMT_BGRA ? Bgra(sw, sh) : Frames(kComposeI420)[0];
    Window window(dw, dh);
    SwsContext* scaler = sws_getContext(sw, sh, AVPixelFormat(srcFormat), dw, dh, AV_PIX_FMT_BGRA,
                                        SWS_BILINEAR, nullptr, nullptr, nullptr);
    const uint8_t* planes[4] = {src.data(), src.data() + size_t(sw) * sh,
                                src.data() + size_t(sw) * sh * 5 / 4};
    const int strides[4] = {srcFormat == AV_PIX_FMT_BGRA ? sw * 4 : sw, sw / 2, sw / 2, 0};
    uint8_t* out[4] = {window.mPixels.data()};
    const int outStrides[4] = {dw * 4};
    for (auto _ : state)
        sws_scale(scaler, planes, strides, 0, sh, out, outStrides);
    sws_freeContext(scaler);
}

void ScalePixman(benchmark::State& state, int sw, int sh, int dw, int dh) {
    Bytes src = Bgra(sw, sh);
    Window window(dw, dh);
    pixman_image_t* from =
        pixman_image_create_bits(PIXMAN_x8r8g8b8, sw, sh, reinterpret_cast<uint32_t*>(src.data()), sw * 4);
    pixman_image_t* to = pixman_image_create_bits(PIXMAN_x8r8g8b8, dw, dh,
                                                  reinterpret_cast<uint32_t*>(window.mPixels.data()), dw * 4);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_fixed_t((int64_t(sw) << 16) / dw),
                                pixman_fixed_t((int64_t(sh) << 16) / dh));
    pixman_image_set_transform(from, &t);
    pixman_image_set_filter(from, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(from, PIXMAN_REPEAT_PAD);
    for (auto _ : state)
        pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, to, 0, 0, 0, 0, 0, 0, dw, dh);
    pixman_image_unref(from);
    pixman_image_unref(to);
}

// Cairo as a renderer would call it: a surface over each picture, a scaled
// pattern, paint; a bottom-up picture needs a flipping matrix (Cairo takes
// no negative stride).
void ScaleCairo(benchmark::State& state, int sw, int sh, int dw, int dh, cairo_filter_t filter,
                bool bottomUp) {
    Bytes src = Bgra(sw, sh);
    Window window(dw, dh);
    for (auto _ : state) {
        cairo_surface_t* from =
            cairo_image_surface_create_for_data(src.data(), CAIRO_FORMAT_RGB24, sw, sh, sw * 4);
        cairo_surface_t* to =
            cairo_image_surface_create_for_data(window.mPixels.data(), CAIRO_FORMAT_RGB24, dw, dh, dw * 4);
        cairo_t* cr = cairo_create(to);
        cairo_scale(cr, double(dw) / sw, double(dh) / sh);
        if (bottomUp) {
            cairo_translate(cr, 0, sh);
            cairo_scale(cr, 1, -1);
        }
        cairo_set_source_surface(cr, from, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), filter);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_destroy(to);
        cairo_surface_destroy(from);
    }
}

void ScaleLibrary(benchmark::State& state, int32_t code, int dw, int dh) {
    Compose(state, code, false, false, dw, dh);
}

void BM_EnlargeBgraSwscale(benchmark::State& s) {
    ScaleSwscale(s, AV_PIX_FMT_BGRA, 1280, 720, kWidth, kHeight);
}
void BM_EnlargeBgraPixman(benchmark::State& s) {
    ScalePixman(s, 1280, 720, kWidth, kHeight);
}
void BM_EnlargeBgraCairo(benchmark::State& s) {
    ScaleCairo(s, 1280, 720, kWidth, kHeight, CAIRO_FILTER_BILINEAR, false);
}
void BM_EnlargeBgraCairoBottomUp(benchmark::State& s) {
    ScaleCairo(s, 1280, 720, kWidth, kHeight, CAIRO_FILTER_BILINEAR, true);
}
void BM_ShrinkBgraSwscale(benchmark::State& s) {
    ScaleSwscale(s, AV_PIX_FMT_BGRA, kWidth, kHeight, 960, 540);
}
void BM_ShrinkBgraPixmanBilinear(benchmark::State& s) {
    ScalePixman(s, kWidth, kHeight, 960, 540);
}
void BM_ShrinkBgraCairoGood(benchmark::State& s) {
    ScaleCairo(s, kWidth, kHeight, 960, 540, CAIRO_FILTER_GOOD, false);
}
void BM_ShrinkBgraLibrary(benchmark::State& s) {
    ScaleLibrary(s, kComposeBgra, 960, 540);
}
void BM_ShrinkI420Swscale(benchmark::State& s) {
    ScaleSwscale(s, AV_PIX_FMT_YUV420P, kWidth, kHeight, 960, 540);
}
void BM_ShrinkI420Library(benchmark::State& s) {
    ScaleLibrary(s, kComposeI420, 960, 540);
}
BENCHMARK(BM_EnlargeBgraSwscale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnlargeBgraPixman)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnlargeBgraCairo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnlargeBgraCairoBottomUp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShrinkBgraSwscale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShrinkBgraPixmanBilinear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShrinkBgraCairoGood)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShrinkBgraLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShrinkI420Swscale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShrinkI420Library)->Unit(benchmark::kMillisecond);

// --- overlay -----------------------------------------------------------------

void BM_OverlaySet(benchmark::State& state) {
    CKeyedOverlay overlay;
    for (auto _ : state)
        overlay.Set(Overlay().mPixels.data(), kWidth, kHeight, Overlay().mStride, EOverlayFormat::Bgrx);
    state.counters["drawn"] = double(overlay.OpaquePixels());
}
BENCHMARK(BM_OverlaySet)->Unit(benchmark::kMillisecond);

void BM_OverlayRuns(benchmark::State& state) {
    CKeyedOverlay overlay;
    overlay.Set(Overlay().mPixels.data(), kWidth, kHeight, Overlay().mStride, EOverlayFormat::Bgrx);
    overlay.SetAlpha(float(state.range(0)) / 100);
    Window window(kWidth, kHeight);
    const RECT all{0, 0, kWidth, kHeight};
    for (auto _ : state)
        overlay.Blend(window.Surface(), all, all);
}
BENCHMARK(BM_OverlayRuns)->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond);

// The same overlay as pixman would blend it: converted once to premultiplied
// ARGB with the key at alpha 0, composited OVER the video every picture.
void BM_OverlayPixmanOver(benchmark::State& state) {
    const float alpha = float(state.range(0)) / 100;
    std::vector<uint32_t> premultiplied(size_t(kWidth) * kHeight);
    const auto* src = reinterpret_cast<const uint32_t*>(Overlay().mPixels.data());
    const uint32_t a = uint32_t(alpha * 255 + 0.5f);
    for (size_t i = 0; i < premultiplied.size(); ++i) {
        const uint32_t c = src[i] & 0xFFFFFF;
        if (c == 0xFFFFFF)
            continue;
        const uint32_t r = (c >> 16) * a / 255, g = (c >> 8 & 255) * a / 255, b = (c & 255) * a / 255;
        premultiplied[i] = a << 24 | r << 16 | g << 8 | b;
    }
    pixman_image_t* overlay =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, premultiplied.data(), kWidth * 4);
    Window window(kWidth, kHeight);
    pixman_image_t* to = pixman_image_create_bits(
        PIXMAN_x8r8g8b8, kWidth, kHeight, reinterpret_cast<uint32_t*>(window.mPixels.data()), kWidth * 4);
    for (auto _ : state)
        pixman_image_composite32(PIXMAN_OP_OVER, overlay, nullptr, to, 0, 0, 0, 0, 0, 0, kWidth, kHeight);
    pixman_image_unref(overlay);
    pixman_image_unref(to);
}
BENCHMARK(BM_OverlayPixmanOver)->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond);

// The plain way: every pixel of the bitmap tested against the key, each frame.
void BM_OverlayEveryPixel(benchmark::State& state) {
    const uint32_t weight = uint32_t(state.range(0) * 256 / 100);
    Window window(kWidth, kHeight);
    const auto* src = reinterpret_cast<const uint32_t*>(Overlay().mPixels.data());
    auto* dst = reinterpret_cast<uint32_t*>(window.mPixels.data());
    for (auto _ : state) {
        for (size_t i = 0; i < size_t(kWidth) * kHeight; ++i) {
            const uint32_t o = src[i];
            if ((o & 0xFFFFFF) == 0xFFFFFF)
                continue;
            const uint32_t v = dst[i];
            const uint32_t rb = ((o & 0xFF00FF) * weight + (v & 0xFF00FF) * (256 - weight)) >> 8;
            const uint32_t g = ((o & 0xFF00) * weight + (v & 0xFF00) * (256 - weight)) >> 8;
            dst[i] = 0xFF000000u | (rb & 0xFF00FF) | (g & 0xFF00);
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_OverlayEveryPixel)->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
