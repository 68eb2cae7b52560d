#include "device/CVideoStandardDialect.h"

#include "device/FakeHttpClient.h"
#include "net/CUrl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CVideoStandardDialectTest, PalOrNtscFromTheStateAnswer) {
    struct SCase {
        const char* name;
        CFakeHttpClient::SAnswer answer;
        int32_t height, frameRate;
    };
    const SCase cases[] = {
        {"1 is PAL", CFakeHttpClient::Ok("1"), 288, 25000},
        {"1 with a line end", CFakeHttpClient::Ok("1\r\n"), 288, 25000},
        {"only the first character counts", CFakeHttpClient::Ok("10 junk"), 288, 25000},
        {"0 is NTSC", CFakeHttpClient::Ok("0\r\n"), 240, 30000},
        {"a blank before the 1", CFakeHttpClient::Ok(" 1"), 240, 30000},
        {"a reply line is not the bare state", CFakeHttpClient::Ok("OK ntsc=1"), 240, 30000},
        {"empty body", CFakeHttpClient::Ok(""), 240, 30000},
        {"not answered", CFakeHttpClient::Refused(), 240, 30000},
        {"an error page starting with 1", CFakeHttpClient::SAnswer{404, "1", false}, 288, 25000},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CFakeHttpClient client;
        CHttpLink link(&client);
        CUrl url;
        ASSERT_NE(url.Crack("http://127.0.0.1:8080/"), 0);
        client.mAnswers = {c.answer};
        CVideoStandardDialect profile(12292);
        profile.mChannel = 2;
        EXPECT_EQ(profile.SetUp(&link, &url, nullptr), 1);
        EXPECT_EQ(client.mRequests, std::vector<std::string>{"/getstate?value=ntsc"});
        EXPECT_EQ(profile.mVideoCodec, 1000);
        EXPECT_EQ(profile.mAudioCodec, 2005);
        EXPECT_EQ(profile.mWidth, 352);
        EXPECT_EQ(profile.mHeight, c.height);
        EXPECT_EQ(profile.mFrameRate, c.frameRate);
        EXPECT_EQ(profile.mAudioSupported, 0);
        EXPECT_EQ(profile.mCgiPath, "");
        std::string path;
        EXPECT_EQ(profile.ComposeStreamPath(path), 1);
        EXPECT_EQ(path, "/dms");
    }
}

TEST(CVideoStandardDialectTest, WithoutALinkTheServerIsNtsc) {
    CVideoStandardDialect profile(12292);
    EXPECT_EQ(profile.SetUp(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(profile.mHeight, 240);
    EXPECT_EQ(profile.mFrameRate, 30000);
}

} // namespace
