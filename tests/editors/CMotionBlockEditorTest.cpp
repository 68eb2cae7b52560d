// The motion block grid editor against a parameter table: the grid size and
// cells it reads, clicks and drags (with and without the erase modifier),
// the block string both ways, the menu, saves and what Paint draws.
#include "editors/CMotionBlockEditor.h"

#include "editors/FakeParamDevice.h"
#include "os/window/OffscreenWindow.h"

#include <gtest/gtest.h>

namespace {

using Editor = CMotionBlockEditor;

constexpr COLORREF kWhite = RGB(255, 255, 255);

struct SRig {
    SFakeCamera camera;
    os::OffscreenWindow window{480, 320};
    SMemoryBitmap bitmap{960, 640};
    std::unique_ptr<Editor> editor; // goes before the bitmap it paints into

    SRig() {
        camera.params.values = {{"paratest=motionxblock", "12"},
                                {"paratest=motionyblock", "8"},
                                {"motionblock=2", "000000000000000000000000"},
                                {"motionblock", "F00000000000000000000000"}};
    }
    // A 480 x 320 client (cells of 40 x 40) over a 960 x 640 picture.
    void Make(int32_t channel = 2) {
        HDC dc = bitmap.dc;
        const int32_t client[2] = {480, 320};
        const int32_t video[4] = {0, 0, 960, 640};
        editor = std::make_unique<Editor>(&camera.dialect, &camera.link, camera.address.c_str(), client,
                                          video, &window, dc, channel);
    }
    HDC Dc() const { return bitmap.dc; }
    // The client point at the middle of a cell.
    static POINT Middle(int cell) { return POINT{(cell % 12) * 40 + 20, (cell / 12) * 40 + 20}; }
    void Click(int cell, int32_t extra = 0) {
        const POINT p = Middle(cell);
        editor->OnButtonDown(p.x, p.y, Editor::kLeftButton, extra);
        editor->OnButtonUp(p.x, p.y, Editor::kLeftButton, extra);
    }
    void Drag(int from, int to, int32_t extra = 0) {
        const POINT a = Middle(from);
        const POINT b = Middle(to);
        editor->OnMouseMove(a.x, a.y, 0, extra);
        editor->OnButtonDown(a.x, a.y, Editor::kLeftButton, extra);
        editor->OnMouseMove(b.x, b.y, Editor::kLeftButton, extra);
        editor->OnButtonUp(b.x, b.y, Editor::kLeftButton, extra);
    }
    std::vector<int> On() {
        std::vector<int> on;
        const std::vector<uint8_t> cells = editor->Cells();
        for (size_t i = 0; i < cells.size(); ++i)
            if (cells[i] != 0)
                on.push_back(static_cast<int>(i));
        return on;
    }
};

TEST(CMotionBlockEditorTest, GridSizeComesFromTheDeviceOnlyWhenBothSidesAreGiven) {
    struct Case {
        const char* columns; // null: the device does not answer
        const char* rows;
        int expectedColumns, expectedRows;
    } cases[] = {
        {"16", "12", 16, 12}, {"16", nullptr, 12, 8},
        {"0", "12", 12, 8},   {"-4", "-4", 12, 8}, // no grid of negative size
        {"40", "30", 12, 8},                       // 1200 cells: beyond what the block string can say
        {"34", "30", 34, 30},                      // 1020 cells: the largest it can
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.expectedColumns) + "x" + std::to_string(c.expectedRows));
        SRig rig;
        rig.camera.params.values.erase("paratest=motionxblock");
        rig.camera.params.values.erase("paratest=motionyblock");
        if (c.columns)
            rig.camera.params.values["paratest=motionxblock"] = c.columns;
        if (c.rows)
            rig.camera.params.values["paratest=motionyblock"] = c.rows;
        rig.Make();
        EXPECT_EQ(c.expectedColumns, rig.editor->Columns());
        EXPECT_EQ(c.expectedRows, rig.editor->Rows());
        EXPECT_EQ(static_cast<size_t>(c.expectedColumns * c.expectedRows), rig.editor->Cells().size());
        EXPECT_EQ(static_cast<size_t>(c.expectedColumns * c.expectedRows / 4),
                  rig.editor->BlockString().size());
    }
}

