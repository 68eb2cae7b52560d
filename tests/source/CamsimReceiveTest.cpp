// The receivers against camsim over loopback, for every device family and
// codec: frames arrive with the right codec, size, channel and kind; audio
// parts arrive when asked for; a dropped connection reconnects and frames
// resume. Skipped when the build has no camsim.
#include "fakes/CamsimProcess.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CMediaQueue.h"
#include "source/CMultipartSource.h"
#include "source/CSnapshotSource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <sstream>

using media_util::CMachineCodeConvert;
using media_util::CMediaObj;

namespace {

struct SCase {
    const char* device; // camsim's model name, ending in its machine code; then fault switches
    const char* path;
    int videoCodec, width, height; // a width of 0: the images do not say
    const char* channels;          // those frames arrive on
    int audioCodec;                // 0 = none asked
    int frameKind;                 // JPEG frames' kind; 0 for the inter-frame codecs (checked apart)
    size_t frames;                 // video frames to collect
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
            video += o->mVideoFormat != 0;
            audio |= o->mAudioFormat != 0;
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
        {"cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1&audiostream=1", 1000, 640, 480, "0", 2005, 2, 8},
        {"cam-mpeg4-4752", "/ipcam/mpeg4.cgi?language=1&audiostream=1", 1005, 640, 480, "0", 2005, 0, 12},
        {"cam-profile-5751", "/ipcam/stream.cgi?nowprofileid=1", 1010, 1280, 720, "0", 0, 0, 12},
        // Two channels on one connection; the model's 504-line size arrives as 480.
        {"dvr-h264-8776", "/avc.cgi?op.liveimage=101&audio=101", 1010, 704, 480, "1 3", 2010, 0, 24},
        // Another vendor's camera: no device header, nothing but the channel set.
        {"cam-fixed-36865", "/ipcam/mjpeg.cgi?language=1", 1000, 0, 0, "0", 0, 0, 6},
        {"vs-jpeg-12292", "/dms", 1000, 352, 288, "1 2 3 4", 0, 2, 8},
        {"dvr-jpeg-5124", "/api.htm?op.liveimage=1", 1000, 704, 480, "1", 0, 2, 4},
        {"cam-jpeg-4608 --fault dropafter=3", "/ipcam/sjpeg.cgi?language=1", 1000, 640, 480, "0", 0, 2, 8}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.device);
        std::vector<std::string> args = {"--device"};
        std::istringstream words(c.device);
        for (std::string word; words >> word;)
            args.push_back(word);
        const int machineCode = std::stoi(args[1].substr(args[1].rfind('-') + 1));
        CamsimProcess camsim(args);
        ASSERT_NE(camsim.Port(), 0);

        media_util::CMediaQueue queue(10000);
        media_util::CManualEvent arrived;
        queue.SetNotifyEvent(&arrived);
        const bool polled =
            CMachineCodeConvert::GetMediaReceiveType(machineCode) == CMachineCodeConvert::kReceiveJpegPolling;
        std::unique_ptr<CHttpMediaSource> source(polled ? static_cast<CHttpMediaSource*>(new CSnapshotSource)
                                                        : new CMultipartSource);
        CSourceDesc desc;
        desc.SetUrlSource("http://127.0.0.1:" + std::to_string(camsim.Port()) + c.path, polled ? 2 : 1, "",
                          "");
        desc.mClientKind = 1;
        desc.mMachineCode = machineCode;
        desc.mRequestMode = CSourceDesc::kRequestContinuous;
        desc.mPacingMode = CSourceDesc::kPacingRateLimit;
        // Polled images may not carry their size: the viewer's template does,
        // and it is written into each image.
        if (polled) {
            desc.mTemplate.mWidth = c.width;
            desc.mTemplate.mHeight = c.height;
        }
        source->SetOutputQueue(&queue);
        ASSERT_TRUE(source->ApplySettings(&desc));
        ASSERT_EQ(source->Start(), 1);
        auto objects = Collect(queue, arrived, c.frames, c.audioCodec != 0);
        source->Stop();

        std::set<int> channels;
        std::string kinds; // of the inter-frame codecs, one digit per frame
        size_t video = 0;
        bool sawAudio = false;
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
            if (c.videoCodec != 1000) {
                kinds += std::to_string(o->mFrameKind);
                continue;
            }
            EXPECT_EQ(o->mFrameKind, c.frameKind);
            if (c.width != 0) {
                EXPECT_EQ(o->mpData[36] | o->mpData[37] << 8, c.width);
                EXPECT_EQ(o->mpData[38] | o->mpData[39] << 8, c.height);
            }
        }
        EXPECT_GE(video, c.frames);
        EXPECT_EQ(sawAudio, c.audioCodec != 0);
        // Inter-frame streams begin with a key frame and its configuration,
        // and carry predicted frames.
        if (c.videoCodec != 1000) {
            EXPECT_EQ(kinds.find_first_not_of("124"), std::string::npos) << kinds;
            EXPECT_EQ(kinds.substr(0, 1), "1") << kinds;
            EXPECT_NE(kinds.find('4'), std::string::npos) << kinds;
        }
        std::string got;
        for (int channel : channels)
            got += (got.empty() ? "" : " ") + std::to_string(channel);
        EXPECT_EQ(got, c.channels);
    }
}

} // namespace
