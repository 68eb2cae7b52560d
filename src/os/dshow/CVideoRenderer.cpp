#include "os/dshow/CVideoRenderer.h"

#include "os/gdi/Gdi.h"
#include "os/window/Window.h"

#include <algorithm>
#include <cstring>

namespace os::dshow {

namespace {

RECT WholeRect(LONG width, LONG height) {
    return RECT{0, 0, width, height < 0 ? -height : height};
}

bool IsEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

// A source rectangle in the stream's pixels mapped onto a picture that was
// decoded at a smaller scale.
RECT ScaleRect(const RECT& r, LONG fromW, LONG fromH, LONG toW, LONG toH) {
    if (fromW <= 0 || fromH <= 0 || (fromW == toW && fromH == toH))
        return r;
    return RECT{static_cast<LONG>(static_cast<int64_t>(r.left) * toW / fromW),
                static_cast<LONG>(static_cast<int64_t>(r.top) * toH / fromH),
                static_cast<LONG>(static_cast<int64_t>(r.right) * toW / fromW),
                static_cast<LONG>(static_cast<int64_t>(r.bottom) * toH / fromH)};
}

// A colour (0x00BBGGRR) that no pixel of a B, G, R, X bitmap has.
COLORREF UnusedColour(const std::vector<uint8_t>& bgrx) {
    for (COLORREF candidate = 0x123456;; candidate += 0x010307) {
        const uint8_t b = GetBValue(candidate), g = GetGValue(candidate), r = GetRValue(candidate);
        bool used = false;
        for (size_t i = 0; i + 3 < bgrx.size() && !used; i += 4)
            used = bgrx[i] == b && bgrx[i + 1] == g && bgrx[i + 2] == r;
        if (!used)
            return candidate & 0xFFFFFF;
    }
}

} // namespace

class CVideoRenderer::CInputPin : public CBaseInputPin, public IVideoScaleHint, public IVideoDirectTarget {
public:
    CInputPin(CVideoRenderer* filter, const wchar_t* name)
        : CBaseInputPin(filter, name), mpRenderer(filter) {}

    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (out != nullptr && iid == IID_IVideoScaleHint)
            return ReturnInterface(static_cast<IPin*>(this), static_cast<IVideoScaleHint*>(this), out);
        if (out != nullptr && iid == IID_IVideoDirectTarget)
            return ReturnInterface(static_cast<IPin*>(this), static_cast<IVideoDirectTarget*>(this), out);
        return CBaseInputPin::QueryInterface(iid, out);
    }
    ULONG AddRef() override { return CBasePin::AddRef(); }
    ULONG Release() override { return CBasePin::Release(); }
    LONG GetScaleDenominator() override { return mpRenderer->ScaleDenominator(); }
    bool BeginDirect(LONG width, LONG height, uint8_t** pixels, LONG* stride) override {
        return mpRenderer->BeginDirect(width, height, pixels, stride);
    }
    bool BeginPlanar(LONG width, LONG height, int subsampling, uint8_t* planes[3], int strides[3]) override {
        return mpRenderer->BeginPlanar(width, height, subsampling, planes, strides);
    }
    void EndDirect(bool drawn) override { mpRenderer->EndDirect(drawn); }

    HRESULT Receive(const CMediaSample* sample) override {
        if (sample == nullptr)
            return E_POINTER;
        return mpRenderer->Render(*sample);
    }

protected:
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        if (mt.majortype != MEDIATYPE_Video || mt.biWidth <= 0 || mt.biHeight == 0)
            return S_FALSE;
        const int32_t code = PixelCodeOf(mt.subtype);
        if (mpRenderer->Kind() == EKind::Classic)
            return code == kComposeBgra ? S_OK : S_FALSE;
        return code == kComposeBgra || code == kComposeRgb565 || code == kComposeI420 ? S_OK : S_FALSE;
    }
    HRESULT CompleteConnect(IPin*) override {
        mpRenderer->ConnectionChanged(&mMediaType);
        return S_OK;
    }

private:
    CVideoRenderer* mpRenderer;
};

HRESULT CVideoRenderer::Create(EKind kind, REFIID iid, void** out) {
    auto* filter = new CVideoRenderer(kind);
    HRESULT hr = filter->QueryInterface(iid, out);
    filter->Release();
    return hr;
}

