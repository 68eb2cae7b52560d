// What recording one camera frame costs on the recorder's thread: a 1080p
// JPEG (or a VGA JPEG) queued to a CRecordWorker that records through the
// real RecKit into a Matroska file, one worker pass per frame: the frame
// record's copy, RecKit's split and the muxer's write, the file write
// included. BM_RecKitJoin is RecKit's part alone (JoinVideoToCMSRecorder).
//
// Input: 25 frames of ffmpeg's testsrc2, JPEG quality 5 (about what a camera
// sends), made into $RECORD_BENCH_DIR or a temporary folder; the recordings
// go there too and are removed. "CPU" is this thread's CPU per frame; the
// kernel's share of writing the file is in it, the disk's is not.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "ipcamview/reckit.h"
#include "platform/CMediaObj.h"
#include "record/CRecordWorker.h"

using media_util::CMediaObj;

namespace {

constexpr int kFrames = 25;

std::string Folder() {
    static const std::string dir = [] {
        const char* given = std::getenv("RECORD_BENCH_DIR");
        if (given != nullptr && *given != '\0')
            return std::string(given);
        char pattern[] = "/tmp/record-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            throw std::runtime_error("mkdtemp");
        return std::string(pattern);
    }();
    return dir;
}

// kFrames JPEG frames of width x height, as a camera's stream carries them.
const std::vector<CMediaObj>& Frames(int width, int height) {
    static std::map<int, std::vector<CMediaObj>> cache;
    std::vector<CMediaObj>& out = cache[width];
    if (!out.empty())
        return out;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + size +
                                ":rate=25 -frames:v " + std::to_string(kFrames) +
                                " -c:v mjpeg -q:v 5 -pix_fmt yuvj420p '" + Folder() + "/" + size +
                                "-%03d.jpg'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("ffmpeg");
    out.resize(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/%s-%03d.jpg", size.c_str(), i + 1);
        std::ifstream in(Folder() + name, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        CMediaObj& o = out[static_cast<size_t>(i)];
        o.mVideoFormat = media_util::kVideoJpeg;
        o.mFrameKind = media_util::kFrameKey;
        o.mWidth = width;
        o.mHeight = height;
        o.mFrameRate = 25000;
        o.mFrameNumber = i;
        o.CopyData(bytes.data(), static_cast<int32_t>(bytes.size()));
    }
    return out;
}

// One JPEG frame of state.range(0) pixels' width per iteration through join
// into a recording at path (opened by open, finished by close), then the
// file removed. join returns false to end the run.
template <typename Open, typename Join, typename Close>
void RunJpeg(benchmark::State& state, const char* file, Open open, Join join, Close close) {
    const int width = static_cast<int>(state.range(0));
    const std::vector<CMediaObj>& frames = Frames(width, width * 9 / 16);
    const std::string path = Folder() + "/" + file;
    if (!open(std::wstring(path.begin(), path.end()))) {
        state.SkipWithError("cannot start the recording");
        return;
    }
    size_t i = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        const CMediaObj& frame = frames[i++ % frames.size()];
        if (!join(frame)) {
            state.SkipWithError("join failed");
            break;
        }
        bytes += frame.mDataSize;
    }
    close();
    std::remove(path.c_str());
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.SetBytesProcessed(bytes);
}

// The recorder worker's pass per frame, as its thread runs it.
void BM_RecordWorkerJpeg(benchmark::State& state) {
    CRecordWorker worker;
    RunJpeg(
        state, "worker.mkv",
        [&](const std::wstring& path) {
            return worker.OpenRecording(path, media_util::kVideoJpeg, 0, 0, 0, 0) != 0;
        },
        [&](const CMediaObj& frame) {
            worker.GetQueue()->Enque(frame.CloneMeSharingContent());
            worker.Job();
            return true;
        },
        [&] { worker.CloseRecording(); });
}

// RecKit alone: one frame record joined (the record's buffer is made once).
void BM_RecKitJoinJpeg(benchmark::State& state) {
    int32_t handle = -1;
    RunJpeg(
        state, "reckit.mkv",
        [&](const std::wstring& path) {
            handle = CreateCMSRecorder(CMS_KIND_JPEG, 0, 0);
            return handle >= 0 && SetCMSRecorderFileInfo(handle, path.c_str(), L"thrd") != 0 &&
                   StartCMSRecorder(handle) != 0;
        },
        [&](const CMediaObj& frame) {
            CmsVideoFrame record{};
            record.pData = frame.mpData;
            record.dataLength = static_cast<uint32_t>(frame.mDataSize);
            record.width = frame.mWidth;
            record.height = frame.mHeight;
            record.frameRate = 25;
            GetLocalTime(&record.time);
            return JoinVideoToCMSRecorder(handle, &record) != 0;
        },
        [&] {
            StopCMSRecorder(handle);
            ReleaseCMSRecorder(handle);
        });
}

} // namespace

BENCHMARK(BM_RecordWorkerJpeg)->Arg(640)->Arg(1920)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecKitJoinJpeg)->Arg(640)->Arg(1920)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
