#include "platform/vcodec/CPictureLayout.h"

#include <gtest/gtest.h>

using ipcam::CPictureLayout;

TEST(CPictureLayoutTest, StrideIsBitsRoundedUpToFourBytes) {
    struct Case {
        int32_t mCode, mWidth, mHeight;
        int64_t mStride, mSize;
    } cases[] = {
        {120, 352, 240, 704, 168960}, // CIF-width camera in RGB565
        {100, 3, 1, 12, 12},          // 9 bytes rounded up
        {130, 5, 2, 8, 16},           // 60 bits -> 8 bytes
        {130, 1, 1, 4, 4},            // 12 bits -> 2 bytes -> 4
        {100, 320, -240, 960, 230400},
        {777, 2, -3, 8, 24}, // unknown codes are 32-bit
        {0, 320, 240, 0, 0}, // no picture
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.mStride, CPictureLayout::Stride(c.mCode, c.mWidth)) << c.mCode << " " << c.mWidth;
        EXPECT_EQ(c.mSize, CPictureLayout::PictureSize(c.mCode, c.mWidth, c.mHeight)) << c.mCode;
    }
}
