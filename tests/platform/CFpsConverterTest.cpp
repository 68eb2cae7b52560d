#include "platform/CFpsConverter.h"

#include <gtest/gtest.h>

using media_util::CFpsConverter;

TEST(CFpsConverterTest, CodesBecomeWholeFramesPerSecondOrFail) {
    struct Case {
        int32_t code;
        int ok;
        int32_t fps;
    } cases[] = {
        {30000, 1, 30}, {29970, 1, 30}, {12500, 1, 13}, {12499, 1, 12}, {1, 1, 1},
        {60000, 1, 60}, {60001, 0, 0},  {0, 0, 0},      {-30000, 0, 0},
    };
    for (const Case& c : cases) {
        int32_t fps = -7;
        EXPECT_EQ(c.ok, CFpsConverter::CmsToMachine(c.code, &fps)) << c.code;
        EXPECT_EQ(c.ok ? c.fps : -7, fps) << c.code << ": a failure leaves the output alone";
    }
    EXPECT_EQ(0, CFpsConverter::CmsToMachine(25000, nullptr));
}
