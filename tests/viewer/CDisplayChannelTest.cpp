#include "viewer/CDisplayChannel.h"

#include "ipcamview/vcodec.h"

#include <gtest/gtest.h>

namespace {

using media_util::CMediaObj;

// A channel whose device is described by the test instead of a dialect.
class CFakeDeviceChannel : public CDisplayChannel {
public:
    int FillVideoInfo() override {
        ++mVideoCalls;
        if (!mHasVideo)
            return 0;
        mpSourceVideoInfo->mWidth = mWidth;
        mpSourceVideoInfo->mHeight = mHeight;
        mpSourceVideoInfo->mFrameRate = 30000;
        mpSourceVideoInfo->mVideoFormat = mCodec;
        mpDisplayVideoInfo->mWidth = mWidth;
        mpDisplayVideoInfo->mHeight = mHeight;
        mpDisplayVideoInfo->mFrameRate = 30000;
        return 1;
    }
    int FillAudioInfo() override {
        ++mAudioCalls;
        if (!mHasAudio)
            return 0;
        mpAudioInfo->mAudioFormat = media_util::kAudioUlaw;
        return 1;
    }
    int PrepareSubscription() override {
        PrepareLiveDescription();
        return mPrepareResult;
    }

    bool mHasVideo = true;
    bool mHasAudio = false;
    int mPrepareResult = 1;
    int32_t mWidth = 704;
    int32_t mHeight = 480;
    int32_t mCodec = media_util::kVideoJpeg;
    int mVideoCalls = 0;
    int mAudioCalls = 0;
};

TEST(CDisplayChannelTest, ConstructedIdle) {
    CFakeDeviceChannel channel;
    EXPECT_EQ(CDisplayChannel::kChannelQueueLimit, channel.mQueue.mLimit.load());
    EXPECT_EQ(-1, channel.mCodecHandle);
    EXPECT_EQ(-1, channel.mMachineCode);
    EXPECT_EQ(nullptr, channel.mpSourceVideoInfo);
    EXPECT_EQ(0, channel.mRunning);
    EXPECT_EQ(1, channel.mShareOption);
    EXPECT_EQ(1, channel.mRecordOption);
    EXPECT_FALSE(channel.mStopEvent.IsSignalled());
}

TEST(CDisplayChannelTest, ReleaseOnAnIdleChannelReleasesNoCodec) {
    CFakeDeviceChannel channel;
    EXPECT_EQ(CDisplayChannel::kNoCodec, channel.ReleasePipeline());
    EXPECT_EQ(CDisplayChannel::kNoCodec, channel.mCodecHandle);
    EXPECT_EQ(nullptr, channel.mpAudioInfo);
}

TEST(CDisplayChannelTest, ReleaseGivesBackTheCodecHandleOnce) {
    CFakeDeviceChannel channel;
    const int32_t handle = CreateCodec(VCODEC_FORMAT_JPEG, VCODEC_PIXEL_RGB565, 352, -240, 30);
    ASSERT_GE(handle, 0);
    channel.mCodecHandle = handle;
    EXPECT_EQ(1, channel.ReleasePipeline()) << "ReleaseCodec's result for a valid handle";
    EXPECT_EQ(CDisplayChannel::kNoCodec, channel.mCodecHandle);
    EXPECT_EQ(0, ReleaseCodec(handle)) << "the channel released it already";
    EXPECT_EQ(CDisplayChannel::kNoCodec, channel.ReleasePipeline());
}

TEST(CDisplayChannelTest, ArmAndDisarm) {
    CFakeDeviceChannel channel;
    EXPECT_EQ(1, channel.Arm());
    EXPECT_EQ(1, channel.mRunning);
    EXPECT_FALSE(channel.mStopEvent.IsSignalled());
    ASSERT_EQ(1, channel.BuildPipeline());
    ASSERT_NE(nullptr, channel.mpSourceVideoInfo);
    EXPECT_EQ(1, channel.Disarm());
    EXPECT_EQ(0, channel.mRunning);
    EXPECT_TRUE(channel.mStopEvent.IsSignalled());
    EXPECT_EQ(nullptr, channel.mpSourceVideoInfo) << "disarm releases the pipeline";
    EXPECT_EQ(nullptr, channel.mpDisplayVideoInfo);
    EXPECT_EQ(nullptr, channel.mpAudioInfo);
    EXPECT_EQ(1, channel.Arm());
    EXPECT_FALSE(channel.mStopEvent.IsSignalled());
}

TEST(CDisplayChannelTest, BuildDescribesTheChannel) {
    struct Case {
        const char* name;
        int32_t machineCode;
        int32_t channel;
        int32_t codec;
        int32_t height;
        SRect crop;
        SRect picture;
        int32_t displayFormat;
        int32_t displayHeight;
        int32_t splitLayout;
    };
    const Case kCases[] = {
        {"JPEG camera", 0x1200, 1, 1000, 480, {}, {0, 0, 704, 480}, 120, -480, 0},
        {"H.264 240 rows", 0x2247, 3, 1010, 240, {}, {0, 0, 704, 240}, 120, -240, 0},
        {"dual-picture H.264 channel 1", 0x1412, 1, 1010, 490, {}, {0, 250, 704, 490}, 120, -490, 200},
        {"dual-picture JPEG channel 2", 0x10004, 2, 1000, 490, {}, {0, 10, 704, 240}, 120, -490, 200},
        {"cropped", 0x1200, 1, 1005, 480, {100, 100, 200, 150}, {100, 100, 200, 150}, 120, -480, 0},
        {"cropped dual picture",
         0x1412,
         2,
         1010,
         490,
         {0, 200, 704, 400},
         {0, 210, 704, 240},
         120,
         -490,
         200},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        CFakeDeviceChannel channel;
        channel.mMachineCode = c.machineCode;
        channel.mChannel = c.channel;
        channel.mCodec = c.codec;
        channel.mHeight = c.height;
        channel.mCropRect = c.crop;
        ASSERT_EQ(1, channel.BuildPipeline());
        EXPECT_EQ(c.picture, channel.mPictureRect);
        EXPECT_EQ(c.picture, channel.mPictureAreas[0].rect);
        EXPECT_EQ(c.picture, channel.mPictureAreas[1].rect);
        EXPECT_EQ(c.displayFormat, channel.mpDisplayVideoInfo->mVideoFormat);
        EXPECT_EQ(c.displayHeight, channel.mpDisplayVideoInfo->mHeight);
        EXPECT_EQ(c.height, channel.mpSourceVideoInfo->mHeight) << "the source description keeps its rows";
        EXPECT_EQ(c.splitLayout, channel.mSplitLayout);
        EXPECT_EQ(c.splitLayout != 0 ? 1 : 0, channel.mDualPicture);
        EXPECT_EQ(c.channel, channel.mQueue.mChannel.load());
        EXPECT_EQ(0, channel.mQueue.GetFrameControl()->IsUsingSleep()) << "the pacer paces, not the queue";
        EXPECT_EQ(1, channel.mRunning);
    }
}

TEST(CDisplayChannelTest, LiveDescriptionLeadsToTheChannel) {
    for (bool withInstanceEvent : {true, false}) {
        SCOPED_TRACE(withInstanceEvent);
        media_util::CManualEvent instanceEvent;
        CFakeDeviceChannel channel;
        if (withInstanceEvent)
            channel.SetInstanceEvent(&instanceEvent);
        channel.mChannel = 2;
        ASSERT_EQ(1, channel.BuildPipeline());
        const CSourceDesc& desc = channel.mLiveDesc;
        EXPECT_EQ(&channel.mQueue, desc.mpQueue);
        EXPECT_EQ(withInstanceEvent ? &channel.mStopEvent : nullptr, desc.mpStopEvent);
        EXPECT_EQ(withInstanceEvent ? &instanceEvent : nullptr, desc.mpListener);
        EXPECT_EQ(704, desc.mTemplate.mWidth);
        EXPECT_EQ(480, desc.mTemplate.mHeight);
        EXPECT_EQ(media_util::kVideoJpeg, desc.mTemplate.mVideoFormat);
        EXPECT_EQ(1, desc.mAutoRestart);
        EXPECT_EQ(-1, desc.mSlot);

        channel.ReleasePipeline();
        EXPECT_EQ(nullptr, channel.mLiveDesc.mpQueue) << "release resets the description";
        EXPECT_EQ(0, channel.mLiveDesc.mTemplate.mWidth);
    }
}

TEST(CDisplayChannelTest, SubscriptionStateFollowsTheSlot) {
    CFakeDeviceChannel channel;
    EXPECT_EQ(-1, channel.Unsubscribe()) << "not registered: the slot number";
    channel.mLiveDesc.mSlot = 3; // as the source table leaves a registered description
    EXPECT_EQ(1, channel.Subscribe()) << "already registered: nothing to do";
    EXPECT_EQ(3, channel.mLiveDesc.mSlot);
}

TEST(CDisplayChannelTest, ConfiguredOutputFormatWins) {
    CFakeDeviceChannel channel;
    channel.mOutputFormat = media_util::kPixelRgb24;
    ASSERT_EQ(1, channel.BuildPipeline());
    EXPECT_EQ(media_util::kPixelRgb24, channel.mpDisplayVideoInfo->mVideoFormat);
    EXPECT_EQ(480, channel.mpDisplayVideoInfo->mHeight);
}

TEST(CDisplayChannelTest, AudioIsAskedForButOptional) {
    for (bool audio : {false, true}) {
        CFakeDeviceChannel channel;
        channel.mHasAudio = audio;
        ASSERT_EQ(1, channel.BuildPipeline());
        EXPECT_EQ(1, channel.mAudioCalls);
        ASSERT_NE(nullptr, channel.mpAudioInfo);
        EXPECT_EQ(audio ? media_util::kAudioUlaw : 0, channel.mpAudioInfo->mAudioFormat);
    }
}

TEST(CDisplayChannelTest, FailedSubclassStepsStopTheBuild) {
    CFakeDeviceChannel noVideo;
    noVideo.mHasVideo = false;
    EXPECT_EQ(0, noVideo.BuildPipeline());
    EXPECT_NE(nullptr, noVideo.mpSourceVideoInfo) << "created objects stay until release";
    EXPECT_EQ(SRect{}, noVideo.mPictureRect);

    CFakeDeviceChannel noSubscription;
    noSubscription.mMachineCode = 0x1412;
    noSubscription.mPrepareResult = 0;
    EXPECT_EQ(0, noSubscription.BuildPipeline());
    EXPECT_EQ(0, noSubscription.mSplitLayout);
    EXPECT_EQ(SRect{}, noSubscription.mPictureRect);

    // A second build starts from a released pipeline.
    noVideo.mHasVideo = true;
    EXPECT_EQ(1, noVideo.BuildPipeline());
    EXPECT_EQ(2, noVideo.mVideoCalls);
}

TEST(CDisplayChannelTest, ReleaseDropsQueuedMedia) {
    CFakeDeviceChannel channel;
    ASSERT_EQ(1, channel.BuildPipeline());
    auto* frame = new CMediaObj();
    ASSERT_EQ(1, frame->CopyData("abc", 3));
    ASSERT_TRUE(channel.mQueue.Enque(frame));
    channel.ReleasePipeline();
    EXPECT_EQ(0, channel.mQueue.GetCount());
}

TEST(CDisplayChannelTest, DisplayStartsAndStopsTheFrameControl) {
    CFakeDeviceChannel channel;
    int window = 0;
    EXPECT_EQ(1, channel.StartDisplay(&window));
    EXPECT_EQ(&window, channel.m_hWnd);
    EXPECT_EQ(1, channel.mDisplaying);
    EXPECT_EQ(1, channel.mQueue.GetFrameControl()->IsWorking());
    EXPECT_EQ(1, channel.StopDisplay());
    EXPECT_EQ(0, channel.mDisplaying);
    EXPECT_EQ(0, channel.mQueue.GetFrameControl()->IsWorking());
}

TEST(CDisplayChannelTest, StartRecordWithoutSourceDescriptionRecordsNothing) {
    CFakeDeviceChannel channel;
    for (int32_t& word : channel.mRecordWords)
        word = 9;
    EXPECT_EQ(0, channel.StartRecord());
    for (int32_t word : channel.mRecordWords)
        EXPECT_EQ(0, word);
    EXPECT_EQ(0, channel.mRecording);
    EXPECT_EQ(0, channel.mRecordDeferred);
}

TEST(CDisplayChannelTest, IsNonZero) {
    CFakeDeviceChannel channel;
    const int32_t kValues[] = {0, 1, -1, 2, INT32_MIN, INT32_MAX};
    for (int32_t value : kValues)
        EXPECT_EQ(value != 0 ? 1 : 0, channel.IsNonZero(value)) << value;
}

} // namespace
