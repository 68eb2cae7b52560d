// A top-level window without a display: the headless host's window and the
// tests' window.
//
// Its surface is read with SurfaceLock or Snapshot; input is made with
// PostMouse / PostKey; menus and message boxes take their scripted answers
// (ScriptMenuAnswer, ScriptMessageBoxAnswer) and, without one, a menu is
// dismissed and a box gets Window::DefaultAnswer. Every menu and box is
// recorded (Dialogs, SetDialogObserver).
#pragma once

#include "os/window/Window.h"

namespace os {

class OffscreenWindow final : public Window {
public:
    // A client area of width x height pixels (1 .. kMaxWindowSize), black.
    OffscreenWindow(int width, int height);
    ~OffscreenWindow() override;

    // Where the client area's top left corner lies on the (imaginary)
    // screen, for ClientToScreen; (0, 0) at first.
    void SetScreenPosition(int x, int y);

protected:
    void ClientOrigin(double* x, double* y, double* scaleX, double* scaleY) override;

private:
    std::atomic<int> mScreenX{0};
    std::atomic<int> mScreenY{0};
};

} // namespace os
