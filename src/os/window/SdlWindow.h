// A top-level window on the desktop, through SDL2.
//
// The surface keeps the size it was made with; the window shows it scaled
// to whatever size the user gives the window (aspect kept, bars around), and
// mouse positions come back in surface pixels. Mouse, wheel and key events
// become messages of the window (Window::PostMouse / PostKey), the pointer
// leaving the window WM_MOUSELEAVE, the close button WM_CLOSE. Popup menus and message boxes without a
// scripted answer are SDL message boxes: a menu shows its items as buttons.
//
// Threads: SDL wants one thread to make, pump and destroy its windows: the
// host's thread that calls Create. That thread drains the messages
// (PeekMessage / WaitMessage), which also presents the surface after it was
// invalidated and shows the process's current cursor. Planar pictures in
// 4:2:0 (Window::PlanarLock) go to the screen through YUV textures, the
// conversion left to the GPU (or to SDL where there is none). Renderer threads
// only write the surface under its lock and call InvalidateRect, which
// wakes that thread. Several SdlWindows of one process share SDL's event
// queue; pumping any of them hands every window its own events.
#pragma once

#include "os/window/Window.h"

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
struct SDL_Cursor;
union SDL_Event;

namespace os {

class SdlWindow final : public Window {
public:
    // Opens a window titled title, of windowWidth x windowHeight screen
    // pixels (0: the surface's size), showing a surface of width x height.
    // Null, with SDL's reason in *error, when there is no display or SDL
    // cannot make the window. SDL installs no signal handlers: the host
    // keeps SIGINT and SIGTERM.
    static std::unique_ptr<SdlWindow> Create(const std::string& title, int width, int height, int windowWidth,
                                             int windowHeight, std::string* error);
    ~SdlWindow() override;

    // Copies the surface to the screen now (host thread).
    void Present();
    // Number of presents so far.
    uint64_t PresentCount() const { return mPresents.load(); }
    // SDL's window identifier, for tests that push SDL events.
    uint32_t WindowId() const { return mWindowId; }

protected:
    void ClientOrigin(double* x, double* y, double* scaleX, double* scaleY) override;
    int AskMenu(const std::vector<MenuItem>& items, POINT screen) override;
    int AskMessageBox(const std::string& text, const std::string& caption, UINT type) override;
    void PumpEvents(DWORD milliseconds) override;
    void OnInvalidated() override;
    void OnPosted() override;

private:
    SdlWindow(int width, int height);
    bool OnSdlThread() const;
    void Wake();
    void Handle(const SDL_Event& event);
    void ApplyCursor();
    void UpdateOrigin();
    static void Route(const SDL_Event& event);

    SDL_Window* mpWindow = nullptr;
    SDL_Renderer* mpRenderer = nullptr;
    SDL_Texture* mpTexture = nullptr;
    // A YUV texture per rectangle that showed a 4:2:0 planar picture at the
    // last present; one that a present did not use goes (SDL thread only).
    struct YuvTexture {
        RECT rect;
        SDL_Texture* texture;
        bool used;
    };
    std::vector<YuvTexture> mYuvTextures;
    uint32_t mWindowId = 0;
    DWORD mSdlThread = 0;
    std::atomic<bool> mDirty{true};
    std::atomic<bool> mWakePending{false};
    std::atomic<uint64_t> mPresents{0};

    // Mouse state as the events tell it (SDL thread only).
    WPARAM mButtons = 0;
    POINT mLastMouse{0, 0};

    // Cursors made for the process's current cursor (SDL thread only).
    std::map<int, SDL_Cursor*> mCursors;
    HCURSOR mShownCursor = nullptr;

    // Where the surface lies on the screen, refreshed by each pump so that
    // other threads can convert coordinates; guarded by mOriginLock.
    std::mutex mOriginLock;
    double mOriginX = 0, mOriginY = 0, mScaleX = 1, mScaleY = 1;
};

} // namespace os
