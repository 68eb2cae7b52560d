#include "platform/reckit/CFrameParser.h"

#include <gtest/gtest.h>

#include "TestMedia.h"

using ipcam::CFrameParser;
using ipcam::test::Bytes;
using ipcam::test::Cat;
using Codec = CFrameParser::Codec;

TEST(CFrameParserTest, ConfigurationAndPictureAreSeparated) {
    const Bytes aud = {0, 0, 0, 1, 0x09, 0xF0}, sps = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E},
                pps = {0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80}, sei = {0, 0, 0, 1, 0x06, 0x05, 0x01},
                idr = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x21}, p = {0, 0, 0, 1, 0x41, 0x9A, 0x22};
    const Bytes vo = {0, 0, 1, 0x01}, vol = {0, 0, 1, 0x20, 0x08, 0xC8, 0x0D},
                gov = {0, 0, 1, 0xB3, 0x00, 0x10}, iVop = {0, 0, 1, 0xB6, 0x10, 0x60},
                pVop = {0, 0, 1, 0xB6, 0x50, 0x60}; // coding type 00, 01
    struct Case {
        const char* mName;
        Codec mCodec;
        Bytes mInput;
        bool mOk;
        Bytes mConfiguration, mPicture;
        bool mKey;
    } cases[] = {
        {"h264 key frame", Codec::H264, Cat({aud, sps, pps, sei, idr}), true, Cat({sps, pps}),
         Cat({sei, idr}), true},
        {"h264 configuration only", Codec::H264, Cat({sps, pps}), true, Cat({sps, pps}), {}, false},
        {"h264 predicted", Codec::H264, Cat({aud, p}), true, {}, p, false},
        {"h264 three-byte start code", Codec::H264, {0, 0, 1, 0x41, 0x9A, 0x22}, true, {}, p, false},
        {"h264 trailing zeros dropped", Codec::H264, Cat({idr, {0, 0}}), true, {}, idr, true},
        {"h264 SEI alone", Codec::H264, sei, true, {}, {}, false},
        {"h264 no start code", Codec::H264, {0x65, 0x88, 0x84}, false, {}, {}, false},
        {"h264 empty", Codec::H264, {}, false, {}, {}, false},
        {"mpeg4 key frame", Codec::Mpeg4, Cat({vo, vol, iVop}), true, Cat({vo, vol}), iVop, true},
        {"mpeg4 group belongs to the picture", Codec::Mpeg4, Cat({vo, vol, gov, iVop}), true, Cat({vo, vol}),
         Cat({gov, iVop}), true},
        {"mpeg4 predicted", Codec::Mpeg4, pVop, true, {}, pVop, false},
        {"mpeg4 picture code cut short", Codec::Mpeg4, {0, 0, 1, 0xB6}, true, {}, {}, false},
        {"mpeg4 no start code", Codec::Mpeg4, {1, 2, 3, 4, 5}, false, {}, {}, false},
    };
    for (const Case& c : cases) {
        CFrameParser::Parts parts;
        EXPECT_EQ(c.mOk, CFrameParser::Split(c.mCodec, c.mInput.data(), c.mInput.size(), &parts)) << c.mName;
        EXPECT_EQ(c.mConfiguration, parts.mConfiguration) << c.mName;
        EXPECT_EQ(c.mPicture, parts.mPicture) << c.mName;
        EXPECT_EQ(c.mKey, parts.mKey) << c.mName;
    }
}

TEST(CFrameParserTest, JpegSizeComesFromTheFrameHeader) {
    const Bytes soi = {0xFF, 0xD8}, app = {0xFF, 0xE0, 0x00, 0x04, 0x12, 0x34},
                sof0 = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0xF0, 0x01, 0x40, 3},
                sof2 = {0xFF, 0xC2, 0x00, 0x11, 0x08, 0x04, 0x38, 0x07, 0x80, 3};
    struct Case {
        const char* mName;
        Bytes mInput;
        int mWidth, mHeight; // 0: refused
    } cases[] = {
        {"baseline", Cat({soi, app, sof0}), 320, 240},
        {"progressive after a Huffman table", Cat({soi, {0xFF, 0xC4, 0x00, 0x04, 0x00, 0x00}, sof2}), 1920,
         1080},
        {"scan before any frame header", Cat({soi, {0xFF, 0xDA, 0x00, 0x08}, sof0}), 0, 0},
        {"truncated frame header", Cat({soi, Bytes(sof0.begin(), sof0.begin() + 6)}), 0, 0},
        {"segment length runs away", Cat({soi, {0xFF, 0xE0, 0xFF, 0xFF}}), 0, 0},
        {"zero width", Cat({soi, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0xF0, 0x00, 0x00}}), 0, 0},
    };
    for (const Case& c : cases) {
        int width = 0, height = 0;
        EXPECT_EQ(c.mWidth > 0, CFrameParser::JpegSize(c.mInput.data(), c.mInput.size(), &width, &height))
            << c.mName;
        if (c.mWidth > 0) {
            EXPECT_EQ(std::make_pair(c.mWidth, c.mHeight), std::make_pair(width, height)) << c.mName;
        }
    }
}
