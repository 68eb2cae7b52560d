// The motion editors over a viewer shown in an off-screen window, against
// camsim: Show makes the editor the device's "supportmotion" asks for, mouse
// input travels as window messages through the viewer's hooks
// (CWindowInput), menus and message boxes answer from the window's script,
// and every save is read back from camsim. The overlay's pixels are checked
// on a camera whose picture never changes.
#include "tools/CamsimClient.h"

#include "editors/CMotionAreaEditor.h"
#include "editors/CMotionBlockEditor.h"
#include "ipcamview/Viewer.h"
#include "os/window/OffscreenWindow.h"
#include "pipeline/CFramePacer.h"
#include "render/CDirectShowRenderer.h"
#include "viewer/CMachineCodeCache.h"
#include "viewer/CWindowInput.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

using namespace camsimtest;
using Area = CMotionAreaEditor;
using Grid = CMotionBlockEditor;

// What camsim answers for one key ("OK name=value" -> value; "" otherwise).
std::string Param(uint16_t port, const std::string& key) {
    const std::string line = Body(port, "/vb.htm?" + key);
    if (line.compare(0, 3, "OK ") != 0)
        return "";
    const size_t eq = line.find('=');
    const size_t end = line.find('\r');
    return line.substr(eq + 1, end - eq - 1);
}

std::string Rect(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// A viewer of one camsim device shown in an off-screen window of
// width x height, with display flags 1 (the overlay) and 2 (motion editor).
struct SShown {
    os::OffscreenWindow window;
    CViewer viewer;
    uint16_t port;

    SShown(uint16_t devicePort, int width, int height, int32_t channel = 1, uint32_t flags = 3)
        : window(width, height), port(devicePort) {
        CMachineCodeCache::DestroyProcessCache();
        viewer.mDisplayFlags = flags;
        media_util::CMediaObj params;
        params.mProfileId = 1;
        int32_t audio = 0;
        EXPECT_NE(0, viewer.Open(CViewer::kTransportSocket, Address(port).c_str(), 0, "", "", &audio, channel,
                                 &params));
        EXPECT_NE(nullptr, viewer.mpPacer) << "no pipeline";
        EXPECT_EQ(1, viewer.StartDisplay(&window));
    }
    ~SShown() { viewer.StopDisplay(); }

    Area* AreaEditor() { return dynamic_cast<Area*>(viewer.mpOverlayControl); }
    Grid* GridEditor() { return dynamic_cast<Grid*>(viewer.mpOverlayControl); }

    // Hands every queued message of the window to the viewer, as a host's
    // message loop does; menu choices arrive here as WM_COMMAND.
    void Pump() {
        MSG message{};
        while (window.PeekMessage(&message))
            CWindowInput::Forward(viewer, message);
    }
    void Mouse(UINT message, int x, int y, WPARAM keys) {
        window.PostMouse(message, POINT{x, y}, keys);
        Pump();
    }
    void Drag(int x0, int y0, int x1, int y1, WPARAM modifiers = 0) {
        Mouse(WM_MOUSEMOVE, x0, y0, modifiers);
        Mouse(WM_LBUTTONDOWN, x0, y0, MK_LBUTTON | modifiers);
        Mouse(WM_MOUSEMOVE, x1, y1, MK_LBUTTON | modifiers);
        Mouse(WM_LBUTTONUP, x1, y1, modifiers);
    }
    // A right click at (x, y) answering the menu with `choice` (and a
    // message box, should the choice open one, with OK). The menu's items.
    std::vector<os::MenuItem> Menu(UINT choice, int x = 50, int y = 50) {
        window.ScriptMenuAnswer(choice);
        window.ScriptMessageBoxAnswer(IDOK);
        Mouse(WM_RBUTTONDOWN, x, y, MK_RBUTTON);
        Mouse(WM_RBUTTONUP, x, y, 0);
        for (const os::DialogRecord& d : window.Dialogs())
            if (d.kind == os::DialogRecord::Kind::PopupMenu)
                last = d.items;
        return last;
    }
    std::string LastMessage() {
        const std::vector<os::DialogRecord> dialogs = window.Dialogs();
        for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it)
            if (it->kind == os::DialogRecord::Kind::MessageBox)
                return it->caption + ": " + it->text;
        return "";
    }
    std::vector<os::MenuItem> last;
};

