// `ipcamview receive`: runs one live receiver on the caller's thread, one
// Step at a time, and counts what reaches its output queue. Running Steps
// here (rather than the receiver's own thread) keeps the counting free of
// locks and lets a captured stream be split as fast as the parser goes.
#include "ProbeOptions.h"

#include "os/kernel/Kernel.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CMediaQueue.h"
#include "platform/CTimer.h"
#include "source/CFileHttpClient.h"
#include "source/CMultipartSource.h"
#include "source/CSnapshotSource.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

namespace {

// Objects the receiver may leave in its queue between two drains; each Step
// delivers one part or one picture, so this is never reached.
constexpr int32_t kQueueLimit = 1000;
// The progress line's period.
constexpr DWORD kProgressPeriodMs = 1000;
// Without --duration a live stream is received this long.
constexpr int kDefaultDurationS = 10;
// Longest --duration accepted (a day).
constexpr int kMaxDurationS = 86400;

struct Counts {
    int64_t frames = 0;
    int64_t videoFrames = 0;
    int64_t audioFrames = 0;
    int64_t bytes = 0;
    int64_t events = 0;
    int64_t reconnects = 0;
    int64_t keyFrames = 0;
    int32_t width = 0;
    int32_t height = 0;
    // Objects per kind: "v1000/ch1", "a2005/ch0".
    std::map<std::string, int64_t> perKind;
};

void Count(const media_util::CMediaObj& object, Counts& counts) {
    ++counts.frames;
    counts.bytes += static_cast<int64_t>(object.mDataLength) + object.mDataLength2;
    std::string kind;
    if (object.mVideoFormat != media_util::kVideoNone) {
        ++counts.videoFrames;
        counts.width = object.mWidth;
        counts.height = object.mHeight;
        if (object.mFrameKind == media_util::kFrameKeyWithConfig ||
            object.mFrameKind == media_util::kFrameKey)
            ++counts.keyFrames;
        kind = "v" + std::to_string(object.mVideoFormat);
    } else if (object.mAudioFormat != media_util::kAudioNone) {
        ++counts.audioFrames;
        kind = "a" + std::to_string(object.mAudioFormat);
    } else {
        kind = "other";
    }
    ++counts.perKind[kind + "/ch" + std::to_string(object.mChannel)];
}

void PrintProgress(DWORD elapsedMs, const Counts& now, const Counts& before, DWORD periodMs) {
    std::string kinds;
    for (const auto& [kind, count] : now.perKind) {
        auto old = before.perKind.find(kind);
        kinds += " " + kind + "=" + std::to_string(count - (old != before.perKind.end() ? old->second : 0));
    }
    const double kbits = periodMs > 0 ? (now.bytes - before.bytes) * 8.0 / periodMs : 0.0;
    std::fprintf(stderr, "t=%.1fs parts=%lld%s kbit/s=%.0f events=%lld reconnects=%lld\n", elapsedMs / 1000.0,
                 static_cast<long long>(now.frames - before.frames), kinds.c_str(), kbits,
                 static_cast<long long>(now.events), static_cast<long long>(now.reconnects));
}

void PrintSummary(const Counts& counts) {
    std::printf(
        "frames=%lld\nvideo_frames=%lld\naudio_frames=%lld\nbytes=%lld\nevents=%lld\nreconnects=%lld\n"
        "key_frames=%lld\nwidth=%d\nheight=%d\n",
        static_cast<long long>(counts.frames), static_cast<long long>(counts.videoFrames),
        static_cast<long long>(counts.audioFrames), static_cast<long long>(counts.bytes),
        static_cast<long long>(counts.events), static_cast<long long>(counts.reconnects),
        static_cast<long long>(counts.keyFrames), counts.width, counts.height);
}

enum class Mode { kDevice, kUrl, kFile };

// Ends the receiver's work at the end of the duration: the Step in progress
// may be inside a read from a device that trickles, which only a stop
// request (it cancels the read) ends before the device lets it.
class CDurationTimer : public media_util::CTimer {
public:
    CDurationTimer(DWORD milliseconds, media_util::CThreadWorker& source)
        : CTimer(milliseconds), mSource(source) {}
    ~CDurationTimer() override { Stop(); }
    void OnTimeout() override { mSource.NotifyStop(); }

private:
    media_util::CThreadWorker& mSource;
};

// Drives source until the duration ends (live) or the capture is read
// (file), draining queue after every Step.
Counts Run(CHttpMediaSource& source, media_util::CMediaQueue& queue, Mode mode, int durationS) {
    Counts counts;
    Counts lastProgress;
    auto* multipart = dynamic_cast<CMultipartSource*>(&source);
    const DWORD start = timeGetTime();
    DWORD lastProgressAt = start;
    std::unique_ptr<CDurationTimer> timer;
    if (mode != Mode::kFile) {
        timer = std::make_unique<CDurationTimer>(static_cast<DWORD>(durationS) * 1000, source);
        timer->Start();
    }
    bool wasConnected = multipart != nullptr && multipart->IsConnected();
    bool everConnected = wasConnected;
    std::vector<uint32_t> events;
    for (;;) {
        const DWORD now = timeGetTime();
        if (mode != Mode::kFile && (now - start >= static_cast<DWORD>(durationS) * 1000 || timer->HasFired()))
            break;
        if (mode == Mode::kFile && !multipart->IsConnected())
            break;
        // A receiver stops itself when the device refuses the stream, when
        // the picture format changes, or when it failed too often; a host
        // would rebuild its channel then, the tool reports and ends.
        if (!source.IsRunning()) {
            if (timer == nullptr || !timer->HasFired())
                std::fprintf(stderr, "receive: the receiver stopped (stream refused, format changed, or too "
                                     "many failures)\n");
            break;
        }
        source.Step();
        while (media_util::CMediaObj* object = queue.Deque()) {
            Count(*object, counts);
            delete object;
        }
        events.clear();
        if (source.TakeEvents(events))
            counts.events += static_cast<int64_t>(events.size());
        if (multipart != nullptr) {
            const bool connected = multipart->IsConnected();
            if (connected && !wasConnected && everConnected)
                ++counts.reconnects;
            everConnected = everConnected || connected;
            wasConnected = connected;
        }
        const DWORD after = timeGetTime();
        if (after - lastProgressAt >= kProgressPeriodMs) {
            PrintProgress(after - start, counts, lastProgress, after - lastProgressAt);
            lastProgress = counts;
            lastProgressAt = after;
        }
    }
    return counts;
}

const char kUsage[] = "usage: ipcamview receive ADDRESS [--user U --password P] [--channel N] "
                      "[--codec jpeg|mpeg4|h264] [--profile N] [--width W --height H] [--audio] "
                      "[--transport socket|inet] [--duration S]\n"
                      "       ipcamview receive --url STREAM_URL [--user U --password P] "
                      "[--transport socket|inet] [--duration S]\n"
                      "       ipcamview receive --file CAPTURE\n";

} // namespace

