#include "os/window/Window.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>

#include <turbojpeg.h>

namespace os {

// A popup menu: its items in order.
class Menu {
public:
    std::vector<MenuItem> items;
};

// A system cursor or icon. Shared, never destroyed.
class Cursor {
public:
    Cursor(int id, bool icon) : mId(id), mIcon(icon) {}
    const int mId;
    const bool mIcon;
    std::atomic<uint64_t> mSetCount{0};
};

// A rectangle of a top-level surface that may hold a planar picture
// (Window::PlanarLock). Guarded by the surface lock.
struct PlanarPicture {
    RECT rect{0, 0, 0, 0}; // in the top-level surface
    int subsampling = -1;
    std::vector<uint8_t> buffer; // the planes, each row 32-byte aligned
    PlanarView view;
    bool pending = false; // the planes hold the picture, the pixels do not yet
};

struct Window::Shared {
    ~Shared() {
        if (converter != nullptr)
            tjDestroy(converter);
    }

    // Guards pixels, the planar pictures and their converter (SurfaceLock,
    // PlanarLock).
    std::mutex surfaceLock;
    std::vector<uint8_t> pixels;
    int stride = 0;
    std::vector<std::unique_ptr<PlanarPicture>> planar;
    tjhandle converter = nullptr; // libjpeg-turbo, made at the first conversion

    // Guards everything below. cv wakes message waiters, invalidatedCv
    // those that wait for a picture: a renderer invalidates 25 times a
    // second or more, and a thread waiting for messages (a host's event
    // loop) has no business waking for each.
    std::mutex stateLock;
    std::condition_variable cv;
    std::condition_variable invalidatedCv;
    std::deque<MSG> queue;
    uint64_t dropped = 0;
    uint64_t invalidated = 0;
    std::deque<UINT> menuScript;
    std::deque<int> boxScript;
    std::deque<DialogRecord> dialogs;
    std::function<void(const DialogRecord&)> observer;
    std::function<void(const DialogRecord&)> openObserver;

    // Input routing (PostMouse), guarded by stateLock: the window holding
    // the mouse while a button is down, and the window under the pointer.
    Window* capture = nullptr;
    Window* hover = nullptr;

