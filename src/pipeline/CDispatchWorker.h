// The fan-out of one shared source: a worker thread that takes what the
// source's receiver puts on the input queue and gives every registered
// destination queue (as a rule one display channel's frame queue, or a
// recorder's) its own clone of each object the queue's channel filter
// accepts.
//
// A clone has its own header but holds the same data buffer as the object
// (CloneMeSharingContent): nobody downstream writes into a frame's bytes
// (receivers finish a frame before they queue it), so each destination
// would only have copied 100 KB to 1 MB a frame for nothing. The buffer
// goes back to the pool when the last holder lets go (docs/pipeline.md).
//
// It also keeps, per channel (0 to 16), the last stream configuration (the
// MPEG-4 VOL or the H.264 parameter sets split off a key frame), so that a
// queue that joins a running stream first receives the configuration and
// its decoder can start at the next key frame.
//
// Throughput: a pass moves one object; the worker waits (up to
// kWaitTimeoutMs, or until the receiver queues the next object) only when the
// input queue was empty. So a 16-channel recorder's stream of 400 objects a
// second and more goes through without falling behind (docs/pipeline.md).
//
// Threads: Job and Dispatch run on the worker thread; AddQueue and
// RemoveQueue on the thread that registers a channel (the source table's
// caller, under the table lock: the table lock is always taken before this
// worker's lock). mLock guards the destinations, their count and the
// configuration cache, and is held across the whole of Dispatch.
#pragma once

#include "platform/CCritSection.h"
#include "platform/CMediaObj.h"
#include "platform/CThreadWorker.h"
#include "platform/IMediaQueue.h"

#include <atomic>
#include <cstdint>
#include <vector>

class CDispatchWorker : public media_util::CThreadWorker {
public:
    // The wait of a pass that found the input queue empty.
    static constexpr DWORD kWaitTimeoutMs = 10;
    // The same wait when the input queue wakes the worker as objects arrive
    // (a CMediaQueue): the time-out then ends no wait that matters, and at
    // 10 ms it woke the thread a hundred times a second for nothing (0.15 ms
    // of CPU per frame of a 25 fps camera). Stopping sets the wake event.
    static constexpr DWORD kNotifiedWaitTimeoutMs = 250;
    // One configuration slot per channel number an object may carry.
    static constexpr int kConfigSlots = 17;

    CDispatchWorker();
    // Stops the thread, then destroys the cached configurations.
    ~CDispatchWorker() override;

    // One object per pass (see the file comment).
    int Job() override;
    // Gives each accepting destination its clone of object (the worker keeps
    // object). Called with mLock held.
    virtual void Dispatch(media_util::CMediaObj* object);

    // The queue Job reads; before the thread starts. A CMediaQueue also
    // wakes the worker when an object arrives (and the worker then waits
    // kNotifiedWaitTimeoutMs instead of kWaitTimeoutMs).
    void SetInputQueue(media_util::IMediaQueue* queue);
    // Registers a destination (null or already registered: nothing). A
    // queue of channel c (0 to 16) first gets a clone of the cached
    // configuration of c, or, when c has none, of channel 0 (a
    // single-channel device's, whose objects every queue takes).
    void AddQueue(media_util::IMediaQueue* queue);
    // Removes the first occurrence, keeping the order of the others.
    void RemoveQueue(media_util::IMediaQueue* queue);
    // Destinations registered now; may be read without the lock.
    int32_t GetQueueCount() const { return mQueueCount.load(); }
    // Objects taken from the input queue so far (any thread may ask).
    int64_t GetDispatchedCount() const { return mDispatched.load(); }
    // The cached configuration of channel (0 to 16); its data size is 0 when
    // there is none. Worker thread, or with the worker stopped.
    const media_util::CMediaObj& GetConfig(int channel) const { return *mConfigs[channel]; }

protected:
    // Whether queue wants object: by its channel number, or, for an object
    // of several channels (a mask), by any of them.
    static bool Accepts(media_util::IMediaQueue* queue, const media_util::CMediaObj& object);
    // Offers a clone of object (sharing its data) to queue: true when the
    // queue took it (a refused clone is destroyed).
    static bool Offer(media_util::IMediaQueue* queue, const media_util::CMediaObj& object);
    // Keeps the configuration part of a configuration-carrying key frame for
    // late joiners.
    void CacheConfig(const media_util::CMediaObj& object);

    media_util::IMediaQueue* mpInputQueue = nullptr;     // not owned
    DWORD mIdleWaitMs = kWaitTimeoutMs;                  // set with the input queue
    std::vector<media_util::IMediaQueue*> mDestinations; // not owned; guarded by mLock
    media_util::CCritSection mLock;
    std::atomic<int32_t> mQueueCount{0};          // == mDestinations.size()
    std::vector<media_util::CMediaObj*> mConfigs; // owned, never null; guarded by mLock
    std::atomic<int64_t> mDispatched{0};
};
