// The motion area editor against a parameter table: window -> video -> grid
// conversions, the far-edge clamps, the menu and its commands, what a save
// writes and what it says, and what Paint draws into the overlay bitmap.
#include "editors/CMotionAreaEditor.h"

#include "editors/FakeParamDevice.h"
#include "os/window/OffscreenWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using Editor = CMotionAreaEditor;

constexpr COLORREF kWhite = RGB(255, 255, 255);

// A camera with a 22 x 15 grid whose area is (0, 0, 21, 14), motion off.
void FillCamera(SFakeParams& p, const char* xLimit = "22", const char* yLimit = "15") {
    p.values = {{"getmotionxlimit", xLimit}, {"getmotionylimit", yLimit}, {"getmotionx1", "0"},
                {"getmotiony1", "0"},        {"getmotionx2", "21"},       {"getmotiony2", "14"},
                {"getmotionenable", "0"}};
}

struct SRig {
    SFakeCamera camera;
    os::OffscreenWindow window{320, 240};
    std::unique_ptr<SMemoryBitmap> bitmap;
    std::unique_ptr<Editor> editor; // goes before the bitmap it paints into

    // An editor for a client of clientW x clientH over a videoW x videoH
    // picture, painting into a memory bitmap of the picture's size.
    void Make(int clientW, int clientH, int videoW, int videoH) {
        bitmap = std::make_unique<SMemoryBitmap>(videoW, videoH);
        HDC dc = bitmap->dc;
        const int32_t client[2] = {clientW, clientH};
        const int32_t video[4] = {0, 0, videoW, videoH};
        editor = std::make_unique<Editor>(&camera.dialect, &camera.link, camera.address.c_str(), client,
                                          video, &window, dc, 1);
    }
    HDC Dc() const { return bitmap->dc; }
    void Drag(int x0, int y0, int x1, int y1) {
        editor->OnButtonDown(x0, y0, Editor::kLeftButton, 0);
        editor->OnMouseMove(x1, y1, Editor::kLeftButton, 0);
        editor->OnButtonUp(x1, y1, Editor::kLeftButton, 0);
    }
    // Opens the menu with a right release, answering `choice`, and hands the
    // posted command to the editor as the viewer's hook 7 would.
    std::vector<os::MenuItem> Menu(UINT choice) {
        window.ScriptMenuAnswer(choice);
        editor->OnButtonUp(100, 100, Editor::kRightButton, 0);
        MSG message{};
        if (window.PeekMessage(&message) && message.message == WM_COMMAND)
            editor->OnCommand(static_cast<int32_t>(LOWORD(message.wParam)));
        return window.Dialogs().back().items;
    }
};

