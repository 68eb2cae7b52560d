// Spaces the hand-out of video objects from a channel queue by their frame
// rate while display runs.
//
// A queue's consumer that paces frames itself (the display channel's pacer)
// switches the sleeping off with SetUseSleep(0); the element then only
// counts. A consumer that does not pace gets objects no faster than their
// frame rate once StartWork was called: the element sleeps in Deque until
// the next object is due. StopWork ends such a sleep at once.
//
// Threads: StartWork, StopWork and SetUseSleep come from the owner's thread,
// Pace from the consumer's thread inside Deque.
#pragma once

#include <atomic>

#include "os/kernel/Kernel.h"
#include "platform/CManualEvent.h"
#include "platform/CMediaObj.h"

namespace media_util {

class CFrameControlElement {
public:
    // Longest single sleep, so a bogus frame rate cannot stall a consumer.
    static constexpr DWORD kMaxSleepMs = 1000;
    // With more objects than this waiting the consumer is behind: no sleep.
    static constexpr int32_t kBacklogNoSleep = 5;

    CFrameControlElement();
    CFrameControlElement(const CFrameControlElement&) = delete;
    CFrameControlElement& operator=(const CFrameControlElement&) = delete;

    // Begins pacing; the first object after it goes out at once.
    void StartWork();
    // Ends pacing and wakes a consumer sleeping in Pace.
    void StopWork();
    // Non-zero (the default): Pace sleeps; 0: it never sleeps.
    void SetUseSleep(int useSleep);
    int IsWorking() const { return mWorking.load() ? 1 : 0; }
    int IsUsingSleep() const { return mUseSleep.load() ? 1 : 0; }
    // Objects that went through Pace while working.
    int32_t GetFramesPaced() const { return mFramesPaced.load(); }

    // How long the object handed out at now must wait: 0 unless working
    // with sleep on and the object is video with a frame rate, the backlog
    // is at most kBacklogNoSleep and the last video object left less than
    // one frame time ago; then the rest of that frame time, at most
    // kMaxSleepMs. Records now (plus the delay) as the last hand-out.
    DWORD NextDelay(DWORD now, const CMediaObj* object, int32_t backlog);
    // Called by the queue's Deque for the object it hands out: sleeps the
    // delay of NextDelay, ended early by StopWork.
    void Pace(const CMediaObj* object, int32_t backlog);

private:
    std::atomic<bool> mWorking{false};
    std::atomic<bool> mUseSleep{true};
    std::atomic<int32_t> mFramesPaced{0};
    CManualEvent mStopEvent; // set while not working, so sleeps end at once
    // Consumer thread only (reset by StartWork before the consumer runs).
    bool mHaveLast = false;
    DWORD mLastOut = 0;
    std::atomic<bool> mRestart{false};
};

} // namespace media_util
