// `ipcamview receive`: one live receiver and what reaches its output queue.
//
// A live receiver runs on its own thread, as in a host; this thread drains
// its queue, prints a progress line every second whatever the receiver is
// blocked in, and ends it at the deadline or on Ctrl-C. A captured stream is
// split on this thread instead, one part per Step, so that it goes as fast
// as the parser.
#include "Commands.h"

#include "DeviceOpen.h"
#include "Interrupt.h"

#include "os/kernel/Kernel.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CMediaQueue.h"
#include "source/CFileHttpClient.h"
#include "source/CMultipartSource.h"
#include "source/CSnapshotSource.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace {

const char kUsage[] =
    "usage: ipcamview receive ADDRESS [device options] [--duration S] [--json]\n"
    "       ipcamview receive --url STREAM_URL [--user U --password P] [--transport T] [--duration S]\n"
    "       ipcamview receive --file CAPTURE|- [--json]\n"
    "\n"
    "Runs the live receiver of a device (opened as probe opens it), of a stream URL, or\n"
    "of a captured multipart stream (a file, or - for standard input, split as fast as it\n"
    "reads), and counts what arrives: a progress line every second on standard error, a\n"
    "summary (frames, bytes, key frames, codecs, picture size, events, reconnects) on\n"
    "standard output as name=value lines or, with --json, one JSON object. Every JPEG\n"
    "picture counts as a key frame, whether or not the device marked it; fps counts the\n"
    "video of every channel the stream carries, fps_per_channel one of them.\n"
    "\n"
    "device options: as for probe (--user U --password P, --transport socket|inet,\n"
    "  --channel N, --codec jpeg|mpeg4|h264, --profile N, --width W --height H, --audio)\n"
    "  --duration S   end after S seconds, open included (default: run until Ctrl-C)\n"
    "  --json         the summary as one JSON object\n"
    "  --verbose      also print what the open learned, on standard error\n"
    "\n"
    "Ctrl-C or SIGTERM ends the receiver and prints the summary; a second one ends at once.\n"
    "\n"
    "Exit: 0 frames arrived; 1 the device answered but refused, failed or sent no frames;\n"
    "2 no answer, a capture that cannot be read, or bad usage.\n";

// Objects the receiver may leave in its queue between two drains.
constexpr int32_t kQueueLimit = 1000;
constexpr DWORD kProgressPeriodMs = 1000;
// How often this thread looks at the queue when nothing wakes it.
constexpr DWORD kDrainWaitMs = 100;
// Longest --duration accepted (a day).
constexpr int64_t kMaxDurationS = 86400;

struct Counts {
    int64_t frames = 0;
    int64_t videoFrames = 0;
    int64_t audioFrames = 0;
    int64_t bytes = 0;
    int64_t events = 0;
    int64_t keyFrames = 0;
    int32_t videoCodec = 0;
    int32_t audioCodec = 0;
    int32_t width = 0;
    int32_t height = 0;
    // Objects per codec and channel: "jpeg/ch1", "aac/ch1".
    std::map<std::string, int64_t> perKind;
    // The channels video came on (1-based).
    std::set<int32_t> videoChannels;
};

void Count(const media_util::CMediaObj& object, Counts& counts) {
    ++counts.frames;
    counts.bytes += static_cast<int64_t>(object.mDataLength) + object.mDataLength2;
    std::string kind;
    if (object.mVideoFormat != media_util::kVideoNone) {
        ++counts.videoFrames;
        counts.videoCodec = object.mVideoFormat;
        counts.width = object.mWidth;
        counts.height = object.mHeight;
        counts.videoChannels.insert(UserChannel(object.mChannel));
        // Every JPEG picture stands on its own, tagged or not.
        if (object.mFrameKind == media_util::kFrameKeyWithConfig ||
            object.mFrameKind == media_util::kFrameKey || object.mVideoFormat == media_util::kVideoJpeg)
            ++counts.keyFrames;
        kind = VideoCodecName(object.mVideoFormat);
    } else if (object.mAudioFormat != media_util::kAudioNone) {
        ++counts.audioFrames;
        counts.audioCodec = object.mAudioFormat;
        kind = AudioCodecName(object.mAudioFormat);
    } else {
        kind = "other";
    }
    ++counts.perKind[kind + "/ch" + std::to_string(UserChannel(object.mChannel))];
}

