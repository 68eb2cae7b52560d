// The USER32 window calls the viewer is written against, stood in for on
// Linux: an HWND is a pointer to an os::Window.
//
// A top-level window is an OffscreenWindow (headless: tests and the host read
// its pixels and script the answers of its menus and message boxes) or an
// SdlWindow (a real window on the desktop, os/window/SdlWindow.h). Either can
// hold child windows, each a rectangle of its parent's surface, so that one
// top-level window shows several channels as a grid.
//
// Surface: every top-level window owns one picture of its client size, 4
// bytes a pixel in the order B, G, R, X (the fourth byte is not looked at),
// rows top-down, stride = width * 4. The size is fixed when the window is
// made; an SdlWindow scales it to whatever size the user gives the window.
// Renderer threads write into the surface while the host thread presents it:
// one lock per top-level window (SurfaceLock) guards the pixels, and every
// writer and reader takes it for as long as it touches them. A child shares
// its top-level window's surface and lock. A rectangle may hold a YCbCr
// picture's planes instead, turned into pixels when a SurfaceLock is taken
// (PlanarLock below).
//
// Messages: input (mouse, wheel, keys), commands chosen from popup menus and
// close requests are queued on the top-level window as MSG records, with
// hwnd set to the window (child or top-level) they belong to, and the host
// drains them (PeekMessage / WaitMessage), as a Windows host's message loop
// would. A menu choice arrives as WM_COMMAND with the item's identifier in
// the low word of wParam, as TrackPopupMenu posts it on Windows.
//
// Threads: any thread may write the surface (under SurfaceLock), post
// messages, invalidate and call the dialog functions; an SdlWindow is made,
// pumped and destroyed on one thread, the host's (SdlWindow.h). Windows must
// outlive everything that draws into them or holds their handle (renderers,
// overlay controls): the host stops those first.
#pragma once

#include "os/kernel/Kernel.h"
#include "os/window/WinDef.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Messages

constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_MOUSELEAVE = 0x02A3;

// Key state in the wParam of mouse messages.
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_SHIFT = 0x0004;
constexpr WPARAM MK_CONTROL = 0x0008;
constexpr WPARAM MK_MBUTTON = 0x0010;
// One notch of a mouse wheel.
constexpr int WHEEL_DELTA = 120;

// Virtual key codes of WM_KEYDOWN besides the letters and digits, which are
// their upper-case ASCII codes ('A' to 'Z', '0' to '9').
constexpr WPARAM VK_BACK = 0x08;
constexpr WPARAM VK_TAB = 0x09;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_SPACE = 0x20;
constexpr WPARAM VK_LEFT = 0x25;
constexpr WPARAM VK_UP = 0x26;
constexpr WPARAM VK_RIGHT = 0x27;
constexpr WPARAM VK_DOWN = 0x28;
constexpr WPARAM VK_F1 = 0x70;

constexpr LPARAM MAKELPARAM(int low, int high) {
    return static_cast<LPARAM>(
        static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(low))) |
                             (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16)));
}
constexpr WORD LOWORD(uintptr_t v) {
    return static_cast<WORD>(v & 0xFFFF);
}
constexpr WORD HIWORD(uintptr_t v) {
    return static_cast<WORD>((v >> 16) & 0xFFFF);
}
// Signed coordinates of a mouse message's lParam.
constexpr int GET_X_LPARAM(LPARAM lp) {
    return static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(lp)));
}
constexpr int GET_Y_LPARAM(LPARAM lp) {
    return static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(lp)));
}
constexpr int GET_WHEEL_DELTA_WPARAM(WPARAM wp) {
    return static_cast<int16_t>(HIWORD(wp));
}

// A queued message. Mouse messages carry the pointer in the client
// coordinates of hwnd (MAKELPARAM(x, y)) - WM_MOUSEWHEEL too, where Windows
// would give screen coordinates - and the key state in wParam (for the wheel
// in its low word, the delta in its high word). pt is the pointer in screen
// coordinates, time the timeGetTime of the event.
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

// ---------------------------------------------------------------------------
// Popup menus and message boxes

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_SEPARATOR = 0x0800;
// TrackPopupMenu flag: return the chosen identifier instead of posting it.
constexpr UINT TPM_RETURNCMD = 0x0100;

constexpr UINT MB_OK = 0x00;
constexpr UINT MB_OKCANCEL = 0x01;
constexpr UINT MB_YESNOCANCEL = 0x03;
constexpr UINT MB_YESNO = 0x04;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_TYPEMASK = 0x0F;
constexpr UINT MB_ICONMASK = 0xF0;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// ---------------------------------------------------------------------------
// System cursors and icons (LoadCursorA / LoadIconA with a null instance)

