#include "render/CDirectShowRenderer.h"

#include "platform/CLockWrap.h"
#include "platform/Trace.h"
#include "render/CDSUtil.h"

#include <cstdlib>

using media_util::CLockWrap;
using media_util::CMediaObj;

namespace {

void TraceFailed(HRESULT hr, const char* call) {
    media_util::Trace("FAILED(hr=0x%x) in %s\n", static_cast<unsigned>(hr), call);
}

// Mixing preferences for an overlay: nearest pixel instead of bilinear, so
// that the overlay's colour key never blends into its neighbours.
constexpr DWORD kBilinear = 0x10;
constexpr DWORD kPoint = 0x20;

} // namespace

// Runs a COM call; on failure traces it (with its text as written here) and
// returns its result from the enclosing function.
#define DSR_CHECK(expr, text)                                                                                \
    do {                                                                                                     \
        hr = (expr);                                                                                         \
        if (FAILED(hr)) {                                                                                    \
            TraceFailed(hr, text);                                                                           \
            return hr;                                                                                       \
        }                                                                                                    \
    } while (0)

CDirectShowRenderer::CDirectShowRenderer() : mComInit(CoInitialize(nullptr)) {
    RegisterVmrSourceFilter();
    mEvent1.Set();
}

CDirectShowRenderer::~CDirectShowRenderer() {
    Stop();
    DestroyOverlay();
    CoUninitialize();
}

void CDirectShowRenderer::SetFormats(const CMediaObj* input, const CMediaObj* output) {
    if (input != nullptr)
        input->CloneMe(&mInputFormat, CMediaObj::kCloneHeader);
    if (output != nullptr)
        output->CloneMe(&mOutputFormat, CMediaObj::kCloneHeader);
}

void CDirectShowRenderer::SetSourceRect(const RECT& rect) {
    CLockWrap lock(mLock);
    mSourceRect = rect;
    if (mpBasicVideo != nullptr)
        mpBasicVideo->SetSourcePosition(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

DWORD CDirectShowRenderer::MixerAspectMode() const {
    if (mAspectMode == kAspectAuto) {
        // Letterbox only when the whole picture is shown and it is not a
        // 24-bit picture; a part of a picture fills its window.
        const bool whole =
            mSourceRect.left == 0 && mSourceRect.top == 0 && mSourceRect.right == mOutputFormat.mWidth &&
            std::abs(mSourceRect.bottom) == std::abs(mOutputFormat.mHeight) && mSourceRect.right > 0;
        return whole && mOutputFormat.mVideoFormat != media_util::kPixelRgb24 ? VMR_ARMODE_LETTER_BOX
                                                                              : VMR_ARMODE_NONE;
    }
    return mAspectMode == kAspectStretch ? VMR_ARMODE_NONE : VMR_ARMODE_LETTER_BOX;
}

int CDirectShowRenderer::Start(HWND window, const RECT* client, uint32_t flags) {
    m_hWnd = window;
    if (client != nullptr)
        mCtrlSize = POINT{client->right - client->left, client->bottom - client->top};
    Stop();
    mEvent1.Reset();
    mEvent2.Reset();
    mStatus = 0;
    HRESULT hr = BuildGraph(flags);
    if (SUCCEEDED(hr)) {
        hr = ConnectGraph();
        if (SUCCEEDED(hr))
            mpMediaControl->Run();
    }
    mStarted = 1;
    if (FAILED(hr)) {
        Stop();
        return 0;
    }
    return 1;
}

HRESULT CDirectShowRenderer::BuildGraph(uint32_t flags) {
    HRESULT hr;
    DSR_CHECK(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&mpGraphBuilder)),
              "CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void "
              "**)&mpGraphBuilder)");
    if (IsAudioGraph()) {
        // Without the ACM wrapper there is nothing to play through either;
        // the graph still starts (silently), as it would on Windows.
        hr = CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_ACMWrapper, L"ACM Wrappper", &mpAcmFilter);
        if (FAILED(hr)) {
            TraceFailed(hr, "CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_ACMWrapper, L\"ACM Wrappper\", "
                            "&mpAcmFilter)");
            return S_OK;
        }
        CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_DSoundRender, L"Direct Sound Render",
                                  &mpDSoundRender);
        return S_OK;
    }

    // The renderers in order of preference; a failure inside a branch ends
    // the build, only a renderer that cannot be had moves on to the next.
    if (SUCCEEDED(CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_VideoRendererDefault, L"VMR7", &mpVmr))) {
        mRendererKind = kRendererVmr7;
        hr = BuildVmr7(flags);
        if (FAILED(hr))
            return hr;
    } else if (SUCCEEDED(
                   CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_VideoMixingRenderer9, L"VMR9", &mpVmr))) {
        hr = BuildVmr9(flags);
        if (FAILED(hr))
            return hr;
    } else {
        DSR_CHECK(
            CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_VideoRenderer, L"Classic Video Renderer", &mpVmr),
            "CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_VideoRenderer, L\"Classic Video Renderer\", "
            "&mpVmr)");
        mRendererKind = kRendererClassic;
    }
    DSR_CHECK(
        CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_Colour, L"CColor Space Converter", &mpColorSpace),
        "CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_Colour, L\"CColor Space Converter\", "
        "&mpColorSpace)");
    if (mDecoderGuid != mNoDecoderGuid)
        DSR_CHECK(
            CDSUtil::AddFilterByCLSID(mpGraphBuilder, mDecoderGuid, L"Decoder Filter", &mpDecoderFilter),
            "CDSUtil::AddFilterByCLSID(mpGraphBuilder, mDecoderGuid, L\"Decoder Filter\", &mpDecoderFilter)");
    return S_OK;
}

