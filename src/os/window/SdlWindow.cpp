#include "os/window/SdlWindow.h"

#include <SDL2/SDL.h>
#include <turbojpeg.h>

#include <algorithm>
#include <vector>

namespace os {

namespace {

// The SDL windows of the process by SDL window id, so that any window's pump
// hands every window its own events. Touched on the SDL thread only, but
// locked so that a misuse shows up as a wrong answer, not a torn map.
std::mutex gRouterLock;
std::map<uint32_t, SdlWindow*> gWindows;

// The user event that wakes a pump waiting in SDL_WaitEventTimeout.
std::atomic<uint32_t> gWakeEvent{0};

// Menu labels mark their keyboard accelerator with '&' ("&Save setting");
// "&&" is a literal '&'.
std::string WithoutAccelerators(const std::string& label) {
    std::string out;
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == '&') {
            if (i + 1 < label.size() && label[i + 1] == '&') {
                out.push_back('&');
                ++i;
            }
            continue;
        }
        out.push_back(label[i]);
    }
    return out;
}

WPARAM KeyModifiers() {
    const SDL_Keymod mod = SDL_GetModState();
    WPARAM keys = 0;
    if (mod & KMOD_SHIFT)
        keys |= MK_SHIFT;
    if (mod & KMOD_CTRL)
        keys |= MK_CONTROL;
    return keys;
}

WPARAM ButtonBit(uint8_t button) {
    switch (button) {
    case SDL_BUTTON_LEFT:
        return MK_LBUTTON;
    case SDL_BUTTON_RIGHT:
        return MK_RBUTTON;
    case SDL_BUTTON_MIDDLE:
        return MK_MBUTTON;
    default:
        return 0;
    }
}

// The virtual key code of an SDL key; 0 for keys the host has no use for.
WPARAM VirtualKey(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z)
        return static_cast<WPARAM>('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9)
        return static_cast<WPARAM>('0' + (key - SDLK_0));
    if (key >= SDLK_F1 && key <= SDLK_F12)
        return VK_F1 + static_cast<WPARAM>(key - SDLK_F1);
    switch (key) {
    case SDLK_ESCAPE:
        return VK_ESCAPE;
    case SDLK_RETURN:
        return VK_RETURN;
    case SDLK_SPACE:
        return VK_SPACE;
    case SDLK_BACKSPACE:
        return VK_BACK;
    case SDLK_TAB:
        return VK_TAB;
    case SDLK_LEFT:
        return VK_LEFT;
    case SDLK_RIGHT:
        return VK_RIGHT;
    case SDLK_UP:
        return VK_UP;
    case SDLK_DOWN:
        return VK_DOWN;
    default:
        return 0;
    }
}

SDL_SystemCursor SystemCursorOf(int id) {
    switch (id) {
    case 32513:
        return SDL_SYSTEM_CURSOR_IBEAM;
    case 32514:
        return SDL_SYSTEM_CURSOR_WAIT;
    case 32515:
        return SDL_SYSTEM_CURSOR_CROSSHAIR;
    case 32646:
        return SDL_SYSTEM_CURSOR_SIZEALL;
    case 32648:
        return SDL_SYSTEM_CURSOR_NO;
    case 32649:
        return SDL_SYSTEM_CURSOR_HAND;
    default:
        return SDL_SYSTEM_CURSOR_ARROW;
    }
}

} // namespace

SdlWindow::SdlWindow(int width, int height) : Window(width, height) {}

std::unique_ptr<SdlWindow> SdlWindow::Create(const std::string& title, int width, int height, int windowWidth,
                                             int windowHeight, std::string* error) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Video pictures scaled to the window: bilinear, not blocky.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    // Planar pictures are JPEG's YCbCr: full range, BT.601.
    SDL_SetYUVConversionMode(SDL_YUV_CONVERSION_JPEG);
    // SDL's video stays up from the first window to the end of the process:
    // closing and reopening the display connection for every window would
    // unload and reload the X libraries each time.
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        if (error)
            *error = SDL_GetError();
        return nullptr;
    }
    if (gWakeEvent.load() == 0) {
        uint32_t type = SDL_RegisterEvents(1);
        gWakeEvent.store(type == static_cast<uint32_t>(-1) ? 0 : type);
    }
    std::unique_ptr<SdlWindow> w(new SdlWindow(width, height));
    w->mSdlThread = GetCurrentThreadId();
    const int ww = windowWidth > 0 ? windowWidth : w->Width();
    const int wh = windowHeight > 0 ? windowHeight : w->Height();
    w->mpWindow = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, ww, wh,
                                   SDL_WINDOW_RESIZABLE);
    if (w->mpWindow)
        w->mpRenderer = SDL_CreateRenderer(w->mpWindow, -1, 0);
    if (w->mpRenderer && SDL_RenderSetLogicalSize(w->mpRenderer, w->Width(), w->Height()) == 0)
        w->mpTexture = SDL_CreateTexture(w->mpRenderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                         w->Width(), w->Height());
    if (!w->mpTexture) {
        if (error)
            *error = SDL_GetError();
        return nullptr; // the destructor releases what was made
    }
    w->mWindowId = SDL_GetWindowID(w->mpWindow);
    {
        std::lock_guard<std::mutex> lock(gRouterLock);
        gWindows[w->mWindowId] = w.get();
    }
    w->UpdateOrigin();
    w->Present();
    return w;
}

