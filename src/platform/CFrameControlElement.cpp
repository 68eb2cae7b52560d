#include "platform/CFrameControlElement.h"

namespace media_util {

CFrameControlElement::CFrameControlElement() {
    mStopEvent.Set();
}

void CFrameControlElement::StartWork() {
    mRestart = true;
    mStopEvent.Reset();
    mWorking = true;
}

void CFrameControlElement::StopWork() {
    mWorking = false;
    mStopEvent.Set();
}

void CFrameControlElement::SetUseSleep(int useSleep) {
    mUseSleep = useSleep != 0;
}

DWORD CFrameControlElement::NextDelay(DWORD now, const CMediaObj* object, int32_t backlog) {
    if (!mWorking || object == nullptr)
        return 0;
    ++mFramesPaced;
    if (mRestart.exchange(false))
        mHaveLast = false;
    if (object->mVideoFormat == kVideoNone)
        return 0;
    DWORD delay = 0;
    DWORD frameTime = DWORD(CMediaObj::GetFrameTime(object->mFrameRate));
    if (mUseSleep && mHaveLast && frameTime > 0 && backlog <= kBacklogNoSleep) {
        DWORD since = now - mLastOut; // wraps correctly
        if (since < frameTime)
            delay = frameTime - since;
        if (delay > kMaxSleepMs)
            delay = kMaxSleepMs;
    }
    mHaveLast = true;
    mLastOut = now + delay;
    return delay;
}

void CFrameControlElement::Pace(const CMediaObj* object, int32_t backlog) {
    DWORD delay = NextDelay(timeGetTime(), object, backlog);
    if (delay > 0)
        mStopEvent.Wait(delay);
}

} // namespace media_util
