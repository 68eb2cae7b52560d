// Time as the media sources see it: the millisecond clock that decides
// reconnect delays, polling intervals and JPEG spacing, and the waits on a
// source's stop events. Real sources use CSourceClock; tests put in a clock
// whose waits return at once and move its time forward, so that delays of
// seconds are checked without sleeping.
//
// Threads: called by the source's worker thread only (or by the thread that
// drives a source's passes in a test).
#pragma once

#include "os/kernel/Kernel.h"
#include "platform/CManualEvent.h"

class ISourceClock {
public:
    virtual ~ISourceClock() = default;
    // timeGetTime milliseconds (wrapping; take differences in DWORD).
    virtual DWORD Now() = 0;
    // Waits up to milliseconds for either event (a null event is left out).
    // True when one was signalled, false when the time ran out.
    virtual bool WaitEvents(const media_util::CManualEvent* stop, const media_util::CManualEvent* owner,
                            DWORD milliseconds) = 0;
};
