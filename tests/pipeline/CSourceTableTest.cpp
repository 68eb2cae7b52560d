// The shared source table against camsim over loopback: channels that want
// the same stream share one receiver (camsim counts one connection), each
// gets every frame, the last one to leave closes the stream and frees the
// slot; a receiver that stopped is never shared; and registrations race the
// running dispatchers (the ThreadSanitizer build runs this too).
#include "pipeline/CSourceTable.h"
#include "pipeline/CDecodedSource.h"
#include "pipeline/CLiveSource.h"

#include "fakes/CamsimProcess.h"
#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "platform/CMediaQueue.h"
#include "platform/CMemoryStream.h"
#include "render/CVideoDecoder.h"
#include "source/CHttpMediaSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <thread>

namespace {

using media_util::CMediaObj;
using media_util::CMediaQueue;
using Clock = std::chrono::steady_clock;

// How long a test waits for something that should happen within a second.
constexpr auto kPatience = std::chrono::seconds(15);

// A channel as the table sees it: a queue of its channel number and the
// description it registers.
struct SChannel {
    CMediaQueue queue{1000};
    media_util::CManualEvent arrived;
    CSourceDesc desc;

    SChannel(const std::string& url, int channel = 0) {
        queue.mChannel = channel;
        queue.SetNotifyEvent(&arrived);
        desc.SetUrlSource(url, CSourceDesc::kReceiveMultipart, "", "");
        desc.mClientKind = 1;
        desc.mRequestMode = CSourceDesc::kRequestContinuous;
        desc.mpQueue = &queue;
    }
    // Waits until at least n objects are queued; false when they did not come.
    bool WaitFor(int n) {
        const auto deadline = Clock::now() + kPatience;
        while (queue.GetCount() < n && Clock::now() < deadline) {
            arrived.Wait(100);
            arrived.Reset();
        }
        return queue.GetCount() >= n;
    }
    // Frame numbers of what is queued, in order, and empties the queue.
    std::vector<int32_t> TakeFrameNumbers() {
        std::vector<int32_t> numbers;
        while (CMediaObj* object = queue.Deque()) {
            numbers.push_back(object->mFrameNumber);
            delete object;
        }
        return numbers;
    }
};

// camsim's own count of its stream connections: open now and since start.
struct SStreams {
    int open = -1, total = -1;
};

SStreams StreamCount(int port) {
    media_util::CManualEvent cancel;
    CHttpLink* link = nullptr;
    IHttpClient* client = nullptr;
    CreateHttpClient(1, "", "", &cancel, &link, &client);
    std::unique_ptr<CHttpLink> linkOwner(link);
    std::unique_ptr<IHttpClient> clientOwner(client);
    CUrl url;
    url.Crack("http://127.0.0.1:" + std::to_string(port) + "/camsim/control?streams");
    std::string text;
    link->FetchText(url, text);
    SStreams counts;
    for (const char* key : {"open=", "total="}) {
        const size_t at = text.find(key);
        if (at != std::string::npos)
            (std::string(key) == "open=" ? counts.open : counts.total) =
                std::atoi(text.c_str() + at + strlen(key));
    }
    return counts;
}

// Waits until camsim has `open` stream connections open.
bool WaitForOpenStreams(int port, int open) {
    const auto deadline = Clock::now() + kPatience;
    while (StreamCount(port).open != open && Clock::now() < deadline)
        media_util::CManualEvent().Wait(50);
    return StreamCount(port).open == open;
}

std::string StreamUrl(const CamsimProcess& camsim) {
    return "http://127.0.0.1:" + std::to_string(camsim.Port()) + "/ipcam/mpeg4.cgi?language=1&ch=1";
}

TEST(CSourceTableTest, ChannelsOfOneStreamShareOneReceiver) {
    CamsimProcess camsim({"--device", "cam-mpeg4-4752"});
    ASSERT_TRUE(camsim.Ok());
    CSourceTable table;
    SChannel first(StreamUrl(camsim)), second(StreamUrl(camsim));
    const int slot = table.Register(&first.desc, true, CSharedSource::kTypeLive, nullptr);
    ASSERT_EQ(slot, 0);
    EXPECT_EQ(table.EnsureRunning(slot), 1);
    ASSERT_TRUE(first.WaitFor(5));
    // The second joins the running stream: same slot, no second connection.
    EXPECT_EQ(table.Register(&second.desc, true, CSharedSource::kTypeLive, nullptr), slot);
    EXPECT_EQ(second.desc.mSlot, slot);
    EXPECT_EQ(table.GetLiveCount(), 1);
    first.TakeFrameNumbers();
    ASSERT_TRUE(second.WaitFor(10));
    ASSERT_TRUE(first.WaitFor(10));
    EXPECT_TRUE(WaitForOpenStreams(camsim.Port(), 1));
    EXPECT_EQ(StreamCount(camsim.Port()).total, 1);
    // Both get every frame from the moment the second joined: what the first
    // got since it was last emptied is what the second got from there on.
    auto a = first.TakeFrameNumbers(), b = second.TakeFrameNumbers();
    ASSERT_FALSE(a.empty());
    auto at = std::find(b.begin(), b.end(), a.front());
    ASSERT_NE(at, b.end());
    const size_t common = std::min<size_t>(static_cast<size_t>(b.end() - at), a.size());
    EXPECT_GE(common, 5u);
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + static_cast<long>(common), at));

    // One leaves: the other goes on.
    EXPECT_EQ(table.Unregister(slot, &first.queue), 1);
    EXPECT_EQ(table.GetLiveCount(), 1);
    ASSERT_TRUE(second.WaitFor(static_cast<int>(second.queue.GetCount()) + 5));
    // The last leaves: the stream closes and the slot is free.
    EXPECT_EQ(table.Unregister(slot, &second.queue), 1);
    EXPECT_EQ(table.GetLiveCount(), 0);
    EXPECT_TRUE(WaitForOpenStreams(camsim.Port(), 0));
    SChannel third(StreamUrl(camsim));
    EXPECT_EQ(table.Register(&third.desc, true, CSharedSource::kTypeLive, nullptr), 0);
    EXPECT_EQ(table.Unregister(0, &third.queue), 1);
}

