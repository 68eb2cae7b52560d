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

// Records the order of its callbacks; Job can be told to stop the worker
// from inside, to throw, or to wait for a wake.
class RecordingWorker : public CThreadWorker {
public:
    enum class JobAction { Wait, NotifyStopAfter, StopAfter, Throw };

    explicit RecordingWorker(JobAction action = JobAction::Wait, int passes = 1)
        : mAction(action), mPasses(passes) {}
    ~RecordingWorker() override { Stop(); }

    int Init() override {
        Log("Init");
        ++mInits;
        mRunPasses = 0;
        return 1;
    }
    int Job() override {
        int pass = ++mJobs;
        if (++mRunPasses == 1)
            Log("Job");
        mJobRan.Set();
        switch (mAction) {
        case JobAction::NotifyStopAfter:
            if (pass >= mPasses)
                NotifyStop();
            break;
        case JobAction::StopAfter:
            if (pass >= mPasses)
                Stop(); // on its own thread: must not wait for itself
            break;
        case JobAction::Throw:
            throw std::runtime_error("bad frame");
        case JobAction::Wait:
            break;
        }
        return CManualEvent::WaitTwoEvents(&mWakeEvent, &mStopEvent, INFINITE);
    }
    int Final() override {
        Log("Final");
        mFinalRan.Set();
        return 1;
    }

    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mLogLock);
        return mLog;
    }

    std::atomic<int> mInits{0};
    std::atomic<int> mJobs{0};
    CManualEvent mJobRan;
    CManualEvent mFinalRan;

private:
    void Log(const char* what) {
        std::lock_guard<std::mutex> lock(mLogLock);
        mLog.push_back(what);
    }
    JobAction mAction;
    int mPasses;
    int mRunPasses = 0; // worker thread only
    std::mutex mLogLock;
    std::vector<std::string> mLog;
};

const std::vector<std::string> kFullRun = {"Init", "Job", "Final"};

} // namespace

TEST(CThreadWorkerTest, StopReturnsOnlyAfterFinalRan) {
    RecordingWorker worker;
    EXPECT_EQ(1, worker.IsRunning()) << "a fresh worker counts as running until stopped";
    EXPECT_EQ(0, worker.IsThreadWorking());
    ASSERT_EQ(1, worker.Start());
    ASSERT_TRUE(worker.mJobRan.Wait(kDeadlineMs));
    EXPECT_EQ(1, worker.IsThreadWorking());
    EXPECT_EQ(0, worker.Start()) << "a second Start while working changes nothing";
    EXPECT_EQ(1, worker.Stop());
    // No waiting here: Stop promised the thread had ended.
    EXPECT_EQ(1, worker.mFinalRan.IsSignalled());
    EXPECT_EQ(0, worker.IsThreadWorking());
    EXPECT_EQ(0, worker.IsRunning());
    EXPECT_EQ(kFullRun, worker.Events());
    EXPECT_EQ(1, worker.mInits.load());
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
        EXPECT_EQ(kFullRun, worker.Events());
        EXPECT_EQ(c.passes, worker.mJobs.load());
    }
}

TEST(CThreadWorkerTest, WakeEndsTheWaitOfAPass) {
    RecordingWorker worker;
    ASSERT_EQ(1, worker.Start());
    for (int pass = 1; pass <= 3; ++pass) {
        ASSERT_TRUE(worker.mJobRan.Wait(kDeadlineMs));
        EXPECT_EQ(pass, worker.mJobs.load()) << "the pass waits (without limit) until woken";
        worker.mJobRan.Reset();
        worker.Wake();
    }
    worker.Stop();
}

TEST(CThreadWorkerTest, StopWithoutStartAndTwice) {
    RecordingWorker worker;
    EXPECT_EQ(1, worker.Stop());
    EXPECT_EQ(1, worker.Stop());
    EXPECT_TRUE(worker.Events().empty());
    EXPECT_EQ(0, worker.IsRunning());
}

TEST(CThreadWorkerTest, StartAfterStopAndForceStartReviveTheWorker) {
    RecordingWorker worker(RecordingWorker::JobAction::NotifyStopAfter, 1);
    ASSERT_EQ(1, worker.Start());
    ASSERT_TRUE(worker.mFinalRan.Wait(kDeadlineMs));
    worker.mFinalRan.Reset();
    // The thread ended by itself: ForceStart runs Init again on a new thread.
    ASSERT_EQ(1, worker.ForceStart());
    ASSERT_TRUE(worker.mFinalRan.Wait(kDeadlineMs));
    worker.mFinalRan.Reset();
    ASSERT_EQ(1, worker.Start()) << "Start after the end collects the old thread and starts anew";
    ASSERT_TRUE(worker.mFinalRan.Wait(kDeadlineMs));
    worker.Stop();
    EXPECT_EQ(3, worker.mInits.load());
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i)
        expected.insert(expected.end(), kFullRun.begin(), kFullRun.end());
    EXPECT_EQ(expected, worker.Events());
}

TEST(CThreadWorkerTest, ForceStartReplacesARunningThread) {
    RecordingWorker worker;
    ASSERT_EQ(1, worker.Start());
    ASSERT_TRUE(worker.mJobRan.Wait(kDeadlineMs));
    ASSERT_EQ(1, worker.ForceStart());
    EXPECT_EQ(1, worker.IsThreadWorking());
    worker.Stop();
    EXPECT_EQ(2, worker.mInits.load());
    std::vector<std::string> events = worker.Events();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ("Final", events[2]) << "the old thread ended before the new one began";
    EXPECT_EQ("Init", events[3]);
}

TEST(CThreadWorkerTest, BaseJobWaitsInsteadOfSpinning) {
    CThreadWorker worker; // no subclass: the base Job only waits
    ASSERT_EQ(1, worker.Start());
    EXPECT_EQ(1, worker.IsThreadWorking());
    worker.Stop();
    EXPECT_EQ(0, worker.IsThreadWorking());
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
