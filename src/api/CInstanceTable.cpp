#include "api/CInstanceTable.h"

#include "platform/CLockWrap.h"
#include "platform/CMediaObj.h"
#include "viewer/CViewer.h"

#include <memory>
#include <new>

CInstanceTable::~CInstanceTable() {
    ClearAllInstances();
}

int32_t CInstanceTable::Start(int32_t /*reserved1*/, int32_t transportKind, const char* address,
                              int32_t reserved2, const char* userName, const char* password,
                              int32_t* audioFlag, int32_t channel, int32_t preferredCodec) {
    std::unique_ptr<CViewer> viewer(new (std::nothrow) CViewer());
    std::unique_ptr<media_util::CManualEvent> event(new (std::nothrow) media_util::CManualEvent());
    if (!viewer || !event)
        return kInvalidHandle;
    viewer->SetInstanceEvent(event.get());

    media_util::CMediaObj params;
    params.mVideoFormat = preferredCodec;
    if (viewer->Open(transportKind, address, reserved2, userName, password, audioFlag, channel, &params) == 0)
        return kInvalidHandle;
    viewer->Arm();

    media_util::CLockWrap lock(mLock);
    int32_t handle;
    if (!mFreeHandles.empty()) {
        handle = mFreeHandles.back();
        mFreeHandles.pop_back();
        mEntries[static_cast<size_t>(handle)] = SEntry{viewer.release(), event.release()};
    } else {
        handle = static_cast<int32_t>(mEntries.size());
        mEntries.push_back(SEntry{viewer.get(), event.get()});
        viewer.release();
        event.release();
    }
    ++mLiveCount;
    return handle;
}

bool CInstanceTable::Stop(int32_t handle) {
    media_util::CLockWrap lock(mLock);
    if (handle < 0 || mEntries.empty() || static_cast<size_t>(handle) >= mEntries.size())
        return false;
    SEntry& entry = mEntries[static_cast<size_t>(handle)];
    if (entry.mpViewer == nullptr)
        return true;
    delete entry.mpViewer;
    delete entry.mpEvent;
    entry.mpViewer = nullptr;
    entry.mpEvent = nullptr;
    mFreeHandles.push_back(handle);
    if (--mLiveCount <= 0)
        ClearAllInstances();
    return true;
}

void CInstanceTable::ClearAllInstances() {
    for (SEntry& entry : mEntries) {
        delete entry.mpViewer;
        entry.mpViewer = nullptr;
        delete entry.mpEvent;
        entry.mpEvent = nullptr;
    }
    mEntries.clear();
    mFreeHandles.clear();
}

int32_t CInstanceTable::GetEntryCount() {
    media_util::CLockWrap lock(mLock);
    return static_cast<int32_t>(mEntries.size());
}

int32_t CInstanceTable::GetFreeCount() {
    media_util::CLockWrap lock(mLock);
    return static_cast<int32_t>(mFreeHandles.size());
}

int32_t CInstanceTable::GetLiveCount() {
    media_util::CLockWrap lock(mLock);
    return mLiveCount;
}
