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
    const int64_t bytes = BytesOf(*object);
    if (mInactive != 0 || int64_t(mObjects.size()) >= int64_t(mLimit) ||
        (!mObjects.empty() && mBytes + bytes > mByteLimit)) {
        ++mDropCount;
        return false;
    }
    mObjects.push_back(object);
    mBytes += bytes;
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
    mBytes = mObjects.empty() ? 0 : mBytes - BytesOf(*object);
    return object;
}

void CMediaQueue::Clear() {
    std::deque<CMediaObj*> doomed;
    {
        CLockWrap lock(mLock);
        doomed.swap(mObjects);
        mBytes = 0;
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

int64_t CMediaQueue::BytesOf(const CMediaObj& object) {
    return int64_t(object.mDataLength > 0 ? object.mDataLength : 0) +
           int64_t(object.mDataLength2 > 0 ? object.mDataLength2 : 0);
}

void CMediaQueue::SetByteLimit(int64_t bytes) {
    CLockWrap lock(mLock);
    mByteLimit = bytes;
}

int64_t CMediaQueue::GetByteLimit() {
    CLockWrap lock(mLock);
    return mByteLimit;
}

int64_t CMediaQueue::GetBytes() {
    CLockWrap lock(mLock);
    return mBytes;
}

void CMediaQueue::SetNotifyEvent(CManualEvent* event) {
    CLockWrap lock(mLock);
    mpNotifyEvent = event;
}

} // namespace media_util