void PrintProgress(DWORD elapsedMs, const Counts& now, const Counts& before, DWORD periodMs, int reconnects) {
    std::string kinds;
    for (const auto& [kind, count] : now.perKind) {
        auto old = before.perKind.find(kind);
        kinds += " " + kind + "=" + std::to_string(count - (old != before.perKind.end() ? old->second : 0));
    }
    const double seconds = periodMs > 0 ? periodMs / 1000.0 : 1.0;
    std::fprintf(stderr, "t=%.1fs frames=%lld%s fps=%.1f kbit/s=%.0f events=%lld reconnects=%d\n",
                 elapsedMs / 1000.0, static_cast<long long>(now.frames - before.frames), kinds.c_str(),
                 (now.videoFrames - before.videoFrames) / seconds,
                 (now.bytes - before.bytes) * 8.0 / 1000.0 / seconds, static_cast<long long>(now.events),
                 reconnects);
}

void PrintSummary(const Counts& counts, int reconnects, DWORD elapsedMs, bool json) {
    CReport report;
    report.Add("frames", counts.frames);
    report.Add("video_frames", counts.videoFrames);
    report.Add("audio_frames", counts.audioFrames);
    report.Add("key_frames", counts.keyFrames);
    report.Add("bytes", counts.bytes);
    report.Add("events", counts.events);
    report.Add("reconnects", reconnects);
    report.Add("video_codec", counts.videoCodec);
    report.Add("video_codec_name", VideoCodecName(counts.videoCodec));
    report.Add("audio_codec", counts.audioCodec);
    report.Add("audio_codec_name", AudioCodecName(counts.audioCodec));
    // The pictures as they arrive: a recorder that sends two channels in
    // one picture sends a picture larger than one channel.
    report.Add("picture_width", counts.width);
    report.Add("picture_height", counts.height);
    report.AddFixed("seconds", elapsedMs / 1000.0, 1);
    // A recorder's stream, or a poller walking a server's inputs, carries
    // several channels: fps counts them all, fps_per_channel one.
    const double fps = elapsedMs > 0 ? counts.videoFrames * 1000.0 / elapsedMs : 0.0;
    const size_t channels = counts.videoChannels.size();
    report.Add("video_channels", static_cast<int64_t>(channels));
    report.AddFixed("fps", fps, 1);
    report.AddFixed("fps_per_channel", channels > 0 ? fps / static_cast<double>(channels) : 0.0, 1);
    report.Print(stdout, json);
    std::fflush(stdout);
}

// What a stopped receiver's events say, in words; "" for nothing notable.
// A source stops itself (event -1) when the device refuses the stream, which
// it does before any frame, or when a channel's picture format changes.
std::string StopReason(const std::vector<uint32_t>& events, int64_t frames) {
    for (uint32_t event : events) {
        if ((event & 0xFFFFFF) != (static_cast<uint32_t>(CMediaSource::kEventStopped) & 0xFFFFFF))
            continue;
        if (frames == 0)
            return "the device refused the stream";
        return "the picture format of channel " + std::to_string((event >> 24) + 1) + " changed";
    }
    return std::string();
}

struct SRun {
    Counts counts;
    std::vector<uint32_t> events;
    DWORD elapsedMs = 0;
    bool stoppedItself = false;
};

void Drain(media_util::CMediaQueue& queue, Counts& counts) {
    while (media_util::CMediaObj* object = queue.Deque()) {
        Count(*object, counts);
        delete object;
    }
}

int Reconnects(const CHttpMediaSource& source) {
    const auto* multipart = dynamic_cast<const CMultipartSource*>(&source);
    return multipart != nullptr && multipart->GetOpenCount() > 1 ? multipart->GetOpenCount() - 1 : 0;
}

