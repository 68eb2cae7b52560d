#include "viewer/CChannelGeometry.h"

#include <gtest/gtest.h>

namespace {

// The two dual-picture recorders (0x1412, 0x10004) send two channels in one
// picture with a 10-row band between them; odd channels are the lower half.
// A crop is relative to that half and limited to its edges.
TEST(CChannelGeometryTest, PictureRectangleOfDualPictureAndCrop) {
    struct Case {
        const char* name;
        int32_t machineCode, width, height, channel;
        SRect crop, expected;
    };
    const Case kCases[] = {
        {"single picture ignores channel", 0x1200, 352, 240, 2, {}, {0, 0, 352, 240}},
        {"neighbour code is single", 0x1413, 704, 490, 1, {}, {0, 0, 704, 490}},
        {"dual, channel 1 below the band", 0x1412, 704, 490, 1, {}, {0, 250, 704, 490}},
        {"dual, channel 2 above", 0x10004, 704, 490, 2, {}, {0, 10, 704, 240}},
        {"dual, channel 3 like 1", 0x1412, 704, 490, 3, {}, {0, 250, 704, 490}},
        {"dual odd height truncates", 0x1412, 352, 251, 1, {}, {0, 130, 352, 251}},
        {"dual channel 0 counts as even", 0x1412, 352, 250, 0, {}, {0, 10, 352, 120}},
        {"dual tiny picture truncates toward zero", 0x1412, 16, 5, 2, {}, {0, 10, 16, -2}},
        {"no crop when its right edge is 0", 0x1200, 704, 480, 1, {5, 5, 0, 100}, {0, 0, 704, 480}},
        {"crop inside", 0x1200, 704, 480, 1, {100, 50, 300, 250}, {100, 50, 300, 250}},
        {"crop moves with the lower half", 0x1412, 704, 490, 1, {10, 20, 110, 120}, {10, 270, 110, 370}},
        {"crop limited to right and bottom", 0x1200, 704, 480, 1, {600, 400, 900, 700}, {600, 400, 704, 480}},
        {"crop past the picture", 0x1200, 352, 240, 1, {400, 300, 500, 400}, {352, 240, 352, 240}},
        {"upper half keeps its bottom edge", 0x1412, 704, 490, 2, {0, 200, 704, 400}, {0, 210, 704, 240}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const bool dual = CChannelGeometry::IsDualPictureDevice(c.machineCode);
        const SRect rect = CChannelGeometry::ApplyCrop(
            CChannelGeometry::PictureRect(c.width, c.height, dual, c.channel), c.crop);
        EXPECT_EQ(c.expected, rect);
    }
}

// Decoded pictures are 16-bit and top-down (negative height) unless the host
// chose an output format; H.264 is top-down always.
TEST(CChannelGeometryTest, DisplayFormatByCodec) {
    struct Case {
        int32_t sourceCodec, outputFormat, height, expectedFormat, expectedHeight;
    };
    const int32_t kUntouched = 7; // the display's format before the call
    const Case kCases[] = {
        {1000, 0, 480, 120, -480},  {1005, 0, 240, 120, -240},      {1000, 0, -480, 120, -480},
        {1000, 100, 480, 100, 480}, {1005, 130, 240, 130, 240},     {1010, 100, 240, 100, -240},
        {1010, 32, -240, 32, -240}, {0, 100, 240, kUntouched, 240}, {120, 0, 240, kUntouched, 240},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message()
                     << c.sourceCodec << " output " << c.outputFormat << " rows " << c.height);
        media_util::CMediaObj display;
        display.mVideoFormat = kUntouched;
        display.mWidth = 352;
        display.mHeight = c.height;
        CChannelGeometry::AdjustDisplayFormat(c.sourceCodec, c.outputFormat, &display);
        EXPECT_EQ(c.expectedFormat, display.mVideoFormat);
        EXPECT_EQ(c.expectedHeight, display.mHeight);
        EXPECT_EQ(352, display.mWidth);
    }
    CChannelGeometry::AdjustDisplayFormat(1000, 0, nullptr); // no display: nothing to do, no crash
}

} // namespace
