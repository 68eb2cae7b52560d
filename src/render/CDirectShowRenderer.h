// The only way pictures reach a channel's window (and its sound the
// speakers): a DirectShow filter graph whose source is the push source filter
// ("VMR Source Filter"), into which the channel's pacer pushes media objects.
//
// A video graph renders through the first renderer that can be had, in this
// order: the default renderer (VMR-7, windowed), the Video Mixing Renderer 9
// (windowless), the classic video renderer; the colour space converter is in
// the graph for intelligent connection, and a decoder filter when the
// channel names one (then the source passes the compressed stream on and the
// decoder filter decodes). An audio graph is the source, the ACM wrapper and
// the DirectSound renderer. With the overlay flag the renderer also makes the
// overlay bitmap that the mixer blends over the video (captions, editors).
//
// Every failing COM call is traced as "FAILED(hr=0x%x) in " and the call
// written out; a start that fails leaves the renderer stopped with nothing
// held, so that Push returns 0 and the channel shows nothing.
//
// Threads: Push runs on the pacer's thread; Start, Stop, SetSourceRect,
// UpdateVideoPosition and the overlay calls on the channel's or the viewer's
// thread. mLock serialises Push against Stop; the started flag is tested
// again under it, so that no object reaches a released source filter. The
// overlay calls may come from the text worker's thread as well (the
// overlay's pointer is guarded by mLock).
#pragma once

#include "os/dshow/CVmrSourceFilter.h"
#include "os/dshow/DShow.h"
#include "platform/CCritSection.h"
#include "platform/CManualEvent.h"
#include "platform/CMediaObj.h"
#include "render/COverlayBitmap.h"
#include "render/COverlayTextWorker.h"

#include <atomic>
#include <cstdint>

class CDirectShowRenderer : public IOverlayTarget {
public:
    // Renderer kinds (GetRendererKind).
    static constexpr int32_t kRendererClassic = 0;
    static constexpr int32_t kRendererVmr7 = 1;
    static constexpr int32_t kRendererVmr9 = 2;
    // Start's flags: bit 0 makes the overlay bitmap.
    static constexpr uint32_t kFlagOverlay = 1u << 0;
    // Aspect modes (SetAspectMode): 0 automatic, 1 stretch, others letterbox.
    static constexpr int32_t kAspectAuto = 0;
    static constexpr int32_t kAspectStretch = 1;
    static constexpr int32_t kAspectLetterbox = 2;
    // The status after the source could not be connected to the video renderer.
    static constexpr int32_t kStatusConnectFailed = 256;
    // The graph's event notification message to the window.
    static constexpr LONG kGraphNotifyMessage = 0x407;
    // The video window's style: a child that clips its siblings and children.
    static constexpr LONG kVideoWindowStyle = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    // The windowless mixer's border colour (letterbox bars).
    static constexpr COLORREF kBorderColour = RGB(255, 0, 0);

    // Initialises COM on the constructing thread.
    CDirectShowRenderer();
    // Stops, then uninitialises COM.
    virtual ~CDirectShowRenderer();
    CDirectShowRenderer(const CDirectShowRenderer&) = delete;
    CDirectShowRenderer& operator=(const CDirectShowRenderer&) = delete;

    // Copies both headers: what the stream carries and the picture (or
    // sound) wanted; an output with an audio code makes an audio graph.
    void SetFormats(const media_util::CMediaObj* input, const media_util::CMediaObj* output);
    void SetDecoderGuid(const GUID& guid) { mDecoderGuid = guid; }
    void SetAspectMode(int32_t mode) { mAspectMode = mode; }
    // Shows only this part of the picture (empty: all of it); applied at
    // once when a graph runs.
    void SetSourceRect(const RECT& rect);

    // Builds and runs a graph on window (client: its client rectangle, or
    // null to keep the last size). 1 on success, 0 on failure.
    int Start(HWND window, const RECT* client, uint32_t flags);
    // Tears the graph down; any time, any number of times.
    void Stop();
    // Hands an object to the source filter: its result, 0 when not started.
    int Push(const media_util::CMediaObj* object);

