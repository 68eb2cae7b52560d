// The multi-channel recorders of the "/api.htm?" family (device type 2).
//
// The H.264 models (kDualStreamRecorder and kH264RecorderFirst to
// kH264RecorderLast) report each channel's picture size through the
// parameter CGI and send AAC audio. The JPEG models have no size parameter:
// the size is read from the device header that starts every picture they
// send (bytes kWidthOffset and kHeightOffset, little-endian), so set-up
// fetches one picture of all channels.
#pragma once

#include "device/CDeviceProfile.h"

class CMultiChannelDialect : public CDeviceProfile {
public:
    static constexpr const char* kCgiPath = "/api.htm?";
    // Picture of every channel (one "1" per possible channel).
    static constexpr const char* kLivePicturePath = "/api.htm?op.liveimage=1111111111111111";
    static constexpr const char* kPlaybackPicturePath = "/api.htm?op.playimage=0:1111111111111111";
    // Where the device header of a picture keeps the size, and the fewest
    // bytes a picture must have beyond them to be believed.
    static constexpr size_t kWidthOffset = 36;
    static constexpr size_t kHeightOffset = 38;
    static constexpr size_t kMinPictureBytes = 65;
    // Size assumed when no picture came.
    static constexpr int32_t kDefaultJpegWidth = 704;
    static constexpr int32_t kDefaultJpegHeight = 272;
    // Size assumed for an H.264 channel that reports none.
    static constexpr int32_t kDefaultH264Width = 720;
    static constexpr int32_t kDefaultH264Height = 576;
    // The H.264 recorders report the height of their encoder's padded frame
    // for full D1 pictures; the pictures themselves are PAL or NTSC D1.
    static constexpr int32_t kPaddedPalHeight = 624;
    static constexpr int32_t kPaddedNtscHeight = 504;
    static constexpr int32_t kPalHeight = 576;
    static constexpr int32_t kNtscHeight = 480;
    // AAC of the H.264 recorders.
    static constexpr int32_t kAacSampleRate = 44100;
    static constexpr int32_t kAacBitsPerSample = 16;
    static constexpr int32_t kAacChannels = 2;

    static bool IsH264Model(int32_t machineCode);

    CMultiChannelDialect(int32_t machineCode, int32_t maxChannel);

    int SetUp(CHttpLink* link, CUrl* deviceUrl, media_util::CMediaObj* params) override;
};
