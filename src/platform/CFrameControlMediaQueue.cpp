#include "platform/CFrameControlMediaQueue.h"

namespace media_util {

CFrameControlMediaQueue::CFrameControlMediaQueue() : CMediaQueue(kDefaultLimit) {}

CFrameControlMediaQueue::CFrameControlMediaQueue(int32_t limit) : CMediaQueue(limit) {}

CMediaObj* CFrameControlMediaQueue::Deque() {
    CMediaObj* object = CMediaQueue::Deque();
    if (object != nullptr)
        mFrameControl.Pace(object, GetCount());
    return object;
}

} // namespace media_util
