// What every control drawn over a channel's video shares: the motion area
// editor, the motion block grid editor, the privacy mask editor and the PTZ
// control.
//
// The viewer makes one when it is shown in a window with display flags that
// ask for it, hands it the window's mouse input and menu commands through
// its input hooks, and lets the overlay text worker call Paint ten times a
// second. A control knows:
//   - the device: its dialect (for the parameter CGI's query and set of one
//     key), the viewer's control link and the device URL;
//   - three coordinate systems: window client pixels (mouse positions), the
//     video's pixels (the overlay bitmap, always {0, 0, video width, video
//     height}) and, for the editors, the device's own grid units;
//   - the overlay bitmap's device context, into which Paint draws. Pure white
//     is transparent there: every Paint starts by filling the video
//     rectangle with the white background brush;
//   - the overlay's alpha, which the viewer hands to the renderer.
//
// Popup menus follow one convention: a popup menu at the mouse position
// (converted to screen coordinates), tracked with flags 0 on the control's
// window, so that the chosen item comes back to the host as WM_COMMAND and,
// through the viewer's hook 7, to OnCommand. Saves that the user asked for
// end in a message box without owner: "Save data successfully." or "Save
// data failed.".
//
// Threads: the host's thread calls the input operations (and Save through
// OnCommand), the overlay text worker's thread calls Paint; every derived
// control serialises them with a lock of its own, held across a save's
// requests and its message box. The dialect, the link and the window are
// borrowed: the viewer destroys the control before any of them.
#pragma once

#include "net/CUrl.h"
#include "os/gdi/Gdi.h"
#include "os/window/Window.h"
#include "platform/CCritSection.h"
#include "platform/CLockWrap.h"
#include "render/COverlayTextWorker.h"

#include <cstdint>
#include <string>
#include <vector>

class CDeviceProfile;
class CHttpLink;

class COverlayControl : public IOverlayPainter {
public:
    // Key state bits of the mouse notifications, as in Windows mouse
    // messages.
    static constexpr int32_t kLeftButton = 0x0001;
    static constexpr int32_t kRightButton = 0x0002;
    // The overlay's transparent colour, which every Paint starts from.
    static constexpr COLORREF kBackgroundColour = RGB(255, 255, 255);
    // The messages of a save the user asked for.
    static constexpr const char* kSaveSucceededText = "Save data successfully.";
    static constexpr const char* kSaveSucceededCaption = "Success";
    static constexpr const char* kSaveFailedText = "Save data failed.";
    static constexpr const char* kSaveFailedCaption = "Error";
    // Every request a control makes while it is made, and every request of
    // one save, ends within this time together: the host's thread waits for
    // them, and a device that stopped answering would otherwise hold it for
    // the link's per-request deadline once per key (dozens of keys for a
    // privacy mask editor).
    static constexpr DWORD kExchangeBudgetMs = 10000;
    static constexpr int32_t kThickPenDivisor = 352;
    static constexpr int32_t kThinPenDivisor = 720;

    // One entry of a popup menu; an identifier of 0 is a separator.
    struct SMenuEntry {
        UINT id = 0;
        std::string label;
    };

    // dialect, link: the viewer's (borrowed; either may be null, then every
    // query and set fails). deviceAddress: the device's URL as text, parsed
    // into mDeviceUrl (null leaves it empty). clientSize: the window's client
    // width and height; videoRect: left, top, right, bottom of the video
    // (null reads as zeros). window: where menus open. backBufferDc: the
    // overlay bitmap's context (null: Paint draws nothing). channel: the
    // viewer's channel, 0 when none was given.
    COverlayControl(CDeviceProfile* dialect, CHttpLink* link, const char* deviceAddress,
                    const int32_t* clientSize, const int32_t* videoRect, HWND window, HDC backBufferDc,
                    int32_t channel);
    virtual ~COverlayControl();
    COverlayControl(const COverlayControl&) = delete;
    COverlayControl& operator=(const COverlayControl&) = delete;

