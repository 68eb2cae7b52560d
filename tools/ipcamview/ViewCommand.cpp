// `ipcamview view`: viewers on the shared pipeline, as a host runs them.
//
// One viewer per --channel (the same channel may be named twice: two
// viewers then share one receiver), each opened, with its pipeline built and
// subscribed to the process's source table. Until the renderer is there the
// host is headless: this thread drains each channel's queue as the renderer
// will, decoding what arrives compressed with the channel's own decoder (a
// channel of a decoded source receives pictures), and prints one progress
// line per second per viewer.
#include "Commands.h"

#include "DeviceOpen.h"
#include "Interrupt.h"

#include "os/kernel/Kernel.h"
#include "pipeline/CLiveSource.h"
#include "pipeline/CSourceTable.h"
#include "platform/CMediaObj.h"
#include "render/CVideoDecoder.h"
#include "source/CMultipartSource.h"

#include <memory>

namespace {

const char kUsage[] =
    "usage: ipcamview view ADDRESS [device options] [--channel N]... [--share-decode] [--headless]\n"
    "                      [--duration S] [--json]\n"
    "\n"
    "Opens one viewer per --channel on the device (default: channel 1; a channel named\n"
    "twice gets two viewers), builds each channel's pipeline and subscribes it to the\n"
    "process's shared sources: viewers of the same stream share one receiver, and with\n"
    "--share-decode one decoder as well. Headless (the window comes with the renderer):\n"
    "each channel's frames are decoded as the renderer will, one progress line per second\n"
    "per viewer on standard error, and a summary at the end (viewerK.channel,\n"
    "viewerK.frames, viewerK.pictures, viewerK.drops, ...; sources: the shared sources the\n"
    "table held before teardown) as name=value lines or, with --json, one JSON object.\n"
    "\n"
    "device options: as for probe (--user U --password P, --transport socket|inet,\n"
    "  --codec jpeg|mpeg4|h264, --profile N, --width W --height H, --audio)\n"
    "  --channel N      a channel to view (repeatable)\n"
    "  --share-decode   decode each stream once for all its viewers\n"
    "  --headless       no window (the only way until the renderer is built)\n"
    "  --duration S     end after S seconds (default: run until Ctrl-C)\n"
    "\n"
    "Exit: 0 every viewer got frames; 1 a device refused or failed, or a viewer got no\n"
    "frames; 2 no answer, or bad usage.\n";

constexpr DWORD kProgressPeriodMs = 1000;
constexpr DWORD kDrainWaitMs = 20;
constexpr int64_t kMaxDurationS = 86400;
constexpr size_t kMaxViewers = 64;

bool IsPicture(int32_t format) {
    return format != media_util::kVideoNone && format != media_util::kVideoJpeg &&
           format != media_util::kVideoMpeg4 && format != media_util::kVideoH264QBox;
}

struct SViewerRun {
    std::unique_ptr<CViewer> viewer;
    int32_t channel = 0;
    int64_t frames = 0;
    int64_t keyFrames = 0;
    int64_t pictures = 0;
    int64_t bytes = 0;
    int64_t lastFrames = 0, lastPictures = 0, lastBytes = 0;
};

// What the channel's renderer will do with an object: a picture is shown;
// compressed video is decoded first by the channel's decoder.
void Consume(SViewerRun& run, media_util::CMediaObj* object) {
    ++run.frames;
    run.bytes += static_cast<int64_t>(object->mDataLength) + object->mDataLength2;
    if (object->mFrameKind == media_util::kFrameKey ||
        object->mFrameKind == media_util::kFrameKeyWithConfig ||
        object->mVideoFormat == media_util::kVideoJpeg)
        ++run.keyFrames;
    if (IsPicture(object->mVideoFormat)) {
        ++run.pictures;
    } else if (object->mVideoFormat != media_util::kVideoNone && run.viewer->mpDecoder != nullptr) {
        media_util::CMediaObj* picture = nullptr;
        if (run.viewer->mpDecoder->DecodeAndTake(object, &picture) != 0 && picture != nullptr) {
            ++run.pictures;
            delete picture;
        }
    }
    delete object;
}

int Reconnects() {
    int reconnects = 0;
    CSourceTable::Instance().ForEach([&](int, CSharedSource& source) {
        auto* live = dynamic_cast<CLiveSource*>(&source);
        auto* multipart = live != nullptr ? dynamic_cast<CMultipartSource*>(live->GetReceiver()) : nullptr;
        if (multipart != nullptr && multipart->GetOpenCount() > 1)
            reconnects += multipart->GetOpenCount() - 1;
    });
    return reconnects;
}

} // namespace

