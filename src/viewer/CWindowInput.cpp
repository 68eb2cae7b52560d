#include "viewer/CWindowInput.h"

#include "viewer/CViewer.h"

namespace {

constexpr WPARAM kButtons = MK_LBUTTON | MK_RBUTTON | MK_MBUTTON;

// The button a press or release is about; 0 for other messages.
WPARAM ButtonOf(UINT message) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        return MK_LBUTTON;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        return MK_RBUTTON;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        return MK_MBUTTON;
    default:
        return 0;
    }
}

} // namespace

int32_t CWindowInput::KeyState(const MSG& message) {
    // The wheel's key state is the low word; its high word is the delta.
    const WPARAM keys = message.wParam & 0xFFFF;
    const WPARAM button = ButtonOf(message.message);
    if (button == 0)
        return static_cast<int32_t>(keys);
    return static_cast<int32_t>((keys & ~kButtons) | button);
}

int32_t CWindowInput::Extra(const MSG& message) {
    return (message.wParam & MK_SHIFT) != 0 ? kEraseModifier : 0;
}

int CWindowInput::Forward(CViewer& viewer, const MSG& message) {
    const int32_t x = GET_X_LPARAM(message.lParam);
    const int32_t y = GET_Y_LPARAM(message.lParam);
    switch (message.message) {
    case WM_MOUSELEAVE:
        return viewer.InputHook1();
    case WM_MOUSEMOVE:
        return viewer.InputHook2(x, y, KeyState(message), Extra(message));
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        return viewer.InputHook3(x, y, KeyState(message), Extra(message));
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        return viewer.InputHook4(x, y, KeyState(message), Extra(message));
    case WM_MOUSEWHEEL:
        return viewer.InputHook6(x, y, GET_WHEEL_DELTA_WPARAM(message.wParam), KeyState(message),
                                 Extra(message));
    case WM_COMMAND:
        viewer.InputHook7(static_cast<int32_t>(message.wParam));
        return 1;
    default:
        return kNotInput;
    }
}
