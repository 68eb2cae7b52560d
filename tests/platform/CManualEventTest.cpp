#include "platform/CManualEvent.h"

#include <gtest/gtest.h>

#include <thread>

using media_util::CManualEvent;

namespace {
constexpr DWORD kDeadlineMs = 10000;
}

// Owners read the state word directly: 1 while not signalled, 0 once set.
TEST(CManualEventTest, StateWordFollowsSetAndReset) {
    CManualEvent event;
    EXPECT_EQ(1, event.mState.load());
    EXPECT_EQ(0, event.Wait(0));
    EXPECT_EQ(1, event.Set());
    EXPECT_EQ(0, event.mState.load());
    EXPECT_EQ(1, event.Wait(0));
    EXPECT_EQ(1, event.Wait(0)) << "manual reset: a wait does not consume the signal";
    EXPECT_EQ(1, event.Reset());
    EXPECT_EQ(1, event.mState.load());
    EXPECT_EQ(0, event.Wait(0));
}

TEST(CManualEventTest, MultiEventWaitsReportWhichEventFired) {
    struct Case {
        const char* name;
        bool a, b, c;
        bool nullA, nullB;
        int two, three, first;
    } cases[] = {
        {"none", false, false, false, false, false, -1, -1, 0},
        {"b", false, true, false, false, false, 1, 1, 0},
        {"c", false, false, true, false, false, -1, 2, 0},
        {"a and b: lowest", true, true, false, false, false, 0, 0, 1},
        {"null a, b set", false, true, false, true, false, 1, 1, 0},
        {"a set, null b", true, false, false, false, true, 0, 0, 1},
        {"both null, c set", false, false, true, true, true, -1, 2, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        CManualEvent a, b, c;
        if (k.a)
            a.Set();
        if (k.b)
            b.Set();
        if (k.c)
            c.Set();
        const CManualEvent* pa = k.nullA ? nullptr : &a;
        const CManualEvent* pb = k.nullB ? nullptr : &b;
        EXPECT_EQ(k.two, CManualEvent::WaitTwoEvents(pa, pb, 0));
        EXPECT_EQ(k.three, CManualEvent::WaitThreeEvents(pa, pb, &c, 0));
        EXPECT_EQ(k.first, CManualEvent::WaitFirstEvents(pa, pb, 0));
    }
    // A time-out does not come early, also with no event to wait on.
    CManualEvent unset;
    for (const CManualEvent* e : {&unset, static_cast<CManualEvent*>(nullptr)}) {
        const DWORD start = timeGetTime();
        EXPECT_EQ(CManualEvent::kWaitTimeout, CManualEvent::WaitTwoEvents(e, e, 20));
        EXPECT_GE(timeGetTime() - start, 20u);
    }
}

TEST(CManualEventTest, WaitOnAnotherThreadEndsWhenTheEventIsSet) {
    for (int which = 0; which < 3; ++which) {
        CManualEvent events[3], started;
        int result = -5;
        std::thread waiter([&] {
            started.Set();
            result = CManualEvent::WaitThreeEvents(&events[0], &events[1], &events[2], INFINITE);
        });
        ASSERT_TRUE(started.Wait(kDeadlineMs));
        events[which].Set();
        waiter.join();
        EXPECT_EQ(which, result);
    }
}

TEST(CManualEventTest, WordAgreesWithTheHandleAfterRacingSetAndReset) {
    for (int round = 0; round < 200; ++round) {
        CManualEvent event;
        std::thread setter([&] {
            for (int i = 0; i < 50; ++i)
                event.Set();
        });
        for (int i = 0; i < 50; ++i)
            event.Reset();
        setter.join();
        ASSERT_EQ(event.IsSignalled() ? CManualEvent::kSignalled : CManualEvent::kNotSignalled,
                  event.mState.load())
            << "round " << round;
    }
}
