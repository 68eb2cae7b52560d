#include "pipeline/CSourceTable.h"

#include "pipeline/CDecodedSource.h"
#include "pipeline/CLiveSource.h"
#include "platform/CLockWrap.h"

#include <mutex>

using media_util::CLockWrap;

namespace {
std::mutex gInstanceLock;
CSourceTable* gpInstance = nullptr; // guarded by gInstanceLock
} // namespace

CSourceTable& CSourceTable::Instance() {
    std::lock_guard<std::mutex> lock(gInstanceLock);
    if (gpInstance == nullptr)
        gpInstance = new CSourceTable();
    return *gpInstance;
}

void CSourceTable::DestroyInstance() {
    std::lock_guard<std::mutex> lock(gInstanceLock);
    delete gpInstance;
    gpInstance = nullptr;
}

CSourceTable::~CSourceTable() {
    CLockWrap lock(mLock);
    DestroyAll();
}

void CSourceTable::DestroyAll() {
    // A decoded source unregisters its inner source while it goes, which
    // may empty the table under us: take the sources out first. Every
    // thread stops before anything is destroyed, so that no dispatcher still
    // delivers into the queue of a source already gone.
    std::vector<CSharedSource*> doomed;
    doomed.swap(mSlots);
    mFreeSlots.clear();
    mLiveCount = 0;
    for (CSharedSource* source : doomed)
        if (source != nullptr)
            source->Stop();
    for (CSharedSource* source : doomed)
        delete source;
    mSlots.clear();
    mFreeSlots.clear();
    mLiveCount = 0;
}

CSharedSource* CSourceTable::CreateSource(int type, const CSourceDesc& desc, const CVideoDecoder* spec) {
    if (type == CSharedSource::kTypeLive)
        return new CLiveSource(desc);
    if (type == CSharedSource::kTypeDecoded) {
        auto* decoded = new CDecodedSource(desc, *this);
        decoded->SetDecodeSpec(spec);
        return decoded;
    }
    return nullptr;
}

int CSourceTable::Register(CSourceDesc* desc, bool share, int type, const CVideoDecoder* spec) {
    if (desc == nullptr || desc->mpQueue == nullptr)
        return -1;
    CLockWrap lock(mLock);
    int slot = -1;
    if (share) {
        for (size_t i = 0; i < mSlots.size(); ++i) {
            if (mSlots[i] != nullptr && mSlots[i]->GetType() == type && mSlots[i]->Matches(*desc)) {
                slot = static_cast<int>(i);
                break;
            }
        }
    }
    if (slot < 0) {
        CSharedSource* source = CreateSource(type, *desc, spec);
        if (source == nullptr)
            return -1;
        if (!mFreeSlots.empty()) {
            slot = mFreeSlots.back();
            mFreeSlots.pop_back();
            mSlots[static_cast<size_t>(slot)] = source;
        } else {
            mSlots.push_back(source);
            slot = static_cast<int>(mSlots.size()) - 1;
        }
        ++mLiveCount;
        source->Start();
        source->SetDesc(*desc);
    }
    desc->mSlot = slot;
    if (CDispatchWorker* dispatcher = mSlots[static_cast<size_t>(slot)]->GetDispatcher())
        dispatcher->AddQueue(desc->mpQueue);
    return slot;
}

int CSourceTable::Unregister(int slot, media_util::IMediaQueue* queue) {
    CLockWrap lock(mLock);
    if (slot < 0 || static_cast<size_t>(slot) >= mSlots.size() || queue == nullptr)
        return 0;
    CSharedSource* source = mSlots[static_cast<size_t>(slot)];
    if (source == nullptr)
        return 1;
    CDispatchWorker* dispatcher = source->GetDispatcher();
    if (dispatcher != nullptr)
        dispatcher->RemoveQueue(queue);
    if (dispatcher == nullptr || dispatcher->GetQueueCount() < 1) {
        // Emptied first: a decoded source unregisters its inner source
        // while it is destroyed, and must not find itself in the table.
        mSlots[static_cast<size_t>(slot)] = nullptr;
        mFreeSlots.push_back(slot);
        --mLiveCount;
        delete source;
        if (mLiveCount < 1)
            DestroyAll();
    }
    return 1;
}

int CSourceTable::EnsureRunning(int slot) {
    CLockWrap lock(mLock);
    if (slot < 0 || static_cast<size_t>(slot) >= mSlots.size() ||
        mSlots[static_cast<size_t>(slot)] == nullptr)
        return 0;
    return mSlots[static_cast<size_t>(slot)]->EnsureRunning() ? 1 : 0;
}

int CSourceTable::GetLiveCount() {
    CLockWrap lock(mLock);
    return mLiveCount;
}

int CSourceTable::GetSlotCount() {
    CLockWrap lock(mLock);
    return static_cast<int>(mSlots.size());
}
