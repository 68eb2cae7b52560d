// Set-up of the four dialects against scripted devices, one table per family.
#include "device/CFixedDialect.h"
#include "device/CMultiChannelDialect.h"
#include "device/CProfileQueryDialect.h"
#include "device/CVideoStandardDialect.h"
#include "device/FakeDevice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

using media_util::CMediaObj;

namespace {

// What a set-up concluded: "result codec WIDTHxHEIGHT frameRate audioSupported audioCodec profileId".
std::string Outcome(const CDeviceProfile& p, int result) {
    char text[128];
    std::snprintf(text, sizeof text, "%d %d %dx%d %d %d %d %d", result, p.mVideoCodec, p.mWidth, p.mHeight,
                  p.mFrameRate, p.mAudioSupported, p.mAudioCodec, p.mProfileId);
    return text;
}

// Scripted reply lines replace the camera's line of the same name; a bare
// name removes it.
void Apply(SParamDevice& device, const std::vector<std::string>& changes) {
    for (const std::string& line : changes) {
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) {
            device.mLines.erase(line);
            continue;
        }
        device.mLines[line.substr(blank + 1, line.find_first_of("= ", blank + 1) - blank - 1)] = line;
    }
}

TEST(CDialectSetUpTest, QueryCameras) {
    struct SCase {
        int32_t machineCode, channel, hostCodec;
        const char* sizeSuffix; // what the JPEG size keys carry
        std::vector<std::string> changes;
        int refused; // request that fails, -1: none
        const char* outcome;
    };
    const SCase cases[] = {
        // A camera that can send H.264 sends it unless the host asks for JPEG.
        {4608, 1, 1005, "=1", {"OK supportavc=1"}, -1, "1 1010 1280x720 30000 1 2005 0"},
        {4608, 1, 1000, "=1", {"OK supportavc=1"}, -1, "1 1000 640x480 30000 1 2005 0"},
        // Otherwise the format decides; a refused or unknown one gives no codec.
        {4608, 2, 0, "=2", {"NG supportavc=1", "OK getformat=1"}, -1, "1 1005 352x288 30000 1 2005 0"},
        {4608, 1, 0, "=1", {"OK getformat=2"}, -1, "1 0 0x0 30000 1 2005 0"},
        {4608, 1, 0, "=1", {"UA getformat=0"}, -1, "1 0 0x0 30000 1 2005 0"},
        // Any video mode but 0 is PAL; only audio 1 is on.
        {4608, 1, 1010, "=1", {"OK videomode=3", "OK getaudioenable=2"}, -1, "1 1000 640x480 25000 0 2005 0"},
        {4608, 1, 0, "=1", {"getformat", "videomode", "getaudioenable"}, -1, "1 0 0x0 30000 0 2005 0"},
        // Without a channel the size keys are bare, but 4752's channel 0 is 1.
        {4608, 0, 0, "", {}, -1, "1 1000 640x480 30000 1 2005 0"},
        {4752, 0, 0, "=1", {}, -1, "1 1000 640x480 30000 1 2005 0"},
        {4608, 1, 0, "=1", {}, 0, "0 0 0x0 0 0 2005 0"},
        {4608, 1, 0, "=1", {}, 1, "0 0 0x0 0 0 2005 0"},
    };
    for (size_t piece : {size_t(1), size_t(8192)}) {
        for (const SCase& c : cases) {
            SCOPED_TRACE(std::string(c.outcome) + ", read pieces of " + std::to_string(piece));
            const std::string s = c.sizeSuffix;
            SDeviceRig rig(piece);
            rig.device.mLines = {
                {"supportavc", "OK supportavc=0"},           {"getformat", "OK getformat=0"},
                {"getjpegxsize" + s, "OK getjpegxsize=640"}, {"getjpegysize" + s, "OK getjpegysize=480"},
                {"getmpeg4xsize", "OK getmpeg4xsize=352"},   {"getmpeg4ysize", "OK getmpeg4ysize=288"},
                {"getavcxsize", "OK getavcxsize=1280"},      {"getavcysize", "OK getavcysize=720"},
                {"getaudioenable", "OK getaudioenable=1"},   {"videomode", "OK videomode=0"},
            };
            Apply(rig.device, c.changes);
            // Ten keys: eight in the first request, the rest in a second.
            std::vector<std::string> requests = {"/vb.htm?supportavc&getformat&getjpegxsize" + s +
                                                     "&getjpegysize" + s +
                                                     "&getmpeg4xsize&getmpeg4ysize&getavcxsize&getavcysize",
                                                 "/vb.htm?getaudioenable&videomode"};
            if (c.refused >= 0)
                rig.device.mPaths[requests[c.refused]] = Refused();
            CProfileQueryDialect profile(c.machineCode);
            profile.mChannel = c.channel;
            CMediaObj params;
            params.mVideoFormat = c.hostCodec;
            EXPECT_EQ(Outcome(profile, profile.SetUp(&rig.link, &rig.url, &params)), c.outcome);
            if (c.refused == 0)
                requests.pop_back();
            EXPECT_EQ(rig.script.requests, requests);
            EXPECT_EQ(params.mVideoFormat, c.hostCodec);
        }
    }
}