HRESULT CDirectShowRenderer::ChangeMixingPrefs(IUnknown* mixer, bool vmr9) {
    HRESULT hr;
    DWORD dwPrefs = 0;
    if (vmr9) {
        auto* pMix = static_cast<IVMRMixerControl9*>(mixer);
        DSR_CHECK(pMix->GetMixingPrefs(&dwPrefs), "pMix->GetMixingPrefs(&dwPrefs)");
        dwPrefs = (dwPrefs & ~kBilinear) | kPoint;
        DSR_CHECK(pMix->SetMixingPrefs(dwPrefs), "pMix->SetMixingPrefs(dwPrefs)");
        return S_OK;
    }
    auto* pMix = static_cast<IVMRMixerControl*>(mixer);
    DSR_CHECK(pMix->GetMixingPrefs(&dwPrefs), "pMix->GetMixingPrefs(&dwPrefs)");
    dwPrefs = (dwPrefs & ~kBilinear) | kPoint;
    DSR_CHECK(pMix->SetMixingPrefs(dwPrefs), "pMix->SetMixingPrefs(dwPrefs)");
    return S_OK;
}

HRESULT CDirectShowRenderer::BuildVmr7(uint32_t flags) {
    HRESULT hr;
    const bool overlay = (flags & kFlagOverlay) != 0;
    IVMRFilterConfig* pConfig = nullptr;
    DSR_CHECK(mpVmr->QueryInterface(IID_IVMRFilterConfig, reinterpret_cast<void**>(&pConfig)),
              "mpVmr->QueryInterface(IID_IVMRFilterConfig, (void**)&pConfig)");
    hr = pConfig->SetRenderingMode(VMRMode_Windowed);
    if (FAILED(hr)) {
        TraceFailed(hr, "pConfig->SetRenderingMode(VMRMode_Windowed)");
        pConfig->Release();
        return hr;
    }
    if (overlay) {
        hr = pConfig->SetNumberOfStreams(1);
        if (FAILED(hr)) {
            TraceFailed(hr, "pConfig->SetNumberOfStreams(1)");
            pConfig->Release();
            return hr;
        }
    }
    pConfig->Release();
    if (!overlay)
        return S_OK;
    IVMRMixerControl* pMix = nullptr;
    DSR_CHECK(mpVmr->QueryInterface(IID_IVMRMixerControl, reinterpret_cast<void**>(&pMix)),
              "mpVmr->QueryInterface(IID_IVMRMixerControl, (void**)&pMix)");
    hr = ChangeMixingPrefs(pMix, false);
    pMix->Release();
    if (FAILED(hr))
        return hr;
    if (mpVmrBitmap == nullptr)
        DSR_CHECK(mpVmr->QueryInterface(IID_IVMRMixerBitmap, reinterpret_cast<void**>(&mpVmrBitmap)),
                  "mpVmr->QueryInterface(IID_IVMRMixerBitmap, (void **)&mpVmrBitmap)");
    auto* created = new COverlayBitmap();
    created->CreateFor7(m_hWnd, mpVmrBitmap, mInputFormat.mWidth, mInputFormat.mHeight);
    CLockWrap lock(mLock);
    delete mpOverlay;
    mpOverlay = created;
    return S_OK;
}