#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_IBEAM MAKEINTRESOURCEA(32513)
#define IDC_WAIT MAKEINTRESOURCEA(32514)
#define IDC_CROSS MAKEINTRESOURCEA(32515)
#define IDC_SIZEALL MAKEINTRESOURCEA(32646)
#define IDC_NO MAKEINTRESOURCEA(32648)
#define IDC_HAND MAKEINTRESOURCEA(32649)
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDI_ERROR MAKEINTRESOURCEA(32513)
#define IDI_QUESTION MAKEINTRESOURCEA(32514)
#define IDI_WARNING MAKEINTRESOURCEA(32515)
#define IDI_INFORMATION MAKEINTRESOURCEA(32516)

namespace os {

// Limits. A full queue refuses further posts (PostMessageA returns FALSE),
// as a Windows message queue does at its own limit; consecutive mouse moves
// to one window are merged, so moving the mouse alone never fills it.
constexpr size_t kMaxQueuedMessages = 4096;
// Dialog records kept per top-level window for tests and the host.
constexpr size_t kMaxDialogRecords = 64;
// Largest client width or height of a window.
constexpr int kMaxWindowSize = 16384;

struct MenuItem {
    UINT flags = MF_STRING; // MF_STRING, MF_SEPARATOR, MF_GRAYED, MF_CHECKED ...
    UINT id = 0;
    std::string text; // as given, '&' marks and all
};

// What a popup menu or message box showed and what it answered.
struct DialogRecord {
    enum class Kind { PopupMenu, MessageBox };
    Kind kind = Kind::PopupMenu;
    HWND window = nullptr;       // the menu's owner; the box's owner (null: ownerless)
    POINT point{0, 0};           // where the menu opened, screen coordinates
    std::vector<MenuItem> items; // the menu's items
    std::string text;            // the box's text
    std::string caption;         // the box's caption
    UINT type = 0;               // the box's MB_ flags
    int answer = 0;              // menu: chosen id, 0 = dismissed; box: IDOK, IDYES ...
    bool scripted = false;       // answered from the script, not by a user
};

// A view of pixels: B, G, R, X bytes, rows top-down.
struct SurfaceView {
    uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0; // bytes from one row to the next
};

// The planes of a YCbCr picture as JPEG has it (full-range BT.601, the
// colours libjpeg-turbo converts), rows top-down: Y, Cb, Cr, with the
// chroma planes subsampled as libjpeg-turbo's TJSAMP_ code says (4:2:0 is
// TJSAMP_420); a grey picture has no chroma planes.
struct PlanarView {
    uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    int strides[3] = {0, 0, 0};
    int width = 0;
    int height = 0;
    int subsampling = 0;
};

struct PlanarPicture; // a planar rectangle of a surface (Window.cpp)

class Window {
public:
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    int Width() const { return mWidth; }
    int Height() const { return mHeight; }
    // The rectangle of this window in its parent's client coordinates
    // ({0, 0, width, height} for a top-level window).
    RECT RectInParent() const { return mRectInParent; }
    Window* Parent() const { return mpParent; }
    Window* TopLevel();
    bool IsTopLevel() const { return mpParent == nullptr; }

    // Makes a child window covering rect of this window's client area
    // (clipped to it); owned by this window and destroyed with it. Null when
    // the rectangle is empty after clipping.
    Window* CreateChild(const RECT& rect);
    // The innermost window under a point of this window's client area (this
    // window when no child covers it), and the point in its coordinates.
    Window* WindowAt(POINT client, POINT* inWindow);

    // Client point -> screen point (the top-level window's position on the
    // screen plus its scaling).
    POINT ToScreen(POINT client);
    POINT ToClient(POINT screen);

    // --- surface -------------------------------------------------------
    // The lock of the top-level surface. While a SurfaceLock is held the
    // pixels of the window (and its children) may be read or written.
    class SurfaceLock {
    public:
        explicit SurfaceLock(Window* window);
        ~SurfaceLock();
        SurfaceLock(const SurfaceLock&) = delete;
        SurfaceLock& operator=(const SurfaceLock&) = delete;
        // This window's part of the surface.
        const SurfaceView& View() const { return mView; }

    private:
        std::unique_lock<std::mutex> mLock;
        SurfaceView mView;
    };
    // Copies this window's pixels (4 bytes a pixel, rows packed) under the lock.
    std::vector<uint8_t> Snapshot();

