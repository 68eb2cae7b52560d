// Frame buffers come and go at the frame rate on every channel, and most of
// them have one of a few sizes (a stream's frames, its decoded pictures).
// The pool keeps blocks that were given back, by their exact size, and hands
// them out again instead of asking the system each time.
//
// It is bounded two ways. By count and bytes: at most maxPerClass idle blocks
// of one size and maxIdleBytes in all; a block beyond goes back to the system.
// And by time: a block that lay idle through a whole trim period was not
// needed in it, and goes back to the system at the end of that period. So the
// pool holds what the streams use now, not what they once needed: a burst
// (frames queued while a decoder or a stalled renderer caught up, a stream
// that started again and sent what it held) or a size no longer seen (a
// picture that changed its size) costs memory for one or two periods only,
// and a viewer that runs for days through such events keeps its size.
//
// A period's idle blocks are found by the low-water mark: the fewest blocks
// a size held at any moment of the period. Blocks given back during the
// period do not raise it, so a block counts as idle only if it was there
// from the period's start to its end.
//
// Threads: every member may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "platform/CCritSection.h"

namespace media_util {

class CBufferPool {
public:
    struct SLimits {
        size_t maxIdleBytes; // all idle blocks together
        size_t maxPerClass;  // idle blocks of one size; 0: nothing is kept
        size_t maxBlock;     // larger blocks are never kept
        uint32_t trimPeriodMs;
        // Blocks of this many bytes and more are mapped from the system
        // directly (0: never). malloc keeps what is freed to it in its
        // per-thread arenas, and glibc takes blocks of a size it has once
        // seen freed from those arenas rather than mapping them; a large
        // block the pool gives back would stay resident. A mapped one is
        // gone from the process when it is given back.
        size_t mapFrom;
    };
    static constexpr size_t kAlign = 4096; // every block starts on a page

    // `nowMs` tells monotonic milliseconds (steady clock when empty).
    explicit CBufferPool(const SLimits& limits, std::function<uint64_t()> nowMs = {});
    ~CBufferPool();
    CBufferPool(const CBufferPool&) = delete;
    CBufferPool& operator=(const CBufferPool&) = delete;

    // A block of `total` bytes aligned to kAlign; null when memory ran out.
    uint8_t* Take(size_t total);
    // Gives back a block Take made for the same `total`.
    void Give(uint8_t* block, size_t total);

    size_t IdleBytes();
    size_t IdleBlocks();
    uint64_t SystemTakes(); // blocks that had to come from the system

private:
    struct SClass {
        std::vector<void*> blocks; // the longest idle first
        size_t lowWater = 0;       // fewest blocks held since the period began
    };
    using Released = std::vector<std::pair<void*, size_t>>;
    // Ends the period if it is over: moves the blocks idle through it to
    // `release` (freed by the caller outside the lock). Caller holds mLock.
    void TrimLocked(Released* release);
    uint64_t Now() const;
    uint8_t* FromSystem(size_t total);
    void ToSystem(void* block, size_t total);

    const SLimits mLimits;
    const std::function<uint64_t()> mNowMs;
    CCritSection mLock;
    std::map<size_t, SClass> mClasses; // guarded by mLock
    size_t mIdleBytes = 0;             // guarded by mLock
    uint64_t mSystemTakes = 0;         // guarded by mLock
    uint64_t mPeriodStart = 0;         // guarded by mLock
};

} // namespace media_util
