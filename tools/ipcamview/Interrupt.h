// Ctrl-C, SIGTERM and --duration, as one thing: the end the user asked for.
//
// Install blocks SIGINT and SIGTERM in the calling thread (main, before any
// other thread exists, so that every thread inherits the mask) and waits for
// them on a thread of its own, where it is safe to do real work: the first
// signal marks the program interrupted, signals the event and runs the
// action the current command registered (stopping a receiver, abandoning an
// open); a second one ends the process at once (exit code 130). A deadline
// (--duration) does the same as the first signal when its time comes.
#pragma once

#include "platform/CManualEvent.h"

#include <atomic>
#include <functional>
#include <mutex>

class CInterrupt {
public:
    // The process's one instance; installs the signal thread on first use.
    static CInterrupt& Get();

    // The action run (on the signal or deadline thread) when the end comes.
    // Replaces the previous one; an empty function removes it. When the end
    // has come already, the action runs at once on the calling thread.
    void OnEnd(std::function<void()> action);
    // Starts the deadline: the end comes `milliseconds` from now.
    void SetDeadline(DWORD milliseconds);
    // Before another command of the same process (the demo runs several):
    // a passed deadline is forgotten, and one still running no longer
    // counts. An interruption by the user stays.
    void NextCommand();

    // The user interrupted (a signal), or the deadline passed.
    bool Interrupted() const { return mSignalled.load(); }
    bool DeadlinePassed() const { return mDeadlinePassed.load(); }
    bool Ended() const { return Interrupted() || DeadlinePassed(); }
    // Signalled once the end has come; wait on it instead of sleeping.
    const media_util::CManualEvent& EndEvent() const { return mEnd; }

private:
    CInterrupt();
    void End();
    void SignalLoop();
    void DeadlineLoop(DWORD milliseconds, unsigned generation);

    std::atomic<bool> mSignalled{false};
    std::atomic<bool> mDeadlinePassed{false};
    media_util::CManualEvent mEnd;
    std::mutex mLock; // guards mAction and its calls
    std::function<void()> mAction;
    unsigned mGeneration = 0; // guarded by mLock: which command's deadline counts
};
