#include "source/CHttpMediaSource.h"

#include "SourceTestKit.h"

#include <gtest/gtest.h>

namespace {

TEST(CHttpMediaSourceTest, ClientIsRebuiltOnlyForConnectionChanges) {
    const std::vector<std::pair<std::function<void(CSourceDesc&)>, bool>> cases = {
        {[](CSourceDesc& d) { d.mPacingMode = 1; }, false},
        {[](CSourceDesc& d) { d.mRequestMode = 0; }, false},
        {[](CSourceDesc& d) { d.mPassword = "new"; }, true},
        {[](CSourceDesc& d) { d.mUser = "guest"; }, true},
        {[](CSourceDesc& d) { d.mUrl += "?x=1"; }, true},
        {[](CSourceDesc& d) { d.mClientKind = 2; }, true}};
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        SSourceRig<CHttpMediaSource> rig("http://127.0.0.1/stream", 1, "old");
        rig.desc.mRequestMode = 30000;
        ASSERT_TRUE(rig.source.ApplySettings(&rig.desc));
        cases[i].first(rig.desc);
        // No thread: the description waits until a pass applies it.
        rig.source.UpdateSettings(&rig.desc);
        rig.source.Job();
        EXPECT_EQ(rig.clientsMade, cases[i].second ? 2 : 1);
        EXPECT_EQ(rig.source.GetClient()->GetCredentials()->mPassword, rig.desc.mPassword);
        EXPECT_EQ(rig.source.GetClient()->GetCredentials()->mUser, rig.desc.mUser);
        EXPECT_EQ(rig.source.GetStreamUrl(), rig.desc.mUrl);
    }
}

} // namespace
