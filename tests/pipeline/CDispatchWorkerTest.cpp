// The dispatcher's fan-out: one pass at a time on the test's thread (Job), so
// every case is exact; and its own thread where its pace is what matters.
#include "pipeline/CDispatchWorker.h"

#include "platform/CMediaQueue.h"
#include "platform/Trace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using media_util::CMediaObj;
using media_util::CMediaQueue;

// An MPEG-4 key frame that carries its configuration: video object, VOL,
// then the VOP.
std::unique_ptr<CMediaObj> Mpeg4Key(int channel, int mask, uint8_t marker) {
    auto object = std::make_unique<CMediaObj>();
    object->mVideoFormat = media_util::kVideoMpeg4;
    object->mFrameKind = media_util::kFrameKeyWithConfig;
    object->mChannel = channel;
    object->mChannelMask = mask;
    const uint8_t bytes[] = {0, 0, 1, 0x01, 0, 0, 1, 0x20, marker, marker, 0, 0, 1, 0xB6, 0x10, 0x22};
    object->CopyData(bytes, sizeof bytes);
    return object;
}

std::unique_ptr<CMediaObj> Frame(int format, int channel, int mask, uint8_t marker) {
    auto object = std::make_unique<CMediaObj>();
    object->mVideoFormat = format;
    object->mFrameKind = media_util::kFramePredicted;
    object->mChannel = channel;
    object->mChannelMask = mask;
    const uint8_t bytes[] = {0, 0, 1, 0xB6, 0x40, marker};
    object->CopyData(bytes, sizeof bytes);
    return object;
}

struct SRig {
    CMediaQueue input{100};
    CDispatchWorker worker;
    std::vector<std::unique_ptr<CMediaQueue>> queues;

    SRig() { worker.SetInputQueue(&input); }
    CMediaQueue* Queue(int channel, int limit = 60) {
        queues.push_back(std::make_unique<CMediaQueue>(limit));
        queues.back()->mChannel = channel;
        return queues.back().get();
    }
    // Queues object and runs the pass that takes it.
    void Pass(std::unique_ptr<CMediaObj> object) {
        ASSERT_TRUE(input.Enque(object.release()));
        ASSERT_EQ(worker.Job(), 1);
    }
};

// What a queue holds, each object as "channel:last data byte".
std::string Contents(CMediaQueue& queue) {
    std::string text;
    while (CMediaObj* object = queue.Deque()) {
        text += (text.empty() ? "" : " ") + std::to_string(object->mChannel) + ":" +
                std::to_string(object->mpData[object->mDataLength - 1]);
        delete object;
    }
    return text;
}

TEST(CDispatchWorkerTest, ChannelFiltersAndMasksGiveEachQueueItsFramesOnce) {
    SRig rig;
    CMediaQueue* all = rig.Queue(0);
    CMediaQueue* one = rig.Queue(1);
    CMediaQueue* three = rig.Queue(3);
    CMediaQueue* inactive = rig.Queue(0);
    inactive->mInactive = 1;
    rig.worker.AddQueue(all);
    rig.worker.AddQueue(one);
    rig.worker.AddQueue(one); // once only
    rig.worker.AddQueue(three);
    rig.worker.AddQueue(inactive);
    EXPECT_EQ(rig.worker.GetQueueCount(), 4);
    rig.Pass(Frame(media_util::kVideoMpeg4, 1, 0, 10));
    rig.Pass(Frame(media_util::kVideoMpeg4, 3, 0, 11));
    rig.Pass(Frame(media_util::kVideoMpeg4, 0, 0, 12)); // a single-channel device: everyone
    // Channels 1 and 3 in one picture: each accepting queue once, unchanged.
    rig.Pass(Frame(media_util::kVideoMpeg4, 1, 0b101, 13));
    rig.Pass(Frame(media_util::kVideoMpeg4, 2, 0b010, 14));
    EXPECT_EQ(Contents(*all), "1:10 3:11 0:12 1:13 2:14");
    EXPECT_EQ(Contents(*one), "1:10 0:12 1:13");
    EXPECT_EQ(Contents(*three), "3:11 0:12 1:13");
    EXPECT_EQ(Contents(*inactive), "");

    rig.worker.RemoveQueue(rig.Queue(5)); // not registered: nothing changes
    rig.worker.RemoveQueue(one);
    EXPECT_EQ(rig.worker.GetQueueCount(), 3);
    rig.Pass(Frame(media_util::kVideoMpeg4, 1, 0, 15));
    EXPECT_EQ(Contents(*one), "");
    EXPECT_EQ(Contents(*all), "1:15");
}

