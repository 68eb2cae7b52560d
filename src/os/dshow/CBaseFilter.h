// The common part of this layer's filters and their pins: reference
// counting, the filter state, the pin list and the connection handshake.
//
// Lifetime: a filter deletes itself when its count reaches zero. Its pins
// are part of it and count on it (AddRef on a pin adds to the filter), so a
// connection, which holds the peer pin, keeps the peer's filter alive until
// it is broken; the graph breaks every connection before it lets its filters
// go.
//
// Locks: each filter has one lock (mLock) for its state, its connections and
// whatever it keeps for drawing or playing. A sample travels downstream with
// the sending filter's lock held and takes each receiving filter's lock in
// turn; nothing takes a filter's lock while it holds a downstream filter's,
// so the order is always upstream to downstream.
#pragma once

#include "os/dshow/DShow.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace os::dshow {

class CBaseFilter;

class CBasePin : public IPin {
public:
    CBasePin(CBaseFilter* filter, PIN_DIRECTION direction, const wchar_t* name);
    ~CBasePin() override;

    HRESULT QueryInterface(REFIID iid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) override;

    bool IsConnected();
    const std::wstring& Name() const { return mName; }
    PIN_DIRECTION Direction() const { return mDirection; }
    // The connection's media type; meaningful while connected. Caller holds the filter's lock.
    const AM_MEDIA_TYPE& MediaType() const { return mMediaType; }

    // Output pins: hands a sample to the connected input pin. S_FALSE when
    // not connected. Called with the owning filter's lock held.
    HRESULT Deliver(const CMediaSample& sample);

protected:
    // S_OK when the pin can take mt (input) or produce it (output).
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) = 0;
    // Output pins: the types the pin offers, best first; S_FALSE past the last.
    virtual HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt);
    // After a connection is made (with the filter's lock held); a failure undoes it.
    virtual HRESULT CompleteConnect(IPin* peer);
    // After a connection is broken (with the filter's lock held).
    virtual void BreakConnect() {}
    // Input pins: the sample interface (IMemInputPin) if the pin has one.
    virtual IMemInputPin* GetMemInputPin() { return nullptr; }

    CBaseFilter* mpFilter; // owner; not counted
    PIN_DIRECTION mDirection;
    std::wstring mName;
    IPin* mpConnected = nullptr;         // counted; guarded by the filter's lock
    IMemInputPin* mpPeerInput = nullptr; // output pins: the peer's sample interface, counted
    AM_MEDIA_TYPE mMediaType{};          // guarded by the filter's lock

private:
    HRESULT AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE& mt);
    void ClearConnection();
};

// A pin that receives samples: IPin and IMemInputPin on one object.
class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(CBaseFilter* filter, const wchar_t* name);

    HRESULT QueryInterface(REFIID iid, void** out) override;
    ULONG AddRef() override { return CBasePin::AddRef(); }
    ULONG Release() override { return CBasePin::Release(); }

protected:
    IMemInputPin* GetMemInputPin() override { return this; }
};

class CBaseFilter : public IBaseFilter {
public:
    explicit CBaseFilter(REFCLSID clsid);

    HRESULT QueryInterface(REFIID iid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;

    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT GetClassID(CLSID* clsid) override;

    // Pins, in a fixed order.
    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int index) = 0;

    // What the graph forwards its IVideoWindow and IBasicVideo calls to:
    // the video renderer's own (counted), or null for other filters and for
    // a renderer in a mode without a video window.
    virtual IVideoWindow* GraphVideoWindow() { return nullptr; }
    virtual IBasicVideo* GraphBasicVideo() { return nullptr; }

    // The filter's name in its graph (empty outside one), for fault scopes.
    std::wstring Name();
    FILTER_STATE State();
    bool IsRunning() { return State() == State_Running; }

    std::recursive_mutex mLock;

protected:
    ~CBaseFilter() override;
    // Interfaces beyond IUnknown, IMediaFilter and IBaseFilter: the pointer,
    // not yet counted, or null.
    virtual void* QueryOwnInterface(REFIID iid);
    // Called with mLock held when the state changes.
    virtual void OnStateChange(FILTER_STATE from, FILTER_STATE to) {}
    // CheckCallFault scoped to this filter.
    HRESULT Fault(const char* call);
    // Queues an event in the filter's graph, if it is in one.
    void NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);

private:
    HRESULT SetState(FILTER_STATE state, const char* call);

    std::atomic<ULONG> mRefCount{1};
    CLSID mClsid;
    std::wstring mName;              // guarded by mLock
    IFilterGraph* mpGraph = nullptr; // not counted; guarded by mLock
    FILTER_STATE mState = State_Stopped;
    IReferenceClock* mpClock = nullptr; // counted; guarded by mLock
};

// Returns *out = p with one more reference, or E_NOINTERFACE for null.
HRESULT ReturnInterface(IUnknown* object, void* p, void** out);

// Copies a wide name into a fixed-size Windows name field.
void CopyName(WCHAR* target, size_t size, const std::wstring& name);

} // namespace os::dshow
