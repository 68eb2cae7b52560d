#include "platform/CFrameControlElement.h"

#include <gtest/gtest.h>

using media_util::CFrameControlElement;
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
    CMediaObj v25 = Video(25000);
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
        {"not working", false, 1, {{1000, &v25, 0, 0}, {1001, &v25, 0, 0}}},
        {"sleep off", true, 0, {{1000, &v25, 0, 0}, {1001, &v25, 0, 0}}},
        {"first at once, next waits the rest", true, 1, {{1000, &v25, 0, 0}, {1010, &v25, 0, 30}}},
        {"on time needs no wait", true, 1, {{1000, &v25, 0, 0}, {1040, &v25, 0, 0}}},
        {"due time moves", true, 1, {{1000, &v25, 0, 0}, {1000, &v25, 0, 40}, {1040, &v25, 0, 40}}},
        {"backlog skips", true, 1, {{1000, &v25, 0, 0}, {1001, &v25, 6, 0}, {1002, &v25, 5, 39}}},
        {"capped", true, 1, {{1000, &slow, 0, 0}, {1000, &slow, 0, CFrameControlElement::kMaxSleepMs}}},
        {"no rate", true, 1, {{1000, &noRate, 0, 0}, {1000, &noRate, 0, 0}}},
        {"audio no wait", true, 1, {{1000, &v25, 0, 0}, {1001, &audio, 0, 0}, {1002, &v25, 0, 38}}},
        {"across the clock wrap", true, 1, {{0xFFFFFFF0u, &v25, 0, 0}, {0x8u, &v25, 0, 16}}},
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
    element.StartWork();
    EXPECT_EQ(0u, element.NextDelay(1001, &video, 0));
    EXPECT_EQ(39u, element.NextDelay(1002, &video, 0));
}
