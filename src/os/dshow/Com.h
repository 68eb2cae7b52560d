// The part of COM that the video and audio renderers are written against:
// result codes, class and interface identifiers, IUnknown reference counting,
// per-thread initialisation and CoCreateInstance over a table of the classes
// this process provides (the standard DirectShow filters of this layer and
// the push source filter, which registers itself).
//
// Tests reach every failure path of the code above through two switches:
// a class can be made unavailable (CoCreateInstance then fails as for a
// class that is not registered) and any named call of this layer can be made
// to fail with a chosen result (see SetCallFault). In normal use neither is
// set and both checks are a lock-free test of one counter.
//
// Threads: everything here may be called from any thread.
#pragma once

#include "os/kernel/Kernel.h"

#include <cstdint>
#include <string>

// The same alias as os/dshow/MixerBitmap.h uses.
using HRESULT = LONG;
using ULONG = uint32_t;

constexpr HRESULT MakeHResult(uint32_t code) {
    return static_cast<HRESULT>(code);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003u);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154u);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

// CoCreateInstance contexts; only in-process servers exist here.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

inline bool operator==(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i])
            return false;
    }
    return true;
}
inline bool operator!=(REFGUID a, REFGUID b) {
    return !(a == b);
}
inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}

extern const GUID GUID_NULL;
extern const IID IID_IUnknown;

// Reference-counted interface base. Objects delete themselves when their
// count reaches zero; nobody deletes them through an interface pointer.
class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// S_OK for the first call on a thread, S_FALSE for every further one; each
// call needs a CoUninitialize. CoCreateInstance does not insist on it (the
// renderers of one channel may be started from another thread than the one
// that made them, and an apartment model would only get in the way here).
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();

// Creates an instance of a registered class and queries it for iid. Results:
// S_OK; E_POINTER for a null out; CLASS_E_NOAGGREGATION for an outer
// object; REGDB_E_CLASSNOTREG for an unknown or switched-off class; the
// class's own failure, or E_NOINTERFACE when it lacks iid.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** out);

namespace os::dshow {

// Makes a new object of a class and queries it for iid (the factory's own
// reference is dropped afterwards, so *out holds the only one).
using ClassFactory = HRESULT (*)(REFIID iid, void** out);

// Adds or replaces a class. name is what tests and traces call it
// ("CLSID_VideoMixingRenderer9"). The standard filters of this layer are
// registered before the first CoCreateInstance.
void RegisterComClass(REFCLSID clsid, const char* name, ClassFactory factory);
// Whether a class is registered and available now.
bool IsComClassAvailable(REFCLSID clsid);

// --- Test switches ---

// Makes a class unavailable (as on a system without that filter) or
// available again.
void SetComClassAvailable(REFCLSID clsid, bool available);

// Makes the named call fail with hr. call is "Interface::Method" as the
// interface declares it ("IVMRFilterConfig9::SetRenderingMode"), or
// "QueryInterface(IID_IVideoWindow)" for a query of that interface on any
// object of this layer. scope, when not empty, limits the fault to calls
// made on the filter of that name in its graph (or on its pins), or, for
// the graph's own calls, on the filter the call is about (the downstream
// filter of a Connect). The first skip matching calls go through; then the
// next count fail (count < 0: every one).
void SetCallFault(const std::string& call, HRESULT hr, const std::wstring& scope = L"", int skip = 0,
                  int count = -1);
// Removes every fault and makes every class available again.
void ClearTestSwitches();
// How many times CoCreateInstance was asked for the class (available or not)
// since the start of the process: tests see which renderers were tried.
int ComClassRequests(REFCLSID clsid);

// Called by the layer at the start of every named call: S_OK, or the
// injected result. scope is the filter's name in its graph (may be null).
HRESULT CheckCallFault(const char* call, const wchar_t* scope = nullptr);
// Same, for QueryInterface of the identifier named iidName ("IID_IVideoWindow").
HRESULT CheckQueryFault(const char* iidName, const wchar_t* scope = nullptr);

// "{6BC1CFFA-8FC1-4261-AC22-CFB4CC38DB50}".
std::string GuidToString(REFGUID guid);

} // namespace os::dshow
