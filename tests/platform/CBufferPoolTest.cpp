#include "platform/CBufferPool.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <ostream>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

using media_util::CBufferPool;

namespace {

constexpr uint32_t kPeriodMs = 1000;
constexpr size_t kPicture = 327680; // a decoded 320x240 picture's block
constexpr size_t kFrame = 8192;     // a compressed frame's block
constexpr size_t kMapFrom = 128 * 1024; // pictures are mapped, frames come from malloc

// A pool on a clock the test moves.
struct PoolFixture {
    uint64_t now = 5000;
    CBufferPool pool;
    explicit PoolFixture(size_t maxPerClass = 32, size_t maxIdleBytes = 64u << 20)
        : pool(CBufferPool::SLimits{maxIdleBytes, maxPerClass, 16u << 20, kPeriodMs, kMapFrom}, [this] { return now; }) {}

    std::vector<uint8_t*> TakeN(size_t n, size_t total) {
        std::vector<uint8_t*> blocks;
        for (size_t i = 0; i < n; ++i) {
            blocks.push_back(pool.Take(total));
            EXPECT_NE(blocks.back(), nullptr);
            blocks.back()[total - 1] = 1; // the whole block is ours
        }
        return blocks;
    }
    void GiveAll(std::vector<uint8_t*>& blocks, size_t total) {
        for (uint8_t* b : blocks)
            pool.Give(b, total);
        blocks.clear();
    }
    // One period of a stream that has `inFlight` blocks taken at once, many
    // times over, as a channel's queues do at a steady frame rate.
    void SteadyPeriod(size_t inFlight, size_t total) {
        for (int pass = 0; pass < 10; ++pass) {
            std::vector<uint8_t*> blocks = TakeN(inFlight, total);
            now += kPeriodMs / 10;
            GiveAll(blocks, total);
        }
    }
};

TEST(CBufferPoolTest, BlocksAreAlignedAndReused) {
    PoolFixture f;
    uint8_t* a = f.pool.Take(kFrame);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % CBufferPool::kAlign, 0u);
    f.pool.Give(a, kFrame);
    EXPECT_EQ(f.pool.IdleBytes(), kFrame);
    uint8_t* b = f.pool.Take(kFrame);
    EXPECT_EQ(b, a);
    EXPECT_EQ(f.pool.SystemTakes(), 1u);
    EXPECT_EQ(f.pool.IdleBytes(), 0u);
    f.pool.Give(b, kFrame);
}

// After a burst the idle blocks come back down to what the stream uses at
// once: a viewer that meets stalls and restarts for hours keeps its size.
struct BurstCase {
    std::string name;
    size_t burst;    // blocks taken at once in the burst
    size_t inFlight; // blocks the stream takes at once afterwards
    size_t total;
};

void PrintTo(const BurstCase& c, std::ostream* os) {
    *os << c.name;
}

class CBufferPoolBurstTest : public ::testing::TestWithParam<BurstCase> {};

TEST_P(CBufferPoolBurstTest, IdleBlocksShrinkToTheWorkingSetAfterTwoPeriods) {
    const BurstCase& c = GetParam();
    PoolFixture f;
    std::vector<uint8_t*> burst = f.TakeN(c.burst, c.total);
    f.GiveAll(burst, c.total);
    EXPECT_EQ(f.pool.IdleBlocks(), c.burst);
    for (int period = 0; period < 3; ++period)
        f.SteadyPeriod(c.inFlight, c.total);
    EXPECT_LE(f.pool.IdleBlocks(), c.inFlight);
    EXPECT_LE(f.pool.IdleBytes(), c.inFlight * c.total);
    // And the stream is still served from the pool: at most one refill of
    // its working set after the trim, not a system allocation per frame.
    const uint64_t takes = f.pool.SystemTakes();
    for (int period = 0; period < 5; ++period)
        f.SteadyPeriod(c.inFlight, c.total);
    EXPECT_LE(f.pool.SystemTakes() - takes, c.inFlight);
}

INSTANTIATE_TEST_SUITE_P(Bursts, CBufferPoolBurstTest,
                         ::testing::Values(BurstCase{"PicturesQueuedDuringAStall", 20, 3, kPicture},
                                           BurstCase{"FramesSentAtARestart", 32, 2, kFrame},
                                           BurstCase{"BurstNoBiggerThanTheWorkingSet", 4, 4, kPicture}),
                         [](const auto& info) { return info.param.name; });

