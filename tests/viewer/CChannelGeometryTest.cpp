#include "viewer/CChannelGeometry.h"

#include <gtest/gtest.h>

namespace {

using media_util::CMediaObj;

TEST(CChannelGeometryTest, DualPictureDevicesAreTheTwoRecorders) {
    struct Case {
        int32_t code;
        bool dual;
    };
    const Case kCases[] = {{0x1412, true},  {0x10004, true}, {0x1411, false},
                           {0x1413, false}, {0x1404, false}, {0x10005, false},
                           {0, false},      {-1, false},     {0x4112, false}};
    for (const Case& c : kCases)
        EXPECT_EQ(c.dual, CChannelGeometry::IsDualPictureDevice(c.code)) << std::hex << c.code;
}

TEST(CChannelGeometryTest, PictureRectangle) {
    struct Case {
        const char* name;
        int32_t width, height;
        bool dual;
        int32_t channel;
        SRect expected;
    };
    const Case kCases[] = {
        {"single picture", 704, 480, false, 1, {0, 0, 704, 480}},
        {"single picture ignores channel", 352, 240, false, 2, {0, 0, 352, 240}},
        {"dual 490, channel 1 below the band", 704, 490, true, 1, {0, 250, 704, 490}},
        {"dual 490, channel 2 above", 704, 490, true, 2, {0, 10, 704, 240}},
        {"dual 490, channel 3 like 1", 704, 490, true, 3, {0, 250, 704, 490}},
        {"dual 490, channel 4 like 2", 704, 490, true, 4, {0, 10, 704, 240}},
        {"dual odd height truncates", 352, 251, true, 1, {0, 130, 352, 251}},
        {"dual odd height, even channel", 352, 251, true, 2, {0, 10, 352, 120}},
        {"dual channel 0 counts as even", 352, 250, true, 0, {0, 10, 352, 120}},
        {"dual tiny picture truncates toward zero", 16, 5, true, 2, {0, 10, 16, -2}},
        {"empty picture", 0, 0, false, 1, {0, 0, 0, 0}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        SRect rect = CChannelGeometry::PictureRect(c.width, c.height, c.dual, c.channel);
        EXPECT_EQ(c.expected.left, rect.left);
        EXPECT_EQ(c.expected.top, rect.top);
        EXPECT_EQ(c.expected.right, rect.right);
        EXPECT_EQ(c.expected.bottom, rect.bottom);
    }
}

TEST(CChannelGeometryTest, Crop) {
    struct Case {
        const char* name;
        SRect picture;
        SRect crop;
        SRect expected;
    };
    const Case kCases[] = {
        {"no crop (right edge 0)", {0, 0, 704, 480}, {5, 5, 0, 100}, {0, 0, 704, 480}},
        {"inside", {0, 0, 704, 480}, {100, 50, 300, 250}, {100, 50, 300, 250}},
        {"moves with the dual-picture half", {0, 250, 704, 490}, {10, 20, 110, 120}, {10, 270, 110, 370}},
        {"limited to the right and bottom edges",
         {0, 0, 704, 480},
         {600, 400, 900, 700},
         {600, 400, 704, 480}},
        {"starts past the picture", {0, 0, 352, 240}, {400, 300, 500, 400}, {352, 240, 352, 240}},
        {"upper half keeps its bottom edge", {0, 10, 704, 240}, {0, 200, 704, 400}, {0, 210, 704, 240}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        SRect rect = CChannelGeometry::ApplyCrop(c.picture, c.crop);
        EXPECT_EQ(c.expected.left, rect.left);
        EXPECT_EQ(c.expected.top, rect.top);
        EXPECT_EQ(c.expected.right, rect.right);
        EXPECT_EQ(c.expected.bottom, rect.bottom);
    }
}

TEST(CChannelGeometryTest, DisplayFormatByCodec) {
    struct Case {
        const char* name;
        int32_t sourceCodec;
        int32_t outputFormat;
        int32_t height;
        int32_t expectedFormat;
        int32_t expectedHeight;
    };
    const int32_t kUntouched = 7; // the display's format before the call
    const Case kCases[] = {
        {"JPEG without output format: 16-bit, top-down", 1000, 0, 480, 120, -480},
        {"MPEG-4 without output format", 1005, 0, 240, 120, -240},
        {"JPEG already top-down stays", 1000, 0, -480, 120, -480},
        {"JPEG with output format keeps its rows", 1000, 100, 480, 100, 480},
        {"MPEG-4 with output format keeps its rows", 1005, 130, 240, 130, 240},
        {"H.264 without output format", 1010, 0, 240, 120, -240},
        {"H.264 with output format is still top-down", 1010, 100, 240, 100, -240},
        {"H.264 already top-down", 1010, 32, -240, 32, -240},
        {"no codec changes nothing", 0, 100, 240, kUntouched, 240},
        {"pixel code changes nothing", 120, 0, 240, kUntouched, 240},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        CMediaObj display;
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
