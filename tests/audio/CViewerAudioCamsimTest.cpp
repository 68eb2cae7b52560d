// Viewers and the machine's audio capture, against camsim on loopback and
// ALSA configurations written by the test: every viewer of a process uses the
// same capture device, and a machine without one still opens and streams.
#include "os/dsound/AlsaTestConfig.h"
#include "tools/CamsimClient.h"

#include "api/CInstanceTable.h"
#include "ipcamview/Viewer.h"
#include "platform/CManualEvent.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using alsatest::CAlsaTestConfig;
using alsatest::PcmKind;
using alsatest::SPcm;
using namespace camsimtest;

constexpr const char* kModel = "cam-mpeg4-4752";
constexpr int kFramesWanted = 5;
constexpr int kStreamDeadlineMs = 15000;

// Objects the subscribed viewer receives until `wanted` have come (or more, in
// the last batch) or the deadline passes.
int ReceiveFrames(CViewer& viewer, int wanted) {
    media_util::CManualEvent arrived;
    viewer.mQueue.SetNotifyEvent(&arrived);
    int frames = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStreamDeadlineMs);
    while (frames < wanted && std::chrono::steady_clock::now() < deadline) {
        arrived.Wait(100);
        arrived.Reset();
        while (media_util::CMediaObj* object = viewer.mQueue.Deque()) {
            ++frames;
            delete object;
        }
    }
    viewer.mQueue.SetNotifyEvent(nullptr);
    return frames;
}

TEST(CViewerAudioCamsimTest, ViewersOpenAndStreamWhetherOrNotTheMachineCanCapture) {
    struct Case {
        const char* what;
        std::vector<SPcm> pcms;
        int32_t ready;
    };
    const Case cases[] = {
        {"no capture device at all", {}, 0},
        {"a sound card that is not there", {{"default", PcmKind::kNoCard}}, 0},
        {"a capture device", {{"default"}, {"mic", PcmKind::kFile}}, 1},
    };
    const uint16_t port = DevicePort(kModel);
    ASSERT_NE(0, port);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CAudioCapture::ForgetProcessDeviceForTest();
        CAlsaTestConfig config(c.pcms);
        CViewer viewer;
        EXPECT_EQ(c.ready, viewer.mAudioCaptureReady);
        int32_t audio = 1;
        media_util::CMediaObj params;
        params.mProfileId = 1;
        ASSERT_NE(
            0, viewer.Open(CViewer::kTransportSocket, Address(port).c_str(), 0, "", "", &audio, 1, &params));
        EXPECT_EQ(CViewer::OpenStage::kOpened, viewer.GetOpenReport().stage);
        ASSERT_NE(nullptr, viewer.mpSourceVideoInfo);
        viewer.Arm();
        ASSERT_NE(0, viewer.Subscribe());
        EXPECT_LE(kFramesWanted, ReceiveFrames(viewer, kFramesWanted));
    }
}

// Start (the instance table behind the exported function) hands out an
// instance on a machine without any capture device, as it does with one.
TEST(CViewerAudioCamsimTest, StartSucceedsWithoutCapture) {
    const uint16_t port = DevicePort(kModel);
    CAudioCapture::ForgetProcessDeviceForTest();
    CAlsaTestConfig config(std::vector<SPcm>{});
    CInstanceTable table;
    int32_t audio = 0;
    const int32_t handle =
        table.Start(0, CViewer::kTransportSocket, Address(port).c_str(), 0, "", "", &audio, 1, 0);
    EXPECT_LE(0, handle);
    EXPECT_EQ(1, table.GetLiveCount());
    EXPECT_TRUE(table.Stop(handle));
}

// Two viewers of one process capture from the same device: the first one
// enumerated with an identity, never the primary device, and still that one
// when the second viewer's enumeration lists another first.
TEST(CViewerAudioCamsimTest, EveryViewerOfAProcessUsesTheFirstDeviceWithAnIdentity) {
    CAudioCapture::ForgetProcessDeviceForTest();
    std::unique_ptr<CViewer> first;
    {
        CAlsaTestConfig config({{"default"}, {"mic_a"}, {"mic_b", PcmKind::kFile}});
        first = std::make_unique<CViewer>();
    }
    CAlsaTestConfig reordered({{"mic_b", PcmKind::kFile}, {"default"}, {"mic_a"}});
    CViewer second;
    const GUID micA = os::dsound::DeviceGuidFromName("mic_a");
    EXPECT_EQ(1, first->mAudioCaptureReady);
    EXPECT_EQ(1, second.mAudioCaptureReady);
    EXPECT_EQ(micA, first->mAudioCapture.mDeviceGuid);
    EXPECT_EQ(micA, second.mAudioCapture.mDeviceGuid);
    CAudioCapture::ForgetProcessDeviceForTest();
}

} // namespace
