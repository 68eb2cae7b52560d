// The DirectShow interfaces that the video and audio renderers use: filters,
// pins and their media types, the filter graph with its control, event,
// video window and basic video interfaces, and the Video Mixing Renderer's
// configuration, mixer, windowless and aspect ratio interfaces (its mixer
// bitmap interfaces are in MixerBitmap.h). Only the methods a caller of this
// system needs are declared; each keeps the Windows signature's meaning and
// result codes.
//
// Media flow is push: an output pin hands each sample to the connected input
// pin's IMemInputPin::Receive, on the thread that delivers (the channel's
// pacer). A renderer draws the picture into its window before Receive returns.
//
// Threads: graph building, state changes and window set-up run on the thread
// that owns the renderer; Receive runs on the delivering thread; the filters
// lock their own state, so the two may overlap.
#pragma once

#include "os/dshow/Com.h"
#include "os/dshow/MixerBitmap.h"
#include "os/window/WinDef.h"

#include <cstdint>

using WCHAR = wchar_t;
using LPCWSTR = const wchar_t*;
using LONG_PTR = intptr_t;
using OAHWND = LONG_PTR;
using OAEVENT = LONG_PTR;
using OAFilterState = LONG;
using REFERENCE_TIME = int64_t;

constexpr LONG OATRUE = -1;
constexpr LONG OAFALSE = 0;

// Window styles given to IVideoWindow::put_WindowStyle.
constexpr LONG WS_CHILD = 0x40000000;
constexpr LONG WS_CLIPSIBLINGS = 0x04000000;
constexpr LONG WS_CLIPCHILDREN = 0x02000000;

// --- Result codes of the filter graph (VFW_E_*) ---
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeHResult(0x80040200u);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeHResult(0x80040204u);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeHResult(0x80040207u);
constexpr HRESULT VFW_E_NOT_CONNECTED = MakeHResult(0x80040209u);
constexpr HRESULT VFW_E_NOT_FOUND = MakeHResult(0x80040216u);
constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeHResult(0x80040217u);
constexpr HRESULT VFW_E_NOT_STOPPED = MakeHResult(0x80040224u);
constexpr HRESULT VFW_E_WRONG_STATE = MakeHResult(0x80040227u);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeHResult(0x8004022Au);
constexpr HRESULT VFW_E_DUPLICATE_NAME = MakeHResult(0x8004022Fu);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeHResult(0x8004025Fu);
constexpr HRESULT VFW_E_NO_DISPLAY_WINDOW = MakeHResult(0x80040281u); // windowless without clipping window

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

// --- Media types ---

// What travels on a connection. The format block of Windows (VIDEOINFOHEADER
// or WAVEFORMATEX) is folded into the fields that this system's formats use.
struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    // Video: the picture size; a positive height means bottom-up rows (a
    // Windows DIB), a negative one top-down. Compressed video carries the
    // size the stream announced.
    LONG biWidth;
    LONG biHeight;
    // Audio: channels, samples per second, bits per sample (PCM).
    WORD nChannels;
    DWORD nSamplesPerSec;
    WORD wBitsPerSample;
};

extern const GUID MEDIATYPE_Video;
extern const GUID MEDIATYPE_Audio;
// Pictures.
extern const GUID MEDIASUBTYPE_RGB24;  // BGR, 3 bytes a pixel
extern const GUID MEDIASUBTYPE_RGB565; // 16-bit words, red in the top 5 bits
extern const GUID MEDIASUBTYPE_RGB32;  // BGRA/BGRX, 4 bytes a pixel
extern const GUID MEDIASUBTYPE_IYUV;   // planar I420
// Compressed video as the cameras send it.
extern const GUID MEDIASUBTYPE_MJPG;
extern const GUID MEDIASUBTYPE_MP4V;
extern const GUID MEDIASUBTYPE_H264; // QBox-framed H.264 as the devices send it
// Audio.
extern const GUID MEDIASUBTYPE_PCM; // signed 16-bit little-endian, interleaved
extern const GUID MEDIASUBTYPE_MULAW;
extern const GUID MEDIASUBTYPE_G726;
extern const GUID MEDIASUBTYPE_RAW_AAC1;