    // Planar pictures. A rectangle of the surface may hold, instead of
    // pixels, the planes of a YCbCr picture of exactly its size, so that a
    // renderer whose decoder yields planes (JPEG's own form) shows the
    // picture without turning it into B, G, R, X first: the conversion is
    // made only when somebody looks. A SurfaceLock converts every planar
    // picture of the top-level window into the pixels before it hands them
    // out, so whoever reads or writes pixels sees what was shown; an
    // SdlWindow presents 4:2:0 planes through a YUV texture (the conversion
    // on the GPU) and leaves them planar. An OffscreenWindow converts only
    // for a snapshot or a test.
    //
    // A PlanarLock holds the surface lock, converting nothing, and hands out
    // the planes of a rectangle of this window (client coordinates, inside
    // it) for a picture of that size. A planar picture elsewhere that
    // overlaps the rectangle is converted first. Commit makes the rectangle
    // show the planes; without it the rectangle shows what it showed (the
    // planes of a rectangle that held a picture of another size or
    // subsampling are made anew, and the pixels show until a commit).
    class PlanarLock {
    public:
        PlanarLock(Window* window, const RECT& rect, int subsampling);
        ~PlanarLock();
        PlanarLock(const PlanarLock&) = delete;
        PlanarLock& operator=(const PlanarLock&) = delete;
        // False when the rectangle is empty, outside the window or the
        // subsampling unknown: View() is then empty.
        bool Ok() const { return mpPicture != nullptr; }
        const PlanarView& View() const { return mView; }
        void Commit();

    private:
        std::unique_lock<std::mutex> mLock;
        PlanarPicture* mpPicture = nullptr;
        PlanarView mView;
    };
    // Planar pictures that no one has converted yet, on this window and its
    // children (tests, benchmarks).
    size_t PendingPlanarCount();

    // Marks the window as changed: an SdlWindow presents it on its next pump;
    // waiters of WaitInvalidated wake. Any thread.
    void Invalidate();
    // Number of Invalidate calls on this top-level window or its children.
    uint64_t InvalidateCount();
    // Waits until InvalidateCount() exceeds seen; false when the time passed.
    bool WaitInvalidated(uint64_t seen, DWORD milliseconds);

    // --- messages -------------------------------------------------------
    // Queues a message on the top-level window. FALSE when the queue is full.
    BOOL Post(const MSG& message);
    // Input as the user makes it, in this top-level window's client
    // coordinates: posted to the innermost window under the point, in its
    // coordinates. While a button is held the window that got the press
    // keeps getting the mouse (its coordinates may then lie outside it), so
    // a drag that leaves a channel still ends in it. keyState is the MK_
    // bits after the event; wheelDelta (WM_MOUSEWHEEL) in WHEEL_DELTA units.
    // When the pointer moves from one window to another with no button
    // held, the window it left gets WM_MOUSELEAVE first (as Windows gives a
    // window that asked with TrackMouseEvent), so that an editor forgets its
    // hover cell.
    BOOL PostMouse(UINT message, POINT client, WPARAM keyState, int wheelDelta = 0);
    // The pointer left the top-level window: WM_MOUSELEAVE for the window it
    // was over, unless a button holds it for a drag. FALSE when there is none.
    BOOL PostMouseLeave();
    // A key press (virtual key code) for the window under the last mouse
    // position (this window when there was none), and a close request.
    BOOL PostKey(WPARAM virtualKey);
    BOOL PostClose();
    // Takes the oldest queued message; false when there is none. An
    // SdlWindow first turns pending SDL events into messages.
    bool PeekMessage(MSG* message);
    // As PeekMessage, waiting up to milliseconds for a message.
    bool WaitMessage(MSG* message, DWORD milliseconds);
    // Messages refused because the queue was full.
    uint64_t DroppedMessages();

    // --- popup menus and message boxes ----------------------------------
    // Answers for the next menus / message boxes on this top-level window,
    // in order: a menu item identifier (0 = dismiss the menu), a box result
    // (IDOK, IDYES ...). A scripted answer is used instead of asking anyone.
    void ScriptMenuAnswer(UINT id);
    void ScriptMessageBoxAnswer(int answer);
    // Called (on the thread that opened it) after each menu or message box
    // with what it showed and answered. Null removes it.
    void SetDialogObserver(std::function<void(const DialogRecord&)> observer);
    // Called as each menu or message box opens, before anyone answers it
    // (answer 0; scripted tells whether a scripted answer is waiting), so
    // that a host can show its items to whoever must answer. Null removes it.
    void SetDialogOpenObserver(std::function<void(const DialogRecord&)> observer);
    // The last kMaxDialogRecords menus and boxes, oldest first.
    std::vector<DialogRecord> Dialogs();

    // Used by TrackPopupMenu and MessageBoxA (any window of the tree).
    int TrackMenu(const std::vector<MenuItem>& items, POINT screen, HWND owner);
    int ShowMessage(const std::string& text, const std::string& caption, UINT type, HWND owner);
    // A box without owner, on ActiveTopLevel(), which stays alive meanwhile.
    static int ShowOwnerlessMessage(const std::string& text, const std::string& caption, UINT type);

