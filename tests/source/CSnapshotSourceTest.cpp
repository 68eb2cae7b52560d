#include "source/CSnapshotSource.h"

#include "SourceTestKit.h"

#include <gtest/gtest.h>

namespace {

constexpr int kVideoServer4 = 0x3004;   // video-standard server, 4 inputs, polled per channel
constexpr int kRecorderPolled = 0x1404; // multi-channel recorder, one polled picture

// A polled device whose pictures report channel 3 and a channel mask, of
// bodyBytes each, fetched in fetchMs.
struct SRig : SSourceRig<CSnapshotSource> {
    int mask = 0;
    size_t bodyBytes = 6000;
    DWORD fetchMs = 0;
    bool refuse = false;
    int status = 200;

    explicit SRig(int machineCode = 0, const std::string& suffix = "")
        : SSourceRig("http://127.0.0.1/jpg/ch", 2, "pw") {
        desc.mMachineCode = machineCode;
        desc.mPathSuffix = suffix;
        desc.mRequestMode = CSourceDesc::kRequestContinuous;
        desc.mPacingMode = CSourceDesc::kPacingFrameTime;
        script.handler = [this](const std::string&) {
            clock.mNow += fetchMs;
            const SDeviceJpeg jpeg{kVideoServer4, 2025, 10, 3, 0, 0, 0, 0, uint8_t(mask), bodyBytes};
            return SAnswer{jpeg.Build().substr(0, bodyBytes), refuse, status};
        };
    }
};

TEST(CSnapshotSourceTest, ChannelWalkFollowsTheMask) {
    struct SCase {
        int mask;
        std::string suffix;
        std::string requested; // channels asked and delivered in six passes
        std::string missing;   // channels reported without video (event 3) instead of fetched
    };
    // Mask 0: the device reports none, channel 1 is asked; skip_pn pins the
    // configured channel (3). A channel without video is reported once, not
    // on every pass.
    const std::vector<SCase> cases = {{15, "/image.jpg", "01 02 03 04 01 02", ""},
                                      {0, "/image.jpg", "01 01 01 01 01 01", ""},
                                      {5, "/image.jpg", "01 03 01", "2 4"},
                                      {15, "?skip_pn=1", "03 03 03 03 03 03", ""}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.mask) + c.suffix);
        SRig rig(kVideoServer4, c.suffix);
        rig.desc.mTemplate.mChannel = 3;
        rig.mask = c.mask;
        rig.Start();
        for (int pass = 0; pass < 6; ++pass)
            rig.source.Step();
        std::string asked, delivered, missing;
        for (const std::string& path : rig.script.requests) {
            asked += (asked.empty() ? "" : " ") + path.substr(7, 2);
            EXPECT_EQ(path, "/jpg/ch" + path.substr(7, 2) + c.suffix);
        }
        for (auto& o : Drain(rig.queue))
            delivered += (delivered.empty() ? "0" : " 0") + std::to_string(o->mChannel);
        for (uint32_t event : TakeEvents(rig.source)) {
            missing += (missing.empty() ? "" : " ") + std::to_string((event >> 24) + 1);
            EXPECT_EQ(event & 0xFFFFFF, 3u);
        }
        EXPECT_EQ(asked, c.requested);
        EXPECT_EQ(delivered, c.requested);
        EXPECT_EQ(missing, c.missing);
    }
}

TEST(CSnapshotSourceTest, BodySizesThatCarryNoPictureAreDropped) {
    // Under 5000 bytes is an error page, 14396 the no-signal picture; an
    // empty body is a failed fetch.
    const std::vector<std::tuple<size_t, bool, int>> cases = {
        {4999, false, 0}, {5000, true, 0}, {14396, false, 0}, {14397, true, 0}, {0, false, 1}};
    for (const auto& [bytes, delivered, failures] : cases) {
        SCOPED_TRACE(bytes);
        SRig rig(kRecorderPolled); // its one picture says its channel
        rig.bodyBytes = bytes;
        rig.Start();
        rig.source.Step();
        auto objects = Drain(rig.queue);
        ASSERT_EQ(objects.size(), delivered ? 1u : 0u);
        EXPECT_EQ(rig.source.GetFailureCount(), failures);
        EXPECT_EQ(rig.script.requests, std::vector<std::string>{"/jpg/ch"});
        if (delivered) {
            EXPECT_EQ(DataOf(*objects[0]).size(), bytes);
            EXPECT_EQ(objects[0]->mFrameKind, 2);
            EXPECT_EQ(objects[0]->mChannel, 3);
        }
    }
}

TEST(CSnapshotSourceTest, IntervalAdaptsToFetchTimes) {
    // Grows by 30 when a fetch takes over interval + 30, shrinks by 3 below
    // interval - 30, worked out by hand from 30.
    const std::vector<std::pair<std::vector<DWORD>, std::vector<int>>> cases = {
        {{200, 200, 200, 0, 100, 40}, {60, 90, 120, 117, 117, 114}},
        {{60, 61, 0}, {30, 60, 57}},
        {{0}, {30}}};
    for (const auto& [fetches, expected] : cases) {
        SRig rig;
        rig.Start();
        std::vector<int> intervals;
        for (DWORD ms : fetches) {
            rig.fetchMs = ms;
            rig.source.Step();
            intervals.push_back(rig.source.GetInterval());
        }
        EXPECT_EQ(intervals, expected) << testing::PrintToString(fetches);
    }
}

