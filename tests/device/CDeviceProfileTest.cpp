#include "device/CDeviceProfile.h"

#include "device/CFixedDialect.h"
#include "device/CMultiChannelDialect.h"
#include "device/FakeHttpClient.h"
#include "net/CUrl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The base has no set-up; composition and the single-parameter calls are
// the same for every dialect.
class CPlainProfile : public CDeviceProfile {
public:
    CPlainProfile(int32_t machineCode, std::string cgiPath = "/vb.htm?")
        : CDeviceProfile(machineCode, std::move(cgiPath)) {}
    int SetUp(CHttpLink*, CUrl*, media_util::CMediaObj*) override { return 1; }
};

struct SStreamCase {
    const char* name;
    int32_t machineCode;
    int32_t codec;
    int32_t width, height;
    int32_t audioSupported, audioWanted;
    int32_t channel, maxChannel;
    int32_t profileId;
    const char* playbackSelector;
    const char* playbackChannels;
    int32_t iFrameOnly;
    int result;
    const char* path; // when result is 0: the output must stay as it was
};

constexpr const char* kBefore = "before";

TEST(CDeviceProfileTest, StreamPathForEveryDeviceType) {
    const SStreamCase cases[] = {
        // "/vb.htm?" family, default models (device type 1).
        {"4752 MPEG-4 with audio, channel 1", 4752, 1005, 640, 480, 1, 1, 1, 1, 0, "", "", 0, 1,
         "/ipcam/mpeg4.cgi?language=1&audiostream=1&ch=1"},
        {"4608 JPEG, no channel", 4608, 1000, 640, 480, 0, 0, 0, 1, 0, "", "", 0, 1,
         "/ipcam/sjpeg.cgi?language=1"},
        {"4608 H.264, I-frames only", 4608, 1010, 640, 480, 0, 0, 0, 1, 0, "", "", 1, 1,
         "/avc.cgi?language=1&ifrmonly=1"},
        {"4608 audio supported but not wanted", 4608, 1000, 0, 0, 1, 0, 2, 1, 0, "", "", 0, 1,
         "/ipcam/sjpeg.cgi?language=1&ch=2"},
        {"4608 audio wanted but not supported", 4608, 1005, 0, 0, 0, 1, 0, 1, 0, "", "", 0, 1,
         "/ipcam/mpeg4.cgi?language=1"},
        {"4608 everything", 4608, 1010, 0, 0, 1, 1, 1, 1, 0, "", "", 1, 1,
         "/avc.cgi?language=1&audiostream=1&ifrmonly=1&ch=1"},
        {"4608 without a codec", 4608, 0, 0, 0, 0, 0, 1, 1, 0, "", "", 0, 0, nullptr},
        {"4608 with an unknown codec", 4608, 1001, 0, 0, 0, 0, 1, 1, 0, "", "", 0, 0, nullptr},
        // Stream-profile models (device type 5).
        {"5751 profile 0 cannot stream", 5751, 1000, 0, 0, 0, 0, 1, 1, 0, "", "", 0, 0, nullptr},
        {"5751 negative profile", 5751, 1000, 0, 0, 0, 0, 1, 1, -3, "", "", 0, 0, nullptr},
        {"5751 profile 3 with audio", 5751, 1005, 0, 0, 1, 1, 1, 1, 3, "", "", 0, 1,
         "/ipcam/stream.cgi?nowprofileid=3&audiostream=1&ch=1"},
        {"8448 profile 1, codec does not matter", 8448, 0, 0, 0, 0, 0, 0, 1, 1, "", "", 1, 1,
         "/ipcam/stream.cgi?nowprofileid=1&ifrmonly=1"},
        {"8192 profile 12", 8192, 1010, 0, 0, 0, 0, 0, 1, 12, "", "", 0, 1,
         "/ipcam/stream.cgi?nowprofileid=12"},
        // 36865: paths by codec and main/secondary profile.
        {"36865 JPEG main", 36865, 1000, 0, 0, 0, 0, 0, 1, 0, "", "", 0, 1, "/ipcam/mjpeg.cgi?language=1"},
        {"36865 MPEG-4 main", 36865, 1005, 0, 0, 0, 0, 0, 1, 0, "", "", 0, 1, "/ipcam/mpeg4.cgi?language=1"},
        {"36865 H.264 main", 36865, 1010, 0, 0, 0, 0, 0, 1, 0, "", "", 0, 1, "/ipcam/avc.cgi?language=1"},
        {"36865 JPEG profile 1", 36865, 1000, 0, 0, 0, 0, 0, 1, 1, "", "", 0, 1,
         "/ipcam/mjpegcif.cgi?language=1"},
        {"36865 MPEG-4 profile 1", 36865, 1005, 0, 0, 0, 0, 0, 1, 1, "", "", 0, 1,
         "/ipcam/mpeg4cif.cgi?language=1"},
        {"36865 H.264 profile 2", 36865, 1010, 0, 0, 0, 0, 0, 1, 2, "", "", 0, 1,
         "/ipcam/avccif.cgi?language=1"},
        {"36865 H.264 profile 2, audio, channel 1", 36865, 1010, 0, 0, 1, 1, 1, 1, 2, "", "", 0, 1,
         "/ipcam/avccif.cgi?language=1&audiostream=1&ch=1"},
        {"36865 unknown codec", 36865, 0, 0, 0, 0, 0, 0, 1, 0, "", "", 0, 0, nullptr},
        // Multi-channel JPEG recorders.
        {"5124 live channel 3 with audio", 5124, 1000, 704, 480, 1, 1, 3, 4, 0, "", "", 0, 1,
         "/api.htm?op.liveimage=100&audio=100"},
        {"5124 live channel 1", 5124, 1000, 704, 480, 0, 0, 1, 4, 0, "", "", 0, 1, "/api.htm?op.liveimage=1"},
        {"5124 channel 0 with audio", 5124, 1000, 704, 480, 1, 1, 0, 4, 0, "", "", 0, 1,
         "/api.htm?op.liveimage=&audio=0"},
        {"5124 I-frame flag has no meaning here", 5124, 1000, 704, 480, 0, 0, 2, 4, 0, "", "", 1, 1,
         "/api.htm?op.liveimage=10"},
        {"5124 playback channel 2", 5124, 1000, 704, 480, 0, 0, 2, 4, 0, "20260101120000", "", 0, 1,
         "/api.htm?op.playimage=0:10"},
        {"5136 channel 16", 5136, 1000, 0, 0, 0, 0, 16, 16, 0, "", "", 0, 1,
         "/api.htm?op.liveimage=1000000000000000"},
        {"65540 channel 2 with audio", 65540, 1000, 0, 0, 1, 1, 2, 4, 0, "", "", 0, 1,
         "/api.htm?op.liveimage=10&audio=10"},
        // The two-stream recorder.
        {"5138 channel 4", 5138, 1010, 0, 0, 0, 0, 4, 4, 0, "", "", 0, 1, "/avc.cgi?op.liveimage=1100"},
        {"5138 channel 3", 5138, 1010, 0, 0, 0, 0, 3, 4, 0, "", "", 0, 1, "/avc.cgi?op.liveimage=1100"},
        {"5138 channel 2", 5138, 1010, 0, 0, 0, 0, 2, 4, 0, "", "", 0, 1, "/avc.cgi?op.liveimage=0011"},
        {"5138 channel 1 with audio", 5138, 1010, 0, 0, 1, 1, 1, 4, 0, "", "", 0, 1,
         "/avc.cgi?op.liveimage=0011&audio=1"},
        {"5138 channel 3, I-frames, audio", 5138, 1010, 0, 0, 1, 1, 3, 4, 0, "", "", 1, 1,
         "/avc.cgi?op.liveimage=1100&ifrmonly=1&audio=100"},
        {"5138 playback", 5138, 1010, 0, 0, 0, 0, 1, 4, 0, "20260101", "1,2", 0, 1,
         "/avcplay.cgi?op.playimage=20260101:1111"},
        // One H.264 stream per channel mask.
        {"8776 live channel 0", 8776, 1010, 0, 0, 0, 0, 0, 4, 0, "", "", 0, 1, "/avc.cgi?op.liveimage=0"},
        {"8776 live channel 2 with audio", 8776, 1010, 0, 0, 1, 1, 2, 4, 0, "", "", 0, 1,
         "/avc.cgi?op.liveimage=10&audio=10"},
        {"8775 live channel 8, I-frames", 8775, 1010, 0, 0, 0, 0, 8, 8, 0, "", "", 1, 1,
         "/avc.cgi?op.liveimage=10000000&ifrmonly=1"},
        {"8776 playback of 1 and 4", 8776, 1010, 0, 0, 0, 0, 1, 4, 0, "S", "1,4", 0, 1,
         "/avcplay.cgi?op.playimage=S:1001"},
        {"8776 playback of 2", 8776, 1010, 0, 0, 0, 0, 1, 4, 0, "S", "2", 0, 1,
         "/avcplay.cgi?op.playimage=S:0010"},
        {"8776 playback of 0 marks the last channel", 8776, 1010, 0, 0, 0, 0, 1, 4, 0, "S", "0", 0, 1,
         "/avcplay.cgi?op.playimage=S:0001"},
        {"8776 playback of 9 marks the last channel", 8776, 1010, 0, 0, 0, 0, 1, 4, 0, "S", "9", 0, 1,
         "/avcplay.cgi?op.playimage=S:0001"},
        {"8776 playback of a huge number", 8776, 1010, 0, 0, 0, 0, 1, 4, 0, "S", "-2147483648,99999999999", 0,
         1, "/avcplay.cgi?op.playimage=S:0001"},
        {"8776 playback of none, I-frames, audio", 8776, 1010, 0, 0, 1, 1, 3, 4, 0, "S", "", 1, 1,
         "/avcplay.cgi?op.playimage=S:0000&ifrmonly=1&audio=100"},
        {"8777 playback of 16 and 3", 8777, 1010, 0, 0, 0, 0, 1, 16, 0, "20260102", "16,3", 0, 1,
         "/avcplay.cgi?op.playimage=20260102:1000000000000100"},
        // Channels that do not fit the mask.
        {"channel 20", 5136, 1000, 0, 0, 0, 0, 20, 16, 0, "", "", 0, 0, nullptr},
        {"channel above the count", 5124, 1000, 0, 0, 0, 0, 5, 4, 0, "", "", 0, 0, nullptr},
        {"count of 20", 5124, 1000, 0, 0, 0, 0, 1, 20, 0, "", "", 0, 0, nullptr},
        {"negative channel", 5124, 1000, 0, 0, 0, 0, -1, 4, 0, "", "", 0, 0, nullptr},
        {"count 19, channel 19", 5124, 1000, 0, 0, 0, 0, 19, 19, 0, "", "", 0, 1,
         "/api.htm?op.liveimage=1000000000000000000"},
        // Video-standard servers and the other vendor.
        {"12292", 12292, 1000, 352, 240, 1, 1, 2, 4, 0, "", "", 1, 1, "/dms"},
        {"61441 320x240", 61441, 1000, 320, 240, 0, 0, 1, 1, 0, "", "", 0, 1,
         "/axis-cgi/mjpg/video.cgi?resolution=320x240"},
        {"61441 1280x720", 61441, 1000, 1280, 720, 1, 1, 0, 1, 0, "", "", 1, 1,
         "/axis-cgi/mjpg/video.cgi?resolution=1280x720"},
        // Models that cannot stream.
        {"16385 (no live video)", 16385, 1000, 0, 0, 0, 0, 1, 0, 0, "", "", 0, 0, nullptr},
        {"20481 (I/O box)", 20481, 1000, 0, 0, 0, 0, 1, 0, 0, "", "", 0, 0, nullptr},
        {"unknown code", 0x7777, 1000, 0, 0, 0, 0, 1, 1, 0, "", "", 0, 0, nullptr},
        {"no answer (-1)", -1, 1000, 0, 0, 0, 0, 1, 1, 0, "", "", 0, 0, nullptr},
    };
    for (const SStreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        CPlainProfile profile(c.machineCode);
        profile.mVideoCodec = c.codec;
        profile.mWidth = c.width;
        profile.mHeight = c.height;
        profile.mAudioSupported = c.audioSupported;
        profile.mAudioWanted = c.audioWanted;
        profile.mChannel = c.channel;
        profile.mMaxChannel = c.maxChannel;
        profile.mProfileId = c.profileId;
        profile.mPlaybackSelector = c.playbackSelector;
        profile.mPlaybackChannels = c.playbackChannels;
        profile.mIFrameOnly = c.iFrameOnly;
        std::string path = kBefore;
        EXPECT_EQ(profile.ComposeStreamPath(path), c.result);
        EXPECT_EQ(path, c.path != nullptr ? c.path : kBefore);
    }
}

