// The channel's pacer: the wait it chooses after each object, with a clock
// the test moves by hand; what it shows, holds and destroys; and the channel
// event that ends a wait and the pacer at once.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "os/window/OffscreenWindow.h"
#include "pipeline/CFramePacer.h"
#include "platform/CMediaQueue.h"
#include "render/CDirectShowRenderer.h"

using media_util::CManualEvent;
using media_util::CMediaObj;
using media_util::CMediaQueue;

namespace {

// Time stands still unless the test moves it; waits return at once (true
// when one of the events is signalled) and are recorded.
class CFakeClock : public ISourceClock {
public:
    DWORD Now() override { return mNow; }
    bool WaitEvents(const CManualEvent* stop, const CManualEvent* owner, DWORD milliseconds) override {
        mWaits.push_back(milliseconds);
        return (stop != nullptr && stop->IsSignalled()) || (owner != nullptr && owner->IsSignalled());
    }
    DWORD mNow = 1000000;
    std::vector<DWORD> mWaits;
};

CMediaObj* Video(int32_t frameRate, int32_t frameNumber = 1) {
    auto* o = new CMediaObj();
    o->mVideoFormat = media_util::kVideoJpeg;
    o->mFrameRate = frameRate;
    o->mFrameNumber = frameNumber;
    return o;
}

CMediaObj* Audio() {
    auto* o = new CMediaObj();
    o->mAudioFormat = media_util::kAudioUlaw;
    return o;
}

TEST(CFramePacerTest, WaitFollowsFrameRateLatenessAndBacklog) {
    enum class Kind { Video, Audio, Empty };
    struct Case {
        const char* name;
        Kind kind;
        int32_t frameRate;
        int32_t frameNumber;
        DWORD late;      // ms after the frame was due
        int32_t waiting; // objects left in the queue behind it
        int32_t catchUp;
        DWORD wait;
    };
    const Case cases[] = {
        {"25 fps on time", Kind::Video, 25000, 1, 0, 0, 0, 40},
        {"12.5 fps on time", Kind::Video, 12500, 1, 0, 0, 0, 80},
        {"30 fps on time", Kind::Video, 30000, 1, 0, 0, 0, 33},
        {"negative frame rate counts as its size", Kind::Video, -25000, 1, 0, 0, 0, 40},
        {"10 ms late", Kind::Video, 25000, 1, 10, 0, 0, 30},
        {"50 ms late", Kind::Video, 25000, 1, 50, 0, 0, 1},
        {"exactly one interval late", Kind::Video, 25000, 1, 40, 0, 0, 1},
        {"catch-up with 6 queued", Kind::Video, 25000, 1, 0, 6, 1, 26},
        {"catch-up with 5 queued", Kind::Video, 25000, 1, 0, 5, 1, 40},
        {"6 queued without catch-up", Kind::Video, 25000, 1, 0, 6, 0, 40},
        {"no frame rate", Kind::Video, 0, 1, 0, 0, 0, 30},
        {"frame number -1 is not paced", Kind::Video, 25000, -1, 0, 0, 0, 30},
        {"audio", Kind::Audio, 0, 0, 0, 0, 0, 1},
        {"empty queue", Kind::Empty, 0, 0, 0, 0, 0, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFakeClock clock;
        CMediaQueue queue(100);
        CManualEvent channelEvent;
        CFramePacer pacer;
        pacer.SetTargets(nullptr, nullptr, &channelEvent, &queue);
        pacer.SetClock(&clock);
        pacer.mCatchUp = c.catchUp;
        // A first frame makes the due time "now".
        queue.Enque(Video(25000));
        ASSERT_TRUE(pacer.Step(true));
        ASSERT_EQ(clock.mNow, pacer.GetDueTime());
        clock.mNow += c.late;
        if (c.kind == Kind::Video)
            queue.Enque(Video(c.frameRate, c.frameNumber));
        if (c.kind == Kind::Audio)
            queue.Enque(Audio());
        for (int i = 0; i < c.waiting; ++i)
            queue.Enque(Video(25000));
        EXPECT_EQ(c.kind != Kind::Empty, pacer.Step(true));
        EXPECT_EQ(c.wait, pacer.GetLastWait());
        ASSERT_EQ(2u, clock.mWaits.size());
        EXPECT_EQ(c.wait, clock.mWaits[1]);
        EXPECT_EQ(c.waiting, queue.GetCount());
        // The frame held is the last video object taken.
        std::unique_ptr<CMediaObj> held(pacer.CloneHeldObject());
        ASSERT_NE(nullptr, held);
        EXPECT_EQ(c.kind == Kind::Video ? c.frameRate : 25000, held->mFrameRate);
        EXPECT_TRUE(pacer.IsRunning());
    }
}

TEST(CFramePacerTest, OnTimeFramesAreSpacedByTheirInterval) {
    // The pacer waits, then the next frame is due: each frame of a steady
    // stream gets the whole interval. The first frame has no due time and
    // counts as late; its 1 ms wait makes the second 1 ms late.
    CFakeClock clock;
    CMediaQueue queue(100);
    CFramePacer pacer;
    pacer.SetTargets(nullptr, nullptr, nullptr, &queue);
    pacer.SetClock(&clock);
    for (int i = 0; i < 5; ++i) {
        queue.Enque(Video(25000, i));
        pacer.Step(true);
        clock.mNow += pacer.GetLastWait();
    }
    const std::vector<DWORD> expected = {1, 39, 40, 40, 40};
    EXPECT_EQ(expected, clock.mWaits);
    EXPECT_EQ(1u, pacer.GetLateCount()); // only the first, which had no due time
}

TEST(CFramePacerTest, ChannelEventEndsTheWaitAndThePacer) {
    // A frame rate of one frame in 1000 s: a wait that did not end at once
    // would outlast the test's time limit.
    CMediaQueue queue(100);
    CManualEvent channelEvent;
    CFramePacer pacer;
    pacer.SetTargets(nullptr, nullptr, &channelEvent, &queue);
    queue.Enque(Video(25000));
    ASSERT_TRUE(pacer.Step(true)); // the first frame is late: 1 ms
    queue.Enque(Video(1));
    channelEvent.Set();
    EXPECT_TRUE(pacer.Step(true));
    EXPECT_FALSE(pacer.IsRunning());

    // On its own thread, idling on an empty queue.
    CManualEvent second;
    CFramePacer worker;
    worker.SetTargets(nullptr, nullptr, &second, &queue);
    ASSERT_EQ(1, worker.Start());
    second.Set();
    EXPECT_TRUE(worker.mStopEvent.Wait(10000));
    worker.Stop();
    EXPECT_EQ(0, worker.IsThreadWorking());
}

TEST(CFramePacerTest, WithoutAQueueThePacerStopsItself) {
    CFramePacer pacer;
    ASSERT_EQ(1, pacer.Start());
    EXPECT_TRUE(pacer.mStopEvent.Wait(10000));
}

TEST(CFramePacerTest, ShowsVideoThroughTheRendererAndStopsItWhenDestroyed) {
    os::OffscreenWindow window(64, 48);
    const RECT client{0, 0, 64, 48};
    CDirectShowRenderer renderer;
    CMediaObj display;
    display.mVideoFormat = 32;
    display.mWidth = 64;
    display.mHeight = -48;
    renderer.SetFormats(&display, &display);
    ASSERT_EQ(1, renderer.Start(&window, &client, 0));

    CFakeClock clock;
    CMediaQueue queue(100);
    auto pacer = std::make_unique<CFramePacer>();
    pacer->SetTargets(&renderer, nullptr, nullptr, &queue);
    pacer->SetClock(&clock);
    // A 64 x 48 picture in the display's own format: passed on as it is.
    auto picture = [](int32_t number) {
        CMediaObj* o = Video(25000, number);
        o->mVideoFormat = 32;
        o->mWidth = 64;
        o->mHeight = -48;
        o->AllocateData(64 * 48 * 4);
        std::memset(o->mpData, 0x80, 64 * 48 * 4);
        return o;
    };
    queue.Enque(picture(-1)); // not shown
    CMediaObj* audio = Audio();
    const uint64_t audioBytes = uint64_t(audio->mDataLength) + uint64_t(audio->mDataLength2);
    queue.Enque(audio); // not shown
    // A picture a shared decoder made counts the bytes of the frame it came
    // from; one without that count counts its own.
    CMediaObj* decoded = picture(1);
    decoded->mByteCount = 1500;
    queue.Enque(decoded);
    queue.Enque(picture(2));
    ASSERT_TRUE(pacer->Step(false));
    ASSERT_TRUE(pacer->Step(false));
    EXPECT_FALSE(pacer->HasShown());
    // The time of the first frame the renderer took, however late the host
    // looks: the host's first_frame_ms.
    const DWORD firstAt = clock.mNow += 70;
    ASSERT_TRUE(pacer->Step(false));
    clock.mNow += 40;
    while (pacer->Step(false)) {
    }
    EXPECT_TRUE(pacer->HasShown());
    EXPECT_EQ(firstAt, pacer->GetFirstShownTime());
    EXPECT_EQ(4u, pacer->GetTakenCount());
    EXPECT_EQ(2u, pacer->GetShownCount());
    EXPECT_EQ(2u * 64 * 48 * 4 + audioBytes + 1500, pacer->GetTakenBytes());
    std::unique_ptr<CMediaObj> held(pacer->CloneHeldObject());
    ASSERT_NE(nullptr, held);
    EXPECT_EQ(2, held->mFrameNumber);
    EXPECT_EQ(0x80, window.Snapshot()[0]);
    pacer.reset();
    EXPECT_FALSE(renderer.IsStarted());
}

} // namespace