HRESULT CVideoRenderer::CreateVmr7(REFIID iid, void** out) {
    return Create(EKind::Vmr7, iid, out);
}
HRESULT CVideoRenderer::CreateVmr9(REFIID iid, void** out) {
    return Create(EKind::Vmr9, iid, out);
}
HRESULT CVideoRenderer::CreateClassic(REFIID iid, void** out) {
    return Create(EKind::Classic, iid, out);
}

static const CLSID& ClassOf(CVideoRenderer::EKind kind) {
    switch (kind) {
    case CVideoRenderer::EKind::Vmr7:
        return CLSID_VideoRendererDefault;
    case CVideoRenderer::EKind::Vmr9:
        return CLSID_VideoMixingRenderer9;
    case CVideoRenderer::EKind::Classic:
        break;
    }
    return CLSID_VideoRenderer;
}

CVideoRenderer::CVideoRenderer(EKind kind) : CBaseFilter(ClassOf(kind)), mKind(kind) {
    mPins.push_back(std::make_unique<CInputPin>(this, L"VMR Input0"));
}

CVideoRenderer::~CVideoRenderer() = default;

HRESULT CVideoRenderer::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    // The mixer bitmap interfaces are not counted (MixerBitmap.h): they stay
    // valid while the filter lives, and their users hold the filter.
    if (IsMixer() && (iid == IID_IVMRMixerBitmap || iid == IID_IVMRMixerBitmap9)) {
        HRESULT hr = CheckQueryFault(IidName(iid), Name().c_str());
        *out = nullptr;
        if (FAILED(hr))
            return hr;
        if (mKind == EKind::Vmr7 && iid == IID_IVMRMixerBitmap)
            *out = static_cast<IVMRMixerBitmap*>(this);
        else if (mKind == EKind::Vmr9 && iid == IID_IVMRMixerBitmap9)
            *out = static_cast<IVMRMixerBitmap9*>(this);
        return *out != nullptr ? S_OK : E_NOINTERFACE;
    }
    return CBaseFilter::QueryInterface(iid, out);
}

void* CVideoRenderer::QueryOwnInterface(REFIID iid) {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (iid == IID_IBasicVideo)
        return static_cast<IBasicVideo*>(this);
    if (iid == IID_IVideoWindow)
        return IsWindowless() ? nullptr : static_cast<IVideoWindow*>(this);
    switch (mKind) {
    case EKind::Vmr7:
        if (iid == IID_IVMRFilterConfig)
            return static_cast<IVMRFilterConfig*>(this);
        if (iid == IID_IVMRMixerControl)
            return static_cast<IVMRMixerControl*>(this);
        if (iid == IID_IVMRAspectRatioControl)
            return static_cast<IVMRAspectRatioControl*>(this);
        break;
    case EKind::Vmr9:
        if (iid == IID_IVMRFilterConfig9)
            return static_cast<IVMRFilterConfig9*>(this);
        if (iid == IID_IVMRMixerControl9)
            return static_cast<IVMRMixerControl9*>(this);
        if (iid == IID_IVMRAspectRatioControl9)
            return static_cast<IVMRAspectRatioControl9*>(this);
        // As on Windows, the windowless control exists only in windowless mode.
        if (iid == IID_IVMRWindowlessControl9 && IsWindowless())
            return static_cast<IVMRWindowlessControl9*>(this);
        break;
    case EKind::Classic:
        break;
    }
    return nullptr;
}

int CVideoRenderer::GetPinCount() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return static_cast<int>(mPins.size());
}

CBasePin* CVideoRenderer::GetPin(int index) {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return index >= 0 && index < static_cast<int>(mPins.size()) ? mPins[static_cast<size_t>(index)].get()
                                                                : nullptr;
}

IVideoWindow* CVideoRenderer::GraphVideoWindow() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (IsWindowless())
        return nullptr;
    AddRef();
    return this;
}

IBasicVideo* CVideoRenderer::GraphBasicVideo() {
    AddRef();
    return this;
}

HRESULT CVideoRenderer::KindFault(const char* vmr7Interface, const char* vmr9Interface, const char* method) {
    std::string call = std::string(mKind == EKind::Vmr9 ? vmr9Interface : vmr7Interface) + "::" + method;
    return Fault(call.c_str());
}

void CVideoRenderer::ConnectionChanged(const AM_MEDIA_TYPE* mt) {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    mVideoWidth = mt->biWidth;
    mVideoHeight = mt->biHeight < 0 ? -mt->biHeight : mt->biHeight;
    if (IsEmpty(mWindowRect))
        mWindowRect = WholeRect(mVideoWidth, mVideoHeight);
}