// A 704 x 480 camera (camsim's JPEG camera at that size) in a 320 x 240
// window: the worked examples of window -> video -> grid units, each saved
// and read back from the device.
TEST(CViewerEditorsCamsimTest, AreaEditorDragsSaveWhatTheDeviceReadsBack) {
    const uint16_t port = DevicePort("cam-jpeg-4608", {"--size", "704x480"});
    ASSERT_TRUE(Switch(port, "reset"));
    SShown shown(port, 320, 240);
    Area* editor = shown.AreaEditor();
    ASSERT_NE(nullptr, editor) << "camsim's camera answers supportmotion=1";
    EXPECT_EQ(22, editor->XLimit());
    EXPECT_EQ(15, editor->YLimit());
    EXPECT_EQ("0,0,21,14", Rect(editor->DeviceArea())) << "the device's area at the start";

    struct Step {
        const char* what;
        int drag[4];  // -1: no drag
        UINT command; // a menu command before the save; 0 none
        const char* videoArea;
        const char* motionxy; // what camsim holds after the save
        const char* enable;
    } steps[] = {
        {"the worked drag", {10, 10, 5, 40}, 0, "11,20,22,80", "000000000002", "1"},
        {"to the far corner", {0, 0, 320, 240}, 0, "0,0,704,480", "000000021014", "1"},
        {"cleared", {-1}, Area::kCmdClear, "0,0,0,0", "000000000000", "1"},
        {"the max area", {-1}, Area::kCmdSelectMax, "0,0,704,480", "000000021014", "1"},
        {"a drag beyond the window", {160, 120, 900, 900}, 0, "352,240,704,480", "011007021014", "1"},
        {"switched off", {-1}, Area::kCmdDisable, "352,240,704,480", "011007021014", "0"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.drag[0] >= 0)
            shown.Drag(s.drag[0], s.drag[1], s.drag[2], s.drag[3]);
        if (s.command != 0)
            shown.Menu(s.command);
        EXPECT_EQ(s.videoArea, Rect(editor->VideoArea()));
        shown.Menu(Area::kCmdSave);
        EXPECT_EQ("Success: Save data successfully.", shown.LastMessage());
        EXPECT_EQ(s.motionxy, Param(port, "getmotionxy"));
        EXPECT_EQ(s.enable, Param(port, "getmotionenable"));
    }
    // The coordinates as the device keeps them, one key each.
    EXPECT_EQ("11 7 21 14", Param(port, "getmotionx1") + " " + Param(port, "getmotiony1") + " " +
                                Param(port, "getmotionx2") + " " + Param(port, "getmotiony2"));
}

