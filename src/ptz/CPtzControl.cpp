#include "ptz/CPtzControl.h"

#include "platform/CLockWrap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using media_util::CLockWrap;

CPtzControl::CPtzControl(CDeviceProfile* dialect, CHttpLink* link, const char* deviceAddress,
                         const int32_t* clientSize, const int32_t* videoRect, HWND window, HDC backBufferDc,
                         int32_t channel)
    : COverlayControl(dialect, link, deviceAddress, clientSize, videoRect, window, backBufferDc, channel) {
    m_hPen = CreatePen(PS_SOLID, 1, kLineColour);
    mpWorker = std::make_unique<CPtzCommandWorker>(dialect, link, deviceAddress ? deviceAddress : "");
    mpWorker->Start();
}

CPtzControl::~CPtzControl() {
    mpWorker.reset();
    DeleteObject(m_hPen);
}

std::string CPtzControl::MoveCommand(int32_t x, int32_t y, int32_t width, int32_t height) {
    const int32_t halfWidth = width / 2;
    const int32_t halfHeight = height / 2;
    const int32_t dx = x - halfWidth;
    const int32_t dy = y - halfHeight;
    // A window narrower or lower than 2 pixels has no centre to steer from.
    const int32_t pan = halfWidth != 0 ? std::abs(dx) * kMaxSpeed / halfWidth : 0;
    const int32_t tilt = halfHeight != 0 ? std::abs(dy) * kMaxSpeed / halfHeight : 0;
    const int flags = (dx > 0 ? kRight : kLeft) + (dy > 0 ? kDown : kUp);
    char text[32];
    std::snprintf(text, sizeof text, "A000%02X%02X%02X", flags & 0xFF, pan & 0xFF, tilt & 0xFF);
    return text;
}

void CPtzControl::Move(int32_t x, int32_t y) {
    RECT client{0, 0, 0, 0};
    GetClientRect(m_hWnd, &client);
    x = std::max<int32_t>(0, std::min<int32_t>(x, client.right));
    y = std::max<int32_t>(0, std::min<int32_t>(y, client.bottom));
    mpWorker->Append({MoveCommand(x - client.left, y - client.top, client.right - client.left,
                                  client.bottom - client.top)},
                     true);
}

void CPtzControl::StopMove() {
    mpWorker->Append({kStopCommand}, false);
}

void CPtzControl::Zoom(int32_t delta) {
    mpWorker->Append({delta > 0 ? kZoomInCommand : kZoomOutCommand, "@SLEEP_" + std::to_string(kZoomPauseMs),
                      kStopCommand},
                     false);
}

int CPtzControl::OnButtonDown(int32_t x, int32_t y, int32_t keys, int32_t extra) {
    CLockWrap lock(mLock);
    mPressX = x;
    mPressY = y;
    mPressKeys = keys;
    mPressExtra = extra;
    Move(x, y);
    return 1;
}

int CPtzControl::OnMouseMove(int32_t x, int32_t y, int32_t, int32_t) {
    CLockWrap lock(mLock);
    mPointerX = x;
    mPointerY = y;
    if (mPressX >= 0)
        Move(x, y);
    return 1;
}

int CPtzControl::OnButtonUp(int32_t, int32_t, int32_t, int32_t) {
    CLockWrap lock(mLock);
    if (mPressX >= 0)
        StopMove();
    mPressX = -1;
    return 1;
}

int CPtzControl::OnWheel(int32_t, int32_t, int32_t delta, int32_t, int32_t) {
    CLockWrap lock(mLock);
    Zoom(delta);
    return 1;
}

bool CPtzControl::Steering() {
    CLockWrap lock(mLock);
    return mPressX >= 0;
}

void CPtzControl::Paint() {
    CLockWrap lock(mLock);
    if (m_hBackDC == nullptr)
        return;
    ClearVideo();
    SetBkMode(m_hBackDC, TRANSPARENT);
    if (mPressX < 0)
        return;
    SelectObject(m_hBackDC, m_hPen);
    const int32_t width = mVideoRight - mVideoLeft;
    const int32_t height = mVideoBottom - mVideoTop;
    MoveToEx(m_hBackDC, width / 2, height / 2, nullptr);
    const int32_t x = std::max(0, std::min(Scale(mVideoWidth, mPointerX, mClientWidth), mVideoRight));
    const int32_t y = std::max(0, std::min(Scale(mVideoHeight, mPointerY, mClientHeight), mVideoBottom));
    LineTo(m_hBackDC, x, y);
}
