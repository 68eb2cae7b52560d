// The viewer's whole open against camsim, the simulated device, on loopback:
// every model it plays, the process-wide machine-code memory, refused and
// broken answers. What a model should give is read from camsim's own
// description of it (--describe), never from the library.
#include "CamsimDevice.h"

#include "api/CInstanceTable.h"
#include "device/CDeviceProfile.h"
#include "ipcamview/Viewer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Description = std::map<std::string, std::string>;

// A plain open, as camsim describes it: channel 1, profile 1, the host's
// size and codec for the camera that takes them from the host.
struct OpenResult {
    int opened = 0;
    int32_t audio = 0;
};

OpenResult OpenLikeTheDescription(CViewer& viewer, const std::string& address, const Description& d,
                                  int32_t audioAsked, int32_t transport = CViewer::kTransportSocket) {
    media_util::CMediaObj params;
    params.mProfileId = 1;
    if (d.at("dialect") == "fixed-camera") {
        params.mProfileId = 0;
        params.mVideoFormat = camsim::Number(d, "video_codec");
        params.mWidth = camsim::Number(d, "width");
        params.mHeight = camsim::Number(d, "height");
    }
    OpenResult result;
    result.audio = audioAsked;
    result.opened = viewer.Open(transport, address.c_str(), 0, "", "", &result.audio, 1, &params);
    return result;
}

bool CanStream(const Description& d) {
    const int type = camsim::Number(d, "device_type");
    return type != 0 && type != 4;
}

std::string MachineCodeAnswer(int port) {
    const std::string answer = camsim::Get(port, "/vb.htm?getmachinecode");
    const size_t body = answer.find("\r\n\r\n");
    return body == std::string::npos ? "" : answer.substr(body + 4);
}

// Every model: what open concludes equals what the model says of itself, the
// audio answer is written back, and a second open in the same process asks
// no machine code: camsim is told to refuse "getmachinecode" between the two
// opens, so a second question would end with machine code -1.
TEST(CViewerCamsimTest, EveryModelOpensAsItDescribesItselfAndIsAskedOnce) {
    const std::vector<std::string> models = camsim::Models();
    ASSERT_GE(models.size(), 20u);
    for (const std::string& model : models) {
        SCOPED_TRACE(model);
        const Description d = camsim::Describe(model);
        ASSERT_EQ(model, d.at("name"));
        camsim::Device device(model);
        ASSERT_TRUE(device.Started()) << device.Error();
        const int32_t code = camsim::Number(d, "machine_code");
        const int audioSupported = camsim::Number(d, "audio_supported");

        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            CViewer viewer;
            const OpenResult result = OpenLikeTheDescription(viewer, device.Address(), d, 1);
            ASSERT_NE(0, result.opened);
            EXPECT_EQ(200, viewer.mLastStatus);
            EXPECT_EQ(code, viewer.mMachineCode);
            if (!CanStream(d)) {
                EXPECT_EQ(nullptr, viewer.mpProfile);
                EXPECT_EQ(1, result.audio) << "open stopped before the audio answer";
                EXPECT_EQ("", viewer.mStreamUrl);
                EXPECT_FALSE(viewer.HasStreamPath());
            } else {
                ASSERT_NE(nullptr, viewer.mpProfile);
                const CDeviceProfile& p = *viewer.mpProfile;
                EXPECT_EQ(camsim::Number(d, "video_codec"), p.mVideoCodec);
                EXPECT_EQ(camsim::Number(d, "width"), p.mWidth);
                EXPECT_EQ(camsim::Number(d, "height"), p.mHeight);
                EXPECT_EQ(camsim::Number(d, "frame_rate"), p.mFrameRate);
                EXPECT_EQ(audioSupported, p.mAudioSupported);
                if (audioSupported != 0) {
                    EXPECT_EQ(camsim::Number(d, "audio_codec"), p.mAudioCodec);
                }
                EXPECT_EQ(audioSupported, result.audio) << "the audio answer";
                EXPECT_TRUE(viewer.HasStreamPath()) << viewer.mStreamUrl;
                EXPECT_EQ(0u, viewer.mStreamUrl.find("http://" + device.Address() + "/"))
                    << viewer.mStreamUrl;
                ASSERT_NE(nullptr, viewer.mpSourceVideoInfo) << "a pipeline for every model that streams";
                EXPECT_EQ(camsim::Number(d, "receive_type"), viewer.mLiveDesc.mReceiveType);
                EXPECT_EQ(viewer.mStreamUrl, viewer.mLiveDesc.mUrl);
            }
            if (round == 0) {
                ASSERT_TRUE(camsim::Control(device.Port(), "reply=NG:getmachinecode"));
                ASSERT_EQ(0u, MachineCodeAnswer(device.Port()).rfind("NG getmachinecode", 0))
                    << "the device now refuses the question";
            }
        }
    }
}

// A refused or unreadable machine-code answer leaves -1 and caches nothing:
// once the device answers again, the next open asks and gets the code.
TEST(CViewerCamsimTest, MachineCodeThatIsNotOkIsNotRemembered) {
    const Description d = camsim::Describe("cam-jpeg-4608");
    const int32_t code = camsim::Number(d, "machine_code");
    for (const char* word : {"NG", "NS", "UW", "UA", "ok", "XX"}) {
        SCOPED_TRACE(word);
        camsim::Device device("cam-jpeg-4608");
        ASSERT_TRUE(device.Started()) << device.Error();
        ASSERT_TRUE(camsim::Control(device.Port(), std::string("reply=") + word + ":getmachinecode"));
        {
            CViewer viewer;
            const OpenResult result = OpenLikeTheDescription(viewer, device.Address(), d, 1);
            EXPECT_NE(0, result.opened);
            EXPECT_EQ(-1, viewer.mMachineCode);
            EXPECT_EQ(nullptr, viewer.mpProfile);
            EXPECT_EQ(1, result.audio);
        }
        ASSERT_TRUE(camsim::Control(device.Port(), "reply=:getmachinecode"));
        CViewer viewer;
        OpenLikeTheDescription(viewer, device.Address(), d, 1);
        EXPECT_EQ(code, viewer.mMachineCode);
        EXPECT_TRUE(viewer.HasStreamPath());
    }
}