void CVideoRenderer::OnStateChange(FILTER_STATE from, FILTER_STATE to) {
    // A windowed renderer with AutoShow shows its window when the graph runs.
    if (to != State_Stopped && from == State_Stopped && mAutoShow != OAFALSE && !IsWindowless())
        mVisible = OATRUE;
}

// --- Drawing ---

HRESULT CVideoRenderer::Render(const CMediaSample& sample) {
    std::unique_lock<std::recursive_mutex> guard(mLock);
    if (State() != State_Running)
        return S_FALSE;
    SComposePicture picture;
    if (!PictureOfSample(sample, PixelCodeOf(mPins[0]->MediaType().subtype), &picture))
        return E_INVALIDARG;
    ++mFramesReceived;

    // The stream's own size: a picture decoded at a smaller scale still
    // names the size its source rectangle is given in.
    const LONG pictureH = picture.mHeight < 0 ? -picture.mHeight : picture.mHeight;
    const LONG nativeW = sample.lNativeWidth > 0 ? sample.lNativeWidth : picture.mWidth;
    const LONG nativeH = sample.lNativeHeight > 0 ? sample.lNativeHeight : pictureH;
    if (nativeW != mVideoWidth || nativeH != mVideoHeight) {
        const bool known = mVideoWidth > 0;
        mVideoWidth = nativeW;
        mVideoHeight = nativeH;
        if (known)
            NotifyEvent(EC_VIDEO_SIZE_CHANGED, (nativeH << 16) | (nativeW & 0xFFFF), 0);
    }

    HWND window = IsWindowless() ? mClipWindow : mOwner;
    const RECT dest = IsWindowless() ? mDestRect : mWindowRect;
    if (window == nullptr || IsEmpty(dest) || (!IsWindowless() && mVisible == OAFALSE))
        return S_OK;

    const RECT source = IsEmpty(mSourceRect) ? WholeRect(nativeW, nativeH) : mSourceRect;
    SComposeOptions options;
    options.mSource = ScaleRect(source, nativeW, nativeH, picture.mWidth, pictureH);
    options.mDestination = dest;
    const bool letterbox = IsMixer() && mAspectMode == VMR_ARMODE_LETTER_BOX;
    if (letterbox)
        options.mDestination = LetterboxRect(dest, source.right - source.left, source.bottom - source.top);
    const RECT& video = options.mDestination;
    options.mFilter = IsMixer() && (mMixingPrefs & MixerPref_FilteringMask) == MixerPref_PointFiltering
                          ? EComposeFilter::Point
                          : EComposeFilter::Bilinear;
    RECT shown{0, 0, 0, 0};
    bool drawn;
    {
        Window::SurfaceLock lock(window);
        const SurfaceView& view = lock.View();
        const SComposeSurface surface{view.pixels, view.width, view.height, view.stride};
        if (letterbox) {
            // The bars around a letterboxed picture: the windowless mixer's
            // border colour, black in a video window.
            const COLORREF bar = IsWindowless() ? mBorder : RGB(0, 0, 0);
            FillSurfaceRect(surface, RECT{dest.left, dest.top, dest.right, video.top}, bar);
            FillSurfaceRect(surface, RECT{dest.left, video.bottom, dest.right, dest.bottom}, bar);
            FillSurfaceRect(surface, RECT{dest.left, video.top, video.left, video.bottom}, bar);
            FillSurfaceRect(surface, RECT{video.right, video.top, dest.right, video.bottom}, bar);
        }
        drawn = ComposePicture(mCompose, picture, surface, options, &shown);
        if (drawn)
            BlendOverlay(window, surface, video, shown);
    }
    if (!drawn)
        return E_INVALIDARG;
    mLastPictureRect = shown;
    ++mFramesDrawn;
    guard.unlock();
    window->Invalidate();
    return S_OK;
}

LONG CVideoRenderer::ScaleDenominator() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    const RECT dest = IsWindowless() ? mDestRect : mWindowRect;
    if (mVideoWidth <= 0 || IsEmpty(dest))
        return 1;
    const RECT source = IsEmpty(mSourceRect) ? WholeRect(mVideoWidth, mVideoHeight) : mSourceRect;
    const LONG srcW = source.right - source.left;
    const LONG srcH = source.bottom - source.top;
    RECT shown = dest;
    if (IsMixer() && mAspectMode == VMR_ARMODE_LETTER_BOX)
        shown = LetterboxRect(dest, srcW, srcH);
    const LONG showW = shown.right - shown.left;
    const LONG showH = shown.bottom - shown.top;
    // Halve while the picture, halved once more, still covers what is shown.
    LONG d = 1;
    while (d < kMaxScaleDenominator && srcW / (2 * d) >= showW && srcH / (2 * d) >= showH)
        d *= 2;
    return d;
}

