#include "Interrupt.h"

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
    std::thread([this, milliseconds] { DeadlineLoop(milliseconds); }).detach();
}

void CInterrupt::DeadlineLoop(DWORD milliseconds) {
    if (mEnd.Wait(milliseconds))
        return; // ended otherwise first
    mDeadlinePassed = true;
    End();
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
