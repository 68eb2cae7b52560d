#include "pipeline/CFramePacer.h"

#include "platform/CLockWrap.h"
#include "render/CDirectShowRenderer.h"
#include "source/CSourceClock.h"

#include <cstdlib>

using media_util::CLockWrap;
using media_util::CMediaObj;

CFramePacer::CFramePacer() : mpClock(&CSourceClock::Instance()) {}

CFramePacer::~CFramePacer() {
    NotifyStop();
    if (mpAudioRenderer != nullptr)
        mpAudioRenderer->Stop();
    if (mpVideoRenderer != nullptr)
        mpVideoRenderer->Stop();
    Stop();
    CLockWrap lock(mLock);
    delete mpHeld;
    mpHeld = nullptr;
}

void CFramePacer::SetTargets(CDirectShowRenderer* video, CDirectShowRenderer* audio,
                             media_util::CManualEvent* channelEvent, media_util::IMediaQueue* input) {
    mpVideoRenderer = video;
    mpAudioRenderer = audio;
    mpChannelEvent = channelEvent;
    mpInputQueue = input;
}

void CFramePacer::SetClock(ISourceClock* clock) {
    mpClock = clock != nullptr ? clock : &CSourceClock::Instance();
}

int CFramePacer::Job() {
    if (mpInputQueue == nullptr) {
        NotifyStop();
        return 0;
    }
    if (!IsRunning())
        return 0;
    try {
        return Step(true) ? 1 : 0;
    } catch (...) {
        // Whatever showing one object threw, the next pass goes on.
        return 0;
    }
}

DWORD CFramePacer::ComputeWait(const CMediaObj& object) {
    if (object.mAudioFormat != 0)
        return kAudioWaitMs;
    if (object.mFrameRate == 0)
        return kIdleWaitMs;
    const DWORD now = mpClock->Now();
    // How late this frame is against the time it was due (unsigned: a
    // frame before its time counts as very late, as the first one does).
    const DWORD late = now - mDueTime.load();
    mDueTime = now;
    const DWORD interval = 1000000u / static_cast<DWORD>(std::abs(object.mFrameRate));
    if (interval <= late) {
        ++mLate;
        return kLateWaitMs;
    }
    DWORD wait = interval - late;
    if (mCatchUp.load() != 0 && mpInputQueue->GetCount() > kCatchUpQueued)
        wait = 2 * wait / 3;
    mDueTime = now + wait;
    return wait;
}

bool CFramePacer::Step(bool wait) {
    DWORD waitMs = kIdleWaitMs;
    CMediaObj* object = mpInputQueue->Deque();
    if (object != nullptr) {
        ++mTaken;
        // A decoded picture counts the stream's bytes it came from.
        mTakenBytes += object->mByteCount > 0 ? static_cast<uint64_t>(object->mByteCount)
                                              : static_cast<uint64_t>(object->mDataLength) +
                                                    static_cast<uint64_t>(object->mDataLength2);
        const bool video = object->mVideoFormat != 0;
        if (video && (object->mFrameKind == media_util::kFrameKey ||
                      object->mFrameKind == media_util::kFrameKeyWithConfig ||
                      object->mVideoFormat == media_util::kVideoJpeg))
            ++mKeyFrames;
        if (!video || object->mFrameNumber >= 0) {
            if (video && IsRunning() && mpVideoRenderer != nullptr && mpVideoRenderer->IsStarted() &&
                mpVideoRenderer->Push(object) != 0) {
                if (mShown.load() == 0)
                    mFirstShownAt = mpClock->Now();
                ++mShown;
            }
            waitMs = ComputeWait(*object);
        }
        if (video) {
            CLockWrap lock(mLock);
            delete mpHeld;
            mpHeld = object;
        } else {
            delete object;
        }
    }
    mLastWait = waitMs;
    if (wait && mpClock->WaitEvents(&mStopEvent, mpChannelEvent, waitMs))
        NotifyStop();
    return object != nullptr;
}

CMediaObj* CFramePacer::CloneHeldObject() {
    CLockWrap lock(mLock);
    return mpHeld != nullptr ? mpHeld->CloneMeSharingContent() : nullptr;
}
