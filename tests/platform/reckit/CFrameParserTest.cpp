#include "platform/reckit/CFrameParser.h"

#include <gtest/gtest.h>

using ipcam::CFrameParser;
using Bytes = std::vector<uint8_t>;

namespace {
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}
} // namespace

TEST(CFrameParserTest, H264ConfigurationAndPictureAreSeparated) {
    const Bytes aud = {0, 0, 0, 1, 0x09, 0xF0};
    const Bytes sps = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E};
    const Bytes pps = {0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80};
    const Bytes sei = {0, 0, 0, 1, 0x06, 0x05, 0x01};
    const Bytes idr = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x21};
    const Bytes p = {0, 0, 0, 1, 0x41, 0x9A, 0x22};
    const Bytes shortCode = {0, 0, 1, 0x41, 0x9A, 0x22};
    struct Case {
        const char* mName;
        Bytes mInput;
        bool mOk;
        Bytes mConfiguration, mPicture;
        bool mKey;
    } cases[] = {
        {"key frame with configuration", Cat({aud, sps, pps, sei, idr}), true, Cat({sps, pps}),
         Cat({sei, idr}), true},
        {"configuration only", Cat({sps, pps}), true, Cat({sps, pps}), {}, false},
        {"predicted", Cat({aud, p}), true, {}, p, false},
        {"three-byte start code", shortCode, true, {}, p, false},
        {"trailing zeros dropped", Cat({idr, {0, 0}}), true, {}, idr, true},
        {"SEI alone is no picture", sei, true, {}, {}, false},
        {"no start code", {0x65, 0x88, 0x84}, false, {}, {}, false},
        {"empty", {}, false, {}, {}, false},
    };
    for (const Case& c : cases) {
        CFrameParser::Parts parts;
        EXPECT_EQ(c.mOk,
                  CFrameParser::Split(CFrameParser::Codec::H264, c.mInput.data(), c.mInput.size(), &parts))
            << c.mName;
        EXPECT_EQ(c.mConfiguration, parts.mConfiguration) << c.mName;
        EXPECT_EQ(c.mPicture, parts.mPicture) << c.mName;
        EXPECT_EQ(c.mKey, parts.mKey) << c.mName;
    }
}

TEST(CFrameParserTest, Mpeg4ConfigurationEndsAtTheFirstGroupOrPicture) {
    const Bytes vo = {0, 0, 1, 0x01};
    const Bytes vol = {0, 0, 1, 0x20, 0x08, 0xC8, 0x0D};
    const Bytes gov = {0, 0, 1, 0xB3, 0x00, 0x10};
    const Bytes iVop = {0, 0, 1, 0xB6, 0x10, 0x60, 0x51}; // coding type 00
    const Bytes pVop = {0, 0, 1, 0xB6, 0x50, 0x60, 0x51}; // coding type 01
    const Bytes bVop = {0, 0, 1, 0xB6, 0x90, 0x60, 0x51}; // coding type 10
    struct Case {
        const char* mName;
        Bytes mInput;
        Bytes mConfiguration, mPicture;
        bool mKey;
    } cases[] = {
        {"configuration and intra picture", Cat({vo, vol, iVop}), Cat({vo, vol}), iVop, true},
        {"group of pictures belongs to the picture", Cat({vo, vol, gov, iVop}), Cat({vo, vol}),
         Cat({gov, iVop}), true},
        {"configuration only", Cat({vo, vol}), Cat({vo, vol}), {}, false},
        {"predicted", pVop, {}, pVop, false},
        {"bidirectional", bVop, {}, bVop, false},
        {"picture code without its header byte", {0, 0, 1, 0xB6}, {}, {}, false},
    };
    for (const Case& c : cases) {
        CFrameParser::Parts parts;
        EXPECT_TRUE(CFrameParser::Split(CFrameParser::Codec::Mpeg4, c.mInput.data(), c.mInput.size(), &parts))
            << c.mName;
        EXPECT_EQ(c.mConfiguration, parts.mConfiguration) << c.mName;
        EXPECT_EQ(c.mPicture, parts.mPicture) << c.mName;
        EXPECT_EQ(c.mKey, parts.mKey) << c.mName;
    }
    CFrameParser::Parts parts;
    Bytes noCode = {1, 2, 3, 4, 5};
    EXPECT_FALSE(CFrameParser::Split(CFrameParser::Codec::Mpeg4, noCode.data(), noCode.size(), &parts));
}

TEST(CFrameParserTest, JpegSizeComesFromTheFrameHeader) {
    const Bytes soi = {0xFF, 0xD8};
    const Bytes app = {0xFF, 0xE0, 0x00, 0x04, 0x12, 0x34};
    const Bytes sof0 = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0xF0, 0x01, 0x40, 3};
    const Bytes sof2 = {0xFF, 0xC2, 0x00, 0x11, 0x08, 0x04, 0x38, 0x07, 0x80, 3};
    const Bytes dht = {0xFF, 0xC4, 0x00, 0x04, 0x00, 0x00};
    const Bytes sos = {0xFF, 0xDA, 0x00, 0x08};
    struct Case {
        const char* mName;
        Bytes mInput;
        bool mOk;
        int mWidth, mHeight;
    } cases[] = {
        {"baseline", Cat({soi, app, sof0}), true, 320, 240},
        {"progressive after a Huffman table", Cat({soi, dht, sof2}), true, 1920, 1080},
        {"scan before any frame header", Cat({soi, sos, sof0}), false, 0, 0},
        {"truncated frame header", Cat({soi, Bytes(sof0.begin(), sof0.begin() + 6)}), false, 0, 0},
        {"segment length runs away", Cat({soi, {0xFF, 0xE0, 0xFF, 0xFF}}), false, 0, 0},
        {"zero width", Cat({soi, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0xF0, 0x00, 0x00}}), false, 0, 0},
    };
    for (const Case& c : cases) {
        int width = 0, height = 0;
        EXPECT_EQ(c.mOk, CFrameParser::JpegSize(c.mInput.data(), c.mInput.size(), &width, &height))
            << c.mName;
        if (c.mOk) {
            EXPECT_EQ(c.mWidth, width) << c.mName;
            EXPECT_EQ(c.mHeight, height) << c.mName;
        }
    }
}
