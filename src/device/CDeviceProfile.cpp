#include "device/CDeviceProfile.h"

#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CMemoryStream.h"
#include "platform/CStrUtil.h"

#include <vector>

using media_util::CMachineCodeConvert;
using media_util::CSlowHash;
using media_util::CStrUtil;

namespace {

std::string Decimal(int64_t value) {
    return std::to_string(value);
}

} // namespace

bool CDeviceProfile::UsesStreamProfiles(int32_t machineCode) {
    switch (machineCode) {
    case 5751:
    case 5753:
    case 5761:
    case 5763:
    case 6002:
    case 6003:
    case 6004:
    case 8192:
    case 8193:
    case 8448:
        return true;
    default:
        return false;
    }
}

CDeviceProfile::CDeviceProfile(int32_t machineCode, std::string cgiPath)
    : mMachineCode(machineCode), mCgiPath(std::move(cgiPath)) {}

void CDeviceProfile::Reset() {
    mMachineCode = 0;
    mVideoCodec = 0;
    mAudioCodec = 0;
    mWidth = 0;
    mHeight = 0;
    mFrameRate = 0;
    mAudioSupported = 0;
    mAudioWanted = 0;
    mChannel = 0;
    mSampleRate = 0;
    mBitsPerSample = 0;
    mAudioChannels = 0;
    mIFrameOnly = 0;
    mProfileId = 0;
}

void CDeviceProfile::PrepareParser(CHttpLink* link, CUrl* deviceUrl) {
    mReplyParser.SetLink(link);
    mReplyParser.SetDeviceUrl(deviceUrl);
    mReplyParser.SetCgiPath(mCgiPath);
}

int32_t CDeviceProfile::ReplyNumber(const CSlowHash& params, const std::string& key) {
    std::string name;
    std::string value;
    ParseReplyLine(params.Get(key), name, value);
    return CStrUtil::ParseInt(value);
}

int CDeviceProfile::ReplyCode(const CSlowHash& params, const std::string& key) {
    std::string name;
    std::string value;
    return ParseReplyLine(params.Get(key), name, value);
}

bool CDeviceProfile::FetchText(CHttpLink* link, CUrl* deviceUrl, const std::string& path, std::string& text) {
    if (link == nullptr || deviceUrl == nullptr)
        return false;
    CUrl url;
    deviceUrl->CopyTo(&url);
    url.mRequestPath = path;
    return link->FetchText(url, text);
}

bool CDeviceProfile::FetchInto(CHttpLink* link, CUrl* deviceUrl, const std::string& path,
                               media_util::CMemoryStream& stream) {
    if (link == nullptr || deviceUrl == nullptr)
        return false;
    CUrl url;
    deviceUrl->CopyTo(&url);
    url.mRequestPath = path;
    return link->FetchInto(url, stream);
}

int CDeviceProfile::QueryParam(CHttpLink* link, CUrl* deviceUrl, const std::string& key, std::string& value) {
    if (key.empty())
        return 0;
    CReplyParser parser(link, deviceUrl, mCgiPath);
    std::string line;
    if (!parser.QueryOne(key, line))
        return 0;
    std::string name;
    std::string answer;
    if (ParseReplyLine(line, name, answer) != kReplyOk)
        return 0;
    value = answer;
    return 1;
}

int CDeviceProfile::SetParam(CHttpLink* link, CUrl* deviceUrl, const std::string& key,
                             const std::string& value, std::string& out) {
    if (key.empty() || value.empty())
        return 0;
    CReplyParser parser(link, deviceUrl, mCgiPath);
    std::string line = value;
    if (!parser.UpdateOne(key, line))
        return 0;
    std::string name;
    std::string answer;
    if (ParseReplyLine(line, name, answer) != kReplyOk)
        return 0;
    out = answer;
    return 1;
}

int CDeviceProfile::ComposeStreamPath(std::string& out) const {
    switch (CMachineCodeConvert::GetDeviceType(mMachineCode)) {
    case CMachineCodeConvert::kTypeUnknown:
    case CMachineCodeConvert::kTypeNoStream:
        return 0;
    case CMachineCodeConvert::kTypeProfileCamera:
    case CMachineCodeConvert::kTypeProfileCamera2:
        return ComposeProfileFamily(out);
    case CMachineCodeConvert::kTypeMultiChannel:
        return ComposeMultiChannel(out);
    case CMachineCodeConvert::kTypeVideoStandard:
        out = "/dms";
        return 1;
    case CMachineCodeConvert::kTypeOtherVendor:
        out = "/axis-cgi/mjpg/video.cgi?resolution=" + Decimal(mWidth) + "x" + Decimal(mHeight);
        return 1;
    default:
        return 1;
    }
}

