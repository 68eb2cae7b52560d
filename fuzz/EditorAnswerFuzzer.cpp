// Hostile answers to the overlay editors' parameter queries: the motion area
// editor's grid, area and enable flag, the block grid editor's grid size and
// block string, the privacy mask editor's mask count, list and each mask's
// area. The editor is made against the answers, then driven by a few mouse
// gestures and menu commands taken from the input, painted, and saved (the
// save's answers come from the input too). Checks beyond the sanitizers: the
// grid never holds more cells than the block string can say, there are never
// more masks than the item's index can number, a block string the editor
// writes back is upper-case hexadecimal of count / 4 digits, and a mask's
// list item always has its fixed length.
//
// Input: byte 0 picks the editor (bits 0-1), the read sizes (bits 2-3) and
// the channel (bits 4-5); bytes 1..8 are four mouse points (x, y as bytes
// scaled to the window), the rest are the answers to the requests in turn,
// separated by NULs, the last one answering every request beyond.
#include "FuzzSupport.h"
#include "device/CProfileQueryDialect.h"
#include "editors/CMotionAreaEditor.h"
#include "editors/CMotionBlockEditor.h"
#include "editors/CPrivacyMaskEditor.h"
#include "net/CHttpLink.h"
#include "os/gdi/Gdi.h"
#include "os/window/OffscreenWindow.h"

#include <memory>

using fuzz::Check;

namespace {

// Small, so that painting does not outweigh the parsing: the editors scale
// between the three coordinate systems whatever their sizes.
constexpr int32_t kClient[2] = {176, 144};
constexpr int32_t kVideo[4] = {0, 0, 352, 288};

// One window and overlay bitmap for the whole run (made per input, their
// surfaces' allocation and clearing cost more than the editors).
struct SCanvas {
    os::OffscreenWindow window{kClient[0], kClient[1]};
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, kVideo[2], kVideo[3]);
    SCanvas() { SelectObject(dc, bitmap); }
    ~SCanvas() {
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
};

bool IsUpperHex(const std::string& text) {
    return text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// Press at a, drag through b, release at c (left button), then a right
// press and release at d: what a user does with every editor.
void Gesture(COverlayControl& editor, const POINT* p, int32_t extra) {
    editor.OnMouseMove(p[0].x, p[0].y, 0, extra);
    editor.OnButtonDown(p[0].x, p[0].y, COverlayControl::kLeftButton, extra);
    editor.OnMouseMove(p[1].x, p[1].y, COverlayControl::kLeftButton, extra);
    editor.OnButtonUp(p[2].x, p[2].y, COverlayControl::kLeftButton, extra);
    editor.OnButtonDown(p[3].x, p[3].y, COverlayControl::kRightButton, extra);
    editor.OnButtonUp(p[3].x, p[3].y, COverlayControl::kRightButton, extra);
    editor.OnMouseLeave();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9)
        return 0;
    const uint8_t control = data[0];
    POINT points[4];
    for (int i = 0; i < 4; ++i) // a little beyond the client on either side
        points[i] = POINT{static_cast<LONG>(data[1 + 2 * i]) * 216 / 255 - 20,
                          static_cast<LONG>(data[2 + 2 * i]) * 184 / 255 - 20};
    const std::string_view rest(reinterpret_cast<const char*>(data) + 9, size - 9);
    std::vector<std::string> bodies;
    fuzz::ForEachPiece(rest, std::string_view("\0", 1), [&bodies](const std::string& b) {
        if (bodies.size() < 256)
            bodies.push_back(b);
    });

    // The link gathers a whole answer before the editor parses it, so how an
    // answer is cut matters to the link alone: one small size is enough to
    // keep its gathering in play (cut into single bytes, the answers of a
    // hostile device made the fuzzer spend four fifths of its time reading).
    static const size_t kPieces[] = {8192, 512, 64, 7};
    fuzz::CPieceClient client(std::vector<std::string_view>(bodies.begin(), bodies.end()),
                              {kPieces[(control >> 2) & 3]});
    CHttpLink link(&client);
    CProfileQueryDialect dialect(0x1200);
    static SCanvas& canvas = *new SCanvas;
    const int32_t channel = (control >> 4) & 3;
    const char* address = "http://127.0.0.1:8081/";
    const int32_t extra = (control >> 6) & 1;

    switch (control & 3) {
    case 0:
    case 3: {
        CMotionBlockEditor editor(&dialect, &link, address, kClient, kVideo, &canvas.window, canvas.dc,
                                  channel);
        const int32_t cells = editor.Columns() * editor.Rows();
        Check(editor.Columns() > 0 && editor.Rows() > 0 && cells <= CMotionBlockEditor::kMaxCells);
        Check(editor.Cells().size() == static_cast<size_t>(cells));
        Gesture(editor, points, extra);
        for (UINT id : {CMotionBlockEditor::kCmdSelectAll, CMotionBlockEditor::kCmdRestore})
            editor.OnCommand(static_cast<int32_t>(id));
        editor.Paint();
        const std::string blocks = editor.BlockString();
        Check(blocks.size() == static_cast<size_t>(cells / 4) && IsUpperHex(blocks));
        editor.Save(0);
        break;
    }
    case 1: {
        CMotionAreaEditor editor(&dialect, &link, address, kClient, kVideo, &canvas.window, canvas.dc,
                                 channel);
        Gesture(editor, points, extra);
        editor.Paint();
        Check(editor.MotionXyValue().size() == 4 * CMotionAreaEditor::kCoordinateDigits);
        editor.OnCommand(static_cast<int32_t>(CMotionAreaEditor::kCmdSelectMax));
        editor.Paint();
        editor.Save(0);
        break;
    }
    case 2: {
        CPrivacyMaskEditor editor(&dialect, &link, address, kClient, kVideo, &canvas.window, canvas.dc,
                                  channel);
        const int32_t masks = editor.MaskCount();
        Check(masks >= 0 && masks <= CPrivacyMaskEditor::kMaxMasks);
        Gesture(editor, points, extra);
        editor.Select(static_cast<int32_t>(bodies.size() % 4));
        editor.Paint();
        for (int32_t i = 0; i < masks; ++i) {
            Check(editor.Mask(i) != nullptr);
            Check(editor.ListItem(i).size() == CPrivacyMaskEditor::kItemLength);
        }
        Check(editor.Mask(masks) == nullptr);
        editor.OnCommand(static_cast<int32_t>(CPrivacyMaskEditor::kCmdResetAll));
        editor.Save(0);
        break;
    }
    }
    return 0;
}
