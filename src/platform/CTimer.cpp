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
        // The stop event and the trigger only: a Wake must not make the
        // timer fire early.
        const int which = CManualEvent::WaitTwoEvents(&mStopEvent, mpTrigger, mTimeout - elapsed);
        if (which == 0)
            return 0;
        if (which != 1 && timeGetTime() - mStart < mTimeout)
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
