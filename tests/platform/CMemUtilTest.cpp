#include "platform/CMemUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using media_util::CMemUtil;

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
