#include "os/dshow/CFilterGraph.h"

#include "os/dshow/CComEnum.h"

#include "os/window/Window.h"

#include <algorithm>
#include <chrono>

namespace os::dshow {

namespace {

using CEnumFilters = CComEnum<IEnumFilters, IBaseFilter, IID_IEnumFilters>;

// The pins of a filter (counted; the caller releases them).
std::vector<IPin*> PinsOf(IBaseFilter* filter) {
    std::vector<IPin*> pins;
    auto* base = dynamic_cast<CBaseFilter*>(filter);
    if (base == nullptr)
        return pins;
    for (int i = 0; i < base->GetPinCount(); ++i) {
        IPin* p = base->GetPin(i);
        p->AddRef();
        pins.push_back(p);
    }
    return pins;
}

void ReleaseAll(std::vector<IPin*>& pins) {
    for (IPin* p : pins)
        p->Release();
    pins.clear();
}

bool IsFree(IPin* pin, PIN_DIRECTION wanted) {
    PIN_DIRECTION dir;
    pin->QueryDirection(&dir);
    if (dir != wanted)
        return false;
    IPin* peer = nullptr;
    if (SUCCEEDED(pin->ConnectedTo(&peer))) {
        peer->Release();
        return false;
    }
    return true;
}

IBaseFilter* OwnerOf(IPin* pin) {
    PIN_INFO info;
    if (FAILED(pin->QueryPinInfo(&info)))
        return nullptr;
    info.pFilter->Release(); // the graph holds it
    return info.pFilter;
}

} // namespace

HRESULT CFilterGraph::Create(REFIID iid, void** out) {
    auto* graph = new CFilterGraph();
    HRESULT hr = graph->QueryInterface(iid, out);
    graph->Release();
    return hr;
}

CFilterGraph::CFilterGraph() : m_hEvent(CreateEvent(nullptr, TRUE, FALSE, nullptr)) {}

CFilterGraph::~CFilterGraph() {
    // As on Windows, releasing the graph stops it and lets every filter go:
    // connections first, since connected pins hold their peers.
    SetAllStates(State_Stopped);
    std::vector<SEntry> filters;
    {
        std::lock_guard<std::recursive_mutex> guard(mLock);
        filters.swap(mFilters);
    }
    for (SEntry& e : filters)
        DisconnectFilter(e.filter);
    for (SEntry& e : filters) {
        e.filter->JoinFilterGraph(nullptr, nullptr);
        e.filter->Release();
    }
    if (mpClock != nullptr)
        mpClock->Release();
    CloseHandle(m_hEvent);
}

HRESULT CFilterGraph::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    HRESULT hr = CheckQueryFault(IidName(iid), nullptr);
    if (FAILED(hr))
        return hr;
    void* p = nullptr;
    if (iid == IID_IUnknown || iid == IID_IGraphBuilder || iid == IID_IFilterGraph)
        p = static_cast<IGraphBuilder*>(this);
    else if (iid == IID_IMediaControl)
        p = static_cast<IMediaControl*>(this);
    else if (iid == IID_IMediaFilter)
        p = static_cast<IMediaFilter*>(this);
    else if (iid == IID_IMediaEvent || iid == IID_IMediaEventEx)
        p = static_cast<IMediaEventEx*>(this);
    else if (iid == IID_IMediaEventSink)
        p = static_cast<IMediaEventSink*>(this);
    else if (iid == IID_IVideoWindow)
        p = static_cast<IVideoWindow*>(this);
    else if (iid == IID_IBasicVideo)
        p = static_cast<IBasicVideo*>(this);
    return ReturnInterface(static_cast<IGraphBuilder*>(this), p, out);
}

ULONG CFilterGraph::AddRef() {
    return ++mRefCount;
}

ULONG CFilterGraph::Release() {
    ULONG n = --mRefCount;
    if (n == 0)
        delete this;
    return n;
}

// --- Filters ---

HRESULT CFilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
    if (filter == nullptr)
        return E_POINTER;
    std::wstring n = name != nullptr ? name : L"";
    HRESULT hr = CheckCallFault("IGraphBuilder::AddFilter", n.c_str());
    if (FAILED(hr))
        return hr;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    for (const SEntry& e : mFilters) {
        if (e.filter == filter)
            return E_INVALIDARG;
        if (e.name == n)
            return VFW_E_DUPLICATE_NAME;
    }
    hr = filter->JoinFilterGraph(this, n.c_str());
    if (FAILED(hr))
        return hr;
    filter->AddRef();
    mFilters.push_back(SEntry{filter, n});
    if (mpClock != nullptr)
        filter->SetSyncSource(mpClock);
    return S_OK;
}