TEST(CDeviceProfileTest, ResetForgetsStreamParametersButKeepsChannelCount) {
    CMultiChannelDialect profile(8776, 4);
    profile.mVideoCodec = 1010;
    profile.mAudioCodec = 2010;
    profile.mWidth = 720;
    profile.mHeight = 576;
    profile.mFrameRate = 30000;
    profile.mAudioSupported = 1;
    profile.mAudioWanted = 1;
    profile.mChannel = 3;
    profile.mIFrameOnly = 1;
    profile.mProfileId = 2;
    profile.Reset();
    EXPECT_EQ(profile.mMachineCode, 0);
    EXPECT_EQ(profile.mVideoCodec, 0);
    EXPECT_EQ(profile.mAudioCodec, 0);
    EXPECT_EQ(profile.mWidth, 0);
    EXPECT_EQ(profile.mHeight, 0);
    EXPECT_EQ(profile.mFrameRate, 0);
    EXPECT_EQ(profile.mAudioSupported, 0);
    EXPECT_EQ(profile.mAudioWanted, 0);
    EXPECT_EQ(profile.mChannel, 0);
    EXPECT_EQ(profile.mSampleRate, 0);
    EXPECT_EQ(profile.mBitsPerSample, 0);
    EXPECT_EQ(profile.mAudioChannels, 0);
    EXPECT_EQ(profile.mIFrameOnly, 0);
    EXPECT_EQ(profile.mProfileId, 0);
    EXPECT_EQ(profile.mMaxChannel, 4);
    // A reset dialect streams nothing.
    std::string path = kBefore;
    EXPECT_EQ(profile.ComposeStreamPath(path), 0);
    EXPECT_EQ(path, kBefore);
}

