#include "editors/CPrivacyMaskEditor.h"

#include "platform/CLockWrap.h"
#include "platform/CStrUtil.h"

#include <algorithm>
#include <cstdlib>

using media_util::CLockWrap;
using media_util::CStrUtil;

CPrivacyMaskEditor::CPrivacyMaskEditor(CDeviceProfile* dialect, CHttpLink* link, const char* deviceAddress,
                                       const int32_t* clientSize, const int32_t* videoRect, HWND window,
                                       HDC backBufferDc, int32_t channel)
    : COverlayControl(dialect, link, deviceAddress, clientSize, videoRect, window, backBufferDc, channel) {
    mOverlayAlpha = kAlpha;
    // One budget for the editor and every mask it makes: each mask asks the
    // motion keys again.
    CExchangeBudget budget(mpLink);
    std::string value;
    if (QueryParam("supportmaskarea", value) == 0 || ReadLong(value) != 1 || mpProfile == nullptr)
        return;
    if (QueryParam("paratest=maxmaskarea", value) == 0)
        return;
    mMaskCount = std::max(0, std::min(ReadLong(value), kMaxMasks));
    for (int32_t i = 0; i < mMaskCount; ++i) {
        auto* mask = new CMotionAreaEditor(dialect, link, deviceAddress, clientSize, videoRect, window,
                                           backBufferDc, channel);
        mask->SetMenuAllowed(0);
        mMasks.push_back(mask);
        mask->SetLabel(std::to_string(i + 1));
        if (i > 0)
            mask->SetDrawMode(CMotionAreaEditor::kDrawModeThin);
    }
    const int32_t xLimit = QueryLong("paratest=maskareaxlimit");
    const int32_t yLimit = QueryLong("paratest=maskareaylimit");
    for (CMotionAreaEditor* mask : mMasks)
        mask->SetLimits(xLimit, yLimit);
    if (QueryParam("paratest=maskarealist.all", value) != 0)
        ReadList(value);
}

CPrivacyMaskEditor::~CPrivacyMaskEditor() {
    for (CMotionAreaEditor* mask : mMasks)
        delete mask;
}

void CPrivacyMaskEditor::ReadList(const std::string& list) {
    CLockWrap lock(mLock);
    std::vector<std::string> items;
    CStrUtil::Split(list, ";", items);
    for (const std::string& item : items) {
        // An item too short to hold its four coordinates is no item.
        if (item.size() < kItemLength)
            continue;
        const int32_t index = CStrUtil::ParseInt(item.substr(2, 1), 16);
        if (index < 0 || index >= mMaskCount)
            continue;
        CMotionAreaEditor* mask = mMasks[static_cast<size_t>(index)];
        mask->SetDeviceRect(
            CStrUtil::ParseInt(item.substr(3, 3), 16), CStrUtil::ParseInt(item.substr(6, 3), 16),
            CStrUtil::ParseInt(item.substr(9, 3), 16), CStrUtil::ParseInt(item.substr(12, 3), 16));
        mask->SetEnabled(item[0] == '1' ? 1 : 0);
    }
}

std::string CPrivacyMaskEditor::ListItem(int32_t index) {
    CLockWrap lock(mLock);
    if (index < 0 || index >= mMaskCount)
        return "";
    CMotionAreaEditor* mask = mMasks[static_cast<size_t>(index)];
    const RECT r = mask->DeviceArea();
    std::string item = mask->Enabled() != 0 ? "1" : "0";
    item += CStrUtil::FixLen(CStrUtil::Num2TStr(index), 2);
    for (int32_t coordinate : {r.left, r.top, r.right, r.bottom})
        item += CStrUtil::FixLen(CStrUtil::Num2TStr(coordinate, 16), 3);
    return item;
}

void CPrivacyMaskEditor::Select(int32_t index) {
    CLockWrap lock(mLock);
    if (index < 0 || index >= mMaskCount)
        return;
    mMasks[static_cast<size_t>(mSelected)]->SetDrawMode(CMotionAreaEditor::kDrawModeThin);
    mSelected = index;
    mMasks[static_cast<size_t>(mSelected)]->SetDrawMode(CMotionAreaEditor::kDrawModeThick);
}

int CPrivacyMaskEditor::OnButtonDown(int32_t x, int32_t y, int32_t keys, int32_t extra) {
    CLockWrap lock(mLock);
    if (mMaskCount == 0)
        return 1;
    // Held back until the pointer moves far enough to make it a drag.
    mPressX = x;
    mPressY = y;
    mPressKeys = keys;
    mPressExtra = extra;
    return 1;
}

