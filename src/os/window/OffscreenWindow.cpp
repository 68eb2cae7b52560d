#include "os/window/OffscreenWindow.h"

namespace os {

OffscreenWindow::OffscreenWindow(int width, int height) : Window(width, height) {}

OffscreenWindow::~OffscreenWindow() {
    RetireTopLevel();
}

void OffscreenWindow::SetScreenPosition(int x, int y) {
    mScreenX = x;
    mScreenY = y;
}

void OffscreenWindow::ClientOrigin(double* x, double* y, double* scaleX, double* scaleY) {
    *x = mScreenX.load();
    *y = mScreenY.load();
    *scaleX = 1;
    *scaleY = 1;
}

} // namespace os
