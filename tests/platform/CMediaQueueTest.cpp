#include "platform/CMediaQueue.h"

#include <gtest/gtest.h>

#include <atomic>
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
    struct Case {
        const char* name;
        IMediaQueue* (*make)();
        int32_t limit;
    } cases[] = {
        {"default", [] { return static_cast<IMediaQueue*>(new CMediaQueue); }, CMediaQueue::kDefaultLimit},
        {"frame control default", [] { return static_cast<IMediaQueue*>(new CFrameControlMediaQueue); },
         CFrameControlMediaQueue::kDefaultLimit},
        {"limit 1", [] { return static_cast<IMediaQueue*>(new CMediaQueue(1)); }, 1},
        {"limit 0", [] { return static_cast<IMediaQueue*>(new CMediaQueue(0)); }, 0},
        {"negative", [] { return static_cast<IMediaQueue*>(new CMediaQueue(-3)); }, 0},
        {"frame control 60", [] { return static_cast<IMediaQueue*>(new CFrameControlMediaQueue(60)); }, 60},
    };
    EXPECT_EQ(60, CMediaQueue::kDefaultLimit);
    EXPECT_EQ(61, CFrameControlMediaQueue::kDefaultLimit);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IMediaQueue* queue = c.make();
        for (int32_t i = 0; i < c.limit; ++i)
            ASSERT_TRUE(queue->Enque(new CountedObj(i)));
        EXPECT_EQ(c.limit, queue->GetCount());
        auto* refused = new CountedObj(-1);
        EXPECT_FALSE(queue->Enque(refused));
        EXPECT_EQ(-1, refused->mFrameNumber) << "a refused object is still the caller's and alive";
        delete refused;
        EXPECT_EQ(c.limit, CountedObj::sLive.load());
        // Oldest first, each handed to the caller.
        for (int32_t i = 0; i < c.limit; ++i) {
            CMediaObj* object = queue->Deque();
            ASSERT_NE(nullptr, object);
            EXPECT_EQ(i, object->mFrameNumber);
            delete object;
        }
        EXPECT_EQ(nullptr, queue->Deque());
        delete queue;
    }
}

TEST_F(CMediaQueueTest, SettableLimitAndDropCounter) {
    CMediaQueue queue;
    queue.SetLimit(2);
    queue.mDropCount = 0;
    std::vector<CountedObj*> refused;
    for (int i = 0; i < 5; ++i) {
        auto* o = new CountedObj(i);
        if (!queue.Enque(o))
            refused.push_back(o);
    }
    EXPECT_EQ(2, queue.GetCount());
    EXPECT_EQ(3u, refused.size());
    EXPECT_EQ(3, queue.mDropCount.load());
    for (CountedObj* o : refused)
        delete o;
    queue.mLimit = 3; // owners also write the member directly
    EXPECT_TRUE(queue.Enque(new CountedObj));
    EXPECT_EQ(3, queue.GetLimit());
}

TEST_F(CMediaQueueTest, ClearAndDestructionDestroyEveryQueuedObject) {
    {
        CFrameControlMediaQueue queue;
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(queue.Enque(new CountedObj(i)));
        queue.Clear();
        EXPECT_EQ(0, CountedObj::sLive.load());
        EXPECT_EQ(0, queue.GetCount());
        EXPECT_EQ(nullptr, queue.Deque());
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(queue.Enque(new CountedObj(i)));
    }
    EXPECT_EQ(0, CountedObj::sLive.load());
}

TEST_F(CMediaQueueTest, InactiveQueueTakesNothing) {
    CMediaQueue queue;
    queue.mInactive = 1;
    auto* o = new CountedObj;
    EXPECT_FALSE(queue.Enque(o));
    EXPECT_EQ(0, queue.GetCount());
    queue.mInactive = 0;
    EXPECT_TRUE(queue.Enque(o));
    EXPECT_FALSE(queue.Enque(nullptr));
}

TEST_F(CMediaQueueTest, ChannelFilter) {
    struct Case {
        int32_t queueChannel;
        int32_t objectChannel;
        bool accepted;
    } cases[] = {
        {1, 1, true},   {2, 2, true},   {16, 16, true}, {1, 2, false},  {2, 1, false},   {3, 16, false},
        {1, 0, true},   {7, 0, true},   {0, 0, true},   {0, 5, true},   {0, 16, true},   {-1, 0, false},
        {-1, 1, false}, {1, 17, false}, {0, 17, false}, {1, -1, false}, {17, 17, false}, {17, 0, true},
    };
    for (const Case& c : cases) {
        CMediaQueue queue;
        queue.mChannel = c.queueChannel;
        EXPECT_EQ(c.accepted, queue.IsChannelAsspect(c.objectChannel))
            << "queue " << c.queueChannel << " object " << c.objectChannel;
    }
    CMediaQueue fresh;
    EXPECT_EQ(-1, fresh.mChannel.load());
    EXPECT_FALSE(fresh.IsChannelAsspect(1)) << "a queue whose channel is not set takes nothing";
}

TEST_F(CMediaQueueTest, AcceptedObjectSignalsTheNotifyEvent) {
    CMediaQueue queue(1);
    CManualEvent arrived;
    queue.SetNotifyEvent(&arrived);
    auto* refusedLater = new CountedObj;
    std::thread producer([&] { EXPECT_TRUE(queue.Enque(new CountedObj)); });
    EXPECT_TRUE(arrived.Wait(10000));
    producer.join();
    arrived.Reset();
    EXPECT_FALSE(queue.Enque(refusedLater));
    EXPECT_FALSE(arrived.IsSignalled()) << "a refusal is not an arrival";
    delete refusedLater;
    queue.SetNotifyEvent(nullptr);
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
    while (true) {
        bool done = producersDone.load() == 2;
        CMediaObj* o = queue.Deque();
        if (o == nullptr) {
            if (done)
                break;
            std::this_thread::yield();
            continue;
        }
        int producer = o->mFrameNumber / kPerProducer;
        EXPECT_LT(lastSeen[producer], o->mFrameNumber) << "one producer's objects leave in order";
        lastSeen[producer] = o->mFrameNumber;
        ++taken;
        delete o;
    }
    for (auto& t : producers)
        t.join();
    EXPECT_EQ(accepted.load(), taken);
    EXPECT_GT(taken, 0);
}