HWND CVideoRenderer::DirectPlace(LONG width, LONG height, RECT* place) {
    const HWND window = IsWindowless() ? mClipWindow : mOwner;
    const RECT dest = IsWindowless() ? mDestRect : mWindowRect;
    // Only a picture that would be copied as it is: RGB32, the whole
    // picture (a letterbox of the same shape is the whole rectangle),
    // neither scaled nor cut by the surface's edge.
    const bool whole = IsEmpty(mSourceRect) || (mSourceRect.left == 0 && mSourceRect.top == 0 &&
                                                mSourceRect.right == width && mSourceRect.bottom == height);
    if (State() != State_Running || window == nullptr || (!IsWindowless() && mVisible == OAFALSE) || !whole ||
        PixelCodeOf(mPins[0]->MediaType().subtype) != kComposeBgra || dest.right - dest.left != width ||
        dest.bottom - dest.top != height || dest.left < 0 || dest.top < 0)
        return nullptr;
    *place = dest;
    return window;
}

bool CVideoRenderer::BeginDirect(LONG width, LONG height, uint8_t** pixels, LONG* stride) {
    mLock.lock();
    RECT dest;
    const HWND window = DirectPlace(width, height, &dest);
    if (window == nullptr) {
        mLock.unlock();
        return false;
    }
    mDirectLock.emplace(window);
    const SurfaceView& view = mDirectLock->View();
    if (dest.right > view.width || dest.bottom > view.height) {
        mDirectLock.reset();
        mLock.unlock();
        return false;
    }
    mDirectWindow = window;
    mDirectRect = dest;
    *pixels =
        view.pixels + static_cast<int64_t>(dest.top) * view.stride + static_cast<int64_t>(dest.left) * 4;
    *stride = view.stride;
    return true;
}

bool CVideoRenderer::BeginPlanar(LONG width, LONG height, int subsampling, uint8_t* planes[3],
                                 int strides[3]) {
    mLock.lock();
    RECT dest;
    const HWND window = DirectPlace(width, height, &dest);
    // An overlay is blended into pixels: the picture must be pixels first.
    if (window == nullptr || (IsMixer() && mHasOverlay && !mOverlay.IsInvisible())) {
        mLock.unlock();
        return false;
    }
    mPlanarLock.emplace(window, dest, subsampling);
    if (!mPlanarLock->Ok()) {
        mPlanarLock.reset();
        mLock.unlock();
        return false;
    }
    mDirectWindow = window;
    mDirectRect = dest;
    const PlanarView& view = mPlanarLock->View();
    for (int i = 0; i < 3; ++i) {
        planes[i] = view.planes[i];
        strides[i] = view.strides[i];
    }
    return true;
}

void CVideoRenderer::EndDirect(bool drawn) {
    HWND window = mDirectWindow;
    if (drawn) {
        ++mFramesReceived;
        const LONG w = mDirectRect.right - mDirectRect.left;
        const LONG h = mDirectRect.bottom - mDirectRect.top;
        if (w != mVideoWidth || h != mVideoHeight) {
            const bool known = mVideoWidth > 0;
            mVideoWidth = w;
            mVideoHeight = h;
            if (known)
                NotifyEvent(EC_VIDEO_SIZE_CHANGED, (h << 16) | (w & 0xFFFF), 0);
        }
        if (mPlanarLock)
            mPlanarLock->Commit();
        if (mDirectLock) {
            const SurfaceView& view = mDirectLock->View();
            BlendOverlay(window, SComposeSurface{view.pixels, view.width, view.height, view.stride}, mDirectRect,
                         mDirectRect);
        } else {
            DropKeptVideo(); // planes: drawn only while there is no overlay
        }
        mLastPictureRect = mDirectRect;
        ++mFramesDrawn;
    }
    mDirectLock.reset();
    mPlanarLock.reset();
    mDirectWindow = nullptr;
    mLock.unlock();
    if (drawn && window != nullptr)
        window->Invalidate();
}

