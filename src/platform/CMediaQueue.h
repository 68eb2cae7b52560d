// The bounded media queue: receivers fill a source's input queue, the
// dispatcher fills the channels' queues, the decoder its picture queue.
//
// Threads: any thread may call any operation; one lock inside guards the
// list. No operation calls out of the queue while holding it, except that
// Clear and the destructor destroy objects.
#pragma once

#include <deque>

#include "platform/CCritSection.h"
#include "platform/CManualEvent.h"
#include "platform/IMediaQueue.h"

namespace media_util {

class CMediaQueue : public IMediaQueue {
public:
    // Objects a queue holds unless its owner sets another limit: about two
    // seconds of video at 30 fps, enough to ride out a stalled consumer
    // without letting memory grow while it stays stalled.
    static constexpr int32_t kDefaultLimit = 60;
    // Data bytes a queue holds at most unless its owner sets another limit.
    // A device decides how large its frames are; without this, 60 frames of
    // the largest size a part may have would pin a gigabyte per consumer.
    // An empty queue always takes one object, so no single frame is too big.
    static constexpr int64_t kDefaultByteLimit = 64 * 1024 * 1024;

    CMediaQueue();
    explicit CMediaQueue(int32_t limit);
    ~CMediaQueue() override;
    CMediaQueue(const CMediaQueue&) = delete;
    CMediaQueue& operator=(const CMediaQueue&) = delete;

    bool Enque(CMediaObj* object) override;
    CMediaObj* Deque() override;
    void Clear() override;
    bool IsChannelAsspect(int32_t channel) override;
    int32_t GetCount() override;

    void SetLimit(int32_t limit) { mLimit = limit; }
    int32_t GetLimit() const { return mLimit; }
    void SetByteLimit(int64_t bytes);
    int64_t GetByteLimit();
    // Data bytes of the objects held now.
    int64_t GetBytes();
    // The data bytes an object holds for the byte limit (video and audio).
    static int64_t BytesOf(const CMediaObj& object);
    // An event that every accepted object signals (Set), so a consumer can
    // wait for work instead of polling; null for none. Not owned.
    void SetNotifyEvent(CManualEvent* event);

    // Most objects held at once; Enque refuses beyond it (0 or less: the
    // queue takes nothing). Written directly by owners.
    std::atomic<int32_t> mLimit;
    // Objects refused because the queue was full or inactive since the owner
    // last set it to 0: the frames this consumer lost.
    std::atomic<int32_t> mDropCount{0};

private:
    CCritSection mLock;
    std::deque<CMediaObj*> mObjects;        // owned; guarded by mLock
    int64_t mBytes = 0;                     // BytesOf the objects held; guarded by mLock
    int64_t mByteLimit = kDefaultByteLimit; // guarded by mLock
    CManualEvent* mpNotifyEvent = nullptr;  // not owned; guarded by mLock
};

} // namespace media_util
