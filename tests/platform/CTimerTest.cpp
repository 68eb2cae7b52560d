#include "platform/CTimer.h"

#include <gtest/gtest.h>

#include <atomic>

using media_util::CManualEvent;
using media_util::CTimer;

namespace {

constexpr DWORD kDeadlineMs = 10000;
// Long enough that it never passes during a test that stops the timer first.
constexpr DWORD kNeverMs = 600000;

class CountingTimer : public CTimer {
public:
    explicit CountingTimer(DWORD ms) : CTimer(ms) {}
    ~CountingTimer() override { Stop(); }
    void OnTimeout() override {
        ++mCalls;
        mExpired.Set();
    }
    std::atomic<int> mCalls{0};
    CManualEvent mExpired;
};

} // namespace

TEST(CTimerTest, ExpiresOnceAfterItsTimeEachTimeItIsStarted) {
    for (DWORD ms : {DWORD(0), DWORD(20)}) {
        SCOPED_TRACE(ms);
        CountingTimer timer(ms);
        for (int run = 1; run <= 2; ++run) {
            timer.mExpired.Reset();
            const DWORD start = timeGetTime();
            ASSERT_EQ(1, timer.Start());
            ASSERT_TRUE(timer.mExpired.Wait(kDeadlineMs));
            EXPECT_GE(timeGetTime() - start, ms) << "never before its time";
            timer.Stop();
            EXPECT_EQ(run, timer.mCalls.load());
            EXPECT_EQ(1, timer.HasFired());
            EXPECT_EQ(0, timer.IsThreadWorking()) << "a one-shot timer ends after it fired";
        }
    }
}

TEST(CTimerTest, StopBeforeExpiryMeansNoCallback) {
    CountingTimer timer(kNeverMs);
    ASSERT_EQ(1, timer.Start());
    // Wakes are not stop requests and must not fire it either.
    timer.Wake();
    timer.Stop(); // returns at once: the wait is on the stop event
    EXPECT_EQ(0, timer.mCalls.load());
    EXPECT_EQ(0, timer.HasFired());
    EXPECT_EQ(0, timer.IsThreadWorking());
}

TEST(CTimerTest, ExpiresOnTimeAcrossTheMillisecondClockWrap) {
    // Put the clock 10 ms before its 32-bit wrap; the timer's 40 ms run across it.
    DWORD previous = SetTimeGetTimeOffsetForTest(0);
    SetTimeGetTimeOffsetForTest(DWORD(0xFFFFFFFFu - timeGetTime() - 10));
    CountingTimer timer(40);
    DWORD start = timeGetTime();
    ASSERT_EQ(1, timer.Start());
    bool fired = timer.mExpired.Wait(kDeadlineMs) != 0;
    DWORD elapsed = timeGetTime() - start;
    timer.Stop();
    SetTimeGetTimeOffsetForTest(previous);
    ASSERT_TRUE(fired);
    EXPECT_GE(elapsed, 40u) << "fired before its time: the wrap was read as a jump";
    EXPECT_GT(start, 0xFFFF0000u) << "the clock did not start just before the wrap";
}
