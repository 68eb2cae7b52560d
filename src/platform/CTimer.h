// A one-shot timer thread: OnTimeout runs once on the timer's thread when
// the time has passed since Start, unless Stop came first. The connect
// watchdog closes a socket whose connect takes too long with it.
//
// Stop returns after the thread has ended, so once it returns OnTimeout is
// either finished or will never run.
#pragma once

#include "platform/CThreadWorker.h"

namespace media_util {

class CTimer : public CThreadWorker {
public:
    explicit CTimer(DWORD milliseconds);
    ~CTimer() override;

    int Job() override;
    int Init() override;
    // The expiry operation; the base does nothing.
    virtual void OnTimeout();

    DWORD GetTimeout() const { return mTimeout; }
    // An event (not owned; null for none) that makes the timer fire at once
    // when it is signalled before the time has passed: a watchdog that must
    // also act on its owner's cancel. Set before Start.
    void SetTriggerEvent(const CManualEvent* event) { mpTrigger = event; }
    // Non-zero once OnTimeout has been called.
    int HasFired() const { return mFired.load() ? 1 : 0; }

private:
    const DWORD mTimeout;
    const CManualEvent* mpTrigger = nullptr; // not owned
    DWORD mStart = 0;                        // worker thread only
    std::atomic<bool> mFired{false};
};

} // namespace media_util
