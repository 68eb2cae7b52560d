// `ipcamview view`: viewers on the shared pipeline, as a host runs them.
//
// One viewer per address and --channel (the same channel may be named twice:
// two viewers then share one receiver), each opened, with its pipeline built
// and subscribed to the process's source table, and shown in a cell of one
// window: a grid on the desktop (SDL2), or an off-screen window with
// --headless or where no display opens. The channels' pacers hand their
// frames to the renderers; this thread pumps the window (keys S snapshot, R
// recording, Q or Escape quit) and prints one progress line per second per
// viewer.
//
// With --record every viewer records what its channel receives into a file
// of its own; key R (in a terminal also R and Enter) ends the recordings or
// starts new ones.
//
// With --overlay every viewer is shown with the display flags of that control
// (and the overlay flag, 1, which gives the renderer the bitmap the control
// draws into); the window's mouse input goes to the viewers' input hooks
// (CWindowInput), so a right click opens an editor's menu. --input runs a
// script of window input (InputScript.h) once the viewers show video; every
// popup menu and message box is printed on standard output as it opens, with
// the answer it got.
#include "Commands.h"

#include "DeviceOpen.h"
#include "InputScript.h"
#include "Interrupt.h"
#include "SourceRestart.h"
#include "ViewWindow.h"

#include "editors/CMotionAreaEditor.h"
#include "editors/CMotionBlockEditor.h"
#include "editors/CPrivacyMaskEditor.h"
#include "ptz/CPtzControl.h"
#include "viewer/CWindowInput.h"

#include "os/dshow/CVmrSourceFilter.h"
#include "os/kernel/Kernel.h"
#include "pipeline/CFramePacer.h"
#include "pipeline/CLiveSource.h"
#include "pipeline/CSourceTable.h"
#include "render/COverlayTextWorker.h"
#include "platform/CMediaObj.h"
#include "record/CRecordWorker.h"
#include "source/CMultipartSource.h"

