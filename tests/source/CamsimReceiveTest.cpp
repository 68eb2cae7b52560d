// The receivers against camsim over loopback, for every device family and
// codec: frames arrive with the right codec, size, channel and kind; audio
// parts arrive when asked for; a dropped connection reconnects and frames
// resume. Skipped when the build has no camsim.
#include "fakes/CamsimProcess.h"
#include "platform/CMediaQueue.h"
#include "source/CMultipartSource.h"
#include "source/CSnapshotSource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>

using media_util::CMediaObj;

namespace {

struct SCase {
    const char* name;
    const char* device;
    std::vector<std::string> faults;
    std::string path;
    int receiveType;
    int machineCode;
    int videoCodec;
    int width, height;
    std::set<int> channels;
    int audioCodec; // expected audio parts; 0 = none asked
    int frameKind;  // JPEG kind; 0 for the inter-frame codecs (checked separately)
    size_t frames;  // video frames to collect
};

// Collects objects from a running source until `frames` video frames (and,
// when wanted, one audio part) came, or the deadline passed.
std::vector<std::unique_ptr<CMediaObj>>
Collect(media_util::CMediaQueue& queue, media_util::CManualEvent& arrived, size_t frames, bool wantAudio) {
    std::vector<std::unique_ptr<CMediaObj>> objects;
    size_t video = 0;
    bool audio = !wantAudio;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((video < frames || !audio) && std::chrono::steady_clock::now() < deadline) {
        arrived.Wait(200);
        arrived.Reset();
        while (CMediaObj* o = queue.Deque()) {
            if (o->mVideoFormat != 0)
                ++video;
            if (o->mAudioFormat != 0)
                audio = true;
            objects.emplace_back(o);
        }
    }
    return objects;
}

TEST(CamsimReceiveTest, EveryFamilyAndCodecArrives) {
#ifndef CAMSIM_PATH
    GTEST_SKIP() << "built without camsim";
#endif
    const std::vector<SCase> cases = {
        {"JPEG camera with u-law",
         "cam-jpeg-4608",
         {},
         "/ipcam/sjpeg.cgi?language=1&audiostream=1",
         1,
         0x1200,
         1000,
         640,
         480,
         {0},
         2005,
         2,
         8},
        {"MPEG-4 camera",
         "cam-mpeg4-4752",
         {},
         "/ipcam/mpeg4.cgi?language=1&audiostream=1",
         1,
         0x1290,
         1005,
         640,
         480,
         {0},
         2005,
         0,
         12},
        {"H.264 profile camera",
         "cam-profile-5751",
         {},
         "/ipcam/stream.cgi?nowprofileid=1",
         1,
         0x1677,
         1010,
         1280,
         720,
         {0},
         0,
         0,
         12},
        // Channels 1 and 3 on one connection; the model's 504-line size
        // arrives as 480.
        {"H.264 recorder, two channels",
         "dvr-h264-8776",
         {},
         "/avc.cgi?op.liveimage=101&audio=101",
         1,
         0x2248,
         1010,
         704,
         480,
         {1, 3},
         2010,
         0,
         24},
        {"camera without device header",
         "cam-fixed-36865",
         {},
         "/ipcam/mjpeg.cgi?language=1",
         1,
         0x9001,
         1000,
         0,
         0,
         {0},
         0,
         0,
         6},
        {"video server polled per channel",
         "vs-jpeg-12292",
         {},
         "/dms",
         2,
         0x3004,
         1000,
         352,
         288,
         {1, 2, 3, 4},
         0,
         2,
         8},
        {"JPEG recorder polled",
         "dvr-jpeg-5124",
         {},
         "/api.htm?op.liveimage=1",
         2,
         0x1404,
         1000,
         704,
         480,
         {1},
         0,
         2,
         4},
        {"dropped stream resumes",
         "cam-jpeg-4608",
         {"--fault", "dropafter=3"},
         "/ipcam/sjpeg.cgi?language=1",
         1,
         0x1200,
         1000,
         640,
         480,
         {0},
         0,
         2,
         8},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"--device", c.device};
        args.insert(args.end(), c.faults.begin(), c.faults.end());
        CamsimProcess camsim(args);
        ASSERT_NE(camsim.Port(), 0);

        media_util::CMediaQueue queue(10000);
        media_util::CManualEvent arrived;
        queue.SetNotifyEvent(&arrived);
        std::unique_ptr<CHttpMediaSource> source;
        if (c.receiveType == 2)
            source = std::make_unique<CSnapshotSource>();
        else
            source = std::make_unique<CMultipartSource>();
        CSourceDesc desc;
        desc.SetUrlSource("http://127.0.0.1:" + std::to_string(camsim.Port()) + c.path, c.receiveType, "",
                          "");
        desc.mClientKind = 1;
        desc.mMachineCode = c.machineCode;
        desc.mRequestMode = CSourceDesc::kRequestContinuous;
        desc.mPacingMode = CSourceDesc::kPacingRateLimit;
        // The video servers' images do not carry their size: the viewer's
        // template does, and it is written into each image.
        if (c.receiveType == 2) {
            desc.mTemplate.mWidth = c.width;
            desc.mTemplate.mHeight = c.height;
        }
        source->SetOutputQueue(&queue);
        ASSERT_TRUE(source->ApplySettings(&desc));
        ASSERT_EQ(source->Start(), 1);
        auto objects = Collect(queue, arrived, c.frames, c.audioCodec != 0);
        source->Stop();

        std::set<int> channels;
        size_t video = 0;
        bool sawAudio = false;
        bool sawPredicted = false;
        int firstKind = -1;
        for (const auto& o : objects) {
            if (o->mAudioFormat != 0) {
                EXPECT_EQ(o->mAudioFormat, c.audioCodec);
                EXPECT_GT(o->mDataLength2, 0);
                sawAudio = true;
                continue;
            }
            ++video;
            channels.insert(o->mChannel);
            EXPECT_EQ(o->mVideoFormat, c.videoCodec);
            EXPECT_GT(o->mDataLength, 0);
            if (c.width != 0) {
                EXPECT_EQ(o->mWidth, c.width);
                EXPECT_EQ(o->mHeight, c.height);
            }
            if (c.videoCodec == 1000 && c.width != 0 && o->mDataLength > 40) {
                EXPECT_EQ(o->mpData[36] | o->mpData[37] << 8, c.width);
                EXPECT_EQ(o->mpData[38] | o->mpData[39] << 8, c.height);
            }
            if (firstKind < 0)
                firstKind = o->mFrameKind;
            if (c.videoCodec == 1000) {
                EXPECT_EQ(o->mFrameKind, c.frameKind);
            } else {
                EXPECT_TRUE(o->mFrameKind == 1 || o->mFrameKind == 2 || o->mFrameKind == 4) << o->mFrameKind;
                sawPredicted |= o->mFrameKind == 4;
            }
        }
        EXPECT_GE(video, c.frames);
        EXPECT_EQ(sawAudio, c.audioCodec != 0);
        if (c.videoCodec != 1000) {
            EXPECT_EQ(firstKind, 1);
            EXPECT_TRUE(sawPredicted);
        }
        for (int channel : channels)
            EXPECT_TRUE(c.channels.count(channel)) << "channel " << channel;
        EXPECT_EQ(channels, c.channels);
    }
}

} // namespace
