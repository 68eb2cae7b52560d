// The viewer's whole open against camsim, the simulated device, on loopback:
// every model it plays, each device family's set-up paths, the process-wide
// machine-code memory, refused and broken answers. What a model should give
// is read from camsim's own description of it, never from the library: for a
// family's rows, the family's rules applied to the values camsim serves after
// the row's switches (stored values, refused keys, a cut picture).
#include "tools/CamsimClient.h"

#include "api/CInstanceTable.h"
#include "device/CDeviceProfile.h"
#include "ipcamview/Viewer.h"
#include "viewer/CMachineCodeCache.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

namespace {

using namespace camsimtest;
constexpr int32_t kSocket = CViewer::kTransportSocket;
constexpr int32_t kInet = CViewer::kTransportSocket + 1;

// The port of the model's camsim, cleared and then switched: `device` through
// "/camsim/device?" ("set.NAME=V", "reply=NG:KEY"), `media` through
// "/camsim/control?" ("refuse=1"). The process-wide machine-code memory is
// emptied, so that every open really asks the device.
uint16_t FreshDevice(const std::string& model, const std::string& device = "", const std::string& media = "",
                     const std::vector<std::string>& extra = {}) {
    const uint16_t port = DevicePort(model, extra);
    EXPECT_TRUE(Switch(port, device.empty() ? "reset" : "reset&" + device)) << device;
    EXPECT_EQ(200,
              Get(port, media.empty() ? "/camsim/control?reset" : "/camsim/control?reset&" + media).status);
    CMachineCodeCache::DestroyProcessCache();
    return port;
}

// A plain open as camsim describes the model: channel 1, profile 1, and the
// host's size and codec for the camera that takes them from the host.
int OpenLikeTheDescription(CViewer& viewer, uint16_t port, const Values& d, int32_t* audio,
                           int32_t transport = kSocket) {
    media_util::CMediaObj params;
    params.mProfileId = 1;
    if (d.at("dialect") == "fixed-camera") {
        params.mProfileId = 0;
        params.mVideoFormat = Number(d, "video_codec");
        params.mWidth = Number(d, "width");
        params.mHeight = Number(d, "height");
    }
    return viewer.Open(transport, Address(port).c_str(), 0, "", "", audio, 1, &params);
}

// Every model: what open concludes equals what the model says of itself, the
// audio answer is written back, and a second open in the same process asks
// no machine code: camsim refuses "getmachinecode" between the two opens, so
// a second question would end with machine code -1.
TEST(CViewerCamsimTest, EveryModelOpensAsItDescribesItselfAndIsAskedOnce) {
    std::istringstream models(Camsim("--list"));
    size_t count = 0;
    for (std::string model; std::getline(models, model); ++count) {
        SCOPED_TRACE(model);
        const Values d = Describe(model);
        const uint16_t port = FreshDevice(model);
        const int type = Number(d, "device_type");
        const bool streams = type != 0 && type != 4; // no video, or identified and nothing more
        const int audioSupported = Number(d, "audio_supported");
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            CViewer viewer;
            int32_t audio = 1;
            ASSERT_NE(0, OpenLikeTheDescription(viewer, port, d, &audio));
            EXPECT_EQ(200, viewer.mLastStatus);
            EXPECT_EQ(Number(d, "machine_code"), viewer.mMachineCode);
            EXPECT_EQ(streams ? audioSupported : 1, audio) << "the audio answer, only after the set-up";
            EXPECT_EQ(streams, viewer.HasStreamPath()) << viewer.mStreamUrl;
            ASSERT_EQ(streams, viewer.mpProfile != nullptr);
            if (streams) {
                const CDeviceProfile& p = *viewer.mpProfile;
                EXPECT_EQ(
                    std::make_tuple(Number(d, "video_codec"), Number(d, "width"), Number(d, "height"),
                                    Number(d, "frame_rate"), audioSupported),
                    std::make_tuple(p.mVideoCodec, p.mWidth, p.mHeight, p.mFrameRate, p.mAudioSupported));
                EXPECT_EQ(audioSupported ? Number(d, "audio_codec") : p.mAudioCodec, p.mAudioCodec);
                EXPECT_EQ(0u, viewer.mStreamUrl.find("http://" + Address(port) + "/")) << viewer.mStreamUrl;
                ASSERT_NE(nullptr, viewer.mpSourceVideoInfo) << "a pipeline for every model that streams";
                EXPECT_EQ(Number(d, "receive_type"), viewer.mLiveDesc.mReceiveType);
                EXPECT_EQ(viewer.mStreamUrl, viewer.mLiveDesc.mUrl);
            } else {
                EXPECT_EQ("", viewer.mStreamUrl);
            }
            ASSERT_TRUE(Switch(port, "reply=NG:getmachinecode"));
        }
    }
    EXPECT_GE(count, 20u) << "camsim --list";
}