RECT CVideoRenderer::OverlayTarget(const RECT& video) const {
    const LONG w = video.right - video.left;
    const LONG h = video.bottom - video.top;
    return RECT{video.left + static_cast<LONG>(mOverlayDest.left * w),
                video.top + static_cast<LONG>(mOverlayDest.top * h),
                video.left + static_cast<LONG>(mOverlayDest.right * w),
                video.top + static_cast<LONG>(mOverlayDest.bottom * h)};
}

void CVideoRenderer::BlendOverlay(HWND window, const SComposeSurface& surface, const RECT& video,
                                  const RECT& shown) {
    if (!IsMixer() || !mHasOverlay || mOverlay.IsInvisible() || IsEmpty(shown)) {
        DropKeptVideo();
        return;
    }
    // The picture as drawn, before the overlay goes over it.
    const size_t rowBytes = size_t(shown.right - shown.left) * 4;
    const size_t rows = size_t(shown.bottom - shown.top);
    mKeptVideo.resize(rowBytes * rows);
    for (size_t y = 0; y < rows; ++y)
        std::memcpy(mKeptVideo.data() + y * rowBytes,
                    surface.mpPixels + (int64_t(shown.top) + int64_t(y)) * surface.mStride + shown.left * 4,
                    rowBytes);
    mKeptWindow = window;
    mKeptVideoRect = video;
    mKeptShown = shown;
    mOverlay.Blend(surface, OverlayTarget(video), shown);
}

void CVideoRenderer::DropKeptVideo() {
    if (mKeptWindow == nullptr)
        return;
    mKeptWindow = nullptr;
    std::vector<uint8_t>().swap(mKeptVideo);
}

HWND CVideoRenderer::RedrawKeptVideo() {
    const HWND window = IsWindowless() ? mClipWindow : mOwner;
    if (mKeptWindow == nullptr || window != mKeptWindow || State() != State_Running ||
        (!IsWindowless() && mVisible == OAFALSE)) {
        DropKeptVideo();
        return nullptr;
    }
    {
        Window::SurfaceLock lock(window);
        const SurfaceView& view = lock.View();
        // A window made smaller since: its next picture draws it anew.
        if (mKeptShown.right > view.width || mKeptShown.bottom > view.height) {
            DropKeptVideo();
            return nullptr;
        }
        const SComposeSurface surface{view.pixels, view.width, view.height, view.stride};
        const size_t rowBytes = size_t(mKeptShown.right - mKeptShown.left) * 4;
        for (LONG y = mKeptShown.top; y < mKeptShown.bottom; ++y)
            std::memcpy(view.pixels + int64_t(y) * view.stride + mKeptShown.left * 4,
                        mKeptVideo.data() + size_t(y - mKeptShown.top) * rowBytes, rowBytes);
        if (mHasOverlay && !mOverlay.IsInvisible())
            mOverlay.Blend(surface, OverlayTarget(mKeptVideoRect), mKeptShown);
    }
    const HWND redrawn = window;
    if (!mHasOverlay || mOverlay.IsInvisible())
        DropKeptVideo(); // the video alone is on the screen: nothing to keep
    return redrawn;
}

RECT CVideoRenderer::GetLastPictureRect() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mLastPictureRect;
}

SIZE CVideoRenderer::GetOverlaySize() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mHasOverlay ? SIZE{mOverlay.Width(), mOverlay.Height()} : SIZE{0, 0};
}

// --- IVideoWindow ---

#define IPCAM_GUARDED(call)                                                                                  \
    HRESULT hr_ = Fault(call);                                                                               \
    if (FAILED(hr_))                                                                                         \
        return hr_;                                                                                          \
    std::lock_guard<std::recursive_mutex> guard(mLock)

