#include "source/CHttpMediaSource.h"

#include "FakeStreamClient.h"

#include <gtest/gtest.h>

namespace {

struct SCase {
    const char* name;
    std::function<void(CSourceDesc&)> change;
    bool rebuilt;
};

TEST(CHttpMediaSourceTest, ClientIsRebuiltOnlyForConnectionChanges) {
    const std::vector<SCase> cases = {
        {"frame-rate template", [](CSourceDesc& d) { d.mTemplate.mFrameRate = 15000; }, false},
        {"pacing", [](CSourceDesc& d) { d.mPacingMode = 1; }, false},
        {"request mode", [](CSourceDesc& d) { d.mRequestMode = 0; }, false},
        {"password", [](CSourceDesc& d) { d.mPassword = "new"; }, true},
        {"user", [](CSourceDesc& d) { d.mUser = "guest"; }, true},
        {"url", [](CSourceDesc& d) { d.mUrl += "?x=1"; }, true},
        {"client kind", [](CSourceDesc& d) { d.mClientKind = 2; }, true},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SStreamScript script;
        CHttpMediaSource source;
        source.SetClientFactory(MakeScriptedFactory(script));
        CSourceDesc desc;
        desc.SetUrlSource("http://127.0.0.1/stream", 1, "admin", "old");
        desc.mClientKind = 1;
        desc.mRequestMode = 30000;
        ASSERT_TRUE(source.ApplySettings(&desc));
        ASSERT_NE(source.GetClient(), nullptr);
        c.change(desc);
        // No thread: the record stays pending until a pass applies it.
        source.UpdateSettings(&desc);
        source.Job();
        EXPECT_EQ(script.clientsMade, c.rebuilt ? 2 : 1);
        EXPECT_EQ(source.GetClient()->GetCredentials()->mPassword, desc.mPassword);
        EXPECT_EQ(source.GetClient()->GetCredentials()->mUser, desc.mUser);
        EXPECT_EQ(source.GetStreamUrl(), desc.mUrl);
    }
}

TEST(CHttpMediaSourceTest, RateLimitOnlyInRateLimitMode) {
    struct SRate {
        int mode, rate;
        DWORD limit;
    };
    for (const SRate& r : {SRate{2, 8000, 8000}, SRate{1, 8000, 0}, SRate{0, 8000, 0}, SRate{2, 0, 0}}) {
        SStreamScript script;
        CHttpMediaSource source;
        source.SetClientFactory(MakeScriptedFactory(script));
        CSourceDesc desc;
        desc.SetUrlSource("http://127.0.0.1/stream", 1, "", "");
        desc.mPacingMode = r.mode;
        desc.mRateLimit = r.rate;
        ASSERT_TRUE(source.ApplySettings(&desc));
        EXPECT_EQ(source.GetClient()->GetRateLimit(), r.limit) << r.mode;
    }
}

TEST(CHttpMediaSourceTest, NullDescriptionKeepsTheClient) {
    SStreamScript script;
    CHttpMediaSource source;
    source.SetClientFactory(MakeScriptedFactory(script));
    CSourceDesc desc;
    desc.SetUrlSource("http://127.0.0.1/stream", 1, "a", "b");
    ASSERT_TRUE(source.ApplySettings(&desc));
    IHttpClient* client = source.GetClient();
    EXPECT_FALSE(source.ApplySettings(nullptr));
    EXPECT_EQ(source.GetClient(), client);
    EXPECT_EQ(script.clientsMade, 1);
    // Without a factory the real clients are made; the cancel event is ours.
    CHttpMediaSource real;
    ASSERT_TRUE(real.ApplySettings(&desc));
    ASSERT_NE(real.GetClient(), nullptr);
    EXPECT_TRUE(real.GetClient()->IsUsable());
    real.GetCancelEvent().Set();
    EXPECT_FALSE(real.GetClient()->IsUsable());
}

} // namespace
