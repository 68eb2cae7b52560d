// The three video renderer filters: the Video Mixing Renderer 7
// (CLSID_VideoRendererDefault), the Video Mixing Renderer 9
// (CLSID_VideoMixingRenderer9) and the classic video renderer
// (CLSID_VideoRenderer). Each draws every picture it receives into a window's
// surface, before Receive returns:
//
// - windowed (the classic renderer, VMR-7, and VMR-9 until it is switched to
//   windowless): the video window is a rectangle of its owner window
//   (IVideoWindow::put_Owner, SetWindowPosition), shown while visible;
// - windowless (VMR-9 after SetRenderingMode(VMR9Mode_Windowless)): the
//   picture goes to the destination rectangle of the clipping window
//   (IVMRWindowlessControl9).
//
// The part of the picture shown is the source position (IBasicVideo, or the
// windowless source rectangle), in the stream's pixels. The mixers keep the
// source's aspect ratio in letterbox mode (the bars take the border colour,
// black in windowed mode) and stretch in mode none; the classic renderer
// always stretches. The mixers blend their mixer bitmap (MixerBitmap.h) over
// the picture.
//
// Accepted pictures: the mixers take RGB32, RGB565 and I420; the classic
// renderer only RGB32, the window surface's own format, so the colour space
// converter joins in front of it for anything else. The classic renderer
// takes no I420 at all (nothing in the graph converts it).
//
// Threads: Receive on the delivering thread; every other call on the owner's
// thread. mLock guards all of the filter's state and is held while drawing.
#pragma once