HRESULT CVideoRenderer::put_AutoShow(LONG autoShow) {
    IPCAM_GUARDED("IVideoWindow::put_AutoShow");
    mAutoShow = autoShow;
    return S_OK;
}
HRESULT CVideoRenderer::get_AutoShow(LONG* autoShow) {
    if (autoShow == nullptr)
        return E_POINTER;
    IPCAM_GUARDED("IVideoWindow::get_AutoShow");
    *autoShow = mAutoShow;
    return S_OK;
}
HRESULT CVideoRenderer::put_WindowStyle(LONG style) {
    IPCAM_GUARDED("IVideoWindow::put_WindowStyle");
    mStyle = style;
    return S_OK;
}
HRESULT CVideoRenderer::get_WindowStyle(LONG* style) {
    if (style == nullptr)
        return E_POINTER;
    IPCAM_GUARDED("IVideoWindow::get_WindowStyle");
    *style = mStyle;
    return S_OK;
}
HRESULT CVideoRenderer::put_Visible(LONG visible) {
    IPCAM_GUARDED("IVideoWindow::put_Visible");
    mVisible = visible != OAFALSE ? OATRUE : OAFALSE;
    return S_OK;
}
HRESULT CVideoRenderer::get_Visible(LONG* visible) {
    if (visible == nullptr)
        return E_POINTER;
    IPCAM_GUARDED("IVideoWindow::get_Visible");
    *visible = mVisible;
    return S_OK;
}
HRESULT CVideoRenderer::put_Owner(OAHWND owner) {
    IPCAM_GUARDED("IVideoWindow::put_Owner");
    mOwner = reinterpret_cast<HWND>(owner);
    return S_OK;
}
HRESULT CVideoRenderer::get_Owner(OAHWND* owner) {
    if (owner == nullptr)
        return E_POINTER;
    IPCAM_GUARDED("IVideoWindow::get_Owner");
    *owner = reinterpret_cast<OAHWND>(mOwner);
    return S_OK;
}
HRESULT CVideoRenderer::put_MessageDrain(OAHWND drain) {
    IPCAM_GUARDED("IVideoWindow::put_MessageDrain");
    mDrain = reinterpret_cast<HWND>(drain);
    return S_OK;
}
HRESULT CVideoRenderer::get_MessageDrain(OAHWND* drain) {
    if (drain == nullptr)
        return E_POINTER;
    IPCAM_GUARDED("IVideoWindow::get_MessageDrain");
    *drain = reinterpret_cast<OAHWND>(mDrain);
    return S_OK;
}
HRESULT CVideoRenderer::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
    if (width < 0 || height < 0)
        return E_INVALIDARG;
    IPCAM_GUARDED("IVideoWindow::SetWindowPosition");
    mWindowRect = RECT{left, top, left + width, top + height};
    return S_OK;
}
HRESULT CVideoRenderer::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr)
        return E_POINTER;
    IPCAM_GUARDED("IVideoWindow::GetWindowPosition");
    *left = mWindowRect.left;
    *top = mWindowRect.top;
    *width = mWindowRect.right - mWindowRect.left;
    *height = mWindowRect.bottom - mWindowRect.top;
    return S_OK;
}

// --- IBasicVideo ---

HRESULT CVideoRenderer::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
    if (left < 0 || top < 0 || width <= 0 || height <= 0)
        return E_INVALIDARG;
    IPCAM_GUARDED("IBasicVideo::SetSourcePosition");
    if (mVideoWidth > 0 && (left + width > mVideoWidth || top + height > mVideoHeight))
        return E_INVALIDARG;
    mSourceRect = RECT{left, top, left + width, top + height};
    return S_OK;
}
HRESULT CVideoRenderer::GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr)
        return E_POINTER;
    IPCAM_GUARDED("IBasicVideo::GetSourcePosition");
    RECT r = IsEmpty(mSourceRect) ? WholeRect(mVideoWidth, mVideoHeight) : mSourceRect;
    *left = r.left;
    *top = r.top;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return S_OK;
}
HRESULT CVideoRenderer::SetDefaultSourcePosition() {
    IPCAM_GUARDED("IBasicVideo::SetDefaultSourcePosition");
    mSourceRect = RECT{0, 0, 0, 0};
    return S_OK;
}
HRESULT CVideoRenderer::GetVideoSize(LONG* width, LONG* height) {
    if (width == nullptr || height == nullptr)
        return E_POINTER;
    IPCAM_GUARDED("IBasicVideo::GetVideoSize");
    if (mVideoWidth <= 0)
        return VFW_E_NOT_CONNECTED;
    *width = mVideoWidth;
    *height = mVideoHeight;
    return S_OK;
}

#undef IPCAM_GUARDED

// --- Filter configuration ---

