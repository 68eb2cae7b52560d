// The window of `ipcamview view`: one top-level window holding a grid of
// child windows, a cell per viewer, each cell the window a channel is shown
// in. A real window on the desktop (SDL2) when a display opens and the user
// did not ask for --headless, else an off-screen window of the same layout.
//
// Threads: made, pumped and destroyed on the host's thread; the channels'
// renderers write into the cells from their own threads under the window's
// surface lock.
#pragma once

#include "os/window/Window.h"

#include <memory>
#include <string>
#include <vector>

class CViewWindow {
public:
    // A grid of `cells` cells of cellWidth x cellHeight, as square as it
    // goes (columns = ceil(sqrt(cells))). headless: never try a display.
    // *note gets a line for the user when a display was wanted but none
    // opened.
    CViewWindow(int cells, int cellWidth, int cellHeight, bool headless, const std::string& title,
                std::string* note);
    ~CViewWindow();

    bool IsOnScreen() const { return mOnScreen; }
    // The window of cell i (row by row).
    HWND Cell(size_t i) const { return mCells[i]; }
    os::Window* TopLevel() const { return mpWindow.get(); }

    // Waits up to milliseconds for a message of the window (presenting what
    // the renderers drew meanwhile); false when none came.
    bool WaitMessage(MSG* message, DWORD milliseconds) {
        return mpWindow->WaitMessage(message, milliseconds);
    }
    // The index of the cell a window handle is, -1 for none (the top-level
    // window itself, or a window of another).
    int CellIndex(HWND window) const;

    // Writes what the window shows (overlay included) to path as PNG; false
    // with the reason in *error.
    bool WritePng(const std::string& path, std::string* error);

private:
    std::unique_ptr<os::Window> mpWindow;
    std::vector<HWND> mCells;
    bool mOnScreen = false;
};
