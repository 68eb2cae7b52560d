#include "platform/CMediaQueue.h"

#include "platform/CLockWrap.h"

namespace media_util {

CMediaQueue::CMediaQueue() : CMediaQueue(kDefaultLimit) {}

CMediaQueue::CMediaQueue(int32_t limit) : mLimit(limit) {}

CMediaQueue::~CMediaQueue() {
    Clear();
}

bool CMediaQueue::Enque(CMediaObj* object) {
    if (object == nullptr)
        return false;
    CLockWrap lock(mLock);
    if (mInactive != 0 || int64_t(mObjects.size()) >= int64_t(mLimit)) {
        ++mDropCount;
        return false;
    }
    mObjects.push_back(object);
    if (mpNotifyEvent != nullptr)
        mpNotifyEvent->Set();
    return true;
}

CMediaObj* CMediaQueue::Deque() {
    CLockWrap lock(mLock);
    if (mObjects.empty())
        return nullptr;
    CMediaObj* object = mObjects.front();
    mObjects.pop_front();
    return object;
}

void CMediaQueue::Clear() {
    std::deque<CMediaObj*> doomed;
    {
        CLockWrap lock(mLock);
        doomed.swap(mObjects);
    }
    for (CMediaObj* object : doomed)
        delete object;
}

bool CMediaQueue::IsChannelAsspect(int32_t channel) {
    const int32_t mine = mChannel;
    if (mine < 0 || channel < 0 || channel > CMediaObj::kMaxChannel)
        return false;
    return mine == 0 || channel == 0 || channel == mine;
}

int32_t CMediaQueue::GetCount() {
    CLockWrap lock(mLock);
    return int32_t(mObjects.size());
}

void CMediaQueue::SetNotifyEvent(CManualEvent* event) {
    CLockWrap lock(mLock);
    mpNotifyEvent = event;
}

} // namespace media_util