TEST(CSnapshotSourceTest, OneShotDeliversOneImageThenIdles) {
    for (int mode : {1, -1}) {
        SRig rig;
        rig.desc.mRequestMode = mode;
        rig.Start();
        rig.source.Step();
        for (int i = 0; i < 3; ++i) {
            rig.clock.mWaits.clear();
            rig.source.Step();
            EXPECT_EQ(rig.clock.mWaits, std::vector<DWORD>{CSnapshotSource::kIdleWaitMs});
        }
        EXPECT_EQ(Drain(rig.queue).size(), 1u);
        EXPECT_EQ(rig.script.requests.size(), 1u);
        CSourceDesc pending;
        rig.source.GetSettings(&pending);
        EXPECT_EQ(pending.mRequestMode, 0);
    }
}

TEST(CSnapshotSourceTest, FailedFetchesRebuildACancelledClientAndReachTheLimit) {
    for (int autoRestart : {0, 1}) {
        SCOPED_TRACE(autoRestart);
        SRig rig;
        rig.desc.mAutoRestart = autoRestart;
        rig.Start();
        // A cancelled fetch fails and the client is rebuilt, with the same
        // credentials, for the next fetch.
        rig.source.GetCancelEvent().Set();
        rig.source.Step();
        EXPECT_EQ(rig.source.GetFailureCount(), 1);
        EXPECT_EQ(rig.clientsMade, 2);
        EXPECT_FALSE(rig.source.GetCancelEvent().IsSignalled());
        EXPECT_EQ(rig.source.GetClient()->GetCredentials()->mPassword, "pw");
        rig.source.Step();
        EXPECT_EQ(Drain(rig.queue).size(), 1u);
        EXPECT_EQ(rig.source.GetFailureCount(), 0);
        // Three failed fetches in a row reach the limit.
        rig.refuse = true;
        const int connects = rig.script.connects;
        for (int i = 0; i < 6 && rig.source.IsRunning(); ++i)
            rig.source.Job();
        EXPECT_EQ(TakeEvents(rig.source), std::vector<uint32_t>{CMediaSource::PackEvent(5, 0)});
        EXPECT_EQ(rig.source.IsRunning() != 0, autoRestart == 1);
        EXPECT_EQ(rig.script.connects - connects, autoRestart ? 6 : 3);
    }
}

TEST(CSnapshotSourceTest, FailedRequestsWaitLongerEachTime) {
    // A refused connection, and answers other than 200 whatever their body:
    // the first failure waits the interval, then 500 ms more per failure in a
    // row; a picture ends the run and the next failure waits the interval.
    for (const auto& [refuse, status] :
         std::vector<std::pair<bool, int>>{{true, 0}, {false, 401}, {false, 404}}) {
        SCOPED_TRACE(status);
        SRig rig;
        rig.refuse = refuse;
        rig.status = status;
        rig.Start();
        for (int i = 0; i < 6; ++i)
            rig.source.Step();
        EXPECT_EQ(rig.clock.mWaits, (std::vector<DWORD>{30, 500, 1000, 1500, 2000, 2500}));
        EXPECT_EQ(Drain(rig.queue).size(), 0u);
        rig.refuse = false;
        rig.status = 200;
        rig.source.Step();
        EXPECT_EQ(Drain(rig.queue).size(), 1u);
        rig.refuse = refuse;
        rig.status = status;
        rig.clock.mWaits.clear();
        rig.source.Step();
        EXPECT_EQ(rig.clock.mWaits, std::vector<DWORD>{30});
    }
}

TEST(CSnapshotSourceTest, PollingIsPacedByTheFrameTime) {
    // A device that answers at once is asked once per frame time: of the
    // description's frame-rate code, else of the template's rate, else of
    // 30 fps. A video server is paced once per pass through its inputs,
    // also when the pass ends on a dark input.
    struct SCase {
        int machineCode, mask, code, templateRate;
        int steps;
        std::vector<DWORD> waits;
    };
    const std::vector<SCase> cases = {{0, 0, 25000, 10000, 4, {40, 40, 40}},
                                      {0, 0, 0, 10000, 4, {100, 100, 100}},
                                      {0, 0, 0, 0, 4, {33, 33, 33}},
                                      {kVideoServer4, 15, 0, 0, 12, {33, 33}},
                                      {kVideoServer4, 7, 0, 0, 12, {33, 33}}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.machineCode << " mask " << c.mask << " code " << c.code);
        SRig rig(c.machineCode, "/image.jpg");
        rig.mask = c.mask;
        rig.desc.mPacingMode = CSourceDesc::kPacingNone; // a poller paces whatever the description says
        rig.desc.mFrameRateCode = c.code;
        rig.desc.mTemplate.mFrameRate = c.templateRate;
        rig.Start();
        for (int i = 0; i < c.steps; ++i)
            rig.source.Step();
        EXPECT_EQ(rig.clock.mWaits, c.waits);
    }
}

} // namespace