SdlWindow::~SdlWindow() {
    RetireTopLevel();
    {
        std::lock_guard<std::mutex> lock(gRouterLock);
        auto it = gWindows.find(mWindowId);
        if (it != gWindows.end() && it->second == this)
            gWindows.erase(it);
    }
    for (auto& c : mCursors)
        SDL_FreeCursor(c.second);
    for (YuvTexture& t : mYuvTextures)
        SDL_DestroyTexture(t.texture);
    if (mpTexture)
        SDL_DestroyTexture(mpTexture);
    if (mpRenderer)
        SDL_DestroyRenderer(mpRenderer);
    if (mpWindow)
        SDL_DestroyWindow(mpWindow);
}

bool SdlWindow::OnSdlThread() const {
    return GetCurrentThreadId() == mSdlThread;
}

void SdlWindow::Present() {
    mDirty = false;
    for (YuvTexture& t : mYuvTextures)
        t.used = false;
    VisitSurface(
        [this](const RECT& rect, const PlanarView& planes) {
            if (planes.subsampling != TJSAMP_420)
                return false; // converted into the surface's pixels
            auto it = std::find_if(mYuvTextures.begin(), mYuvTextures.end(), [&rect](const YuvTexture& t) {
                return t.rect.left == rect.left && t.rect.top == rect.top && t.rect.right == rect.right &&
                       t.rect.bottom == rect.bottom;
            });
            if (it == mYuvTextures.end()) {
                SDL_Texture* texture =
                    SDL_CreateTexture(mpRenderer, SDL_PIXELFORMAT_IYUV, SDL_TEXTUREACCESS_STREAMING,
                                      planes.width, planes.height);
                if (texture == nullptr)
                    return false;
                mYuvTextures.push_back(YuvTexture{rect, texture, false});
                it = mYuvTextures.end() - 1;
            }
            if (SDL_UpdateYUVTexture(it->texture, nullptr, planes.planes[0], planes.strides[0],
                                     planes.planes[1], planes.strides[1], planes.planes[2],
                                     planes.strides[2]) != 0)
                return false;
            it->used = true;
            return true;
        },
        [this](const SurfaceView& view) { SDL_UpdateTexture(mpTexture, nullptr, view.pixels, view.stride); });
    SDL_SetRenderDrawColor(mpRenderer, 0, 0, 0, 255);
    SDL_RenderClear(mpRenderer);
    SDL_RenderCopy(mpRenderer, mpTexture, nullptr, nullptr);
    for (auto it = mYuvTextures.begin(); it != mYuvTextures.end();) {
        if (!it->used) {
            SDL_DestroyTexture(it->texture);
            it = mYuvTextures.erase(it);
            continue;
        }
        const SDL_Rect dst{it->rect.left, it->rect.top, it->rect.right - it->rect.left,
                           it->rect.bottom - it->rect.top};
        SDL_RenderCopy(mpRenderer, it->texture, nullptr, &dst);
        ++it;
    }
    SDL_RenderPresent(mpRenderer);
    mPresents.fetch_add(1);
}

void SdlWindow::Wake() {
    const uint32_t type = gWakeEvent.load();
    if (type == 0 || mWakePending.exchange(true))
        return;
    SDL_Event e;
    SDL_zero(e);
    e.type = type;
    e.user.windowID = mWindowId;
    SDL_PushEvent(&e);
}

void SdlWindow::OnInvalidated() {
    mDirty = true;
    if (!OnSdlThread())
        Wake();
}

void SdlWindow::OnPosted() {
    if (!OnSdlThread())
        Wake();
}

