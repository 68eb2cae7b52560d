// `ipcamview view`: viewers on the shared pipeline, as a host runs them.
//
// One viewer per --channel (the same channel may be named twice: two
// viewers then share one receiver), each opened, with its pipeline built and
// subscribed to the process's source table. Until the renderer is there the
// host is headless: this thread drains each channel's queue as the renderer
// will, decoding what arrives compressed with the channel's own decoder (a
// channel of a decoded source receives pictures), and prints one progress
// line per second per viewer.
//
// With --record every viewer records what its channel receives into a file
// of its own; key R (for now: R and Enter in a terminal, until the window
// exists) ends the recordings or starts new ones.
#include "Commands.h"

#include "DeviceOpen.h"
#include "Interrupt.h"

#include "os/kernel/Kernel.h"
#include "pipeline/CLiveSource.h"
#include "pipeline/CSourceTable.h"
#include "platform/CMediaObj.h"
#include "record/CRecordWorker.h"
#include "render/CVideoDecoder.h"
#include "source/CMultipartSource.h"

#include <memory>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: ipcamview view ADDRESS [device options] [--channel N]... [--share-decode] [--headless]\n"
    "                      [--record [FILE]] [--duration S] [--json]\n"
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
    "  --record [FILE]  record what each viewer receives, a file per viewer: FILE for one\n"
    "                   viewer, FILE with -chN before its extension for several (-chN-K\n"
    "                   for the K-th viewer of a channel named again); without FILE\n"
    "                   (--record last, or before another option) the recorder's own\n"
    "                   name, rec-<channel>-<YYYYMMDD-HHMMSS>.mkv, in the working\n"
    "                   folder. Each file's name is printed when it opens and a line\n"
    "                   with its frames, bytes and seconds when it closes (standard\n"
    "                   error); the summary adds viewerK.record_*. In a terminal, R and\n"
    "                   Enter end the recordings or start new ones (key R of the window)\n"
    "  --duration S     end after S seconds, recordings included (default: until Ctrl-C)\n"
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
    std::string recordPath; // handed to the channel; "" for the recorder's own name
    bool recordAnnounced = false;
};

// The file of each viewer for --record FILE: FILE itself for one viewer,
// otherwise FILE with "-chN" (and "-K" for the K-th viewer of channel N)
// before its extension.
std::vector<std::string> RecordPaths(const std::string& file, const std::vector<int32_t>& channels) {
    std::vector<std::string> paths(channels.size());
    if (file.empty())
        return paths;
    if (channels.size() == 1) {
        paths[0] = file;
        return paths;
    }
    const size_t slash = file.rfind('/');
    size_t dot = file.rfind('.');
    if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot < slash + 2))
        dot = file.size();
    for (size_t i = 0; i < channels.size(); ++i) {
        int seen = 0;
        for (size_t j = 0; j <= i; ++j)
            seen += channels[j] == channels[i] ? 1 : 0;
        std::string tag = "-ch" + std::to_string(channels[i]);
        if (seen > 1)
            tag += "-" + std::to_string(seen);
        paths[i] = file.substr(0, dot) + tag + file.substr(dot);
    }
    return paths;
}

double Since(DWORD start) {
    return (timeGetTime() - start) / 1000.0;
}

int64_t FileBytes(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
}

// Starts the viewer's recording. False (with the reason printed) when the
// recorder could not be opened.
bool StartRecording(SViewerRun& run, size_t index, DWORD start) {
    run.viewer->mRecordPath = run.recordPath;
    run.recordAnnounced = false;
    if (run.viewer->StartRecord() != 0)
        return true;
    std::fprintf(stderr, "t=%.1fs viewer%zu ch%d cannot record%s%s\n", Since(start), index + 1, run.channel,
                 run.recordPath.empty() ? "" : " to ", run.recordPath.c_str());
    return false;
}

