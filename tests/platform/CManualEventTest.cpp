#include "platform/CManualEvent.h"

#include <gtest/gtest.h>

#include <thread>

using media_util::CManualEvent;

namespace {
constexpr DWORD kDeadlineMs = 10000;
}

TEST(CManualEventTest, StateWordFollowsSetAndReset) {
    CManualEvent event;
    ASSERT_NE(nullptr, event.m_hEvent);
    EXPECT_EQ(1, event.mState.load()) << "not signalled at construction";
    EXPECT_EQ(0, event.IsSignalled());
    EXPECT_EQ(0, event.Wait(0));
    EXPECT_EQ(1, event.Set());
    EXPECT_EQ(0, event.mState.load());
    EXPECT_EQ(1, event.IsSignalled());
    EXPECT_EQ(1, event.Wait(0));
    EXPECT_EQ(1, event.Wait(0)) << "manual reset: a wait does not consume the signal";
    EXPECT_EQ(1, event.Reset());
    EXPECT_EQ(1, event.mState.load());
    EXPECT_EQ(0, event.Wait(0));
    // Owners may signal the handle themselves and keep the word in step.
    SetEvent(event.m_hEvent);
    event.mState = CManualEvent::kSignalled;
    EXPECT_EQ(1, event.Wait(0));
}

TEST(CManualEventTest, MultiEventWaitsReportWhichEventFired) {
    struct Case {
        const char* name;
        bool a, b, c;
        bool nullA, nullB;
        int two, three, first;
    } cases[] = {
        {"none", false, false, false, false, false, -1, -1, 0},
        {"a", true, false, false, false, false, 0, 0, 1},
        {"b", false, true, false, false, false, 1, 1, 0},
        {"c", false, false, true, false, false, -1, 2, 0},
        {"a and b: lowest", true, true, false, false, false, 0, 0, 1},
        {"b and c", false, true, true, false, false, 1, 1, 0},
        {"null a, b set", false, true, false, true, false, 1, 1, 0},
        {"a set, null b", true, false, false, false, true, 0, 0, 1},
        {"both null", false, false, false, true, true, -1, -1, 0},
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
    EXPECT_EQ(CManualEvent::kWaitTimeout, CManualEvent::WaitTwoEvents(nullptr, nullptr, 1));
    EXPECT_LT(CManualEvent::kWaitTimeout, 0);
}

TEST(CManualEventTest, WaitOnAnotherThreadEndsWhenTheEventIsSet) {
    struct Case {
        int which; // event the main thread sets
    } cases[] = {{0}, {1}, {2}};
    for (const Case& k : cases) {
        CManualEvent a, b, c, started;
        int result = -5;
        std::thread waiter([&] {
            started.Set();
            result = CManualEvent::WaitThreeEvents(&a, &b, &c, INFINITE);
        });
        ASSERT_TRUE(started.Wait(kDeadlineMs));
        CManualEvent* events[] = {&a, &b, &c};
        events[k.which]->Set();
        waiter.join();
        EXPECT_EQ(k.which, result);
    }
}

TEST(CManualEventTest, TimeOutWithoutSignal) {
    CManualEvent a, b;
    DWORD start = timeGetTime();
    EXPECT_EQ(-1, CManualEvent::WaitTwoEvents(&a, &b, 20));
    EXPECT_GE(timeGetTime() - start, 20u) << "a time-out does not come early";
    EXPECT_EQ(0, a.Wait(1));
    EXPECT_EQ(0, CManualEvent::WaitFirstEvents(&a, &b, 1));
}

TEST(CManualEventTest, WordAgreesWithTheHandleAfterRacingSetAndReset) {
    for (int round = 0; round < 200; ++round) {
        CManualEvent event;
        std::thread setter([&] {
            for (int i = 0; i < 50; ++i)
                event.Set();
        });
        std::thread resetter([&] {
            for (int i = 0; i < 50; ++i)
                event.Reset();
        });
        setter.join();
        resetter.join();
        ASSERT_EQ(event.IsSignalled() ? CManualEvent::kSignalled : CManualEvent::kNotSignalled,
                  event.mState.load())
            << "round " << round;
    }
}