// Refused credentials at "/" stop open with the status, before the machine
// code; Start still hands out an instance the host can stop.
TEST(CViewerCamsimTest, RefusedCredentialsStopOpenWithTheirStatus) {
    camsim::Device device("cam-mpeg4-4752", {"--user", "admin:secret"});
    ASSERT_TRUE(device.Started()) << device.Error();
    const Description d = camsim::Describe("cam-mpeg4-4752");
    struct Case {
        const char* user;
        const char* password;
        int status;
        int32_t machineCode;
    };
    const Case cases[] = {
        {"admin", "wrong", 401, -1},
        {"", "", 401, -1},
        {"admin", "secret", 200, camsim::Number(d, "machine_code")},
    };
    for (int32_t transport : {CViewer::kTransportSocket, CViewer::kTransportSocket + 1}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.user) + ":" + c.password + " transport " + std::to_string(transport));
            CViewer viewer;
            int32_t audio = 1;
            ASSERT_NE(0, viewer.Open(transport, device.Address().c_str(), 0, c.user, c.password, &audio, 1,
                                     nullptr));
            EXPECT_EQ(c.status, viewer.mLastStatus);
            EXPECT_EQ(c.machineCode, viewer.mMachineCode);
            EXPECT_EQ(c.status == 200, viewer.HasStreamPath());
            // The socket client waits out its read time-out on a refusal
            // with a body, so one Start per transport shows the handle.
            if (&c != &cases[0])
                continue;
            CInstanceTable table;
            int32_t tableAudio = 1;
            const int32_t handle =
                table.Start(0, transport, device.Address().c_str(), 0, c.user, c.password, &tableAudio, 1, 0);
            EXPECT_GE(handle, 0);
            EXPECT_TRUE(table.Stop(handle));
        }
    }
}

// Broken parameter answers make open stop at the machine code (or go on,
// when the right line is still there), always within the transport's
// time-outs, and Start still gives a handle.
TEST(CViewerCamsimTest, BrokenAnswersStopOpenAtTheMachineCode) {
    const Description d = camsim::Describe("cam-jpeg-4608");
    const int32_t code = camsim::Number(d, "machine_code");
    struct Case {
        const char* body;
        bool identified; // the machine-code line survives the fault
    };
    const Case cases[] = {
        {"empty", false},  {"junk", false},      {"huge", false}, {"drop", false},
        {"silent", false}, {"no-status", false}, {"extra", true}, {"bare-lf", true},
    };
    for (int32_t transport : {CViewer::kTransportSocket, CViewer::kTransportSocket + 1}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.body) + " transport " + std::to_string(transport));
            camsim::Device device("cam-jpeg-4608");
            ASSERT_TRUE(device.Started()) << device.Error();
            ASSERT_TRUE(camsim::Control(device.Port(), std::string("body=") + c.body));
            CViewer viewer;
            const OpenResult result = OpenLikeTheDescription(viewer, device.Address(), d, 1, transport);
            EXPECT_NE(0, result.opened);
            EXPECT_EQ(200, viewer.mLastStatus) << "the access check is no parameter CGI";
            EXPECT_EQ(c.identified ? code : -1, viewer.mMachineCode);
            EXPECT_EQ(c.identified, viewer.mpProfile != nullptr);
            // Start opens just the same; shown once per transport, on a
            // device that answers 4 MiB of junk.
            if (std::string(c.body) != "huge")
                continue;
            CInstanceTable table;
            int32_t audio = 0;
            const int32_t handle =
                table.Start(0, transport, device.Address().c_str(), 0, "", "", &audio, 1, 0);
            EXPECT_GE(handle, 0);
            EXPECT_TRUE(table.Stop(handle));
        }
    }
}

// Viewers of several channels of one recorder open at once: each finds the
// model (from the device or from the shared memory) and its own stream.
TEST(CViewerCamsimTest, ConcurrentOpensOfOneDeviceAgree) {
    const std::string model = "dvr-h264-8775";
    const Description d = camsim::Describe(model);
    camsim::Device device(model);
    ASSERT_TRUE(device.Started()) << device.Error();
    constexpr int kViewers = 6;
    std::vector<std::thread> threads;
    std::atomic<int> identified{0};
    std::vector<std::string> urls(kViewers);
    for (int i = 0; i < kViewers; ++i) {
        threads.emplace_back([&, i] {
            CViewer viewer;
            int32_t audio = 0;
            const int32_t channel = i + 1;
            viewer.Open(CViewer::kTransportSocket, device.Address().c_str(), 0, "", "", &audio, channel,
                        nullptr);
            if (viewer.mMachineCode == camsim::Number(d, "machine_code"))
                ++identified;
            urls[static_cast<size_t>(i)] = viewer.mStreamUrl;
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(kViewers, identified.load());
    for (int i = 0; i < kViewers; ++i) {
        // Channel n's mask: "1" and n - 1 zeros.
        const std::string mask = "1" + std::string(static_cast<size_t>(i), '0');
        EXPECT_EQ("http://" + device.Address() + "/avc.cgi?op.liveimage=" + mask,
                  urls[static_cast<size_t>(i)]);
    }
}

} // namespace