int RunView(const Args& args) {
    std::vector<SOption> known = kProbeOptions;
    known.insert(known.end(), {{"--share-decode", false, ""},
                               {"--headless", false, ""},
                               {"--duration", true, "S"},
                               {"--json", false, ""}});
    CCommandLine line;
    int exitCode = kExitOk;
    if (!ParseCommand("view", kUsage, args, known, line, exitCode))
        return exitCode;
    std::string error;
    if (line.Positional().size() != 1)
        return Fail(kExitUsage, "view takes one device address (see ipcamview view --help)");
    int64_t durationS = 0;
    if (!line.Number("--duration", 1, kMaxDurationS, durationS, error))
        return Fail(kExitUsage, "%s", error.c_str());
    std::vector<int32_t> channels;
    for (const std::string& text : line.Values("--channel")) {
        char* end = nullptr;
        const long channel = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || channel < 1 || channel > media_util::CMediaObj::kMaxChannel)
            return Fail(kExitUsage, "bad value for --channel: \"%s\" (1 to %d)", text.c_str(),
                        media_util::CMediaObj::kMaxChannel);
        channels.push_back(static_cast<int32_t>(channel));
    }
    if (channels.empty())
        channels.push_back(ProbeOptions::kDefaultChannel);
    if (channels.size() > kMaxViewers)
        return Fail(kExitUsage, "at most %zu viewers", kMaxViewers);
    ProbeOptions options;
    if (!TakeProbeOptions(line, line.Positional()[0], options, error))
        return Fail(kExitUsage, "%s", error.c_str());

    CInterrupt& end = CInterrupt::Get();
    const DWORD start = timeGetTime();
    if (durationS > 0) {
        end.SetDeadline(static_cast<DWORD>(durationS) * 1000);
        options.openBudgetMs = std::min<DWORD>(options.openBudgetMs, static_cast<DWORD>(durationS) * 1000);
    }

    std::vector<SViewerRun> runs(channels.size());
    for (size_t i = 0; i < channels.size(); ++i) {
        SViewerRun& run = runs[i];
        run.channel = channels[i];
        run.viewer = std::make_unique<CViewer>();
        options.channel = channels[i];
        CViewer* opening = run.viewer.get();
        end.OnEnd([opening] { opening->AbortOpen(); });
        OpenViewer(*run.viewer, options);
        end.OnEnd(nullptr);
        const int opened = ExplainOpen(*run.viewer, options);
        if (opened != kExitOk)
            return opened;
        if (run.viewer->mpSourceVideoInfo == nullptr)
            return Fail(kExitFailed, "channel %d: no pipeline (the device tells no picture size)",
                        run.channel);
        run.viewer->mShareDecode = line.Has("--share-decode") ? 1 : 0;
        if (run.viewer->Subscribe() == 0)
            return Fail(kExitFailed, "channel %d: its stream could not be started", run.channel);
    }

    media_util::CManualEvent arrived;
    for (SViewerRun& run : runs)
        run.viewer->mQueue.SetNotifyEvent(&arrived);
    DWORD lastProgressAt = timeGetTime();
    while (!end.Ended()) {
        media_util::CManualEvent::WaitTwoEvents(&arrived, &end.EndEvent(), kDrainWaitMs);
        arrived.Reset();
        for (SViewerRun& run : runs)
            while (media_util::CMediaObj* object = run.viewer->mQueue.Deque())
                Consume(run, object);
        const DWORD now = timeGetTime();
        if (now - lastProgressAt < kProgressPeriodMs)
            continue;
        const double seconds = (now - lastProgressAt) / 1000.0;
        const int reconnects = Reconnects();
        for (size_t i = 0; i < runs.size(); ++i) {
            SViewerRun& run = runs[i];
            std::fprintf(
                stderr,
                "t=%.1fs viewer%zu ch%d frames=%lld key=%lld pictures=%lld fps=%.1f kbit/s=%.0f drops=%d "
                "reconnects=%d\n",
                (now - start) / 1000.0, i + 1, run.channel,
                static_cast<long long>(run.frames - run.lastFrames), static_cast<long long>(run.keyFrames),
                static_cast<long long>(run.pictures - run.lastPictures),
                (run.pictures - run.lastPictures) / seconds,
                (run.bytes - run.lastBytes) * 8.0 / 1000.0 / seconds, run.viewer->mQueue.mDropCount.load(),
                reconnects);
            run.lastFrames = run.frames;
            run.lastPictures = run.pictures;
            run.lastBytes = run.bytes;
        }
        lastProgressAt = now;
    }

    CReport report;
    const int sources = CSourceTable::Instance().GetLiveCount();
    const int reconnects = Reconnects();
    int result = kExitOk;
    for (size_t i = 0; i < runs.size(); ++i) {
        SViewerRun& run = runs[i];
        run.viewer->mQueue.SetNotifyEvent(nullptr);
        const std::string key = "viewer" + std::to_string(i + 1) + ".";
        report.Add(key + "channel", run.channel);
        report.Add(key + "frames", run.frames);
        report.Add(key + "key_frames", run.keyFrames);
        report.Add(key + "pictures", run.pictures);
        report.Add(key + "drops", run.viewer->mQueue.mDropCount.load());
        report.Add(key + "bytes", run.bytes);
        if (run.frames == 0)
            result = kExitFailed;
    }
    report.Add("sources", sources);
    report.Add("reconnects", reconnects);
    report.AddFixed("seconds", (timeGetTime() - start) / 1000.0, 1);
    // Each viewer leaves the table as a host's Stop makes it.
    for (SViewerRun& run : runs)
        run.viewer.reset();
    report.Print(stdout, line.Has("--json"));
    std::fflush(stdout);
    if (result != kExitOk)
        return Fail(result, "a viewer got no frames");
    return kExitOk;
}