#include <memory>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: ipcamview view ADDRESS... [device options] [--channel N]... [--share-decode]\n"
    "                      [--headless] [--size WxH] [--text] [--overlay motion|grid|mask|ptz]\n"
    "                      [--input FILE|-] [--snapshot FILE.png] [--record [FILE]]\n"
    "                      [--duration S] [--json]\n"
    "\n"
    "Opens one viewer per address and --channel (default: channel 1; a channel named\n"
    "twice gets two viewers), builds each channel's pipeline, subscribes it to the\n"
    "process's shared sources (viewers of the same stream share one receiver, and with\n"
    "--share-decode one decoder as well) and shows it in a cell of one window, a grid of\n"
    "cells. The window is on the desktop when a display opens, else (and with\n"
    "--headless) off-screen. One progress line per second per viewer on standard error,\n"
    "and a summary at the end (viewerK.address, viewerK.channel, viewerK.frames,\n"
    "viewerK.pictures (frames shown), viewerK.late, viewerK.drops, viewerK.first_frame_ms,\n"
    "viewerK.restarts, ...; sources: the shared sources the table held before teardown) as\n"
    "name=value lines or, with --json, one JSON object. A device that refuses the stream or\n"
    "changes its picture stops a viewer's source: it is started again after a wait that\n"
    "grows from 0.5 s to 10 s while the device keeps doing so (viewerK.restarts).\n"
    "\n"
    "device options: as for probe (--user U --password P, --transport socket|inet,\n"
    "  --codec jpeg|mpeg4|h264, --profile N, --width W --height H, --audio)\n"
    "  --channel N      a channel to view, of every address (repeatable)\n"
    "  --share-decode   decode each stream once for all its viewers\n"
    "  --headless       no window on the desktop: an off-screen one\n"
    "  --size WxH       a cell's size (default: the picture's size for one viewer,\n"
    "                   480x270 for several)\n"
    "  --text           the device's layout text over the video (where it keeps one)\n"
    "  --overlay KIND   a control over the video (a device without it is an error):\n"
    "                   motion or grid, the device's motion editor (its \"supportmotion\"\n"
    "                   answer picks the area editor or the block grid): the left\n"
    "                   button draws, Shift with it erases grid cells; mask, the\n"
    "                   privacy masks: a click selects the next mask, a drag places\n"
    "                   the selected one; the right button opens the editor's menu,\n"
    "                   whose \"Save setting\" writes to the device. ptz: a held button\n"
    "                   steers the camera towards the pointer, the wheel zooms. Where\n"
    "                   the device keeps a layout text it is shown too\n"
    "  --input FILE     drive the window from a script (- for standard input), one\n"
    "                   command a line, once the viewers show video:\n"
    "                     down X Y left|right [shift]    move X Y [left|right|none] [shift]\n"
    "                     up X Y left|right [shift]      wheel DELTA X Y\n"
    "                     menu ID|none (answers the next popup menu)\n"
    "                     answer ok|yes|no (answers the next message box)\n"
    "                     wait MS\n"
    "                     snapshot FILE.png (once the overlays show the input before it)\n"
    "                     frames N (goes on once every viewer drew N more pictures)\n"
    "                   X Y are client pixels of the window (of the channel's, with one\n"
    "                   viewer). Without --duration the view ends after the last\n"
    "                   command. Every popup menu (identifier and label of each item)\n"
    "                   and message box (caption, text) is printed on standard output\n"
    "                   as it opens, and the answer it got\n"
    "  --snapshot FILE  the window as shown, overlay included, as PNG at the end (and on\n"
    "                   key S)\n"
    "  --full-decode    decode JPEG pictures whole even where a cell shows them at half\n"
    "                   their size or less (for comparing; scaled decoding is the default)\n"
    "  --no-planar      decode JPEG pictures shown as they are to pixels at once instead\n"
    "                   of leaving them in the window as YCbCr planes (for comparing)\n"
    "  --record [FILE]  record what each viewer receives, a file per viewer: FILE for one\n"
    "                   viewer, FILE with -chN before its extension for several (-chN-K\n"
    "                   for the K-th viewer of a channel named again); without FILE\n"
    "                   (--record last, or before another option) the recorder's own\n"
    "                   name, rec-<channel>-<YYYYMMDD-HHMMSS>.mkv, in the working\n"
    "                   folder. Each file's name is printed when it opens and a line\n"
    "                   with its frames, bytes and seconds when it closes (standard\n"
    "                   error); the summary adds viewerK.record_*. Key R (in a terminal\n"
    "                   R and Enter) ends the recordings or starts new ones\n"
    "  --duration S     end after S seconds, recordings included (default: until Ctrl-C\n"
    "                   or Q)\n"
    "\n"
    "Exit: 0 every viewer got frames; 1 a device refused or failed, has no control of\n"
    "the --overlay kind, or a viewer got no frames; 2 no answer, or bad usage (a bad\n"
    "--input line included).\n";

constexpr DWORD kProgressPeriodMs = 1000;
// The event loop's wait for window messages: short while a viewer has not
// shown its first frame (so that its progress line comes soon), longer
// afterwards. Keys and mouse end the wait at once either way; the wait only
// bounds how late a terminal key, the deadline or a progress line is seen,
// and every pass wakes a thread (75 a second at 20 ms with a 25 fps
// camera cost 0.16 ms of CPU a frame). first_frame_ms is the pacer's own
// time of the first frame, not this loop's.
constexpr DWORD kDrainWaitMs = 20;
constexpr DWORD kSteadyWaitMs = 100;
constexpr int64_t kMaxDurationS = 86400;
constexpr size_t kMaxViewers = 64;
// A cell of a wall of several viewers, 16:9.
constexpr int kWallCellWidth = 480;
constexpr int kWallCellHeight = 270;
constexpr int kMaxCellSize = 4096;
// The display's pixel format: 32-bit, as the window's surface is, so that a
// picture is decoded straight into it.
constexpr int32_t kDisplayRgb32 = 32;
// An --input script starts once every viewer shows video, or this long after
// the window opened.
constexpr DWORD kScriptStartWaitMs = 10000;