// A live receiver on its own thread until the end (deadline, Ctrl-C) or
// until it stops itself.
SRun RunLive(CHttpMediaSource& source, media_util::CMediaQueue& queue, DWORD start) {
    SRun run;
    Counts lastProgress;
    DWORD lastProgressAt = start;
    media_util::CManualEvent arrived;
    queue.SetNotifyEvent(&arrived);
    CInterrupt& end = CInterrupt::Get();
    source.Start();
    end.OnEnd([&source] { source.NotifyStop(); });
    for (;;) {
        media_util::CManualEvent::WaitTwoEvents(&arrived, &end.EndEvent(), kDrainWaitMs);
        arrived.Reset();
        Drain(queue, run.counts);
        if (source.TakeEvents(run.events))
            run.counts.events = static_cast<int64_t>(run.events.size());
        const DWORD now = timeGetTime();
        if (now - lastProgressAt >= kProgressPeriodMs) {
            PrintProgress(now - start, run.counts, lastProgress, now - lastProgressAt, Reconnects(source));
            lastProgress = run.counts;
            lastProgressAt = now;
        }
        if (end.Ended())
            break;
        if (!source.IsThreadWorking()) {
            run.stoppedItself = true;
            break;
        }
    }
    end.OnEnd(nullptr);
    source.Stop();
    queue.SetNotifyEvent(nullptr);
    Drain(queue, run.counts);
    if (source.TakeEvents(run.events))
        run.counts.events = static_cast<int64_t>(run.events.size());
    run.elapsedMs = timeGetTime() - start;
    return run;
}

// A capture, one Step at a time on this thread, until its end.
SRun RunFile(CMultipartSource& source, media_util::CMediaQueue& queue, DWORD start) {
    SRun run;
    Counts lastProgress;
    DWORD lastProgressAt = start;
    CInterrupt& end = CInterrupt::Get();
    source.Init();
    end.OnEnd([&source] { source.NotifyStop(); });
    while (source.IsConnected() && source.IsRunning()) {
        source.Step();
        Drain(queue, run.counts);
        const DWORD now = timeGetTime();
        if (now - lastProgressAt >= kProgressPeriodMs) {
            PrintProgress(now - start, run.counts, lastProgress, now - lastProgressAt, 0);
            lastProgress = run.counts;
            lastProgressAt = now;
        }
    }
    end.OnEnd(nullptr);
    source.Final();
    Drain(queue, run.counts);
    if (source.TakeEvents(run.events))
        run.counts.events = static_cast<int64_t>(run.events.size());
    run.elapsedMs = timeGetTime() - start;
    return run;
}

// Why a live receiver delivered nothing, as the last answer of its client
// tells it; prints it and returns the exit code.
int ExplainNoFrames(CHttpMediaSource& source, const std::string& name, int32_t transport, const SRun& run) {
    const int status = source.GetLastAnswerStatus();
    // A stop of ours also ends the source's waits with event -1: only a
    // source that stopped by itself has something to say.
    const std::string reason = run.stoppedItself ? StopReason(run.events, run.counts.frames) : std::string();
    if (!reason.empty())
        return Fail(kExitFailed, "%s: %s", name.c_str(), reason.c_str());
    if (status == 401 || status == 407)
        return Fail(kExitFailed, "%s: authentication failed (%d)", name.c_str(), status);
    if (status != 0 && status != 200)
        return Fail(kExitFailed, "%s: the stream request answered %d", name.c_str(), status);
    if (status == 200)
        return Fail(kExitFailed, "%s: no frames arrived in %.1f s", name.c_str(), run.elapsedMs / 1000.0);
    return Fail(kExitNoAnswer, "%s: %s", name.c_str(),
                NoAnswerText(source.GetLastRequestError(), transport).c_str());
}

} // namespace