    // Ownerless message boxes go to the most recently made top-level window
    // that still exists (null when there is none).
    static Window* ActiveTopLevel();

protected:
    // A top-level window of width x height pixels (clamped to 1 ..
    // kMaxWindowSize), surface cleared to black.
    Window(int width, int height);

    // Top-level behaviour of the concrete windows:
    // the client origin on the screen and the scale from surface pixels to
    // screen pixels;
    virtual void ClientOrigin(double* x, double* y, double* scaleX, double* scaleY);
    // a menu or a message box with no scripted answer (the headless window
    // dismisses menus and gives boxes their safe answer, DefaultAnswer);
    virtual int AskMenu(const std::vector<MenuItem>& items, POINT screen);
    virtual int AskMessageBox(const std::string& text, const std::string& caption, UINT type);
    // turns platform events into messages (PeekMessage, WaitMessage); waits
    // up to milliseconds for one when asked to;
    virtual void PumpEvents(DWORD milliseconds);
    // called by Invalidate after the count changed, and by Post after a
    // message was queued (SdlWindow wakes its loop).
    virtual void OnInvalidated() {}
    virtual void OnPosted() {}
    // For presenting a top-level window: under the surface lock, offers
    // every planar picture still waiting to show(rect in surface
    // coordinates, planes), converts into the pixels those it declines
    // (false), then hands pixels() the whole surface.
    void VisitSurface(const std::function<bool(const RECT&, const PlanarView&)>& show,
                      const std::function<void(const SurfaceView&)>& pixels);
    // Unregisters the window from ActiveTopLevel and waits until no ownerless
    // message box uses it. Called first by the destructor of the concrete top-level window.
    void RetireTopLevel();

public:
    // The answer of a box that nobody can answer: OK for MB_OK and
    // MB_OKCANCEL, No for MB_YESNO, Cancel for MB_YESNOCANCEL - never the
    // answer that makes a caller go on with something it asked about.
    static int DefaultAnswer(UINT type);

private:
    struct Shared; // state of a top-level window that its children share

    Window(Window* parent, const RECT& rect); // a child

    Shared& Top();
    void Record(const DialogRecord& record);
    void AnnounceOpening(const DialogRecord& record);

    Window* mpParent = nullptr;
    RECT mRectInParent{0, 0, 0, 0};
    int mWidth = 0;
    int mHeight = 0;
    int mOffsetX = 0; // position inside the top-level surface
    int mOffsetY = 0;
    std::unique_ptr<Shared> mpShared; // top-level only
    std::vector<std::unique_ptr<Window>> mChildren;
    bool mRetired = false;
};

} // namespace os

// ---------------------------------------------------------------------------
// USER32 calls. A null or foreign window makes them fail as on Windows
// (FALSE, 0 or null).

BOOL GetClientRect(HWND window, RECT* rect);
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);
// The whole window is presented again whatever the rectangle; erase is
// ignored (nothing paints a background behind the renderers).
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
HWND GetParent(HWND window);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

HMENU CreatePopupMenu();
// Appends an item: flags MF_STRING (with MF_GRAYED, MF_CHECKED) or
// MF_SEPARATOR; id is the command identifier; text may be null for a
// separator.
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text);
int GetMenuItemCount(HMENU menu);
BOOL DestroyMenu(HMENU menu);
// Shows the menu at a screen point for the owner window and waits for the
// choice. Without TPM_RETURNCMD a chosen item is posted to the owner as
// WM_COMMAND and the result is TRUE (FALSE when nothing was chosen); with
// it the result is the chosen identifier (0 for none). x, y in screen
// coordinates; reserved and rect are ignored.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);

// Shows a message box and waits for the answer (IDOK, IDCANCEL, IDYES,
// IDNO). A null owner puts it on os::Window::ActiveTopLevel(); with no
// window at all nobody can answer and the result is Window::DefaultAnswer.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// System cursors only (instance null, IDC_* names); null otherwise. The
// handles are shared and never destroyed.
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
// Makes the cursor current for the process and returns the previous one. An
// SdlWindow shows the current cursor from its next pump on.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();
// System icons only (instance null, IDI_* names); shared like the cursors.
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
// TRUE for a system icon (which stays), FALSE for null.
BOOL DestroyIcon(HICON icon);

namespace os {
// The resource number of a cursor or icon handle (32514 for IDC_WAIT); 0 for null.
int CursorId(HCURSOR cursor);
// How many times SetCursor made this cursor current, since the start of the
// process: tests see that a wait cursor was shown and put back.
uint64_t CursorSetCount(HCURSOR cursor);
} // namespace os