TEST(CMotionBlockEditorTest, TheGridKeyCarriesTheChannel) {
    for (int32_t channel : {0, 2}) {
        SRig rig;
        rig.Make(channel);
        EXPECT_EQ(channel == 0 ? "motionblock" : "motionblock=2", rig.editor->QueryKey());
        EXPECT_EQ(channel == 0 ? "motionblock" : "motionblock=2:", rig.editor->SetKey());
        // Channel 0's grid on the device has its first four cells on.
        const std::vector<int> expected = channel == 0 ? std::vector<int>{0, 1, 2, 3} : std::vector<int>();
        EXPECT_EQ(expected, rig.On());
    }
}

TEST(CMotionBlockEditorTest, BlockStringsDecode) {
    struct Case {
        const char* text;
        std::vector<int> on;
    } cases[] = {
        {"f0", {0, 1, 2, 3}}, // upper-cased; shorter than 24 digits
        {"1248", {0, 5, 10, 15}},
        {"0G", {4, 5, 6, 7}}, // not a digit: all four cells of it
        {"", {}},
        {"00000000000000000000000A"
         "FFFF",
         {93, 95}}, // beyond 24 digits: ignored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SRig rig;
        rig.Make();
        rig.Click(50); // decoding starts from nothing
        rig.editor->DecodeBlockString(c.text);
        EXPECT_EQ(c.on, rig.On());
        EXPECT_EQ(rig.editor->Cells(), rig.editor->SavedCells()) << "decoding sets the saved copy";
    }
}

TEST(CMotionBlockEditorTest, ClicksToggleAndTheEraseModifierSwitchesOff) {
    SRig rig;
    rig.Make();
    rig.Click(13);
    EXPECT_EQ(std::vector<int>{13}, rig.On());
    // Cell 13 is bit 1 of digit 3 (cells 12 to 15).
    EXPECT_EQ("000200000000000000000000", rig.editor->BlockString());
    rig.Click(13);
    EXPECT_EQ(std::vector<int>{}, rig.On());
    rig.Click(13);
    rig.Click(13, 1); // erasing: off, not toggled
    EXPECT_EQ(std::vector<int>{}, rig.On());
    rig.Click(13, 1);
    EXPECT_EQ(std::vector<int>{}, rig.On());
    // The far corner of the window, and beyond it, is the last cell.
    rig.editor->OnButtonDown(479, 319, Editor::kLeftButton, 0);
    rig.editor->OnButtonUp(5000, 5000, Editor::kLeftButton, 0);
    EXPECT_EQ(std::vector<int>{95}, rig.On());
}

TEST(CMotionBlockEditorTest, DragsSwitchARectangleOfCells) {
    SRig rig;
    rig.Make();
    rig.Drag(0, 25);
    EXPECT_EQ((std::vector<int>{0, 1, 12, 13, 24, 25}), rig.On());
    // Dragging the other way over part of it with the erase modifier.
    rig.Drag(25, 13, 1);
    EXPECT_EQ((std::vector<int>{0, 1, 12, 24}), rig.On());
    EXPECT_EQ(std::vector<uint8_t>(96, 0), rig.editor->PendingCells());
}