// One unit of media handed downstream. Not a COM object: it lives for the
// duration of one Receive call, and the receiver copies what it keeps.
struct CMediaSample {
    const uint8_t* pData = nullptr; // the picture (first row in memory first) or the audio bytes
    LONG lLength = 0;               // bytes at pData
    // Pictures: the size of this picture (it may differ from the connection's
    // type when the stream changed size or the picture was decoded scaled
    // down) and its row length in bytes (for I420 the luma row; chroma rows
    // are half of it).
    LONG lWidth = 0;
    LONG lHeight = 0; // sign: row order, as biHeight
    LONG lStride = 0;
    // The stream's own picture size from which this picture was made; it
    // differs from lWidth x |lHeight| for a picture decoded at 1/2, 1/4 or
    // 1/8 scale. Source rectangles are given in the stream's pixels.
    LONG lNativeWidth = 0;
    LONG lNativeHeight = 0;
    bool bDiscontinuity = false;
};

// --- Interfaces ---

class IBaseFilter;
class IFilterGraph;
class IReferenceClock;

struct PIN_INFO {
    IBaseFilter* pFilter; // AddRef'd; the caller releases it
    PIN_DIRECTION dir;
    WCHAR achName[128];
};

struct FILTER_INFO {
    WCHAR achName[128];
    IFilterGraph* pGraph; // AddRef'd when not null
};

class IPin : public IUnknown {
public:
    // Output pins: connects to receivePin with mt, or with the first of this
    // pin's own types that receivePin accepts when mt is null.
    virtual HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) = 0;
    // Input pins: accepts or refuses a connection from connector with mt.
    virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** pin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* dir) = 0;
    // S_OK when the pin would accept mt, S_FALSE otherwise.
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) = 0;
};

class IMemInputPin : public IUnknown {
public:
    // Takes one sample; the sample's memory is the sender's again once this
    // returns. S_OK when it was used, S_FALSE when it was dropped (not
    // running), a failure for a sample the pin cannot read.
    virtual HRESULT Receive(const CMediaSample* sample) = 0;
};

class IEnumPins : public IUnknown {
public:
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
};

class IEnumFilters : public IUnknown {
public:
    virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
};

class IReferenceClock : public IUnknown {
public:
    virtual HRESULT GetTime(REFERENCE_TIME* time) = 0; // 100 ns units
};

class IMediaFilter : public IUnknown {
public:
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) = 0;
    // Null: no clock; samples are shown as they arrive.
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;
};

class IBaseFilter : public IMediaFilter {
public:
    virtual HRESULT EnumPins(IEnumPins** pins) = 0;
    virtual HRESULT FindPin(LPCWSTR id, IPin** pin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
    // Called by the graph when the filter is added (name given) or removed
    // (graph null). The filter does not hold a reference on the graph.
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
    virtual HRESULT GetClassID(CLSID* clsid) = 0;
};

class IFilterGraph : public IUnknown {
public:
    // Adds a filter under a name unique in the graph (VFW_E_DUPLICATE_NAME).
    virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** filters) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0;
    // Connects two pins directly, with mt or any type both agree on.
    virtual HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) = 0;
    // Breaks one side of a connection (call it for both pins).
    virtual HRESULT Disconnect(IPin* pin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;
};

class IGraphBuilder : public IFilterGraph {
public:
    // Intelligent connection: directly, or else through one filter already in
    // the graph that has a free input and output pin (the colour space
    // converter between a picture format and a renderer that wants another,
    // the ACM wrapper between compressed audio and the sound renderer).
    virtual HRESULT Connect(IPin* out, IPin* in) = 0;
};

class IMediaControl : public IUnknown {
public:
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(LONG milliseconds, OAFilterState* state) = 0;
};

class IMediaEvent : public IUnknown {
public:
    // A manual-reset kernel event that is signalled while events wait.
    virtual HRESULT GetEventHandle(OAEVENT* event) = 0;
    // The oldest waiting event; E_ABORT after milliseconds without one.
    virtual HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG milliseconds) = 0;
    virtual HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

class IMediaEventEx : public IMediaEvent {
public:
    // Posts message to window (lParam = instance) whenever an event is
    // queued; a null window stops the notification.
    virtual HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) = 0;
};

