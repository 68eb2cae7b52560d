// The "/vb.htm?" camera family (device types 1 and 5).
//
// Three set-ups, chosen by machine code:
// - stream-profile models (CDeviceProfile::UsesStreamProfiles): codec and
//   size of the host's profile from "/ipcam/multiprofile.cgi"; fails when
//   the device says the profile is not valid;
// - 36865 (kFixedSetUpModel): nothing is asked, codec, size and profile
//   come from the host;
// - every other model: one batch of "/vb.htm?" queries (AVC support,
//   format, the three codecs' sizes, audio, video mode); fails when the
//   query is not answered.
// These cameras keep a layout text for the video (mLayoutSupport 1).
#pragma once

#include "device/CDeviceProfile.h"

class CProfileQueryDialect : public CDeviceProfile {
public:
    static constexpr const char* kCgiPath = "/vb.htm?";
    // Per-profile parameter CGI of the stream-profile models; the profile
    // id follows in decimal, then "&streamvalid", "&getformat", "&getxsize"
    // or "&getysize".
    static constexpr const char* kProfileCgi = "/ipcam/multiprofile.cgi?nowprofileid=";
    // A profile reply is "OK streamvalid=1": the value starts at this index.
    static constexpr size_t kStreamValidValueIndex = 15;
    // "OK getformat=1": the format digit's index.
    static constexpr size_t kFormatValueIndex = 13;

    explicit CProfileQueryDialect(int32_t machineCode);

    int SetUp(CHttpLink* link, CUrl* deviceUrl, media_util::CMediaObj* params) override;

private:
    int SetUpDefault(media_util::CMediaObj* params);
    int SetUpProfile(CHttpLink* link, CUrl* deviceUrl, media_util::CMediaObj* params);
    int SetUpFixed(media_util::CMediaObj* params);
    // Frame rate from "videomode", audio from "getaudioenable".
    void ApplyVideoModeAndAudio(const media_util::CSlowHash& replies);
};
