#include "source/CSnapshotSource.h"

#include "DeviceJpeg.h"
#include "FakeStreamClient.h"
#include "platform/CMediaQueue.h"

#include <gtest/gtest.h>

#include <memory>

using media_util::CMediaObj;

namespace {

constexpr int kVideoServer4 = 0x3004;   // video-standard server, 4 inputs, polled
constexpr int kRecorderPolled = 0x1404; // multi-channel recorder, polled

struct SRig {
    SStreamScript script;
    CFakeSourceClock clock;
    media_util::CMediaQueue queue{1000};
    media_util::CManualEvent listener;
    CSourceDesc desc;
    std::unique_ptr<CSnapshotSource> source = std::make_unique<CSnapshotSource>();
    // What the device answers: a picture reporting this channel mask, of
    // this size, after this many milliseconds.
    int mask = 0;
    size_t bodyBytes = 6000;
    DWORD fetchMs = 0;
    bool refuse = false;

    SRig(int machineCode, const std::string& url, const std::string& suffix = "") {
        desc.SetUrlSource(url, 2, "admin", "pw");
        desc.mClientKind = 1;
        desc.mMachineCode = machineCode;
        desc.mPathSuffix = suffix;
        desc.mRequestMode = CSourceDesc::kRequestContinuous;
        desc.mPacingMode = CSourceDesc::kPacingFrameTime;
        desc.mpListener = &listener;
        script.handler = [this](const std::string& path) {
            clock.Advance(fetchMs);
            SStreamConnection c;
            c.refuse = refuse;
            SDeviceJpeg jpeg;
            jpeg.machineCode = kVideoServer4;
            jpeg.channelMask = uint8_t(mask);
            jpeg.channel = 3;
            jpeg.totalBytes = bodyBytes;
            c.body = bodyBytes == 0 ? std::string() : jpeg.Build().substr(0, bodyBytes);
            (void)path;
            return c;
        };
        source->SetClientFactory(MakeScriptedFactory(script));
        source->SetClock(&clock);
        source->SetOutputQueue(&queue);
    }
    void Start() {
        ASSERT_TRUE(source->ApplySettings(&desc));
        source->Init();
    }
    std::vector<std::unique_ptr<CMediaObj>> Drain() {
        std::vector<std::unique_ptr<CMediaObj>> out;
        while (CMediaObj* o = queue.Deque())
            out.emplace_back(o);
        return out;
    }
};

TEST(CSnapshotSourceTest, ChannelWalkFollowsTheMask) {
    struct SCase {
        const char* name;
        int mask;
        std::vector<std::string> paths;
        std::vector<uint32_t> events;
    };
    const std::string p = "/jpg/ch";
    const std::vector<SCase> cases = {
        {"all four", 15, {p + "01", p + "02", p + "03", p + "04", p + "01", p + "02"}, {}},
        {"mask 0 asks channel 1", 0, {p + "01", p + "01", p + "01", p + "01", p + "01", p + "01"}, {}},
        {"channels 1 and 3",
         5,
         {p + "01", p + "03", p + "01"},
         {CMediaSource::PackEvent(3, 2), CMediaSource::PackEvent(3, 4), CMediaSource::PackEvent(3, 2)}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig(kVideoServer4, "http://127.0.0.1/jpg/ch", "/image.jpg");
        rig.mask = c.mask;
        rig.Start();
        EXPECT_TRUE(rig.source->IsMultiChannel());
        EXPECT_EQ(rig.source->GetChannelCount(), 4);
        for (int i = 0; i < 6; ++i)
            rig.source->Step();
        std::vector<std::string> expected;
        for (const std::string& path : c.paths)
            expected.push_back(path + "/image.jpg");
        EXPECT_EQ(rig.script.paths, expected);
        std::vector<uint32_t> events;
        rig.source->TakeEvents(events);
        EXPECT_EQ(events, c.events);
        auto objects = rig.Drain();
        ASSERT_EQ(objects.size(), c.paths.size());
        for (size_t i = 0; i < objects.size(); ++i) {
            const std::string& path = c.paths[i];
            EXPECT_EQ(objects[i]->mChannel, std::stoi(path.substr(path.size() - 2)));
            EXPECT_EQ(objects[i]->mVideoFormat, 1000);
        }
    }
}

TEST(CSnapshotSourceTest, SkipPnPinsTheConfiguredChannel) {
    SRig rig(kVideoServer4, "http://127.0.0.1/jpg/ch", "?skip_pn=1");
    rig.desc.mTemplate.mChannel = 3;
    rig.mask = 15;
    rig.Start();
    EXPECT_TRUE(rig.source->IsFixedChannel());
    for (int i = 0; i < 3; ++i)
        rig.source->Step();
    EXPECT_EQ(rig.script.paths, (std::vector<std::string>(3, "/jpg/ch03?skip_pn=1")));
    for (auto& o : rig.Drain())
        EXPECT_EQ(o->mChannel, 3);
}

TEST(CSnapshotSourceTest, SettingsUpdateKeepsTheWalkAndFollowsANewUrl) {
    SRig rig(kVideoServer4, "http://127.0.0.1/jpg/ch", "/image.jpg");
    rig.mask = 15;
    rig.Start();
    rig.source->Step();
    // Another frame rate: same connection, same paths.
    rig.desc.mTemplate.mFrameRate = 5000;
    rig.source->UpdateSettings(&rig.desc);
    rig.source->Job();
    // Another URL: a new client and the new path.
    rig.desc.mUrl = "http://127.0.0.1/other/cam";
    rig.source->UpdateSettings(&rig.desc);
    rig.source->Job();
    EXPECT_EQ(rig.script.paths, (std::vector<std::string>{"/jpg/ch01/image.jpg", "/jpg/ch02/image.jpg",
                                                          "/other/cam03/image.jpg"}));
    EXPECT_EQ(rig.script.clientsMade, 2);
}

TEST(CSnapshotSourceTest, BodySizesThatCarryNoPictureAreDropped) {
    struct SCase {
        size_t bytes;
        bool delivered;
        int failures;
    };
    const std::vector<SCase> cases = {{4999, false, 0}, {5000, true, 0}, {14396, false, 0},
                                      {14397, true, 0}, {0, false, 1},   {100, false, 0}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.bytes);
        SRig rig(0, "http://127.0.0.1/snapshot.jpg?res=1");
        rig.bodyBytes = c.bytes;
        rig.Start();
        EXPECT_FALSE(rig.source->IsMultiChannel());
        rig.source->Step();
        auto objects = rig.Drain();
        ASSERT_EQ(objects.size(), c.delivered ? 1u : 0u);
        EXPECT_EQ(rig.source->GetFailureCount(), c.failures);
        EXPECT_EQ(rig.script.paths, std::vector<std::string>{"/snapshot.jpg?res=1"});
        if (c.delivered) {
            EXPECT_EQ(objects[0]->mDataLength, int32_t(c.bytes));
            EXPECT_EQ(objects[0]->mDataSize, int32_t(c.bytes));
            EXPECT_EQ(objects[0]->mFrameKind, 2);
        }
    }
}

TEST(CSnapshotSourceTest, IntervalAdaptsToFetchTimes) {
    struct SCase {
        const char* name;
        std::vector<DWORD> fetchMs;
        std::vector<int> intervals;
    };
    // Grows by 30 when a fetch takes over interval + 30, shrinks by 3 below
    // interval - 30, worked out by hand from 30.
    const std::vector<SCase> cases = {
        {"slow", {200, 200, 200, 0, 100, 40}, {60, 90, 120, 117, 117, 114}},
        {"at the edges", {60, 61, 0}, {30, 60, 57}},
        {"quick fetches shrink it back to the slack",
         {200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {60, 57, 54, 51, 48, 45, 42, 39, 36, 33, 30, 30}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig(0, "http://127.0.0.1/snapshot.jpg");
        rig.Start();
        std::vector<int> intervals;
        for (DWORD ms : c.fetchMs) {
            rig.fetchMs = ms;
            rig.source->Step();
            intervals.push_back(rig.source->GetInterval());
        }
        EXPECT_EQ(intervals, c.intervals);
    }
}

TEST(CSnapshotSourceTest, OneShotDeliversOneImageThenIdles) {
    for (int mode : {1, -1}) {
        SRig rig(0, "http://127.0.0.1/snapshot.jpg");
        rig.desc.mRequestMode = mode;
        rig.Start();
        for (int i = 0; i < 4; ++i) {
            rig.clock.mWaits.clear();
            rig.source->Step();
            if (i > 0) {
                EXPECT_EQ(rig.clock.mWaits, std::vector<DWORD>{CSnapshotSource::kIdleWaitMs});
            }
        }
        EXPECT_EQ(rig.Drain().size(), 1u);
        EXPECT_EQ(rig.script.paths.size(), 1u);
        CSourceDesc pending;
        rig.source->GetSettings(&pending);
        EXPECT_EQ(pending.mRequestMode, 0);
    }
}

TEST(CSnapshotSourceTest, CancelledClientIsRebuiltAtTheNextFailure) {
    SRig rig(0, "http://127.0.0.1/snapshot.jpg");
    rig.Start();
    EXPECT_EQ(rig.script.clientsMade, 1);
    rig.source->GetCancelEvent().Set();
    rig.source->Step();
    EXPECT_EQ(rig.Drain().size(), 0u);
    EXPECT_EQ(rig.source->GetFailureCount(), 1);
    EXPECT_EQ(rig.script.clientsMade, 2);
    EXPECT_FALSE(rig.source->GetCancelEvent().IsSignalled());
    EXPECT_EQ(rig.script.passwords.back(), "pw");
    rig.source->Step();
    EXPECT_EQ(rig.Drain().size(), 1u);
    EXPECT_EQ(rig.source->GetFailureCount(), 0);
}

TEST(CSnapshotSourceTest, ThreeFailedFetchesReachTheLimit) {
    for (int autoRestart : {0, 1}) {
        SCOPED_TRACE(autoRestart);
        SRig rig(0, "http://127.0.0.1/snapshot.jpg");
        rig.desc.mAutoRestart = autoRestart;
        rig.refuse = true;
        rig.Start();
        for (int i = 0; i < 6 && rig.source->IsRunning(); ++i)
            rig.source->Job();
        std::vector<uint32_t> events;
        rig.source->TakeEvents(events);
        EXPECT_EQ(events, std::vector<uint32_t>{CMediaSource::PackEvent(5, 0)});
        EXPECT_EQ(rig.source->IsRunning() != 0, autoRestart == 1);
        EXPECT_EQ(rig.script.connects, autoRestart ? 6 : 3);
    }
}

TEST(CSnapshotSourceTest, RecorderImagesCarryTheirChannel) {
    SRig rig(kRecorderPolled, "http://127.0.0.1/snapshot.jpg");
    rig.Start();
    EXPECT_TRUE(rig.source->IsChannelFromImage());
    EXPECT_FALSE(rig.source->IsMultiChannel());
    rig.source->Step();
    auto objects = rig.Drain();
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0]->mChannel, 3);
}

TEST(CSnapshotSourceTest, EmptyUrlStopsAtInit) {
    SRig rig(0, "");
    rig.Start();
    EXPECT_FALSE(rig.source->IsRunning());
}

} // namespace
