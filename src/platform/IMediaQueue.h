// A bounded queue of owned media objects between two threads, with a
// channel filter for the dispatcher.
//
// Ownership: an object that Enque accepts belongs to the queue; one that it
// refuses stays with the caller, who destroys it. Deque hands the oldest
// object to the caller. Clear and the destructor destroy what is queued.
//
// Threads: every operation may be called from any thread; implementations
// lock inside. The public members are written by the queue's owner.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/CMediaObj.h"

namespace media_util {

class IMediaQueue {
public:
    virtual ~IMediaQueue() = default;
    // True: the queue took ownership. False: refused (limit reached, queue
    // inactive, or a null object); the caller keeps and destroys the object.
    virtual bool Enque(CMediaObj* object) = 0;
    // The oldest object, now owned by the caller, or null when empty.
    virtual CMediaObj* Deque() = 0;
    // Destroys every queued object.
    virtual void Clear() = 0;
    // Whether the queue wants objects of channel (0 to 16). Channel 0 on
    // either side means "no particular channel": a queue of channel 0 takes
    // every channel, and an object of channel 0 (a single-channel device)
    // goes to every queue. Otherwise the channels must be equal. A queue
    // with a negative channel (none set) takes nothing, and channels outside
    // 0 to 16 match nothing.
    virtual bool IsChannelAsspect(int32_t channel) = 0;
    // Objects queued now.
    virtual int32_t GetCount() = 0;

    // The channel the queue serves; -1 = none. Set by the owner before it
    // registers the queue.
    std::atomic<int32_t> mChannel{-1};
    // Non-zero: the queue takes nothing (Enque refuses). Set by the owner;
    // read by the dispatcher before it clones anything for the queue.
    std::atomic<int32_t> mInactive{0};
};

} // namespace media_util
