#include "editors/COverlayControl.h"

#include "device/CDeviceProfile.h"
#include "net/CHttpLink.h"

#include <cstdlib>

COverlayControl::CExchangeBudget::CExchangeBudget(CHttpLink* link) {
    if (link == nullptr || link->HasDeadline())
        return;
    mpLink = link;
    mpLink->SetDeadline(timeGetTime() + kExchangeBudgetMs);
}

COverlayControl::CExchangeBudget::~CExchangeBudget() {
    if (mpLink != nullptr)
        mpLink->ClearDeadline();
}

COverlayControl::COverlayControl(CDeviceProfile* dialect, CHttpLink* link, const char* deviceAddress,
                                 const int32_t* clientSize, const int32_t* videoRect, HWND window,
                                 HDC backBufferDc, int32_t channel)
    : mpProfile(dialect), m_hWnd(window), mChannel(channel), mpLink(link), m_hBackDC(backBufferDc) {
    if (clientSize != nullptr) {
        mClientWidth = clientSize[0];
        mClientHeight = clientSize[1];
    }
    if (deviceAddress != nullptr)
        mDeviceUrl.Crack(deviceAddress);
    if (videoRect != nullptr) {
        mVideoLeft = videoRect[0];
        mVideoTop = videoRect[1];
        mVideoRight = videoRect[2];
        mVideoBottom = videoRect[3];
    }
    mVideoWidth = std::abs(mVideoRight - mVideoLeft);
    mVideoHeight = std::abs(mVideoBottom - mVideoTop);
    m_hBackgroundBrush = CreateSolidBrush(kBackgroundColour);
}

COverlayControl::~COverlayControl() {
    DeleteObject(m_hBackgroundBrush);
}

int COverlayControl::OnMouseLeave() {
    return 0;
}
int COverlayControl::OnMouseMove(int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int COverlayControl::OnButtonDown(int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int COverlayControl::OnButtonUp(int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int COverlayControl::OnDoubleClick(int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int COverlayControl::OnWheel(int32_t, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
void COverlayControl::OnCommand(int32_t) {}

int COverlayControl::Save(int) {
    return 1;
}

int32_t COverlayControl::ReadLong(const std::string& text) {
    return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

int COverlayControl::QueryParam(const std::string& key, std::string& value) {
    if (mpProfile == nullptr)
        return 0;
    return mpProfile->QueryParam(mpLink, &mDeviceUrl, key, value);
}

int COverlayControl::SetParam(const std::string& key, const std::string& value) {
    if (mpProfile == nullptr)
        return 0;
    std::string answer;
    return mpProfile->SetParam(mpLink, &mDeviceUrl, key, value, answer);
}

int32_t COverlayControl::QueryLong(const std::string& key, int32_t fallback) {
    std::string value;
    if (QueryParam(key, value) == 0)
        return fallback;
    return ReadLong(value);
}

void COverlayControl::TrackMenu(const std::vector<SMenuEntry>& entries, int32_t x, int32_t y) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
        return;
    POINT at{x, y};
    ClientToScreen(m_hWnd, &at);
    for (const SMenuEntry& entry : entries) {
        if (entry.id == 0)
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuA(menu, MF_STRING, entry.id, entry.label.c_str());
    }
    // The choice is posted to the window as WM_COMMAND; the host hands it
    // back through the viewer's hook 7.
    TrackPopupMenu(menu, 0, at.x, at.y, 0, m_hWnd, nullptr);
    DestroyMenu(menu);
}

int COverlayControl::EndSave(bool saved, int showMessage) {
    if (showMessage != 0 && saved)
        MessageBoxA(nullptr, kSaveSucceededText, kSaveSucceededCaption, MB_ICONINFORMATION);
    else if (showMessage != 0)
        MessageBoxA(nullptr, kSaveFailedText, kSaveFailedCaption, MB_ICONERROR);
    return saved ? 1 : 0;
}

void COverlayControl::ClearVideo() {
    if (m_hBackDC == nullptr)
        return;
    const RECT video = VideoRect();
    FillRect(m_hBackDC, &video, m_hBackgroundBrush);
}

int32_t COverlayControl::Scale(int32_t a, int32_t b, int32_t c) {
    if (c == 0)
        return 0;
    // The product of a picture size and a window coordinate fits 64 bits;
    // the quotient is what 32-bit arithmetic gives for every size a window
    // or a video can have.
    return static_cast<int32_t>(static_cast<int64_t>(a) * b / c);
}
