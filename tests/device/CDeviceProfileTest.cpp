#include "device/CDeviceProfile.h"

#include "device/CFixedDialect.h"
#include "device/CProfileQueryDialect.h"
#include "device/FakeDevice.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr const char* kBefore = "before";
// Audio column: supported by the device, wanted by the host, or both.
constexpr int kSupported = 1, kWanted = 2, kBoth = 3;

// Composition and the single-parameter calls are the same for every dialect
// (they only read what the set-up filled in), so any dialect class will do.
TEST(CDeviceProfileTest, StreamPathForEveryDeviceType) {
    struct SCase {
        int32_t machineCode, codec, audio, channel, maxChannel, profileId;
        const char* playbackSelector;
        const char* playbackChannels;
        int32_t iFrameOnly;
        const char* path; // nullptr: no path, the output stays as it was
    };
    const SCase cases[] = {
        // Default cameras of the "/vb.htm?" family.
        {4608, 1000, kWanted, 0, 1, 0, "", "", 0, "/ipcam/sjpeg.cgi?language=1"},
        {4608, 1005, kBoth, 1, 1, 0, "", "", 0, "/ipcam/mpeg4.cgi?language=1&audiostream=1&ch=1"},
        {4752, 1010, kSupported, 2, 1, 0, "", "", 1, "/avc.cgi?language=1&ifrmonly=1&ch=2"},
        {4608, 1001, 0, 1, 1, 0, "", "", 0, nullptr},
        // Stream-profile cameras: the codec does not matter, profile 0 is no stream.
        {8448, 0, kBoth, 1, 1, 12, "", "", 1,
         "/ipcam/stream.cgi?nowprofileid=12&audiostream=1&ifrmonly=1&ch=1"},
        {5751, 1000, 0, 1, 1, 0, "", "", 0, nullptr},
        // 36865: main stream for profile 0, the smaller one for any other.
        {36865, 1000, 0, 0, 1, 0, "", "", 0, "/ipcam/mjpeg.cgi?language=1"},
        {36865, 1000, 0, 0, 1, 1, "", "", 0, "/ipcam/mjpegcif.cgi?language=1"},
        {36865, 1005, 0, 0, 1, 0, "", "", 0, "/ipcam/mpeg4.cgi?language=1"},
        {36865, 1005, 0, 0, 1, 2, "", "", 0, "/ipcam/mpeg4cif.cgi?language=1"},
        {36865, 1010, 0, 0, 1, 0, "", "", 1, "/ipcam/avc.cgi?language=1&ifrmonly=1"},
        {36865, 1010, kBoth, 1, 1, 2, "", "", 0, "/ipcam/avccif.cgi?language=1&audiostream=1&ch=1"},
        {36865, 0, 0, 0, 1, 0, "", "", 0, nullptr},
        // JPEG recorders: a channel mask; I-frames mean nothing to them.
        {5124, 1000, kBoth, 3, 4, 0, "", "", 1, "/api.htm?op.liveimage=100&audio=100"},
        {5124, 1000, kBoth, 0, 4, 0, "", "", 0, "/api.htm?op.liveimage=&audio=0"},
        {5124, 1000, kWanted, 2, 4, 0, "20260101120000", "", 0, "/api.htm?op.playimage=0:10"},
        {5124, 1000, 0, 19, 19, 0, "", "", 0, "/api.htm?op.liveimage=1000000000000000000"},
        {5124, 1000, 0, 5, 4, 0, "", "", 0, nullptr},
        {5124, 1000, 0, 1, 20, 0, "", "", 0, nullptr},
        {5124, 1000, 0, -1, 4, 0, "", "", 0, nullptr},
        // The two-stream recorder: channels 1-2 on one stream, 3-4 on the other.
        {5138, 1010, kSupported, 2, 4, 0, "", "", 0, "/avc.cgi?op.liveimage=0011"},
        {5138, 1010, kBoth, 3, 4, 0, "", "", 1, "/avc.cgi?op.liveimage=1100&ifrmonly=1&audio=100"},
        {5138, 1010, 0, 1, 4, 0, "20260101", "1,2", 0, "/avcplay.cgi?op.playimage=20260101:1111"},
        // One H.264 stream per mask; playback marks channels highest first,
        // numbers out of range mark the last character.
        {8776, 1010, 0, 0, 4, 0, "", "", 0, "/avc.cgi?op.liveimage=0"},
        {8775, 1010, kBoth, 2, 8, 0, "", "", 1, "/avc.cgi?op.liveimage=10&ifrmonly=1&audio=10"},
        {8777, 1010, 0, 1, 4, 0, "S", "1,4", 0, "/avcplay.cgi?op.playimage=S:1001"},
        {8776, 1010, 0, 1, 6, 0, "S", "2,0,99999999999", 0, "/avcplay.cgi?op.playimage=S:000011"},
        {8776, 1010, kBoth, 3, 4, 0, "S", "", 1, "/avcplay.cgi?op.playimage=S:0000&ifrmonly=1&audio=100"},
        // Video-standard servers, the other vendor (320x240), no-stream and unknown models.
        {12292, 1000, kBoth, 2, 4, 0, "", "", 1, "/dms"},
        {61441, 1000, kBoth, 1, 1, 0, "", "", 1, "/axis-cgi/mjpg/video.cgi?resolution=320x240"},
        {16385, 1000, 0, 1, 0, 0, "", "", 0, nullptr},
        {0x7777, 1000, 0, 1, 1, 0, "", "", 0, nullptr},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.machineCode) + " -> " + (c.path ? c.path : "none"));
        CFixedDialect profile(c.machineCode);
        profile.mVideoCodec = c.codec;
        profile.mWidth = 320;
        profile.mHeight = 240;
        profile.mAudioSupported = (c.audio & kSupported) != 0;
        profile.mAudioWanted = (c.audio & kWanted) != 0;
        profile.mChannel = c.channel;
        profile.mMaxChannel = c.maxChannel;
        profile.mProfileId = c.profileId;
        profile.mPlaybackSelector = c.playbackSelector;
        profile.mPlaybackChannels = c.playbackChannels;
        profile.mIFrameOnly = c.iFrameOnly;
        std::string path = kBefore;
        EXPECT_EQ(profile.ComposeStreamPath(path), c.path ? 1 : 0);
        EXPECT_EQ(path, c.path ? c.path : kBefore);
    }
}