void CFilterGraph::DisconnectFilter(IBaseFilter* filter) {
    std::vector<IPin*> pins = PinsOf(filter);
    for (IPin* p : pins) {
        IPin* peer = nullptr;
        if (SUCCEEDED(p->ConnectedTo(&peer))) {
            peer->Disconnect();
            peer->Release();
        }
        p->Disconnect();
    }
    ReleaseAll(pins);
}

HRESULT CFilterGraph::RemoveFilter(IBaseFilter* filter) {
    if (filter == nullptr)
        return E_POINTER;
    HRESULT hr = CheckCallFault("IGraphBuilder::RemoveFilter", nullptr);
    if (FAILED(hr))
        return hr;
    {
        std::lock_guard<std::recursive_mutex> guard(mLock);
        auto it = std::find_if(mFilters.begin(), mFilters.end(),
                               [filter](const SEntry& e) { return e.filter == filter; });
        if (it == mFilters.end())
            return VFW_E_NOT_FOUND;
        mFilters.erase(it);
    }
    DisconnectFilter(filter);
    filter->Stop();
    filter->SetSyncSource(nullptr);
    filter->JoinFilterGraph(nullptr, nullptr);
    filter->Release();
    return S_OK;
}

std::vector<IBaseFilter*> CFilterGraph::Snapshot() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    std::vector<IBaseFilter*> list;
    for (const SEntry& e : mFilters) {
        e.filter->AddRef();
        list.push_back(e.filter);
    }
    return list;
}

HRESULT CFilterGraph::EnumFilters(IEnumFilters** filters) {
    if (filters == nullptr)
        return E_POINTER;
    *filters = new CEnumFilters(Snapshot());
    return S_OK;
}

HRESULT CFilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter) {
    if (name == nullptr || filter == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    for (const SEntry& e : mFilters) {
        if (e.name == name) {
            e.filter->AddRef();
            *filter = e.filter;
            return S_OK;
        }
    }
    *filter = nullptr;
    return VFW_E_NOT_FOUND;
}

std::wstring CFilterGraph::NameOfPinOwner(IPin* pin) {
    IBaseFilter* owner = OwnerOf(pin);
    std::lock_guard<std::recursive_mutex> guard(mLock);
    for (const SEntry& e : mFilters) {
        if (e.filter == owner)
            return e.name;
    }
    return L"";
}

HRESULT CFilterGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) {
    if (out == nullptr || in == nullptr)
        return E_POINTER;
    HRESULT hr = CheckCallFault("IGraphBuilder::ConnectDirect", NameOfPinOwner(in).c_str());
    if (FAILED(hr))
        return hr;
    return out->Connect(in, mt);
}

HRESULT CFilterGraph::Connect(IPin* out, IPin* in) {
    if (out == nullptr || in == nullptr)
        return E_POINTER;
    HRESULT hr = CheckCallFault("IGraphBuilder::Connect", NameOfPinOwner(in).c_str());
    if (FAILED(hr))
        return hr;
    hr = out->Connect(in, nullptr);
    if (SUCCEEDED(hr))
        return hr;
    // Through one filter of the graph that sits between them: its free input
    // takes what out offers and its free output gives what in wants.
    IBaseFilter* outOwner = OwnerOf(out);
    IBaseFilter* inOwner = OwnerOf(in);
    std::vector<IBaseFilter*> filters = Snapshot();
    HRESULT result = VFW_E_CANNOT_CONNECT;
    for (IBaseFilter* f : filters) {
        if (f == outOwner || f == inOwner)
            continue;
        std::vector<IPin*> pins = PinsOf(f);
        for (IPin* middleIn : pins) {
            if (!IsFree(middleIn, PINDIR_INPUT) || FAILED(out->Connect(middleIn, nullptr)))
                continue;
            for (IPin* middleOut : pins) {
                if (IsFree(middleOut, PINDIR_OUTPUT) && SUCCEEDED(middleOut->Connect(in, nullptr))) {
                    result = S_OK;
                    break;
                }
            }
            if (result == S_OK)
                break;
            out->Disconnect();
            middleIn->Disconnect();
        }
        ReleaseAll(pins);
        if (result == S_OK)
            break;
    }
    for (IBaseFilter* f : filters)
        f->Release();
    return result;
}

HRESULT CFilterGraph::Disconnect(IPin* pin) {
    if (pin == nullptr)
        return E_POINTER;
    return pin->Disconnect();
}

// --- State and clock ---