TEST(CMotionBlockEditorTest, TheMenuAndItsCommands) {
    SRig rig;
    rig.Make();
    rig.window.ScriptMenuAnswer(Editor::kCmdSelectAll);
    rig.editor->OnButtonUp(100, 100, Editor::kRightButton, 0);
    const os::DialogRecord menu = rig.window.Dialogs().back();
    const std::pair<UINT, const char*> expected[] = {{33002, "Select &all "},
                                                     {33001, "&Clear all "},
                                                     {33003, "Res&tore "},
                                                     {0, ""},
                                                     {33006, "&Save setting"}};
    ASSERT_EQ(5u, menu.items.size());
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(expected[i].first, menu.items[i].id);
        EXPECT_EQ(expected[i].second, menu.items[i].text);
    }
    MSG message{};
    ASSERT_TRUE(rig.window.PeekMessage(&message));
    rig.editor->OnCommand(LOWORD(message.wParam));
    EXPECT_EQ(96u, rig.On().size());

    // Select all, then save: 24 digits F under the channel's key.
    rig.window.ScriptMessageBoxAnswer(IDOK);
    rig.editor->OnCommand(Editor::kCmdSave);
    EXPECT_EQ(std::vector<std::string>{"motionblock=2:FFFFFFFFFFFFFFFFFFFFFFFF"}, rig.camera.params.writes);
    EXPECT_EQ("Save data successfully.", rig.window.Dialogs().back().text);
    rig.editor->OnCommand(Editor::kCmdClearAll);
    EXPECT_EQ(0u, rig.On().size());
    rig.editor->OnCommand(Editor::kCmdRestore);
    EXPECT_EQ(96u, rig.On().size()) << "the save became the saved copy";

    // A refused set says so; the saved copy holds the new grid all the same.
    rig.camera.params.refused.insert("motionblock");
    rig.editor->OnCommand(Editor::kCmdClearAll);
    rig.editor->OnCommand(Editor::kCmdSave);
    EXPECT_EQ("Save data failed.", rig.window.Dialogs().back().text);
    EXPECT_EQ("Error", rig.window.Dialogs().back().caption);
    rig.Click(7);
    rig.editor->OnCommand(Editor::kCmdRestore);
    EXPECT_EQ(0u, rig.On().size());
}

TEST(CMotionBlockEditorTest, ChannelZeroSavesUnderThePlainKey) {
    SRig rig;
    rig.Make(0);
    rig.Click(4);
    EXPECT_EQ(1, rig.editor->Save(0));
    EXPECT_EQ(std::vector<std::string>{"motionblock=F10000000000000000000000"}, rig.camera.params.writes);
    EXPECT_TRUE(rig.window.Dialogs().empty());
}

TEST(CMotionBlockEditorTest, PaintDrawsCellsThatAreOnAndTheHoverCell) {
    SRig rig;
    rig.Make();
    rig.Click(13);
    rig.editor->OnMouseLeave();
    rig.editor->Paint();
    // Cell 13 in the 960 x 640 picture: 80 x 80 from (80, 80); outline and
    // diagonal in the red pen (960 / 352 + 1 = 3 pixels).
    EXPECT_EQ(Editor::kOnColour, GetPixel(rig.Dc(), 120, 80));
    EXPECT_EQ(Editor::kOnColour, GetPixel(rig.Dc(), 120, 120)) << "the diagonal";
    EXPECT_EQ(kWhite, GetPixel(rig.Dc(), 140, 100));
    EXPECT_EQ(kWhite, GetPixel(rig.Dc(), 400, 400));
    // The pointer over cell 30: its outline in the hover pen; erasing, blue.
    const POINT p = SRig::Middle(30);
    rig.editor->OnMouseMove(p.x, p.y, 0, 0);
    rig.editor->Paint();
    EXPECT_EQ(Editor::kHoverColour, GetPixel(rig.Dc(), 6 * 80 + 40, 2 * 80));
    rig.editor->OnMouseMove(p.x, p.y, 0, 1);
    rig.editor->Paint();
    EXPECT_EQ(Editor::kEraseColour, GetPixel(rig.Dc(), 6 * 80 + 40, 2 * 80));
    // Leaving the window: no hover cell any more.
    rig.editor->OnMouseLeave();
    rig.editor->Paint();
    EXPECT_EQ(kWhite, GetPixel(rig.Dc(), 6 * 80 + 40, 2 * 80));
    // A drag in progress shows its cells in the drag pen.
    rig.editor->OnMouseMove(20, 20, 0, 0);
    rig.editor->OnButtonDown(20, 20, Editor::kLeftButton, 0);
    rig.editor->OnMouseMove(60, 60, Editor::kLeftButton, 0);
    rig.editor->Paint();
    EXPECT_EQ(Editor::kDragColour, GetPixel(rig.Dc(), 40, 0));
}

} // namespace
