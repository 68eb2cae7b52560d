// The queue of one display channel (and of a recorder): a CMediaQueue with a
// frame-control element and a few members its owner keeps on it.
#pragma once

#include "platform/CFrameControlElement.h"
#include "platform/CMediaQueue.h"

namespace media_util {

class CFrameControlMediaQueue : public CMediaQueue {
public:
    // One more than a source's input queue, so that a channel fed at the
    // source's pace never refuses what the source just accepted.
    static constexpr int32_t kDefaultLimit = 61;

    CFrameControlMediaQueue();
    explicit CFrameControlMediaQueue(int32_t limit);

    // The oldest object, after the frame-control element has spaced it (see
    // CFrameControlElement). Null when empty.
    CMediaObj* Deque() override;

    CFrameControlElement* GetFrameControl() { return &mFrameControl; }

    CFrameControlElement mFrameControl;
    // Machine code of the device that feeds the queue; -1 = not known yet.
    std::atomic<int32_t> mMachineCode{-1};
    // 1 once the owner has a source for the queue (its device is opened).
    std::atomic<int32_t> mSourcePresent{0};
};

} // namespace media_util
