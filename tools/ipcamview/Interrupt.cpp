#include "Interrupt.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {
// The exit code of a program ended by a second Ctrl-C, as shells report a
// process killed by SIGINT.
constexpr int kExitSecondSignal = 130;
} // namespace

CInterrupt& CInterrupt::Get() {
    // Never destroyed: its threads may still wait while the process exits.
    static CInterrupt* instance = new CInterrupt();
    return *instance;
}

CInterrupt::CInterrupt() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([this] { SignalLoop(); }).detach();
}

void CInterrupt::SignalLoop() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0)
            continue;
        if (mSignalled.exchange(true)) {
            // The second one: the user does not want to wait for anything.
            static const char kText[] = "ipcamview: interrupted again, ending now\n";
            (void)!::write(STDERR_FILENO, kText, sizeof kText - 1);
            _exit(kExitSecondSignal);
        }
        End();
    }
}

void CInterrupt::SetDeadline(DWORD milliseconds) {
    unsigned generation;
    {
        std::lock_guard<std::mutex> lock(mLock);
        generation = mGeneration;
    }
    std::thread([this, milliseconds, generation] { DeadlineLoop(milliseconds, generation); }).detach();
}

void CInterrupt::NextCommand() {
    std::lock_guard<std::mutex> lock(mLock);
    if (mSignalled)
        return;
    ++mGeneration;
    mDeadlinePassed = false;
    mEnd.Reset();
}

void CInterrupt::DeadlineLoop(DWORD milliseconds, unsigned generation) {
    const DWORD start = timeGetTime();
    while (!mEnd.Wait(std::min<DWORD>(milliseconds - std::min(milliseconds, timeGetTime() - start), 100))) {
        if (timeGetTime() - start < milliseconds) {
            std::lock_guard<std::mutex> lock(mLock);
            if (generation != mGeneration)
                return; // another command's time now
            continue;
        }
        std::lock_guard<std::mutex> lock(mLock);
        if (generation != mGeneration)
            return;
        mDeadlinePassed = true;
        mEnd.Set();
        if (mAction)
            mAction();
        return;
    }
}

void CInterrupt::End() {
    std::lock_guard<std::mutex> lock(mLock);
    mEnd.Set();
    if (mAction)
        mAction();
}

void CInterrupt::OnEnd(std::function<void()> action) {
    std::lock_guard<std::mutex> lock(mLock);
    mAction = std::move(action);
    if (mAction && mEnd.IsSignalled())
        mAction();
}