TEST(CDialectSetUpTest, StreamProfileCameras) {
    struct SCase {
        int32_t machineCode;
        std::vector<std::string> changes; // to the answers about profile 2
        const char* modeAndAudio;         // "/vb.htm?" answer
        const char* outcome;              // then the host's codec afterwards
    };
    const char* const pal = "OK videomode=1\r\nOK getaudioenable=1\r\n";
    const char* const ntsc = "OK videomode=0\r\nOK getaudioenable=0\r\n";
    const SCase cases[] = {
        {5751, {}, pal, "1 1010 1280x720 25000 1 2005 2 1010"},
        {8192, {}, ntsc, "1 1010 1280x720 30000 0 2020 2 1010"},
        {6002, {"OK getformat=1"}, ntsc, "1 1005 1280x720 30000 0 2005 2 1005"},
        {6002, {"OK getformat=7"}, ntsc, "1 1000 1280x720 30000 0 2005 2 1000"},
        // Only a clear answer makes the profile invalid.
        {5753, {"OK streamvalid=0"}, pal, "0 0 0x0 25000 1 2005 0 555"},
        {8192, {"NG streamvalid=1"}, ntsc, "0 0 0x0 30000 0 2020 0 555"},
        {5763, {"OK streamvalid"}, ntsc, "1 1010 1280x720 30000 0 2005 2 1010"},
        {6003, {"streamvalid"}, ntsc, "1 1010 1280x720 30000 0 2005 2 1010"},
        // Refused or missing answers leave codec or size unknown.
        {6004, {"NG getformat=1"}, ntsc, "1 0 1280x720 30000 0 2005 2 555"},
        {6004, {"getformat"}, ntsc, "1 0 1280x720 30000 0 2005 2 555"},
        {8448, {"NS getxsize=1280", "OK getysize 720"}, ntsc, "1 1010 0x0 30000 0 2005 2 1010"},
        {5751, {}, "", "1 1010 1280x720 30000 0 2005 2 1010"},
    };
    const std::string base = "/ipcam/multiprofile.cgi?nowprofileid=2&";
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.machineCode) + " " + c.outcome);
        SDeviceRig rig;
        rig.device.mCgiPath = base;
        rig.device.mLines = {{"streamvalid", "OK streamvalid=1"},
                             {"getformat", "OK getformat=2"},
                             {"getxsize", "OK getxsize=1280"},
                             {"getysize", "OK getysize=720"}};
        Apply(rig.device, c.changes);
        rig.device.mPaths["/vb.htm?videomode&getaudioenable"] = Ok(c.modeAndAudio);
        CProfileQueryDialect profile(c.machineCode);
        CMediaObj params;
        params.mProfileId = 2;
        params.mVideoFormat = 555;
        const int result = profile.SetUp(&rig.link, &rig.url, &params);
        EXPECT_EQ(Outcome(profile, result) + " " + std::to_string(params.mVideoFormat), c.outcome);
        std::vector<std::string> requests = {base + "streamvalid"};
        if (c.outcome[0] == '1')
            requests.insert(requests.end(), {base + "getformat", base + "getxsize", base + "getysize"});
        // Frame rate and audio are asked for whether the profile is valid or not.
        requests.push_back("/vb.htm?videomode&getaudioenable");
        EXPECT_EQ(rig.script.requests, requests);
    }
}

// A picture as the JPEG recorders send it, cut to size bytes.
SAnswer DevicePicture(uint16_t width, uint16_t height, size_t size) {
    return Ok(SDeviceJpeg{0x1404, 2025, 10, 1, 0, 0, width, height}.Build().substr(0, size));
}

