#include "device/CVideoStandardDialect.h"

#include <string>

CVideoStandardDialect::CVideoStandardDialect(int32_t machineCode) : CDeviceProfile(machineCode, "") {}

int CVideoStandardDialect::SetUp(CHttpLink* link, CUrl* deviceUrl, media_util::CMediaObj* /*params*/) {
    mVideoCodec = kCodecJpeg;
    mAudioCodec = kAudioUlaw;
    mFrameRate = kFrameRateNtsc;
    mWidth = kCifWidth;
    mHeight = kNtscCifHeight;
    mAudioSupported = 0;
    std::string body;
    if (FetchText(link, deviceUrl, kStatePath, body) && !body.empty() && body[0] == '1') {
        mHeight = kPalCifHeight;
        mFrameRate = kFrameRatePal;
    }
    return 1;
}
