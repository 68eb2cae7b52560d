// The other vendor's MJPEG camera (device type 100): nothing is asked; it
// always sends 320 by 240 JPEG at 30 frames per second without audio, from
// "/axis-cgi/mjpg/video.cgi?resolution=WxH".
#pragma once

#include "device/CDeviceProfile.h"

class CFixedDialect : public CDeviceProfile {
public:
    static constexpr const char* kCgiPath = "/axis-cgi/admin/getparam.cgi?";
    static constexpr int32_t kWidth = 320;
    static constexpr int32_t kHeight = 240;

    explicit CFixedDialect(int32_t machineCode);

    // Always 1; makes no request.
    int SetUp(CHttpLink* link, CUrl* deviceUrl, media_util::CMediaObj* params) override;
};