void SdlWindow::PumpEvents(DWORD milliseconds) {
    if (!OnSdlThread()) {
        Window::PumpEvents(milliseconds); // only waits for messages
        return;
    }
    SDL_Event e;
    if (milliseconds == INFINITE) {
        if (SDL_WaitEvent(&e))
            Route(e);
    } else if (milliseconds > 0) {
        const int wait = static_cast<int>(std::min<DWORD>(milliseconds, 0x7FFFFFFF));
        if (SDL_WaitEventTimeout(&e, wait))
            Route(e);
    }
    while (SDL_PollEvent(&e))
        Route(e);
    std::vector<SdlWindow*> windows;
    {
        std::lock_guard<std::mutex> lock(gRouterLock);
        for (auto& w : gWindows)
            windows.push_back(w.second);
    }
    for (SdlWindow* w : windows) {
        if (w->mDirty.load())
            w->Present();
        w->ApplyCursor();
        w->UpdateOrigin();
    }
}

void SdlWindow::Route(const SDL_Event& event) {
    uint32_t id = 0;
    switch (event.type) {
    case SDL_WINDOWEVENT:
        id = event.window.windowID;
        break;
    case SDL_MOUSEMOTION:
        id = event.motion.windowID;
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        id = event.button.windowID;
        break;
    case SDL_MOUSEWHEEL:
        id = event.wheel.windowID;
        break;
    case SDL_KEYDOWN:
        id = event.key.windowID;
        break;
    default:
        if (event.type == gWakeEvent.load() && event.type != 0)
            id = event.user.windowID;
        break;
    }
    SdlWindow* target = nullptr;
    {
        std::lock_guard<std::mutex> lock(gRouterLock);
        auto it = gWindows.find(id);
        if (it != gWindows.end())
            target = it->second;
    }
    if (target)
        target->Handle(event);
}

void SdlWindow::Handle(const SDL_Event& e) {
    auto inside = [this](POINT p) { return p.x >= 0 && p.y >= 0 && p.x < Width() && p.y < Height(); };
    if (e.type == gWakeEvent.load()) {
        mWakePending = false;
        return;
    }
    switch (e.type) {
    case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_CLOSE)
            PostClose();
        else if (e.window.event == SDL_WINDOWEVENT_LEAVE && !mButtons)
            PostMouseLeave(); // an editor forgets its hover cell
        else
            mDirty = true; // exposed, resized, restored: show the picture again
        break;
    case SDL_MOUSEMOTION: {
        mLastMouse = POINT{e.motion.x, e.motion.y};
        // Outside the picture (the bars of a wider window) the pointer
        // belongs to nobody, unless a button holds it for a drag.
        if (inside(mLastMouse) || mButtons)
            PostMouse(WM_MOUSEMOVE, mLastMouse, mButtons | KeyModifiers());
        break;
    }
    case SDL_MOUSEBUTTONDOWN: {
        const WPARAM bit = ButtonBit(e.button.button);
        mLastMouse = POINT{e.button.x, e.button.y};
        if (!bit || (!inside(mLastMouse) && !mButtons))
            break;
        mButtons |= bit;
        const UINT msg = bit == MK_LBUTTON   ? WM_LBUTTONDOWN
                         : bit == MK_RBUTTON ? WM_RBUTTONDOWN
                                             : WM_MBUTTONDOWN;
        PostMouse(msg, mLastMouse, mButtons | KeyModifiers());
        break;
    }
    case SDL_MOUSEBUTTONUP: {
        const WPARAM bit = ButtonBit(e.button.button);
        mLastMouse = POINT{e.button.x, e.button.y};
        if (!bit || !(mButtons & bit))
            break;
        mButtons &= ~bit;
        const UINT msg = bit == MK_LBUTTON ? WM_LBUTTONUP : bit == MK_RBUTTON ? WM_RBUTTONUP : WM_MBUTTONUP;
        PostMouse(msg, mLastMouse, mButtons | KeyModifiers());
        break;
    }
    case SDL_MOUSEWHEEL: {
        int notches = e.wheel.y;
        if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED)
            notches = -notches;
        if (notches != 0 && inside(mLastMouse))
            PostMouse(WM_MOUSEWHEEL, mLastMouse, mButtons | KeyModifiers(), notches * WHEEL_DELTA);
        break;
    }
    case SDL_KEYDOWN: {
        const WPARAM vk = VirtualKey(e.key.keysym.sym);
        if (vk)
            PostKey(vk);
        break;
    }
    default:
        break;
    }
}

