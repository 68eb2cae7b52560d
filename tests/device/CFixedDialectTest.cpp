#include "device/CFixedDialect.h"

#include "device/FakeHttpClient.h"
#include "net/CUrl.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CFixedDialectTest, FixedValuesWithoutAnyRequest) {
    CFakeHttpClient client;
    CHttpLink link(&client);
    CUrl url;
    ASSERT_NE(url.Crack("http://127.0.0.1:8080/"), 0);
    CFixedDialect profile(61441);
    media_util::CMediaObj params;
    params.mVideoFormat = 1010;
    params.mWidth = 1920;
    params.mHeight = 1080;
    params.mProfileId = 3;
    EXPECT_EQ(profile.SetUp(&link, &url, &params), 1);
    EXPECT_TRUE(client.mRequests.empty());
    EXPECT_EQ(profile.mVideoCodec, 1000);
    EXPECT_EQ(profile.mAudioCodec, 0);
    EXPECT_EQ(profile.mWidth, 320);
    EXPECT_EQ(profile.mHeight, 240);
    EXPECT_EQ(profile.mFrameRate, 30000);
    EXPECT_EQ(profile.mAudioSupported, 0);
    EXPECT_EQ(profile.mProfileId, 0);
    EXPECT_EQ(profile.mCgiPath, "/axis-cgi/admin/getparam.cgi?");
    std::string path;
    EXPECT_EQ(profile.ComposeStreamPath(path), 1);
    EXPECT_EQ(path, "/axis-cgi/mjpg/video.cgi?resolution=320x240");
}

} // namespace
