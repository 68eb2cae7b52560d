// The worker thread that keeps a channel's overlay fresh while an overlay
// control (an area editor or the PTZ control) is shown over the video.
//
// Ten times a second it lets the control repaint its graphics into the
// overlay bitmap, draws the caption over them when one is set, and hands the
// overlay to the mixer. The caption is drawn as the device's own on-screen
// text looks: a "Courier New" caption sized from the caption rectangle's
// width, outlined by four black copies shifted one pixel diagonally, then
// filled with 0xFAFAFA - not white, which the overlay shows as transparent.
//
// The control and the renderer are reached through two small interfaces,
// IOverlayPainter and IOverlayTarget, which the overlay controls and the
// video renderer implement (they live in layers above and beside this one).
//
// Lifetime: the viewer makes a worker when a control becomes active, sets
// its targets and text, starts it, and stops and destroys it before it
// destroys the control. A worker without a painter stops itself on its first
// pass.
//
// Threads: SetTargets and SetText come from the viewer's thread, Job runs on
// the worker thread; mLock guards the fields they share, and is not held
// while the control paints (the control takes its own lock).
#pragma once

#include "os/window/WinDef.h"
#include "platform/CCritSection.h"
#include "platform/CThreadWorker.h"

#include <atomic>
#include <cstdint>
#include <string>

// What the worker asks of an overlay control: paint its graphics into the
// overlay device context it was given.
class IOverlayPainter {
public:
    virtual void Paint() = 0;

protected:
    ~IOverlayPainter() = default;
};

// What the worker asks of the channel's video renderer.
class IOverlayTarget {
public:
    // The overlay bitmap's memory device context; null without an overlay.
    virtual HDC GetOverlayDC() = 0;
    // Hands the overlay bitmap to the mixer; nothing without an overlay.
    virtual void ApplyOverlay() = 0;

protected:
    ~IOverlayTarget() = default;
};

class COverlayTextWorker : public media_util::CThreadWorker {
public:
    // One pass a refresh: ten a second.
    static constexpr DWORD kRefreshIntervalMs = 100;
    // The caption box lies this far inside the rectangle on every side.
    static constexpr int kCaptionInset = 10;
    // Caption size from the rectangle's width: width / 32, kept to 10 .. 20;
    // font cell height size * 9 / 4, character width size - 1.
    static constexpr int kSizeDivisor = 32;
    static constexpr int kMinSize = 10;
    static constexpr int kMaxSize = 20;
    static constexpr int kCaptionWeight = 600;
    static constexpr const char* kCaptionFace = "Courier New";
    static constexpr COLORREF kOutlineColor = 0x000000;
    static constexpr COLORREF kFillColor = 0xFAFAFA;
    // SetText flags: bit 0 enables the caption, bits 1-3 the horizontal
    // alignment, bits 4-6 the vertical alignment.
    static constexpr int kAlignCentre = 1;
    static constexpr int kAlignFar = 2; // right, bottom

    COverlayTextWorker() = default;
    ~COverlayTextWorker() override;

    // The active control (not owned) and the channel's video renderer (not owned).
    void SetTargets(IOverlayPainter* painter, IOverlayTarget* renderer);
    // The caption, its flags (above) and its rectangle in overlay pixels.
    void SetText(const wchar_t* text, int flags, const RECT& rect);

    // One pass: stop without a painter; else paint, caption, apply, and
    // wait kRefreshIntervalMs on the stop event (non-zero when it was set).
    int Job() override;

    // The passes that handed the overlay to the renderer so far. A pass that
    // began after a change to the control shows it once this count has gone
    // up by two: the pass under way may have painted before the change.
    uint64_t GetPassCount() const { return mPasses.load(); }

    // The caption's size number for a rectangle width (exposed for tests).
    static int CaptionSize(int rectWidth);
    // The DrawText format for the alignments.
    static UINT CaptionFormat(int horizontal, int vertical);
    // Draws the caption into dc: outline and fill, as each pass does.
    static void DrawCaption(HDC dc, const std::wstring& text, int horizontal, int vertical, const RECT& rect);

private:
    media_util::CCritSection mLock;
    IOverlayPainter* mpPainter = nullptr; // guarded by mLock
    IOverlayTarget* mpRenderer = nullptr; // guarded by mLock
    std::wstring mText;                   // guarded by mLock
    int mEnabled = 0;                     // guarded by mLock
    int mHorizontal = 0;                  // guarded by mLock
    int mVertical = 0;                    // guarded by mLock
    RECT mRect{0, 0, 0, 0};               // guarded by mLock
    std::atomic<uint64_t> mPasses{0};
};
