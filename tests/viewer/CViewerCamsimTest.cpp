// The viewer's whole open against camsim, the simulated device, on loopback:
// every model it plays, the process-wide machine-code memory, refused and
// broken answers. What a model should give is read from camsim's own
// description of it (--describe), never from the library.
#include "CamsimDevice.h"

#include "api/CInstanceTable.h"
#include "device/CDeviceProfile.h"
#include "ipcamview/Viewer.h"
#include "viewer/CMachineCodeCache.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using camsim::Description;
constexpr int32_t kSocket = CViewer::kTransportSocket;
constexpr int32_t kInet = CViewer::kTransportSocket + 1;

// One camsim per model (and start-up options) for the whole binary, handed
// out with its faults cleared and the process-wide machine-code memory
// emptied, so that every open really asks the device.
camsim::Device& FreshDevice(const std::string& model, const std::vector<std::string>& extra = {}) {
    static std::map<std::string, std::unique_ptr<camsim::Device>> devices;
    std::string key = model;
    for (const std::string& option : extra)
        key += " " + option;
    std::unique_ptr<camsim::Device>& device = devices[key];
    if (!device)
        device = std::make_unique<camsim::Device>(model, extra);
    EXPECT_TRUE(device->Started()) << device->Error();
    EXPECT_TRUE(camsim::Control(device->Port(), "reset=faults"));
    CMachineCodeCache::DestroyProcessCache();
    return *device;
}

// A plain open as camsim describes the model: channel 1, profile 1, and the
// host's size and codec for the camera that takes them from the host.
int OpenLikeTheDescription(CViewer& viewer, const std::string& address, const Description& d, int32_t* audio,
                           int32_t transport = kSocket) {
    media_util::CMediaObj params;
    params.mProfileId = 1;
    if (d.at("dialect") == "fixed-camera") {
        params.mProfileId = 0;
        params.mVideoFormat = camsim::Number(d, "video_codec");
        params.mWidth = camsim::Number(d, "width");
        params.mHeight = camsim::Number(d, "height");
    }
    return viewer.Open(transport, address.c_str(), 0, "", "", audio, 1, &params);
}

// Every model: what open concludes equals what the model says of itself, the
// audio answer is written back, and a second open in the same process asks
// no machine code: camsim refuses "getmachinecode" between the two opens, so
// a second question would end with machine code -1.
TEST(CViewerCamsimTest, EveryModelOpensAsItDescribesItselfAndIsAskedOnce) {
    const std::vector<std::string> models = camsim::Lines("--list");
    ASSERT_GE(models.size(), 20u);
    for (const std::string& model : models) {
        SCOPED_TRACE(model);
        const Description d = camsim::Describe(model);
        camsim::Device& device = FreshDevice(model);
        const int type = camsim::Number(d, "device_type");
        const bool streams = type != 0 && type != 4; // no video, or identified and nothing more
        const int audioSupported = camsim::Number(d, "audio_supported");
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            CViewer viewer;
            int32_t audio = 1;
            ASSERT_NE(0, OpenLikeTheDescription(viewer, device.Address(), d, &audio));
            EXPECT_EQ(200, viewer.mLastStatus);
            EXPECT_EQ(camsim::Number(d, "machine_code"), viewer.mMachineCode);
            EXPECT_EQ(streams ? audioSupported : 1, audio) << "the audio answer, only after the set-up";
            EXPECT_EQ(streams, viewer.HasStreamPath()) << viewer.mStreamUrl;
            ASSERT_EQ(streams, viewer.mpProfile != nullptr);
            if (streams) {
                const CDeviceProfile& p = *viewer.mpProfile;
                EXPECT_EQ(camsim::Number(d, "video_codec"), p.mVideoCodec);
                EXPECT_EQ(camsim::Number(d, "width"), p.mWidth);
                EXPECT_EQ(camsim::Number(d, "height"), p.mHeight);
                EXPECT_EQ(camsim::Number(d, "frame_rate"), p.mFrameRate);
                EXPECT_EQ(audioSupported, p.mAudioSupported);
                if (audioSupported != 0) {
                    EXPECT_EQ(camsim::Number(d, "audio_codec"), p.mAudioCodec);
                }
                EXPECT_EQ(0u, viewer.mStreamUrl.find("http://" + device.Address() + "/"))
                    << viewer.mStreamUrl;
                ASSERT_NE(nullptr, viewer.mpSourceVideoInfo) << "a pipeline for every model that streams";
                EXPECT_EQ(camsim::Number(d, "receive_type"), viewer.mLiveDesc.mReceiveType);
                EXPECT_EQ(viewer.mStreamUrl, viewer.mLiveDesc.mUrl);
            } else {
                EXPECT_EQ("", viewer.mStreamUrl);
            }
            ASSERT_TRUE(camsim::Control(device.Port(), "reply=NG:getmachinecode"));
        }
    }
}

// A machine-code answer that is not "OK" leaves -1 and caches nothing: once
// the device answers again, the next open asks and gets the code.
TEST(CViewerCamsimTest, MachineCodeThatIsNotOkIsNotRemembered) {
    const Description d = camsim::Describe("cam-jpeg-4608");
    camsim::Device& device = FreshDevice("cam-jpeg-4608");
    for (const char* word : {"NG", "UA", "ok"}) {
        SCOPED_TRACE(word);
        ASSERT_TRUE(camsim::Control(device.Port(), std::string("reply=") + word + ":getmachinecode"));
        CViewer refused;
        int32_t audio = 1;
        EXPECT_NE(0, OpenLikeTheDescription(refused, device.Address(), d, &audio));
        EXPECT_EQ(-1, refused.mMachineCode);
        EXPECT_EQ(1, audio);
        ASSERT_TRUE(camsim::Control(device.Port(), "reset=faults"));
        CViewer answered;
        OpenLikeTheDescription(answered, device.Address(), d, &audio);
        EXPECT_EQ(camsim::Number(d, "machine_code"), answered.mMachineCode);
        EXPECT_TRUE(answered.HasStreamPath());
        CMachineCodeCache::DestroyProcessCache();
    }
}