struct SViewerRun {
    std::unique_ptr<CViewer> viewer;
    std::string address;
    int32_t channel = 0;
    DWORD openedAt = 0;        // when its open began
    int64_t firstFrameMs = -1; // from then to its first frame shown
    int64_t lastFrames = 0, lastPictures = 0, lastBytes = 0;
    // What the channel's pacer took and showed.
    int64_t Frames() const { return Pacer() ? static_cast<int64_t>(Pacer()->GetTakenCount()) : 0; }
    int64_t Pictures() const { return Pacer() ? static_cast<int64_t>(Pacer()->GetShownCount()) : 0; }
    int64_t Late() const { return Pacer() ? static_cast<int64_t>(Pacer()->GetLateCount()) : 0; }
    int64_t KeyFrames() const { return Pacer() ? static_cast<int64_t>(Pacer()->GetKeyFrameCount()) : 0; }
    int64_t Bytes() const { return Pacer() ? static_cast<int64_t>(Pacer()->GetTakenBytes()) : 0; }
    CFramePacer* Pacer() const { return viewer ? viewer->mpPacer : nullptr; }
    std::string recordPath; // handed to the channel; "" for the recorder's own name
    bool recordAnnounced = false;
    CSourceRestart restart; // starts the source again when the device stopped it
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

// Starts the viewer's recording: false when the recorder could not be
// opened (RecKit creates a named file at once, so an unwritable one fails
// here).
bool StartRecording(SViewerRun& run) {
    run.viewer->mRecordPath = run.recordPath;
    run.recordAnnounced = false;
    return run.viewer->StartRecord() != 0;
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
        else if (!StartRecording(runs[i]))
            std::fprintf(stderr, "t=%.1fs viewer%zu ch%d cannot record%s%s\n", Since(start), i + 1,
                         runs[i].channel, runs[i].recordPath.empty() ? " in the working folder" : " to ",
                         runs[i].recordPath.c_str());
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

// What a key does to the recordings: the window's keys and the first
// character of a line typed in a terminal come here.
void OnKey(int key, std::vector<SViewerRun>& runs, DWORD start) {
    if (key == 'r' || key == 'R')
        ToggleRecording(runs, start);
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

// "WxH" within 16 .. kMaxCellSize each.
bool ParseSize(const std::string& text, int* width, int* height) {
    char* end = nullptr;
    const long w = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || (*end != 'x' && *end != 'X'))
        return false;
    const char* rest = end + 1;
    const long h = std::strtol(rest, &end, 10);
    if (end == rest || *end != '\0' || w < 16 || h < 16 || w > kMaxCellSize || h > kMaxCellSize)
        return false;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

void Snapshot(CViewWindow& window, const std::string& path, DWORD start) {
    std::string error;
    if (window.WritePng(path, &error))
        std::fprintf(stderr, "t=%.1fs snapshot %s\n", Since(start), path.c_str());
    else
        std::fprintf(stderr, "t=%.1fs snapshot %s failed: %s\n", Since(start), path.c_str(), error.c_str());
}

// What --overlay asks of the viewers: display flags and what to call the
// control in messages.
struct SOverlayKind {
    const char* name;
    uint32_t flags;
    const char* control;
};
const SOverlayKind kOverlayKinds[] = {
    {"motion", CDisplayChannel::kFlagMotionEditor, "motion editor"},
    {"grid", CDisplayChannel::kFlagMotionEditor, "motion editor"},
    {"mask", CDisplayChannel::kFlagPrivacyEditor, "privacy masks"},
    {"ptz", CDisplayChannel::kFlagPtzControl, "PTZ control"},
};

const SOverlayKind* FindOverlayKind(const std::string& name) {
    for (const SOverlayKind& kind : kOverlayKinds)
        if (name == kind.name)
            return &kind;
    return nullptr;
}

// The kind of control a viewer got, as the user calls it.
const char* ControlName(COverlayControl* control) {
    if (dynamic_cast<CMotionAreaEditor*>(control) != nullptr)
        return "motion area editor";
    if (dynamic_cast<CMotionBlockEditor*>(control) != nullptr)
        return "motion block grid editor";
    if (dynamic_cast<CPrivacyMaskEditor*>(control) != nullptr)
        return "privacy mask editor";
    if (dynamic_cast<CPtzControl*>(control) != nullptr)
        return "PTZ control";
    return control != nullptr ? "overlay control" : "none";
}

const char* AnswerName(int answer) {
    switch (answer) {
    case IDOK:
        return "ok";
    case IDCANCEL:
        return "cancel";
    case IDYES:
        return "yes";
    case IDNO:
        return "no";
    default:
        return "none";
    }
}

// Menus and message boxes on standard output: the items as the menu opens
// (so that whoever writes a script sees what to answer), then the answer.
void PrintDialogOpening(const os::DialogRecord& record, const CViewWindow& window) {
    if (record.kind == os::DialogRecord::Kind::PopupMenu) {
        POINT at = record.point;
        ScreenToClient(record.window, &at);
        const int cell = window.CellIndex(record.window);
        std::printf("menu viewer%d at %ld,%ld\n", cell + 1, static_cast<long>(at.x), static_cast<long>(at.y));
        for (const os::MenuItem& item : record.items) {
            if (item.flags & MF_SEPARATOR)
                std::printf("  -\n");
            else
                std::printf("  %u \"%s\"\n", item.id, item.text.c_str());
        }
    } else {
        std::printf("message box \"%s\": \"%s\"\n", record.caption.c_str(), record.text.c_str());
    }
    std::fflush(stdout);
}

void PrintDialogAnswer(const os::DialogRecord& record) {
    const char* by = record.scripted ? " (script)" : "";
    if (record.kind == os::DialogRecord::Kind::PopupMenu) {
        if (record.answer == 0)
            std::printf("menu answer none%s\n", by);
        else
            std::printf("menu answer %d%s\n", record.answer, by);
    } else {
        std::printf("message box answer %s%s\n", AnswerName(record.answer), by);
    }
    std::fflush(stdout);
}

// Runs one script command on the window: input as a user would make it, or
// the answers and pauses around it. *held is the buttons the script holds.
void RunScriptCommand(const CInputScript::SCommand& c, CViewWindow& window, WPARAM* held, DWORD* waitUntil,
                      DWORD start) {
    os::Window* top = window.TopLevel();
    const POINT at{c.x, c.y};
    const WPARAM shift = c.shift ? MK_SHIFT : 0;
    using Kind = CInputScript::SCommand::Kind;
    switch (c.kind) {
    case Kind::Down:
        *held |= c.buttons;
        top->PostMouse(c.buttons == MK_LBUTTON ? WM_LBUTTONDOWN : WM_RBUTTONDOWN, at, *held | shift);
        break;
    case Kind::Up:
        *held &= ~c.buttons;
        top->PostMouse(c.buttons == MK_LBUTTON ? WM_LBUTTONUP : WM_RBUTTONUP, at, *held | shift);
        break;
    case Kind::Move:
        top->PostMouse(WM_MOUSEMOVE, at,
                       (c.buttons == CInputScript::kHeldButtons ? *held : c.buttons) | shift);
        break;
    case Kind::Wheel:
        top->PostMouse(WM_MOUSEWHEEL, at, *held, c.delta);
        break;
    case Kind::Menu:
        top->ScriptMenuAnswer(c.menuId);
        break;
    case Kind::Answer:
        top->ScriptMessageBoxAnswer(c.answer);
        break;
    case Kind::Wait:
        *waitUntil = timeGetTime() + c.waitMs;
        break;
    case Kind::Frames: // the loop waits for them (SScriptWait)
    case Kind::Snapshot:
        break;
    }
}

// What a script waits for before its next command: "frames N", the pictures
// each viewer has to have drawn; "snapshot", a pass of each viewer's overlay
// worker begun after the input before it was handled (so that the file
// shows what that input did to an editor), then the snapshot itself.
struct SScriptWait {
    bool active = false;
    std::vector<int64_t> pictures; // a viewer's shown count to reach
    std::vector<uint64_t> passes;  // a viewer's overlay passes to reach
    DWORD deadline = 0;
    CInputScript::SCommand command;

    static uint64_t OverlayPasses(const SViewerRun& run) {
        const COverlayTextWorker* worker = run.viewer ? run.viewer->mpOverlayWorker : nullptr;
        return worker != nullptr ? worker->GetPassCount() : 0;
    }

    // True when the command has to wait (it runs when the wait is over).
    bool Begin(const CInputScript::SCommand& c, const std::vector<SViewerRun>& runs) {
        using Kind = CInputScript::SCommand::Kind;
        if (c.kind != Kind::Frames && c.kind != Kind::Snapshot)
            return false;
        active = true;
        command = c;
        pictures.clear();
        passes.clear();
        for (const SViewerRun& run : runs) {
            pictures.push_back(c.kind == Kind::Frames ? run.Pictures() + c.frames : 0);
            // The pass under way may have painted before the input.
            const bool painted = run.viewer && run.viewer->mpOverlayWorker != nullptr;
            passes.push_back(c.kind == Kind::Snapshot && painted ? OverlayPasses(run) + 2 : 0);
        }
        deadline = timeGetTime() + (c.kind == Kind::Frames ? CInputScript::kMaxFramesWaitMs
                                                           : CInputScript::kMaxOverlayWaitMs);
        return true;
    }

    // True once the wait is over: every viewer drew its pictures or its
    // overlay, or the time ran out (said on standard error, and the script
    // goes on).
    bool Over(const std::vector<SViewerRun>& runs, CViewWindow& window, DWORD start) {
        if (!active)
            return true;
        bool reached = true;
        for (size_t i = 0; i < runs.size() && i < pictures.size(); ++i)
            reached = reached && runs[i].Pictures() >= pictures[i] && OverlayPasses(runs[i]) >= passes[i];
        if (!reached && static_cast<int32_t>(timeGetTime() - deadline) < 0)
            return false;
        active = false;
        if (command.kind == CInputScript::SCommand::Kind::Frames) {
            if (!reached)
                std::fprintf(stderr, "t=%.1fs input script line %d: frames %d not drawn in %u s, going on\n",
                             Since(start), command.line, command.frames, CInputScript::kMaxFramesWaitMs / 1000);
            return true;
        }
        if (!reached)
            std::fprintf(stderr, "t=%.1fs input script line %d: overlay not redrawn in %u ms, snapshot as shown\n",
                         Since(start), command.line, CInputScript::kMaxOverlayWaitMs);
        Snapshot(window, command.file, start);
        return true;
    }
};

} // namespace

int RunView(const Args& args) {
    std::vector<SOption> known = kProbeOptions;
    known.insert(known.end(), {{"--share-decode", false, ""},
                               {"--headless", false, ""},
                               {"--size", true, "WxH"},
                               {"--text", false, ""},
                               {"--overlay", true, "KIND"},
                               {"--input", true, "FILE"},
                               {"--snapshot", true, "FILE"},
                               {"--full-decode", false, ""},
                               {"--no-planar", false, ""},
                               {"--duration", true, "S"},
                               {"--record", true, "[FILE]", true},
                               {"--json", false, ""}});
    CCommandLine line;
    int exitCode = kExitOk;
    if (!ParseCommand("view", kUsage, args, known, line, exitCode))
        return exitCode;
    std::string error;
    if (line.Positional().empty())
        return Fail(kExitUsage, "view takes one or more device addresses (see ipcamview view --help)");
    int64_t durationS = 0;
    if (!line.Number("--duration", 1, kMaxDurationS, durationS, error))
        return Fail(kExitUsage, "%s", error.c_str());
    int cellWidth = 0, cellHeight = 0;
    if (line.Has("--size") && !ParseSize(line.Value("--size"), &cellWidth, &cellHeight))
        return Fail(kExitUsage, "bad value for --size: \"%s\" (WxH, 16 to %d each)",
                    line.Value("--size").c_str(), kMaxCellSize);
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
    const std::vector<std::string>& addresses = line.Positional();
    if (channels.size() * addresses.size() > kMaxViewers)
        return Fail(kExitUsage, "at most %zu viewers", kMaxViewers);
    std::vector<ProbeOptions> deviceOptions(addresses.size());
    for (size_t a = 0; a < addresses.size(); ++a)
        if (!TakeProbeOptions(line, addresses[a], deviceOptions[a], error))
            return Fail(kExitUsage, "%s", error.c_str());

    const SOverlayKind* overlay = nullptr;
    if (line.Has("--overlay") && (overlay = FindOverlayKind(line.Value("--overlay"))) == nullptr)
        return Fail(kExitUsage, "bad value for --overlay: \"%s\" (motion, grid, mask or ptz)",
                    line.Value("--overlay").c_str());
    // A script file is read and checked whole before any device is opened.
    std::unique_ptr<CInputScript> script;
    if (line.Has("--input")) {
        script = std::make_unique<CInputScript>();
        if (!script->Open(line.Value("--input"), &error))
            return Fail(kExitUsage, "%s", error.c_str());
    }

    if (line.Has("--full-decode"))
        os::dshow::CVmrSourceFilter::SetScaledDecoding(false);
    if (line.Has("--no-planar"))
        os::dshow::CVmrSourceFilter::SetPlanarPictures(false);

    CInterrupt& end = CInterrupt::Get();
    const DWORD start = timeGetTime();
    if (durationS > 0)
        end.SetDeadline(static_cast<DWORD>(durationS) * 1000);

    const bool record = line.Has("--record");
    std::vector<int32_t> viewerChannels;
    for (size_t a = 0; a < addresses.size(); ++a)
        viewerChannels.insert(viewerChannels.end(), channels.begin(), channels.end());
    const std::vector<std::string> recordPaths = RecordPaths(line.Value("--record"), viewerChannels);

    std::vector<SViewerRun> runs(viewerChannels.size());
    for (size_t i = 0; i < runs.size(); ++i) {
        SViewerRun& run = runs[i];
        ProbeOptions options = deviceOptions[i / channels.size()];
        if (durationS > 0)
            options.openBudgetMs =
                std::min<DWORD>(options.openBudgetMs, static_cast<DWORD>(durationS) * 1000);
        run.address = addresses[i / channels.size()];
        run.channel = viewerChannels[i];
        run.recordPath = recordPaths[i];
        run.viewer = std::make_unique<CViewer>();
        run.viewer->mOutputFormat = kDisplayRgb32;
        if (line.Has("--text"))
            run.viewer->mDisplayFlags |= CDisplayChannel::kFlagText;
        // A control draws into the renderer's overlay bitmap, which the
        // overlay flag makes.
        if (overlay != nullptr)
            run.viewer->mDisplayFlags |= CDisplayChannel::kFlagText | overlay->flags;
        options.channel = run.channel;
        CViewer* opening = run.viewer.get();
        end.OnEnd([opening] { opening->AbortOpen(); });
        run.openedAt = timeGetTime();
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

    // The window: a cell per viewer, the picture's size for a single viewer.
    if (cellWidth == 0) {
        const media_util::CMediaObj& info = *runs[0].viewer->mpSourceVideoInfo;
        const bool single = runs.size() == 1 && info.mWidth > 0 && info.mHeight != 0 &&
                            info.mWidth <= kMaxCellSize && std::abs(info.mHeight) <= kMaxCellSize;
        cellWidth = single ? info.mWidth : kWallCellWidth;
        cellHeight = single ? std::abs(info.mHeight) : kWallCellHeight;
    }
    std::string note;
    CViewWindow window(static_cast<int>(runs.size()), cellWidth, cellHeight, line.Has("--headless"),
                       "ipcamview " + addresses[0], &note);
    if (!note.empty())
        std::fprintf(stderr, "ipcamview: %s\n", note.c_str());
    // However the view ends, the viewers go before the window their
    // renderers and controls draw into.
    struct SViewersFirst {
        std::vector<SViewerRun>& runs;
        ~SViewersFirst() {
            for (SViewerRun& run : runs)
                run.viewer.reset();
        }
    } viewersFirst{runs};
    window.TopLevel()->SetDialogOpenObserver(
        [&window](const os::DialogRecord& record) { PrintDialogOpening(record, window); });
    window.TopLevel()->SetDialogObserver([](const os::DialogRecord& record) { PrintDialogAnswer(record); });
    for (size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].viewer->StartDisplay(window.Cell(i)) == 0)
            return Fail(kExitFailed, "channel %d: cannot be shown (renderer status %d)", runs[i].channel,
                        runs[i].viewer->mLastStatus);
        if (overlay == nullptr)
            continue;
        COverlayControl* control = runs[i].viewer->mpOverlayControl;
        // A device without masks still gets the mask editor, which then does
        // nothing: for the user that is no editor.
        auto* masks = dynamic_cast<CPrivacyMaskEditor*>(control);
        if (control == nullptr || (masks != nullptr && masks->MaskCount() == 0))
            return Fail(kExitFailed, "channel %d: the device offers no %s", runs[i].channel,
                        overlay->control);
        std::fprintf(stderr, "t=%.1fs viewer%zu ch%d %s over %dx%d video\n", Since(start), i + 1,
                     runs[i].channel, ControlName(control), control->VideoRect().right,
                     control->VideoRect().bottom);
        if (std::string(overlay->name) == "grid" && dynamic_cast<CMotionBlockEditor*>(control) == nullptr)
            std::fprintf(stderr, "t=%.1fs viewer%zu ch%d the device detects motion in one area, not a grid\n",
                         Since(start), i + 1, runs[i].channel);
    }
    for (size_t i = 0; record && i < runs.size(); ++i)
        if (!StartRecording(runs[i]))
            return Fail(kExitUsage, "channel %d: cannot record %s%s", runs[i].channel,
                        runs[i].recordPath.empty() ? "in the working folder" : "to ",
                        runs[i].recordPath.c_str());

    const std::string snapshotPath = line.Value("--snapshot");
    bool quit = false;
    DWORD lastProgressAt = timeGetTime();
    // The window's messages: keys for the host, mouse input and menu
    // commands for the viewer whose cell they belong to.
    auto handle = [&](const MSG& message) {
        if (message.message == WM_CLOSE) {
            quit = true;
            return;
        }
        if (message.message == WM_KEYDOWN) {
            const WPARAM key = message.wParam;
            if (key == 'Q' || key == VK_ESCAPE)
                quit = true;
            else if (key == 'S' && !snapshotPath.empty())
                Snapshot(window, snapshotPath, start);
            else if (key < 128)
                OnKey(static_cast<int>(key), runs, start);
            return;
        }
        const int cell = window.CellIndex(message.hwnd);
        if (cell >= 0)
            CWindowInput::Forward(*runs[static_cast<size_t>(cell)].viewer, message);
    };
    bool allShown = false;
    const DWORD windowOpenedAt = timeGetTime();
    const bool scriptOnStandardInput = script != nullptr && line.Value("--input") == "-";
    bool scriptStarted = false;
    bool scriptFinished = false;
    WPARAM scriptButtons = 0;
    DWORD scriptWaitUntil = 0;
    SScriptWait scriptWait;
    while (!end.Ended() && !quit) {
        // Everything the last command or the user caused is handled before
        // the next command runs: a menu's choice arrives as a message while
        // the release that opened it is handled.
        MSG message{};
        while (!quit && window.WaitMessage(&message, 0))
            handle(message);
        if (scriptFinished && durationS == 0)
            break;
        bool ran = false;
        if (script != nullptr && !scriptFinished && !quit) {
            if (!scriptStarted) {
                bool showing = true;
                for (const SViewerRun& run : runs)
                    showing = showing && run.Pictures() > 0;
                scriptStarted = showing || timeGetTime() - windowOpenedAt >= kScriptStartWaitMs;
                if (scriptStarted)
                    std::fprintf(stderr, "t=%.1fs input script starts\n", Since(start));
            }
            if (scriptStarted && static_cast<int32_t>(timeGetTime() - scriptWaitUntil) >= 0 &&
                scriptWait.Over(runs, window, start)) {
                CInputScript::SCommand command;
                switch (script->Take(&command, &error)) {
                case CInputScript::Next::Command:
                    if (!scriptWait.Begin(command, runs))
                        RunScriptCommand(command, window, &scriptButtons, &scriptWaitUntil, start);
                    ran = true;
                    break;
                case CInputScript::Next::End:
                    std::fprintf(stderr, "t=%.1fs input script ends\n", Since(start));
                    scriptFinished = true;
                    ran = true;
                    break;
                case CInputScript::Next::Error:
                    return Fail(kExitUsage, "%s", error.c_str());
                case CInputScript::Next::NotYet:
                    break;
                }
            }
        }
        // A script's pause ends on time whatever the loop's wait.
        DWORD wait = allShown ? kSteadyWaitMs : kDrainWaitMs;
        if (scriptWait.active)
            wait = std::min<DWORD>(wait, kDrainWaitMs);
        if (script != nullptr && scriptStarted && !scriptFinished)
            wait = std::min<DWORD>(
                wait, std::max<int32_t>(0, static_cast<int32_t>(scriptWaitUntil - timeGetTime())));
        if (!ran && window.WaitMessage(&message, wait))
            handle(message);
        // A script read from standard input owns it: no keys come from there.
        if (const int key = scriptOnStandardInput ? 0 : TerminalKey(); key == 'Q' || key == 'q')
            quit = true;
        else if ((key == 'S' || key == 's') && !snapshotPath.empty())
            Snapshot(window, snapshotPath, start);
        else if (key != 0)
            OnKey(key, runs, start);
        allShown = true;
        for (size_t i = 0; i < runs.size(); ++i) {
            if (runs[i].restart.Poll(*runs[i].viewer, runs[i].Pictures(), timeGetTime()))
                std::fprintf(stderr,
                             "t=%.1fs viewer%zu ch%d source stopped (stream refused or format changed): "
                             "started again\n",
                             Since(start), i + 1, runs[i].channel);
            AnnounceRecording(runs[i], i, start);
            CFramePacer* pacer = runs[i].Pacer();
            if (runs[i].firstFrameMs < 0 && pacer != nullptr && pacer->HasShown())
                runs[i].firstFrameMs = static_cast<int64_t>(pacer->GetFirstShownTime() - runs[i].openedAt);
            allShown = allShown && runs[i].firstFrameMs >= 0;
        }
        const DWORD now = timeGetTime();
        if (now - lastProgressAt < kProgressPeriodMs)
            continue;
        const double seconds = (now - lastProgressAt) / 1000.0;
        const int reconnects = Reconnects();
        for (size_t i = 0; i < runs.size(); ++i) {
            SViewerRun& run = runs[i];
            const int64_t frames = run.Frames(), pictures = run.Pictures(), bytes = run.Bytes();
            std::fprintf(
                stderr,
                "t=%.1fs viewer%zu ch%d frames=%lld key=%lld shown=%lld late=%lld fps=%.1f kbit/s=%.0f "
                "drops=%d reconnects=%d\n",
                (now - start) / 1000.0, i + 1, run.channel, static_cast<long long>(frames - run.lastFrames),
                static_cast<long long>(run.KeyFrames()), static_cast<long long>(pictures - run.lastPictures),
                static_cast<long long>(run.Late()), (pictures - run.lastPictures) / seconds,
                (bytes - run.lastBytes) * 8.0 / 1000.0 / seconds, run.viewer->mQueue.mDropCount.load(),
                reconnects);
            run.lastFrames = frames;
            run.lastPictures = pictures;
            run.lastBytes = bytes;
        }
        lastProgressAt = now;
    }

    // The recordings end first, so that their files are complete before the
    // summary says what they hold; the snapshot is taken while the channels
    // are still shown.
    for (size_t i = 0; i < runs.size(); ++i)
        StopRecording(runs[i], i, start);
    if (!snapshotPath.empty())
        Snapshot(window, snapshotPath, start);
    for (SViewerRun& run : runs)
        run.viewer->StopDisplay();

    CReport report;
    const int sources = CSourceTable::Instance().GetLiveCount();
    const int reconnects = Reconnects();
    int result = kExitOk;
    for (size_t i = 0; i < runs.size(); ++i) {
        SViewerRun& run = runs[i];
        const std::string key = "viewer" + std::to_string(i + 1) + ".";
        if (addresses.size() > 1)
            report.Add(key + "address", run.address);
        report.Add(key + "channel", run.channel);
        report.Add(key + "frames", run.Frames());
        report.Add(key + "key_frames", run.KeyFrames());
        report.Add(key + "pictures", run.Pictures());
        report.Add(key + "late", run.Late());
        report.Add(key + "drops", run.viewer->mQueue.mDropCount.load());
        report.Add(key + "bytes", run.Bytes());
        report.Add(key + "first_frame_ms", run.firstFrameMs);
        report.Add(key + "restarts", run.restart.Restarts());
        if (record) {
            const CRecordWorker::SSummary& done = run.viewer->mLastRecording;
            report.Add(key + "record_file", done.fileName);
            report.Add(key + "record_frames", done.videoFrames);
            report.Add(key + "record_audio_blocks", done.audioBlocks);
            report.Add(key + "record_bytes", FileBytes(done.fileName));
            report.AddFixed(key + "record_seconds", done.seconds, 1);
        }
        if (run.Frames() == 0)
            result = kExitFailed;
    }
    report.Add("sources", sources);
    report.Add("reconnects", reconnects);
    report.Add("window", window.IsOnScreen() ? "screen" : "offscreen");
    report.AddFixed("seconds", (timeGetTime() - start) / 1000.0, 1);
    // Each viewer leaves the table as a host's Stop makes it; the window
    // outlives every renderer that drew into it.
    for (SViewerRun& run : runs)
        run.viewer.reset();
    report.Print(stdout, line.Has("--json"));
    std::fflush(stdout);
    if (result != kExitOk)
        return Fail(result, "a viewer got no frames");
    return kExitOk;
}