HRESULT CDirectShowRenderer::BuildVmr9(uint32_t flags) {
    HRESULT hr;
    const bool overlay = (flags & kFlagOverlay) != 0;
    if (mpVmr9Bitmap == nullptr)
        DSR_CHECK(mpVmr->QueryInterface(IID_IVMRMixerBitmap9, reinterpret_cast<void**>(&mpVmr9Bitmap)),
                  "mpVmr->QueryInterface(IID_IVMRMixerBitmap9, (void **)&mpVmr9Bitmap)");
    mRendererKind = kRendererVmr9;
    IVMRFilterConfig9* pConfig = nullptr;
    DSR_CHECK(mpVmr->QueryInterface(IID_IVMRFilterConfig9, reinterpret_cast<void**>(&pConfig)),
              "mpVmr->QueryInterface(IID_IVMRFilterConfig9, (void**)&pConfig)");
    hr = pConfig->SetRenderingMode(VMR9Mode_Windowless);
    if (FAILED(hr)) {
        TraceFailed(hr, "pConfig->SetRenderingMode(VMR9Mode_Windowless)");
        pConfig->Release();
        return hr;
    }
    if (overlay) {
        hr = pConfig->SetNumberOfStreams(1);
        if (FAILED(hr)) {
            TraceFailed(hr, "pConfig->SetNumberOfStreams(1)");
            pConfig->Release();
            return hr;
        }
    }
    pConfig->Release();
    DSR_CHECK(
        mpVmr->QueryInterface(IID_IVMRWindowlessControl9, reinterpret_cast<void**>(&mpWindowlessControl9)),
        "mpVmr->QueryInterface(IID_IVMRWindowlessControl9, (void**)&mpWindowlessControl9)");
    DSR_CHECK(mpWindowlessControl9->SetVideoClippingWindow(m_hWnd),
              "mpWindowlessControl9->SetVideoClippingWindow(m_hWnd)");
    DSR_CHECK(mpWindowlessControl9->SetBorderColor(kBorderColour),
              "mpWindowlessControl9->SetBorderColor(RGB(255,0,0))");
    const RECT rr{0, 0, mCtrlSize.x, mCtrlSize.y};
    DSR_CHECK(mpWindowlessControl9->SetVideoPosition(nullptr, &rr),
              "mpWindowlessControl9->SetVideoPosition(NULL, &rr )");
    if (!overlay)
        return S_OK;
    IVMRMixerControl9* pMix = nullptr;
    DSR_CHECK(mpVmr->QueryInterface(IID_IVMRMixerControl9, reinterpret_cast<void**>(&pMix)),
              "mpVmr->QueryInterface(IID_IVMRMixerControl9, (void**)&pMix)");
    hr = ChangeMixingPrefs(pMix, true);
    pMix->Release();
    if (FAILED(hr))
        return hr;
    if (mpVmr9Bitmap == nullptr)
        DSR_CHECK(mpVmr->QueryInterface(IID_IVMRMixerBitmap9, reinterpret_cast<void**>(&mpVmr9Bitmap)),
                  "mpVmr->QueryInterface(IID_IVMRMixerBitmap9, (void**)&mpVmr9Bitmap)");
    auto* created = new COverlayBitmap();
    created->CreateFor9(m_hWnd, mpVmr9Bitmap, mInputFormat.mWidth, mInputFormat.mHeight);
    CLockWrap lock(mLock);
    delete mpOverlay;
    mpOverlay = created;
    return S_OK;
}