HRESULT CFilterGraph::SetAllStates(FILTER_STATE state) {
    std::vector<IBaseFilter*> filters = Snapshot();
    HRESULT result = S_OK;
    // Renderers (added last in this system's graphs) change state first, as
    // on Windows, so that nothing is delivered into a stopped filter.
    for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
        HRESULT hr = state == State_Running  ? (*it)->Run(0)
                     : state == State_Paused ? (*it)->Pause()
                                             : (*it)->Stop();
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    for (IBaseFilter* f : filters)
        f->Release();
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (SUCCEEDED(result))
        mState = state;
    return result;
}

HRESULT CFilterGraph::Run() {
    HRESULT hr = CheckCallFault("IMediaControl::Run", nullptr);
    if (FAILED(hr))
        return hr;
    {
        std::lock_guard<std::recursive_mutex> guard(mLock);
        if (!mClockChosen && mpClock == nullptr)
            SetDefaultSyncSource();
    }
    return SetAllStates(State_Running);
}

HRESULT CFilterGraph::Pause() {
    HRESULT hr = CheckCallFault("IMediaControl::Pause", nullptr);
    if (FAILED(hr))
        return hr;
    return SetAllStates(State_Paused);
}

HRESULT CFilterGraph::Stop() {
    HRESULT hr = CheckCallFault("IMediaControl::Stop", nullptr);
    if (FAILED(hr))
        return hr;
    return SetAllStates(State_Stopped);
}

HRESULT CFilterGraph::GetState(LONG, OAFilterState* state) {
    if (state == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    *state = mState;
    return S_OK;
}

HRESULT CFilterGraph::Run(REFERENCE_TIME) {
    return Run();
}

HRESULT CFilterGraph::GetState(DWORD, FILTER_STATE* state) {
    if (state == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    *state = mState;
    return S_OK;
}

HRESULT CFilterGraph::SetSyncSource(IReferenceClock* clock) {
    HRESULT hr = CheckCallFault("IMediaFilter::SetSyncSource", nullptr);
    if (FAILED(hr))
        return hr;
    std::vector<IBaseFilter*> filters;
    {
        std::lock_guard<std::recursive_mutex> guard(mLock);
        if (clock != nullptr)
            clock->AddRef();
        if (mpClock != nullptr)
            mpClock->Release();
        mpClock = clock;
        mClockChosen = true;
        filters = Snapshot();
    }
    for (IBaseFilter* f : filters) {
        f->SetSyncSource(clock);
        f->Release();
    }
    return S_OK;
}

HRESULT CFilterGraph::GetSyncSource(IReferenceClock** clock) {
    if (clock == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    *clock = mpClock;
    if (mpClock != nullptr)
        mpClock->AddRef();
    return S_OK;
}

HRESULT CFilterGraph::SetDefaultSyncSource() {
    auto* clock = new CSystemClock();
    HRESULT hr = SetSyncSource(clock);
    clock->Release();
    return hr;
}

// --- Events ---

HRESULT CFilterGraph::GetEventHandle(OAEVENT* event) {
    if (event == nullptr)
        return E_POINTER;
    *event = reinterpret_cast<OAEVENT>(m_hEvent);
    return S_OK;
}

HRESULT CFilterGraph::GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG milliseconds) {
    if (code == nullptr || param1 == nullptr || param2 == nullptr)
        return E_POINTER;
    if (milliseconds != 0)
        WaitForSingleObject(m_hEvent, milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds));
    std::lock_guard<std::mutex> guard(mEventLock);
    if (mEvents.empty())
        return E_ABORT;
    const SEvent e = mEvents.front();
    mEvents.pop_front();
    if (mEvents.empty())
        ResetEvent(m_hEvent);
    *code = e.code;
    *param1 = e.param1;
    *param2 = e.param2;
    return S_OK;
}

HRESULT CFilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) {
    return S_OK;
}

HRESULT CFilterGraph::SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) {
    HRESULT hr = CheckCallFault("IMediaEventEx::SetNotifyWindow", nullptr);
    if (FAILED(hr))
        return hr;
    std::lock_guard<std::mutex> guard(mEventLock);
    mNotifyWindow = window;
    mNotifyMessage = message;
    mNotifyInstance = instance;
    return S_OK;
}

HRESULT CFilterGraph::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
    OAHWND window;
    LONG message;
    LONG_PTR instance;
    {
        std::lock_guard<std::mutex> guard(mEventLock);
        if (mEvents.size() >= kMaxQueuedEvents)
            mEvents.pop_front();
        mEvents.push_back(SEvent{code, param1, param2});
        SetEvent(m_hEvent);
        window = mNotifyWindow;
        message = mNotifyMessage;
        instance = mNotifyInstance;
        if (window != 0)
            ++mNotifyCount;
    }
    if (window != 0)
        PostMessageA(reinterpret_cast<HWND>(window), static_cast<UINT>(message), 0, instance);
    return S_OK;
}