TEST(CViewerEditorsCamsimTest, AreaEditorMenuSwitchesAndARightReleaseEndsNoDrag) {
    const uint16_t port = DevicePort("cam-jpeg-4608", {"--size", "704x480"});
    ASSERT_TRUE(Switch(port, "reset"));
    SShown shown(port, 320, 240);
    ASSERT_NE(nullptr, shown.AreaEditor());
    auto items = shown.Menu(Area::kCmdDisable);
    ASSERT_EQ(6u, items.size());
    EXPECT_EQ(33004u, items[0].id);
    EXPECT_EQ("Disable motion.", items[0].text);
    items = shown.Menu(0);
    EXPECT_EQ(33005u, items[0].id);
    EXPECT_EQ("Enable motion.", items[0].text);
    // The menu opened where the button came up, on the channel's window.
    EXPECT_EQ(&shown.window, shown.window.Dialogs().back().window);

    // A drag whose button is still down when the right button comes up: the
    // area keeps what the last move made of it, and no save happened.
    shown.Mouse(WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
    shown.Mouse(WM_MOUSEMOVE, 5, 40, MK_LBUTTON);
    shown.Menu(0, 200, 200);
    EXPECT_EQ("0,0,0,2", Rect(shown.AreaEditor()->DeviceArea()));
    EXPECT_EQ("000000021014", Param(port, "getmotionxy"));
    shown.Mouse(WM_LBUTTONUP, 5, 40, 0);
}

// The device refuses the switch: the editor says so and the device keeps
// what it had.
TEST(CViewerEditorsCamsimTest, ARefusedSaveSaysSoAndChangesNothingOnTheDevice) {
    const uint16_t port = DevicePort("cam-jpeg-4608", {"--size", "704x480"});
    ASSERT_TRUE(Switch(port, "reset"));
    ASSERT_TRUE(Switch(port, "reply=NG:motionenable"));
    {
        SShown shown(port, 320, 240);
        ASSERT_NE(nullptr, shown.AreaEditor());
        shown.Drag(10, 10, 5, 40);
        shown.Menu(Area::kCmdSave);
        EXPECT_EQ("Error: Save data failed.", shown.LastMessage());
    }
    ASSERT_TRUE(Switch(port, "reset=faults"));
    EXPECT_EQ("000000021014", Param(port, "getmotionxy"));
    EXPECT_EQ("0", Param(port, "getmotionenable"));
    EXPECT_EQ("21", Param(port, "getmotionx2"));
}

// What a save wrote is what the next Show's editor starts from.
TEST(CViewerEditorsCamsimTest, TheNextShowReadsBackWhatWasSaved) {
    const uint16_t port = DevicePort("cam-jpeg-4608", {"--size", "704x480"});
    ASSERT_TRUE(Switch(port, "reset"));
    SShown shown(port, 320, 240);
    shown.Drag(160, 120, 320, 240);
    shown.Menu(Area::kCmdSave);
    EXPECT_EQ(1, shown.viewer.StopDisplay());
    EXPECT_EQ(nullptr, shown.viewer.mpOverlayControl) << "Hide drops the control";
    EXPECT_EQ(0, shown.viewer.InputHook2(1, 1, MK_LBUTTON, 0)) << "hidden: the hooks answer 0";
    ASSERT_EQ(1, shown.viewer.StartDisplay(&shown.window));
    ASSERT_NE(nullptr, shown.AreaEditor());
    EXPECT_EQ("11,7,21,14", Rect(shown.AreaEditor()->DeviceArea()));
    EXPECT_EQ(1, shown.AreaEditor()->SavedEnabled());
}

// A recorder's channel 2 (a grid of 12 x 8 blocks): clicks and drags, saved
// under the channel's key and read back.
TEST(CViewerEditorsCamsimTest, GridEditorSavesTheChannelsBlocks) {
    const uint16_t port = DevicePort("dvr-jpeg-5124");
    ASSERT_TRUE(Switch(port, "reset"));
    SShown shown(port, 480, 320, 2);
    Grid* editor = shown.GridEditor();
    ASSERT_NE(nullptr, editor) << "camsim's recorder answers supportmotion=2";
    EXPECT_EQ(12, editor->Columns());
    // 40 x 40 pixel cells. A click on cell 13, a drag from cell 0 to 25.
    shown.Mouse(WM_LBUTTONDOWN, 60, 60, MK_LBUTTON);
    shown.Mouse(WM_LBUTTONUP, 60, 60, 0);
    shown.Drag(20, 20, 60, 100);
    shown.Menu(Grid::kCmdSave);
    EXPECT_EQ("Success: Save data successfully.", shown.LastMessage());
    // Cells 0, 1, 12, 13, 24, 25: digits 3, 0, 0, 3, 0, 0, 3.
    EXPECT_EQ("300300300000000000000000", Param(shown.port, "motionblock=2"));
    EXPECT_EQ("000000000000000000000000", Param(shown.port, "motionblock=1")) << "another channel's grid";
    // Shift erases: a drag over cells 12 and 13.
    shown.Drag(20, 60, 60, 60, MK_SHIFT);
    shown.Menu(Grid::kCmdSave);
    EXPECT_EQ("300000300000000000000000", Param(shown.port, "motionblock=2"));
    // Select all and save: 24 digits F.
    shown.Menu(Grid::kCmdSelectAll);
    shown.Menu(Grid::kCmdSave);
    EXPECT_EQ(std::string(24, 'F'), Param(shown.port, "motionblock=2"));
    EXPECT_EQ(std::string(24, 'F'), Param(shown.port, "getmotionblock=2")) << "read the other way";
}

// A device that says it detects no motion gets no editor, and without a
// control every hook answers whether the channel is shown.
TEST(CViewerEditorsCamsimTest, NoEditorWithoutMotionSupport) {
    const uint16_t port = DevicePort("cam-fixed-36865");
    ASSERT_TRUE(Switch(port, "reset"));
    os::OffscreenWindow window(320, 240);
    CViewer viewer;
    viewer.mDisplayFlags = 3;
    media_util::CMediaObj params;
    params.mProfileId = 0;
    params.mVideoFormat = 1000;
    params.mWidth = 640;
    params.mHeight = 480;
    int32_t audio = 0;
    CMachineCodeCache::DestroyProcessCache();
    ASSERT_NE(0,
              viewer.Open(CViewer::kTransportSocket, Address(port).c_str(), 0, "", "", &audio, 1, &params));
    EXPECT_EQ(0, viewer.InputHook1());
    ASSERT_EQ(1, viewer.StartDisplay(&window));
    EXPECT_EQ(nullptr, viewer.mpOverlayControl);
    EXPECT_EQ(1, viewer.InputHook1());
    EXPECT_EQ(1, viewer.InputHook3(1, 1, MK_LBUTTON, 0));
    EXPECT_EQ(1, viewer.InputHook6(1, 1, 120, 0, 0));
    viewer.InputHook7(33006);
    EXPECT_TRUE(window.Dialogs().empty());
    viewer.StopDisplay();
}

// The overlay over a camera whose picture never changes: inside the area
// the video is blended half and half with the fill colour, the outline lies
// on the area's edge, and outside nothing changed.
TEST(CViewerEditorsCamsimTest, TheAreaIsBlendedOverTheVideoAtHalfAlpha) {
    const uint16_t port = DevicePort("cam-jpeg-4608", {"--preencode", "1"});
    ASSERT_TRUE(Switch(port, "reset"));
    SShown shown(port, 640, 480);
    ASSERT_NE(nullptr, shown.AreaEditor());
    ASSERT_EQ(1, shown.viewer.Subscribe());
    // An empty area at the top left: what the window shows is the video.
    shown.Menu(Area::kCmdClear);
    auto wait = [&](const std::function<bool(const std::vector<uint8_t>&)>& ready) {
        std::vector<uint8_t> pixels;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            pixels = shown.window.Snapshot();
        } while (!ready(pixels) && std::chrono::steady_clock::now() < deadline);
        return pixels;
    };
    auto at = [](const std::vector<uint8_t>& p, int x, int y, int c) {
        return static_cast<int>(p[(static_cast<size_t>(y) * 640 + x) * 4 + c]);
    };
    // The video alone: once the overlay worker has painted the cleared area
    // (the overlay is white where the area was) and three more frames were
    // composed with it, the same picture shown twice alike.
    HDC overlay = shown.viewer.mpVideoRenderer->GetOverlayDC();
    ASSERT_NE(nullptr, overlay);
    uint64_t clearedAt = 0;
    std::vector<uint8_t> previous;
    const std::vector<uint8_t> video = wait([&](const std::vector<uint8_t>& p) {
        const uint64_t shownCount = shown.viewer.mpPacer->GetShownCount();
        if (clearedAt == 0 && GetPixel(overlay, 320, 240) == RGB(255, 255, 255))
            clearedAt = shownCount + 1;
        const bool same = clearedAt != 0 && shownCount >= clearedAt + 3 && p == previous;
        previous = p;
        return same;
    });
    ASSERT_NE(0u, clearedAt) << "the cleared area was never painted";
    ASSERT_GE(shown.viewer.mpPacer->GetShownCount(), clearedAt + 3) << "no frames shown";

    // The area (160, 120) .. (480, 360), drawn with the 2-pixel red outline.
    shown.Drag(160, 120, 480, 360);
    const int fill[3] = {200, 255, 200}; // B, G, R of the fill colour
    auto blended = [&](const std::vector<uint8_t>& p, int x, int y) {
        for (int c = 0; c < 3; ++c)
            if (std::abs(at(p, x, y, c) - (at(video, x, y, c) + fill[c]) / 2) > 3)
                return false;
        return true;
    };
    const std::vector<uint8_t> over =
        wait([&](const std::vector<uint8_t>& p) { return blended(p, 320, 240); });
    int inside = 0, outsideChanged = 0, outlineRed = 0;
    for (int y = 0; y < 480; y += 2) {
        for (int x = 0; x < 640; x += 2) {
            if (x >= 164 && x < 476 && y >= 124 && y < 356) {
                inside += blended(over, x, y) ? 1 : 0;
            } else if ((x < 156 || x >= 484 || y < 116 || y >= 364) && (x >= 8 || y >= 8)) {
                // (The empty area of the reference had its outline's round
                // ends at the top left corner.)
                for (int c = 0; c < 3; ++c)
                    outsideChanged += at(over, x, y, c) != at(video, x, y, c) ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(156 * 116, inside) << "every pixel inside is video and fill half and half";
    EXPECT_EQ(0, outsideChanged) << "nothing drawn outside the area";
    // The outline: the red pen at half alpha along the four edges.
    for (POINT p : {POINT{320, 120}, POINT{480, 240}, POINT{320, 360}, POINT{160, 240}})
        outlineRed += std::abs(at(over, p.x, p.y, 2) - (at(video, p.x, p.y, 2) + 255) / 2) <= 3 &&
                              std::abs(at(over, p.x, p.y, 1) - at(video, p.x, p.y, 1) / 2) <= 3
                          ? 1
                          : 0;
    EXPECT_EQ(4, outlineRed);
    shown.viewer.Unsubscribe();
}

// A camera that stops sending: an edit still shows at once, drawn over the
// last picture (the overlay was blended only into new pictures, so a slow
// or stalled camera showed the old area until the next one, or for ever).
// Both ways a picture reaches the window: decoded into it as it is (640 x
// 480 in a window of that size) and composed (scaled into 320 x 240).
TEST(CViewerEditorsCamsimTest, AnEditShowsOverTheLastPictureOfAStalledCamera) {
    for (const SIZE cell : {SIZE{640, 480}, SIZE{320, 240}}) {
        SCOPED_TRACE(std::to_string(cell.cx) + "x" + std::to_string(cell.cy));
        const uint16_t port = DevicePort("cam-jpeg-4608", {"--preencode", "1"});
        ASSERT_TRUE(Switch(port, "reset"));
        ASSERT_EQ(200, Get(port, "/camsim/control?reset&stallafter=4").status);
        SShown shown(port, cell.cx, cell.cy);
        ASSERT_NE(nullptr, shown.AreaEditor());
        ASSERT_EQ(1, shown.viewer.Subscribe());
        const auto shownCount = [&] { return shown.viewer.mpPacer->GetShownCount(); };
        // The stream stalls: no picture for a second and a half (its receiver
        // gives up on the silent stream and opens a new one some seconds later).
        uint64_t last = 0;
        auto quietSince = std::chrono::steady_clock::now();
        const auto deadline = quietSince + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline &&
               (last == 0 || std::chrono::steady_clock::now() - quietSince < std::chrono::milliseconds(1500))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (shownCount() != last) {
                last = shownCount();
                quietSince = std::chrono::steady_clock::now();
            }
        }
        ASSERT_GT(last, 0u) << "no picture shown";
        // The editor starts with the device's area switched on: its fill
        // lies over the middle of the picture, half and half.
        const int x = cell.cx / 2, y = cell.cy / 2;
        const auto pixel = [&](const std::vector<uint8_t>& p, int c) {
            return static_cast<int>(p[(static_cast<size_t>(y) * cell.cx + x) * 4 + c]);
        };
        std::vector<uint8_t> filled = shown.window.Snapshot();
        const int fill[3] = {200, 255, 200}; // B, G, R
        shown.Menu(Area::kCmdClear);
        std::vector<uint8_t> now;
        bool video = false;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!video && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            now = shown.window.Snapshot();
            video = true;
            for (int c = 0; c < 3; ++c)
                video = video && std::abs(pixel(now, c) - (2 * pixel(filled, c) - fill[c])) <= 4;
        }
        EXPECT_TRUE(video) << "the cleared area never showed the picture under it";
        EXPECT_EQ(last, shownCount()) << "a new picture came: the test proves nothing";
        shown.viewer.Unsubscribe();
        EXPECT_EQ(200, Get(port, "/camsim/control?reset").status);
    }
}

} // namespace
