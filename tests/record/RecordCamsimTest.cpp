// Recordings of camsim's devices on loopback, made as a host makes them (a
// viewer's StartRecord and StopRecord, or `ipcamview view --record`) and read
// back with ffprobe and ffmpeg, which share none of our code. What a file
// should hold (codec, size, rate, audio) comes from camsim's description of
// the model, never from the library.
#include "tools/CamsimClient.h"

#include "ipcamview/Viewer.h"
#include "viewer/CMachineCodeCache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace camsimtest;

// How long each recording runs, and the longest a camsim camera goes between
// key frames: an MPEG-4 or H.264 recording starts at the first key frame
// after it opens.
constexpr int kRecordMs = 4000;
constexpr double kKeyIntervalS = 2.0;

std::string Quote(const std::string& path) {
    return "'" + path + "'";
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

int64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

// ffprobe's word on a file: "codec,width,height,frames" of the video stream
// and the audio codec ("" without audio).
struct SProbe {
    std::string video;
    std::string audio;
    int frames = 0;
    double seconds = 0;
    std::string firstKey; // key_frame of the first video frame
};

SProbe ProbeFile(const std::string& path) {
    SProbe probe;
    std::istringstream video(Shell("ffprobe -v error -select_streams v -count_frames -show_entries "
                                   "stream=codec_name,width,height,nb_read_frames -of csv=p=0 " +
                                   Quote(path)));
    std::getline(video, probe.video);
    const size_t comma = probe.video.rfind(',');
    if (comma != std::string::npos)
        probe.frames = std::atoi(probe.video.c_str() + comma + 1);
    std::istringstream audio(Shell(
        "ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 " + Quote(path)));
    std::getline(audio, probe.audio);
    probe.seconds =
        std::atof(Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(path)).c_str());
    std::istringstream key(Shell("ffprobe -v error -select_streams v -read_intervals %+#1 -show_entries "
                                 "frame=key_frame -of csv=p=0 " +
                                 Quote(path)));
    std::getline(key, probe.firstKey);
    probe.firstKey = probe.firstKey.substr(0, probe.firstKey.find(',')); // H.264 frames add side data
    return probe;
}

// What ffmpeg complains of when it decodes the whole file ("" when nothing).
std::string DecodeErrors(const std::string& path) {
    return Shell("ffmpeg -nostdin -v error -i " + Quote(path) + " -f null - 2>&1");
}

// What camsim says the channel sends.
struct SExpected {
    std::string video; // "codec,width,height"
    std::string audio;
    double fps = 0;
};

SExpected Expect(const Values& d) {
    const int codec = Number(d, "video_codec");
    SExpected e;
    e.video = std::string(codec == 1000   ? "mjpeg"
                          : codec == 1005 ? "mpeg4"
                                          : "h264") +
              "," + d.at("channel_width") + "," + d.at("channel_height");
    const int audio = Number(d, "audio_supported") != 0 ? Number(d, "audio_codec") : 0;
    e.audio = audio == 2005 ? "pcm_mulaw" : audio == 2010 ? "aac" : "";
    e.fps = Number(d, "frame_rate") / 1000.0;
    return e;
}

bool OpenChannel(CViewer& viewer, uint16_t port, int channel) {
    media_util::CMediaObj params;
    params.mProfileId = 1; // the profile cameras stream H.264 on
    int32_t audio = 1;
    CMachineCodeCache::DestroyProcessCache();
    return viewer.Open(CViewer::kTransportSocket, Address(port).c_str(), 0, "", "", &audio, channel,
                       &params) != 0 &&
           viewer.mpSourceVideoInfo != nullptr;
}

bool ReckitMapped() {
    void* module = dlopen("libreckit.so", RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr)
        return false;
    dlclose(module);
    return true;
}

