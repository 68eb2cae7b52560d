// The enumerator objects of the graph (IEnumFilters) and of a filter
// (IEnumPins): a counted snapshot of the items when it was made, handed out
// one reference per item fetched.
//
// Threads: an enumerator belongs to the caller that asked for it; its count
// may be changed from any thread.
#pragma once

#include "os/dshow/DShow.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace os::dshow {

template <typename Interface, typename Item, const IID& kIid> class CComEnum : public Interface {
public:
    // Takes over one reference of each item.
    explicit CComEnum(std::vector<Item*> items) : mItems(std::move(items)) {}

    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == kIid)
            return ReturnInterface(this, static_cast<Interface*>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++mRefCount; }
    ULONG Release() override {
        ULONG n = --mRefCount;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT Next(ULONG count, Item** items, ULONG* fetched) override {
        if (items == nullptr)
            return E_POINTER;
        ULONG n = 0;
        while (n < count && mNext < mItems.size()) {
            items[n] = mItems[mNext++];
            items[n]->AddRef();
            ++n;
        }
        if (fetched != nullptr)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        mNext = std::min(mItems.size(), mNext + count);
        return mNext < mItems.size() ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        mNext = 0;
        return S_OK;
    }

private:
    ~CComEnum() override {
        for (Item* item : mItems)
            item->Release();
    }
    std::atomic<ULONG> mRefCount{1};
    std::vector<Item*> mItems; // counted
    size_t mNext = 0;
};

} // namespace os::dshow
