// The video servers of the video-standard family (device type 3): JPEG CIF
// pictures from "/dms", no parameter CGI. The only question asked is whether
// the server runs PAL: "/getstate?value=ntsc" answers a body starting with
// "1" for PAL (288 lines at 25 frames per second), anything else for NTSC.
#pragma once

#include "device/CDeviceProfile.h"

class CVideoStandardDialect : public CDeviceProfile {
public:
    static constexpr const char* kStatePath = "/getstate?value=ntsc";
    static constexpr int32_t kCifWidth = 352;
    static constexpr int32_t kNtscCifHeight = 240;
    static constexpr int32_t kPalCifHeight = 288;

    explicit CVideoStandardDialect(int32_t machineCode);

    // Always 1: a server that does not answer is taken for NTSC.
    int SetUp(CHttpLink* link, CUrl* deviceUrl, media_util::CMediaObj* params) override;
};