int CDeviceProfile::ComposeProfileFamily(std::string& out) const {
    std::string path;
    if (UsesStreamProfiles(mMachineCode)) {
        // Profile 0 is the device's own configuration page, not a stream.
        if (mProfileId < 1)
            return 0;
        path = "/ipcam/stream.cgi?nowprofileid=" + Decimal(mProfileId);
    } else if (mMachineCode == kFixedSetUpModel) {
        const bool main = mProfileId == 0;
        switch (mVideoCodec) {
        case kCodecJpeg:
            path = main ? "/ipcam/mjpeg.cgi" : "/ipcam/mjpegcif.cgi";
            break;
        case kCodecMpeg4:
            path = main ? "/ipcam/mpeg4.cgi" : "/ipcam/mpeg4cif.cgi";
            break;
        case kCodecH264:
            path = main ? "/ipcam/avc.cgi" : "/ipcam/avccif.cgi";
            break;
        default:
            return 0;
        }
        path += "?language=1";
    } else {
        switch (mVideoCodec) {
        case kCodecJpeg:
            path = "/ipcam/sjpeg.cgi";
            break;
        case kCodecMpeg4:
            path = "/ipcam/mpeg4.cgi";
            break;
        case kCodecH264:
            path = "/avc.cgi";
            break;
        default:
            return 0;
        }
        path += "?language=1";
    }
    if (mAudioSupported != 0 && mAudioWanted != 0)
        path += "&audiostream=1";
    if (mIFrameOnly != 0)
        path += "&ifrmonly=1";
    if (mChannel != 0)
        path += "&ch=" + Decimal(mChannel);
    out = path;
    return 1;
}

std::string CDeviceProfile::ChannelMask() const {
    if (mChannel < 1)
        return std::string();
    return "1" + std::string(static_cast<size_t>(mChannel - 1), '0');
}

int CDeviceProfile::ComposeMultiChannel(std::string& out) const {
    if (mChannel < 0 || mChannel >= kChannelMaskBufferSize || mMaxChannel < 0 ||
        mMaxChannel >= kChannelMaskBufferSize || mChannel > mMaxChannel)
        return 0;
    const std::string mask = ChannelMask();
    const bool live = mPlaybackSelector.empty();
    std::string path;
    if (mMachineCode == kDualStreamRecorder) {
        // One stream carries channels 1 and 2, the other 3 and 4.
        const char* quad = mChannel >= 3 ? "1100" : "0011";
        path = live ? std::string("/avc.cgi?op.liveimage=") + quad
                    : "/avcplay.cgi?op.playimage=" + mPlaybackSelector + ":1111";
        if (mIFrameOnly != 0)
            path += "&ifrmonly=1";
    } else if (mMachineCode >= kH264RecorderFirst && mMachineCode <= kH264RecorderLast) {
        if (live) {
            path = "/avc.cgi?op.liveimage=" + (mChannel == 0 ? std::string("0") : mask);
        } else {
            // The playback text has one character per channel, the highest
            // channel first.
            std::string channels(static_cast<size_t>(mMaxChannel), '0');
            std::vector<std::string> numbers;
            CStrUtil::Split(mPlaybackChannels, ",", numbers);
            for (const std::string& number : numbers) {
                if (channels.empty())
                    break;
                int64_t index = static_cast<int64_t>(mMaxChannel) - CStrUtil::ParseInt(number);
                if (index < 0 || index >= mMaxChannel)
                    index = mMaxChannel - 1;
                channels[static_cast<size_t>(index)] = '1';
            }
            path = "/avcplay.cgi?op.playimage=" + mPlaybackSelector + ":" + channels;
        }
        if (mIFrameOnly != 0)
            path += "&ifrmonly=1";
    } else {
        path = live ? "/api.htm?op.liveimage=" + mask : "/api.htm?op.playimage=0:" + mask;
    }
    if (mAudioSupported != 0 && mAudioWanted != 0)
        path += "&audio=" + (mChannel != 0 ? mask : std::string("0"));
    out = path;
    return 1;
}
