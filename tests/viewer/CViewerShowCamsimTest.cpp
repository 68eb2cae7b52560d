// Show and Hide against camsim on loopback, in an off-screen window: the
// channel's renderer draws the camera's live pictures into the window while
// the channel is shown, and nothing after Hide; with display flag 1 a camera
// that keeps a layout text gets it drawn over the video where its layout
// number puts it.
#include "tools/CamsimClient.h"

#include "ipcamview/Viewer.h"
#include "os/window/OffscreenWindow.h"
#include "pipeline/CFramePacer.h"
#include "viewer/CMachineCodeCache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace camsimtest;

// Pixels of the caption's fill colour (0xFAFAFA, allowing for rounding)
// inside a box of the window, as BGRX rows.
int CaptionPixels(const std::vector<uint8_t>& pixels, int width, int x0, int y0, int x1, int y1) {
    int count = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
            if (p[0] >= 0xF6 && p[0] <= 0xFC && p[1] >= 0xF6 && p[1] <= 0xFC && p[2] >= 0xF6 && p[2] <= 0xFC)
                ++count;
        }
    }
    return count;
}

bool SamePixels(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    return a == b;
}

struct SShowCase {
    const char* model;
    uint32_t flags;
    bool caption; // the layout text is expected over the video
};

class CViewerShowCamsimTest : public ::testing::TestWithParam<SShowCase> {};

TEST_P(CViewerShowCamsimTest, ShowsLivePicturesUntilHidden) {
    const SShowCase& c = GetParam();
    const uint16_t port = DevicePort(c.model);
    ASSERT_TRUE(Switch(port, "reset"));
    CMachineCodeCache::DestroyProcessCache();
    const Values d = Describe(c.model);
    const int width = Number(d, "width");
    const int height = Number(d, "height");

    CViewer viewer;
    viewer.mDisplayFlags = c.flags;
    media_util::CMediaObj params;
    params.mProfileId = 1;
    int32_t audio = 0;
    ASSERT_NE(0, viewer.Open(CViewer::kTransportSocket, Address(port).c_str(), 0, "", "", &audio, 1, &params));
    ASSERT_NE(nullptr, viewer.mpPacer) << "no pipeline";
    ASSERT_EQ(1, viewer.Subscribe());

    // The window has the picture's size, so that the caption is not scaled.
    os::OffscreenWindow window(width, height);
    const std::vector<uint8_t> black = window.Snapshot();
    ASSERT_EQ(1, viewer.StartDisplay(&window));
    EXPECT_EQ(1, viewer.mDisplaying);

    // Live pictures: the window stops being black, and changes again as the
    // camera's frame counter moves on.
    std::vector<uint8_t> first;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline && viewer.mpPacer->GetShownCount() < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GE(viewer.mpPacer->GetShownCount(), 3u) << "no frames shown";
    first = window.Snapshot();
    EXPECT_FALSE(SamePixels(black, first));
    const uint64_t shown = viewer.mpPacer->GetShownCount();
    while (std::chrono::steady_clock::now() < deadline && viewer.mpPacer->GetShownCount() < shown + 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::vector<uint8_t> later = window.Snapshot();
    EXPECT_FALSE(SamePixels(first, later)) << "the picture did not move on";

    // camsim's layout number 33: drawn (bit 0), left (bits 1-3: 0), bottom
    // (bits 4-6: 2); the caption lies 10 pixels inside the picture.
    const int band = 80;
    const int left = CaptionPixels(later, width, 0, height - band, width / 3, height);
    const int top = CaptionPixels(later, width, 0, 0, width / 3, band);
    if (c.caption) {
        EXPECT_EQ(33, viewer.mLayoutNumber);
        EXPECT_FALSE(viewer.mLayoutText.empty());
        EXPECT_GT(left, 100) << "no caption at the bottom left";
        EXPECT_GT(left, 4 * top + 50) << "the caption is not where its layout number puts it";
    } else {
        EXPECT_TRUE(viewer.mLayoutText.empty());
    }

    // Hidden: the pacer stops and nothing reaches the window any more.
    EXPECT_EQ(1, viewer.StopDisplay());
    EXPECT_EQ(0, viewer.mDisplaying);
    const uint64_t invalidated = window.InvalidateCount();
    const uint64_t shownAtHide = viewer.mpPacer->GetShownCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(invalidated, window.InvalidateCount());
    EXPECT_EQ(shownAtHide, viewer.mpPacer->GetShownCount());
    viewer.Unsubscribe();
}

INSTANTIATE_TEST_SUITE_P(Models, CViewerShowCamsimTest,
                         ::testing::Values(SShowCase{"cam-jpeg-4608", 0, false},
                                           SShowCase{"cam-mpeg4-4752", 0, false},
                                           SShowCase{"cam-profile-5751", 1, true},
                                           SShowCase{"cam-profile-5751", 0, false}),
                         [](const ::testing::TestParamInfo<SShowCase>& info) {
                             std::string name = info.param.model;
                             for (char& ch : name)
                                 if (ch == '-')
                                     ch = '_';
                             return name + (info.param.caption ? "_text" : "");
                         });

} // namespace
