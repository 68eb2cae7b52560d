// The filter graph manager (CLSID_FilterGraph): holds the filters by name,
// connects pins (directly, or through a filter already in the graph), runs
// and stops them together, queues their events, and hands the video window
// and basic video calls to the video renderer in the graph, as the Windows
// graph manager does.
//
// Threads: building and control run on the renderer owner's thread. The
// filters' events arrive on the delivering thread. Calls forwarded to the
// video renderer are made without the graph's lock, so a renderer that
// reports an event while it draws never waits on the graph.
#pragma once

#include "os/dshow/CBaseFilter.h"

#include <deque>
#include <mutex>
#include <vector>

namespace os::dshow {

class CFilterGraph : public IGraphBuilder,
                     public IMediaControl,
                     public IMediaFilter,
                     public IMediaEventEx,
                     public IMediaEventSink,
                     public IVideoWindow,
                     public IBasicVideo {
public:
    // Events queued at most; older ones are dropped first, so a graph whose
    // owner never reads its events does not grow.
    static constexpr size_t kMaxQueuedEvents = 64;

    static HRESULT Create(REFIID iid, void** out);

    HRESULT QueryInterface(REFIID iid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IFilterGraph / IGraphBuilder
    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
    HRESULT RemoveFilter(IBaseFilter* filter) override;
    HRESULT EnumFilters(IEnumFilters** filters) override;
    HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override;
    HRESULT Disconnect(IPin* pin) override;
    HRESULT SetDefaultSyncSource() override;
    HRESULT Connect(IPin* out, IPin* in) override;

    // IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG milliseconds, OAFilterState* state) override;

    // IMediaFilter (the graph's clock)
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;

    // IMediaEvent / IMediaEventEx / IMediaEventSink
    HRESULT GetEventHandle(OAEVENT* event) override;
    HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG milliseconds) override;
    HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override;
    HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) override;
    HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override;

    // IVideoWindow, forwarded to the video renderer
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

    // IBasicVideo, forwarded to the video renderer
    HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
    HRESULT SetDefaultSourcePosition() override;
    HRESULT GetVideoSize(LONG* width, LONG* height) override;

    // For tests: the window message posts made for queued events.
    int GetNotifyCount();

private:
    CFilterGraph();
    ~CFilterGraph() override;

    struct SEntry {
        IBaseFilter* filter; // counted
        std::wstring name;
    };
    struct SEvent {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };

    HRESULT SetAllStates(FILTER_STATE state);
    std::vector<IBaseFilter*> Snapshot();
    // The video renderer that serves IVideoWindow / IBasicVideo (counted), or null.
    IVideoWindow* FindVideoWindow();
    IBasicVideo* FindBasicVideo();
    std::wstring NameOfPinOwner(IPin* pin);
    static void DisconnectFilter(IBaseFilter* filter);

    std::atomic<ULONG> mRefCount{1};
    std::recursive_mutex mLock;
    std::vector<SEntry> mFilters; // guarded by mLock
    FILTER_STATE mState = State_Stopped;
    IReferenceClock* mpClock = nullptr; // counted; guarded by mLock
    bool mClockChosen = false;          // SetSyncSource was called; guarded by mLock

    std::mutex mEventLock;
    std::deque<SEvent> mEvents; // guarded by mEventLock
    HANDLE m_hEvent;            // signalled while mEvents is not empty
    OAHWND mNotifyWindow = 0;   // guarded by mEventLock
    LONG mNotifyMessage = 0;
    LONG_PTR mNotifyInstance = 0;
    int mNotifyCount = 0;
};

// The graph's default clock: monotonic time in 100 ns units.
class CSystemClock : public IReferenceClock {
public:
    CSystemClock() = default;
    HRESULT QueryInterface(REFIID iid, void** out) override;
    ULONG AddRef() override { return ++mRefCount; }
    ULONG Release() override;
    HRESULT GetTime(REFERENCE_TIME* time) override;

private:
    ~CSystemClock() override = default;
    std::atomic<ULONG> mRefCount{1};
};

} // namespace os::dshow