// Prints the file's name once the recorder has created it (RecKit names a
// file of its own after the first frames).
void AnnounceRecording(SViewerRun& run, size_t index, DWORD start) {
    CRecordWorker* recorder = run.viewer->mpRecorder;
    if (run.recordAnnounced || recorder == nullptr)
        return;
    const std::string name = recorder->GetFileName();
    if (name.empty())
        return;
    std::fprintf(stderr, "t=%.1fs viewer%zu ch%d recording %s\n", Since(start), index + 1, run.channel,
                 name.c_str());
    run.recordAnnounced = true;
}

// Ends the viewer's recording (the file is complete when it returns) and
// prints what it holds.
void StopRecording(SViewerRun& run, size_t index, DWORD start) {
    if (run.viewer->mpRecorder == nullptr)
        return;
    AnnounceRecording(run, index, start);
    run.viewer->StopRecord();
    const CRecordWorker::SSummary& done = run.viewer->mLastRecording;
    std::fprintf(stderr, "t=%.1fs viewer%zu ch%d recorded %s frames=%lld bytes=%lld seconds=%.1f\n",
                 Since(start), index + 1, run.channel,
                 done.fileName.empty() ? "nothing" : done.fileName.c_str(),
                 static_cast<long long>(done.videoFrames), static_cast<long long>(FileBytes(done.fileName)),
                 done.seconds);
}

// Key R: ends the recordings when any runs, else starts one for every viewer.
void ToggleRecording(std::vector<SViewerRun>& runs, DWORD start) {
    bool recording = false;
    for (const SViewerRun& run : runs)
        recording = recording || run.viewer->mpRecorder != nullptr;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (recording)
            StopRecording(runs[i], i, start);
        else
            StartRecording(runs[i], i, start);
    }
}

// The keys typed in a terminal, a line at a time; none when standard input
// is not a terminal. Returns the first character of a line, or 0.
int TerminalKey() {
    static const bool terminal = ::isatty(STDIN_FILENO) != 0;
    if (!terminal)
        return 0;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0)
        return 0;
    char line[256];
    const ssize_t got = ::read(STDIN_FILENO, line, sizeof line);
    return got > 0 ? static_cast<unsigned char>(line[0]) : 0;
}

// What a key does in the view (the window will hand its keys here too).
void OnKey(int key, std::vector<SViewerRun>& runs, DWORD start) {
    if (key == 'r' || key == 'R')
        ToggleRecording(runs, start);
}

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
                               {"--record", true, "[FILE]", true},
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

    const bool record = line.Has("--record");
    const std::vector<std::string> recordPaths = RecordPaths(line.Value("--record"), channels);

    std::vector<SViewerRun> runs(channels.size());
    for (size_t i = 0; i < channels.size(); ++i) {
        SViewerRun& run = runs[i];
        run.channel = channels[i];
        run.recordPath = recordPaths[i];
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
    for (size_t i = 0; record && i < runs.size(); ++i)
        if (!StartRecording(runs[i], i, start))
            return Fail(kExitFailed, "channel %d: the recording could not be opened%s%s", runs[i].channel,
                        runs[i].recordPath.empty() ? " in the working folder" : ": ",
                        runs[i].recordPath.c_str());

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
        for (size_t i = 0; i < runs.size(); ++i)
            AnnounceRecording(runs[i], i, start);
        if (const int key = TerminalKey())
            OnKey(key, runs, start);
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

    // The recordings end first, so that their files are complete before the
    // summary says what they hold.
    for (size_t i = 0; i < runs.size(); ++i)
        StopRecording(runs[i], i, start);

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
        if (record) {
            const CRecordWorker::SSummary& done = run.viewer->mLastRecording;
            report.Add(key + "record_file", done.fileName);
            report.Add(key + "record_frames", done.videoFrames);
            report.Add(key + "record_audio_blocks", done.audioBlocks);
            report.Add(key + "record_bytes", FileBytes(done.fileName));
            report.AddFixed(key + "record_seconds", done.seconds, 1);
        }
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