    // The virtual operations, in the order the viewer's hooks 1 to 7 reach
    // them. x and y are client pixels of the window; keys the key state
    // (kLeftButton, kRightButton); extra the host's modifier word (bit 0:
    // the erase modifier of the block grid). The results are the viewer's
    // hook results; the base does nothing and returns 0.
    // Hook 1: the pointer left the window; controls forget a hover or drag.
    virtual int OnMouseLeave();
    virtual int OnMouseMove(int32_t x, int32_t y, int32_t keys, int32_t extra);
    virtual int OnButtonDown(int32_t x, int32_t y, int32_t keys, int32_t extra);
    virtual int OnButtonUp(int32_t x, int32_t y, int32_t keys, int32_t extra);
    // Hook 5: a double click; no control has a use for it.
    virtual int OnDoubleClick(int32_t x, int32_t y, int32_t keys, int32_t extra);
    // Hook 6: a wheel notification; the third value is the signed delta.
    virtual int OnWheel(int32_t a, int32_t b, int32_t delta, int32_t c, int32_t d);
    // Hook 7: a menu command (its identifier).
    virtual void OnCommand(int32_t id);
    // Draws the control into the back-buffer context (overlay worker thread).
    void Paint() override = 0;
    // Writes the control's state to the device; with showMessage non-zero
    // the outcome is shown in a message box. 1 when saved; the base has
    // nothing to save and returns 1.
    virtual int Save(int showMessage);

    // What the viewer hands to the renderer when it installs the control.
    float OverlayAlpha() const { return mOverlayAlpha; }
    int32_t ClientWidth() const { return mClientWidth; }
    int32_t ClientHeight() const { return mClientHeight; }
    RECT VideoRect() const { return RECT{mVideoLeft, mVideoTop, mVideoRight, mVideoBottom}; }

    // The integer a device's decimal answer holds, as atol reads it: blanks,
    // an optional sign and the digits that follow; 0 when there are none.
    static int32_t ReadLong(const std::string& text);

protected:
    // Limits a group of requests on the control link to kExchangeBudgetMs
    // together, unless the link already has a budget (a mask editor's own
    // areas run inside the editor's).
    class CExchangeBudget {
    public:
        explicit CExchangeBudget(CHttpLink* link);
        ~CExchangeBudget();
        CExchangeBudget(const CExchangeBudget&) = delete;
        CExchangeBudget& operator=(const CExchangeBudget&) = delete;

    private:
        CHttpLink* mpLink = nullptr; // set only when this budget is the link's
    };

    // The parameter CGI through the dialect: 1 with the answer's value, 0
    // without a dialect or when the device did not answer "OK".
    int QueryParam(const std::string& key, std::string& value);
    int SetParam(const std::string& key, const std::string& value);
    // QueryParam read as atol reads it; fallback when the query fails.
    int32_t QueryLong(const std::string& key, int32_t fallback = 0);
    // The editors' popup-menu convention at client point (x, y).
    void TrackMenu(const std::vector<SMenuEntry>& entries, int32_t x, int32_t y);
    // The end of every save: with showMessage non-zero the message box of
    // success or failure; Save's result (1 saved, 0 not).
    static int EndSave(bool saved, int showMessage);
    // A member read under its lock, for the controls' accessors.
    template <typename T> static T Locked(media_util::CCritSection& lock, const T& value) {
        media_util::CLockWrap guard(lock);
        return value;
    }
    // The editors' pens: thick ones one pixel wider per kThickPenDivisor
    // pixels of video width, thin ones per kThinPenDivisor.
    int ThickPenWidth() const { return mVideoWidth / kThickPenDivisor + 1; }
    int ThinPenWidth() const { return mVideoWidth / kThinPenDivisor + 1; }
    // Fills the video rectangle of the back-buffer context with the
    // background brush (transparent).
    void ClearVideo();
    // a * b / c in 32-bit arithmetic, truncating; 0 when c is 0 (a window or
    // video size of 0, or a limit the device did not give).
    static int32_t Scale(int32_t a, int32_t b, int32_t c);

    // --- Members, in this order. ---
    CDeviceProfile* mpProfile = nullptr; // the device's dialect; borrowed
    HWND m_hWnd = nullptr;               // the channel's window; borrowed
    int32_t mClientWidth = 0;
    int32_t mClientHeight = 0;
    int32_t mChannel = 0;
    CUrl mDeviceUrl;
    CHttpLink* mpLink = nullptr; // the viewer's control link; borrowed
    HDC m_hBackDC = nullptr;     // the overlay bitmap's context; borrowed
    int32_t mVideoLeft = 0;
    int32_t mVideoTop = 0;
    int32_t mVideoRight = 0;
    int32_t mVideoBottom = 0;
    int32_t mVideoWidth = 0;  // |right - left|
    int32_t mVideoHeight = 0; // |bottom - top|
    int32_t mEnabled = 1;
    HBRUSH m_hBackgroundBrush = nullptr; // owned
    float mOverlayAlpha = 1.0f;
};