    // Ownerless message boxes showing on this window; guarded by gRegistryLock.
    int ownerlessUsers = 0;
};

namespace {

// The live top-level windows, oldest first, for ownerless message boxes.
std::mutex gRegistryLock;
std::condition_variable gRegistryChanged;
std::vector<Window*> gTopLevels;

int ClampSize(int v) {
    return std::clamp(v, 1, kMaxWindowSize);
}

bool Overlaps(const RECT& a, const RECT& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Lays out the planes of a width x height picture in picture->buffer.
// False for a subsampling libjpeg-turbo does not know.
bool LayOutPlanes(PlanarPicture* picture, int width, int height, int subsampling) {
    if (subsampling < 0 || subsampling >= TJ_NUMSAMP)
        return false;
    constexpr size_t kAlign = 32;
    const int planes = subsampling == TJSAMP_GRAY ? 1 : 3;
    size_t offsets[3] = {0, 0, 0};
    size_t total = 0;
    PlanarView view;
    for (int i = 0; i < planes; ++i) {
        const int w = tjPlaneWidth(i, width, subsampling);
        const int h = tjPlaneHeight(i, height, subsampling);
        if (w <= 0 || h <= 0)
            return false;
        view.strides[i] = static_cast<int>((static_cast<size_t>(w) + kAlign - 1) / kAlign * kAlign);
        offsets[i] = total;
        total += static_cast<size_t>(view.strides[i]) * static_cast<size_t>(h);
    }
    picture->buffer.assign(total + kAlign, 0);
    uint8_t* base = picture->buffer.data();
    base += (kAlign - reinterpret_cast<uintptr_t>(base) % kAlign) % kAlign;
    for (int i = 0; i < planes; ++i)
        view.planes[i] = base + offsets[i];
    view.width = width;
    view.height = height;
    view.subsampling = subsampling;
    picture->view = view;
    picture->subsampling = subsampling;
    picture->pending = false;
    return true;
}

bool IsButtonOf(UINT type, int answer) {
    switch (type & MB_TYPEMASK) {
    case MB_OK:
        return answer == IDOK;
    case MB_OKCANCEL:
        return answer == IDOK || answer == IDCANCEL;
    case MB_YESNO:
        return answer == IDYES || answer == IDNO;
    case MB_YESNOCANCEL:
        return answer == IDYES || answer == IDNO || answer == IDCANCEL;
    default:
        return answer == IDOK;
    }
}

bool IsChoosable(const std::vector<MenuItem>& items, UINT id) {
    for (const MenuItem& item : items) {
        if ((item.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED)) == 0 && item.id == id)
            return true;
    }
    return false;
}

} // namespace

Window::Window(int width, int height) : mpShared(std::make_unique<Shared>()) {
    mWidth = ClampSize(width);
    mHeight = ClampSize(height);
    mRectInParent = {0, 0, mWidth, mHeight};
    mpShared->stride = mWidth * 4;
    mpShared->pixels.assign(static_cast<size_t>(mpShared->stride) * static_cast<size_t>(mHeight), 0);
    std::lock_guard<std::mutex> lock(gRegistryLock);
    gTopLevels.push_back(this);
}

Window::Window(Window* parent, const RECT& rect) : mpParent(parent) {
    mRectInParent = rect;
    mWidth = rect.right - rect.left;
    mHeight = rect.bottom - rect.top;
    mOffsetX = parent->mOffsetX + rect.left;
    mOffsetY = parent->mOffsetY + rect.top;
}

Window::~Window() {
    mChildren.clear();
    if (IsTopLevel())
        RetireTopLevel();
}

void Window::RetireTopLevel() {
    if (!IsTopLevel() || mRetired)
        return;
    mRetired = true;
    std::unique_lock<std::mutex> lock(gRegistryLock);
    gTopLevels.erase(std::remove(gTopLevels.begin(), gTopLevels.end(), this), gTopLevels.end());
    gRegistryChanged.wait(lock, [this] { return mpShared->ownerlessUsers == 0; });
}

Window* Window::ActiveTopLevel() {
    std::lock_guard<std::mutex> lock(gRegistryLock);
    return gTopLevels.empty() ? nullptr : gTopLevels.back();
}

Window* Window::TopLevel() {
    Window* w = this;
    while (w->mpParent)
        w = w->mpParent;
    return w;
}

Window::Shared& Window::Top() {
    return *TopLevel()->mpShared;
}

Window* Window::CreateChild(const RECT& rect) {
    RECT r{std::max<LONG>(rect.left, 0), std::max<LONG>(rect.top, 0), std::min<LONG>(rect.right, mWidth),
           std::min<LONG>(rect.bottom, mHeight)};
    if (r.right <= r.left || r.bottom <= r.top)
        return nullptr;
    mChildren.push_back(std::unique_ptr<Window>(new Window(this, r)));
    return mChildren.back().get();
}

Window* Window::WindowAt(POINT client, POINT* inWindow) {
    // Later children lie above earlier ones.
    for (auto it = mChildren.rbegin(); it != mChildren.rend(); ++it) {
        const RECT& r = (*it)->mRectInParent;
        if (client.x >= r.left && client.x < r.right && client.y >= r.top && client.y < r.bottom)
            return (*it)->WindowAt(POINT{client.x - r.left, client.y - r.top}, inWindow);
    }
    if (inWindow)
        *inWindow = client;
    return this;
}

void Window::ClientOrigin(double* x, double* y, double* scaleX, double* scaleY) {
    *x = 0;
    *y = 0;
    *scaleX = 1;
    *scaleY = 1;
}

POINT Window::ToScreen(POINT client) {
    double ox, oy, sx, sy;
    TopLevel()->ClientOrigin(&ox, &oy, &sx, &sy);
    return POINT{static_cast<LONG>(std::lround(ox + (client.x + mOffsetX) * sx)),
                 static_cast<LONG>(std::lround(oy + (client.y + mOffsetY) * sy))};
}

POINT Window::ToClient(POINT screen) {
    double ox, oy, sx, sy;
    TopLevel()->ClientOrigin(&ox, &oy, &sx, &sy);
    return POINT{static_cast<LONG>(std::floor((screen.x - ox) / sx)) - mOffsetX,
                 static_cast<LONG>(std::floor((screen.y - oy) / sy)) - mOffsetY};
}

// --- surface ---------------------------------------------------------------

namespace {

// The pixels of a top-level surface and its converter (surface lock held).
struct SurfacePixels {
    uint8_t* pixels;
    int stride;
    tjhandle* converter;
};

// Turns a pending planar picture into the pixels it covers (surface lock held).
void ConvertPlanar(const SurfacePixels& s, PlanarPicture& p) {
    if (!p.pending)
        return;
    p.pending = false;
    if (*s.converter == nullptr && (*s.converter = tjInitDecompress()) == nullptr)
        return;
    const unsigned char* planes[3] = {p.view.planes[0], p.view.planes[1], p.view.planes[2]};
    uint8_t* target = s.pixels + static_cast<size_t>(p.rect.top) * static_cast<size_t>(s.stride) +
                      static_cast<size_t>(p.rect.left) * 4;
    // The same upsampling as the shown decode (TJFLAG_FASTUPSAMPLE).
    tjDecodeYUVPlanes(*s.converter, planes, p.view.strides, p.subsampling, target, p.view.width, s.stride,
                      p.view.height, TJPF_BGRX, TJFLAG_FASTUPSAMPLE);
}

} // namespace

Window::SurfaceLock::SurfaceLock(Window* window) : mLock(window->Top().surfaceLock) {
    Shared& s = window->Top();
    if (!s.planar.empty()) {
        SurfacePixels pixels{s.pixels.data(), s.stride, &s.converter};
        for (auto& p : s.planar)
            ConvertPlanar(pixels, *p);
    }
    mView.pixels = s.pixels.data() + static_cast<size_t>(window->mOffsetY) * s.stride + window->mOffsetX * 4;
    mView.width = window->mWidth;
    mView.height = window->mHeight;
    mView.stride = s.stride;
}

Window::SurfaceLock::~SurfaceLock() = default;

std::vector<uint8_t> Window::Snapshot() {
    SurfaceLock lock(this);
    const SurfaceView& v = lock.View();
    std::vector<uint8_t> out(static_cast<size_t>(v.width) * v.height * 4);
    for (int y = 0; y < v.height; ++y)
        std::memcpy(&out[static_cast<size_t>(y) * v.width * 4], v.pixels + static_cast<size_t>(y) * v.stride,
                    static_cast<size_t>(v.width) * 4);
    return out;
}

Window::PlanarLock::PlanarLock(Window* window, const RECT& rect, int subsampling)
    : mLock(window->Top().surfaceLock) {
    if (rect.left < 0 || rect.top < 0 || rect.right > window->mWidth || rect.bottom > window->mHeight ||
        rect.right <= rect.left || rect.bottom <= rect.top || subsampling < 0 || subsampling >= TJ_NUMSAMP)
        return;
    Shared& s = window->Top();
    const RECT placed{rect.left + window->mOffsetX, rect.top + window->mOffsetY,
                      rect.right + window->mOffsetX, rect.bottom + window->mOffsetY};
    // Another rectangle under this one shows what it holds first, and goes.
    SurfacePixels pixels{s.pixels.data(), s.stride, &s.converter};
    PlanarPicture* mine = nullptr;
    for (auto it = s.planar.begin(); it != s.planar.end();) {
        if (SameRect((*it)->rect, placed)) {
            mine = it->get();
            ++it;
        } else if (Overlaps((*it)->rect, placed)) {
            ConvertPlanar(pixels, **it);
            it = s.planar.erase(it);
        } else {
            ++it;
        }
    }
    if (mine == nullptr) {
        s.planar.push_back(std::make_unique<PlanarPicture>());
        mine = s.planar.back().get();
        mine->rect = placed;
    }
    const int width = placed.right - placed.left;
    const int height = placed.bottom - placed.top;
    if (mine->subsampling != subsampling || mine->view.width != width || mine->view.height != height) {
        if (!LayOutPlanes(mine, width, height, subsampling)) {
            s.planar.erase(std::find_if(s.planar.begin(), s.planar.end(),
                                        [mine](const auto& p) { return p.get() == mine; }));
            return;
        }
    }
    mpPicture = mine;
    mView = mine->view;
}

Window::PlanarLock::~PlanarLock() = default;

void Window::PlanarLock::Commit() {
    if (mpPicture != nullptr)
        mpPicture->pending = true;
}

size_t Window::PendingPlanarCount() {
    Shared& s = Top();
    std::lock_guard<std::mutex> lock(s.surfaceLock);
    return static_cast<size_t>(
        std::count_if(s.planar.begin(), s.planar.end(), [](const auto& p) { return p->pending; }));
}

void Window::VisitSurface(const std::function<bool(const RECT&, const PlanarView&)>& show,
                          const std::function<void(const SurfaceView&)>& pixels) {
    Shared& s = Top();
    std::lock_guard<std::mutex> lock(s.surfaceLock);
    SurfacePixels surface{s.pixels.data(), s.stride, &s.converter};
    for (auto& p : s.planar) {
        if (p->pending && !show(p->rect, p->view))
            ConvertPlanar(surface, *p);
    }
    pixels(SurfaceView{s.pixels.data(), mWidth, mHeight, s.stride});
}

void Window::Invalidate() {
    Window* top = TopLevel();
    {
        std::lock_guard<std::mutex> lock(top->mpShared->stateLock);
        ++top->mpShared->invalidated;
    }
    top->mpShared->invalidatedCv.notify_all();
    top->OnInvalidated();
}

uint64_t Window::InvalidateCount() {
    Shared& s = Top();
    std::lock_guard<std::mutex> lock(s.stateLock);
    return s.invalidated;
}

bool Window::WaitInvalidated(uint64_t seen, DWORD milliseconds) {
    Shared& s = Top();
    std::unique_lock<std::mutex> lock(s.stateLock);
    auto pred = [&] { return s.invalidated > seen; };
    if (milliseconds == INFINITE) {
        s.invalidatedCv.wait(lock, pred);
        return true;
    }
    return s.invalidatedCv.wait_for(lock, std::chrono::milliseconds(milliseconds), pred);
}

// --- messages --------------------------------------------------------------

BOOL Window::Post(const MSG& message) {
    Shared& s = Top();
    {
        std::lock_guard<std::mutex> lock(s.stateLock);
        // A newer position replaces a mouse move that nobody has read yet.
        if (message.message == WM_MOUSEMOVE && !s.queue.empty() && s.queue.back().message == WM_MOUSEMOVE &&
            s.queue.back().hwnd == message.hwnd) {
            s.queue.back() = message;
        } else if (s.queue.size() >= kMaxQueuedMessages) {
            ++s.dropped;
            return FALSE;
        } else {
            s.queue.push_back(message);
        }
    }
    s.cv.notify_all();
    TopLevel()->OnPosted();
    return TRUE;
}

BOOL Window::PostMouse(UINT message, POINT client, WPARAM keyState, int wheelDelta) {
    Window* top = TopLevel();
    Shared& s = *top->mpShared;
    POINT at{0, 0};
    Window* target = nullptr;
    Window* left = nullptr;
    {
        std::lock_guard<std::mutex> lock(s.stateLock);
        if (s.capture) {
            target = s.capture;
            at = POINT{client.x - target->mOffsetX, client.y - target->mOffsetY};
        } else {
            target = top->WindowAt(client, &at);
        }
        const bool press =
            message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
        if (s.hover != nullptr && s.hover != target && s.capture == nullptr)
            left = s.hover;
        if (press)
            s.capture = target;
        else if ((keyState & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0)
            s.capture = nullptr;
        s.hover = target;
    }
    if (left != nullptr)
        top->Post(MSG{left, WM_MOUSELEAVE, 0, 0, timeGetTime(), top->ToScreen(client)});
    WPARAM wParam = keyState;
    if (message == WM_MOUSEWHEEL)
        wParam = (keyState & 0xFFFF) | (static_cast<WPARAM>(static_cast<uint16_t>(wheelDelta)) << 16);
    MSG msg{target, message, wParam, MAKELPARAM(at.x, at.y), timeGetTime(), top->ToScreen(client)};
    return top->Post(msg);
}

BOOL Window::PostMouseLeave() {
    Window* top = TopLevel();
    Shared& s = *top->mpShared;
    Window* left = nullptr;
    {
        std::lock_guard<std::mutex> lock(s.stateLock);
        if (s.capture != nullptr)
            return FALSE;
        left = s.hover;
        s.hover = nullptr;
    }
    if (left == nullptr)
        return FALSE;
    return top->Post(MSG{left, WM_MOUSELEAVE, 0, 0, timeGetTime(), POINT{0, 0}});
}

BOOL Window::PostKey(WPARAM virtualKey) {
    Window* top = TopLevel();
    Window* target = top;
    {
        std::lock_guard<std::mutex> lock(top->mpShared->stateLock);
        if (top->mpShared->hover)
            target = top->mpShared->hover;
    }
    return top->Post(MSG{target, WM_KEYDOWN, virtualKey, 0, timeGetTime(), POINT{0, 0}});
}

BOOL Window::PostClose() {
    Window* top = TopLevel();
    return top->Post(MSG{top, WM_CLOSE, 0, 0, timeGetTime(), POINT{0, 0}});
}

bool Window::PeekMessage(MSG* message) {
    Window* top = TopLevel();
    top->PumpEvents(0);
    Shared& s = *top->mpShared;
    std::lock_guard<std::mutex> lock(s.stateLock);
    if (s.queue.empty())
        return false;
    *message = s.queue.front();
    s.queue.pop_front();
    return true;
}

bool Window::WaitMessage(MSG* message, DWORD milliseconds) {
    Window* top = TopLevel();
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (PeekMessage(message))
            return true;
        DWORD remaining = INFINITE;
        if (milliseconds != INFINITE) {
            auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
            if (elapsed >= static_cast<long long>(milliseconds))
                return false;
            remaining = static_cast<DWORD>(milliseconds - elapsed);
        }
        top->PumpEvents(remaining);
    }
}

void Window::PumpEvents(DWORD milliseconds) {
    if (milliseconds == 0)
        return;
    Shared& s = *mpShared;
    std::unique_lock<std::mutex> lock(s.stateLock);
    auto pred = [&] { return !s.queue.empty(); };
    if (milliseconds == INFINITE)
        s.cv.wait(lock, pred);
    else
        s.cv.wait_for(lock, std::chrono::milliseconds(milliseconds), pred);
}

uint64_t Window::DroppedMessages() {
    Shared& s = Top();
    std::lock_guard<std::mutex> lock(s.stateLock);
    return s.dropped;
}

// --- dialogs ---------------------------------------------------------------

void Window::ScriptMenuAnswer(UINT id) {
    Shared& s = Top();
    std::lock_guard<std::mutex> lock(s.stateLock);
    s.menuScript.push_back(id);
}

void Window::ScriptMessageBoxAnswer(int answer) {
    Shared& s = Top();
    std::lock_guard<std::mutex> lock(s.stateLock);
    s.boxScript.push_back(answer);
}

void Window::SetDialogObserver(std::function<void(const DialogRecord&)> observer) {
    Shared& s = Top();
    std::lock_guard<std::mutex> lock(s.stateLock);
    s.observer = std::move(observer);
}

void Window::SetDialogOpenObserver(std::function<void(const DialogRecord&)> observer) {
    Shared& s = Top();
    std::lock_guard<std::mutex> lock(s.stateLock);
    s.openObserver = std::move(observer);
}

void Window::AnnounceOpening(const DialogRecord& record) {
    Shared& s = Top();
    std::function<void(const DialogRecord&)> observer;
    {
        std::lock_guard<std::mutex> lock(s.stateLock);
        observer = s.openObserver;
    }
    if (observer)
        observer(record);
}

std::vector<DialogRecord> Window::Dialogs() {
    Shared& s = Top();
    std::lock_guard<std::mutex> lock(s.stateLock);
    return std::vector<DialogRecord>(s.dialogs.begin(), s.dialogs.end());
}

void Window::Record(const DialogRecord& record) {
    Shared& s = Top();
    std::function<void(const DialogRecord&)> observer;
    {
        std::lock_guard<std::mutex> lock(s.stateLock);
        s.dialogs.push_back(record);
        if (s.dialogs.size() > kMaxDialogRecords)
            s.dialogs.pop_front();
        observer = s.observer;
    }
    if (observer)
        observer(record);
}

int Window::TrackMenu(const std::vector<MenuItem>& items, POINT screen, HWND owner) {
    Window* top = TopLevel();
    DialogRecord record;
    record.kind = DialogRecord::Kind::PopupMenu;
    record.window = owner;
    record.point = screen;
    record.items = items;
    bool scripted = false;
    UINT id = 0;
    {
        std::lock_guard<std::mutex> lock(top->mpShared->stateLock);
        if (!top->mpShared->menuScript.empty()) {
            scripted = true;
            id = top->mpShared->menuScript.front();
            top->mpShared->menuScript.pop_front();
        }
    }
    record.scripted = scripted;
    AnnounceOpening(record);
    if (!scripted)
        id = static_cast<UINT>(top->AskMenu(items, screen));
    // Only an item the menu offers can be chosen, as with a real menu.
    if (id != 0 && !IsChoosable(items, id))
        id = 0;
    record.answer = static_cast<int>(id);
    record.scripted = scripted;
    Record(record);
    return record.answer;
}

int Window::ShowMessage(const std::string& text, const std::string& caption, UINT type, HWND owner) {
    Window* top = TopLevel();
    bool scripted = false;
    int answer = 0;
    {
        std::lock_guard<std::mutex> lock(top->mpShared->stateLock);
        if (!top->mpShared->boxScript.empty()) {
            scripted = true;
            answer = top->mpShared->boxScript.front();
            top->mpShared->boxScript.pop_front();
        }
    }
    DialogRecord record;
    record.kind = DialogRecord::Kind::MessageBox;
    record.window = owner;
    record.text = text;
    record.caption = caption;
    record.type = type;
    record.scripted = scripted;
    AnnounceOpening(record);
    if (!scripted)
        answer = top->AskMessageBox(text, caption, type);
    if (!IsButtonOf(type, answer))
        answer = DefaultAnswer(type);
    record.answer = answer;
    record.scripted = scripted;
    Record(record);
    return answer;
}

int Window::ShowOwnerlessMessage(const std::string& text, const std::string& caption, UINT type) {
    // The window the user works in, kept alive while the box shows.
    Window* top = nullptr;
    {
        std::lock_guard<std::mutex> lock(gRegistryLock);
        if (!gTopLevels.empty()) {
            top = gTopLevels.back();
            ++top->mpShared->ownerlessUsers;
        }
    }
    if (!top)
        return DefaultAnswer(type);
    int answer = top->ShowMessage(text, caption, type, nullptr);
    {
        std::lock_guard<std::mutex> lock(gRegistryLock);
        --top->mpShared->ownerlessUsers;
    }
    gRegistryChanged.notify_all();
    return answer;
}

int Window::AskMenu(const std::vector<MenuItem>&, POINT) {
    return 0;
}

int Window::AskMessageBox(const std::string&, const std::string&, UINT type) {
    return DefaultAnswer(type);
}

int Window::DefaultAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
        return IDNO;
    case MB_YESNOCANCEL:
        return IDCANCEL;
    default:
        return IDOK;
    }
}

