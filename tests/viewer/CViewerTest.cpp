#include "viewer/CViewer.h"

#include "ClosedPort.h"
#include "device/CDeviceProfile.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CViewerTest, AddressCompletion) {
    struct Case {
        const char* address;
        const char* url;
    };
    const Case kCases[] = {
        {"10.0.0.5", "http://10.0.0.5"},
        {"10.0.0.5:8080", "http://10.0.0.5:8080"},
        {"cam.local", "http://cam.local"},
        {"/x", "http:///x"},
        {"/", "http:///"},
        {"", "http://"},
        {nullptr, "http://"},
        {"10.0.0.5/x", "10.0.0.5/x"},
        {"http://10.0.0.5/", "http://10.0.0.5/"},
        {"https://cam:443/a", "https://cam:443/a"},
        {"a/", "a/"},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(c.url, CViewer::CompleteAddress(c.address)) << (c.address ? c.address : "(null)");
}

TEST(CViewerTest, OpenParsesTheCompletedAddress) {
    // Every address that parses names a closed loopback port: open then
    // stops at the access check, with nothing answering.
    const std::string kPort = std::to_string(ClosedLoopbackPort());
    struct Case {
        std::string address;
        bool parses;
        const char* host = "";
        uint16_t port = 0;
        std::string requestPath = "";
    };
    const Case kCases[] = {
        {"127.0.0.1:" + kPort, true, "127.0.0.1", static_cast<uint16_t>(std::stoi(kPort)), "/"},
        {"http://127.0.0.1:" + kPort + "/vb.htm?x=%41", true, "127.0.0.1",
         static_cast<uint16_t>(std::stoi(kPort)), "/vb.htm?x=A"},
        {"/x", false},
        {"127.0.0.1:" + kPort + "/x", false}, // has a slash, so taken as a URL: no scheme
        {"", false},
        {"10.0.0.5:0", false},
        {"10.0.0.5:65536", false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.address);
        CViewer viewer;
        int32_t audio = 1;
        media_util::CMediaObj params;
        params.mVideoFormat = media_util::kVideoH264QBox;
        // Transport kind 2 only where nothing is connected: the asynchronous
        // client's refused connects take seconds.
        const int32_t transport = c.parses ? 1 : 2;
        const int result = viewer.Open(transport, c.address.c_str(), 0, "admin", "pw", &audio, 3, &params);
        EXPECT_EQ(c.parses, result != 0);
        EXPECT_EQ(1, audio) << "the audio flag is written only after the device set-up";
        // Stored before parsing, whatever its outcome.
        EXPECT_EQ(transport, viewer.mTransportKind);
        EXPECT_EQ("admin", viewer.mUserName);
        EXPECT_EQ("pw", viewer.mPassword);
        EXPECT_EQ(3, viewer.mChannel);
        EXPECT_EQ(-1, viewer.mMachineCode);
        EXPECT_EQ(nullptr, viewer.mpSourceVideoInfo);
        if (!c.parses)
            continue;
        EXPECT_EQ(c.host, viewer.mDeviceUrl.mHostName);
        EXPECT_EQ(c.port, viewer.mDeviceUrl.mPort);
        EXPECT_EQ(c.requestPath, viewer.mDeviceUrl.mRequestPath);
        EXPECT_EQ(1, viewer.mAccessCheck);
    }
    CViewer viewer;
    EXPECT_EQ(0, viewer.Open(1, nullptr, 0, nullptr, nullptr, nullptr, 0, nullptr));
}

