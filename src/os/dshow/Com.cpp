#include "os/dshow/Com.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace os::dshow {
// Registers the filters of this layer (StandardFilters.cpp).
void RegisterStandardFilters();
} // namespace os::dshow

namespace {

struct SClass {
    GUID clsid;
    std::string name;
    os::dshow::ClassFactory factory;
    bool available = true;
    int requests = 0;
};

struct SFault {
    std::string call;
    std::wstring scope;
    HRESULT hr;
    int skip;
    int count; // < 0: no limit
};

struct SRegistry {
    std::mutex lock;
    std::vector<SClass> classes; // guarded by lock
    std::vector<SFault> faults;  // guarded by lock
};

SRegistry& Registry() {
    static SRegistry registry;
    return registry;
}

// Faults set now; the calls look at it before they take the lock.
std::atomic<int> gFaultCount{0};

std::once_flag gStandardOnce;

void EnsureStandardFilters() {
    std::call_once(gStandardOnce, [] { os::dshow::RegisterStandardFilters(); });
}

thread_local int tComInitCount = 0;

HRESULT MatchFault(const std::string& call, const wchar_t* scope) {
    if (gFaultCount.load(std::memory_order_acquire) == 0)
        return S_OK;
    SRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (SFault& f : r.faults) {
        if (f.call != call)
            continue;
        if (!f.scope.empty() && (scope == nullptr || f.scope != scope))
            continue;
        if (f.skip > 0) {
            --f.skip;
            return S_OK;
        }
        if (f.count == 0)
            continue;
        if (f.count > 0)
            --f.count;
        return f.hr;
    }
    return S_OK;
}

} // namespace

HRESULT CoInitialize(void* reserved) {
    return CoInitializeEx(reserved, 0);
}

HRESULT CoInitializeEx(void*, DWORD) {
    return tComInitCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (tComInitCount > 0)
        --tComInitCount;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    EnsureStandardFilters();
    os::dshow::ClassFactory factory = nullptr;
    std::string name;
    {
        SRegistry& r = Registry();
        std::lock_guard<std::mutex> guard(r.lock);
        for (SClass& c : r.classes) {
            if (c.clsid != clsid)
                continue;
            ++c.requests;
            if (c.available) {
                factory = c.factory;
                name = c.name;
            }
        }
    }
    if (factory == nullptr)
        return REGDB_E_CLASSNOTREG;
    HRESULT hr = MatchFault("CoCreateInstance(" + name + ")", nullptr);
    if (FAILED(hr))
        return hr;
    return factory(iid, out);
}

namespace os::dshow {

void RegisterComClass(REFCLSID clsid, const char* name, ClassFactory factory) {
    SRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (SClass& c : r.classes) {
        if (c.clsid == clsid) {
            c.name = name;
            c.factory = factory;
            return;
        }
    }
    r.classes.push_back(SClass{clsid, name, factory, true, 0});
}

bool IsComClassAvailable(REFCLSID clsid) {
    EnsureStandardFilters();
    SRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (const SClass& c : r.classes) {
        if (c.clsid == clsid)
            return c.available;
    }
    return false;
}

void SetComClassAvailable(REFCLSID clsid, bool available) {
    EnsureStandardFilters();
    SRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (SClass& c : r.classes) {
        if (c.clsid == clsid)
            c.available = available;
    }
}

void SetCallFault(const std::string& call, HRESULT hr, const std::wstring& scope, int skip, int count) {
    SRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.faults.push_back(SFault{call, scope, hr, skip, count});
    gFaultCount.store(static_cast<int>(r.faults.size()), std::memory_order_release);
}

void ClearTestSwitches() {
    EnsureStandardFilters();
    SRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.faults.clear();
    gFaultCount.store(0, std::memory_order_release);
    for (SClass& c : r.classes)
        c.available = true;
}

int ComClassRequests(REFCLSID clsid) {
    SRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (const SClass& c : r.classes) {
        if (c.clsid == clsid)
            return c.requests;
    }
    return 0;
}

HRESULT CheckCallFault(const char* call, const wchar_t* scope) {
    if (gFaultCount.load(std::memory_order_acquire) == 0)
        return S_OK;
    return MatchFault(call, scope);
}

HRESULT CheckQueryFault(const char* iidName, const wchar_t* scope) {
    if (gFaultCount.load(std::memory_order_acquire) == 0 || iidName == nullptr)
        return S_OK;
    return MatchFault(std::string("QueryInterface(") + iidName + ")", scope);
}

std::string GuidToString(REFGUID g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return text;
}

} // namespace os::dshow