HRESULT CDirectShowRenderer::ConnectAudio(IGraphBuilder* pGraphBuilder) {
    HRESULT hr;
    if (mpDSoundRender == nullptr)
        return S_OK;
    IPin* pOutPin = nullptr;
    hr = CDSUtil::GetUnconnectedPin(mpSource, PINDIR_OUTPUT, &pOutPin);
    if (FAILED(hr))
        return hr;
    const int32_t code = mOutputFormat.mAudioFormat;
    if (code == media_util::kAudio2010 || code == media_util::kAudio2020 || mpAcmFilter == nullptr) {
        // AAC and G.726 go straight to the sound renderer; intelligent
        // connection finds the ACM wrapper already in the graph.
        hr = CDSUtil::ConnectFilters(pGraphBuilder, pOutPin, mpDSoundRender);
        pOutPin->Release();
        if (FAILED(hr))
            TraceFailed(hr, "CDSUtil::ConnectFilters( pGraphBuilder, pOutPin, mpDSoundRender )");
        return hr;
    }
    IBaseFilter* audioDecoderFilter = mpAcmFilter;
    hr = CDSUtil::ConnectFilters(pGraphBuilder, pOutPin, audioDecoderFilter);
    pOutPin->Release();
    DSR_CHECK(hr, "CDSUtil::ConnectFilters( pGraphBuilder, pOutPin, audioDecoderFilter )");
    IPin* pOutPin2 = nullptr;
    DSR_CHECK(CDSUtil::GetUnconnectedPin(audioDecoderFilter, PINDIR_OUTPUT, &pOutPin2),
              "CDSUtil::GetUnconnectedPin( audioDecoderFilter, PINDIR_OUTPUT , &pOutPin2)");
    hr = CDSUtil::ConnectFilters(pGraphBuilder, pOutPin2, mpDSoundRender);
    pOutPin2->Release();
    DSR_CHECK(hr, "CDSUtil::ConnectFilters( pGraphBuilder, pOutPin2, mpDSoundRender )");
    media_util::Trace("Audio Connect Finish!\n");
    return S_OK;
}

HRESULT CDirectShowRenderer::SetUpVideoWindow(IGraphBuilder* pGraphBuilder, bool positionBeforeDrain) {
    HRESULT hr;
    DSR_CHECK(pGraphBuilder->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&mpVideoWindow)),
              "pGraphBuilder->QueryInterface(IID_IVideoWindow, (void **)&mpVideoWindow)");
    mpVideoWindow->put_AutoShow(OAFALSE);
    DSR_CHECK(mpVideoWindow->put_Owner(reinterpret_cast<OAHWND>(m_hWnd)),
              "mpVideoWindow->put_Owner((OAHWND)m_hWnd)");
    mpVideoWindow->put_WindowStyle(kVideoWindowStyle);
    DSR_CHECK(mpVideoWindow->SetWindowPosition(0, 0, mCtrlSize.x, mCtrlSize.y),
              "mpVideoWindow->SetWindowPosition( 0, 0, mCtrlSize.x, mCtrlSize.y )");
    if (positionBeforeDrain)
        UpdateVideoPosition();
    DSR_CHECK(mpVideoWindow->put_MessageDrain(reinterpret_cast<OAHWND>(m_hWnd)),
              "mpVideoWindow->put_MessageDrain((OAHWND)m_hWnd)");
    mpVideoWindow->put_Visible(OATRUE);
    return S_OK;
}

