#include "device/CMultiChannelDialect.h"

#include "platform/CMemoryStream.h"

#include <string>

using media_util::CMediaObj;
using media_util::CMemoryStream;
using media_util::CSlowHash;

bool CMultiChannelDialect::IsH264Model(int32_t machineCode) {
    return machineCode == kDualStreamRecorder ||
           (machineCode >= kH264RecorderFirst && machineCode <= kH264RecorderLast);
}

CMultiChannelDialect::CMultiChannelDialect(int32_t machineCode, int32_t maxChannel)
    : CDeviceProfile(machineCode, kCgiPath) {
    mMaxChannel = maxChannel;
}

int CMultiChannelDialect::SetUp(CHttpLink* link, CUrl* deviceUrl, CMediaObj* /*params*/) {
    PrepareParser(link, deviceUrl);
    const bool h264 = IsH264Model(mMachineCode);
    mVideoCodec = h264 ? kCodecH264 : kCodecJpeg;
    mAudioCodec = h264 ? kAudioAac : kAudioUlaw;
    const bool live = mPlaybackSelector.empty();

    if (h264) {
        const std::string channel = std::to_string(mChannel);
        const std::string suffix = live ? "=" + channel : "=" + channel + ":" + mPlaybackSelector;
        const std::string keyX = (live ? "getavcxsize" : "getavcplayxsize") + suffix;
        const std::string keyY = (live ? "getavcysize" : "getavcplayysize") + suffix;
        CSlowHash replies;
        replies.Add(keyX, "");
        replies.Add(keyY, "");
        if (mReplyParser.Query(replies)) {
            const int32_t width = ReplyNumber(replies, keyX);
            const int32_t height = ReplyNumber(replies, keyY);
            mWidth = width < 1 ? kDefaultH264Width : width;
            mHeight = height < 1 ? kDefaultH264Height : height;
        }
        if (mHeight == kPaddedPalHeight)
            mHeight = kPalHeight;
        else if (mHeight == kPaddedNtscHeight)
            mHeight = kNtscHeight;
    } else {
        CMemoryStream picture;
        if (FetchInto(link, deviceUrl, live ? kLivePicturePath : kPlaybackPicturePath, picture) &&
            picture.GetLength() >= kMinPictureBytes) {
            const BYTE* bytes = picture.GetBuffer();
            mWidth = bytes[kWidthOffset] | (bytes[kWidthOffset + 1] << 8);
            mHeight = bytes[kHeightOffset] | (bytes[kHeightOffset + 1] << 8);
        } else {
            mWidth = kDefaultJpegWidth;
            mHeight = kDefaultJpegHeight;
        }
    }

    mFrameRate = kFrameRateNtsc;
    if (h264) {
        mAudioSupported = 1;
        mAudioCodec = kAudioAac;
        mSampleRate = kAacSampleRate;
        mBitsPerSample = kAacBitsPerSample;
        mAudioChannels = kAacChannels;
    } else {
        mAudioSupported = 0;
    }
    return 1;
}
