#include "viewer/CDisplayChannel.h"

#include "ipcamview/vcodec.h"

#include <gtest/gtest.h>

namespace {

// A channel whose device is described by the test instead of a dialect.
class CFakeDeviceChannel : public CDisplayChannel {
public:
    int FillVideoInfo() override {
        if (!mHasVideo)
            return 0;
        for (media_util::CMediaObj* info : {mpSourceVideoInfo, mpDisplayVideoInfo}) {
            info->mWidth = 704;
            info->mHeight = mHeight;
            info->mFrameRate = 30000;
        }
        mpSourceVideoInfo->mVideoFormat = mCodec;
        return 1;
    }
    int FillAudioInfo() override { return 0; }
    int PrepareSubscription() override {
        PrepareLiveDescription();
        return mPrepareResult;
    }

    bool mHasVideo = true;
    int mPrepareResult = 1;
    int32_t mHeight = 480;
    int32_t mCodec = media_util::kVideoJpeg;
};

// Building puts the geometry and the display format on the channel: the
// picture rectangle of its half and crop, the split layout of a dual-picture
// recorder, and the host's output format over the codec's default.
TEST(CDisplayChannelTest, BuildDescribesTheChannel) {
    struct Case {
        int32_t machineCode, channel, codec, height, outputFormat;
        SRect crop, picture;
        int32_t displayFormat, displayHeight, splitLayout;
    };
    constexpr int32_t kRgb = media_util::kPixelRgb24;
    const Case kCases[] = {
        {0x1200, 1, 1000, 480, 0, {}, {0, 0, 704, 480}, 120, -480, 0},
        {0x1412, 1, 1010, 490, 0, {}, {0, 250, 704, 490}, 120, -490, 200},
        {0x10004, 2, 1000, 490, 0, {0, 200, 704, 400}, {0, 210, 704, 240}, 120, -490, 200},
        {0x1200, 1, 1005, 480, kRgb, {100, 100, 200, 150}, {100, 100, 200, 150}, kRgb, 480, 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.machineCode << " channel " << c.channel);
        CFakeDeviceChannel channel;
        channel.mMachineCode = c.machineCode;
        channel.mChannel = c.channel;
        channel.mCodec = c.codec;
        channel.mHeight = c.height;
        channel.mCropRect = c.crop;
        channel.mOutputFormat = c.outputFormat;
        ASSERT_EQ(1, channel.BuildPipeline());
        EXPECT_EQ(c.picture, channel.mPictureRect);
        EXPECT_EQ(c.picture, channel.mPictureAreas[1].rect);
        EXPECT_EQ(c.displayFormat, channel.mpDisplayVideoInfo->mVideoFormat);
        EXPECT_EQ(c.displayHeight, channel.mpDisplayVideoInfo->mHeight);
        EXPECT_EQ(c.height, channel.mpSourceVideoInfo->mHeight) << "the source description keeps its rows";
        EXPECT_EQ(c.splitLayout, channel.mSplitLayout);
        EXPECT_EQ(1, channel.Disarm());
        EXPECT_EQ(nullptr, channel.mpSourceVideoInfo) << "disarm releases the pipeline";
    }
}

TEST(CDisplayChannelTest, FailedStepsStopTheBuild) {
    CFakeDeviceChannel noVideo;
    noVideo.mHasVideo = false;
    EXPECT_EQ(0, noVideo.BuildPipeline());
    EXPECT_EQ(SRect{}, noVideo.mPictureRect);

    CFakeDeviceChannel noSubscription;
    noSubscription.mMachineCode = 0x1412;
    noSubscription.mPrepareResult = 0;
    EXPECT_EQ(0, noSubscription.BuildPipeline());
    EXPECT_EQ(0, noSubscription.mSplitLayout);
    EXPECT_EQ(SRect{}, noSubscription.mPictureRect);
}

TEST(CDisplayChannelTest, ReleaseGivesBackTheCodecHandleOnce) {
    CFakeDeviceChannel channel;
    EXPECT_EQ(CDisplayChannel::kNoCodec, channel.ReleasePipeline()) << "idle: no codec";
    const int32_t handle = CreateCodec(VCODEC_FORMAT_JPEG, VCODEC_PIXEL_RGB565, 352, -240, 30);
    ASSERT_GE(handle, 0);
    channel.mCodecHandle = handle;
    EXPECT_EQ(1, channel.ReleasePipeline()) << "ReleaseCodec's result for a valid handle";
    EXPECT_EQ(0, ReleaseCodec(handle)) << "the channel released it already";
    EXPECT_EQ(CDisplayChannel::kNoCodec, channel.ReleasePipeline());
}

} // namespace