// Refused credentials at "/" stop open with the status, before the machine
// code; Start still hands out an instance the host can stop.
TEST(CViewerCamsimTest, RefusedCredentialsStopOpenWithTheirStatus) {
    const Values d = Describe("cam-mpeg4-4752");
    struct Case {
        int32_t transport;
        const char* user;
        const char* password;
        int status;
        int32_t machineCode;
    };
    // The socket client waits out its read time-out on a refusal with a body;
    // the time-out cases are below, so the refusals go over the other client.
    const Case cases[] = {
        {kInet, "admin", "wrong", 401, -1},
        {kSocket, "admin", "secret", 200, Number(d, "machine_code")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + ":" + c.password + " transport " + std::to_string(c.transport));
        const std::string address =
            Address(FreshDevice("cam-mpeg4-4752", "", "", {"--user", "admin:secret"}));
        CViewer viewer;
        int32_t audio = 1;
        ASSERT_NE(0, viewer.Open(c.transport, address.c_str(), 0, c.user, c.password, &audio, 1, nullptr));
        EXPECT_EQ(c.status, viewer.mLastStatus);
        EXPECT_EQ(c.machineCode, viewer.mMachineCode);
        EXPECT_EQ(c.status == 200, viewer.HasStreamPath());
        if (c.status == 200)
            continue;
        EXPECT_EQ(1, audio);
        CInstanceTable table;
        const int32_t handle =
            table.Start(0, c.transport, address.c_str(), 0, c.user, c.password, &audio, 1, 0);
        EXPECT_EQ(0, handle);
        EXPECT_TRUE(table.Stop(handle));
    }
}

