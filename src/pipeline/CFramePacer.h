// The pacing worker of one display channel: takes what the dispatcher put on
// the channel's queue, hands video objects to the channel's video renderer
// and sleeps between them by the frame rate each object carries, shortening
// the sleep when frames come late or the queue backs up.
//
// The wait after an object (Step):
//   - nothing queued: kIdleWaitMs;
//   - an audio object: kAudioWaitMs (audio is not shown here: the object is
//     destroyed);
//   - a video object with frame number < 0: not shown, kIdleWaitMs;
//   - a video object with a frame rate r (thousandths of a frame per second):
//     the interval 1,000,000 / |r| ms less how late the frame is against the
//     due time (kLateWaitMs when it is later than a whole interval); with
//     catch-up on and more than kCatchUpQueued objects waiting, two thirds of
//     that; the next frame is due when the wait ends;
//   - a video object without a frame rate: kIdleWaitMs.
// Waits are event waits on the pacer's stop event and the channel's event:
// either ends the wait at once and stops the pacer.
//
// The last video object handled is held (a picture for a repaint or a
// snapshot) until the next one replaces it.
//
// Time: through an ISourceClock (the real one unless a test sets another),
// so that pacing is tested without sleeping.
//
// Threads: the pacer's own thread runs Job / Step; the owner (the channel)
// sets the targets before it starts the thread and stops it before it
// destroys the pacer. The held object is guarded by mLock; the counters may
// be read from any thread.
#pragma once

#include "platform/CCritSection.h"
#include "platform/CManualEvent.h"
#include "platform/CMediaObj.h"
#include "platform/CThreadWorker.h"
#include "platform/IMediaQueue.h"
#include "source/ISourceClock.h"

#include <atomic>
#include <cstdint>

class CDirectShowRenderer;

class CFramePacer : public media_util::CThreadWorker {
public:
    // Wait after an empty queue, a frame without a frame rate, or a frame
    // that is not shown.
    static constexpr DWORD kIdleWaitMs = 30;
    // Wait after an audio object and after a frame later than its interval.
    static constexpr DWORD kAudioWaitMs = 1;
    static constexpr DWORD kLateWaitMs = 1;
    // Catch-up cuts the wait when more than this many objects are queued.
    static constexpr int32_t kCatchUpQueued = 5;

    CFramePacer();
    // Stops both renderers' graphs and the thread, then destroys the held object.
    ~CFramePacer() override;

    // The channel's video renderer and audio renderer (may be null), the
    // channel's event and its queue; none is owned.
    void SetTargets(CDirectShowRenderer* video, CDirectShowRenderer* audio,
                    media_util::CManualEvent* channelEvent, media_util::IMediaQueue* input);
    // The clock of the waits (not owned); null puts the real one back.
    void SetClock(ISourceClock* clock);

    int Job() override;
    int Init() override { return 0; }
    int Final() override { return 0; }

    // One pass; with wait false it computes the wait but does not wait.
    // True when an object was taken from the queue.
    bool Step(bool wait);

    // Non-zero: cut waits while the queue backs up. The viewer's open sets
    // it once the channel's pipeline is built.
    std::atomic<int32_t> mCatchUp{0};

    // --- For the owner and tests ---
    // The wait the last Step chose, and the due time it left.
    DWORD GetLastWait() const { return mLastWait.load(); }
    DWORD GetDueTime() const { return mDueTime.load(); }
    // Objects taken, frames the renderer took, frames later than their interval.
    uint64_t GetTakenCount() const { return mTaken.load(); }
    uint64_t GetShownCount() const { return mShown.load(); }
    uint64_t GetLateCount() const { return mLate.load(); }
    // Bytes of the objects taken (of a decoded picture: the stream's bytes
    // it was decoded from), and the video key frames among them (a JPEG
    // frame is one), for a host's progress report.
    uint64_t GetTakenBytes() const { return mTakenBytes.load(); }
    uint64_t GetKeyFrameCount() const { return mKeyFrames.load(); }
    // The pacer clock's time (timeGetTime) at which the renderer took the
    // first frame, and whether it has: what a host measures its time to the
    // first frame by, without polling for it.
    bool HasShown() const { return mShown.load() > 0; }
    DWORD GetFirstShownTime() const { return mFirstShownAt.load(); }
    // A copy of the held object (the caller owns it), or null.
    media_util::CMediaObj* CloneHeldObject();

private:
    DWORD ComputeWait(const media_util::CMediaObj& object);

    CDirectShowRenderer* mpVideoRenderer = nullptr;     // not owned
    CDirectShowRenderer* mpAudioRenderer = nullptr;     // not owned
    media_util::IMediaQueue* mpInputQueue = nullptr;    // not owned
    media_util::CManualEvent* mpChannelEvent = nullptr; // not owned
    std::atomic<DWORD> mDueTime{0};
    media_util::CCritSection mLock;
    media_util::CMediaObj* mpHeld = nullptr; // owned; guarded by mLock
    ISourceClock* mpClock;                   // not owned
    std::atomic<DWORD> mLastWait{0};
    std::atomic<uint64_t> mTaken{0};
    std::atomic<uint64_t> mShown{0};
    std::atomic<uint64_t> mLate{0};
    std::atomic<uint64_t> mTakenBytes{0};
    std::atomic<uint64_t> mKeyFrames{0};
    std::atomic<DWORD> mFirstShownAt{0}; // written before mShown first counts
};
