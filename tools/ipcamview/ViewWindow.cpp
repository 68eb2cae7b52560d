#include "ViewWindow.h"

#include "os/window/OffscreenWindow.h"
#include "os/window/SdlWindow.h"

#include <cairo.h>
#include <cmath>
#include <cstdlib>

CViewWindow::CViewWindow(int cells, int cellWidth, int cellHeight, bool headless, const std::string& title,
                         std::string* note) {
    const int columns = std::max(1, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(cells)))));
    const int rows = (cells + columns - 1) / columns;
    const int width = columns * cellWidth;
    const int height = rows * cellHeight;
    if (!headless) {
        std::string error;
        const char* display = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if ((display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0'))
            mpWindow = os::SdlWindow::Create(title, width, height, 0, 0, &error);
        else
            error = "no display (DISPLAY is not set)";
        if (mpWindow == nullptr && note != nullptr)
            *note = "no window: " + error + "; running headless";
        mOnScreen = mpWindow != nullptr;
    }
    if (mpWindow == nullptr)
        mpWindow = std::make_unique<os::OffscreenWindow>(width, height);
    for (int i = 0; i < cells; ++i) {
        const int x = (i % columns) * cellWidth;
        const int y = (i / columns) * cellHeight;
        mCells.push_back(mpWindow->CreateChild(RECT{x, y, x + cellWidth, y + cellHeight}));
    }
}

CViewWindow::~CViewWindow() = default;

int CViewWindow::CellIndex(HWND window) const {
    for (size_t i = 0; i < mCells.size(); ++i)
        if (mCells[i] == window)
            return static_cast<int>(i);
    return -1;
}

bool CViewWindow::WritePng(const std::string& path, std::string* error) {
    std::vector<uint8_t> pixels = mpWindow->Snapshot();
    const int width = mpWindow->Width();
    const int height = mpWindow->Height();
    const int stride = width * 4;
    if (cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width) != stride ||
        pixels.size() < static_cast<size_t>(stride) * height) {
        *error = "unexpected surface layout";
        return false;
    }
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(pixels.data(), CAIRO_FORMAT_RGB24, width, height, stride);
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        *error = cairo_status_to_string(status);
        return false;
    }
    return true;
}