// Refused and broken parameter answers make open stop at the step that meets
// them, within the transport's time-outs, and Start still gives a handle. The
// machine code is met first, unless it is remembered from an earlier open;
// the set-up then fails and the audio flag stays. A machine code that did not
// come is not remembered: once the device answers again, the next open asks
// and gets it. The silent device is the time-out case, once per transport.
TEST(CViewerCamsimTest, RefusedAndBrokenAnswersStopOpenAtTheirStep) {
    const Values d = Describe("cam-jpeg-4608");
    const int32_t code = Number(d, "machine_code");
    enum class StopsAt { kMachineCode, kSetUp, kNowhere };
    struct Case {
        const char* fault;
        int32_t transport;
        StopsAt stop;
    };
    const Case cases[] = {
        {"reply=NG:getmachinecode", kSocket, StopsAt::kMachineCode},
        {"reply=UA:getmachinecode", kSocket, StopsAt::kMachineCode},
        {"reply=ok:getmachinecode", kSocket, StopsAt::kMachineCode},
        {"body=empty", kInet, StopsAt::kMachineCode},
        {"body=junk", kSocket, StopsAt::kMachineCode},
        {"body=huge", kSocket, StopsAt::kMachineCode},
        {"body=drop", kSocket, StopsAt::kMachineCode},
        {"body=no-status", kSocket, StopsAt::kMachineCode},
        {"body=extra", kInet, StopsAt::kNowhere},
        {"body=bare-lf", kSocket, StopsAt::kNowhere},
        {"body=drop", kSocket, StopsAt::kSetUp},
        {"body=silent", kSocket, StopsAt::kMachineCode},
        {"body=silent", kInet, StopsAt::kMachineCode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + " transport " + std::to_string(c.transport));
        const uint16_t port = FreshDevice("cam-jpeg-4608");
        int32_t audio = 1;
        if (c.stop == StopsAt::kSetUp) {
            CViewer first; // remembers the machine code
            ASSERT_NE(0, OpenLikeTheDescription(first, port, d, &audio, c.transport));
            audio = 1;
        }
        ASSERT_TRUE(Switch(port, c.fault));
        CViewer viewer;
        EXPECT_NE(0, OpenLikeTheDescription(viewer, port, d, &audio, c.transport));
        EXPECT_EQ(200, viewer.mLastStatus) << "the access check is no parameter CGI";
        EXPECT_EQ(c.stop == StopsAt::kMachineCode ? -1 : code, viewer.mMachineCode);
        EXPECT_EQ(c.stop == StopsAt::kNowhere ? Number(d, "audio_supported") : 1, audio);
        EXPECT_EQ(c.stop == StopsAt::kNowhere, viewer.HasStreamPath());
        if (std::string(c.fault) == "body=huge") {
            CInstanceTable table; // 4 MiB of junk: Start opens just the same
            const int32_t handle =
                table.Start(0, c.transport, Address(port).c_str(), 0, "", "", &audio, 1, 0);
            EXPECT_EQ(0, handle);
            EXPECT_TRUE(table.Stop(handle));
        }
        if (c.stop != StopsAt::kMachineCode)
            continue;
        ASSERT_TRUE(Switch(port, "reset=faults"));
        CViewer answered;
        OpenLikeTheDescription(answered, port, d, &audio, c.transport);
        EXPECT_EQ(code, answered.mMachineCode) << "remembered from the failed open";
        EXPECT_TRUE(answered.HasStreamPath());
    }
}

// Viewers of several channels of one recorder open at once: each finds the
// model (from the device or from the shared memory) and its own stream.
TEST(CViewerCamsimTest, ConcurrentOpensOfOneDeviceAgree) {
    const Values d = Describe("dvr-h264-8775");
    const std::string address = Address(FreshDevice("dvr-h264-8775"));
    constexpr size_t kViewers = 6;
    std::vector<std::thread> threads;
    std::vector<int32_t> codes(kViewers);
    std::vector<std::string> urls(kViewers);
    for (size_t i = 0; i < kViewers; ++i) {
        threads.emplace_back([&, i] {
            CViewer viewer;
            int32_t audio = 0;
            viewer.Open(kSocket, address.c_str(), 0, "", "", &audio, static_cast<int32_t>(i + 1), nullptr);
            codes[i] = viewer.mMachineCode;
            urls[i] = viewer.mStreamUrl;
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (size_t i = 0; i < kViewers; ++i) { // channel n's mask: "1" and n - 1 zeros
        EXPECT_EQ(Number(d, "machine_code"), codes[i]);
        EXPECT_EQ("http://" + address + "/avc.cgi?op.liveimage=1" + std::string(i, '0'), urls[i]);
    }
}

struct Row {
    const char* model;
    int32_t channel;
    int32_t profile;
    std::string device = ""; // switches for "/camsim/device?" ("set.NAME=V", "reply=NG:KEY"), may be empty
    std::string media = "";  // switches for "/camsim/control?", may be empty
};

struct Conclusion {
    bool setUp = false;
    int32_t codec = 0, width = 0, height = 0, frameRate = 0, audio = 0, audioCodec = 0;
};

// Whether the row's device switches answer `key` with another word than OK.
bool Refused(const Row& row, const std::string& key) {
    return row.device.find(":" + key) != std::string::npos;
}

int Value(const Values& values, const std::string& name) {
    auto found = values.find("param." + name);
    return found == values.end() ? 0 : std::stoi(found->second);
}

// Opens each row's device and compares what the dialect concluded with what
// the rule makes of the values camsim serves; a set-up that failed leaves the
// dialect reset (machine code included), the audio flag as the host gave it,
// and no stream.
void RunTable(const std::vector<Row>& rows, Conclusion (*rule)(const Row&, const Values&)) {
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.model) + " channel " + std::to_string(row.channel) + " profile " +
                     std::to_string(row.profile) + " [" + row.device + "] [" + row.media + "]");
        const uint16_t port = FreshDevice(row.model, row.device, row.media);
        const Conclusion want = rule(row, NameValues(Body(port, "/camsim/device?describe")));
        CViewer viewer;
        media_util::CMediaObj params;
        params.mProfileId = row.profile;
        int32_t audio = 1;
        ASSERT_NE(0, viewer.Open(kSocket, Address(port).c_str(), 0, "", "", &audio, row.channel, &params));
        ASSERT_NE(nullptr, viewer.mpProfile);
        const CDeviceProfile& p = *viewer.mpProfile;
        EXPECT_EQ(std::make_tuple(want.setUp, want.codec, want.width, want.height, want.frameRate, want.audio,
                                  want.audioCodec),
                  std::make_tuple(p.mMachineCode != 0, p.mVideoCodec, p.mWidth, p.mHeight, p.mFrameRate,
                                  p.mAudioSupported, p.mAudioCodec));
        EXPECT_EQ(want.setUp ? want.audio : 1, audio);
        EXPECT_TRUE(want.setUp || !viewer.HasStreamPath());
    }
}

