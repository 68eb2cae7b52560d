#include "pipeline/CDispatchWorker.h"

#include "platform/CLockWrap.h"
#include "platform/CMediaQueue.h"
#include "platform/Trace.h"

#include <algorithm>

using media_util::CLockWrap;
using media_util::CMediaObj;
using media_util::IMediaQueue;

CDispatchWorker::CDispatchWorker() {
    mConfigs.reserve(kConfigSlots);
    for (int i = 0; i < kConfigSlots; ++i)
        mConfigs.push_back(new CMediaObj);
}

CDispatchWorker::~CDispatchWorker() {
    Stop();
    SetInputQueue(nullptr);
    for (CMediaObj* config : mConfigs)
        delete config;
}

void CDispatchWorker::SetInputQueue(IMediaQueue* queue) {
    if (auto* old = dynamic_cast<media_util::CMediaQueue*>(mpInputQueue))
        old->SetNotifyEvent(nullptr);
    mpInputQueue = queue;
    mIdleWaitMs = kWaitTimeoutMs;
    // An object that arrives ends the worker's wait at once: dispatch adds
    // no latency of its own, and the time-out only needs to be a safety net.
    if (auto* notifying = dynamic_cast<media_util::CMediaQueue*>(queue)) {
        notifying->SetNotifyEvent(&mWakeEvent);
        mIdleWaitMs = kNotifiedWaitTimeoutMs;
    }
}

void CDispatchWorker::AddQueue(IMediaQueue* queue) {
    if (queue == nullptr)
        return;
    CLockWrap lock(mLock);
    if (std::find(mDestinations.begin(), mDestinations.end(), queue) != mDestinations.end())
        return;
    const int32_t channel = queue->mChannel.load();
    if (channel >= 0 && channel < kConfigSlots) {
        // A single-channel device's objects carry channel 0 and go to every
        // queue: so does their configuration, for a queue of any channel.
        const CMediaObj* config = mConfigs[channel]->mDataSize > 0 ? mConfigs[channel] : mConfigs[0];
        if (config->mDataSize > 0) {
            Offer(queue, *config);
            media_util::Trace("CDispatchWorker::AddQueue Enque VOL ch:%d\n", channel);
        }
    }
    mDestinations.push_back(queue);
    mQueueCount = static_cast<int32_t>(mDestinations.size());
}

void CDispatchWorker::RemoveQueue(IMediaQueue* queue) {
    if (queue == nullptr)
        return;
    CLockWrap lock(mLock);
    auto found = std::find(mDestinations.begin(), mDestinations.end(), queue);
    if (found == mDestinations.end())
        return;
    mDestinations.erase(found);
    mQueueCount = static_cast<int32_t>(mDestinations.size());
}

bool CDispatchWorker::Offer(IMediaQueue* queue, const CMediaObj& object) {
    CMediaObj* clone = object.CloneMeSharingContent();
    if (clone == nullptr)
        return false;
    if (queue->Enque(clone))
        return true;
    delete clone;
    return false;
}

int CDispatchWorker::Job() {
    if (mpInputQueue == nullptr) {
        mStopEvent.Set();
        return 0;
    }
    CMediaObj* object = mpInputQueue->Deque();
    if (object == nullptr) {
        // Nothing waiting: sleep until the receiver queues something (the
        // input queue signals the wake event) or the time-out.
        return media_util::CManualEvent::WaitTwoEvents(&mStopEvent, &mWakeEvent, mIdleWaitMs);
    }
    {
        CLockWrap lock(mLock);
        Dispatch(object);
        CacheConfig(*object);
    }
    delete object;
    ++mDispatched;
    return 1;
}

void CDispatchWorker::CacheConfig(const CMediaObj& object) {
    if (object.mFrameKind != media_util::kFrameKeyWithConfig || object.mVideoFormat == media_util::kVideoJpeg)
        return;
    CMediaObj* config = nullptr;
    if (CMediaObj::SplitVolAndIFrame(&object, &config) == 0 || config == nullptr)
        return;
    if (config->mChannelMask == 0) {
        const int channel = config->mChannel;
        if (channel >= 0 && channel < kConfigSlots) {
            delete mConfigs[channel];
            mConfigs[channel] = config;
        } else {
            delete config;
        }
        return;
    }
    for (int n = 1; n < kConfigSlots; ++n) {
        if ((config->mChannelMask & (1 << (n - 1))) == 0)
            continue;
        CMediaObj* copy = config->CloneMeWithNewContent();
        if (copy == nullptr)
            continue;
        copy->mChannel = n;
        delete mConfigs[n];
        mConfigs[n] = copy;
    }
    delete config;
}

bool CDispatchWorker::Accepts(IMediaQueue* queue, const CMediaObj& object) {
    if (object.mChannelMask == 0)
        return queue->IsChannelAsspect(object.mChannel);
    for (int n = 1; n < kConfigSlots; ++n)
        if ((object.mChannelMask & (1 << (n - 1))) != 0 && queue->IsChannelAsspect(n))
            return true;
    return false;
}

void CDispatchWorker::Dispatch(CMediaObj* object) {
    // An object for several channels reaches a queue once, unchanged.
    for (IMediaQueue* queue : mDestinations)
        if (queue->mInactive.load() == 0 && Accepts(queue, *object))
            Offer(queue, *object);
}