TEST(CSourceTableTest, SlotsAreReusedLastFreedFirstAndShareFalseMakesItsOwn) {
    CamsimProcess camsim({"--device", "cam-mpeg4-4752"});
    ASSERT_TRUE(camsim.Ok());
    CSourceTable table;
    const std::string base = "http://127.0.0.1:" + std::to_string(camsim.Port());
    SChannel a(base + "/ipcam/mpeg4.cgi?ch=1"), b(base + "/ipcam/mpeg4.cgi?ch=1&x=2"),
        c(base + "/ipcam/mpeg4.cgi?ch=1&x=3"), own(base + "/ipcam/mpeg4.cgi?ch=1");
    EXPECT_EQ(table.Register(&a.desc, true, CSharedSource::kTypeLive, nullptr), 0);
    EXPECT_EQ(table.Register(&b.desc, true, CSharedSource::kTypeLive, nullptr), 1);
    EXPECT_EQ(table.Register(&c.desc, true, CSharedSource::kTypeLive, nullptr), 2);
    // The same URL as a, but not shared: a source of its own.
    EXPECT_EQ(table.Register(&own.desc, false, CSharedSource::kTypeLive, nullptr), 3);
    EXPECT_EQ(table.GetLiveCount(), 4);
    EXPECT_TRUE(WaitForOpenStreams(camsim.Port(), 4));
    table.Unregister(0, &a.queue);
    table.Unregister(2, &c.queue);
    SChannel d(base + "/ipcam/mpeg4.cgi?ch=1&x=4"), e(base + "/ipcam/mpeg4.cgi?ch=1&x=5");
    EXPECT_EQ(table.Register(&d.desc, true, CSharedSource::kTypeLive, nullptr), 2);
    EXPECT_EQ(table.Register(&e.desc, true, CSharedSource::kTypeLive, nullptr), 0);
    // Out of range and null queues change nothing.
    EXPECT_EQ(table.Unregister(9, &d.queue), 0);
    EXPECT_EQ(table.Unregister(2, nullptr), 0);
    EXPECT_EQ(table.EnsureRunning(9), 0);
    SChannel none(base + "/");
    none.desc.mpQueue = nullptr;
    EXPECT_EQ(table.Register(&none.desc, true, CSharedSource::kTypeLive, nullptr), -1);
    for (auto [slot, channel] : std::vector<std::pair<int, SChannel*>>{{0, &e}, {1, &b}, {2, &d}, {3, &own}})
        table.Unregister(slot, &channel->queue);
    EXPECT_EQ(table.GetLiveCount(), 0);
    EXPECT_EQ(table.GetSlotCount(), 0);
}

