// The windows a host gives CViewer::StartDisplay, for hosts that embed the
// viewer through its class interface (Viewer.h).
//
// A window handle is a pointer to an os::Window: an os::OffscreenWindow (no
// display needed; the host reads the pictures from its surface) or an
// os::SdlWindow (a real window on the desktop, made and pumped on the host's
// thread). Several channels share one window as its child windows
// (os::Window::CreateChild), one rectangle of the surface each.
//
//   os::OffscreenWindow window(640, 480);
//   viewer.StartDisplay(&window);
//   ...
//   std::vector<uint8_t> bgrx = window.Snapshot();   // rows top-down, 4 bytes a pixel
//
// The window must outlive the display: the host calls StopDisplay (or
// destroys the viewer) before it destroys the window.
#pragma once

#include "os/window/OffscreenWindow.h"
#include "os/window/SdlWindow.h"