int CPrivacyMaskEditor::OnMouseMove(int32_t x, int32_t y, int32_t keys, int32_t extra) {
    CLockWrap lock(mLock);
    if (mMaskCount == 0)
        return 1;
    CMotionAreaEditor* mask = mMasks[static_cast<size_t>(mSelected)];
    if (PressStored()) {
        if (std::abs(x - mPressX) <= kDragThreshold && std::abs(y - mPressY) <= kDragThreshold)
            return 1;
        mask->OnButtonDown(mPressX, mPressY, mPressKeys, mPressExtra);
        ClearPress();
    }
    mask->OnMouseMove(x, y, keys, extra);
    return 1;
}

int CPrivacyMaskEditor::OnButtonUp(int32_t x, int32_t y, int32_t keys, int32_t extra) {
    CLockWrap lock(mLock);
    if (mMaskCount == 0)
        return 1;
    if (!PressStored())
        mMasks[static_cast<size_t>(mSelected)]->OnButtonUp(x, y, keys, extra); // a drag ends
    else
        ClearPress(); // a click
    if ((keys & kRightButton) == 0) {
        Select((mSelected + 1) % mMaskCount);
        return 1;
    }
    std::vector<SMenuEntry> menu;
    for (int32_t i = 0; i < mMaskCount; ++i)
        menu.push_back({kCmdFirstMask + static_cast<UINT>(i),
                        std::string(i == mSelected ? "* " : "_ ") + "Mask &" + std::to_string(i + 1)});
    menu.push_back({0, ""});
    const std::string number = std::to_string(mSelected + 1);
    if (mMasks[static_cast<size_t>(mSelected)]->Enabled() != 0)
        menu.push_back({kCmdDisableMask, "&Disable mask " + number});
    else
        menu.push_back({kCmdEnableMask, "&Enable mask " + number});
    menu.push_back({kCmdSelectMax, "Select the &max area. "});
    menu.push_back({0, ""});
    menu.push_back({kCmdDisableAll, "D&isable all "});
    menu.push_back({kCmdEnableAll, "Enable &all "});
    menu.push_back({kCmdResetAll, "&Reset all "});
    menu.push_back({kCmdRestoreAll, "Res&tore all "});
    menu.push_back({0, ""});
    menu.push_back({kCmdSave, "&Save setting"});
    TrackMenu(menu, x, y);
    return 1;
}

void CPrivacyMaskEditor::OnCommand(int32_t id) {
    CLockWrap lock(mLock);
    if (id >= static_cast<int32_t>(kCmdFirstMask) && id <= static_cast<int32_t>(kCmdLastMask)) {
        Select(id - static_cast<int32_t>(kCmdFirstMask));
        return;
    }
    if (mMaskCount == 0)
        return;
    CMotionAreaEditor* selected = mMasks[static_cast<size_t>(mSelected)];
    switch (id) {
    case kCmdDisableMask:
        selected->SetEnabled(0);
        break;
    case kCmdEnableMask:
        selected->SetEnabled(1);
        break;
    case kCmdDisableAll:
    case kCmdEnableAll:
        for (CMotionAreaEditor* mask : mMasks)
            mask->SetEnabled(id == static_cast<int32_t>(kCmdEnableAll) ? 1 : 0);
        break;
    case kCmdResetAll:
        for (CMotionAreaEditor* mask : mMasks)
            mask->Clear();
        break;
    case kCmdSelectMax:
        selected->SelectMax();
        break;
    case kCmdRestoreAll:
        for (CMotionAreaEditor* mask : mMasks)
            mask->Restore();
        break;
    case kCmdSave:
        Save(1);
        break;
    default:
        break;
    }
}

void CPrivacyMaskEditor::Paint() {
    CLockWrap lock(mLock);
    if (mMaskCount == 0 || m_hBackDC == nullptr)
        return;
    ClearVideo();
    // The selected mask last, on top of the others.
    for (int32_t i = 0; i < mMaskCount; ++i)
        if (i != mSelected)
            mMasks[static_cast<size_t>(i)]->DrawArea(m_hBackDC, true, false);
    mMasks[static_cast<size_t>(mSelected)]->DrawArea(m_hBackDC, true, false);
}

int CPrivacyMaskEditor::Save(int showMessage) {
    CLockWrap lock(mLock);
    for (CMotionAreaEditor* mask : mMasks)
        mask->Remember();
    CExchangeBudget budget(mpLink);
    bool saved = true;
    for (int32_t i = 0; i < mMaskCount && saved; ++i)
        saved = SetParam("maskarea", ListItem(i)) != 0;
    return EndSave(saved, showMessage);
}

int32_t CPrivacyMaskEditor::MaskCount() {
    return Locked(mLock, mMaskCount);
}

int32_t CPrivacyMaskEditor::Selected() {
    return Locked(mLock, mSelected);
}

CMotionAreaEditor* CPrivacyMaskEditor::Mask(int32_t index) {
    CLockWrap lock(mLock);
    return index >= 0 && index < mMaskCount ? mMasks[static_cast<size_t>(index)] : nullptr;
}