#include "os/compose/CComposeContext.h"
#include "os/compose/CKeyedOverlay.h"
#include "os/dshow/CBaseFilter.h"
#include "os/dshow/PictureDraw.h"
#include "os/window/Window.h"

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace os::dshow {

class CVideoRenderer : public CBaseFilter,
                       public IVideoWindow,
                       public IBasicVideo,
                       public IVMRFilterConfig,
                       public IVMRFilterConfig9,
                       public IVMRMixerControl,
                       public IVMRMixerControl9,
                       public IVMRWindowlessControl9,
                       public IVMRAspectRatioControl,
                       public IVMRAspectRatioControl9,
                       public IVMRMixerBitmap,
                       public IVMRMixerBitmap9 {
public:
    enum class EKind { Classic, Vmr7, Vmr9 };

    // The mixers' filtering preferences until changed.
    static constexpr DWORD kDefaultMixingPrefs = MixerPref_BiLinearFiltering;

    static HRESULT CreateVmr7(REFIID iid, void** out);
    static HRESULT CreateVmr9(REFIID iid, void** out);
    static HRESULT CreateClassic(REFIID iid, void** out);

    HRESULT QueryInterface(REFIID iid, void** out) override;
    ULONG AddRef() override { return CBaseFilter::AddRef(); }
    ULONG Release() override { return CBaseFilter::Release(); }

    int GetPinCount() override;
    CBasePin* GetPin(int index) override;
    IVideoWindow* GraphVideoWindow() override;
    IBasicVideo* GraphBasicVideo() override;

    // IVideoWindow
    HRESULT put_AutoShow(LONG autoShow) override;
    HRESULT get_AutoShow(LONG* autoShow) override;
    HRESULT put_WindowStyle(LONG style) override;
    HRESULT get_WindowStyle(LONG* style) override;
    HRESULT put_Visible(LONG visible) override;
    HRESULT get_Visible(LONG* visible) override;
    HRESULT put_Owner(OAHWND owner) override;
    HRESULT get_Owner(OAHWND* owner) override;
    HRESULT put_MessageDrain(OAHWND drain) override;
    HRESULT get_MessageDrain(OAHWND* drain) override;
    HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;

    // IBasicVideo
    HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
    HRESULT SetDefaultSourcePosition() override;
    HRESULT GetVideoSize(LONG* width, LONG* height) override;

    // IVMRFilterConfig and IVMRFilterConfig9 (the same calls on both mixers)
    HRESULT SetNumberOfStreams(DWORD streams) override;
    HRESULT GetNumberOfStreams(DWORD* streams) override;
    HRESULT SetRenderingMode(DWORD mode) override;
    HRESULT GetRenderingMode(DWORD* mode) override;

    // IVMRMixerControl and IVMRMixerControl9
    HRESULT SetMixingPrefs(DWORD prefs) override;
    HRESULT GetMixingPrefs(DWORD* prefs) override;

    // IVMRWindowlessControl9
    HRESULT SetVideoClippingWindow(HWND window) override;
    HRESULT SetBorderColor(COLORREF colour) override;
    HRESULT GetBorderColor(COLORREF* colour) override;
    HRESULT SetVideoPosition(const RECT* src, const RECT* dst) override;
    HRESULT GetVideoPosition(RECT* src, RECT* dst) override;
    HRESULT GetNativeVideoSize(LONG* width, LONG* height, LONG* arWidth, LONG* arHeight) override;

    // IVMRAspectRatioControl, IVMRAspectRatioControl9 and the windowless control's
    HRESULT SetAspectRatioMode(DWORD mode) override;
    HRESULT GetAspectRatioMode(DWORD* mode) override;

    // IVMRMixerBitmap, IVMRMixerBitmap9
    HRESULT SetAlphaBitmap(const VMRALPHABITMAP* bitmap) override;
    HRESULT SetAlphaBitmap(const VMR9AlphaBitmap* bitmap) override;

    // --- For tests and the host ---
    EKind Kind() const { return mKind; }
    // Pictures received while running, and those that reached a window.
    uint64_t GetFramesReceived() const { return mFramesReceived.load(); }
    uint64_t GetFramesDrawn() const { return mFramesDrawn.load(); }
    // The rectangle of the window surface the last picture covered (the
    // letterboxed picture, not its bars); empty before the first.
    RECT GetLastPictureRect();
    // The mixer bitmap's size, 0 x 0 when none is set.
    SIZE GetOverlaySize();

    // Called by the input pin.
    HRESULT Render(const CMediaSample& sample);
    // The scale hint of the input pin (IVideoScaleHint): how far the
    // shown part of the picture may be reduced and still cover its place.
    LONG ScaleDenominator();
    // The input pin's direct target (IVideoDirectTarget).
    bool BeginDirect(LONG width, LONG height, uint8_t** pixels, LONG* stride);
    bool BeginPlanar(LONG width, LONG height, int subsampling, uint8_t* planes[3], int strides[3]);
    void EndDirect(bool drawn);

protected:
    void* QueryOwnInterface(REFIID iid) override;
    void OnStateChange(FILTER_STATE from, FILTER_STATE to) override;

private:
    class CInputPin;

    explicit CVideoRenderer(EKind kind);
    ~CVideoRenderer() override;
    static HRESULT Create(EKind kind, REFIID iid, void** out);

    bool IsWindowless() const { return mRenderingMode == VMRMode_Windowless; }
    bool IsMixer() const { return mKind != EKind::Classic; }
    // The fault name of a call on this kind's interface ("IVMRFilterConfig9::SetRenderingMode").
    HRESULT KindFault(const char* vmr7Interface, const char* vmr9Interface, const char* method);
    HRESULT SetBitmap(DWORD flags, HDC hdc, const RECT& src, const NORMALIZEDRECT& dest, float alpha,
                      COLORREF key);
    void ConnectionChanged(const AM_MEDIA_TYPE* mt);

    const EKind mKind;
    std::vector<std::unique_ptr<CInputPin>> mPins; // at least one
    // Everything below is guarded by mLock.
    DWORD mRenderingMode = VMRMode_Windowed;
    DWORD mStreams = 0; // 0: SetNumberOfStreams not called (one pin)
    DWORD mMixingPrefs = kDefaultMixingPrefs;
    DWORD mAspectMode = VMR_ARMODE_NONE;
    // Windowed.
    HWND mOwner = nullptr;
    HWND mDrain = nullptr;
    LONG mAutoShow = OATRUE;
    LONG mStyle = 0;
    LONG mVisible = OAFALSE;
    RECT mWindowRect{0, 0, 0, 0}; // in the owner's client area
    // Windowless.
    HWND mClipWindow = nullptr;
    COLORREF mBorder = RGB(0, 0, 0);
    RECT mDestRect{0, 0, 0, 0};
    // The part of the stream's picture shown; empty = all of it.
    RECT mSourceRect{0, 0, 0, 0};
    LONG mVideoWidth = 0; // of the connection, then of the last picture
    LONG mVideoHeight = 0;
    CComposeContext mCompose;
    CKeyedOverlay mOverlay; // the mixer bitmap's copy
    NORMALIZEDRECT mOverlayDest{0, 0, 1, 1};
    bool mHasOverlay = false;
    std::vector<uint8_t> mOverlaySource; // the bitmap's pixels as set, to see a change
    COLORREF mOverlayKey = 0;
    // While an overlay is set: the last picture as drawn, before the overlay
    // was blended over it (BGRX rows of mKeptShown in mKeptWindow's surface;
    // mKeptVideoRect is the picture's whole rectangle, which places the
    // overlay). A changed overlay is drawn over it at once, as a mixer
    // composes its bitmap anew: an editor's change shows even when the
    // camera sends a picture a second, or none.
    std::vector<uint8_t> mKeptVideo;
    HWND mKeptWindow = nullptr; // null: nothing kept
    RECT mKeptVideoRect{0, 0, 0, 0};
    RECT mKeptShown{0, 0, 0, 0};
    // Where the overlay goes over a picture drawn in video.
    RECT OverlayTarget(const RECT& video) const;
    // After a picture was drawn into shown (of video) in the surface: keeps
    // it and blends the overlay over it, or lets the kept copy go when there
    // is no overlay. mLock held.
    void BlendOverlay(HWND window, const SComposeSurface& surface, const RECT& video, const RECT& shown);
    void DropKeptVideo();
    // Draws the kept picture with the overlay as it is now; returns the
    // window to invalidate (after mLock is let go), or null. mLock held.
    HWND RedrawKeptVideo();
    RECT mLastPictureRect{0, 0, 0, 0};
    // The window and the rectangle of it a whole picture of width x height
    // would be copied to unchanged (mLock held); null when there is none.
    HWND DirectPlace(LONG width, LONG height, RECT* place);

    // Between BeginDirect (or BeginPlanar) and EndDirect: the window and its
    // surface lock, or planar lock (mLock is held as well).
    HWND mDirectWindow = nullptr;
    std::optional<Window::SurfaceLock> mDirectLock;
    std::optional<Window::PlanarLock> mPlanarLock;
    RECT mDirectRect{0, 0, 0, 0};
    std::atomic<uint64_t> mFramesReceived{0};
    std::atomic<uint64_t> mFramesDrawn{0};
};

} // namespace os::dshow