// A JPEG, a MPEG-4 and a H.264 camera, and one channel of a multi-channel
// recorder: a file each that ffprobe reads as the device describes its
// stream, with about frame rate x time frames (less the wait for a key frame),
// that ffmpeg decodes without a word, starting at a key frame, with audio.
TEST(RecordCamsimTest, EachDeviceRecordsWhatItSends) {
    struct Case {
        const char* model;
        int channel;
        bool subscribed; // the channel also views its stream
        bool keyFramesOnly;
    } cases[] = {
        {"cam-jpeg-4608", 1, true, true},
        {"cam-mpeg4-4752", 1, false, false},
        {"cam-profile-5751", 1, true, false},
        {"dvr-h264-8776", 3, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        const Values d = Describe(c.model);
        const SExpected expected = Expect(d);
        const std::string file = TempDir() + "/" + c.model + ".mkv";
        CViewer viewer;
        ASSERT_TRUE(OpenChannel(viewer, DevicePort(c.model), c.channel));
        if (c.subscribed) {
            ASSERT_NE(0, viewer.Subscribe());
        }
        viewer.mRecordPath = file;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(1, viewer.StartRecord());
        EXPECT_EQ(1, viewer.mRecording);
        // A recording of a given length: time passing is what is tested.
        std::this_thread::sleep_for(std::chrono::milliseconds(kRecordMs));
        viewer.StopRecord();
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(nullptr, viewer.mpRecorder);
        EXPECT_EQ(-1, viewer.mRecordDesc.mSlot);
        EXPECT_EQ(0, viewer.mRecording);

        const SProbe probe = ProbeFile(file);
        EXPECT_EQ(expected.video, probe.video.substr(0, probe.video.rfind(',')));
        EXPECT_EQ(expected.audio, probe.audio);
        EXPECT_EQ("1", probe.firstKey);
        EXPECT_EQ("", DecodeErrors(file));
        // At least half the frames the time held (less the wait for a key
        // frame): a recorder that loses frames of its own falls far below;
        // a machine too busy to receive them all does not.
        const double lost = c.keyFramesOnly ? 0.5 : kKeyIntervalS + 0.5;
        EXPECT_GE(probe.frames, expected.fps * (took - lost) / 2) << took << " s";
        EXPECT_LE(probe.frames, expected.fps * took + 2) << took << " s";
        // Frames sit on the stream's frame-rate slots: never more frames than
        // the file's time holds, and no more time than the recording took.
        // (Fewer frames than slots is load: a busy machine drops some.)
        EXPECT_LE(probe.frames / expected.fps, probe.seconds + 0.2);
        EXPECT_LE(probe.seconds, took + 0.2);
        // What the recorder reports is what the file holds.
        EXPECT_EQ(file, viewer.mLastRecording.fileName);
        EXPECT_EQ(probe.frames, viewer.mLastRecording.videoFrames);
        EXPECT_TRUE(viewer.mLastRecording.closed);
    }
}

// A deferred recording (record mode 1) writes nothing until the next
// StartRecord begins it; one that never began leaves no file.
TEST(RecordCamsimTest, DeferredRecordingWritesOnlyOnceBegun) {
    const char* model = "cam-mpeg4-4752";
    for (const bool begin : {true, false}) {
        SCOPED_TRACE(begin ? "begun" : "never begun");
        const std::string file = TempDir() + std::string("/deferred-") + (begin ? "begun" : "never") + ".mkv";
        CViewer viewer;
        ASSERT_TRUE(OpenChannel(viewer, DevicePort(model), 1));
        viewer.mRecordMode = 1;
        viewer.mRecordPath = file;
        ASSERT_EQ(1, viewer.StartRecord());
        EXPECT_EQ(1, viewer.mRecordDeferred);
        EXPECT_EQ(0, viewer.mRecording);
        // Frames reach the recorder meanwhile; none may reach a file.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_FALSE(Exists(file));
        EXPECT_EQ(0, viewer.mpRecorder->GetSummary().videoFrames);
        if (begin) {
            EXPECT_EQ(0, viewer.StartRecord()) << "beginning reports 0";
            EXPECT_EQ(0, viewer.mRecordDeferred);
            EXPECT_EQ(1, viewer.mRecording);
            std::this_thread::sleep_for(std::chrono::milliseconds(kRecordMs));
        }
        viewer.StopRecord();
        EXPECT_EQ(begin, Exists(file));
        if (begin) {
            const SProbe probe = ProbeFile(file);
            EXPECT_GT(probe.frames, 0);
            EXPECT_EQ("1", probe.firstKey);
            EXPECT_EQ("", DecodeErrors(file));
        }
    }
}

// A viewer that never records never maps RecKit (nor FFmpeg beneath it); its
// first recording does. In a fresh process, so that nothing before counts.
TEST(RecordCamsimTest, RecKitIsLoadedByTheFirstRecordingOnly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const uint16_t port = DevicePort("cam-jpeg-4608");
    auto run = [port] {
        CViewer viewer;
        if (!OpenChannel(viewer, port, 1) || viewer.Subscribe() == 0)
            return 10;
        media_util::CManualEvent arrived;
        viewer.mQueue.SetNotifyEvent(&arrived);
        if (arrived.Wait(5000) == 0 || viewer.mQueue.GetCount() == 0)
            return 11;
        viewer.mQueue.SetNotifyEvent(nullptr);
        if (ReckitMapped())
            return 12;
        viewer.mRecordPath = TempDir() + "/first.mkv";
        if (viewer.StartRecord() != 1 || !ReckitMapped())
            return 13;
        viewer.StopRecord();
        return 0;
    };
    // _exit: the child must not run the statics it shares with this process
    // (the test folder would go with them).
    EXPECT_EXIT(::_exit(run()), ::testing::ExitedWithCode(0), "");
}

// --- The host program ---

// Runs `ipcamview view` with args; standard error goes to errFile.
pid_t StartHost(const std::vector<std::string>& args, const std::string& errFile,
                const std::string& outFile) {
    std::vector<std::string> argv = {IPCAMVIEW_PATH, "view"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv)
        cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!std::freopen(errFile.c_str(), "w", stderr) || !std::freopen(outFile.c_str(), "w", stdout) ||
            !std::freopen("/dev/null", "r", stdin))
            ::_exit(126);
        ::execv(cargv[0], cargv.data());
        ::_exit(127);
    }
    return pid;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `--record FILE` with two channels: a file per channel, each named when it
