#include "device/CFixedDialect.h"

CFixedDialect::CFixedDialect(int32_t machineCode) : CDeviceProfile(machineCode, kCgiPath) {}

int CFixedDialect::SetUp(CHttpLink* /*link*/, CUrl* /*deviceUrl*/, media_util::CMediaObj* /*params*/) {
    mVideoCodec = kCodecJpeg;
    mAudioCodec = 0;
    mWidth = kWidth;
    mHeight = kHeight;
    mFrameRate = kFrameRateNtsc;
    mAudioSupported = 0;
    return 1;
}
