#include "render/COverlayBitmap.h"

#include <cstdlib>

COverlayBitmap::~COverlayBitmap() {
    Release();
}

void COverlayBitmap::Release() {
    // The bitmap goes first, while still selected: the GDI layer keeps it
    // until the context that holds it is deleted.
    if (m_hBitmap) {
        DeleteObject(m_hBitmap);
        m_hBitmap = nullptr;
    }
    if (m_hMemDC) {
        DeleteDC(m_hMemDC);
        m_hMemDC = nullptr;
    }
}

void COverlayBitmap::Create(HWND window, int width, int height) {
    Release();
    m_hWnd = window;
    mWidth = width;
    mHeight = std::abs(height);
    HDC windowDC = GetDC(m_hWnd);
    m_hMemDC = CreateCompatibleDC(windowDC);
    m_hBitmap = CreateCompatibleBitmap(windowDC, mWidth, mHeight);
    ReleaseDC(m_hWnd, windowDC);
    if (m_hMemDC && m_hBitmap)
        SelectObject(m_hMemDC, m_hBitmap);
    Clear();
}

void COverlayBitmap::CreateFor7(HWND window, IVMRMixerBitmap* mixer, int width, int height) {
    mKind = kKindVmr7;
    mpVmrBitmap = mixer;
    Create(window, width, height);
}

void COverlayBitmap::CreateFor9(HWND window, IVMRMixerBitmap9* mixer, int width, int height) {
    mKind = kKindVmr9;
    mpVmr9Bitmap = mixer;
    Create(window, width, height);
}

void COverlayBitmap::Clear() {
    if (!m_hMemDC)
        return;
    RECT all{0, 0, mWidth, mHeight};
    FillRect(m_hMemDC, &all, reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1)));
}

HRESULT COverlayBitmap::Apply() {
    const RECT source{0, 0, mWidth, mHeight};
    const NORMALIZEDRECT wholeVideo{0.0f, 0.0f, 1.0f, 1.0f};
    if (mKind == kKindVmr7 && mpVmrBitmap) {
        VMRALPHABITMAP bitmap{};
        bitmap.dwFlags = kApplyFlags;
        bitmap.hdc = m_hMemDC;
        bitmap.pDDS = nullptr;
        bitmap.rSrc = source;
        bitmap.rDest = wholeVideo;
        bitmap.fAlpha = mAlpha;
        bitmap.clrSrcKey = kTransparentKey;
        return mpVmrBitmap->SetAlphaBitmap(&bitmap);
    }
    if (mKind == kKindVmr9 && mpVmr9Bitmap) {
        VMR9AlphaBitmap bitmap{};
        bitmap.dwFlags = kApplyFlags;
        bitmap.hdc = m_hMemDC;
        bitmap.pDDS = nullptr;
        bitmap.rSrc = source;
        bitmap.rDest = wholeVideo;
        bitmap.fAlpha = mAlpha;
        bitmap.clrSrcKey = kTransparentKey;
        bitmap.dwFilterMode = 0;
        return mpVmr9Bitmap->SetAlphaBitmap(&bitmap);
    }
    return kNoMixer;
}