// Profile cameras: "streamvalid" must answer OK with a value other than "0";
// a refused format or size leaves it unset; rate and audio come from the
// parameter CGI either way, but a failed set-up resets them with the rest.
Conclusion ProfileRule(const Row& row, const Values& v) {
    const std::string prefix = "profile." + std::to_string(row.profile) + ".";
    Conclusion c;
    c.setUp = !Refused(row, "streamvalid") && Value(v, prefix + "streamvalid") != 0;
    if (!c.setUp)
        return c;
    const int format = Value(v, prefix + "format");
    c.codec = Refused(row, "getformat") ? 0 : format == 1 ? 1005 : format == 2 ? 1010 : 1000;
    c.width = Refused(row, "getxsize") ? 0 : Value(v, prefix + "xsize");
    c.height = Refused(row, "getysize") ? 0 : Value(v, prefix + "ysize");
    c.frameRate = Value(v, "videomode") != 0 ? 25000 : 30000;
    c.audio = Value(v, "audioenable") == 1 ? 1 : 0;
    c.audioCodec = std::string(row.model) == "cam-profile-8192" ? 2020 : 2005;
    return c;
}

TEST(CViewerCamsimTest, ProfileCamerasSetUp) {
    RunTable({{"cam-profile-8192", 1, 1},
              {"cam-profile-8192", 1, 3},
              {"cam-profile-5751", 1, 2, "set.videomode=1&set.audioenable=0"},
              {"cam-profile-8192", 1, 0}, // the profile that cannot stream
              {"cam-profile-8192", 1, 7}, // a profile the camera lacks
              {"cam-profile-8192", 1, 1, "set.profile.1.streamvalid=0"},
              {"cam-profile-8192", 1, 1, "reply=NG:streamvalid"},
              {"cam-profile-8192", 1, 2, "reply=NG:getformat"},
              {"cam-profile-8192", 1, 3, "reply=UA:getxsize"},
              {"cam-profile-8193", 1, 1, "reply=ok:getysize"}},
             ProfileRule);
}

// Recorders: the H.264 models ask their channel's AVC size (nothing given
// means 720 by 576; models that report 624 or 504 lines send 576- or
// 480-line pictures); the JPEG models read the size from the
// device header of one picture, 704 by 272 when the picture is too short.
Conclusion RecorderRule(const Row& row, const Values& v) {
    const bool avc = std::string(row.model).find("h264") != std::string::npos;
    Conclusion c{true, avc ? 1010 : 1000, 0, 0, 30000, avc ? 1 : 0, avc ? 2010 : 2005};
    const std::string n = "." + std::to_string(row.channel);
    if (avc) {
        c.width = Value(v, "avcxsize" + n) < 1 ? 720 : Value(v, "avcxsize" + n);
        c.height = Value(v, "avcysize" + n) < 1 ? 576 : Value(v, "avcysize" + n);
        c.height = c.height == 624 ? 576 : c.height == 504 ? 480 : c.height;
    } else if (row.media.find("refuse=1") != std::string::npos) {
        c.width = 704;
        c.height = 272;
    } else { // every channel the same size, whichever the device picks
        c.width = Value(v, "jpegxsize.1");
        c.height = Value(v, "jpegysize.1");
    }
    return c;
}

