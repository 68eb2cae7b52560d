// Which window message reaches which of the viewer's input hooks: the
// mapping every host that shows an editor or the PTZ control over a
// channel's video makes (docs/editors.md explains it for embedding hosts).
//
// | message                         | hook | arguments                                  |
// |---------------------------------|------|--------------------------------------------|
// | WM_MOUSELEAVE                   | 1    | none                                       |
// | WM_MOUSEMOVE                    | 2    | x, y, key state, extra                     |
// | WM_LBUTTONDOWN, R.., M..        | 3    | x, y, the button's bit + modifiers, extra  |
// | WM_LBUTTONUP, R.., M..          | 4    | x, y, the button's bit + modifiers, extra  |
// | WM_MOUSEWHEEL                   | 6    | x, y, delta (120 a notch), key state, extra|
// | WM_COMMAND                      | 7    | wParam (the menu item's identifier)        |
//
// x and y are client pixels of the channel's window. A press or release
// names the button that changed (kLeftButton, kRightButton, MK_MBUTTON), not
// the buttons held after it as Windows' wParam does: an editor opens its
// menu on a release that carries the right button's bit. A move carries the
// buttons held. "extra" is bit 0 = the erase modifier of the motion block
// grid, set while Shift is held. Hook 5 (a double click) gets nothing from
// this mapping: no control uses it.
//
// Threads: the host's thread, the one that drains the window's messages.
#pragma once

#include "os/window/Window.h"

#include <cstdint>

class CViewer;

class CWindowInput {
public:
    // Forward's result for a message that is no input of a control.
    static constexpr int kNotInput = -1;
    // The erase modifier in "extra".
    static constexpr int32_t kEraseModifier = 1;

    // Hands an input message of the channel's window to the viewer's hook:
    // the hook's result (hook 7: 1), or kNotInput for any other message.
    static int Forward(CViewer& viewer, const MSG& message);
    // The key state and the "extra" word a mouse message gives its hook.
    static int32_t KeyState(const MSG& message);
    static int32_t Extra(const MSG& message);
};
