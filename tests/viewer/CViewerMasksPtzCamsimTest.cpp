// The privacy mask editor and the PTZ control over a viewer shown in an
// off-screen window, against camsim: input as window messages through the
// viewer's hooks, masks saved and read back on the next Show, PTZ commands
// seen in camsim's log in order and paced, the simulated picture moving
// while the control steers and holding after the release, and what both
// controls paint into the overlay.
#include "tools/CamsimClient.h"

#include "editors/CPrivacyMaskEditor.h"
#include "ipcamview/Viewer.h"
#include "os/gdi/Gdi.h"
#include "os/window/OffscreenWindow.h"
#include "pipeline/CFramePacer.h"
#include "ptz/CPtzControl.h"
#include "render/CDirectShowRenderer.h"
#include "viewer/CMachineCodeCache.h"
#include "viewer/CWindowInput.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

namespace {

using namespace camsimtest;
using Masks = CPrivacyMaskEditor;
using Area = CMotionAreaEditor;
using Clock = std::chrono::steady_clock;

std::string Rect(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// A 640 x 480 camera in a window of its size, with the overlay (flag 1) and
// the control of `flag`.
struct SShown {
    os::OffscreenWindow window{640, 480};
    CViewer viewer;
    uint16_t port;

    SShown(uint16_t devicePort, uint32_t flag) : port(devicePort) {
        CMachineCodeCache::DestroyProcessCache();
        viewer.mDisplayFlags = CDisplayChannel::kFlagText | flag;
        media_util::CMediaObj params;
        int32_t audio = 0;
        EXPECT_NE(
            0, viewer.Open(CViewer::kTransportSocket, Address(port).c_str(), 0, "", "", &audio, 1, &params));
        EXPECT_EQ(1, viewer.StartDisplay(&window));
    }
    ~SShown() { viewer.StopDisplay(); }

    void Pump() {
        MSG message{};
        while (window.PeekMessage(&message))
            CWindowInput::Forward(viewer, message);
    }
    void Mouse(UINT message, int x, int y, WPARAM keys, int wheel = 0) {
        window.PostMouse(message, POINT{x, y}, keys, wheel);
        Pump();
    }
    std::vector<os::MenuItem> Menu(UINT choice, int x = 20, int y = 20) {
        window.ScriptMenuAnswer(choice);
        window.ScriptMessageBoxAnswer(IDOK);
        Mouse(WM_RBUTTONDOWN, x, y, MK_RBUTTON);
        Mouse(WM_RBUTTONUP, x, y, 0);
        std::vector<os::MenuItem> items;
        for (const os::DialogRecord& d : window.Dialogs())
            if (d.kind == os::DialogRecord::Kind::PopupMenu)
                items = d.items;
        return items;
    }
    std::string LastMessage() {
        const std::vector<os::DialogRecord> dialogs = window.Dialogs();
        return dialogs.empty() ? "" : dialogs.back().text;
    }
    // Waits until the overlay's pixel at (x, y) is `colour` (the overlay
    // worker repaints ten times a second).
    bool WaitOverlay(int x, int y, COLORREF colour) {
        HDC dc = viewer.mpVideoRenderer->GetOverlayDC();
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            if (GetPixel(dc, x, y) == colour)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

std::string MaskList(uint16_t port) {
    const std::string line = Body(port, "/vb.htm?paratest=maskarealist.all");
    const size_t eq = line.find('=');
    return line.compare(0, 3, "OK ") == 0 ? line.substr(eq + 1, line.find('\r') - eq - 1) : "";
}

TEST(CViewerMasksPtzCamsimTest, MasksArePlacedSwitchedSavedAndReadBackOnTheNextShow) {
    const uint16_t port = DevicePort("cam-jpeg-4608");
    ASSERT_TRUE(Switch(port, "reset"));
    SShown shown(port, CDisplayChannel::kFlagPrivacyEditor);
    auto* masks = dynamic_cast<Masks*>(shown.viewer.mpOverlayControl);
    ASSERT_NE(nullptr, masks);
    ASSERT_EQ(4, masks->MaskCount());
    EXPECT_EQ(0.5f, masks->OverlayAlpha());

    // Mask 3 chosen from the menu, switched on and dragged over (16, 8) to
    // (32, 24) of the 44 x 30 grid.
    auto items = shown.Menu(Masks::kCmdFirstMask + 2);
    ASSERT_EQ(14u, items.size());
    EXPECT_EQ("* Mask &1", items[0].text);
    EXPECT_EQ(2, masks->Selected());
    items = shown.Menu(Masks::kCmdEnableMask);
    EXPECT_EQ("* Mask &3", items[2].text);
    EXPECT_EQ("&Enable mask 3", items[5].text);
    shown.Mouse(WM_LBUTTONDOWN, 233, 128, MK_LBUTTON);
    shown.Mouse(WM_MOUSEMOVE, 240, 128, MK_LBUTTON); // 7 pixels: not yet a drag
    EXPECT_EQ("0,0,0,0", Rect(masks->Mask(2)->DeviceArea()));
    shown.Mouse(WM_MOUSEMOVE, 300, 200, MK_LBUTTON);
    shown.Mouse(WM_MOUSEMOVE, 466, 384, MK_LBUTTON);
    shown.Mouse(WM_LBUTTONUP, 466, 384, 0);
    EXPECT_EQ("16,8,32,24", Rect(masks->Mask(2)->DeviceArea()));
    EXPECT_EQ(3, masks->Selected()) << "the release selects the next mask";
    // A click moves nothing and selects the next (from the last, the first).
    shown.Mouse(WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
    shown.Mouse(WM_LBUTTONUP, 12, 12, 0);
    EXPECT_EQ(0, masks->Selected());
    EXPECT_EQ("0,0,0,0", Rect(masks->Mask(3)->DeviceArea()));

    shown.Menu(Masks::kCmdSave);
    EXPECT_EQ("Save data successfully.", shown.LastMessage());
    EXPECT_EQ("000000000000000;001000000000000;102010008020018;003000000000000;", MaskList(port));

    // The next Show reads the list back.
    shown.viewer.StopDisplay();
    ASSERT_EQ(1, shown.viewer.StartDisplay(&shown.window));
    masks = dynamic_cast<Masks*>(shown.viewer.mpOverlayControl);
    ASSERT_NE(nullptr, masks);
    EXPECT_EQ("16,8,32,24", Rect(masks->Mask(2)->DeviceArea()));
    EXPECT_EQ(1, masks->Mask(2)->Enabled());
    EXPECT_EQ(0, masks->Mask(1)->Enabled());

    // Painted: mask 3 filled where it lies (video (232, 128) .. (465, 384)),
    // the rest transparent.
    EXPECT_TRUE(shown.WaitOverlay(350, 250, Area::kFillColour));
    EXPECT_TRUE(shown.WaitOverlay(600, 450, RGB(255, 255, 255)));

    // A device refusing the list: the first item is refused, nothing changes.
    ASSERT_TRUE(Switch(port, "reply=NG:maskarea"));
    shown.Menu(Masks::kCmdResetAll);
    shown.Menu(Masks::kCmdSave);
    EXPECT_EQ("Save data failed.", shown.LastMessage());
    ASSERT_TRUE(Switch(port, "reset=faults"));
    EXPECT_EQ("000000000000000;001000000000000;102010008020018;003000000000000;", MaskList(port));
}

struct SLogLine {
    int number = 0;
    double ms = 0;
    std::string status;
    std::string command;
};

// camsim's PTZ log after `since`, once `count` commands are logged in all
// (waiting for them up to 10 s).
std::vector<SLogLine> PtzLog(uint16_t port, int since, int count) {
    std::istringstream in(Body(port, "/camsim/ptz?since=" + std::to_string(since) +
                                         "&until=" + std::to_string(count) + "&timeout=10000"));
    std::vector<SLogLine> lines;
    std::string state;
    std::getline(in, state);
    for (SLogLine l; in >> l.number >> l.ms >> l.status >> l.command;)
        lines.push_back(l);
    return lines;
}

std::vector<std::string> Commands(const std::vector<SLogLine>& lines) {
    std::vector<std::string> out;
    for (const SLogLine& l : lines)
        out.push_back(l.command);
    return out;
}

TEST(CViewerMasksPtzCamsimTest, PtzCommandsReachTheCameraInOrderWithTheWheelsPause) {
    const uint16_t port = DevicePort("cam-jpeg-4608", {"--still"});
    ASSERT_TRUE(Switch(port, "reset"));
    SShown shown(port, CDisplayChannel::kFlagPtzControl);
    ASSERT_NE(nullptr, dynamic_cast<CPtzControl*>(shown.viewer.mpOverlayControl));
    shown.Mouse(WM_MOUSEMOVE, 100, 100, 0); // no button held: nothing
    shown.Mouse(WM_LBUTTONDOWN, 320, 240, MK_LBUTTON);
    shown.Mouse(WM_LBUTTONUP, 320, 240, 0);
    shown.Mouse(WM_RBUTTONDOWN, 640, 480, MK_RBUTTON); // any button steers
    shown.Mouse(WM_MOUSEMOVE, 480, 120, MK_RBUTTON);
    shown.Mouse(WM_RBUTTONUP, 480, 120, 0);
    shown.Mouse(WM_MOUSEWHEEL, 300, 200, 0, WHEEL_DELTA);
    shown.Mouse(WM_MOUSEWHEEL, 300, 200, 0, -WHEEL_DELTA);
    const std::vector<std::string> expected = {"A0000C0000", "A000000000", "A000123F3F",
                                               "A0000A1F1F", "A000000000", "A0002000FF",
                                               "A000000000", "A00040FF00", "A000000000"};
    const std::vector<SLogLine> log = PtzLog(port, 0, static_cast<int>(expected.size()));
    EXPECT_EQ(expected, Commands(log));
    for (const SLogLine& l : log)
        EXPECT_EQ("OK", l.status) << l.command;
    ASSERT_EQ(expected.size(), log.size());
    for (size_t zoom : {5u, 7u})
        EXPECT_GE(log[zoom + 1].ms - log[zoom].ms, 50.0) << "a wheel step's zoom runs 50 ms before its stop";
    EXPECT_TRUE(shown.window.Dialogs().empty()) << "the PTZ control opens no menu";
}

TEST(CViewerMasksPtzCamsimTest, ThePictureMovesWhileSteeringAndHoldsAfterTheRelease) {
    const uint16_t port = DevicePort("cam-jpeg-4608", {"--still"});
    ASSERT_TRUE(Switch(port, "reset"));
    SShown shown(port, CDisplayChannel::kFlagPtzControl);
    ASSERT_EQ(1, shown.viewer.Subscribe());
    const auto shownCount = [&] { return shown.viewer.mpPacer->GetShownCount(); };
    // The picture after `frames` more frames were shown.
    const auto after = [&](uint64_t frames) {
        const uint64_t target = shownCount() + frames;
        const auto deadline = Clock::now() + std::chrono::seconds(15);
        while (shownCount() < target && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_GE(shownCount(), target) << "the frames stopped";
        return shown.window.Snapshot();
    };
    // Frames already queued when the camera turned (or stopped) still show
    // the view before it, as many as the pipeline held then: the first
    // picture unlike `from`, within a bound.
    const auto firstUnlike = [&](const std::vector<uint8_t>& from) {
        std::vector<uint8_t> now = after(1);
        const auto deadline = Clock::now() + std::chrono::seconds(15);
        while (now == from && Clock::now() < deadline)
            now = after(1);
        return now;
    };
    const std::vector<uint8_t> home = after(5);
    EXPECT_EQ(home, after(3)) << "a still scene holds while nothing steers";

    // Steering right at full speed: the view pans on from frame to frame.
    shown.Mouse(WM_LBUTTONDOWN, 639, 240, MK_LBUTTON);
    PtzLog(port, 0, 1);
    const std::vector<uint8_t> first = firstUnlike(home);
    EXPECT_NE(home, first);
    EXPECT_NE(first, firstUnlike(first)) << "the picture moves on while the control steers";

    // Released: once the stop has arrived and the frames sent before it are
    // shown, the picture holds.
    shown.Mouse(WM_LBUTTONUP, 639, 240, 0);
    const std::vector<SLogLine> log = PtzLog(port, 0, 2);
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ("A000000000", log[1].command);
    std::vector<uint8_t> stopped = after(3);
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    for (std::vector<uint8_t> next = after(3); next != stopped && Clock::now() < deadline; next = after(3))
        stopped = next;
    EXPECT_EQ(stopped, after(5)) << "the picture holds after the release";
    EXPECT_NE(home, stopped) << "where the camera turned to";
    shown.viewer.Unsubscribe();
}

TEST(CViewerMasksPtzCamsimTest, TheSteeringLineIsPaintedWhileAButtonIsHeld) {
    const uint16_t port = DevicePort("cam-jpeg-4608", {"--still"});
    ASSERT_TRUE(Switch(port, "reset"));
    SShown shown(port, CDisplayChannel::kFlagPtzControl);
    EXPECT_TRUE(shown.WaitOverlay(400, 240, RGB(255, 255, 255)));
    shown.Mouse(WM_MOUSEMOVE, 560, 240, 0);
    shown.Mouse(WM_LBUTTONDOWN, 560, 240, MK_LBUTTON);
    // From the picture's centre (320, 240) to the pointer.
    EXPECT_TRUE(shown.WaitOverlay(400, 240, CPtzControl::kLineColour));
    EXPECT_TRUE(shown.WaitOverlay(550, 240, CPtzControl::kLineColour));
    EXPECT_TRUE(shown.WaitOverlay(400, 245, RGB(255, 255, 255)));
    shown.Mouse(WM_LBUTTONUP, 560, 240, 0);
    EXPECT_TRUE(shown.WaitOverlay(400, 240, RGB(255, 255, 255)));
}

} // namespace
