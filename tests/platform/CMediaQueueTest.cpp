#include "platform/CMediaQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/CFrameControlMediaQueue.h"

using media_util::CFrameControlMediaQueue;
using media_util::CManualEvent;
using media_util::CMediaObj;
using media_util::CMediaQueue;
using media_util::IMediaQueue;

namespace {

// Counts live objects, so that a leak or a double destruction shows.
class CountedObj : public CMediaObj {
public:
    explicit CountedObj(int32_t number = 0) {
        mFrameNumber = number;
        ++sLive;
    }
    ~CountedObj() override { --sLive; }
    static std::atomic<int> sLive;
};
std::atomic<int> CountedObj::sLive{0};

class CMediaQueueTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, CountedObj::sLive.load()); }
    void TearDown() override {
        EXPECT_EQ(0, CountedObj::sLive.load()) << "objects leaked or destroyed twice";
    }
};

} // namespace

TEST_F(CMediaQueueTest, RefusesAtItsLimitAndLeavesTheObjectWithTheCaller) {
    const std::pair<IMediaQueue*, int32_t> cases[] = {{new CMediaQueue, 60},
                                                      {new CFrameControlMediaQueue, 61},
                                                      {new CMediaQueue(0), 0},
                                                      {new CMediaQueue(-3), 0}};
    for (const auto& [queue, limit] : cases) {
        SCOPED_TRACE(limit);
        for (int32_t i = 0; i < limit; ++i)
            ASSERT_TRUE(queue->Enque(new CountedObj(i)));
        auto* refused = new CountedObj(-1);
        EXPECT_FALSE(queue->Enque(refused));
        EXPECT_EQ(-1, refused->mFrameNumber) << "a refused object is still the caller's and alive";
        delete refused;
        EXPECT_EQ(limit, queue->GetCount());
        // Oldest first, each handed to the caller.
        for (int32_t i = 0; i < limit; ++i) {
            std::unique_ptr<CMediaObj> object(queue->Deque());
            ASSERT_NE(nullptr, object);
            EXPECT_EQ(i, object->mFrameNumber);
        }
        EXPECT_EQ(nullptr, queue->Deque());
        delete queue;
    }
}

TEST_F(CMediaQueueTest, LimitDropsInactiveFlagAndClear) {
    CMediaQueue queue;
    queue.SetLimit(2);
    for (int i = 0; i < 5; ++i) {
        auto* o = new CountedObj(i);
        if (!queue.Enque(o))
            delete o;
    }
    EXPECT_EQ(2, queue.GetCount());
    EXPECT_EQ(3, queue.mDropCount.load());
    queue.mInactive = 1;
    queue.mLimit = 3; // owners also write the member directly
    auto* o = new CountedObj;
    EXPECT_FALSE(queue.Enque(o)) << "an inactive queue takes nothing";
    EXPECT_EQ(4, queue.mDropCount.load());
    queue.mInactive = 0;
    EXPECT_TRUE(queue.Enque(o));
    EXPECT_FALSE(queue.Enque(nullptr));
    queue.Clear();
    EXPECT_EQ(0, CountedObj::sLive.load());
    EXPECT_EQ(nullptr, queue.Deque());
    // What is still queued goes with the queue.
    auto* owned = new CFrameControlMediaQueue;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(owned->Enque(new CountedObj(i)));
    delete owned;
}

TEST_F(CMediaQueueTest, ChannelFilter) {
    struct Case {
        int32_t queueChannel;
        int32_t objectChannel;
        bool accepted;
    } cases[] = {
        {1, 1, true},   {1, 2, false},  {1, 0, true},   {0, 0, true},    {0, 16, true},
        {-1, 0, false}, {0, 17, false}, {1, -1, false}, {17, 17, false}, {17, 0, true},
    };
    for (const Case& c : cases) {
        CMediaQueue queue;
        queue.mChannel = c.queueChannel;
        EXPECT_EQ(c.accepted, queue.IsChannelAsspect(c.objectChannel))
            << "queue " << c.queueChannel << " object " << c.objectChannel;
    }
    EXPECT_FALSE(CMediaQueue().IsChannelAsspect(1)) << "a queue whose channel is not set takes nothing";
}

TEST_F(CMediaQueueTest, AcceptedObjectSignalsTheNotifyEvent) {
    CMediaQueue queue(1);
    CManualEvent arrived;
    queue.SetNotifyEvent(&arrived);
    std::thread producer([&] { EXPECT_TRUE(queue.Enque(new CountedObj)); });
    EXPECT_TRUE(arrived.Wait(10000));
    producer.join();
    arrived.Reset();
    CountedObj refused;
    EXPECT_FALSE(queue.Enque(&refused));
    EXPECT_FALSE(arrived.IsSignalled()) << "a refusal is not an arrival";
    queue.Clear();
}

TEST_F(CMediaQueueTest, ProducersAndConsumerLoseNothingUnderContention) {
    CMediaQueue queue(8);
    constexpr int kPerProducer = 2000;
    std::atomic<int> accepted{0};
    std::atomic<int> producersDone{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < 2; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                auto* o = new CountedObj(p * kPerProducer + i);
                if (queue.Enque(o))
                    ++accepted;
                else
                    delete o;
            }
            ++producersDone;
        });
    }
    int taken = 0;
    std::vector<int> lastSeen(2, -1);
    for (bool done = false; !done;) {
        done = producersDone.load() == 2;
        while (CMediaObj* o = queue.Deque()) {
            int producer = o->mFrameNumber / kPerProducer;
            EXPECT_LT(lastSeen[producer], o->mFrameNumber) << "one producer's objects leave in order";
            lastSeen[producer] = o->mFrameNumber;
            ++taken;
            delete o;
        }
        std::this_thread::yield();
    }
    for (auto& t : producers)
        t.join();
    EXPECT_EQ(accepted.load(), taken);
    EXPECT_GT(taken, 0);
}