int RunReceive(const Args& input) {
    Args args = input;
    std::string url, file, durationText, error;
    const bool byUrl = TakeOption(args, "--url", url);
    const bool byFile = TakeOption(args, "--file", file);
    int durationS = kDefaultDurationS;
    if (TakeOption(args, "--duration", durationText)) {
        char* end = nullptr;
        const long value = std::strtol(durationText.c_str(), &end, 10);
        if (durationText.empty() || *end != '\0' || value < 1 || value > kMaxDurationS) {
            std::fprintf(stderr, "bad duration \"%s\"\n%s", durationText.c_str(), kUsage);
            return 2;
        }
        durationS = static_cast<int>(value);
    }
    ProbeOptions options;
    if (!TakeProbeOptions(args, options, error) || (byUrl && byFile) ||
        args.size() != (byUrl || byFile ? 0u : 1u) || (!args.empty() && args[0].rfind("--", 0) == 0)) {
        std::fprintf(stderr, "%s%s%s", error.c_str(), error.empty() ? "" : "\n", kUsage);
        return 2;
    }

    media_util::CMediaQueue queue(kQueueLimit);
    CSourceDesc desc;
    Mode mode = Mode::kDevice;
    std::unique_ptr<CViewer> viewer;
    if (byFile) {
        mode = Mode::kFile;
        // The capture's place stands in for a device address; the client
        // ignores it. Pacing mode 2 without a rate lets no part wait.
        desc.SetUrlSource("http://127.0.0.1/capture", CSourceDesc::kReceiveMultipart, "", "");
        desc.mPacingMode = CSourceDesc::kPacingRateLimit;
        desc.mRateLimit = 0;
        desc.mAutoRestart = 0;
    } else if (byUrl) {
        mode = Mode::kUrl;
        desc.SetUrlSource(url, CSourceDesc::kReceiveMultipart, options.user, options.password);
        desc.mClientKind = options.transport;
    } else {
        options.address = args[0];
        viewer = std::make_unique<CViewer>();
        const ProbeResult result = OpenViewer(*viewer, options);
        PrintProbe(stderr, *viewer, result);
        if (!viewer->HasStreamPath()) {
            std::fprintf(stderr, "receive: the device gave no stream\n");
            PrintSummary(Counts());
            return 1;
        }
        if (viewer->mLiveDesc.mSourceKind == CSourceDesc::kKindUrl) {
            desc = viewer->mLiveDesc; // what the channel subscribes with
        } else {
            // Open composed a stream but built no pipeline (no picture size):
            // describe the stream as the channel would.
            desc.SetUrlSource(viewer->mStreamUrl,
                              media_util::CMachineCodeConvert::GetMediaReceiveType(viewer->mMachineCode),
                              options.user, options.password);
            desc.mClientKind = options.transport;
            desc.mRequestMode = CSourceDesc::kRequestContinuous;
            desc.mMachineCode = viewer->mMachineCode;
        }
        desc.mpQueue = nullptr;
    }

    std::unique_ptr<CHttpMediaSource> source;
    if (desc.mReceiveType == CSourceDesc::kReceiveJpegPolling)
        source = std::make_unique<CSnapshotSource>();
    else
        source = std::make_unique<CMultipartSource>();
    source->SetOutputQueue(&queue);
    if (byFile) {
        source->SetClientFactory(
            [file](int, const std::string&, const std::string&, media_util::CManualEvent* cancel,
                   CHttpLink** link,
                   IHttpClient** client) { return CFileHttpClient::Create(file, cancel, link, client); });
    }
    if (!source->ApplySettings(&desc)) {
        std::fprintf(stderr, "receive: no client for %s\n", byFile ? file.c_str() : desc.mUrl.c_str());
        PrintSummary(Counts());
        return 1;
    }
    source->Init();
    const Counts counts = Run(*source, queue, mode, durationS);
    source->Final();
    PrintSummary(counts);
    return counts.frames > 0 ? 0 : 1;
}
