#include "platform/CFpsConverter.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "platform/CMemUtil.h"

using media_util::CFpsConverter;
using media_util::CMemUtil;

TEST(CFpsConverterTest, CodesBecomeWholeFramesPerSecondOrFail) {
    struct Case {
        int32_t code;
        int ok;
        int32_t fps;
    } cases[] = {
        {30000, 1, 30}, {25000, 1, 25}, {29970, 1, 30},  {12500, 1, 13},  {12499, 1, 12},
        {1000, 1, 1},   {1, 1, 1},      {499, 1, 1},     {60000, 1, 60},  {60001, 0, 0},
        {0, 0, 0},      {-30000, 0, 0}, {INT_MAX, 0, 0}, {INT_MIN, 0, 0},
    };
    for (const Case& c : cases) {
        int32_t fps = -7;
        EXPECT_EQ(c.ok, CFpsConverter::CmsToMachine(c.code, &fps)) << c.code;
        EXPECT_EQ(c.ok ? c.fps : -7, fps) << c.code << ": a failure leaves the output alone";
    }
    EXPECT_EQ(0, CFpsConverter::CmsToMachine(25000, nullptr));
}

TEST(CMemUtilTest, CopiesExactlyTheBytesAsked) {
    unsigned char source[300];
    for (int i = 0; i < 300; ++i)
        source[i] = static_cast<unsigned char>(i * 7);
    for (size_t length : {size_t(0), size_t(1), size_t(31), size_t(64), size_t(299)}) {
        unsigned char target[300];
        memset(target, 0xCC, sizeof(target));
        EXPECT_EQ(target, CMemUtil::FastMemcpyMMX(target, source, length));
        EXPECT_EQ(0, memcmp(target, source, length));
        if (length < sizeof(target)) {
            EXPECT_EQ(0xCC, target[length]) << "nothing past the length";
        }
    }
    EXPECT_EQ(nullptr, CMemUtil::FastMemcpyMMX(nullptr, source, 0));
}