TEST(CViewerTest, ReopenReplacesWhatTheFirstOpenStored) {
    const uint16_t first = ClosedLoopbackPort();
    const uint16_t second = ClosedLoopbackPort();
    CViewer viewer;
    int32_t audio = 0;
    ASSERT_NE(
        0, viewer.Open(1, ("127.0.0.1:" + std::to_string(first)).c_str(), 0, "a", "b", &audio, 1, nullptr));
    viewer.mMachineCode = 0x1200;
    ASSERT_NE(0, viewer.Open(1, ("http://[::1]:" + std::to_string(second) + "/").c_str(), 0, nullptr, nullptr,
                             &audio, 0, nullptr));
    EXPECT_EQ("[::1]", viewer.mDeviceUrl.mHostName);
    EXPECT_EQ(second, viewer.mDeviceUrl.mPort);
    EXPECT_EQ("", viewer.mUserName);
    EXPECT_EQ("", viewer.mPassword);
    EXPECT_EQ(0, viewer.mChannel);
    EXPECT_EQ(-1, viewer.mMachineCode);
}

TEST(CViewerTest, WithoutADialectThereIsNoPipeline) {
    CViewer viewer;
    int32_t audio = 0;
    ASSERT_NE(0, viewer.Open(1, ClosedLoopbackAddress().c_str(), 0, "", "", &audio, 1, nullptr));
    EXPECT_EQ(0, viewer.FillVideoInfo());
    EXPECT_EQ(0, viewer.FillAudioInfo());
    EXPECT_EQ(0, viewer.SetUpDevice(nullptr, nullptr, &viewer.mDeviceUrl, 1, nullptr));
    EXPECT_EQ(0, viewer.BuildPipeline());
    EXPECT_EQ(CDisplayChannel::kNoCodec, viewer.ReleasePipeline());
    EXPECT_EQ(nullptr, viewer.mpSourceVideoInfo);
}

// A dialect whose set-up reports what the viewer handed it and succeeds or
// fails as the test says.
class CScriptedDialect : public CDeviceProfile {
public:
    explicit CScriptedDialect(int result) : CDeviceProfile(0x1200, "/vb.htm?"), mResult(result) {}
    int SetUp(CHttpLink*, CUrl*, media_util::CMediaObj* params) override {
        mSeenParams = params;
        mWidth = 640;
        mHeight = 480;
        mVideoCodec = kCodecJpeg;
        mAudioSupported = 1;
        return mResult;
    }
    int mResult;
    media_util::CMediaObj* mSeenParams = nullptr;
};

TEST(CViewerTest, SetUpDeviceHandsOverTheHostSettingsAndResetsAFailedDialect) {
    for (int result : {1, 0}) {
        SCOPED_TRACE(result);
        CViewer viewer;
        viewer.mIFrameOnly = 1;
        viewer.mPlaybackChannels = "1,3";
        CScriptedDialect dialect(result);
        media_util::CMediaObj params;
        EXPECT_EQ(result, viewer.SetUpDevice(&dialect, nullptr, &viewer.mDeviceUrl, 4, &params));
        EXPECT_EQ(&params, dialect.mSeenParams);
        EXPECT_EQ("1,3", dialect.mPlaybackChannels);
        if (result != 0) {
            EXPECT_EQ(4, dialect.mChannel);
            EXPECT_EQ(1, dialect.mIFrameOnly);
            EXPECT_EQ(640, dialect.mWidth);
            EXPECT_EQ(1, dialect.mAudioSupported);
            continue;
        }
        // A failed set-up leaves no half-settled stream parameters behind.
        EXPECT_EQ(0, dialect.mWidth);
        EXPECT_EQ(0, dialect.mVideoCodec);
        EXPECT_EQ(0, dialect.mAudioSupported);
        EXPECT_EQ(0, dialect.mChannel);
    }
}