// opens and summed up when it closes, with the frames, bytes and seconds the
// file holds. The host ends as it does on Ctrl-C once both files hold frames
// (a sanitizer build on a busy machine takes long to open two viewers with
// sound and reach a key frame; --duration is only the backstop).
TEST(RecordCamsimTest, HostRecordsAFilePerChannelAndSaysWhatEachHolds) {
    const uint16_t port = DevicePort("dvr-h264-8776");
    const std::string base = TempDir() + "/host.mkv";
    const std::string err = TempDir() + "/host.err", out = TempDir() + "/host.out";
    const pid_t pid = StartHost({Address(port), "--channel", "1", "--channel", "2", "--audio", "--headless",
                                 "--record", base, "--duration", "120"},
                                err, out);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    auto holdsFrames = [&](int channel) {
        return ProbeFile(TempDir() + "/host-ch" + std::to_string(channel) + ".mkv").frames >= 10;
    };
    while (!(holdsFrames(1) && holdsFrames(2)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    ::kill(pid, SIGTERM);
    int status = -1;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText(err);
    const std::string text = ReadText(err);
    for (int channel : {1, 2}) {
        SCOPED_TRACE(channel);
        const std::string file = TempDir() + "/host-ch" + std::to_string(channel) + ".mkv";
        const std::string viewer = "viewer" + std::to_string(channel) + " ch" + std::to_string(channel);
        EXPECT_NE(std::string::npos, text.find(viewer + " recording " + file + "\n")) << text;
        const SProbe probe = ProbeFile(file);
        EXPECT_EQ("h264,704,480", probe.video.substr(0, probe.video.rfind(',')));
        EXPECT_EQ("aac", probe.audio);
        EXPECT_EQ("", DecodeErrors(file));
        const std::string summary = viewer + " recorded " + file + " frames=" + std::to_string(probe.frames) +
                                    " bytes=" + std::to_string(FileSize(file)) + " seconds=";
        EXPECT_NE(std::string::npos, text.find(summary)) << summary << "\n" << text;
    }
    EXPECT_NE(std::string::npos, ReadText(out).find("viewer2.record_file=" + TempDir() + "/host-ch2.mkv\n"));
}

// kill -9 in the middle of a recording leaves a file that ffprobe and ffmpeg
// read up to its last complete cluster.
TEST(RecordCamsimTest, RecordingSurvivesKill9) {
    constexpr int kKeptFrames = 30;
    for (const char* model : {"cam-jpeg-4608", "cam-profile-5751"}) {
        SCOPED_TRACE(model);
        const std::string file = TempDir() + "/killed-" + model + ".mkv";
        const std::string err = TempDir() + "/killed.err", out = TempDir() + "/killed.out";
        const pid_t pid =
            StartHost({Address(DevicePort(model)), "--audio", "--headless", "--record", file}, err, out);
        // Killed while it records, once the file holds a second of frames in
        // complete clusters (an H.264 recording first waits for a key frame).
        // A sanitizer build on a busy machine records slowly: what counts is
        // that every frame the file held before the kill is still read.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
        int before = 0;
        while ((before = ProbeFile(file).frames) < kKeptFrames && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ASSERT_GT(before, 0) << "nothing recorded before the kill";
        ASSERT_EQ(0, ::kill(pid, SIGKILL));
        int status = 0;
        ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status)) << ReadText(err);
        const SProbe probe = ProbeFile(file);
        EXPECT_EQ(Expect(Describe(model)).video, probe.video.substr(0, probe.video.rfind(',')));
        EXPECT_GE(probe.frames, before) << "what was in the file before the kill stays readable";
        EXPECT_EQ("1", probe.firstKey);
        EXPECT_EQ("", DecodeErrors(file));
    }
}

} // namespace