// --- cursors and icons -----------------------------------------------------

namespace {

Cursor* FindSystem(int id, bool icon) {
    static Cursor cursors[] = {{32512, false}, {32513, false}, {32514, false}, {32515, false},
                               {32646, false}, {32648, false}, {32649, false}};
    static Cursor icons[] = {{32512, true}, {32513, true}, {32514, true}, {32515, true}, {32516, true}};
    if (icon) {
        for (Cursor& c : icons)
            if (c.mId == id)
                return &c;
        return nullptr;
    }
    for (Cursor& c : cursors)
        if (c.mId == id)
            return &c;
    return nullptr;
}

// The process's cursor: the arrow until someone sets another.
std::atomic<Cursor*>& CurrentCursor() {
    static std::atomic<Cursor*> current{FindSystem(32512, false)};
    return current;
}

} // namespace

int CursorId(HCURSOR cursor) {
    return cursor ? cursor->mId : 0;
}

uint64_t CursorSetCount(HCURSOR cursor) {
    return cursor ? cursor->mSetCount.load() : 0;
}

} // namespace os

// ---------------------------------------------------------------------------
// USER32 calls

BOOL GetClientRect(HWND window, RECT* rect) {
    if (!window || !rect)
        return FALSE;
    *rect = RECT{0, 0, window->Width(), window->Height()};
    return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
    if (!window || !point)
        return FALSE;
    *point = window->ToScreen(*point);
    return TRUE;
}

