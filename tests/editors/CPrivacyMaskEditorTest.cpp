// The privacy mask editor against a parameter table: which devices get
// masks, the mask list read and written, clicks that select and drags that
// move, the menu and its commands, saves that stop at a refusal, painting.
#include "editors/CPrivacyMaskEditor.h"

#include "editors/FakeParamDevice.h"
#include "os/window/OffscreenWindow.h"

#include <gtest/gtest.h>

namespace {

using Editor = CPrivacyMaskEditor;
using Area = CMotionAreaEditor;

constexpr COLORREF kWhite = RGB(255, 255, 255);

std::string Rect(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

struct SRig {
    SFakeCamera camera;
    os::OffscreenWindow window{440, 300};
    SMemoryBitmap bitmap{440, 300};
    std::unique_ptr<Editor> editor; // goes before the bitmap it paints into

    // Four masks in a 44 x 30 grid, over a 440 x 300 picture in a window of
    // its size: one grid unit is 10 pixels.
    SRig() {
        camera.params.values = {{"supportmaskarea", "1"},
                                {"paratest=maxmaskarea", "4"},
                                {"paratest=maskareaxlimit", "44"},
                                {"paratest=maskareaylimit", "30"},
                                {"paratest=maskarealist.all",
                                 "100001002003004;001000000000000;102010008020018;003000000000000;"}};
    }
    void Make() {
        HDC dc = bitmap.dc;
        const int32_t client[2] = {440, 300};
        const int32_t video[4] = {0, 0, 440, 300};
        editor = std::make_unique<Editor>(&camera.dialect, &camera.link, camera.address.c_str(), client,
                                          video, &window, dc, 1);
    }
    HDC Dc() const { return bitmap.dc; }
    // A right click answered with `choice`, its command handed back.
    std::vector<os::MenuItem> Menu(UINT choice) {
        window.ScriptMenuAnswer(choice);
        window.ScriptMessageBoxAnswer(IDOK);
        editor->OnButtonDown(50, 50, Editor::kRightButton, 0);
        editor->OnButtonUp(50, 50, Editor::kRightButton, 0);
        MSG message{};
        if (window.PeekMessage(&message) && message.message == WM_COMMAND)
            editor->OnCommand(LOWORD(message.wParam));
        return window.Dialogs().back().items;
    }
};

TEST(CPrivacyMaskEditorTest, MasksComeFromTheDevicesCountAndList) {
    SRig rig;
    rig.Make();
    ASSERT_EQ(4, rig.editor->MaskCount());
    EXPECT_EQ(0, rig.editor->Selected());
    EXPECT_EQ(0.5f, rig.editor->OverlayAlpha());
    EXPECT_EQ("1,2,3,4", Rect(rig.editor->Mask(0)->DeviceArea()));
    EXPECT_EQ(1, rig.editor->Mask(0)->Enabled());
    EXPECT_EQ("16,8,32,24", Rect(rig.editor->Mask(2)->DeviceArea()));
    EXPECT_EQ("160,80,320,240", Rect(rig.editor->Mask(2)->VideoArea()));
    EXPECT_EQ(0, rig.editor->Mask(3)->Enabled());
    EXPECT_EQ(44, rig.editor->Mask(1)->XLimit());
    // Written back as the device has them: mask 3 is 102010008020018.
    EXPECT_EQ("102010008020018", rig.editor->ListItem(2));
    EXPECT_EQ("100001002003004", rig.editor->ListItem(0));
}

TEST(CPrivacyMaskEditorTest, DevicesWithoutMasksGetAnEditorThatDoesNothing) {
    struct Case {
        const char* key;   // removed from the device
        const char* value; // or given this value (when not null)
    } cases[] = {{"supportmaskarea", nullptr},
                 {"supportmaskarea", "0"},
                 {"paratest=maxmaskarea", nullptr},
                 {"paratest=maxmaskarea", "0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + (c.value ? c.value : "(none)"));
        SRig rig;
        if (c.value)
            rig.camera.params.values[c.key] = c.value;
        else
            rig.camera.params.values.erase(c.key);
        rig.Make();
        EXPECT_EQ(0, rig.editor->MaskCount());
        rig.editor->OnButtonDown(10, 10, Editor::kLeftButton, 0);
        rig.editor->OnMouseMove(100, 100, Editor::kLeftButton, 0);
        rig.editor->OnButtonUp(100, 100, Editor::kRightButton, 0);
        EXPECT_TRUE(rig.window.Dialogs().empty()) << "no menu";
        rig.editor->OnCommand(Editor::kCmdSave);
        EXPECT_EQ(1, rig.editor->Save(0)) << "nothing to save is a save";
        EXPECT_TRUE(rig.camera.params.writes.empty());
    }
}

TEST(CPrivacyMaskEditorTest, ListItemsAreReadByTheirIndexDigit) {
    struct Case {
        const char* count;
        const char* list;
        int mask;         // the mask expected to change; -1 none
        const char* area; // its grid area
    } cases[] = {
        {"6", "105001002003004;", 5, "1,2,3,4"},       // position 2 holds 5: the sixth mask
        {"4", "105001002003004;", -1, ""},             // ... ignored with four masks
        {"4", "112001002003004;", 2, "1,2,3,4"},       // index 12 read by its last digit
        {"16", "10a00a00b00c00d;", 10, "10,11,12,13"}, // a hexadecimal digit
        {"4", "10100100;;;", -1, ""},                  // too short to be an item
        {"4", ";;102001002003004", 2, "1,2,3,4"},      // empty items skipped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        SRig rig;
        rig.camera.params.values["paratest=maxmaskarea"] = c.count;
        rig.camera.params.values["paratest=maskarealist.all"] = c.list;
        rig.Make();
        for (int i = 0; i < rig.editor->MaskCount(); ++i) {
            const std::string area = Rect(rig.editor->Mask(i)->DeviceArea());
            if (i == c.mask)
                EXPECT_EQ(c.area, area);
            else
                EXPECT_EQ("0,0,0,0", area) << "mask " << i;
        }
    }
}

TEST(CPrivacyMaskEditorTest, ADeviceClaimingEndlessMasksGetsABoundedEditor) {
    SRig rig;
    rig.camera.params.values["paratest=maxmaskarea"] = "100000";
    rig.Make();
    EXPECT_EQ(Editor::kMaxMasks, rig.editor->MaskCount());
}

TEST(CPrivacyMaskEditorTest, AClickSelectsTheNextMaskAndADragMovesTheSelectedOne) {
    SRig rig;
    rig.Make();
    // Moves of at most 9 pixels: a click. Nothing moves, the next is selected.
    rig.editor->OnButtonDown(100, 100, Editor::kLeftButton, 0);
    rig.editor->OnMouseMove(109, 91, Editor::kLeftButton, 0);
    rig.editor->OnButtonUp(109, 91, Editor::kLeftButton, 0);
    EXPECT_EQ("1,2,3,4", Rect(rig.editor->Mask(0)->DeviceArea()));
    EXPECT_EQ(1, rig.editor->Selected());
    // 10 pixels: a drag of mask 2, which then hands the selection on.
    rig.editor->OnButtonDown(100, 100, Editor::kLeftButton, 0);
    rig.editor->OnMouseMove(110, 100, Editor::kLeftButton, 0);
    rig.editor->OnMouseMove(200, 150, Editor::kLeftButton, 0);
    rig.editor->OnButtonUp(200, 150, Editor::kLeftButton, 0);
    EXPECT_EQ("10,10,20,15", Rect(rig.editor->Mask(1)->DeviceArea()));
    EXPECT_EQ(2, rig.editor->Selected());
    // From the last mask back to the first.
    rig.editor->OnButtonDown(5, 5, Editor::kLeftButton, 0);
    rig.editor->OnButtonUp(5, 5, Editor::kLeftButton, 0);
    rig.editor->OnButtonDown(5, 5, Editor::kLeftButton, 0);
    rig.editor->OnButtonUp(5, 5, Editor::kLeftButton, 0);
    EXPECT_EQ(0, rig.editor->Selected());
}

TEST(CPrivacyMaskEditorTest, TheMenuNamesEveryMaskAndTheSelectedOnesSwitch) {
    SRig rig;
    rig.Make();
    rig.editor->Select(1);
    auto items = rig.Menu(Editor::kCmdFirstMask + 2);
    const std::pair<UINT, const char*> expected[] = {{33009, "_ Mask &1"},
                                                     {33010, "* Mask &2"},
                                                     {33011, "_ Mask &3"},
                                                     {33012, "_ Mask &4"},
                                                     {0, ""},
                                                     {33002, "&Enable mask 2"},
                                                     {33006, "Select the &max area. "},
                                                     {0, ""},
                                                     {33003, "D&isable all "},
                                                     {33004, "Enable &all "},
                                                     {33005, "&Reset all "},
                                                     {33007, "Res&tore all "},
                                                     {0, ""},
                                                     {33008, "&Save setting"}};
    ASSERT_EQ(14u, items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(expected[i].first, items[i].id) << i;
        EXPECT_EQ(expected[i].second, items[i].text) << i;
    }
    EXPECT_EQ(2, rig.editor->Selected()) << "chosen from the menu";
    // Mask 3 is enabled: its switch disables it.
    items = rig.Menu(Editor::kCmdDisableMask);
    EXPECT_EQ("&Disable mask 3", items[5].text);
    EXPECT_EQ(33001u, items[5].id);
    EXPECT_EQ(0, rig.editor->Mask(2)->Enabled());
    EXPECT_EQ("&Enable mask 3", rig.Menu(Editor::kCmdEnableMask)[5].text);
    EXPECT_EQ(1, rig.editor->Mask(2)->Enabled());
}

TEST(CPrivacyMaskEditorTest, CommandsForAllMasks) {
    SRig rig;
    rig.Make();
    rig.editor->OnCommand(Editor::kCmdEnableAll);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(1, rig.editor->Mask(i)->Enabled());
    rig.editor->OnCommand(Editor::kCmdDisableAll);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(0, rig.editor->Mask(i)->Enabled());
    rig.editor->OnCommand(Editor::kCmdSelectMax);
    EXPECT_EQ("0,0,43,29", Rect(rig.editor->Mask(0)->DeviceArea()));
    rig.editor->OnCommand(Editor::kCmdResetAll);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ("0,0,0,0", Rect(rig.editor->Mask(i)->DeviceArea()));
    rig.editor->OnCommand(Editor::kCmdRestoreAll);
    EXPECT_EQ("16,8,32,24", Rect(rig.editor->Mask(2)->DeviceArea()));
    rig.editor->OnCommand(Editor::kCmdFirstMask + 7); // no eighth mask
    EXPECT_EQ(0, rig.editor->Selected());
}

TEST(CPrivacyMaskEditorTest, ASaveWritesEveryMaskInOrderAndStopsAtARefusal) {
    SRig rig;
    rig.Make();
    rig.editor->Select(3);
    rig.editor->OnCommand(Editor::kCmdEnableMask);
    rig.editor->OnCommand(Editor::kCmdSelectMax);
    rig.Menu(Editor::kCmdSave);
    const std::vector<std::string> all = {"maskarea=100001002003004", "maskarea=001000000000000",
                                          "maskarea=102010008020018", "maskarea=10300000002b01d"};
    EXPECT_EQ(all, rig.camera.params.writes);
    EXPECT_EQ("Save data successfully.", rig.window.Dialogs().back().text);

    // The device refuses: the first item goes, the save stops, it says so.
    rig.camera.params.writes.clear();
    rig.camera.params.refused.insert("maskarea");
    rig.Menu(Editor::kCmdSave);
    EXPECT_TRUE(rig.camera.params.writes.empty());
    EXPECT_EQ("Save data failed.", rig.window.Dialogs().back().text);
}

TEST(CPrivacyMaskEditorTest, PaintDrawsEveryMaskTheSelectedOneOnTop) {
    SRig rig;
    rig.camera.params.values["paratest=maskarealist.all"] = "100000000010010;101005005015015;";
    rig.Make();
    // The caption of the overlay worker leaves its near-white text colour.
    SetTextColor(rig.Dc(), RGB(250, 250, 250));
    rig.editor->Paint();
    // The label "1" at the top left of mask 1, dark on the light fill.
    int dark = 0;
    for (int y = 2; y < 30; ++y) {
        for (int x = 2; x < 30; ++x) {
            const COLORREF c = GetPixel(rig.Dc(), x, y);
            dark += (c & 0xFF) + ((c >> 8) & 0xFF) + ((c >> 16) & 0xFF) < 150 ? 1 : 0;
        }
    }
    EXPECT_GT(dark, 5) << "mask 1's label";
    // Mask 1 (selected, video (0, 0, 160, 160)): its thick red outline
    // (440 / 352 + 1 = 2 pixels) and its fill, drawn last, over mask 2
    // (video (50, 50, 210, 210)) where they overlap.
    EXPECT_EQ(Area::kThickEnabledColour, GetPixel(rig.Dc(), 160, 100));
    EXPECT_EQ(Area::kFillColour, GetPixel(rig.Dc(), 100, 50)) << "mask 2's outline under mask 1";
    // Mask 2: the thin dark red pen of a mask that is not selected.
    EXPECT_EQ(Area::kThinEnabledColour, GetPixel(rig.Dc(), 190, 50));
    EXPECT_EQ(Area::kFillColour, GetPixel(rig.Dc(), 190, 120));
    // Masks 3 and 4 are disabled and empty; the rest is transparent.
    EXPECT_EQ(kWhite, GetPixel(rig.Dc(), 300, 250));
    rig.editor->Select(1);
    rig.editor->Paint();
    EXPECT_EQ(Area::kThinEnabledColour, GetPixel(rig.Dc(), 100, 0));
    EXPECT_EQ(Area::kThickEnabledColour, GetPixel(rig.Dc(), 100, 50)) << "mask 2 now on top";
}

} // namespace
