#include "viewer/CViewer.h"

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
    struct Case {
        const char* address;
        bool parses;
        const char* host = "";
        uint16_t port = 0;
        const char* requestPath = "";
    };
    const Case kCases[] = {
        {"10.0.0.5", true, "10.0.0.5", 80, "/"},
        {"10.0.0.5:8080", true, "10.0.0.5", 8080, "/"},
        {"http://cam:81/vb.htm?x=%41", true, "cam", 81, "/vb.htm?x=A"},
        {"/x", false},
        {"10.0.0.5/x", false}, // has a slash, so taken as a URL: no scheme
        {"", false},
        {nullptr, false},
        {"10.0.0.5:0", false},
        {"10.0.0.5:65536", false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.address ? c.address : "(null)");
        CViewer viewer;
        int32_t audio = 1;
        media_util::CMediaObj params;
        params.mVideoFormat = media_util::kVideoH264QBox;
        const int result = viewer.Open(2, c.address, 0, "admin", "pw", &audio, 3, &params);
        EXPECT_EQ(c.parses, result != 0);
        EXPECT_EQ(1, audio) << "the audio flag is written only after the device set-up";
        // Stored before parsing, whatever its outcome.
        EXPECT_EQ(2, viewer.mTransportKind);
        EXPECT_EQ("admin", viewer.mUserName);
        EXPECT_EQ("pw", viewer.mPassword);
        EXPECT_EQ(3, viewer.mChannel);
        EXPECT_EQ(-1, viewer.mMachineCode);
        if (!c.parses)
            continue;
        EXPECT_EQ(c.host, viewer.mDeviceUrl.mHostName);
        EXPECT_EQ(c.port, viewer.mDeviceUrl.mPort);
        EXPECT_EQ(c.requestPath, viewer.mDeviceUrl.mRequestPath);
        EXPECT_EQ(1, viewer.mAccessCheck);
    }
}

TEST(CViewerTest, ReopenReplacesWhatTheFirstOpenStored) {
    CViewer viewer;
    int32_t audio = 0;
    ASSERT_NE(0, viewer.Open(1, "cam:81", 0, "a", "b", &audio, 1, nullptr));
    viewer.mMachineCode = 0x1200;
    ASSERT_NE(0, viewer.Open(2, "other", 0, nullptr, nullptr, &audio, 0, nullptr));
    EXPECT_EQ("other", viewer.mDeviceUrl.mHostName);
    EXPECT_EQ(80, viewer.mDeviceUrl.mPort);
    EXPECT_EQ("", viewer.mUserName);
    EXPECT_EQ("", viewer.mPassword);
    EXPECT_EQ(0, viewer.mChannel);
    EXPECT_EQ(-1, viewer.mMachineCode);
}

TEST(CViewerTest, WithoutADialectThereIsNoPipeline) {
    CViewer viewer;
    int32_t audio = 0;
    ASSERT_NE(0, viewer.Open(1, "127.0.0.1:1", 0, "", "", &audio, 1, nullptr));
    EXPECT_EQ(0, viewer.FillVideoInfo());
    EXPECT_EQ(0, viewer.FillAudioInfo());
    EXPECT_EQ(0, viewer.SetUpDevice(nullptr, nullptr, &viewer.mDeviceUrl, 1, nullptr));
    EXPECT_EQ(0, viewer.BuildPipeline());
    EXPECT_EQ(CDisplayChannel::kNoCodec, viewer.ReleasePipeline());
    EXPECT_EQ(nullptr, viewer.mpSourceVideoInfo);
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