TEST(CDeviceProfileTest, ConstructionDefaults) {
    CFixedDialect profile(61441);
    EXPECT_EQ(profile.mMachineCode, 61441);
    EXPECT_EQ(profile.mSampleRate, 8000);
    EXPECT_EQ(profile.mBitsPerSample, 8);
    EXPECT_EQ(profile.mAudioChannels, 1);
    EXPECT_EQ(profile.mVideoCodec, 0);
    EXPECT_EQ(profile.mWidth, 0);
    EXPECT_EQ(profile.mChannel, 0);
    EXPECT_EQ(profile.mLayoutSupport, 0);
}

struct SParamCase {
    const char* name;
    const char* cgiPath;
    const char* key;
    const char* value; // nullptr: a query
    CFakeHttpClient::SAnswer answer;
    int result;
    const char* out;     // afterwards
    const char* request; // nullptr: no request may be made
};

TEST(CDeviceProfileTest, SingleParameterReadAndWrite) {
    const SParamCase cases[] = {
        {"query answered OK", "/vb.htm?", "supportmotion", nullptr,
         CFakeHttpClient::Ok("OK supportmotion=2\r\n"), 1, "2", "/vb.htm?supportmotion"},
        {"query through the recorders' CGI", "/api.htm?", "getlayoutnum=2", nullptr,
         CFakeHttpClient::Ok("OK getlayoutnum=5\r\n"), 1, "5", "/api.htm?getlayoutnum=2"},
        {"query refused with NG", "/vb.htm?", "supportmotion", nullptr,
         CFakeHttpClient::Ok("NG supportmotion=1\r\n"), 0, kBefore, "/vb.htm?supportmotion"},
        {"query not supported", "/vb.htm?", "supportmotion", nullptr,
         CFakeHttpClient::Ok("NS supportmotion\r\n"), 0, kBefore, "/vb.htm?supportmotion"},
        {"query with no reply line", "/vb.htm?", "supportmotion", nullptr, CFakeHttpClient::Ok(""), 0,
         kBefore, "/vb.htm?supportmotion"},
        {"query not answered", "/vb.htm?", "supportmotion", nullptr, CFakeHttpClient::Refused(), 0, kBefore,
         "/vb.htm?supportmotion"},
        {"query of an empty key", "/vb.htm?", "", nullptr, CFakeHttpClient::Ok("OK =1\r\n"), 0, kBefore,
         nullptr},
        {"write answered OK", "/vb.htm?", "motionenable", "1", CFakeHttpClient::Ok("OK motionenable=1\r\n"),
         1, "1", "/vb.htm?motionenable=1"},
        {"write through the vendor CGI", "/axis-cgi/admin/getparam.cgi?", "x", "y",
         CFakeHttpClient::Ok("OK x=y\r\n"), 1, "y", "/axis-cgi/admin/getparam.cgi?x=y"},
        {"write refused with UW", "/vb.htm?", "motionenable", "1",
         CFakeHttpClient::Ok("UW motionenable=1\r\n"), 0, kBefore, "/vb.htm?motionenable=1"},
        {"write refused with UA", "/vb.htm?", "motionenable", "1",
         CFakeHttpClient::Ok("UA motionenable=1\r\n"), 0, kBefore, "/vb.htm?motionenable=1"},
        {"write with junk reply", "/vb.htm?", "motionenable", "1", CFakeHttpClient::Ok("<html>\r\n"), 0,
         kBefore, "/vb.htm?motionenable=1"},
        {"write not answered", "/vb.htm?", "motionenable", "1", CFakeHttpClient::Refused(), 0, kBefore,
         "/vb.htm?motionenable=1"},
        {"write of an empty value", "/vb.htm?", "motionenable", "",
         CFakeHttpClient::Ok("OK motionenable=\r\n"), 0, kBefore, nullptr},
        {"write of an empty key", "/vb.htm?", "", "1", CFakeHttpClient::Ok("OK =1\r\n"), 0, kBefore, nullptr},
    };
    for (const SParamCase& c : cases) {
        SCOPED_TRACE(c.name);
        CFakeHttpClient client;
        CHttpLink link(&client);
        CUrl url;
        ASSERT_NE(url.Crack("http://127.0.0.1:9000/"), 0);
        client.mAnswers = {c.answer};
        CPlainProfile profile(4608, c.cgiPath);
        std::string out = kBefore;
        const int result = c.value == nullptr ? profile.QueryParam(&link, &url, c.key, out)
                                              : profile.SetParam(&link, &url, c.key, c.value, out);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(out, c.out);
        if (c.request == nullptr) {
            EXPECT_TRUE(client.mRequests.empty());
        } else {
            EXPECT_EQ(client.mRequests, std::vector<std::string>{c.request});
            EXPECT_EQ(client.mPorts, std::vector<uint16_t>{9000});
        }
    }
}

} // namespace