HRESULT CDirectShowRenderer::ConnectGraph() {
    HRESULT hr;
    IGraphBuilder* pGraphBuilder = mpGraphBuilder;
    DSR_CHECK(
        CDSUtil::AddFilterByCLSID(pGraphBuilder, CLSID_VMRSourceFilter, L"VMR Source Filter", &mpSource),
        "CDSUtil::AddFilterByCLSID(pGraphBuilder, CLSID_VMRSourceFilter, L\"VMR Source Filter\", &mpSource)");
    hr = mpSource->QueryInterface(IID_IVmrSampleInput, reinterpret_cast<void**>(&mpSampleInput));
    if (SUCCEEDED(hr)) {
        // With a decoder filter the source passes the stream on as it comes.
        const bool decoder = mpDecoderFilter != nullptr;
        hr = mpSampleInput->Configure(&mInputFormat, decoder ? &mInputFormat : &mOutputFormat, &mEvent1,
                                      &mEvent2);
    }
    if (FAILED(hr)) {
        ReleaseConnected();
        return hr;
    }

    if (IsAudioGraph()) {
        hr = ConnectAudio(pGraphBuilder);
    } else if (mpVmr != nullptr &&
               !(mRendererKind == kRendererClassic && mOutputFormat.mVideoFormat == media_util::kPixelI420)) {
        // (The classic renderer takes no I420: such a graph stays
        // unconnected and shows nothing.)
        IPin* pOutPin = nullptr;
        hr = CDSUtil::GetUnconnectedPin(mpSource, PINDIR_OUTPUT, &pOutPin);
        if (SUCCEEDED(hr) && mpDecoderFilter != nullptr) {
            hr = CDSUtil::ConnectFilters(pGraphBuilder, pOutPin, mpDecoderFilter);
            pOutPin->Release();
            pOutPin = nullptr;
            if (FAILED(hr))
                TraceFailed(hr, "CDSUtil::ConnectFilters( pGraphBuilder, pOutPin, mpDecoderFilter )");
            else
                hr = CDSUtil::GetUnconnectedPin(mpDecoderFilter, PINDIR_OUTPUT, &pOutPin);
        }
        if (SUCCEEDED(hr)) {
            hr = CDSUtil::ConnectFilters(pGraphBuilder, pOutPin, mpVmr);
            pOutPin->Release();
            if (FAILED(hr)) {
                mStatus = kStatusConnectFailed;
                TraceFailed(hr, "CDSUtil::ConnectFilters( pGraphBuilder, pOutPin, mpVmr )");
            }
        }
    }
    if (SUCCEEDED(hr) && !IsAudioGraph()) {
        if (mRendererKind == kRendererVmr9) {
            IVMRAspectRatioControl9* pAspect = nullptr;
            if (SUCCEEDED(
                    mpVmr->QueryInterface(IID_IVMRAspectRatioControl9, reinterpret_cast<void**>(&pAspect)))) {
                pAspect->SetAspectRatioMode(MixerAspectMode());
                pAspect->Release();
            }
        } else if (mRendererKind == kRendererVmr7) {
            IVMRAspectRatioControl* pAspect = nullptr;
            if (SUCCEEDED(
                    mpVmr->QueryInterface(IID_IVMRAspectRatioControl, reinterpret_cast<void**>(&pAspect)))) {
                pAspect->SetAspectRatioMode(MixerAspectMode());
                pAspect->Release();
            }
            hr = SetUpVideoWindow(pGraphBuilder, false);
        } else {
            hr = SetUpVideoWindow(pGraphBuilder, true);
        }
    }
    if (FAILED(hr)) {
        ReleaseConnected();
        return hr;
    }

    hr = pGraphBuilder->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&mpMediaControl));
    if (FAILED(hr)) {
        TraceFailed(hr, "pGraphBuilder->QueryInterface(IID_IMediaControl, (void **)&mpMediaControl)");
        ReleaseConnected();
        return hr;
    }
    hr = pGraphBuilder->QueryInterface(IID_IBasicVideo, reinterpret_cast<void**>(&mpBasicVideo));
    if (FAILED(hr)) {
        TraceFailed(hr, "pGraphBuilder->QueryInterface(IID_IBasicVideo, (void **)&mpBasicVideo)");
        ReleaseConnected();
        return hr;
    }
    if (mSourceRect.right > mSourceRect.left && mSourceRect.bottom > mSourceRect.top)
        mpBasicVideo->SetSourcePosition(mSourceRect.left, mSourceRect.top,
                                        mSourceRect.right - mSourceRect.left,
                                        mSourceRect.bottom - mSourceRect.top);
    hr = pGraphBuilder->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&mpEvent));
    if (FAILED(hr)) {
        TraceFailed(hr, "pGraphBuilder->QueryInterface(IID_IMediaEventEx, (void **)&mpEvent)");
        ReleaseConnected();
        return hr;
    }
    mpEvent->SetNotifyWindow(reinterpret_cast<OAHWND>(m_hWnd), kGraphNotifyMessage, 0);

    if (mOutputFormat.mVideoFormat != 0) {
        // No reference clock: pictures are shown as they arrive, the pacer
        // has already spaced them. Neither failure stops the start.
        IMediaFilter* pMediaFilter = nullptr;
        HRESULT hrFilter =
            pGraphBuilder->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&pMediaFilter));
        if (FAILED(hrFilter)) {
            TraceFailed(hrFilter, "pGraphBuilder->QueryInterface(IID_IMediaFilter, (void**)&pMediaFilter)");
        } else {
            pMediaFilter->SetSyncSource(nullptr);
            pMediaFilter->Release();
        }
    }
    return S_OK;
}