int CFilterGraph::GetNotifyCount() {
    std::lock_guard<std::mutex> guard(mEventLock);
    return mNotifyCount;
}

// --- Forwarding to the video renderer ---

IVideoWindow* CFilterGraph::FindVideoWindow() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    for (const SEntry& e : mFilters) {
        auto* base = dynamic_cast<CBaseFilter*>(e.filter);
        IVideoWindow* w = base != nullptr ? base->GraphVideoWindow() : nullptr;
        if (w != nullptr)
            return w;
    }
    return nullptr;
}

IBasicVideo* CFilterGraph::FindBasicVideo() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    for (const SEntry& e : mFilters) {
        auto* base = dynamic_cast<CBaseFilter*>(e.filter);
        IBasicVideo* b = base != nullptr ? base->GraphBasicVideo() : nullptr;
        if (b != nullptr)
            return b;
    }
    return nullptr;
}

// Each forwarded call checks its own fault, then finds the renderer and
// calls it outside the graph's lock.
#define IPCAM_FORWARD(Find, call, expr)                                                                      \
    do {                                                                                                     \
        HRESULT hr_ = CheckCallFault(call, nullptr);                                                         \
        if (FAILED(hr_))                                                                                     \
            return hr_;                                                                                      \
        auto* target = Find();                                                                               \
        if (target == nullptr)                                                                               \
            return E_NOINTERFACE;                                                                            \
        hr_ = target->expr;                                                                                  \
        target->Release();                                                                                   \
        return hr_;                                                                                          \
    } while (0)

HRESULT CFilterGraph::put_AutoShow(LONG v) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::put_AutoShow", put_AutoShow(v));
}
HRESULT CFilterGraph::get_AutoShow(LONG* v) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::get_AutoShow", get_AutoShow(v));
}
HRESULT CFilterGraph::put_WindowStyle(LONG v) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::put_WindowStyle", put_WindowStyle(v));
}
HRESULT CFilterGraph::get_WindowStyle(LONG* v) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::get_WindowStyle", get_WindowStyle(v));
}
HRESULT CFilterGraph::put_Visible(LONG v) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::put_Visible", put_Visible(v));
}
HRESULT CFilterGraph::get_Visible(LONG* v) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::get_Visible", get_Visible(v));
}
HRESULT CFilterGraph::put_Owner(OAHWND v) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::put_Owner", put_Owner(v));
}
HRESULT CFilterGraph::get_Owner(OAHWND* v) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::get_Owner", get_Owner(v));
}
HRESULT CFilterGraph::put_MessageDrain(OAHWND v) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::put_MessageDrain", put_MessageDrain(v));
}
HRESULT CFilterGraph::get_MessageDrain(OAHWND* v) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::get_MessageDrain", get_MessageDrain(v));
}
HRESULT CFilterGraph::SetWindowPosition(LONG l, LONG t, LONG w, LONG h) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::SetWindowPosition", SetWindowPosition(l, t, w, h));
}
HRESULT CFilterGraph::GetWindowPosition(LONG* l, LONG* t, LONG* w, LONG* h) {
    IPCAM_FORWARD(FindVideoWindow, "IVideoWindow::GetWindowPosition", GetWindowPosition(l, t, w, h));
}
HRESULT CFilterGraph::SetSourcePosition(LONG l, LONG t, LONG w, LONG h) {
    IPCAM_FORWARD(FindBasicVideo, "IBasicVideo::SetSourcePosition", SetSourcePosition(l, t, w, h));
}
HRESULT CFilterGraph::GetSourcePosition(LONG* l, LONG* t, LONG* w, LONG* h) {
    IPCAM_FORWARD(FindBasicVideo, "IBasicVideo::GetSourcePosition", GetSourcePosition(l, t, w, h));
}
HRESULT CFilterGraph::SetDefaultSourcePosition() {
    IPCAM_FORWARD(FindBasicVideo, "IBasicVideo::SetDefaultSourcePosition", SetDefaultSourcePosition());
}
HRESULT CFilterGraph::GetVideoSize(LONG* w, LONG* h) {
    IPCAM_FORWARD(FindBasicVideo, "IBasicVideo::GetVideoSize", GetVideoSize(w, h));
}
#undef IPCAM_FORWARD

// --- CSystemClock ---

HRESULT CSystemClock::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IReferenceClock)
        return ReturnInterface(this, static_cast<IReferenceClock*>(this), out);
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG CSystemClock::Release() {
    ULONG n = --mRefCount;
    if (n == 0)
        delete this;
    return n;
}

HRESULT CSystemClock::GetTime(REFERENCE_TIME* time) {
    if (time == nullptr)
        return E_POINTER;
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    *time = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
    return S_OK;
}

} // namespace os::dshow