TEST(CDispatchWorkerTest, LateJoinersGetTheCachedConfigurationFirst) {
    std::string traced;
    media_util::SetTraceSink([](const char* text, void* sink) { *static_cast<std::string*>(sink) += text; },
                             &traced);
    SRig rig;
    // No destination yet: frames are still taken, configurations still kept.
    rig.Pass(Mpeg4Key(2, 0, 7));
    rig.Pass(Frame(media_util::kVideoMpeg4, 2, 0, 20));
    // A configuration for channels 1 and 3 of a two-channel picture.
    rig.Pass(Mpeg4Key(1, 0b101, 8));
    // JPEG is never split, whatever its kind says.
    auto jpeg = Frame(media_util::kVideoJpeg, 4, 0, 21);
    jpeg->mFrameKind = media_util::kFrameKeyWithConfig;
    rig.Pass(std::move(jpeg));
    EXPECT_EQ(rig.input.GetCount(), 0);
    EXPECT_EQ(rig.worker.GetConfig(2).mDataSize, 10); // video object and VOL, not the VOP
    EXPECT_EQ(rig.worker.GetConfig(4).mDataSize, 0);
    EXPECT_EQ(rig.worker.GetConfig(1).mChannel, 1);
    EXPECT_EQ(rig.worker.GetConfig(3).mChannel, 3);

    struct SCase {
        int channel;
        std::string first; // what the queue holds once registered
        std::string trace;
    };
    const SCase cases[] = {{2, "2:7", "CDispatchWorker::AddQueue Enque VOL ch:2\n"},
                           {3, "3:8", "CDispatchWorker::AddQueue Enque VOL ch:3\n"},
                           {4, "", ""},
                           {-1, "", ""}};
    // (Channel 0 has no configuration here; with one, channel 4 would get it.)
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.channel);
        traced.clear();
        CMediaQueue* queue = rig.Queue(c.channel);
        rig.worker.AddQueue(queue);
        EXPECT_EQ(Contents(*queue), c.first);
        EXPECT_EQ(traced, c.trace);
    }
    // A single-channel device's configuration (channel 0) serves a queue of
    // any channel that has none of its own.
    rig.Pass(Mpeg4Key(0, 0, 9));
    CMediaQueue* four = rig.Queue(4);
    rig.worker.AddQueue(four);
    EXPECT_EQ(Contents(*four), "0:9");
    CMediaQueue* two = rig.Queue(2);
    rig.worker.AddQueue(two);
    EXPECT_EQ(Contents(*two), "2:7");
    media_util::SetTraceSink(nullptr, nullptr);
}

TEST(CDispatchWorkerTest, AFullQueueLosesTheNewestOnlyForItself) {
    SRig rig;
    CMediaQueue* small = rig.Queue(0, 2);
    CMediaQueue* large = rig.Queue(0, 60);
    rig.worker.AddQueue(small);
    rig.worker.AddQueue(large);
    for (uint8_t i = 0; i < 4; ++i)
        rig.Pass(Frame(media_util::kVideoJpeg, 0, 0, i));
    EXPECT_EQ(Contents(*small), "0:0 0:1");
    EXPECT_EQ(small->mDropCount.load(), 2);
    EXPECT_EQ(Contents(*large), "0:0 0:1 0:2 0:3");
}

// A recorder streams every channel through one source: the worker must not
// wait between objects while some are queued. 300 objects at the old pace
// of one per 10 ms would take three seconds.
TEST(CDispatchWorkerTest, QueuedObjectsGoThroughWithoutWaitsBetweenThem) {
    SRig rig;
    CMediaQueue* out = rig.Queue(0, 1000);
    media_util::CManualEvent arrived;
    out->SetNotifyEvent(&arrived);
    rig.worker.AddQueue(out);
    rig.worker.Start();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 300; ++i) {
        auto frame = Frame(media_util::kVideoJpeg, 0, 0, 1);
        while (!rig.input.Enque(frame.get()))
            arrived.Wait(5); // the input is full: the worker is behind
        frame.release();
    }
    while (out->GetCount() < 300 && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        arrived.Wait(100);
        arrived.Reset();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    rig.worker.Stop();
    EXPECT_EQ(out->GetCount(), 300);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1500);
}

} // namespace