TEST(CDeviceProfileTest, SingleParameterReadAndWrite) {
    // Key, value (nullptr: a read), the device's answer, result, the output
    // afterwards and the request expected (nullptr: none may be made).
    using SCase = std::tuple<const char*, const char*, SAnswer, int, const char*, const char*>;
    const SCase cases[] = {
        {"getlayoutnum=2", nullptr, Ok("OK getlayoutnum=5\r\n"), 1, "5", "/vb.htm?getlayoutnum=2"},
        {"supportmotion", nullptr, Ok("NS supportmotion=1\r\n"), 0, kBefore, "/vb.htm?supportmotion"},
        {"supportmotion", nullptr, Ok(""), 0, kBefore, "/vb.htm?supportmotion"},
        {"supportmotion", nullptr, Refused(), 0, kBefore, "/vb.htm?supportmotion"},
        {"", nullptr, Ok("OK =1\r\n"), 0, kBefore, nullptr},
        {"motionenable", "1", Ok("OK motionenable=1\r\n"), 1, "1", "/vb.htm?motionenable=1"},
        {"motionenable", "1", Ok("UW motionenable=1\r\n"), 0, kBefore, "/vb.htm?motionenable=1"},
        {"motionenable", "1", Ok("<html>\r\n"), 0, kBefore, "/vb.htm?motionenable=1"},
        {"motionenable", "", Ok("OK motionenable=\r\n"), 0, kBefore, nullptr},
        {"", "1", Ok("OK =1\r\n"), 0, kBefore, nullptr},
    };
    for (const auto& [key, value, answer, result, out, request] : cases) {
        SCOPED_TRACE(std::string(key) + " " + (value ? value : "(read)") + " <- " + answer.body);
        SDeviceRig rig;
        rig.Answer({answer});
        CProfileQueryDialect profile(4608); // "/vb.htm?"
        std::string got = kBefore;
        EXPECT_EQ(value ? profile.SetParam(&rig.link, &rig.url, key, value, got)
                        : profile.QueryParam(&rig.link, &rig.url, key, got),
                  result);
        EXPECT_EQ(got, out);
        EXPECT_EQ(rig.script.requests,
                  request ? std::vector<std::string>{request} : std::vector<std::string>{});
    }
}

} // namespace