TEST(CDialectSetUpTest, MultiChannelRecorders) {
    struct SCase {
        int32_t machineCode, channel;
        const char* playback;
        SAnswer answer;
        const char* outcome;
        const char* request;
    };
    const char* const live = "/api.htm?op.liveimage=1111111111111111";
    const SCase cases[] = {
        // H.264 models ask for the channel's size; the encoders' padded
        // heights stand for PAL and NTSC D1; no size reported is D1 PAL.
        {5138, 3, "", Ok("OK getavcxsize=720\nOK getavcysize=624"), "720x576", "getavcxsize=3&getavcysize=3"},
        {8775, 8, "", Ok("OK getavcxsize=704\nOK getavcysize=504"), "704x480", "getavcxsize=8&getavcysize=8"},
        {8777, 16, "", Ok("OK getavcxsize=352\nOK getavcysize=240"), "352x240",
         "getavcxsize=16&getavcysize=16"},
        {8776, 2, "", Ok("OK getavcxsize=0"), "720x576", "getavcxsize=2&getavcysize=2"},
        {8776, 1, "", Refused(), "0x0", "getavcxsize=1&getavcysize=1"},
        {8776, 3, "S", Ok("OK getavcplayxsize=704\nOK getavcplayysize=624"), "704x576",
         "getavcplayxsize=3:S&getavcplayysize=3:S"},
        // JPEG models read it from a picture of 65 bytes or more, else assume 704x272.
        {5124, 2, "", DevicePicture(1920, 1080, 100), "1920x1080", live},
        {5124, 2, "1", DevicePicture(704, 576, 100), "704x576", "/api.htm?op.playimage=0:1111111111111111"},
        {5124, 2, "", DevicePicture(352, 240, 65), "352x240", live},
        {5124, 2, "", DevicePicture(352, 240, 64), "704x272", live},
        {5124, 2, "", Refused(), "704x272", live},
    };
    for (size_t piece : {size_t(1), size_t(8192)}) {
        for (const SCase& c : cases) {
            SCOPED_TRACE(std::string(c.outcome) + ", read pieces of " + std::to_string(piece));
            SDeviceRig rig(piece);
            rig.Answer({c.answer});
            CMultiChannelDialect profile(c.machineCode, 16);
            profile.mChannel = c.channel;
            profile.mPlaybackSelector = c.playback;
            const bool h264 = c.machineCode != 5124;
            EXPECT_EQ(Outcome(profile, profile.SetUp(&rig.link, &rig.url, nullptr)),
                      std::string(h264 ? "1 1010 " : "1 1000 ") + c.outcome +
                          (h264 ? " 30000 1 2010 0" : " 30000 0 2005 0"));
            const std::string request =
                c.request[0] == '/' ? c.request : std::string("/api.htm?") + c.request;
            EXPECT_EQ(rig.script.requests, std::vector<std::string>{request});
            // H.264 models send AAC, 44.1 kHz, 16 bits, stereo; the others keep 8 kHz, 8 bits, mono.
            EXPECT_EQ(std::make_tuple(profile.mSampleRate, profile.mBitsPerSample, profile.mAudioChannels),
                      h264 ? std::make_tuple(44100, 16, 2) : std::make_tuple(8000, 8, 1));
        }
    }
}

TEST(CDialectSetUpTest, VideoStandardAndFixedSetUps) {
    CMediaObj params;
    params.mVideoFormat = 1010;
    params.mWidth = 640;
    params.mHeight = 480;
    params.mProfileId = 2;
    // Machine code, the host's wishes, the answer to "/getstate?value=ntsc"
    // (the only request any of them makes) and the outcome.
    using SCase = std::tuple<int32_t, CMediaObj*, SAnswer, const char*>;
    const SCase cases[] = {
        // Video-standard servers: only a first character "1" means PAL.
        {12292, nullptr, Ok("1\r\n"), "1 1000 352x288 25000 0 2005 0"},
        {12292, nullptr, Ok(" 1"), "1 1000 352x240 30000 0 2005 0"},
        {12292, nullptr, Refused(), "1 1000 352x240 30000 0 2005 0"},
        // 36865 takes what the host wishes, JPEG without one; the other vendor is fixed.
        {36865, &params, {}, "1 1010 640x480 30000 1 2005 2"},
        {36865, nullptr, {}, "1 1000 0x0 30000 1 2005 0"},
        {61441, &params, {}, "1 1000 320x240 30000 0 0 0"},
    };
    for (const auto& [machineCode, wishes, answer, outcome] : cases) {
        SCOPED_TRACE(outcome);
        SDeviceRig rig;
        rig.device.mPaths["/getstate?value=ntsc"] = answer;
        std::unique_ptr<CDeviceProfile> profile;
        if (machineCode == 12292)
            profile = std::make_unique<CVideoStandardDialect>(machineCode);
        else if (machineCode == 36865)
            profile = std::make_unique<CProfileQueryDialect>(machineCode);
        else
            profile = std::make_unique<CFixedDialect>(machineCode);
        EXPECT_EQ(Outcome(*profile, profile->SetUp(&rig.link, &rig.url, wishes)), outcome);
        EXPECT_EQ(rig.script.requests.size(), machineCode == 12292 ? 1u : 0u);
    }
}

} // namespace
