// The editor of a device's motion-detection area: one rectangle over the
// video that the user drags with the left button, switches on and off, and
// saves to the device. The privacy mask editor uses one per mask.
//
// The device keeps the area in units of its motion grid ("getmotionxlimit"
// by "getmotionylimit" cells; 22 x 15 on many cameras), whatever the size of
// its picture. A drag in the window becomes video pixels and then grid units:
//
//   video x = video width x window x / client width
//   grid x  = x limit x video x / video width      (and the same vertically)
//
// with integer divisions that truncate, so a drag from (10, 10) to (5, 40) in
// a 320 x 240 window over a 704 x 480 picture with a 22 x 15 grid is the
// video area (11, 20, 22, 80) and the grid area (0, 0, 0, 2). A far edge is
// kept inside the grid: x2 and y2 are at most limit - 1.
//
// A save writes "motionenable" (1 or 0) and then "motionxy": x1, y1, x2 and
// y2 in decimal, three digits each (000000021014 for (0, 0, 21, 14)).
//
// The editor draws the area in the light green fill brush (at the overlay's
// half alpha) with an outline: thick red when enabled, thick black when not,
// or the thin dark red and grey pens in draw mode 5 (a privacy mask that is
// not selected).
//
// Threads: the host's thread (input, commands, saves) and the overlay
// worker's (Paint); mLock serialises every operation and is held across a
// save and its message box.
#pragma once

#include "editors/COverlayControl.h"
#include "platform/CCritSection.h"

#include <string>

class CMotionAreaEditor : public COverlayControl {
public:
    // Popup menu identifiers.
    static constexpr UINT kCmdClear = 33001;
    static constexpr UINT kCmdSelectMax = 33002;
    static constexpr UINT kCmdRestore = 33003;
    static constexpr UINT kCmdDisable = 33004;
    static constexpr UINT kCmdEnable = 33005;
    static constexpr UINT kCmdSave = 33006;
    // Draw modes: the usual thick pens, or the thin ones.
    static constexpr int32_t kDrawModeThick = 1;
    static constexpr int32_t kDrawModeThin = 5;
    static constexpr COLORREF kThickEnabledColour = RGB(255, 0, 0);
    static constexpr COLORREF kThickDisabledColour = RGB(0, 0, 0);
    static constexpr COLORREF kThinEnabledColour = RGB(127, 32, 32);
    static constexpr COLORREF kThinDisabledColour = RGB(102, 102, 102);
    static constexpr COLORREF kFillColour = RGB(200, 255, 200);
    static constexpr float kAlpha = 0.5f;
    // Width of each coordinate in the "motionxy" value.
    static constexpr size_t kCoordinateDigits = 3;

    // The construction arguments of every overlay control. Asks the device
    // for its grid ("getmotionxlimit", "getmotionylimit"), its area
    // ("getmotionx1", "getmotionx2", "getmotiony1", "getmotiony2") and its
    // enable flag ("getmotionenable", kept as the saved flag: the editor
    // itself starts enabled); a failed query reads as 0.
    CMotionAreaEditor(CDeviceProfile* dialect, CHttpLink* link, const char* deviceAddress,
                      const int32_t* clientSize, const int32_t* videoRect, HWND window, HDC backBufferDc,
                      int32_t channel);
    ~CMotionAreaEditor() override;

    // A left press starts a drag (the area empties), moves with the left
    // button draw it, the release ends it; a right release opens the menu
    // (when menus are allowed), ending no drag.
    int OnMouseMove(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    int OnButtonDown(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    int OnButtonUp(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    void OnCommand(int32_t id) override;
    void Paint() override;
    int Save(int showMessage) override;

    // The device's grid size; a limit of 0 (a device that did not say)
    // leaves every conversion into that axis at 0.
    void SetLimits(int32_t xLimit, int32_t yLimit);
    // The area in grid units, also as the saved area; the video area follows
    // when both limits are known, else it is empty.
    void SetDeviceRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    // The whole picture.
    void SelectMax();
    // Back to the saved area and enable flag.
    void Restore();
    // The current area and enable flag become the saved ones.
    void Remember();
    void SetLabel(const std::string& label);
    void SetDrawMode(int32_t mode);
    void SetMenuAllowed(int32_t allowed);
    void SetEnabled(int32_t enabled);
    // Drag points all 0 and the areas recomputed: an empty area at the
    // top left corner.
    void Clear();
    // Draws the area (and with drawLabel its label) into dc; with clearFirst
    // the back-buffer context's video rectangle is cleared first.
    void DrawArea(HDC dc, bool drawLabel, bool clearFirst);

    // The area in grid units and in video pixels, the enable flags.
    RECT DeviceArea();
    RECT VideoArea();
    RECT SavedArea();
    int32_t Enabled();
    int32_t SavedEnabled();
    int32_t XLimit();
    int32_t YLimit();
    // The "motionxy" value of the area: x1 y1 x2 y2, three digits each.
    std::string MotionXyValue();

private:
    void Recompute();
    void VideoFromDevice();
    // The value clamped to 0..limit.
    static int32_t Clamp(int32_t value, int32_t limit);

    // --- Members, in this order (all guarded by mLock). ---
    int32_t mDragStartX = 0;
    int32_t mDragCurrentX = 0;
    int32_t mDragStartY = 0;
    int32_t mDragCurrentY = 0;
    int32_t mDrawMode = kDrawModeThick;
    int32_t mMenuAllowed = 1;
    int32_t mDragging = 0;
    RECT mVideoArea{0, 0, 0, 0};
    RECT mDeviceArea{0, 0, 0, 0}; // x1, y1, x2, y2
    HPEN m_hThickEnabledPen = nullptr;
    HPEN m_hThickDisabledPen = nullptr;
    HPEN m_hThinEnabledPen = nullptr;
    HPEN m_hThinDisabledPen = nullptr;
    HBRUSH m_hFillBrush = nullptr;
    std::string mLabel;
    RECT mSavedArea{0, 0, 0, 0};
    int32_t mXLimit = 1;
    int32_t mYLimit = 1;
    int32_t mSavedEnabled = 0;
    media_util::CCritSection mLock;
};
