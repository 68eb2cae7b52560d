// The mixer-bitmap interfaces of the two video mixing renderers (VMR-7 and
// VMR-9): how a caller hands the mixer a bitmap to blend over every picture it
// shows from then on. COverlayBitmap (render) is the caller; the video renderer
// filters of this layer implement them.
//
// What the mixer does with a description (both kinds):
//   - flags must contain the device-context flag (2): the bitmap is the one
//     selected into hdc (pDDS is always null here, there are no DirectDraw or
//     Direct3D surfaces). Without it, or with a null hdc or an empty source
//     rectangle, the result is E_INVALIDARG-style failure and the previous
//     bitmap stays.
//   - the disable flag (1) removes the bitmap; nothing is blended any more.
//   - SetAlphaBitmap copies the pixels of rSrc out of the bitmap before it
//     returns (os::CopyDcPixels of os/gdi/Gdi.h reads them as BGRA under the
//     device context's lock): the caller may paint into its device context again at once, and
//     what it paints shows only after its next SetAlphaBitmap.
//   - with the source colour key flag (8), pixels of exactly clrSrcKey
//     (0x00BBGGRR) are transparent; every other pixel is blended over the
//     video as alpha * bitmap + (1 - alpha) * video, alpha in 0.0 .. 1.0.
//   - the copied rectangle is stretched over rDest, a rectangle of the video
//     normalised to 0.0 .. 1.0 ({0, 0, 1, 1} is the whole picture).
// The results are HRESULT values: 0 (S_OK) on success, negative on failure.
// The pointers are not owned by the caller: they are the renderer filter's,
// valid while the filter lives.
#pragma once

#include "os/kernel/Kernel.h"
#include "os/window/WinDef.h"

// COM result type; the same alias as the rest of this layer uses.
using HRESULT = LONG;

// dwFlags of both descriptions (VMR-9 names them VMR9AlphaBitmap_*, with the
// same values).
constexpr DWORD VMRBITMAP_DISABLE = 0x00000001;
constexpr DWORD VMRBITMAP_HDC = 0x00000002;
constexpr DWORD VMRBITMAP_ENTIREDDS = 0x00000004;
constexpr DWORD VMRBITMAP_SRCCOLORKEY = 0x00000008;
constexpr DWORD VMRBITMAP_SRCRECT = 0x00000010;
constexpr DWORD VMR9AlphaBitmap_Disable = 0x00000001;
constexpr DWORD VMR9AlphaBitmap_hDC = 0x00000002;
constexpr DWORD VMR9AlphaBitmap_EntireDDS = 0x00000004;
constexpr DWORD VMR9AlphaBitmap_SrcColorKey = 0x00000008;
constexpr DWORD VMR9AlphaBitmap_SrcRect = 0x00000010;
constexpr DWORD VMR9AlphaBitmap_FilterMode = 0x00000020;

// A rectangle of the video in fractions of its width and height.
struct NORMALIZEDRECT {
    float left;
    float top;
    float right;
    float bottom;
};
using VMR9NormalizedRect = NORMALIZEDRECT;

struct VMRALPHABITMAP {
    DWORD dwFlags;
    HDC hdc;
    void* pDDS; // a DirectDraw surface on Windows; always null here
    RECT rSrc;
    NORMALIZEDRECT rDest;
    FLOAT fAlpha;
    COLORREF clrSrcKey;
};

struct VMR9AlphaBitmap {
    DWORD dwFlags;
    HDC hdc;
    void* pDDS; // a Direct3D surface on Windows; always null here
    RECT rSrc;
    VMR9NormalizedRect rDest;
    FLOAT fAlpha;
    COLORREF clrSrcKey;
    DWORD dwFilterMode; // 0: the mixer's default filter for stretching
};

// VMR-7's mixer bitmap.
class IVMRMixerBitmap {
public:
    virtual HRESULT SetAlphaBitmap(const VMRALPHABITMAP* bitmap) = 0;

protected:
    ~IVMRMixerBitmap() = default; // not deleted through this interface
};

// VMR-9's mixer bitmap.
class IVMRMixerBitmap9 {
public:
    virtual HRESULT SetAlphaBitmap(const VMR9AlphaBitmap* bitmap) = 0;

protected:
    ~IVMRMixerBitmap9() = default; // not deleted through this interface
};
