#include "editors/CMotionAreaEditor.h"

#include "platform/CLockWrap.h"
#include "platform/CStrUtil.h"
#include "platform/Trace.h"

#include <algorithm>

using media_util::CLockWrap;
using media_util::CStrUtil;

CMotionAreaEditor::CMotionAreaEditor(CDeviceProfile* dialect, CHttpLink* link, const char* deviceAddress,
                                     const int32_t* clientSize, const int32_t* videoRect, HWND window,
                                     HDC backBufferDc, int32_t channel)
    : COverlayControl(dialect, link, deviceAddress, clientSize, videoRect, window, backBufferDc, channel) {
    mOverlayAlpha = kAlpha;
    const int thick = ThickPenWidth();
    const int thin = ThinPenWidth();
    m_hThickEnabledPen = CreatePen(PS_SOLID, thick, kThickEnabledColour);
    m_hThickDisabledPen = CreatePen(PS_SOLID, thick, kThickDisabledColour);
    m_hThinEnabledPen = CreatePen(PS_SOLID, thin, kThinEnabledColour);
    m_hThinDisabledPen = CreatePen(PS_SOLID, thin, kThinDisabledColour);
    m_hFillBrush = CreateSolidBrush(kFillColour);

    CExchangeBudget budget(mpLink);
    const int32_t xLimit = QueryLong("getmotionxlimit");
    const int32_t yLimit = QueryLong("getmotionylimit");
    SetLimits(xLimit, yLimit);
    const int32_t x1 = QueryLong("getmotionx1");
    const int32_t x2 = QueryLong("getmotionx2");
    const int32_t y1 = QueryLong("getmotiony1");
    const int32_t y2 = QueryLong("getmotiony2");
    SetDeviceRect(x1, y1, x2, y2);
    std::string enable;
    mSavedEnabled = QueryParam("getmotionenable", enable) != 0 && CStrUtil::ParseBool(enable) ? 1 : 0;
}

CMotionAreaEditor::~CMotionAreaEditor() {
    DeleteObject(m_hThickEnabledPen);
    DeleteObject(m_hThickDisabledPen);
    DeleteObject(m_hThinEnabledPen);
    DeleteObject(m_hThinDisabledPen);
    DeleteObject(m_hFillBrush);
}

int32_t CMotionAreaEditor::Clamp(int32_t value, int32_t limit) {
    return std::max(0, std::min(value, limit));
}

void CMotionAreaEditor::SetLimits(int32_t xLimit, int32_t yLimit) {
    CLockWrap lock(mLock);
    mXLimit = xLimit;
    mYLimit = yLimit;
}

void CMotionAreaEditor::VideoFromDevice() {
    if (mXLimit == 0 || mYLimit == 0) {
        mVideoArea = RECT{0, 0, 0, 0};
        return;
    }
    mVideoArea.left = Scale(mVideoWidth, mDeviceArea.left, mXLimit);
    mVideoArea.top = Scale(mVideoHeight, mDeviceArea.top, mYLimit);
    mVideoArea.right = Scale(mVideoWidth, mDeviceArea.right, mXLimit);
    mVideoArea.bottom = Scale(mVideoHeight, mDeviceArea.bottom, mYLimit);
}

void CMotionAreaEditor::SetDeviceRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    CLockWrap lock(mLock);
    mSavedArea = RECT{x1, y1, x2, y2};
    mDeviceArea = mSavedArea;
    VideoFromDevice();
}

