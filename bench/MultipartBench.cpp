// Splitting a captured 1080p MJPEG multipart stream: CMultipartSource reading
// the capture through the file-backed client (as "receive --file" does:
// pacing mode 2 without a rate limit, so no part waits), the same from
// memory, and, on the same file in the same run, the programs it is compared
// with: FFmpeg's mpjpeg demuxer, GStreamer's multipartdemux, and cat.
//
//   MultipartBench [--capture=PATH] [--mb=N] [google benchmark flags]
//
// The capture (boundary "myboundary", "Content-Type"/"Content-Length"
// headers, testsrc2 pictures encoded by FFmpeg) is made in the set-up when
// PATH does not exist; N (default 200) is its size in MB. Compare the
// bytes_per_second of the rows; they are timed by the wall clock.
#include "platform/CMediaQueue.h"
#include "source/CFileHttpClient.h"
#include "source/CMultipartSource.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string gCapture = "/tmp/ipcam-multipart-1080p.mjpeg";
size_t gMegabytes = 200;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Encodes a few seconds of 1080p test pictures with FFmpeg and repeats them
// as multipart parts until the capture has the asked size.
bool MakeCapture() {
    if (std::ifstream(gCapture).good())
        return true;
    const std::string frames = gCapture + ".frames";
    const std::string cmd =
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 "
        "-frames:v 50 -c:v mjpeg -q:v 3 -f mpjpeg -boundary_tag myboundary '" +
        frames + "'";
    if (std::system(cmd.c_str()) != 0)
        return false;
    // FFmpeg's muxer writes "Content-length" with a lower-case l; the
    // devices (and this parser) use "Content-Length". Take its JPEGs only.
    const std::string raw = ReadAll(frames);
    std::vector<std::string> jpegs;
    size_t at = 0;
    while ((at = raw.find("Content-length: ", at)) != std::string::npos) {
        const size_t length = std::strtoul(raw.c_str() + at + 16, nullptr, 10);
        const size_t data = raw.find("\r\n\r\n", at) + 4;
        if (data < 4 || data + length > raw.size())
            break;
        jpegs.push_back(raw.substr(data, length));
        at = data + length;
    }
    std::remove(frames.c_str());
    if (jpegs.empty())
        return false;
    std::ofstream out(gCapture, std::ios::binary | std::ios::trunc);
    size_t written = 0;
    for (size_t i = 0; written < gMegabytes * 1000 * 1000; ++i) {
        const std::string& jpeg = jpegs[i % jpegs.size()];
        const std::string head =
            "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(jpeg.size()) +
            "\r\n\r\n";
        out << head << jpeg << "\r\n";
        written += head.size() + jpeg.size() + 2;
    }
    return out.good();
}

size_t FileSize() {
    std::ifstream in(gCapture, std::ios::binary | std::ios::ate);
    return static_cast<size_t>(in.tellg());
}

// Splits the capture once through the file-backed (or an in-memory) client;
// returns the parts delivered.
int64_t SplitOnce(const CHttpMediaSource::ClientFactory& factory) {
    media_util::CMediaQueue queue(1000);
    CMultipartSource source;
    source.SetOutputQueue(&queue);
    source.SetClientFactory(factory);
    CSourceDesc desc;
    desc.SetUrlSource("http://127.0.0.1/capture", 1, "", "");
    desc.mPacingMode = CSourceDesc::kPacingRateLimit;
    desc.mRateLimit = 0;
    desc.mAutoRestart = 0;
    source.ApplySettings(&desc);
    source.Init();
    int64_t parts = 0;
    while (source.IsConnected()) {
        source.Step();
        while (media_util::CMediaObj* o = queue.Deque()) {
            ++parts;
            delete o;
        }
    }
    source.Final();
    return parts;
}

void BM_MultipartSourceFile(benchmark::State& state) {
    const CHttpMediaSource::ClientFactory factory =
        [](int, const std::string&, const std::string&, media_util::CManualEvent* cancel, CHttpLink** link,
           IHttpClient** client) { return CFileHttpClient::Create(gCapture, cancel, link, client); };
    int64_t parts = 0;
    for (auto _ : state)
        parts = SplitOnce(factory);
    state.counters["parts"] = static_cast<double>(parts);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize()));
}

// An in-memory capture: what the parser costs without the file reads.
class CMemoryClient : public CFileHttpClient {
public:
    explicit CMemoryClient(const std::string& bytes) : CFileHttpClient(""), mBytes(bytes) {}
    bool Connect(const std::string&, uint16_t, bool) override { return mOpens++ == 0; }
    bool Get(const std::string&) override { return true; }
    bool Disconnect() override { return true; }
    bool Read(void* buffer, DWORD* length, bool) override {
        const size_t n = std::min<size_t>(*length, mBytes.size() - mPosition);
        std::memcpy(buffer, mBytes.data() + mPosition, n);
        mPosition += n;
        *length = static_cast<DWORD>(n);
        return n > 0;
    }

private:
    const std::string& mBytes;
    size_t mPosition = 0;
    int mOpens = 0;
};

void BM_MultipartSourceMemory(benchmark::State& state) {
    static const std::string bytes = ReadAll(gCapture);
    const CHttpMediaSource::ClientFactory factory = [](int, const std::string&, const std::string&,
                                                       media_util::CManualEvent* cancel, CHttpLink** link,
                                                       IHttpClient** client) {
        auto* made = new CMemoryClient(bytes);
        made->SetCancelEvent(cancel);
        *client = made;
        *link = new CHttpLink(made);
        return true;
    };
    int64_t parts = 0;
    for (auto _ : state)
        parts = SplitOnce(factory);
    state.counters["parts"] = static_cast<double>(parts);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void RunCommand(benchmark::State& state, const std::string& cmd) {
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError(("failed: " + cmd).c_str());
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize()));
}

void BM_FfmpegMpjpeg(benchmark::State& state) {
    RunCommand(state,
               "ffmpeg -hide_banner -loglevel error -f mpjpeg -i '" + gCapture + "' -c copy -f null -");
}

void BM_GstMultipartdemux(benchmark::State& state) {
    RunCommand(state, "gst-launch-1.0 -q filesrc location='" + gCapture +
                          "' ! multipartdemux boundary=myboundary ! fakesink > /dev/null");
}

void BM_Cat(benchmark::State& state) {
    RunCommand(state, "cat '" + gCapture + "' > /dev/null");
}

} // namespace

BENCHMARK(BM_MultipartSourceFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MultipartSourceMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegMpjpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GstMultipartdemux)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Cat)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--capture=", 10) == 0)
            gCapture = argv[i] + 10;
        else if (std::strncmp(argv[i], "--mb=", 5) == 0)
            gMegabytes = std::strtoul(argv[i] + 5, nullptr, 10);
        else
            rest.push_back(argv[i]);
    }
    if (!MakeCapture()) {
        std::fprintf(stderr, "could not make the capture %s\n", gCapture.c_str());
        return 1;
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
