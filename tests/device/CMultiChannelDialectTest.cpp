#include "device/CMultiChannelDialect.h"

#include "device/DevicePicture.h"
#include "device/FakeHttpClient.h"
#include "net/CUrl.h"
#include "platform/CJpegHeader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using media_util::CMediaObj;

namespace {

struct SRig {
    CFakeHttpClient client;
    CHttpLink link{&client};
    CUrl url;
    SParamDevice device;

    SRig() {
        device.mCgiPath = "/api.htm?";
        EXPECT_NE(url.Crack("http://127.0.0.1:8080/"), 0);
        client.mHandler = [this](const std::string& path) { return device(path); };
    }
};

struct SH264Case {
    const char* name;
    int32_t machineCode;
    int32_t channel;
    const char* playback;
    const char* xLine; // nullptr: no line
    const char* yLine;
    bool refused;
    int32_t width, height;
    const char* request;
};

TEST(CMultiChannelDialectTest, H264ModelsAskForTheChannelsSize) {
    const SH264Case cases[] = {
        {"D1 PAL", 8776, 1, "", "OK getavcxsize=704", "OK getavcysize=576", false, 704, 576,
         "/api.htm?getavcxsize=1&getavcysize=1"},
        {"padded PAL height 624", 5138, 3, "", "OK getavcxsize=720", "OK getavcysize=624", false, 720, 576,
         "/api.htm?getavcxsize=3&getavcysize=3"},
        {"padded NTSC height 504", 8775, 8, "", "OK getavcxsize=720", "OK getavcysize=504", false, 720, 480,
         "/api.htm?getavcxsize=8&getavcysize=8"},
        {"CIF stays", 8777, 16, "", "OK getavcxsize=352", "OK getavcysize=240", false, 352, 240,
         "/api.htm?getavcxsize=16&getavcysize=16"},
        {"no size reported: D1 PAL assumed", 8776, 2, "", "OK getavcxsize=0", "OK getavcysize=-1", false, 720,
         576, "/api.htm?getavcxsize=2&getavcysize=2"},
        {"no lines at all: D1 PAL assumed", 8776, 2, "", nullptr, nullptr, false, 720, 576,
         "/api.htm?getavcxsize=2&getavcysize=2"},
        {"refused lines still carry numbers", 8776, 2, "", "NG getavcxsize=640", "NS getavcysize=480", false,
         640, 480, "/api.htm?getavcxsize=2&getavcysize=2"},
        {"query not answered: no size", 8776, 1, "", "OK getavcxsize=704", "OK getavcysize=576", true, 0, 0,
         "/api.htm?getavcxsize=1&getavcysize=1"},
        {"playback", 8776, 3, "20260102093000", "OK getavcplayxsize=704", "OK getavcplayysize=624", false,
         704, 576, "/api.htm?getavcplayxsize=3:20260102093000&getavcplayysize=3:20260102093000"},
        {"channel 0", 5138, 0, "", "OK getavcxsize=720", "OK getavcysize=480", false, 720, 480,
         "/api.htm?getavcxsize=0&getavcysize=0"},
    };
    for (const SH264Case& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig;
        const std::string live = std::string("=") + std::to_string(c.channel);
        const std::string suffix = *c.playback ? live + ":" + c.playback : live;
        const std::string xKey = (*c.playback ? "getavcplayxsize" : "getavcxsize") + suffix;
        const std::string yKey = (*c.playback ? "getavcplayysize" : "getavcysize") + suffix;
        if (c.xLine)
            rig.device.mLines[xKey] = c.xLine;
        if (c.yLine)
            rig.device.mLines[yKey] = c.yLine;
        if (c.refused)
            rig.device.mRefuseRequests = {0};
        CMultiChannelDialect profile(c.machineCode, 16);
        profile.mChannel = c.channel;
        profile.mPlaybackSelector = c.playback;
        CMediaObj params;
        EXPECT_EQ(profile.SetUp(&rig.link, &rig.url, &params), 1);
        EXPECT_EQ(rig.client.mRequests, std::vector<std::string>{c.request});
        EXPECT_EQ(profile.mWidth, c.width);
        EXPECT_EQ(profile.mHeight, c.height);
        EXPECT_EQ(profile.mVideoCodec, 1010);
        EXPECT_EQ(profile.mFrameRate, 30000);
        EXPECT_EQ(profile.mAudioSupported, 1);
        EXPECT_EQ(profile.mAudioCodec, 2010);
        EXPECT_EQ(profile.mSampleRate, 44100);
        EXPECT_EQ(profile.mBitsPerSample, 16);
        EXPECT_EQ(profile.mAudioChannels, 2);
        EXPECT_EQ(profile.mMaxChannel, 16);
    }
}

TEST(CMultiChannelDialectTest, JpegModelsReadTheSizeFromAPicturesDeviceHeader) {
    const std::string jpeg = device_test::MakeJpeg();
    ASSERT_GT(jpeg.size(), 100u) << "ffmpeg made no JPEG image";
    const std::string pal = device_test::WithDeviceHeader(jpeg, 5124, 704, 576);
    const std::string wide = device_test::WithDeviceHeader(jpeg, 5136, 1920, 1080);
    // The spliced header reads back with the header reader the viewer uses.
    media_util::CJpegHeader check(reinterpret_cast<const BYTE*>(wide.data()), wide.size(), 0);
    ASSERT_EQ(check.GetWidth(), 1920);
    ASSERT_EQ(check.GetHeight(), 1080);

    struct SCase {
        const char* name;
        int32_t machineCode;
        const char* playback;
        std::string body;
        bool refused;
        int32_t width, height;
    };
    const SCase cases[] = {
        {"PAL picture", 5124, "", pal, false, 704, 576},
        {"sizes above 255", 5136, "", wide, false, 1920, 1080},
        {"playback picture", 65540, "1", pal, false, 704, 576},
        {"65 bytes are enough", 5124, "", pal.substr(0, 65), false, 704, 576},
        {"64 bytes are too short", 5124, "", wide.substr(0, 64), false, 704, 272},
        {"40 bytes are too short", 5124, "", wide.substr(0, 40), false, 704, 272},
        {"empty picture", 5124, "", "", false, 704, 272},
        {"picture not answered", 5124, "", "", true, 704, 272},
    };
    for (size_t piece : {size_t(1), size_t(8192)}) {
        for (const SCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", read pieces of " + std::to_string(piece));
            SRig rig;
            rig.client.mMaxPiece = piece;
            const std::string path = *c.playback ? "/api.htm?op.playimage=0:1111111111111111"
                                                 : "/api.htm?op.liveimage=1111111111111111";
            if (!c.refused)
                rig.device.mPaths[path] = CFakeHttpClient::Ok(c.body);
            CMultiChannelDialect profile(c.machineCode, 4);
            profile.mChannel = 2;
            profile.mPlaybackSelector = c.playback;
            EXPECT_EQ(profile.SetUp(&rig.link, &rig.url, nullptr), 1);
            EXPECT_EQ(rig.client.mRequests, std::vector<std::string>{path});
            EXPECT_EQ(profile.mWidth, c.width);
            EXPECT_EQ(profile.mHeight, c.height);
            EXPECT_EQ(profile.mVideoCodec, 1000);
            EXPECT_EQ(profile.mAudioCodec, 2005);
            EXPECT_EQ(profile.mFrameRate, 30000);
            EXPECT_EQ(profile.mAudioSupported, 0);
            // The audio format keeps its construction values.
            EXPECT_EQ(profile.mSampleRate, 8000);
        }
    }
}

TEST(CMultiChannelDialectTest, SetUpThenStreamPath) {
    // The whole road for a 4-channel H.264 recorder, channel 3, audio wanted.
    SRig rig;
    rig.device.mLines["getavcxsize=3"] = "OK getavcxsize=704";
    rig.device.mLines["getavcysize=3"] = "OK getavcysize=480";
    CMultiChannelDialect profile(8776, 4);
    profile.mChannel = 3;
    ASSERT_EQ(profile.SetUp(&rig.link, &rig.url, nullptr), 1);
    profile.mAudioWanted = 1;
    std::string path;
    EXPECT_EQ(profile.ComposeStreamPath(path), 1);
    EXPECT_EQ(path, "/avc.cgi?op.liveimage=100&audio=100");
    EXPECT_EQ(profile.mCgiPath, "/api.htm?");
    EXPECT_EQ(profile.mLayoutSupport, 0);
}

} // namespace
