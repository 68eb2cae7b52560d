#include "platform/CThreadWorker.h"

#include <exception>

#include "platform/CLockWrap.h"
#include "platform/Trace.h"

namespace media_util {

CThreadWorker::CThreadWorker() = default;

CThreadWorker::~CThreadWorker() {
    // Last resort only: by now the subclass part is gone, so its owner must
    // have stopped the thread already.
    Stop();
}

int CThreadWorker::IsRunning() {
    return mStopEvent.IsSignalled() ? 0 : 1;
}

int CThreadWorker::Job() {
    return CManualEvent::WaitTwoEvents(&mWakeEvent, &mStopEvent, kDefaultJobWaitMs);
}

int CThreadWorker::Init() {
    return 1;
}

int CThreadWorker::Final() {
    return 1;
}

DWORD CThreadWorker::ThreadMain(LPVOID self) {
    static_cast<CThreadWorker*>(self)->Run();
    return 0;
}

void CThreadWorker::Run() {
    mThreadId = GetCurrentThreadId();
    try {
        Init();
        while (IsRunning()) {
            mWakeEvent.Reset();
            // A stop request between the check above and the reset would
            // have lost its wake; look again.
            if (!IsRunning())
                break;
            Job();
        }
    } catch (const std::exception& e) {
        // Nothing may escape a thread; a worker whose pass throws ends.
        Trace("CThreadWorker::Run exception: %s\n", e.what());
        NotifyStop();
    } catch (...) {
        Trace("CThreadWorker::Run unknown exception\n");
        NotifyStop();
    }
    try {
        Final();
    } catch (...) {
        Trace("CThreadWorker::Final threw\n");
    }
    mThreadId = 0;
    mWorking = false;
}

void CThreadWorker::JoinLocked() {
    if (m_hThread == nullptr)
        return;
    WaitForSingleObject(m_hThread, INFINITE);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
}

int CThreadWorker::Start() {
    if (mThreadId == GetCurrentThreadId())
        return 0; // a worker cannot wait for its own end
    CLockWrap lock(mThreadLock);
    if (m_hThread != nullptr) {
        if (mWorking && IsRunning())
            return 0;
        // Ended, or asked to stop and ending (Final may still be running):
        // collect it before its successor begins.
        JoinLocked();
    }
    mStopEvent.Reset();
    mWakeEvent.Reset();
    mWorking = true;
    m_hThread = CreateThread(nullptr, 0, &CThreadWorker::ThreadMain, this, 0, nullptr);
    if (m_hThread == nullptr) {
        mWorking = false;
        return 0;
    }
    return 1;
}

int CThreadWorker::Stop() {
    NotifyStop();
    if (mThreadId == GetCurrentThreadId())
        return 1; // on the worker thread: the loop ends after this pass
    CLockWrap lock(mThreadLock);
    JoinLocked();
    return 1;
}

void CThreadWorker::NotifyStop() {
    mStopEvent.Set();
    mWakeEvent.Set();
    OnStopRequested();
}

int CThreadWorker::ForceStart() {
    if (mThreadId == GetCurrentThreadId())
        return 0; // a worker cannot restart itself from its own thread
    Stop();
    return Start();
}

int CThreadWorker::IsThreadWorking() {
    return mWorking ? 1 : 0;
}

void CThreadWorker::Wake() {
    mWakeEvent.Set();
}

} // namespace media_util
