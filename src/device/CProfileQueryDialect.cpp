#include "device/CProfileQueryDialect.h"

#include "platform/CStrUtil.h"

#include <string>

using media_util::CMediaObj;
using media_util::CSlowHash;
using media_util::CStrUtil;

CProfileQueryDialect::CProfileQueryDialect(int32_t machineCode) : CDeviceProfile(machineCode, kCgiPath) {
    mLayoutSupport = 1;
}

int CProfileQueryDialect::SetUp(CHttpLink* link, CUrl* deviceUrl, CMediaObj* params) {
    PrepareParser(link, deviceUrl);
    if (UsesStreamProfiles(mMachineCode))
        return SetUpProfile(link, deviceUrl, params);
    if (mMachineCode == kFixedSetUpModel)
        return SetUpFixed(params);
    return SetUpDefault(params);
}

void CProfileQueryDialect::ApplyVideoModeAndAudio(const CSlowHash& replies) {
    // Video mode 0 is NTSC; anything else is a PAL camera.
    mFrameRate = ReplyNumber(replies, "videomode") != 0 ? kFrameRatePal : kFrameRateNtsc;
    mAudioSupported = ReplyNumber(replies, "getaudioenable") == 1 ? 1 : 0;
}

int CProfileQueryDialect::SetUpDefault(CMediaObj* params) {
    // This model numbers its only channel 1 and answers the size keys only
    // with the channel given.
    if (mChannel == 0 && mMachineCode == kChannelOneModel)
        mChannel = 1;
    const std::string channelSuffix = mChannel != 0 ? "=" + std::to_string(mChannel) : std::string();
    const std::string jpegX = "getjpegxsize" + channelSuffix;
    const std::string jpegY = "getjpegysize" + channelSuffix;

    CSlowHash replies;
    for (const std::string& key :
         {std::string("supportavc"), std::string("getformat"), jpegX, jpegY, std::string("getmpeg4xsize"),
          std::string("getmpeg4ysize"), std::string("getavcxsize"), std::string("getavcysize"),
          std::string("getaudioenable"), std::string("videomode")})
        replies.Add(key, "");

    if (!mReplyParser.Query(replies)) {
        mAudioCodec = kAudioUlaw;
        return 0;
    }

    if (ReplyCode(replies, "supportavc") == kReplyOk && ReplyNumber(replies, "supportavc") == 1) {
        // A camera that can send H.264 sends it unless the host asked for JPEG.
        if (params != nullptr && params->mVideoFormat == kCodecJpeg) {
            mVideoCodec = kCodecJpeg;
            mWidth = ReplyNumber(replies, jpegX);
            mHeight = ReplyNumber(replies, jpegY);
        } else {
            mVideoCodec = kCodecH264;
            mWidth = ReplyNumber(replies, "getavcxsize");
            mHeight = ReplyNumber(replies, "getavcysize");
        }
    } else if (ReplyCode(replies, "getformat") == kReplyOk) {
        switch (ReplyNumber(replies, "getformat")) {
        case 0:
            mVideoCodec = kCodecJpeg;
            mWidth = ReplyNumber(replies, jpegX);
            mHeight = ReplyNumber(replies, jpegY);
            break;
        case 1:
            mVideoCodec = kCodecMpeg4;
            mWidth = ReplyNumber(replies, "getmpeg4xsize");
            mHeight = ReplyNumber(replies, "getmpeg4ysize");
            break;
        default:
            break;
        }
    }
    ApplyVideoModeAndAudio(replies);
    mAudioCodec = kAudioUlaw;
    return 1;
}

int CProfileQueryDialect::SetUpProfile(CHttpLink* link, CUrl* deviceUrl, CMediaObj* params) {
    const int32_t profileId = params != nullptr ? params->mProfileId : 0;
    const std::string base = kProfileCgi + std::to_string(profileId);
    auto startsWithOk = [](const std::string& body) { return body.compare(0, 2, "OK") == 0; };

    int result = 0;
    std::string body;
    // Only a clear answer invalidates the profile: a camera that does not
    // answer "streamvalid" at all is given the benefit of the doubt.
    const bool invalid = FetchText(link, deviceUrl, base + "&streamvalid", body) &&
                         body.size() > kStreamValidValueIndex &&
                         (!startsWithOk(body) || body[kStreamValidValueIndex] == '0');
    if (!invalid) {
        body.clear();
        if (FetchText(link, deviceUrl, base + "&getformat", body) && body.size() > kFormatValueIndex &&
            startsWithOk(body)) {
            const char format = body[kFormatValueIndex];
            mVideoCodec = format == '1' ? kCodecMpeg4 : format == '2' ? kCodecH264 : kCodecJpeg;
            if (params != nullptr)
                params->mVideoFormat = mVideoCodec;
        }
        int32_t* sizes[] = {&mWidth, &mHeight};
        const char* keys[] = {"&getxsize", "&getysize"};
        for (int i = 0; i < 2; ++i) {
            body.clear();
            if (!FetchText(link, deviceUrl, base + keys[i], body) || body.size() <= kFormatValueIndex ||
                !startsWithOk(body))
                continue;
            const size_t equals = body.find('=');
            if (equals != std::string::npos)
                *sizes[i] = CStrUtil::ParseInt(std::string_view(body).substr(equals + 1));
        }
        mProfileId = profileId;
        result = 1;
    }

    CSlowHash replies;
    replies.Add("videomode", "");
    replies.Add("getaudioenable", "");
    mReplyParser.Query(replies);
    ApplyVideoModeAndAudio(replies);
    mAudioCodec = mMachineCode == kG726ProfileModel ? kAudioG726 : kAudioUlaw;
    return result;
}

int CProfileQueryDialect::SetUpFixed(CMediaObj* params) {
    mFrameRate = kFrameRateNtsc;
    mWidth = params != nullptr ? params->mWidth : 0;
    mHeight = params != nullptr ? params->mHeight : 0;
    mVideoCodec = params != nullptr && params->mVideoFormat != 0 ? params->mVideoFormat : kCodecJpeg;
    mAudioSupported = 1;
    mAudioCodec = kAudioUlaw;
    mProfileId = params != nullptr ? params->mProfileId : 0;
    return 1;
}
