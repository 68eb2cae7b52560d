#include "os/dshow/CBaseFilter.h"

#include "os/dshow/CComEnum.h"

#include <algorithm>
#include <cstring>

namespace os::dshow {

namespace {

using CEnumPins = CComEnum<IEnumPins, IPin, IID_IEnumPins>;

} // namespace

HRESULT ReturnInterface(IUnknown* object, void* p, void** out) {
    if (p == nullptr) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    object->AddRef();
    *out = p;
    return S_OK;
}

void CopyName(WCHAR* target, size_t size, const std::wstring& name) {
    size_t n = std::min(size - 1, name.size());
    std::copy(name.begin(), name.begin() + static_cast<ptrdiff_t>(n), target);
    target[n] = 0;
}

// --- CBasePin ---

CBasePin::CBasePin(CBaseFilter* filter, PIN_DIRECTION direction, const wchar_t* name)
    : mpFilter(filter), mDirection(direction), mName(name) {}

CBasePin::~CBasePin() {
    ClearConnection();
}

HRESULT CBasePin::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    HRESULT hr = CheckQueryFault(IidName(iid), mpFilter->Name().c_str());
    if (FAILED(hr)) {
        *out = nullptr;
        return hr;
    }
    if (iid == IID_IUnknown || iid == IID_IPin)
        return ReturnInterface(this, static_cast<IPin*>(this), out);
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG CBasePin::AddRef() {
    return mpFilter->AddRef();
}

ULONG CBasePin::Release() {
    return mpFilter->Release();
}

bool CBasePin::IsConnected() {
    std::lock_guard<std::recursive_mutex> guard(mpFilter->mLock);
    return mpConnected != nullptr;
}

HRESULT CBasePin::GetMediaType(int, AM_MEDIA_TYPE*) {
    return S_FALSE;
}

HRESULT CBasePin::CompleteConnect(IPin*) {
    return S_OK;
}

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (receivePin == nullptr)
        return E_POINTER;
    if (mDirection != PINDIR_OUTPUT)
        return E_UNEXPECTED;
    std::lock_guard<std::recursive_mutex> guard(mpFilter->mLock);
    if (mpConnected != nullptr)
        return VFW_E_ALREADY_CONNECTED;
    if (mpFilter->State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (mt != nullptr)
        return AttemptConnection(receivePin, *mt);
    AM_MEDIA_TYPE offered;
    for (int i = 0; GetMediaType(i, &offered) == S_OK; ++i) {
        if (SUCCEEDED(AttemptConnection(receivePin, offered)))
            return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE& mt) {
    if (CheckMediaType(mt) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = receivePin->ReceiveConnection(this, &mt);
    if (FAILED(hr))
        return hr;
    IMemInputPin* input = nullptr;
    hr = receivePin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    if (FAILED(hr)) {
        receivePin->Disconnect();
        return hr;
    }
    mpConnected = receivePin;
    mpConnected->AddRef();
    mpPeerInput = input;
    mMediaType = mt;
    hr = CompleteConnect(receivePin);
    if (FAILED(hr)) {
        ClearConnection();
        receivePin->Disconnect();
    }
    return hr;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (connector == nullptr || mt == nullptr)
        return E_POINTER;
    if (mDirection != PINDIR_INPUT)
        return E_UNEXPECTED;
    std::lock_guard<std::recursive_mutex> guard(mpFilter->mLock);
    if (mpConnected != nullptr)
        return VFW_E_ALREADY_CONNECTED;
    if (mpFilter->State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (CheckMediaType(*mt) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    mpConnected = connector;
    mpConnected->AddRef();
    mMediaType = *mt;
    HRESULT hr = CompleteConnect(connector);
    if (FAILED(hr))
        ClearConnection();
    return hr;
}

void CBasePin::ClearConnection() {
    if (mpPeerInput != nullptr) {
        mpPeerInput->Release();
        mpPeerInput = nullptr;
    }
    if (mpConnected != nullptr) {
        mpConnected->Release();
        mpConnected = nullptr;
    }
    std::memset(&mMediaType, 0, sizeof mMediaType);
}

HRESULT CBasePin::Disconnect() {
    IPin* peer = nullptr;
    IMemInputPin* input = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(mpFilter->mLock);
        if (mpConnected == nullptr)
            return S_FALSE;
        // The references go after the lock: the last one may take a whole
        // filter with it.
        peer = mpConnected;
        input = mpPeerInput;
        mpConnected = nullptr;
        mpPeerInput = nullptr;
        std::memset(&mMediaType, 0, sizeof mMediaType);
        BreakConnect();
    }
    if (input != nullptr)
        input->Release();
    peer->Release();
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pin) {
    if (pin == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mpFilter->mLock);
    *pin = mpConnected;
    if (mpConnected == nullptr)
        return VFW_E_NOT_CONNECTED;
    mpConnected->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (mt == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mpFilter->mLock);
    if (mpConnected == nullptr) {
        std::memset(mt, 0, sizeof *mt);
        return VFW_E_NOT_CONNECTED;
    }
    *mt = mMediaType;
    return S_OK;
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
    if (info == nullptr)
        return E_POINTER;
    info->pFilter = mpFilter;
    mpFilter->AddRef();
    info->dir = mDirection;
    CopyName(info->achName, sizeof info->achName / sizeof info->achName[0], mName);
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* dir) {
    if (dir == nullptr)
        return E_POINTER;
    *dir = mDirection;
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (mt == nullptr)
        return E_POINTER;
    return CheckMediaType(*mt) == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::Deliver(const CMediaSample& sample) {
    if (mpPeerInput == nullptr)
        return S_FALSE;
    return mpPeerInput->Receive(&sample);
}

// --- CBaseInputPin ---

CBaseInputPin::CBaseInputPin(CBaseFilter* filter, const wchar_t* name)
    : CBasePin(filter, PINDIR_INPUT, name) {}

HRESULT CBaseInputPin::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    if (iid == IID_IMemInputPin) {
        HRESULT hr = CheckQueryFault(IidName(iid), mpFilter->Name().c_str());
        if (FAILED(hr)) {
            *out = nullptr;
            return hr;
        }
        return ReturnInterface(static_cast<IPin*>(this), static_cast<IMemInputPin*>(this), out);
    }
    return CBasePin::QueryInterface(iid, out);
}

// --- CBaseFilter ---

CBaseFilter::CBaseFilter(REFCLSID clsid) : mClsid(clsid) {}

CBaseFilter::~CBaseFilter() {
    if (mpClock != nullptr)
        mpClock->Release();
}

void* CBaseFilter::QueryOwnInterface(REFIID) {
    return nullptr;
}

HRESULT CBaseFilter::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    HRESULT hr = CheckQueryFault(IidName(iid), Name().c_str());
    if (FAILED(hr)) {
        *out = nullptr;
        return hr;
    }
    if (iid == IID_IUnknown || iid == IID_IBaseFilter || iid == IID_IMediaFilter)
        return ReturnInterface(this, static_cast<IBaseFilter*>(this), out);
    return ReturnInterface(this, QueryOwnInterface(iid), out);
}

ULONG CBaseFilter::AddRef() {
    return ++mRefCount;
}

ULONG CBaseFilter::Release() {
    ULONG n = --mRefCount;
    if (n == 0)
        delete this;
    return n;
}

HRESULT CBaseFilter::Fault(const char* call) {
    return CheckCallFault(call, Name().c_str());
}

void CBaseFilter::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(mLock);
        if (mpGraph == nullptr)
            return;
        // A plain cast: the graph's own queries are not the owner's and
        // must not use up a fault a test set for the owner's.
        sink = dynamic_cast<IMediaEventSink*>(mpGraph);
        if (sink != nullptr)
            sink->AddRef();
    }
    if (sink == nullptr)
        return;
    sink->Notify(code, param1, param2);
    sink->Release();
}

HRESULT CBaseFilter::SetState(FILTER_STATE state, const char* call) {
    HRESULT hr = Fault(call);
    if (FAILED(hr))
        return hr;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    FILTER_STATE old = mState;
    mState = state;
    if (old != state)
        OnStateChange(old, state);
    return S_OK;
}

HRESULT CBaseFilter::Stop() {
    return SetState(State_Stopped, "IMediaFilter::Stop");
}

HRESULT CBaseFilter::Pause() {
    return SetState(State_Paused, "IMediaFilter::Pause");
}

HRESULT CBaseFilter::Run(REFERENCE_TIME) {
    return SetState(State_Running, "IMediaFilter::Run");
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (state == nullptr)
        return E_POINTER;
    *state = State();
    return S_OK;
}

FILTER_STATE CBaseFilter::State() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mState;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (clock != nullptr)
        clock->AddRef();
    if (mpClock != nullptr)
        mpClock->Release();
    mpClock = clock;
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (clock == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    *clock = mpClock;
    if (mpClock != nullptr)
        mpClock->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** pins) {
    if (pins == nullptr)
        return E_POINTER;
    HRESULT hr = Fault("IBaseFilter::EnumPins");
    if (FAILED(hr)) {
        *pins = nullptr;
        return hr;
    }
    std::vector<IPin*> list;
    for (int i = 0; i < GetPinCount(); ++i) {
        IPin* p = GetPin(i);
        p->AddRef();
        list.push_back(p);
    }
    *pins = new CEnumPins(std::move(list));
    return S_OK;
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (id == nullptr || pin == nullptr)
        return E_POINTER;
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin* p = GetPin(i);
        if (p->Name() == id) {
            p->AddRef();
            *pin = p;
            return S_OK;
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (info == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    CopyName(info->achName, sizeof info->achName / sizeof info->achName[0], mName);
    info->pGraph = mpGraph;
    if (mpGraph != nullptr)
        mpGraph->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    mpGraph = graph;
    mName = graph != nullptr && name != nullptr ? name : L"";
    return S_OK;
}

HRESULT CBaseFilter::GetClassID(CLSID* clsid) {
    if (clsid == nullptr)
        return E_POINTER;
    *clsid = mClsid;
    return S_OK;
}

std::wstring CBaseFilter::Name() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mName;
}

} // namespace os::dshow
