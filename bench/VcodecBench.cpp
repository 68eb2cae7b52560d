// CPU time of the codec library per picture on 1080p camera streams: JPEG to
// BGRA (the display path) and H.264 to I420. The inputs are made with the
// ffmpeg tool: in.mjpeg (JPEG images back to back) and in.h264 (Annex-B) in
// $VCODEC_BENCH_DIR, or generated into a temporary folder when it is unset.
// bench/vcodec_vs_peers.sh runs this beside ffmpeg and GStreamer on the same
// files. Google Benchmark's "CPU" column is this thread's CPU time per picture.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "ipcamview/vcodec.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string InputDir() {
    static std::string dir = [] {
        const char* given = std::getenv("VCODEC_BENCH_DIR");
        if (given && *given)
            return std::string(given);
        char pattern[] = "/tmp/vcodec-bench-XXXXXX";
        if (!mkdtemp(pattern))
            throw std::runtime_error("mkdtemp");
        std::string d = pattern;
        std::string source = "-f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 60 ";
        if (std::system(
                ("ffmpeg -nostdin -v error -y " + source + "-c:v mjpeg -q:v 3 -f mjpeg " + d + "/in.mjpeg")
                    .c_str()) != 0 ||
            std::system(("ffmpeg -nostdin -v error -y " + source +
                         "-c:v libx264 -profile:v baseline -preset veryfast -g 50 -f h264 " + d + "/in.h264")
                            .c_str()) != 0)
            throw std::runtime_error("ffmpeg could not make the inputs");
        return d;
    }();
    return dir;
}

// JPEG images of a stream of back-to-back images (each begins FF D8 FF and
// the previous one ends FF D9).
std::vector<Bytes> JpegFrames() {
    Bytes all = ReadFile(InputDir() + "/in.mjpeg");
    std::vector<Bytes> frames;
    size_t start = 0;
    for (size_t i = 2; i + 3 <= all.size(); ++i) {
        if (all[i] == 0xFF && all[i + 1] == 0xD8 && all[i + 2] == 0xFF && all[i - 2] == 0xFF &&
            all[i - 1] == 0xD9) {
            frames.emplace_back(all.begin() + long(start), all.begin() + long(i));
            start = i;
        }
    }
    frames.emplace_back(all.begin() + long(start), all.end());
    return frames;
}

void BM_JpegToBgra1080p(benchmark::State& state) {
    std::vector<Bytes> frames = JpegFrames();
    int32_t handle = CreateCodec(VCODEC_FORMAT_JPEG, VCODEC_PIXEL_BGRA32, kWidth, -kHeight, 30);
    Bytes out(size_t(kWidth) * kHeight * 4);
    size_t i = 0;
    for (auto _ : state) {
        const Bytes& frame = frames[i++ % frames.size()];
        int32_t length = int32_t(frame.size());
        int32_t size = int32_t(out.size());
        if (!Decode(handle, frame.data(), &length, out.data(), &size))
            state.SkipWithError("a frame did not decode");
        benchmark::DoNotOptimize(out.data());
    }
    ReleaseCodec(handle);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JpegToBgra1080p)->Unit(benchmark::kMillisecond);

void BM_H264ToI4201080p(benchmark::State& state) {
    Bytes stream = ReadFile(InputDir() + "/in.h264");
    // An access unit delimiter ends the last unit so that every picture comes out.
    stream.insert(stream.end(), {0, 0, 0, 1, 9, 0xF0});
    Bytes out(size_t(kWidth) * kHeight * 3 / 2);
    int32_t handle = CreateCodec(VCODEC_FORMAT_H264, VCODEC_PIXEL_I420, kWidth, -kHeight, 30);
    size_t pos = 0;
    for (auto _ : state) {
        int32_t length = int32_t(stream.size() - pos);
        int32_t size = int32_t(out.size());
        if (!Decode(handle, stream.data() + pos, &length, out.data(), &size)) {
            // End of the stream: start again on a new decoder, untimed.
            state.PauseTiming();
            ReleaseCodec(handle);
            handle = CreateCodec(VCODEC_FORMAT_H264, VCODEC_PIXEL_I420, kWidth, -kHeight, 30);
            pos = 0;
            length = int32_t(stream.size());
            size = int32_t(out.size());
            state.ResumeTiming();
            if (!Decode(handle, stream.data(), &length, out.data(), &size))
                state.SkipWithError("the stream does not decode");
        }
        pos += size_t(length);
        benchmark::DoNotOptimize(out.data());
    }
    ReleaseCodec(handle);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_H264ToI4201080p)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