// Refused credentials at "/" stop open with the status, before the machine
// code; Start still hands out an instance the host can stop.
TEST(CViewerCamsimTest, RefusedCredentialsStopOpenWithTheirStatus) {
    const Description d = camsim::Describe("cam-mpeg4-4752");
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
        {kSocket, "admin", "secret", 200, camsim::Number(d, "machine_code")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + ":" + c.password + " transport " + std::to_string(c.transport));
        camsim::Device& device = FreshDevice("cam-mpeg4-4752", {"--user", "admin:secret"});
        CViewer viewer;
        int32_t audio = 1;
        ASSERT_NE(
            0, viewer.Open(c.transport, device.Address().c_str(), 0, c.user, c.password, &audio, 1, nullptr));
        EXPECT_EQ(c.status, viewer.mLastStatus);
        EXPECT_EQ(c.machineCode, viewer.mMachineCode);
        EXPECT_EQ(c.status == 200, viewer.HasStreamPath());
        if (c.status == 200)
            continue;
        EXPECT_EQ(1, audio);
        CInstanceTable table;
        const int32_t handle =
            table.Start(0, c.transport, device.Address().c_str(), 0, c.user, c.password, &audio, 1, 0);
        EXPECT_EQ(0, handle);
        EXPECT_TRUE(table.Stop(handle));
    }
}

// Broken parameter answers make open stop at the step that meets them, within
// the transport's time-outs, and Start still gives a handle. The machine code
// is met first, unless it is remembered from an earlier open; the set-up then
// fails and the audio flag stays. The silent device is the time-out case, once
// per transport.
TEST(CViewerCamsimTest, BrokenAnswersStopOpenAtTheirStep) {
    const Description d = camsim::Describe("cam-jpeg-4608");
    enum class StopsAt { kMachineCode, kSetUp, kNowhere };
    struct Case {
        const char* body;
        int32_t transport;
        StopsAt stop;
    };
    const Case cases[] = {
        {"empty", kInet, StopsAt::kMachineCode},       {"junk", kSocket, StopsAt::kMachineCode},
        {"huge", kSocket, StopsAt::kMachineCode},      {"drop", kSocket, StopsAt::kMachineCode},
        {"no-status", kSocket, StopsAt::kMachineCode}, {"extra", kInet, StopsAt::kNowhere},
        {"bare-lf", kSocket, StopsAt::kNowhere},       {"drop", kSocket, StopsAt::kSetUp},
        {"silent", kSocket, StopsAt::kMachineCode},    {"silent", kInet, StopsAt::kMachineCode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.body) + " transport " + std::to_string(c.transport));
        camsim::Device& device = FreshDevice("cam-jpeg-4608");
        int32_t audio = 1;
        if (c.stop == StopsAt::kSetUp) {
            CViewer first; // remembers the machine code
            ASSERT_NE(0, OpenLikeTheDescription(first, device.Address(), d, &audio, c.transport));
            audio = 1;
        }
        ASSERT_TRUE(camsim::Control(device.Port(), std::string("body=") + c.body));
        CViewer viewer;
        EXPECT_NE(0, OpenLikeTheDescription(viewer, device.Address(), d, &audio, c.transport));
        EXPECT_EQ(200, viewer.mLastStatus) << "the access check is no parameter CGI";
        EXPECT_EQ(c.stop == StopsAt::kMachineCode ? -1 : camsim::Number(d, "machine_code"),
                  viewer.mMachineCode);
        EXPECT_EQ(c.stop == StopsAt::kNowhere ? camsim::Number(d, "audio_supported") : 1, audio);
        EXPECT_EQ(c.stop == StopsAt::kNowhere, viewer.HasStreamPath());
        if (std::string(c.body) != "huge")
            continue;
        CInstanceTable table; // 4 MiB of junk: Start opens just the same
        const int32_t handle = table.Start(0, c.transport, device.Address().c_str(), 0, "", "", &audio, 1, 0);
        EXPECT_EQ(0, handle);
        EXPECT_TRUE(table.Stop(handle));
    }
}

// Viewers of several channels of one recorder open at once: each finds the
// model (from the device or from the shared memory) and its own stream.
TEST(CViewerCamsimTest, ConcurrentOpensOfOneDeviceAgree) {
    const Description d = camsim::Describe("dvr-h264-8775");
    camsim::Device& device = FreshDevice("dvr-h264-8775");
    constexpr size_t kViewers = 6;
    std::vector<std::thread> threads;
    std::vector<int32_t> codes(kViewers);
    std::vector<std::string> urls(kViewers);
    for (size_t i = 0; i < kViewers; ++i) {
        threads.emplace_back([&, i] {
            CViewer viewer;
            int32_t audio = 0;
            viewer.Open(kSocket, device.Address().c_str(), 0, "", "", &audio, static_cast<int32_t>(i + 1),
                        nullptr);
            codes[i] = viewer.mMachineCode;
            urls[i] = viewer.mStreamUrl;
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (size_t i = 0; i < kViewers; ++i) { // channel n's mask: "1" and n - 1 zeros
        EXPECT_EQ(camsim::Number(d, "machine_code"), codes[i]);
        EXPECT_EQ("http://" + device.Address() + "/avc.cgi?op.liveimage=1" + std::string(i, '0'), urls[i]);
    }
}

} // namespace