BOOL ScreenToClient(HWND window, POINT* point) {
    if (!window || !point)
        return FALSE;
    *point = window->ToClient(*point);
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
    if (!window)
        return FALSE;
    window->Invalidate();
    return TRUE;
}

HWND GetParent(HWND window) {
    return window ? window->Parent() : nullptr;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!window)
        return FALSE;
    MSG msg{window, message, wParam, lParam, timeGetTime(), POINT{0, 0}};
    return window->Post(msg);
}

HMENU CreatePopupMenu() {
    return new os::Menu();
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text) {
    if (!menu)
        return FALSE;
    os::MenuItem item;
    item.flags = flags;
    item.id = static_cast<UINT>(id);
    if (text && !(flags & MF_SEPARATOR))
        item.text = text;
    menu->items.push_back(std::move(item));
    return TRUE;
}

int GetMenuItemCount(HMENU menu) {
    return menu ? static_cast<int>(menu->items.size()) : -1;
}

BOOL DestroyMenu(HMENU menu) {
    if (!menu)
        return FALSE;
    delete menu;
    return TRUE;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    if (!menu || !owner)
        return FALSE;
    int id = owner->TrackMenu(menu->items, POINT{x, y}, owner);
    if (flags & TPM_RETURNCMD)
        return id;
    if (id == 0)
        return FALSE;
    PostMessageA(owner, WM_COMMAND, static_cast<WPARAM>(id & 0xFFFF), 0);
    return TRUE;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    const std::string t = text ? text : "";
    const std::string c = caption ? caption : "Error"; // Windows' caption for a null one
    if (owner)
        return owner->ShowMessage(t, c, type, owner);
    return os::Window::ShowOwnerlessMessage(t, c, type);
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
    if (instance || !name || !IS_INTRESOURCE(name))
        return nullptr;
    return os::FindSystem(static_cast<int>(reinterpret_cast<uintptr_t>(name)), false);
}

HCURSOR SetCursor(HCURSOR cursor) {
    if (cursor)
        cursor->mSetCount.fetch_add(1);
    return os::CurrentCursor().exchange(cursor);
}

HCURSOR GetCursor() {
    return os::CurrentCursor().load();
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
    if (instance || !name || !IS_INTRESOURCE(name))
        return nullptr;
    return os::FindSystem(static_cast<int>(reinterpret_cast<uintptr_t>(name)), true);
}

BOOL DestroyIcon(HICON icon) {
    return icon ? TRUE : FALSE;
}