TEST(CBufferPoolTest, ASizeNoLongerSeenIsFreedWhileAnotherStreams) {
    // The picture changed its size: the old size's blocks are never taken again.
    PoolFixture f;
    std::vector<uint8_t*> old = f.TakeN(6, kPicture);
    f.GiveAll(old, kPicture);
    for (int period = 0; period < 3; ++period)
        f.SteadyPeriod(2, kFrame);
    EXPECT_EQ(f.pool.IdleBytes(), 2 * kFrame);
}

TEST(CBufferPoolTest, BlocksIdleForLessThanAPeriodStay) {
    PoolFixture f;
    std::vector<uint8_t*> blocks = f.TakeN(8, kPicture);
    f.now += kPeriodMs - 1;
    f.GiveAll(blocks, kPicture); // given back within the first period: not idle through it
    f.now += kPeriodMs - 1;
    uint8_t* one = f.pool.Take(kPicture);
    f.pool.Give(one, kPicture);
    EXPECT_EQ(f.pool.IdleBlocks(), 8u);
}

// A large block the pool lets go of leaves the process: it is no longer
// mapped, so the resident size comes down with the pool's idle bytes.
TEST(CBufferPoolTest, LargeBlocksLetGoOfAreUnmapped) {
    PoolFixture f;
    std::vector<uint8_t*> pictures = f.TakeN(3, kPicture);
    const std::vector<uint8_t*> addresses = pictures;
    f.GiveAll(pictures, kPicture);
    for (uint8_t* a : addresses)
        EXPECT_EQ(msync(a, CBufferPool::kAlign, MS_ASYNC), 0); // kept by the pool
    // Two periods with only compressed frames (small blocks, from malloc).
    for (int period = 0; period < 3; ++period)
        f.SteadyPeriod(1, kFrame);
    EXPECT_EQ(f.pool.IdleBytes(), kFrame);
    for (uint8_t* a : addresses) {
        errno = 0;
        EXPECT_EQ(msync(a, CBufferPool::kAlign, MS_ASYNC), -1);
        EXPECT_EQ(errno, ENOMEM);
    }
}

struct LimitCase {
    std::string name;
    size_t maxPerClass;
    size_t maxIdleBytes;
    size_t given;
    size_t total;
    size_t keptBlocks;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.name;
}

class CBufferPoolLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(CBufferPoolLimitTest, KeepsNoMoreThanItsLimits) {
    const LimitCase& c = GetParam();
    PoolFixture f(c.maxPerClass, c.maxIdleBytes);
    std::vector<uint8_t*> blocks = f.TakeN(c.given, c.total);
    f.GiveAll(blocks, c.total);
    EXPECT_EQ(f.pool.IdleBlocks(), c.keptBlocks);
    EXPECT_EQ(f.pool.IdleBytes(), c.keptBlocks * c.total);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, CBufferPoolLimitTest,
    ::testing::Values(LimitCase{"PerSize", 4, 64u << 20, 10, kFrame, 4},
                      LimitCase{"Bytes", 32, 3 * kPicture, 10, kPicture, 3},
                      LimitCase{"NothingKept", 0, 64u << 20, 5, kFrame, 0},
                      LimitCase{"TooLargeToKeep", 32, 64u << 20, 2, (16u << 20) + CBufferPool::kAlign, 0}),
    [](const auto& info) { return info.param.name; });

// Receivers, decoders and renderers take and give back on threads of their
// own while periods end: the counts stay consistent (and ThreadSanitizer
// watches the pool's state).
TEST(CBufferPoolTest, ThreadsTakeAndGiveWhilePeriodsEnd) {
    std::atomic<uint64_t> now{0};
    CBufferPool pool(CBufferPool::SLimits{64u << 20, 8, 16u << 20, 5, kMapFrom}, [&now] { return now.load(); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&pool, &now, t] {
            const size_t total = t % 2 ? kFrame : kPicture;
            for (int i = 0; i < 2000; ++i) {
                std::vector<uint8_t*> held;
                for (int k = 0; k <= i % 5; ++k) {
                    held.push_back(pool.Take(total));
                    held.back()[0] = uint8_t(k);
                }
                now.fetch_add(1);
                for (uint8_t* b : held)
                    pool.Give(b, total);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    const size_t idle = pool.IdleBlocks();
    EXPECT_LE(idle, 2 * 8u);
    EXPECT_LE(pool.IdleBytes(), idle * kPicture);
    EXPECT_GE(pool.IdleBytes(), idle * kFrame);
}

} // namespace