void SdlWindow::ApplyCursor() {
    HCURSOR wanted = GetCursor();
    if (wanted == mShownCursor)
        return;
    mShownCursor = wanted;
    if (!wanted) {
        SDL_ShowCursor(SDL_DISABLE);
        return;
    }
    const int id = CursorId(wanted);
    SDL_Cursor*& c = mCursors[id];
    if (!c)
        c = SDL_CreateSystemCursor(SystemCursorOf(id));
    if (c)
        SDL_SetCursor(c);
    SDL_ShowCursor(SDL_ENABLE);
}

void SdlWindow::UpdateOrigin() {
    int wx = 0, wy = 0;
    SDL_GetWindowPosition(mpWindow, &wx, &wy);
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    SDL_RenderLogicalToWindow(mpRenderer, 0, 0, &x0, &y0);
    SDL_RenderLogicalToWindow(mpRenderer, static_cast<float>(Width()), static_cast<float>(Height()), &x1,
                              &y1);
    std::lock_guard<std::mutex> lock(mOriginLock);
    mOriginX = wx + x0;
    mOriginY = wy + y0;
    mScaleX = x1 > x0 ? static_cast<double>(x1 - x0) / Width() : 1.0;
    mScaleY = y1 > y0 ? static_cast<double>(y1 - y0) / Height() : 1.0;
}

void SdlWindow::ClientOrigin(double* x, double* y, double* scaleX, double* scaleY) {
    std::lock_guard<std::mutex> lock(mOriginLock);
    *x = mOriginX;
    *y = mOriginY;
    *scaleX = mScaleX;
    *scaleY = mScaleY;
}

int SdlWindow::AskMenu(const std::vector<MenuItem>& items, POINT) {
    std::vector<std::string> labels;
    std::vector<SDL_MessageBoxButtonData> buttons;
    labels.reserve(items.size());
    for (const MenuItem& item : items) {
        if (item.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED))
            continue;
        labels.push_back((item.flags & MF_CHECKED ? "* " : "") + WithoutAccelerators(item.text));
    }
    size_t label = 0;
    for (const MenuItem& item : items) {
        if (item.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED))
            continue;
        buttons.push_back(SDL_MessageBoxButtonData{0, static_cast<int>(item.id), labels[label++].c_str()});
    }
    buttons.push_back(SDL_MessageBoxButtonData{SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "Cancel"});
    SDL_MessageBoxData data;
    SDL_zero(data);
    data.flags = SDL_MESSAGEBOX_INFORMATION | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    data.window = OnSdlThread() ? mpWindow : nullptr;
    data.title = "Menu";
    data.message = "Choose a command:";
    data.numbuttons = static_cast<int>(buttons.size());
    data.buttons = buttons.data();
    int chosen = 0;
    if (SDL_ShowMessageBox(&data, &chosen) != 0)
        return 0;
    return chosen < 0 ? 0 : chosen;
}

int SdlWindow::AskMessageBox(const std::string& text, const std::string& caption, UINT type) {
    std::vector<SDL_MessageBoxButtonData> buttons;
    const Uint32 enter = SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    const Uint32 escape = SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        buttons = {{enter, IDOK, "OK"}, {escape, IDCANCEL, "Cancel"}};
        break;
    case MB_YESNO:
        buttons = {{enter, IDYES, "Yes"}, {escape, IDNO, "No"}};
        break;
    case MB_YESNOCANCEL:
        buttons = {{enter, IDYES, "Yes"}, {0, IDNO, "No"}, {escape, IDCANCEL, "Cancel"}};
        break;
    default:
        buttons = {{enter | escape, IDOK, "OK"}};
        break;
    }
    SDL_MessageBoxData data;
    SDL_zero(data);
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
        data.flags = SDL_MESSAGEBOX_ERROR;
        break;
    case MB_ICONWARNING:
        data.flags = SDL_MESSAGEBOX_WARNING;
        break;
    default:
        data.flags = SDL_MESSAGEBOX_INFORMATION;
        break;
    }
    data.flags |= SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    data.window = OnSdlThread() ? mpWindow : nullptr;
    data.title = caption.c_str();
    data.message = text.c_str();
    data.numbuttons = static_cast<int>(buttons.size());
    data.buttons = buttons.data();
    int chosen = 0;
    if (SDL_ShowMessageBox(&data, &chosen) != 0 || chosen < 0)
        return DefaultAnswer(type);
    return chosen;
}

} // namespace os