std::string Rect(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

TEST(CMotionAreaEditorTest, ConstructionReadsTheDevicesGridAreaAndEnableFlag) {
    SRig rig;
    FillCamera(rig.camera.params);
    rig.camera.params.values["getmotionx1"] = "3";
    rig.camera.params.values["getmotionenable"] = "1";
    rig.Make(320, 240, 704, 480);
    EXPECT_EQ(22, rig.editor->XLimit());
    EXPECT_EQ(15, rig.editor->YLimit());
    EXPECT_EQ("3,0,21,14", Rect(rig.editor->DeviceArea()));
    EXPECT_EQ("3,0,21,14", Rect(rig.editor->SavedArea()));
    // Grid to video: 704 * 3 / 22 = 96, 480 * 14 / 15 = 448.
    EXPECT_EQ("96,0,672,448", Rect(rig.editor->VideoArea()));
    EXPECT_EQ(1, rig.editor->SavedEnabled());
    EXPECT_EQ(1, rig.editor->Enabled()) << "the editor starts enabled whatever the device says";
    EXPECT_EQ(0.5f, rig.editor->OverlayAlpha());
}

// Drags in window pixels, as video pixels and grid units.
TEST(CMotionAreaEditorTest, DragsBecomeVideoAndGridAreas) {
    struct Case {
        int client[2], video[2], from[2], to[2];
        const char* videoArea;
        const char* gridArea;
    } cases[] = {
        // The worked example: a drag up and to the left.
        {{320, 240}, {704, 480}, {10, 10}, {5, 40}, "11,20,22,80", "0,0,0,2"},
        // The far corner: x2 and y2 land on the limits and are kept inside.
        {{320, 240}, {704, 480}, {0, 0}, {320, 240}, "0,0,704,480", "0,0,21,14"},
        // Beyond the window: clamped to it first.
        {{320, 240}, {704, 480}, {160, 120}, {5000, 9000}, "352,240,704,480", "11,7,21,14"},
        {{640, 480}, {640, 480}, {320, 240}, {-40, -10}, "0,0,320,240", "0,0,11,7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.videoArea);
        SRig rig;
        FillCamera(rig.camera.params);
        rig.Make(c.client[0], c.client[1], c.video[0], c.video[1]);
        rig.Drag(c.from[0], c.from[1], c.to[0], c.to[1]);
        EXPECT_EQ(c.videoArea, Rect(rig.editor->VideoArea()));
        EXPECT_EQ(c.gridArea, Rect(rig.editor->DeviceArea()));
    }
}

TEST(CMotionAreaEditorTest, APressEmptiesTheAreaAndOnlyTheLeftButtonDrags) {
    SRig rig;
    FillCamera(rig.camera.params);
    rig.Make(320, 240, 704, 480);
    rig.editor->OnButtonDown(10, 10, Editor::kRightButton, 0);
    rig.editor->OnMouseMove(100, 100, Editor::kRightButton, 0);
    EXPECT_EQ("0,0,21,14", Rect(rig.editor->DeviceArea())) << "no left button, no drag";
    rig.editor->OnButtonDown(10, 10, Editor::kLeftButton, 0);
    EXPECT_EQ("0,0,0,0", Rect(rig.editor->DeviceArea()));
    EXPECT_EQ("0,0,0,0", Rect(rig.editor->VideoArea()));
}

TEST(CMotionAreaEditorTest, ARightButtonReleaseEndsNoDrag) {
    SRig rig;
    FillCamera(rig.camera.params);
    rig.Make(320, 240, 704, 480);
    rig.editor->OnButtonDown(10, 10, Editor::kLeftButton, 0);
    rig.editor->OnMouseMove(5, 40, Editor::kLeftButton, 0);
    rig.window.ScriptMenuAnswer(0);
    rig.editor->OnButtonUp(200, 200, Editor::kRightButton, 0);
    EXPECT_EQ("0,0,0,2", Rect(rig.editor->DeviceArea())) << "the area keeps its last computed value";
    ASSERT_EQ(1u, rig.window.Dialogs().size()) << "the release opened the menu";
}

TEST(CMotionAreaEditorTest, TheMenuOffersTheSwitchThatFitsAndItsCommandsWork) {
    SRig rig;
    FillCamera(rig.camera.params);
    rig.Make(320, 240, 704, 480);
    auto items = rig.Menu(Editor::kCmdDisable);
    ASSERT_EQ(6u, items.size());
    const std::pair<UINT, const char*> expected[] = {{33004, "Disable motion."},
                                                     {33002, "Select the &max area. "},
                                                     {33001, "&Clear"},
                                                     {33003, "Res&tore"},
                                                     {0, ""},
                                                     {33006, "&Save setting"}};
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(expected[i].first, items[i].id);
        EXPECT_EQ(expected[i].second, items[i].text);
        EXPECT_EQ(i == 4, (items[i].flags & MF_SEPARATOR) != 0);
    }
    EXPECT_EQ(0, rig.editor->Enabled());
    items = rig.Menu(Editor::kCmdEnable);
    EXPECT_EQ(33005u, items[0].id);
    EXPECT_EQ("Enable motion.", items[0].text);
    EXPECT_EQ(1, rig.editor->Enabled());
    EXPECT_EQ(33004u, rig.Menu(0)[0].id);

    // The menu opens where the release was, on the editor's window.
    rig.window.SetScreenPosition(1000, 500);
    rig.window.ScriptMenuAnswer(0);
    rig.editor->OnButtonUp(30, 40, Editor::kRightButton, 0);
    const os::DialogRecord menu = rig.window.Dialogs().back();
    EXPECT_EQ(1030, menu.point.x);
    EXPECT_EQ(540, menu.point.y);
    EXPECT_EQ(&rig.window, menu.window);

    // Without menu permission a right release is no menu.
    const size_t dialogs = rig.window.Dialogs().size();
    rig.editor->SetMenuAllowed(0);
    rig.editor->OnButtonUp(30, 40, Editor::kRightButton, 0);
    EXPECT_EQ(dialogs, rig.window.Dialogs().size());
}

TEST(CMotionAreaEditorTest, SavesWriteTheSwitchThenTheAreaAndSaySo) {
    struct Case {
        std::vector<UINT> commands; // before the save
        const char* refused;        // a key the device refuses
        std::vector<std::string> writes;
        const char* message;
        const char* restored; // the area Restore brings back afterwards
    } cases[] = {
        {{Editor::kCmdSelectMax},
         "",
         {"motionenable=1", "motionxy=000000021014"},
         "Save data successfully.",
         "0,0,21,14"},
        {{Editor::kCmdClear},
         "",
         {"motionenable=1", "motionxy=000000000000"},
         "Save data successfully.",
         "0,0,0,0"},
        {{Editor::kCmdDisable, Editor::kCmdClear},
         "",
         {"motionenable=0", "motionxy=000000000000"},
         "Save data successfully.",
         "0,0,0,0"},
        // A refused switch writes nothing more; the editor keeps what it
        // tried to save all the same.
        {{Editor::kCmdClear}, "motionenable", {}, "Save data failed.", "0,0,0,0"},
        {{Editor::kCmdClear}, "motionxy", {"motionenable=1"}, "Save data failed.", "0,0,0,0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message + std::string(" ") + c.refused);
        SRig rig;
        FillCamera(rig.camera.params);
        if (*c.refused)
            rig.camera.params.refused.insert(c.refused);
        rig.Make(320, 240, 704, 480);
        for (UINT command : c.commands)
            rig.editor->OnCommand(static_cast<int32_t>(command));
        rig.window.ScriptMessageBoxAnswer(IDOK);
        rig.editor->OnCommand(Editor::kCmdSave);
        EXPECT_EQ(c.writes, rig.camera.params.writes);
        const os::DialogRecord box = rig.window.Dialogs().back();
        ASSERT_EQ(os::DialogRecord::Kind::MessageBox, box.kind);
        EXPECT_EQ(c.message, box.text);
        const bool saved = c.message == std::string("Save data successfully.");
        EXPECT_EQ(saved ? "Success" : "Error", box.caption);
        EXPECT_EQ(saved ? MB_ICONINFORMATION : MB_ICONERROR, box.type);
        EXPECT_EQ(nullptr, box.window) << "the message box has no owner";
        // What the save remembered is what Restore brings back.
        rig.Drag(10, 10, 5, 40);
        rig.editor->OnCommand(Editor::kCmdRestore);
        EXPECT_EQ(c.restored, Rect(rig.editor->DeviceArea()));
    }
}

TEST(CMotionAreaEditorTest, ASaveWithoutMessageShowsNone) {
    SRig rig;
    FillCamera(rig.camera.params);
    rig.Make(320, 240, 704, 480);
    EXPECT_EQ(1, rig.editor->Save(0));
    EXPECT_TRUE(rig.window.Dialogs().empty());
    rig.camera.params.refused.insert("motionxy");
    EXPECT_EQ(0, rig.editor->Save(0));
    EXPECT_TRUE(rig.window.Dialogs().empty());
}

TEST(CMotionAreaEditorTest, RestoreBringsBackTheSavedAreaAndFlag) {
    SRig rig;
    FillCamera(rig.camera.params);
    rig.Make(320, 240, 704, 480);
    rig.Drag(10, 10, 5, 40);
    rig.editor->OnCommand(Editor::kCmdRestore);
    EXPECT_EQ("0,0,21,14", Rect(rig.editor->DeviceArea()));
    EXPECT_EQ("0,0,672,448", Rect(rig.editor->VideoArea()));
    EXPECT_EQ(0, rig.editor->Enabled()) << "the device's flag, which construction kept as the saved one";
}

// A device that gives no grid: every conversion into that axis is 0, the
// clamps do not apply, and the area from the device cannot be shown.
TEST(CMotionAreaEditorTest, AMissingLimitLeavesThatAxisAtZero) {
    SRig rig;
    FillCamera(rig.camera.params);
    rig.camera.params.values.erase("getmotionxlimit");
    rig.Make(320, 240, 704, 480);
    EXPECT_EQ(0, rig.editor->XLimit());
    EXPECT_EQ("0,0,0,0", Rect(rig.editor->VideoArea()));
    rig.Drag(0, 0, 320, 240);
    EXPECT_EQ("0,0,0,14", Rect(rig.editor->DeviceArea()));
    rig.editor->SelectMax();
    EXPECT_EQ("0,0,0,14", Rect(rig.editor->DeviceArea()));
}

// Counts the pixels of one colour inside a rectangle of a memory bitmap.
int Count(HDC dc, const RECT& r, COLORREF colour) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            n += GetPixel(dc, x, y) == colour ? 1 : 0;
    return n;
}

TEST(CMotionAreaEditorTest, PaintFillsTheAreaOutlinesItAndLeavesTheRestTransparent) {
    SRig rig;
    FillCamera(rig.camera.params);
    rig.Make(640, 480, 640, 480);
    // Something left over from an earlier paint, which Paint must clear.
    HBRUSH black = CreateSolidBrush(RGB(1, 2, 3));
    const RECT all{0, 0, 640, 480};
    FillRect(rig.Dc(), &all, black);
    DeleteObject(black);

    rig.Drag(100, 100, 300, 200);
    rig.editor->Paint();
    // Inside, away from the outline: the fill colour.
    EXPECT_EQ(Editor::kFillColour, GetPixel(rig.Dc(), 200, 150));
    EXPECT_EQ(190 * 90, Count(rig.Dc(), RECT{105, 105, 295, 195}, Editor::kFillColour));
    // The outline: thick red (640 / 352 + 1 = 2 pixels) on each edge.
    for (POINT p : {POINT{200, 100}, POINT{300, 150}, POINT{200, 200}, POINT{100, 150}})
        EXPECT_EQ(Editor::kThickEnabledColour, GetPixel(rig.Dc(), p.x, p.y)) << p.x << "," << p.y;
    // Outside: transparent white, all of it.
    EXPECT_EQ(640 * 95, Count(rig.Dc(), RECT{0, 0, 640, 95}, kWhite));
    EXPECT_EQ(640 * 275, Count(rig.Dc(), RECT{0, 205, 640, 480}, kWhite));
    EXPECT_EQ(95 * 480 - 95 * 95 - 95 * 275, Count(rig.Dc(), RECT{0, 95, 95, 205}, kWhite));

    // Disabled: no fill, a black outline.
    rig.editor->OnCommand(Editor::kCmdDisable);
    rig.editor->Paint();
    EXPECT_EQ(kWhite, GetPixel(rig.Dc(), 200, 150));
    EXPECT_EQ(Editor::kThickDisabledColour, GetPixel(rig.Dc(), 200, 100));
    // The thin pens of draw mode 5: one pixel wide, grey when disabled.
    rig.editor->SetDrawMode(Editor::kDrawModeThin);
    rig.editor->Paint();
    EXPECT_EQ(Editor::kThinDisabledColour, GetPixel(rig.Dc(), 200, 100));
    EXPECT_EQ(kWhite, GetPixel(rig.Dc(), 200, 102));
    rig.editor->OnCommand(Editor::kCmdEnable);
    rig.editor->Paint();
    EXPECT_EQ(Editor::kThinEnabledColour, GetPixel(rig.Dc(), 200, 100));
}

// The overlay worker paints while the host's thread drags and saves: the
// editor's lock keeps them apart (the ThreadSanitizer run checks it).
TEST(CMotionAreaEditorTest, PaintingWhileTheUserEditsIsSafe) {
    SRig rig;
    FillCamera(rig.camera.params);
    rig.Make(320, 240, 704, 480);
    std::atomic<bool> done{false};
    std::thread painter([&] {
        while (!done.load())
            rig.editor->Paint();
    });
    for (int i = 0; i < 200; ++i) {
        rig.Drag(i % 320, i % 240, 319 - i % 320, 239 - i % 240);
        if (i % 50 == 0)
            rig.editor->Save(0);
    }
    done = true;
    painter.join();
    EXPECT_EQ(8u, rig.camera.params.writes.size());
}

} // namespace