// How a filter tells its graph about an event (the graph queues it for
// IMediaEvent and notifies the window set with SetNotifyWindow).
class IMediaEventSink : public IUnknown {
public:
    virtual HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

constexpr HRESULT E_ABORT = MakeHResult(0x80004004u);
// Event codes a graph queues.
constexpr LONG EC_COMPLETE = 0x01;
constexpr LONG EC_ERRORABORT = 0x03;
constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;

// The video window of a windowed renderer, reached through the graph. Here
// the video window is a rectangle of the owner window's surface.
class IVideoWindow : public IUnknown {
public:
    virtual HRESULT put_AutoShow(LONG autoShow) = 0;
    virtual HRESULT get_AutoShow(LONG* autoShow) = 0;
    virtual HRESULT put_WindowStyle(LONG style) = 0;
    virtual HRESULT get_WindowStyle(LONG* style) = 0;
    virtual HRESULT put_Visible(LONG visible) = 0;
    virtual HRESULT get_Visible(LONG* visible) = 0;
    virtual HRESULT put_Owner(OAHWND owner) = 0;
    virtual HRESULT get_Owner(OAHWND* owner) = 0;
    virtual HRESULT put_MessageDrain(OAHWND drain) = 0;
    virtual HRESULT get_MessageDrain(OAHWND* drain) = 0;
    // Position in the owner's client area, in pixels.
    virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
};

class IBasicVideo : public IUnknown {
public:
    // The part of the stream's picture that is shown, in its pixels.
    virtual HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT SetDefaultSourcePosition() = 0;
    // The size of the pictures on the renderer's connection.
    virtual HRESULT GetVideoSize(LONG* width, LONG* height) = 0;
};

// Asked of a video renderer's input pin by the filter that feeds it: by how
// much a picture may be made smaller before it is delivered and still fill
// the rectangle it is shown in (1, 2, 4 or 8). A source that decodes JPEG
// can then decode at that scale instead of decoding whole and having the
// renderer throw most of the pixels away.
class IVideoScaleHint : public IUnknown {
public:
    virtual LONG GetScaleDenominator() = 0;
};
// Denominators a scale hint may give.
constexpr LONG kMaxScaleDenominator = 8;

// Also asked of a video renderer's input pin: the part of the window surface
// a whole picture of width x height would be copied to unchanged (RGB32, not
// scaled, not cut, inside the surface). A source that decodes can write the
// picture there itself and save the renderer's copy, the way a DirectShow
// renderer's allocator hands out samples in video memory. BeginDirect holds
// the renderer (and the surface) until EndDirect, which shows what was
// written (drawn true) or leaves it (false).
class IVideoDirectTarget : public IUnknown {
public:
    virtual bool BeginDirect(LONG width, LONG height, uint8_t** pixels, LONG* stride) = 0;
    // The same for a picture the source decodes into YCbCr planes
    // (libjpeg-turbo's subsampling code and plane layout): the window keeps
    // the planes and turns them into pixels only when they are looked at
    // (os::Window::PlanarLock). Refused also where the renderer must blend
    // something over the picture (a visible mixer bitmap). EndDirect ends it.
    virtual bool BeginPlanar(LONG width, LONG height, int subsampling, uint8_t* planes[3],
                             int strides[3]) = 0;
    virtual void EndDirect(bool drawn) = 0;
};

// --- Video Mixing Renderer ---

enum VMRMode { VMRMode_Windowed = 0x1, VMRMode_Windowless = 0x2, VMRMode_Renderless = 0x4 };
enum VMR9Mode { VMR9Mode_Windowed = 0x1, VMR9Mode_Windowless = 0x2, VMR9Mode_Renderless = 0x4 };
// Mixing preferences: the filter used when the mixer stretches a picture.
constexpr DWORD MixerPref_BiLinearFiltering = 0x10;
constexpr DWORD MixerPref_PointFiltering = 0x20;
constexpr DWORD MixerPref_FilteringMask = 0xF0;
constexpr DWORD MixerPref9_BiLinearFiltering = 0x10;
constexpr DWORD MixerPref9_PointFiltering = 0x20;
constexpr DWORD MixerPref9_FilteringMask = 0xF0;
// Aspect ratio modes.
constexpr DWORD VMR_ARMODE_NONE = 0;
constexpr DWORD VMR_ARMODE_LETTER_BOX = 1;
// Streams a mixer takes at most.
constexpr DWORD kMaxMixerStreams = 16;

class IVMRFilterConfig : public IUnknown {
public:
    virtual HRESULT SetNumberOfStreams(DWORD streams) = 0;
    virtual HRESULT GetNumberOfStreams(DWORD* streams) = 0;
    virtual HRESULT SetRenderingMode(DWORD mode) = 0;
    virtual HRESULT GetRenderingMode(DWORD* mode) = 0;
};

class IVMRFilterConfig9 : public IUnknown {
public:
    virtual HRESULT SetNumberOfStreams(DWORD streams) = 0;
    virtual HRESULT GetNumberOfStreams(DWORD* streams) = 0;
    virtual HRESULT SetRenderingMode(DWORD mode) = 0;
    virtual HRESULT GetRenderingMode(DWORD* mode) = 0;
};

class IVMRMixerControl : public IUnknown {
public:
    virtual HRESULT SetMixingPrefs(DWORD prefs) = 0;
    virtual HRESULT GetMixingPrefs(DWORD* prefs) = 0;
};

class IVMRMixerControl9 : public IUnknown {
public:
    virtual HRESULT SetMixingPrefs(DWORD prefs) = 0;
    virtual HRESULT GetMixingPrefs(DWORD* prefs) = 0;
};

class IVMRWindowlessControl9 : public IUnknown {
public:
    virtual HRESULT SetVideoClippingWindow(HWND window) = 0;
    virtual HRESULT SetBorderColor(COLORREF colour) = 0;
    virtual HRESULT GetBorderColor(COLORREF* colour) = 0;
    // src: part of the picture (null: keep); dst: where in the clipping
    // window's client area (null: keep).
    virtual HRESULT SetVideoPosition(const RECT* src, const RECT* dst) = 0;
    virtual HRESULT GetVideoPosition(RECT* src, RECT* dst) = 0;
    virtual HRESULT GetNativeVideoSize(LONG* width, LONG* height, LONG* arWidth, LONG* arHeight) = 0;
    virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;
    virtual HRESULT GetAspectRatioMode(DWORD* mode) = 0;
};

class IVMRAspectRatioControl : public IUnknown {
public:
    virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;
    virtual HRESULT GetAspectRatioMode(DWORD* mode) = 0;
};

class IVMRAspectRatioControl9 : public IUnknown {
public:
    virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;
    virtual HRESULT GetAspectRatioMode(DWORD* mode) = 0;
};

// --- Identifiers ---

extern const CLSID CLSID_FilterGraph;
extern const CLSID CLSID_ACMWrapper;
extern const CLSID CLSID_DSoundRender;
extern const CLSID CLSID_VideoRendererDefault; // VMR-7 on the systems this stands in for
extern const CLSID CLSID_VideoMixingRenderer9;
extern const CLSID CLSID_VideoRenderer; // the classic renderer
extern const CLSID CLSID_Colour;        // colour space converter

extern const IID IID_IPin;
extern const IID IID_IMemInputPin;
extern const IID IID_IEnumPins;
extern const IID IID_IEnumFilters;
extern const IID IID_IReferenceClock;
extern const IID IID_IMediaFilter;
extern const IID IID_IBaseFilter;
extern const IID IID_IFilterGraph;
extern const IID IID_IGraphBuilder;
extern const IID IID_IMediaControl;
extern const IID IID_IMediaEvent;
extern const IID IID_IMediaEventEx;
extern const IID IID_IMediaEventSink;
extern const IID IID_IVideoScaleHint;
extern const IID IID_IVideoDirectTarget;
extern const IID IID_IVideoWindow;
extern const IID IID_IBasicVideo;
extern const IID IID_IVMRFilterConfig;
extern const IID IID_IVMRFilterConfig9;
extern const IID IID_IVMRMixerControl;
extern const IID IID_IVMRMixerControl9;
extern const IID IID_IVMRMixerBitmap;
extern const IID IID_IVMRMixerBitmap9;
extern const IID IID_IVMRWindowlessControl9;
extern const IID IID_IVMRAspectRatioControl;
extern const IID IID_IVMRAspectRatioControl9;

namespace os::dshow {
// "IID_IVideoWindow" for the identifiers above, null for others: the name
// under which a test makes a query fail.
const char* IidName(REFIID iid);
// A media type with every field zero and the two GUIDs set.
AM_MEDIA_TYPE MakeMediaType(REFGUID major, REFGUID sub);
} // namespace os::dshow
