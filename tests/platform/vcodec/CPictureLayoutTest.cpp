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
        {100, 320, -240, 960, 230400},
        {32, 1, 1, 4, 4},
        {777, 2, -3, 8, 24}, // unknown codes are 32-bit
        {0, 320, 240, 0, 0}, // no picture
        {130, 1, 1, 4, 4},   // 12 bits -> 2 bytes -> 4
        {120, 1, 5, 4, 20},
        {100, 0, 240, 0, 0},
        {130, 1920, 1080, 2880, 3110400},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.mStride, CPictureLayout::Stride(c.mCode, c.mWidth)) << c.mCode << " " << c.mWidth;
        EXPECT_EQ(c.mSize, CPictureLayout::PictureSize(c.mCode, c.mWidth, c.mHeight)) << c.mCode;
    }
}

TEST(CPictureLayoutTest, RowsAndPlanesLieInsideTheBuffer) {
    uint8_t buffer[1024];
    struct Case {
        int32_t mCode, mWidth, mHeight;
        bool mBottomUp;
    } cases[] = {{100, 5, 3, true}, {100, 5, 3, false}, {130, 6, 4, true}, {130, 7, 5, false},
                 {130, 7, 5, true}, {32, 4, 2, true},   {120, 3, 3, false}};
    for (const Case& c : cases) {
        CPictureLayout layout(c.mCode, c.mWidth, c.mHeight, c.mBottomUp, buffer);
        int planes = layout.IsPlanar() ? 3 : 1;
        for (int p = 0; p < planes; ++p) {
            int rows = p == 0 ? c.mHeight : c.mHeight / 2;
            int bytes = layout.IsPlanar() ? (p == 0 ? c.mWidth : c.mWidth / 2)
                                          : c.mWidth * CPictureLayout::BitsPerPixel(c.mCode) / 8;
            for (int y = 0; y < rows; ++y) {
                const uint8_t* row = layout.Planes()[p] + int64_t(y) * layout.Strides()[p];
                EXPECT_GE(row, buffer) << c.mCode << " plane " << p << " row " << y;
                EXPECT_LE(row + bytes, buffer + layout.Size()) << c.mCode << " plane " << p << " row " << y;
            }
            if (c.mBottomUp && rows > 0) {
                EXPECT_LT(layout.Strides()[p], 0);
            }
        }
    }
}