TEST(CViewerCamsimTest, RecordersSetUp) {
    const std::string small =
        "set.jpegxsize.1=352&set.jpegxsize.2=352&set.jpegxsize.3=352&set.jpegxsize.4=352"
        "&set.jpegysize.1=240&set.jpegysize.2=240&set.jpegysize.3=240&set.jpegysize.4=240";
    RunTable({{"dvr-h264-5138", 1, 0},
              {"dvr-h264-8776", 2, 0},
              {"dvr-h264-8775", 3, 0, "set.avcysize.3=624"},
              {"dvr-h264-8777", 1, 0, "set.avcysize.1=504&set.avcxsize.1=0"},
              {"dvr-h264-8775", 2, 0, "set.avcysize.2=0"},
              {"dvr-h264-5138", 4, 0, "set.avcysize.4=480&set.avcxsize.4=352"},
              {"dvr-jpeg-5124", 1, 0},
              {"dvr-jpeg-5124", 1, 0, small},
              {"dvr-jpeg-5124", 1, 0, "", "refuse=1"}}, // "NS stream": no picture at all
             RecorderRule);
}

// The video server: its "/getstate?value=ntsc" body begins with "1" in PAL.
Conclusion StandardRule(const Row&, const Values& v) {
    const bool pal = Value(v, "videomode") == 1;
    return {true, 1000, 352, pal ? 288 : 240, pal ? 25000 : 30000, 0, 2005};
}

TEST(CViewerCamsimTest, VideoStandardServerSetUp) {
    RunTable({{"vs-jpeg-12292", 1, 0},
              {"vs-jpeg-12292", 1, 0, "set.videomode=0"},
              {"vs-jpeg-12292", 1, 0, "set.videomode=1"}},
             StandardRule);
}

// Parameter cameras: "supportavc" 1 means H.264, else "getformat" 0 JPEG and
// 1 MPEG-4; a format not answered OK leaves codec and size unset.
Conclusion DefaultRule(const Row& row, const Values& v) {
    Conclusion c{true, 0, 0, 0, Value(v, "videomode") != 0 ? 25000 : 30000, Value(v, "audioenable") == 1,
                 2005};
    const int format = Value(v, "format");
    if (!Refused(row, "supportavc") && Value(v, "supportavc") == 1) {
        c.codec = 1010;
        c.width = Value(v, "avcxsize");
        c.height = Value(v, "avcysize");
    } else if (!Refused(row, "getformat") && (format == 0 || format == 1)) {
        c.codec = format == 0 ? 1000 : 1005;
        c.width = Value(v, format == 0 ? "jpegxsize" : "mpeg4xsize");
        c.height = Value(v, format == 0 ? "jpegysize" : "mpeg4ysize");
    }
    return c;
}

TEST(CViewerCamsimTest, ParameterCamerasSetUp) {
    RunTable({{"cam-jpeg-4608", 1, 0},
              {"cam-mpeg4-4752", 1, 0},
              {"cam-jpeg-4608", 1, 0, "set.format=1&set.mpeg4xsize=320&set.mpeg4ysize=240"},
              {"cam-jpeg-4608", 1, 0, "set.supportavc=1&set.avcxsize=352&set.videomode=1"},
              {"cam-jpeg-4608", 1, 0, "reply=NG:getformat"},
              {"cam-mpeg4-4752", 1, 0, "reply=NS:getformat"},
              {"cam-mpeg4-4752", 1, 0, "reply=UA:getformat&set.audioenable=0"},
              {"cam-jpeg-4608", 1, 0, "set.supportavc=1&reply=NG:supportavc"},
              {"cam-jpeg-4608", 1, 0, "set.format=7"}},
             DefaultRule);
}

} // namespace
