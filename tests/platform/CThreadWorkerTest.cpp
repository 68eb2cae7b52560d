#include "platform/CThreadWorker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using media_util::CManualEvent;
using media_util::CThreadWorker;

namespace {

constexpr DWORD kDeadlineMs = 10000;

// Logs Init and Final in order; Job can be told to stop the worker from
// inside after some passes, or to throw.
class RecordingWorker : public CThreadWorker {
public:
    enum class JobAction { Wait, NotifyStopAfter, StopAfter, Throw };

    explicit RecordingWorker(JobAction action = JobAction::Wait, int passes = 1)
        : mAction(action), mPasses(passes) {}
    ~RecordingWorker() override { Stop(); }

    int Init() override { return Log("Init"); }
    int Job() override {
        const bool last = ++mJobs >= mPasses;
        mJobRan.Set();
        if (mAction == JobAction::Throw)
            throw std::runtime_error("bad frame");
        if (last && mAction == JobAction::NotifyStopAfter)
            NotifyStop();
        if (last && mAction == JobAction::StopAfter)
            Stop(); // on its own thread: must not wait for itself
        return CManualEvent::WaitTwoEvents(&mWakeEvent, &mStopEvent, INFINITE);
    }
    int Final() override { return Log("Final") && mFinalRan.Set(); }
    std::string Events() {
        std::lock_guard<std::mutex> lock(mLogLock);
        return mLog;
    }

    std::atomic<int> mJobs{0};
    CManualEvent mJobRan, mFinalRan;

private:
    int Log(const char* what) {
        std::lock_guard<std::mutex> lock(mLogLock);
        mLog += what;
        return 1;
    }
    const JobAction mAction;
    const int mPasses;
    std::mutex mLogLock;
    std::string mLog; // guarded by mLogLock
};

} // namespace

TEST(CThreadWorkerTest, StopReturnsOnlyAfterFinalRan) {
    RecordingWorker worker;
    ASSERT_EQ(1, worker.Start());
    ASSERT_TRUE(worker.mJobRan.Wait(kDeadlineMs));
    EXPECT_EQ(1, worker.IsThreadWorking());
    EXPECT_EQ(0, worker.Start()) << "a second Start while working changes nothing";
    // Each pass waits, without limit, until woken.
    for (int pass = 2; pass <= 3; ++pass) {
        worker.mJobRan.Reset();
        worker.Wake();
        ASSERT_TRUE(worker.mJobRan.Wait(kDeadlineMs));
        EXPECT_EQ(pass, worker.mJobs.load());
    }
    EXPECT_EQ(1, worker.Stop());
    // No waiting here: Stop promised the thread had ended.
    EXPECT_EQ(1, worker.mFinalRan.IsSignalled());
    EXPECT_EQ(0, worker.IsThreadWorking());
    EXPECT_EQ(0, worker.IsRunning());
    EXPECT_EQ("InitFinal", worker.Events());
    EXPECT_EQ(1, worker.Stop()) << "a second Stop is harmless";

    RecordingWorker never;
    EXPECT_EQ(1, never.Stop());
    EXPECT_EQ("", never.Events());
}

TEST(CThreadWorkerTest, WorkerThatEndsItselfRunsFinalAndCanBeStoppedAfter) {
    struct Case {
        const char* name;
        RecordingWorker::JobAction action;
        int passes;
    } cases[] = {
        {"NotifyStop in the first pass", RecordingWorker::JobAction::NotifyStopAfter, 1},
        {"NotifyStop in the third pass", RecordingWorker::JobAction::NotifyStopAfter, 3},
        {"Stop from inside", RecordingWorker::JobAction::StopAfter, 1},
        {"Job throws", RecordingWorker::JobAction::Throw, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingWorker worker(c.action, c.passes);
        ASSERT_EQ(1, worker.Start());
        // Passes after the first come from Wake; the stop request ends the loop.
        while (!worker.mFinalRan.IsSignalled() && worker.mJobs.load() < c.passes) {
            worker.mJobRan.Wait(kDeadlineMs);
            worker.mJobRan.Reset();
            worker.Wake();
        }
        ASSERT_TRUE(worker.mFinalRan.Wait(kDeadlineMs));
        EXPECT_EQ(0, worker.IsRunning());
        EXPECT_EQ(1, worker.Stop()) << "Stop after the end only collects the thread";
        EXPECT_EQ(0, worker.IsThreadWorking());
        EXPECT_EQ("InitFinal", worker.Events());
        EXPECT_EQ(c.passes, worker.mJobs.load());
    }
}

TEST(CThreadWorkerTest, StartAndForceStartReviveTheWorker) {
    RecordingWorker ended(RecordingWorker::JobAction::NotifyStopAfter, 1);
    ASSERT_EQ(1, ended.Start());
    // The thread ended by itself: ForceStart, then Start, each run Init again on a new thread.
    for (int (CThreadWorker::*start)() : {&CThreadWorker::ForceStart, &CThreadWorker::Start}) {
        ASSERT_TRUE(ended.mFinalRan.Wait(kDeadlineMs));
        ended.mFinalRan.Reset();
        ASSERT_EQ(1, (ended.*start)());
    }
    ASSERT_TRUE(ended.mFinalRan.Wait(kDeadlineMs));
    ended.Stop();
    EXPECT_EQ("InitFinalInitFinalInitFinal", ended.Events());

    RecordingWorker running;
    ASSERT_EQ(1, running.Start());
    ASSERT_TRUE(running.mJobRan.Wait(kDeadlineMs));
    ASSERT_EQ(1, running.ForceStart());
    EXPECT_EQ(1, running.IsThreadWorking());
    running.Stop();
    EXPECT_EQ("InitFinalInitFinal", running.Events()) << "the old thread ended before the new one began";
}

TEST(CThreadWorkerTest, EveryConcurrentStopReturnsAfterTheEnd) {
    for (int round = 0; round < 20; ++round) {
        RecordingWorker worker;
        ASSERT_EQ(1, worker.Start());
        ASSERT_TRUE(worker.mJobRan.Wait(kDeadlineMs));
        std::atomic<int> endedFirst{0};
        auto stopper = [&] {
            worker.Stop();
            if (worker.mFinalRan.IsSignalled())
                ++endedFirst;
        };
        std::thread a(stopper), b(stopper);
        a.join();
        b.join();
        EXPECT_EQ(2, endedFirst.load()) << "round " << round;
    }
}