TEST(CViewerTest, DescriptionsComeFromTheDialect) {
    struct Case {
        const char* name;
        int32_t width, height, audioSupported, audioWanted;
        int video, audio;
    };
    const Case kCases[] = {
        {"complete", 640, 480, 1, 1, 1, 1},
        {"no width", 0, 480, 1, 1, 0, 1},
        {"no height", 640, 0, 0, 0, 0, 0},
        {"audio not offered", 640, 480, 0, 1, 1, 0},
        {"audio not asked for", 640, 480, 1, 0, 1, 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        CViewer viewer;
        viewer.mpSourceVideoInfo = new media_util::CMediaObj();
        viewer.mpDisplayVideoInfo = new media_util::CMediaObj();
        viewer.mpAudioInfo = new media_util::CMediaObj();
        auto* dialect = new CScriptedDialect(1);
        viewer.mpProfile = dialect; // the viewer owns it from here
        dialect->mWidth = c.width;
        dialect->mHeight = c.height;
        dialect->mFrameRate = 25000;
        dialect->mVideoCodec = CDeviceProfile::kCodecH264;
        dialect->mAudioSupported = c.audioSupported;
        dialect->mAudioWanted = c.audioWanted;
        dialect->mAudioCodec = CDeviceProfile::kAudioAac;
        dialect->mSampleRate = 44100;
        dialect->mBitsPerSample = 16;
        dialect->mAudioChannels = 2;
        EXPECT_EQ(c.video, viewer.FillVideoInfo());
        EXPECT_EQ(c.audio, viewer.FillAudioInfo());
        if (c.video) {
            EXPECT_EQ(c.width, viewer.mpSourceVideoInfo->mWidth);
            EXPECT_EQ(c.height, viewer.mpSourceVideoInfo->mHeight);
            EXPECT_EQ(25000, viewer.mpSourceVideoInfo->mFrameRate);
            EXPECT_EQ(CDeviceProfile::kCodecH264, viewer.mpSourceVideoInfo->mVideoFormat);
            EXPECT_EQ(c.height, viewer.mpDisplayVideoInfo->mHeight);
            EXPECT_EQ(25000, viewer.mpDisplayVideoInfo->mFrameRate);
            EXPECT_EQ(0, viewer.mpDisplayVideoInfo->mVideoFormat)
                << "the display format is the channel's choice";
        }
        if (c.audio) {
            EXPECT_EQ(CDeviceProfile::kAudioAac, viewer.mpAudioInfo->mAudioFormat);
            EXPECT_EQ(44100, viewer.mpAudioInfo->mSampleRate);
            EXPECT_EQ(16, viewer.mpAudioInfo->mBitsPerSample);
            EXPECT_EQ(2, viewer.mpAudioInfo->mAudioChannels);
        } else {
            EXPECT_EQ(0, viewer.mpAudioInfo->mAudioFormat);
        }
    }
}

TEST(CViewerTest, InputHooksAnswerWhetherDisplayingWithoutAnOverlayControl) {
    CViewer viewer;
    auto hooks = [&viewer] {
        return std::vector<int>{viewer.InputHook1(),           viewer.InputHook2(1, 2, 3, 4),
                                viewer.InputHook3(1, 2, 3, 4), viewer.InputHook4(1, 2, 3, 4),
                                viewer.InputHook5(1, 2, 3, 4), viewer.InputHook6(1, 2, 3, 4, 5)};
    };
    EXPECT_EQ(std::vector<int>(6, 0), hooks());
    int window = 0;
    // No pipeline: show reports 0, yet the channel displays.
    EXPECT_EQ(0, viewer.StartDisplay(&window));
    EXPECT_EQ(1, viewer.mDisplaying);
    EXPECT_EQ(std::vector<int>(6, 1), hooks());
    viewer.InputHook7(0x12345);
    EXPECT_EQ(1, viewer.StopDisplay());
    EXPECT_EQ(std::vector<int>(6, 0), hooks());
}

TEST(CViewerTest, ArmedViewerIsDisarmedByDestruction) {
    auto* viewer = new CViewer();
    media_util::CManualEvent instanceEvent;
    viewer->SetInstanceEvent(&instanceEvent);
    viewer->Arm();
    EXPECT_EQ(1, viewer->mRunning);
    delete viewer; // must end without touching the borrowed event
    EXPECT_FALSE(instanceEvent.IsSignalled());
}

} // namespace
