#include "platform/CCritSection.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/CLockWrap.h"

using media_util::CCritSection;
using media_util::CLockWrap;

TEST(CCritSectionTest, OwnerMayTakeItAgainOthersMayNot) {
    CCritSection lock;
    const auto tryFromOtherThread = [&lock] {
        int taken = 0;
        std::thread([&] {
            if ((taken = lock.TryLock()) != 0)
                lock.Unlock();
        }).join();
        return taken;
    };
    {
        CLockWrap outer(lock);
        CLockWrap inner(&lock); // re-entrant: no deadlock
        EXPECT_EQ(1, lock.TryLock());
        EXPECT_EQ(0, tryFromOtherThread());
        lock.Unlock();
    }
    EXPECT_EQ(1, tryFromOtherThread()) << "released as often as taken";
    CLockWrap none(nullptr); // an absent lock is allowed
}

TEST(CCritSectionTest, SerialisesThreads) {
    CCritSection lock;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CLockWrap hold(lock);
                long seen = counter;
                counter = seen + 1;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(80000, counter);
}
