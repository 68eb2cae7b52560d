#include "platform/CFrameControlMediaQueue.h"

#include <gtest/gtest.h>

using media_util::CFrameControlElement;
using media_util::CFrameControlMediaQueue;
using media_util::CMediaObj;

namespace {

CMediaObj Video(int32_t frameRate) {
    CMediaObj o;
    o.mVideoFormat = media_util::kVideoMpeg4;
    o.mFrameRate = frameRate;
    return o;
}

} // namespace

TEST(CFrameControlElementTest, DelaysSpaceVideoByItsFrameTimeOnlyWhileWorkingWithSleep) {
    CMediaObj video25 = Video(25000);
    CMediaObj slow = Video(100); // 0.1 fps: capped
    CMediaObj noRate = Video(0);
    CMediaObj audio;
    audio.mAudioFormat = media_util::kAudioUlaw;
    struct Step {
        DWORD now;
        const CMediaObj* object;
        int32_t backlog;
        DWORD delay;
    };
    struct Case {
        const char* name;
        bool work;
        int useSleep;
        std::vector<Step> steps;
    } cases[] = {
        {"not working", false, 1, {{1000, &video25, 0, 0}, {1001, &video25, 0, 0}}},
        {"sleep off", true, 0, {{1000, &video25, 0, 0}, {1001, &video25, 0, 0}}},
        {"first goes at once, next waits the rest",
         true,
         1,
         {{1000, &video25, 0, 0}, {1010, &video25, 0, 30}}},
        {"on time needs no wait",
         true,
         1,
         {{1000, &video25, 0, 0}, {1040, &video25, 0, 0}, {1100, &video25, 0, 0}}},
        {"due time follows the delay",
         true,
         1,
         {{1000, &video25, 0, 0}, {1000, &video25, 0, 40}, {1040, &video25, 0, 40}}},
        {"backlog skips the wait",
         true,
         1,
         {{1000, &video25, 0, 0}, {1001, &video25, 6, 0}, {1002, &video25, 5, 39}}},
        {"capped", true, 1, {{1000, &slow, 0, 0}, {1000, &slow, 0, CFrameControlElement::kMaxSleepMs}}},
        {"no rate", true, 1, {{1000, &noRate, 0, 0}, {1000, &noRate, 0, 0}}},
        {"audio never waits",
         true,
         1,
         {{1000, &video25, 0, 0}, {1001, &audio, 0, 0}, {1002, &video25, 0, 38}}},
        {"across the clock wrap", true, 1, {{0xFFFFFFF0u, &video25, 0, 0}, {0x8u, &video25, 0, 16}}},
        {"null", true, 1, {{1000, nullptr, 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFrameControlElement element;
        element.SetUseSleep(c.useSleep);
        if (c.work)
            element.StartWork();
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            EXPECT_EQ(s.delay, element.NextDelay(s.now, s.object, s.backlog)) << "step " << i;
        }
    }
}

TEST(CFrameControlElementTest, RestartingWorkForgetsTheLastHandOut) {
    CFrameControlElement element;
    CMediaObj video = Video(25000);
    element.StartWork();
    EXPECT_EQ(0u, element.NextDelay(1000, &video, 0));
    element.StopWork();
    EXPECT_EQ(0, element.IsWorking());
    element.StartWork();
    EXPECT_EQ(0u, element.NextDelay(1001, &video, 0));
    EXPECT_EQ(39u, element.NextDelay(1002, &video, 0));
}

TEST(CFrameControlMediaQueueTest, DequeWithoutSleepHandsOutEverythingInOrder) {
    CFrameControlMediaQueue queue;
    queue.mFrameControl.SetUseSleep(0);
    queue.mFrameControl.StartWork();
    for (int i = 0; i < 5; ++i) {
        auto* o = new CMediaObj(Video(1)); // would wait a minute each if sleeping
        o->mFrameNumber = i;
        ASSERT_TRUE(queue.Enque(o));
    }
    for (int i = 0; i < 5; ++i) {
        CMediaObj* o = queue.Deque();
        ASSERT_NE(nullptr, o);
        EXPECT_EQ(i, o->mFrameNumber);
        delete o;
    }
    EXPECT_EQ(5, queue.mFrameControl.GetFramesPaced());
    EXPECT_EQ(-1, queue.mMachineCode.load());
    EXPECT_EQ(0, queue.mSourcePresent.load());
}