int RunReceive(const Args& args) {
    std::vector<SOption> known = kProbeOptions;
    known.insert(known.end(), {{"--url", true, "STREAM_URL"},
                               {"--file", true, "CAPTURE"},
                               {"--duration", true, "S"},
                               {"--json", false, ""},
                               {"--verbose", false, ""}});
    CCommandLine line;
    int exitCode = kExitOk;
    if (!ParseCommand("receive", kUsage, args, known, line, exitCode))
        return exitCode;
    std::string error;
    const bool byUrl = line.Has("--url");
    const bool byFile = line.Has("--file");
    const size_t addresses = byUrl || byFile ? 0u : 1u;
    if (byUrl && byFile)
        return Fail(kExitUsage, "--url and --file exclude each other");
    if (line.Positional().size() != addresses)
        return Fail(kExitUsage, "%s (see ipcamview receive --help)",
                    addresses == 1 ? "receive takes one device address, or --url, or --file"
                                   : "no device address goes with --url or --file");
    const std::vector<std::string> deviceOnly = {"--channel", "--codec",  "--profile",
                                                 "--width",   "--height", "--audio"};
    std::string misplaced = byUrl || byFile ? line.AnyOf(deviceOnly) : std::string();
    if (misplaced.empty() && byFile)
        misplaced = line.AnyOf({"--user", "--password", "--transport", "--duration"});
    if (!misplaced.empty())
        return Fail(kExitUsage, "%s does not apply to receive %s", misplaced.c_str(),
                    byUrl ? "--url" : "--file");
    int64_t durationS = 0;
    if (!line.Number("--duration", 1, kMaxDurationS, durationS, error))
        return Fail(kExitUsage, "%s", error.c_str());
    const bool json = line.Has("--json");

    CInterrupt& end = CInterrupt::Get();
    const DWORD start = timeGetTime();
    if (durationS > 0)
        end.SetDeadline(static_cast<DWORD>(durationS) * 1000);

    media_util::CMediaQueue queue(kQueueLimit);
    CSourceDesc desc;
    std::string name;
    int32_t transport = kTransportSocket;
    std::unique_ptr<CViewer> viewer;
    if (byFile) {
        const std::string file = line.Value("--file");
        name = file == "-" ? "standard input" : file;
        if (file != "-") {
            std::FILE* probe = std::fopen(file.c_str(), "rb");
            if (probe == nullptr)
                return Fail(kExitNoAnswer, "%s: %s", file.c_str(), std::strerror(errno));
            std::fclose(probe);
        }
        // The capture's place stands in for a device address; the client
        // ignores it. Pacing mode 2 without a rate lets no part wait.
        desc.SetUrlSource("http://127.0.0.1/capture", CSourceDesc::kReceiveMultipart, "", "");
        desc.mPacingMode = CSourceDesc::kPacingRateLimit;
        desc.mRateLimit = 0;
        desc.mAutoRestart = 0;
    } else if (byUrl) {
        SDeviceAddress address;
        std::string user, password;
        if (!ParseDeviceAddress(line.Value("--url"), address, error))
            return Fail(kExitUsage, "%s", error.c_str());
        user = address.user;
        password = address.password;
        if (!TakeConnectOptions(line, user, password, transport, error))
            return Fail(kExitUsage, "%s", error.c_str());
        name = line.Value("--url");
        desc.SetUrlSource(address.url, CSourceDesc::kReceiveMultipart, user, password);
        desc.mClientKind = transport;
    } else {
        ProbeOptions options;
        if (!TakeProbeOptions(line, line.Positional()[0], options, error))
            return Fail(kExitUsage, "%s", error.c_str());
        if (durationS > 0)
            options.openBudgetMs =
                std::min<DWORD>(options.openBudgetMs, static_cast<DWORD>(durationS) * 1000);
        transport = options.transport;
        viewer = std::make_unique<CViewer>();
        CViewer* opening = viewer.get();
        end.OnEnd([opening] { opening->AbortOpen(); });
        const ProbeResult result = OpenViewer(*viewer, options);
        end.OnEnd(nullptr);
        if (line.Has("--verbose")) {
            CReport probe;
            AddProbe(probe, *viewer, result, true);
            probe.Print(stderr, false);
        }
        const int opened = ExplainOpen(*viewer, options);
        if (opened != kExitOk) {
            PrintSummary(Counts(), 0, timeGetTime() - start, json);
            return opened;
        }
        name = viewer->mStreamUrl;
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
        const std::string file = line.Value("--file");
        source->SetClientFactory(
            [file](int, const std::string&, const std::string&, media_util::CManualEvent* cancel,
                   CHttpLink** link,
                   IHttpClient** client) { return CFileHttpClient::Create(file, cancel, link, client); });
    }
    if (!source->ApplySettings(&desc))
        return Fail(kExitNoAnswer, "%s: no client could be made", name.c_str());

    const SRun run = byFile ? RunFile(static_cast<CMultipartSource&>(*source), queue, start)
                            : RunLive(*source, queue, start);
    PrintSummary(run.counts, Reconnects(*source), run.elapsedMs, json);
    if (run.counts.frames == 0) {
        if (byFile)
            return Fail(kExitFailed, "%s: no parts in the capture", name.c_str());
        return ExplainNoFrames(*source, name, transport, run);
    }
    if (run.stoppedItself) {
        const std::string reason = StopReason(run.events, run.counts.frames);
        std::fprintf(stderr, "ipcamview: the receiver stopped: %s\n",
                     reason.empty() ? "it gave up after failing too often" : reason.c_str());
    }
    return kExitOk;
}
