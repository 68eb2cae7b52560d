#include "source/CSourceDesc.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(CSourceDescTest, SettersRefuseNull) {
    CSourceDesc d;
    media_util::CManualEvent a, b;
    EXPECT_EQ(d.SetEvents(&a, nullptr), 0);
    EXPECT_EQ(d.SetEvents(nullptr, &b), 0);
    EXPECT_EQ(d.mpStopEvent, nullptr);
    EXPECT_EQ(d.mpListener, nullptr);
    EXPECT_EQ(d.SetEvents(&a, &b), 1);
    EXPECT_EQ(d.mpStopEvent, &a);
    EXPECT_EQ(d.SetQueue(nullptr), 0);
    EXPECT_EQ(d.SetTemplate(nullptr), 0);
    media_util::CMediaObj t;
    t.mWidth = 640;
    t.CopyData("abc", 3);
    EXPECT_EQ(d.SetTemplate(&t), 1);
    EXPECT_EQ(d.mTemplate.mWidth, 640);
    EXPECT_EQ(d.mTemplate.mpData, nullptr); // the header only
    d.SetUrlSource("http://127.0.0.1/x", 2, "u", "p");
    EXPECT_EQ(d.mSourceKind, 0);
    EXPECT_EQ(d.mReceiveType, 2);
}

TEST(CSourceDescTest, CopiesCompareEqualAndEveryFieldCounts) {
    CSourceDesc base;
    base.SetUrlSource("http://127.0.0.1/x", 1, "user", "pass");
    base.mTemplate.mFrameRate = 25000;
    const std::vector<std::pair<const char*, std::function<void(CSourceDesc&)>>> changes = {
        {"password", [](CSourceDesc& d) { d.mPassword = "other"; }},
        {"template", [](CSourceDesc& d) { d.mTemplate.mFrameRate = 30000; }},
        {"queue", [](CSourceDesc& d) { d.mpQueue = reinterpret_cast<media_util::IMediaQueue*>(&d); }},
        {"slot", [](CSourceDesc& d) { d.mSlot = 3; }},
        {"url", [](CSourceDesc& d) { d.mUrl += "/"; }},
        {"client kind", [](CSourceDesc& d) { d.mClientKind = 2; }},
        {"request mode", [](CSourceDesc& d) { d.mRequestMode = 1; }},
        {"suffix", [](CSourceDesc& d) { d.mPathSuffix = "a"; }},
        {"rate", [](CSourceDesc& d) { d.mRateLimit = 1; }},
        {"auto restart", [](CSourceDesc& d) { d.mAutoRestart = 0; }},
        {"machine code", [](CSourceDesc& d) { d.mMachineCode = 1; }},
        {"password with a NUL", [](CSourceDesc& d) { d.mPassword.push_back('\0'); }},
    };
    CSourceDesc copy(base);
    EXPECT_TRUE(copy == base);
    for (const auto& [name, change] : changes) {
        CSourceDesc changed = base;
        change(changed);
        EXPECT_FALSE(changed == base) << name;
    }
    copy.Clear();
    EXPECT_TRUE(copy.mUrl.empty() && copy.mUser.empty() && copy.mPassword.empty());
}

} // namespace