void CMotionAreaEditor::Recompute() {
    const int32_t left = std::min(mDragStartX, mDragCurrentX);
    const int32_t right = std::max(mDragStartX, mDragCurrentX);
    const int32_t top = std::min(mDragStartY, mDragCurrentY);
    const int32_t bottom = std::max(mDragStartY, mDragCurrentY);
    mVideoArea.left = Scale(mVideoWidth, left, mClientWidth);
    mVideoArea.right = Scale(mVideoWidth, right, mClientWidth);
    mVideoArea.top = Scale(mVideoHeight, top, mClientHeight);
    mVideoArea.bottom = Scale(mVideoHeight, bottom, mClientHeight);
    mDeviceArea.left = Scale(mXLimit, mVideoArea.left, mVideoWidth);
    mDeviceArea.right = Scale(mXLimit, mVideoArea.right, mVideoWidth);
    mDeviceArea.top = Scale(mYLimit, mVideoArea.top, mVideoHeight);
    mDeviceArea.bottom = Scale(mYLimit, mVideoArea.bottom, mVideoHeight);
    // A drag to the window's far edge lands on the limit itself, one past
    // the last cell of the device's grid.
    if (mDeviceArea.right >= mXLimit && mXLimit >= 1)
        mDeviceArea.right = mXLimit - 1;
    if (mDeviceArea.bottom >= mYLimit && mYLimit >= 1)
        mDeviceArea.bottom = mYLimit - 1;
}

int CMotionAreaEditor::OnButtonDown(int32_t x, int32_t y, int32_t keys, int32_t) {
    CLockWrap lock(mLock);
    if ((keys & kLeftButton) == 0)
        return 1;
    mDragStartX = x;
    mDragStartY = y;
    mVideoArea = RECT{0, 0, 0, 0};
    mDeviceArea = RECT{0, 0, 0, 0};
    return 1;
}

int CMotionAreaEditor::OnMouseMove(int32_t x, int32_t y, int32_t keys, int32_t) {
    CLockWrap lock(mLock);
    if ((keys & kLeftButton) == 0)
        return 1;
    mDragging = 1;
    media_util::Trace("MouseMove x:%d,y:%d \n", x, y);
    mDragCurrentX = Clamp(x, mClientWidth);
    mDragCurrentY = Clamp(y, mClientHeight);
    Recompute();
    return 1;
}

int CMotionAreaEditor::OnButtonUp(int32_t x, int32_t y, int32_t keys, int32_t) {
    CLockWrap lock(mLock);
    if ((keys & kRightButton) != 0 && mMenuAllowed != 0) {
        // The menu ends no drag: the area keeps what the last move made of it.
        std::vector<SMenuEntry> menu;
        if (mEnabled != 0)
            menu.push_back({kCmdDisable, "Disable motion."});
        else
            menu.push_back({kCmdEnable, "Enable motion."});
        menu.push_back({kCmdSelectMax, "Select the &max area. "});
        menu.push_back({kCmdClear, "&Clear"});
        menu.push_back({kCmdRestore, "Res&tore"});
        menu.push_back({0, ""});
        menu.push_back({kCmdSave, "&Save setting"});
        TrackMenu(menu, x, y);
        return 1;
    }
    if (mDragging != 0) {
        mDragCurrentX = Clamp(x, mClientWidth);
        mDragCurrentY = Clamp(y, mClientHeight);
        Recompute();
    }
    mDragging = 0;
    return 1;
}

void CMotionAreaEditor::OnCommand(int32_t id) {
    CLockWrap lock(mLock);
    switch (id) {
    case kCmdClear:
        Clear();
        break;
    case kCmdSelectMax:
        SelectMax();
        break;
    case kCmdRestore:
        Restore();
        break;
    case kCmdDisable:
        mEnabled = 0;
        break;
    case kCmdEnable:
        mEnabled = 1;
        break;
    case kCmdSave:
        Save(1);
        break;
    default:
        break;
    }
}

void CMotionAreaEditor::Clear() {
    CLockWrap lock(mLock);
    mDragStartX = mDragCurrentX = mDragStartY = mDragCurrentY = 0;
    Recompute();
}

void CMotionAreaEditor::SelectMax() {
    CLockWrap lock(mLock);
    mVideoArea = RECT{0, 0, mVideoWidth, mVideoHeight};
    mDeviceArea = RECT{0, 0, mXLimit, mYLimit};
    if (mXLimit >= 1)
        mDeviceArea.right = mXLimit - 1;
    if (mYLimit >= 1)
        mDeviceArea.bottom = mYLimit - 1;
}