    // --- Overlay (COverlayTextWorker's target, the viewer's caption) ---
    void SetOverlayAlpha(float alpha);
    void ApplyOverlay() override;
    HDC GetOverlayDC() override;

    // Re-applies the video window's or the windowless position from mCtrlSize.
    void UpdateVideoPosition();

    // --- State for the channel, the host and tests ---
    int32_t GetStatus() const { return mStatus; }
    int32_t GetRendererKind() const { return mRendererKind; }
    bool IsStarted() const { return mStarted.load() != 0; }
    // The aspect ratio mode handed to the mixer for the current settings
    // (VMR_ARMODE_NONE or VMR_ARMODE_LETTER_BOX).
    DWORD MixerAspectMode() const;
    // The graph's video renderer and source filter (counted), or null.
    IBaseFilter* GetVideoRendererFilter();
    IBaseFilter* GetSourceFilter();
    IBaseFilter* GetAudioRendererFilter();
    // The overlay's size, 0 x 0 without one.
    SIZE GetOverlaySize();
    // Set whenever an object reached the filter after the source (the
    // second of the source filter's events).
    media_util::CManualEvent& DeliveredEvent() { return mEvent2; }

private:
    HRESULT BuildGraph(uint32_t flags);
    HRESULT BuildVmr7(uint32_t flags);
    HRESULT BuildVmr9(uint32_t flags);
    HRESULT ConnectGraph();
    HRESULT ConnectAudio(IGraphBuilder* pGraphBuilder);
    HRESULT SetUpVideoWindow(IGraphBuilder* pGraphBuilder, bool positionBeforeDrain);
    HRESULT ChangeMixingPrefs(IUnknown* pMix, bool vmr9);
    void ReleaseConnected();
    void ReleaseAll();
    void DestroyOverlay();
    bool IsAudioGraph() const { return mOutputFormat.mAudioFormat != 0; }

    template <typename T> static void SafeRelease(T** p) {
        if (*p != nullptr) {
            (*p)->Release();
            *p = nullptr;
        }
    }

    // --- Members, in the order of the design ---
    RECT mSourceRect{0, 0, 0, 0};
    GUID mDecoderGuid{};
    const GUID mNoDecoderGuid{}; // all zero: no decoder filter
    int32_t mAspectMode = kAspectAuto;
    std::atomic<int32_t> mStarted{0};
    int32_t mRendererKind = kRendererVmr7;
    media_util::CMediaObj mInputFormat;
    media_util::CMediaObj mOutputFormat;
    // The source filter's events: the first is set while no graph runs, the
    // second each time something was delivered.
    media_util::CManualEvent mEvent1;
    media_util::CManualEvent mEvent2;
    POINT mCtrlSize{0, 0};
    HWND m_hWnd = nullptr;
    // Graph interfaces, all counted, released by Stop (the mixer bitmap
    // interfaces are the filter's own and not counted).
    IBaseFilter* mpSource = nullptr;
    IBaseFilter* mpVmr = nullptr;
    IBaseFilter* mpColorSpace = nullptr;
    IBaseFilter* mpDecoderFilter = nullptr;
    IGraphBuilder* mpGraphBuilder = nullptr;
    IMediaControl* mpMediaControl = nullptr;
    IVideoWindow* mpVideoWindow = nullptr;
    IVMRWindowlessControl9* mpWindowlessControl9 = nullptr;
    IVmrSampleInput* mpSampleInput = nullptr;
    IVMRMixerBitmap9* mpVmr9Bitmap = nullptr;
    IVMRMixerBitmap* mpVmrBitmap = nullptr;
    IUnknown* mpSpare = nullptr;
    IBaseFilter* mpAcmFilter = nullptr;
    IBaseFilter* mpDSoundRender = nullptr;
    IMediaEventEx* mpEvent = nullptr;
    IBasicVideo* mpBasicVideo = nullptr;
    COverlayBitmap* mpOverlay = nullptr; // owned; guarded by mLock
    int32_t mStatus = 0;
    media_util::CCritSection mLock;
    HRESULT mComInit;
};