TEST(CSourceTableTest, AStoppedReceiverIsNotShared) {
    // The device refuses the stream: the receiver stops itself, and the next
    // channel that wants the stream gets a source of its own.
    CamsimProcess camsim({"--device", "cam-mpeg4-4752", "--fault", "refuse=1"});
    ASSERT_TRUE(camsim.Ok());
    CSourceTable table;
    SChannel first(StreamUrl(camsim)), second(StreamUrl(camsim));
    const int slot = table.Register(&first.desc, true, CSharedSource::kTypeLive, nullptr);
    ASSERT_GE(slot, 0);
    CSharedSource* source = nullptr;
    table.ForEach([&](int, CSharedSource& s) { source = &s; });
    auto* live = dynamic_cast<CLiveSource*>(source);
    ASSERT_NE(live, nullptr);
    const auto deadline = Clock::now() + kPatience;
    while (live->GetReceiver()->IsThreadWorking() && Clock::now() < deadline)
        media_util::CManualEvent().Wait(20);
    ASSERT_FALSE(live->GetReceiver()->IsRunning());
    EXPECT_NE(table.Register(&second.desc, true, CSharedSource::kTypeLive, nullptr), slot);
    EXPECT_EQ(table.GetLiveCount(), 2);
    table.Unregister(first.desc.mSlot, &first.queue);
    table.Unregister(second.desc.mSlot, &second.queue);
}

TEST(CSourceTableTest, ALateJoinerGetsTheStreamConfigurationFirst) {
    // MPEG-4 and H.264 cameras: a channel that joins after the key frame
    // first receives the configuration split off it (frame kind 1, no
    // picture), so that its decoder can start at the next key frame.
    for (const char* model : {"cam-mpeg4-4752", "dvr-h264-8775"}) {
        SCOPED_TRACE(model);
        CamsimProcess camsim({"--device", model});
        ASSERT_TRUE(camsim.Ok());
        const std::string url =
            std::string(model) == "cam-mpeg4-4752"
                ? StreamUrl(camsim)
                : "http://127.0.0.1:" + std::to_string(camsim.Port()) + "/avc.cgi?op.liveimage=1&ch=1";
        CSourceTable table;
        // Queues of channel 1, as a viewer of channel 1 has.
        SChannel first(url, 1), late(url, 1);
        const int slot = table.Register(&first.desc, true, CSharedSource::kTypeLive, nullptr);
        ASSERT_TRUE(first.WaitFor(3));
        bool keyFrameSeen = false;
        while (CMediaObj* object = first.queue.Deque()) {
            keyFrameSeen |= object->mFrameKind == media_util::kFrameKeyWithConfig;
            delete object;
        }
        ASSERT_TRUE(keyFrameSeen) << "the stream starts with a configuration-carrying key frame";
        ASSERT_EQ(table.Register(&late.desc, true, CSharedSource::kTypeLive, nullptr), slot);
        ASSERT_TRUE(late.WaitFor(1));
        CMediaObj* config = late.queue.Deque();
        ASSERT_NE(config, nullptr);
        EXPECT_EQ(config->mFrameKind, media_util::kFrameKeyWithConfig);
        EXPECT_GT(config->mDataSize, 0);
        EXPECT_LT(config->mDataSize, 200); // the parameter sets, no picture
        delete config;
        table.Unregister(slot, &first.queue);
        table.Unregister(slot, &late.queue);
    }
}

TEST(CSourceTableTest, DecodedSharingGivesEveryChannelItsPictures) {
    // The two-stream recorder: channels 1+2 and 3+4 in two streams, two
    // channels per picture. Four channels on decoded sources: two streams
    // open, every channel gets pictures of its own number.
    CamsimProcess camsim({"--device", "dvr-h264-5138"});
    ASSERT_TRUE(camsim.Ok());
    const std::string base = "http://127.0.0.1:" + std::to_string(camsim.Port()) + "/avc.cgi?op.liveimage=";
    media_util::CMediaObj input, output;
    input.mVideoFormat = media_util::kVideoH264QBox;
    input.mWidth = 720;
    input.mHeight = 1162;
    output.mVideoFormat = 120;
    output.mWidth = 720;
    output.mHeight = -1162;
    CVideoDecoder spec;
    spec.Setup(&input, &output);
    CSourceTable table;
    std::vector<std::unique_ptr<SChannel>> channels;
    for (int channel = 1; channel <= 4; ++channel) {
        channels.push_back(std::make_unique<SChannel>(base + (channel <= 2 ? "0011" : "1100"), channel));
        channels.back()->desc.mMachineCode = 5138;
        ASSERT_GE(table.Register(&channels.back()->desc, true, CSharedSource::kTypeDecoded, &spec), 0);
    }
    EXPECT_EQ(channels[0]->desc.mSlot, channels[1]->desc.mSlot);
    EXPECT_EQ(channels[2]->desc.mSlot, channels[3]->desc.mSlot);
    EXPECT_NE(channels[0]->desc.mSlot, channels[2]->desc.mSlot);
    EXPECT_EQ(table.GetLiveCount(), 4); // two decoded sources and their live sources
    for (int channel = 1; channel <= 4; ++channel) {
        SChannel& c = *channels[static_cast<size_t>(channel - 1)];
        SCOPED_TRACE(channel);
        ASSERT_TRUE(c.WaitFor(5));
        while (CMediaObj* picture = c.queue.Deque()) {
            EXPECT_EQ(picture->mChannel, channel);
            EXPECT_EQ(picture->mVideoFormat, 120);
            EXPECT_EQ(picture->mDataSize, static_cast<int32_t>(CVideoDecoder::PictureSize(120, 720, -1162) +
                                                               CVideoDecoder::kPictureSlack));
            delete picture;
        }
    }
    EXPECT_TRUE(WaitForOpenStreams(camsim.Port(), 2));
    for (auto& c : channels)
        table.Unregister(c->desc.mSlot, &c->queue);
    EXPECT_EQ(table.GetLiveCount(), 0);
    EXPECT_TRUE(WaitForOpenStreams(camsim.Port(), 0));
}

