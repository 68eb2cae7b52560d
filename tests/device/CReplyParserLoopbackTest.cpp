// The parameter CGI and the dialects through the real socket client, to a
// device on the loopback interface: what goes on the wire, byte for byte.
#include "device/CMultiChannelDialect.h"
#include "device/CProfileQueryDialect.h"
#include "device/CReplyParser.h"
#include "device/DevicePicture.h"
#include "device/LoopbackDevice.h"
#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "platform/CManualEvent.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// The control link and client the viewer would create for the device.
struct SControl {
    media_util::CManualEvent cancel;
    CHttpLink* link = nullptr;
    IHttpClient* client = nullptr;
    CUrl url;

    SControl(const std::string& deviceUrl, const std::string& user, const std::string& password) {
        EXPECT_TRUE(CreateHttpClient(kHttpClientSocket, user, password, &cancel, &link, &client));
        EXPECT_NE(url.Crack(deviceUrl), 0);
    }
    ~SControl() {
        delete link;
        delete client;
    }
};

TEST(CReplyParserLoopbackTest, BatchedQueryOnTheWire) {
    SParamDevice script;
    for (int i = 0; i < 10; ++i)
        script.mLines["key" + std::to_string(i)] =
            "OK key" + std::to_string(i) + "=" + std::to_string(i * 11);
    CLoopbackDevice device([&script](const std::string& path) { return script(path); });
    ASSERT_NE(device.Port(), 0);
    SControl control(device.Url(), "user", "pw");
    CReplyParser parser(control.link, &control.url, "/vb.htm?");

    media_util::CSlowHash params;
    for (int i = 0; i < 10; ++i)
        params.Add("key" + std::to_string(i), "");
    EXPECT_EQ(parser.Query(params), 1);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(params.GetValueAt(static_cast<size_t>(i)),
                  "OK key" + std::to_string(i) + "=" + std::to_string(i * 11));

    const std::vector<std::string> heads = device.Heads();
    ASSERT_EQ(heads.size(), 2u);
    // "user:pw" in Base64 is "dXNlcjpwdw==".
    EXPECT_EQ(heads[0], "GET /vb.htm?key0&key1&key2&key3&key4&key5&key6&key7 HTTP/1.1\r\n"
                        "Authorization: Basic dXNlcjpwdw==\r\n"
                        "User-Agent: Vantor Agent\r\n"
                        "Host: 127.0.0.1\r\n"
                        "Connection: Keep-Alive\r\n"
                        "Cache-Control: no-cache\r\n\r\n");
    EXPECT_EQ(device.Paths()[1], "/vb.htm?key8&key9");
}

TEST(CReplyParserLoopbackTest, DefaultCameraSetUp) {
    for (bool noLength : {false, true}) {
        SCOPED_TRACE(noLength ? "body ends with the connection" : "body with Content-Length");
        SParamDevice script;
        script.mLines = {
            {"supportavc", "OK supportavc=0"},         {"getformat", "OK getformat=1"},
            {"getjpegxsize=1", "OK getjpegxsize=640"}, {"getjpegysize=1", "OK getjpegysize=480"},
            {"getmpeg4xsize", "OK getmpeg4xsize=704"}, {"getmpeg4ysize", "OK getmpeg4ysize=576"},
            {"getavcxsize", "NS getavcxsize"},         {"getavcysize", "NS getavcysize"},
            {"getaudioenable", "OK getaudioenable=1"}, {"videomode", "OK videomode=1"},
        };
        CLoopbackDevice device([&script](const std::string& path) { return script(path); }, noLength);
        SControl control(device.Url(), "", "");
        CProfileQueryDialect profile(4752);
        media_util::CMediaObj params;
        EXPECT_EQ(profile.SetUp(control.link, &control.url, &params), 1);
        EXPECT_EQ(profile.mVideoCodec, 1005);
        EXPECT_EQ(profile.mWidth, 704);
        EXPECT_EQ(profile.mHeight, 576);
        EXPECT_EQ(profile.mFrameRate, 25000);
        EXPECT_EQ(profile.mAudioSupported, 1);
        const std::vector<std::string> expected = {"/vb.htm?supportavc&getformat&getjpegxsize=1&getjpegysize="
                                                   "1&getmpeg4xsize&getmpeg4ysize&getavcxsize&"
                                                   "getavcysize",
                                                   "/vb.htm?getaudioenable&videomode"};
        EXPECT_EQ(device.Paths(), expected);
        // No user name: no Authorization line.
        EXPECT_EQ(device.Heads()[0].find("Authorization"), std::string::npos);
        profile.mAudioWanted = 1;
        std::string path;
        EXPECT_EQ(profile.ComposeStreamPath(path), 1);
        EXPECT_EQ(path, "/ipcam/mpeg4.cgi?language=1&audiostream=1&ch=1");
    }
}

TEST(CReplyParserLoopbackTest, RecorderPictureSize) {
    const std::string jpeg = device_test::MakeJpeg();
    ASSERT_GT(jpeg.size(), 100u) << "ffmpeg made no JPEG image";
    const std::string picture = device_test::WithDeviceHeader(jpeg, 5124, 352, 240);
    CLoopbackDevice device([&picture](const std::string& path) {
        if (path == "/api.htm?op.liveimage=1111111111111111")
            return CFakeHttpClient::Ok(picture);
        return CFakeHttpClient::SAnswer{404, "", false};
    });
    SControl control(device.Url(), "admin", "");
    CMultiChannelDialect profile(5124, 4);
    profile.mChannel = 2;
    EXPECT_EQ(profile.SetUp(control.link, &control.url, nullptr), 1);
    EXPECT_EQ(profile.mWidth, 352);
    EXPECT_EQ(profile.mHeight, 240);
    EXPECT_EQ(device.Paths(), std::vector<std::string>{"/api.htm?op.liveimage=1111111111111111"});
    // "admin:" in Base64 is "YWRtaW46".
    EXPECT_NE(device.Heads()[0].find("\r\nAuthorization: Basic YWRtaW46\r\n"), std::string::npos);
}

TEST(CReplyParserLoopbackTest, DeviceClosingWithoutAnswerFailsTheQuery) {
    CLoopbackDevice device([](const std::string&) { return CFakeHttpClient::Refused(); });
    SControl control(device.Url(), "", "");
    CReplyParser parser(control.link, &control.url, "/vb.htm?");
    std::string out = "old";
    EXPECT_EQ(parser.QueryOne("getmachinecode", out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(device.Paths(), std::vector<std::string>{"/vb.htm?getmachinecode"});
}

} // namespace
