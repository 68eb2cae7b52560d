// The bitmap that text and editor graphics are painted into, and that the
// video mixer blends over every picture of a channel.
//
// The renderer makes one when it starts with the overlay flag, for the
// channel's window and its mixer's bitmap interface (VMR-7 or VMR-9), at the
// size of the camera's picture. Whoever paints (the viewer's caption, the
// area editors, the PTZ control, the text worker) draws with GDI into
// GetMemoryDC() and then hands the result to the mixer with Apply. Pure
// white (0xFFFFFF) is transparent: Clear makes the whole overlay invisible,
// and painters draw in other colours (the caption's fill is 0xFAFAFA for
// this reason). Everything else is blended with the overlay's alpha.
//
// Failures are not reported: without a device context or a mixer, painting
// and Apply do nothing visible and the previous overlay stays on screen.
//
// Threads: painting happens from the text worker's thread and the host's
// thread; the GDI layer serialises the individual calls. Apply copies the
// bitmap inside the mixer's SetAlphaBitmap, so the mixer never reads a
// bitmap while it changes.
#pragma once

#include "os/dshow/MixerBitmap.h"
#include "os/gdi/Gdi.h"
#include "os/window/WinDef.h"

#include <atomic>

class COverlayBitmap {
public:
    // The mixer-bitmap interface a bitmap was made for.
    static constexpr DWORD kKindNone = 0;
    static constexpr DWORD kKindVmr7 = 1;
    static constexpr DWORD kKindVmr9 = 2;
    // Apply's description: bitmap given as a device context, with a source
    // colour key; the key is white; the destination is the whole video.
    static constexpr DWORD kApplyFlags = VMRBITMAP_HDC | VMRBITMAP_SRCCOLORKEY; // 10
    static constexpr COLORREF kTransparentKey = 0xFFFFFF;
    // Apply's result when there is no mixer to hand the bitmap to (E_POINTER).
    static constexpr HRESULT kNoMixer = static_cast<HRESULT>(0x80004003u);

    COverlayBitmap() = default;
    virtual ~COverlayBitmap();
    COverlayBitmap(const COverlayBitmap&) = delete;
    COverlayBitmap& operator=(const COverlayBitmap&) = delete;

    // Sets the kind and the mixer interface (not owned), stores the size
    // (the height made positive: a bottom-up picture's height is negative),
    // makes a memory device context compatible with the window's and a
    // bitmap of width x height in it, and clears it. A bitmap made before
    // is released first.
    void CreateFor7(HWND window, IVMRMixerBitmap* mixer, int width, int height);
    void CreateFor9(HWND window, IVMRMixerBitmap9* mixer, int width, int height);

    // Fills the whole bitmap with the system window colour (white), which
    // the mixer shows as nothing.
    void Clear();
    // Describes the bitmap to the mixer and calls its SetAlphaBitmap; the
    // mixer's result, kNoMixer without one.
    HRESULT Apply();
    // The memory device context to paint into; null before a Create.
    HDC GetMemoryDC() const { return m_hMemDC; }
    // Any thread: the viewer sets it while the text worker applies.
    void SetAlpha(float alpha) { mAlpha = alpha; }

    DWORD Kind() const { return mKind; }
    int Width() const { return mWidth; }
    int Height() const { return mHeight; }
    float Alpha() const { return mAlpha; }

private:
    void Create(HWND window, int width, int height);
    void Release();

    HWND m_hWnd = nullptr;
    DWORD mKind = kKindNone;
    IVMRMixerBitmap* mpVmrBitmap = nullptr;   // not owned
    IVMRMixerBitmap9* mpVmr9Bitmap = nullptr; // not owned
    HDC m_hMemDC = nullptr;                   // owned
    HBITMAP m_hBitmap = nullptr;              // owned, selected into m_hMemDC
    int mWidth = 0;
    int mHeight = 0;
    std::atomic<float> mAlpha{1.0f};
};