void CMotionAreaEditor::Restore() {
    CLockWrap lock(mLock);
    mEnabled = mSavedEnabled;
    mDeviceArea = mSavedArea;
    VideoFromDevice();
}

void CMotionAreaEditor::Remember() {
    CLockWrap lock(mLock);
    mSavedArea = mDeviceArea;
    mSavedEnabled = mEnabled;
}

void CMotionAreaEditor::SetLabel(const std::string& label) {
    CLockWrap lock(mLock);
    mLabel = label;
}

void CMotionAreaEditor::SetDrawMode(int32_t mode) {
    CLockWrap lock(mLock);
    mDrawMode = mode;
}

void CMotionAreaEditor::SetMenuAllowed(int32_t allowed) {
    CLockWrap lock(mLock);
    mMenuAllowed = allowed;
}

void CMotionAreaEditor::SetEnabled(int32_t enabled) {
    CLockWrap lock(mLock);
    mEnabled = enabled;
}

void CMotionAreaEditor::Paint() {
    CLockWrap lock(mLock);
    if (m_hBackDC == nullptr)
        return;
    DrawArea(m_hBackDC, false, true);
}

void CMotionAreaEditor::DrawArea(HDC dc, bool drawLabel, bool clearFirst) {
    CLockWrap lock(mLock);
    if (clearFirst)
        ClearVideo();
    if (mEnabled != 0)
        FillRect(dc, &mVideoArea, m_hFillBrush);
    SetBkMode(dc, TRANSPARENT);
    if (drawLabel) {
        SelectObject(dc, m_hThickDisabledPen);
        // GDI draws text in the context's text colour, not the pen's: the
        // overlay's caption leaves it near-white, which the fill would hide.
        SetTextColor(dc, kThickDisabledColour);
        RECT box = mVideoArea;
        DrawTextA(dc, mLabel.c_str(), -1, &box, 0);
    }
    HPEN outline;
    if (mDrawMode == kDrawModeThin)
        outline = mEnabled != 0 ? m_hThinEnabledPen : m_hThinDisabledPen;
    else
        outline = mEnabled != 0 ? m_hThickEnabledPen : m_hThickDisabledPen;
    SelectObject(dc, outline);
    MoveToEx(dc, mVideoArea.left, mVideoArea.top, nullptr);
    LineTo(dc, mVideoArea.right, mVideoArea.top);
    LineTo(dc, mVideoArea.right, mVideoArea.bottom);
    LineTo(dc, mVideoArea.left, mVideoArea.bottom);
    LineTo(dc, mVideoArea.left, mVideoArea.top);
}

std::string CMotionAreaEditor::MotionXyValue() {
    CLockWrap lock(mLock);
    std::string value;
    for (int32_t coordinate : {mDeviceArea.left, mDeviceArea.top, mDeviceArea.right, mDeviceArea.bottom})
        value += CStrUtil::FixLen(CStrUtil::Num2TStr(coordinate), kCoordinateDigits);
    return value;
}

int CMotionAreaEditor::Save(int showMessage) {
    CLockWrap lock(mLock);
    Remember();
    CExchangeBudget budget(mpLink);
    bool saved = SetParam("motionenable", mEnabled != 0 ? "1" : "0") != 0;
    // Nothing more is written once the device refused the switch.
    if (saved)
        saved = SetParam("motionxy", MotionXyValue()) != 0;
    return EndSave(saved, showMessage);
}

RECT CMotionAreaEditor::DeviceArea() {
    return Locked(mLock, mDeviceArea);
}
RECT CMotionAreaEditor::VideoArea() {
    return Locked(mLock, mVideoArea);
}
RECT CMotionAreaEditor::SavedArea() {
    return Locked(mLock, mSavedArea);
}
int32_t CMotionAreaEditor::Enabled() {
    return Locked(mLock, mEnabled);
}
int32_t CMotionAreaEditor::SavedEnabled() {
    return Locked(mLock, mSavedEnabled);
}
int32_t CMotionAreaEditor::XLimit() {
    return Locked(mLock, mXLimit);
}
int32_t CMotionAreaEditor::YLimit() {
    return Locked(mLock, mYLimit);
}