TEST(CSourceTableTest, ARecorderStreamOfSixteenChannelsGoesThroughOneSource) {
    // 16 channels at 25 fps in one stream: 400 objects a second through one
    // receiver and one dispatcher, every channel's queue fed, nothing lost.
    CamsimProcess camsim({"--device", "dvr-h264-8777", "--fps", "25", "--preencode", "5"});
    ASSERT_TRUE(camsim.Ok());
    const std::string url =
        "http://127.0.0.1:" + std::to_string(camsim.Port()) + "/avc.cgi?op.liveimage=1111111111111111";
    CSourceTable table;
    std::vector<std::unique_ptr<SChannel>> channels;
    for (int channel = 1; channel <= 16; ++channel) {
        channels.push_back(std::make_unique<SChannel>(url, channel));
        ASSERT_EQ(table.Register(&channels.back()->desc, true, CSharedSource::kTypeLive, nullptr), 0);
    }
    ASSERT_TRUE(channels.front()->WaitFor(1));
    for (auto& c : channels)
        c->queue.Clear();
    const auto start = Clock::now();
    media_util::CManualEvent().Wait(3000);
    int64_t objects = 0;
    for (auto& c : channels) {
        objects += c->queue.GetCount();
        EXPECT_EQ(c->queue.mDropCount.load(), 0);
        EXPECT_GE(c->queue.GetCount(), 50) << "channel " << c->queue.mChannel.load();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("16 channels: %.0f objects/s through one source\n", objects / seconds);
    EXPECT_EQ(table.GetLiveCount(), 1);
    for (auto& c : channels)
        table.Unregister(0, &c->queue);
}

TEST(CSourceTableTest, DecodedSourcesMatchUpToTheQuery) {
    struct SCase {
        const char* url;
        int32_t machineCode;
        const char* shared;
    };
    const SCase cases[] = {
        {"http://h:1/ipcam/mpeg4.cgi?language=1&ch=1", 4752, "http://h:1/ipcam/mpeg4.cgi"},
        {"http://h:1/ipcam/mpeg4.cgi", 4752, "http://h:1/ipcam/mpeg4.cgi"},
        {"?a=1", 4752, "?a=1"},
        // The two-stream recorder names its stream in the query: the "?" and
        // the 16 characters after it stay when there is more.
        {"http://h:1/avc.cgi?op.liveimage=0011&x=1", 5138, "http://h:1/avc.cgi?op.liveimage=001"},
        {"http://h:1/avc.cgi?op.liveimage=1100", 5138, "http://h:1/avc.cgi?op.liveimage=110"},
        {"http://h:1/avc.cgi?op.liveimage=", 5138, "http://h:1/avc.cgi"},
    };
    for (const SCase& c : cases)
        EXPECT_EQ(CDecodedSource::SharedPart(c.url, c.machineCode), c.shared) << c.url;
}

TEST(CSourceTableTest, RegistrationsRaceTheRunningDispatchers) {
    CamsimProcess camsim({"--device", "cam-mpeg4-4752"});
    ASSERT_TRUE(camsim.Ok());
    CSourceTable table;
    SChannel anchor(StreamUrl(camsim));
    const int slot = table.Register(&anchor.desc, true, CSharedSource::kTypeLive, nullptr);
    ASSERT_GE(slot, 0);
    std::atomic<int> delivered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 20; ++round) {
                SChannel channel(StreamUrl(camsim));
                if (table.Register(&channel.desc, true, CSharedSource::kTypeLive, nullptr) != slot)
                    ADD_FAILURE() << "a running stream was not shared";
                channel.arrived.Wait(50);
                delivered += channel.queue.GetCount();
                table.Unregister(channel.desc.mSlot, &channel.queue);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_GT(delivered.load(), 0);
    EXPECT_EQ(table.GetLiveCount(), 1);
    EXPECT_EQ(StreamCount(camsim.Port()).total, 1);
    table.Unregister(slot, &anchor.queue);
}

} // namespace
