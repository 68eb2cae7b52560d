#include "platform/CTimer.h"

namespace media_util {

CTimer::CTimer(DWORD milliseconds) : mTimeout(milliseconds) {}

CTimer::~CTimer() {
    Stop();
}

int CTimer::Init() {
    mStart = timeGetTime();
    mFired = false;
    return 1;
}

int CTimer::Job() {
    DWORD elapsed = timeGetTime() - mStart;
    if (elapsed < mTimeout) {
        // Only the stop event: a Wake must not make the timer fire early.
        if (mStopEvent.Wait(mTimeout - elapsed))
            return 0;
        if (timeGetTime() - mStart < mTimeout)
            return 0; // woke early; the next pass waits the rest
    }
    if (!IsRunning())
        return 0;
    mFired = true;
    OnTimeout();
    NotifyStop();
    return 1;
}

void CTimer::OnTimeout() {}

} // namespace media_util
