// Base of every worker thread of the viewer (receivers, dispatchers, pacers,
// recorders, overlay and PTZ workers, the connect watchdog).
//
// A subclass overrides Job, and Init and Final where it needs them. Start
// runs, on a new thread: Init once, then Job over and over while the worker
// is running (its stop event not set), then Final. Job must end every pass
// with a bounded wait, normally on mWakeEvent or mStopEvent, so that a stop
// request is seen within one pass.
//
// Ownership: the owner of a worker stops it (Stop) before destroying it. A
// subclass destructor calls Stop first, while its own members still exist,
// because the thread calls its virtual operations.
//
// Threads: Start, Stop, ForceStart are called by the owner's thread;
// NotifyStop and Wake from any thread, the worker thread included;
// IsRunning and IsThreadWorking from any thread.
#pragma once

#include <atomic>

#include "os/kernel/Kernel.h"
#include "platform/CCritSection.h"
#include "platform/CManualEvent.h"

namespace media_util {

class CThreadWorker {
public:
    // The wait that the base Job makes, so that a worker without its own Job
    // does not spin.
    static constexpr DWORD kDefaultJobWaitMs = 10;

    CThreadWorker();
    virtual ~CThreadWorker();
    CThreadWorker(const CThreadWorker&) = delete;
    CThreadWorker& operator=(const CThreadWorker&) = delete;

    // Non-zero while the worker is meant to run: its stop event is not set.
    // True for a fresh worker whose thread has not been started yet.
    virtual int IsRunning();
    // One pass of the work. The result is the subclass's (the base loop does
    // not look at it). The base waits kDefaultJobWaitMs on the wake or stop event.
    virtual int Job();
    // Called once on the new thread before the first Job.
    virtual int Init();
    // Called once on the worker thread after the last Job.
    virtual int Final();

    // Starts the thread: resets the stop and wake events and creates the
    // thread. A previous thread that was asked to stop is waited for first.
    // 1 when a thread was started; 0 when a thread is working and was not
    // asked to stop (nothing changes), when called on the worker's own
    // thread, or when the thread could not be created.
    int Start();
    // Stops the thread and returns only after it has ended (Final included).
    // Called on the worker's own thread it cannot wait for itself: it then
    // only asks the loop to end, like NotifyStop. Safe to call again, and
    // on a worker that never started. Returns 1.
    int Stop();
    // Asks the loop to end after the current pass and returns at once. Calls
    // OnStopRequested on the calling thread.
    void NotifyStop();
    // Ends any thread (as Stop) and starts a fresh one, as Start. Used to
    // revive a worker that stopped itself.
    int ForceStart();
    // Non-zero while the thread exists and has not returned.
    int IsThreadWorking();
    // Ends the current or next wait of Job on mWakeEvent early.
    void Wake();

    // Set by Stop and NotifyStop; reset by Start. The loop ends once it is set.
    CManualEvent mStopEvent;
    // Set by Wake (and by stop requests, so that a wait on it ends too).
    // The loop resets it before each pass, so a wake that arrives during a
    // pass ends that pass's wait and one that arrives before is not lost.
    CManualEvent mWakeEvent;

protected:
    // Called by every stop request (NotifyStop, Stop, a source stopping
    // itself) right after the stop event is set, on the requesting thread: a
    // worker blocked in something its stop event does not reach (a read from
    // a device) breaks it off here. Must be safe from any thread and return
    // at once. The base does nothing.
    virtual void OnStopRequested() {}

private:
    static DWORD ThreadMain(LPVOID self);
    void Run();
    void JoinLocked();

    CCritSection mThreadLock;        // guards m_hThread across Start/Stop
    HANDLE m_hThread = nullptr;      // owned; guarded by mThreadLock
    std::atomic<DWORD> mThreadId{0}; // the worker thread's id while it runs
    // True from Start until the thread has finished Final. Kept apart from
    // the handle so that a Job may ask without the thread lock, which Stop
    // holds while it waits for the thread.
    std::atomic<bool> mWorking{false};
};

} // namespace media_util