HRESULT CVideoRenderer::SetNumberOfStreams(DWORD streams) {
    HRESULT hr = KindFault("IVMRFilterConfig", "IVMRFilterConfig9", "SetNumberOfStreams");
    if (FAILED(hr))
        return hr;
    if (streams < 1 || streams > kMaxMixerStreams)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (mPins[0]->IsConnected() || State() != State_Stopped)
        return VFW_E_WRONG_STATE;
    mStreams = streams;
    // One input pin per stream; only the first stream's pictures are shown.
    while (mPins.size() < streams) {
        std::wstring name = L"VMR Input" + std::to_wstring(mPins.size());
        mPins.push_back(std::make_unique<CInputPin>(this, name.c_str()));
    }
    return S_OK;
}

HRESULT CVideoRenderer::GetNumberOfStreams(DWORD* streams) {
    if (streams == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    *streams = mStreams;
    return S_OK;
}

HRESULT CVideoRenderer::SetRenderingMode(DWORD mode) {
    HRESULT hr = KindFault("IVMRFilterConfig", "IVMRFilterConfig9", "SetRenderingMode");
    if (FAILED(hr))
        return hr;
    // Renderless mode hands pictures to a presenter of the application's;
    // nothing here would ever show them.
    if (mode != VMRMode_Windowed && mode != VMRMode_Windowless)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (mPins[0]->IsConnected())
        return VFW_E_WRONG_STATE;
    mRenderingMode = mode;
    return S_OK;
}

HRESULT CVideoRenderer::GetRenderingMode(DWORD* mode) {
    if (mode == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    *mode = mRenderingMode;
    return S_OK;
}

HRESULT CVideoRenderer::SetMixingPrefs(DWORD prefs) {
    HRESULT hr = KindFault("IVMRMixerControl", "IVMRMixerControl9", "SetMixingPrefs");
    if (FAILED(hr))
        return hr;
    const DWORD filter = prefs & MixerPref_FilteringMask;
    if (filter != 0 && filter != MixerPref_BiLinearFiltering && filter != MixerPref_PointFiltering &&
        filter != 0x40 && filter != 0x80)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    mMixingPrefs = prefs;
    return S_OK;
}

HRESULT CVideoRenderer::GetMixingPrefs(DWORD* prefs) {
    if (prefs == nullptr)
        return E_POINTER;
    HRESULT hr = KindFault("IVMRMixerControl", "IVMRMixerControl9", "GetMixingPrefs");
    if (FAILED(hr))
        return hr;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    *prefs = mMixingPrefs;
    return S_OK;
}

// --- Windowless control ---

HRESULT CVideoRenderer::SetVideoClippingWindow(HWND window) {
    HRESULT hr = Fault("IVMRWindowlessControl9::SetVideoClippingWindow");
    if (FAILED(hr))
        return hr;
    if (window == nullptr)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    mClipWindow = window;
    return S_OK;
}

HRESULT CVideoRenderer::SetBorderColor(COLORREF colour) {
    HRESULT hr = Fault("IVMRWindowlessControl9::SetBorderColor");
    if (FAILED(hr))
        return hr;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    mBorder = colour;
    return S_OK;
}

HRESULT CVideoRenderer::GetBorderColor(COLORREF* colour) {
    if (colour == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    *colour = mBorder;
    return S_OK;
}

HRESULT CVideoRenderer::SetVideoPosition(const RECT* src, const RECT* dst) {
    HRESULT hr = Fault("IVMRWindowlessControl9::SetVideoPosition");
    if (FAILED(hr))
        return hr;
    if (src == nullptr && dst == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (src != nullptr) {
        if (src->left < 0 || src->top < 0 || src->right < src->left || src->bottom < src->top)
            return E_INVALIDARG;
        mSourceRect = *src;
    }
    if (dst != nullptr) {
        if (dst->right < dst->left || dst->bottom < dst->top)
            return E_INVALIDARG;
        mDestRect = *dst;
    }
    return S_OK;
}

HRESULT CVideoRenderer::GetVideoPosition(RECT* src, RECT* dst) {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (src != nullptr)
        *src = IsEmpty(mSourceRect) ? WholeRect(mVideoWidth, mVideoHeight) : mSourceRect;
    if (dst != nullptr)
        *dst = mDestRect;
    return S_OK;
}

HRESULT CVideoRenderer::GetNativeVideoSize(LONG* width, LONG* height, LONG* arWidth, LONG* arHeight) {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (width != nullptr)
        *width = mVideoWidth;
    if (height != nullptr)
        *height = mVideoHeight;
    if (arWidth != nullptr)
        *arWidth = mVideoWidth;
    if (arHeight != nullptr)
        *arHeight = mVideoHeight;
    return mVideoWidth > 0 ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT CVideoRenderer::SetAspectRatioMode(DWORD mode) {
    HRESULT hr = KindFault("IVMRAspectRatioControl", "IVMRAspectRatioControl9", "SetAspectRatioMode");
    if (FAILED(hr))
        return hr;
    if (mode != VMR_ARMODE_NONE && mode != VMR_ARMODE_LETTER_BOX)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    mAspectMode = mode;
    return S_OK;
}

HRESULT CVideoRenderer::GetAspectRatioMode(DWORD* mode) {
    if (mode == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    *mode = mAspectMode;
    return S_OK;
}

// --- Mixer bitmap ---

HRESULT CVideoRenderer::SetAlphaBitmap(const VMRALPHABITMAP* bitmap) {
    if (bitmap == nullptr)
        return E_POINTER;
    HRESULT hr = Fault("IVMRMixerBitmap::SetAlphaBitmap");
    if (FAILED(hr))
        return hr;
    return SetBitmap(bitmap->dwFlags, bitmap->hdc, bitmap->rSrc, bitmap->rDest, bitmap->fAlpha,
                     bitmap->clrSrcKey);
}

HRESULT CVideoRenderer::SetAlphaBitmap(const VMR9AlphaBitmap* bitmap) {
    if (bitmap == nullptr)
        return E_POINTER;
    HRESULT hr = Fault("IVMRMixerBitmap9::SetAlphaBitmap");
    if (FAILED(hr))
        return hr;
    return SetBitmap(bitmap->dwFlags, bitmap->hdc, bitmap->rSrc, bitmap->rDest, bitmap->fAlpha,
                     bitmap->clrSrcKey);
}

HRESULT CVideoRenderer::SetBitmap(DWORD flags, HDC hdc, const RECT& src, const NORMALIZEDRECT& dest,
                                  float alpha, COLORREF key) {
    if (flags & VMRBITMAP_DISABLE) {
        std::unique_lock<std::recursive_mutex> guard(mLock);
        const bool had = mHasOverlay;
        mHasOverlay = false;
        mOverlay.Clear();
        mOverlaySource.clear();
        const HWND redrawn = had ? RedrawKeptVideo() : nullptr;
        guard.unlock();
        if (redrawn != nullptr)
            redrawn->Invalidate();
        return S_OK;
    }
    if (!(flags & VMRBITMAP_HDC) || hdc == nullptr || IsEmpty(src) || !(alpha >= 0.0f && alpha <= 1.0f))
        return E_INVALIDARG;
    if (dest.right <= dest.left || dest.bottom <= dest.top)
        return E_INVALIDARG;
    // The pixels are copied before the filter's lock is taken: reading the
    // device context takes the GDI layer's lock, which a painter holds while
    // it draws, and the drawing thread must not wait on a painter.
    const int32_t width = src.right - src.left;
    const int32_t height = src.bottom - src.top;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    if (!CopyDcPixels(hdc, src, pixels.data(), width * 4))
        return E_INVALIDARG;
    CKeyedOverlay next;
    // Without the colour key flag no pixel is transparent: the copy's key is
    // a colour that the bitmap does not contain.
    const COLORREF transparent = (flags & VMRBITMAP_SRCCOLORKEY) ? key : UnusedColour(pixels);
    if (!next.Set(pixels.data(), width, height, width * 4, EOverlayFormat::Bgrx, transparent))
        return E_INVALIDARG;
    next.SetAlpha(alpha);
    std::unique_lock<std::recursive_mutex> guard(mLock);
    // A painter sets its bitmap again and again, mostly unchanged: only a
    // change is drawn over the last picture at once. (A new picture takes
    // the bitmap as it is anyway.)
    const bool changed = !mHasOverlay || pixels != mOverlaySource || alpha != mOverlay.Alpha() ||
                         dest.left != mOverlayDest.left || dest.top != mOverlayDest.top ||
                         dest.right != mOverlayDest.right || dest.bottom != mOverlayDest.bottom ||
                         transparent != mOverlayKey;
    mOverlay = std::move(next);
    mOverlayDest = dest;
    mOverlayKey = transparent;
    mHasOverlay = true;
    if (!changed)
        return S_OK;
    mOverlaySource = std::move(pixels);
    const HWND redrawn = RedrawKeptVideo();
    guard.unlock();
    if (redrawn != nullptr)
        redrawn->Invalidate();
    return S_OK;
}

} // namespace os::dshow