void CDirectShowRenderer::ReleaseConnected() {
    if (mpEvent != nullptr) {
        mpEvent->SetNotifyWindow(0, 0, 0);
        SafeRelease(&mpEvent);
    }
    if (mpGraphBuilder != nullptr)
        CDSUtil::DisconnectAllFilter(mpGraphBuilder);
    if (mpVideoWindow != nullptr) {
        mpVideoWindow->put_Visible(OAFALSE);
        mpVideoWindow->put_MessageDrain(0);
        mpVideoWindow->put_Owner(0);
    }
    SafeRelease(&mpVideoWindow);
    SafeRelease(&mpWindowlessControl9);
    SafeRelease(&mpSampleInput);
    SafeRelease(&mpSource);
    SafeRelease(&mpMediaControl);
    SafeRelease(&mpBasicVideo);
}

void CDirectShowRenderer::UpdateVideoPosition() {
    if (mpVideoWindow != nullptr) {
        mpVideoWindow->SetWindowPosition(0, 0, mCtrlSize.x, mCtrlSize.y);
        return;
    }
    if (mpWindowlessControl9 != nullptr) {
        const RECT rr{0, 0, mCtrlSize.x, mCtrlSize.y};
        mpWindowlessControl9->SetVideoPosition(nullptr, &rr);
    }
}

void CDirectShowRenderer::Stop() {
    mEvent1.Set();
    if (mStarted.load() == 0)
        return;
    CLockWrap lock(mLock);
    mStarted = 0;
    if (mpMediaControl != nullptr)
        mpMediaControl->Stop();
    ReleaseConnected();
    if (mpGraphBuilder != nullptr)
        CDSUtil::RemoveAllFilter(mpGraphBuilder);
    ReleaseAll();
}

void CDirectShowRenderer::ReleaseAll() {
    SafeRelease(&mpAcmFilter);
    SafeRelease(&mpDSoundRender);
    SafeRelease(&mpColorSpace);
    // The mixer bitmap interfaces are the mixer's own (not counted) and go
    // with it: the next start queries the new mixer's.
    mpVmrBitmap = nullptr;
    mpVmr9Bitmap = nullptr;
    SafeRelease(&mpSpare);
    SafeRelease(&mpVmr);
    SafeRelease(&mpGraphBuilder);
    SafeRelease(&mpDecoderFilter);
    DestroyOverlay();
}

void CDirectShowRenderer::DestroyOverlay() {
    CLockWrap lock(mLock);
    delete mpOverlay;
    mpOverlay = nullptr;
}

int CDirectShowRenderer::Push(const CMediaObj* object) {
    if (mStarted.load() == 0)
        return 0;
    CLockWrap lock(mLock);
    if (mStarted.load() == 0 || mpSampleInput == nullptr)
        return 0;
    return mpSampleInput->Deliver(object);
}

void CDirectShowRenderer::SetOverlayAlpha(float alpha) {
    CLockWrap lock(mLock);
    if (mpOverlay != nullptr)
        mpOverlay->SetAlpha(alpha);
}

void CDirectShowRenderer::ApplyOverlay() {
    CLockWrap lock(mLock);
    if (mpOverlay != nullptr)
        mpOverlay->Apply();
}

HDC CDirectShowRenderer::GetOverlayDC() {
    CLockWrap lock(mLock);
    return mpOverlay != nullptr ? mpOverlay->GetMemoryDC() : nullptr;
}

SIZE CDirectShowRenderer::GetOverlaySize() {
    CLockWrap lock(mLock);
    return mpOverlay != nullptr ? SIZE{mpOverlay->Width(), mpOverlay->Height()} : SIZE{0, 0};
}

IBaseFilter* CDirectShowRenderer::GetVideoRendererFilter() {
    CLockWrap lock(mLock);
    if (mpVmr != nullptr)
        mpVmr->AddRef();
    return mpVmr;
}

IBaseFilter* CDirectShowRenderer::GetSourceFilter() {
    CLockWrap lock(mLock);
    if (mpSource != nullptr)
        mpSource->AddRef();
    return mpSource;
}

IBaseFilter* CDirectShowRenderer::GetAudioRendererFilter() {
    CLockWrap lock(mLock);
    if (mpDSoundRender != nullptr)
        mpDSoundRender->AddRef();
    return mpDSoundRender;
}
