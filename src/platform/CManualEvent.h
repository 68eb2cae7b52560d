// A manual-reset event: once set it stays signalled, releasing every waiter,
// until it is reset.
//
// Workers end their passes with bounded waits on these (stop, wake, settings,
// owner events), so that a stop request ends any wait at once instead of
// after a sleep.
//
// The kernel handle is public because some owners signal it themselves
// (SetEvent/ResetEvent on m_hEvent); they then write the state word to match.
// Set and Reset keep the state word in step on their own.
#pragma once

#include <atomic>

#include "os/kernel/Kernel.h"
#include "platform/CCritSection.h"

namespace media_util {

class CManualEvent {
public:
    // State word values.
    static constexpr LONG kNotSignalled = 1;
    static constexpr LONG kSignalled = 0;
    // Result of the multi-event waits when no event was signalled in time.
    static constexpr int kWaitTimeout = -1;
    // Result of the multi-event waits when the kernel refused the wait.
    static constexpr int kWaitFailed = -2;

    // Not signalled at construction.
    CManualEvent();
    ~CManualEvent();
    CManualEvent(const CManualEvent&) = delete;
    CManualEvent& operator=(const CManualEvent&) = delete;

    // Signals the event and sets the state word to kSignalled. Non-zero on success.
    int Set();
    // Clears the event and sets the state word to kNotSignalled. Non-zero on success.
    int Reset();
    // Non-zero when the event is signalled now (asks the kernel, not the word).
    int IsSignalled() const;

    // Waits up to milliseconds (INFINITE for no limit); non-zero when signalled.
    int Wait(DWORD milliseconds) const;

    // Waits on a and b. Non-zero only when a was signalled (when both are,
    // a counts); 0 when b was signalled or the time ran out. A null event
    // is left out of the wait.
    static int WaitFirstEvents(const CManualEvent* a, const CManualEvent* b, DWORD milliseconds);
    // Index (0, 1 or 2, in argument order) of a signalled event, the lowest
    // when several are signalled; kWaitTimeout when none was signalled in
    // time. Null events are left out; with no event at all the call waits
    // out the time (returns at once for INFINITE) and reports kWaitTimeout.
    static int WaitTwoEvents(const CManualEvent* a, const CManualEvent* b, DWORD milliseconds);
    static int WaitThreeEvents(const CManualEvent* a, const CManualEvent* b, const CManualEvent* c,
                               DWORD milliseconds);

    // The kernel event; owned, closed by the destructor.
    HANDLE m_hEvent;
    // kNotSignalled or kSignalled. Atomic because the setting thread and the
    // reading thread are usually different.
    std::atomic<LONG> mState;

private:
    // Makes the handle change and the word change one step, so that a Set
    // racing a Reset on another thread cannot leave them disagreeing.
    CCritSection mStateLock;

    static int WaitMany(const CManualEvent* const* events, int count, DWORD milliseconds);
};

} // namespace media_util
