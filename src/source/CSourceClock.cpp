#include "source/CSourceClock.h"

DWORD CSourceClock::Now() {
    return timeGetTime();
}

bool CSourceClock::WaitEvents(const media_util::CManualEvent* stop, const media_util::CManualEvent* owner,
                              DWORD milliseconds) {
    return media_util::CManualEvent::WaitTwoEvents(stop, owner, milliseconds) >= 0;
}

CSourceClock& CSourceClock::Instance() {
    static CSourceClock clock;
    return clock;
}
