// The pan/tilt/zoom control over a channel's video: while a mouse button is
// held the camera turns towards the pointer, faster the further the pointer
// is from the window's centre; the release stops it; the wheel zooms in
// (away from the user) or out for a moment.
//
// Each action becomes a command text that the control's command worker
// sends as the parameter "qk310output":
//
//   move   "A000" flags pan tilt    flags: 2 right of the centre, else 4;
//                                   plus 16 below it, else 8; speeds
//                                   |dx| x 63 / (width / 2), |dy| x 63 /
//                                   (height / 2), two hexadecimal digits
//   stop   "A000000000"
//   wheel  "A0002000FF" (delta above 0) or "A00040FF00", a 50 ms pause
//          ("@SLEEP_50", kept by the worker) and the stop
//
// so in a 640 x 480 window a press at the centre is A0000C0000, at the far
// corner A000123F3F, at (480, 120) A0000A1F1F. Every move of the mouse while
// a button is held queues one move.
//
// While steering the control draws a thin red line from the picture's centre
// to the pointer, showing the direction and the strength.
//
// Threads: the host's thread (input), the overlay worker's (Paint) and the
// command worker's (sending); mLock serialises the control's operations, the
// worker's own lock its queue (taken inside mLock).
#pragma once

#include "editors/COverlayControl.h"
#include "platform/CCritSection.h"
#include "ptz/CPtzCommandWorker.h"

#include <memory>
#include <string>

class CPtzControl : public COverlayControl {
public:
    static constexpr const char* kStopCommand = "A000000000";
    static constexpr const char* kZoomInCommand = "A0002000FF";
    static constexpr const char* kZoomOutCommand = "A00040FF00";
    // The pause between a wheel step's zoom and its stop.
    static constexpr int kZoomPauseMs = 50;
    static constexpr int kMaxSpeed = 63;
    static constexpr COLORREF kLineColour = RGB(255, 0, 0);
    // Direction flags of a move.
    static constexpr int kRight = 0x02;
    static constexpr int kLeft = 0x04;
    static constexpr int kUp = 0x08;
    static constexpr int kDown = 0x10;

    // The construction arguments of every overlay control; starts the
    // command worker.
    CPtzControl(CDeviceProfile* dialect, CHttpLink* link, const char* deviceAddress,
                const int32_t* clientSize, const int32_t* videoRect, HWND window, HDC backBufferDc,
                int32_t channel);
    // Stops the worker (commands not yet sent are dropped).
    ~CPtzControl() override;

    // Any button starts steering towards the press; moves with it held steer
    // on; the release stops.
    int OnMouseMove(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    int OnButtonDown(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    int OnButtonUp(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    // The wheel notification: the third value is the delta.
    int OnWheel(int32_t a, int32_t b, int32_t delta, int32_t c, int32_t d) override;
    void Paint() override;

    // The move command for a pointer at (x, y) of a client of width x height.
    static std::string MoveCommand(int32_t x, int32_t y, int32_t width, int32_t height);
    bool Steering();
    CPtzCommandWorker& Worker() { return *mpWorker; }

private:
    void Move(int32_t x, int32_t y);
    void StopMove();
    void Zoom(int32_t delta);

    // --- Members, in this order (all guarded by mLock). ---
    int32_t mPressX = -1; // -1 while no button is held
    int32_t mPressY = 0;
    int32_t mPointerX = 0;
    int32_t mPointerY = 0;
    int32_t mPressKeys = 0;
    int32_t mPressExtra = 0;
    HPEN m_hPen = nullptr;
    std::unique_ptr<CPtzCommandWorker> mpWorker;
    media_util::CCritSection mLock;
};
