// JPEG decoding through the C entry points, checked against ffmpeg's own
// decoding of the same image. libjpeg-turbo and ffmpeg's mjpeg decoder use
// different IDCTs and chroma upsampling, so pictures agree by PSNR, not bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

extern "C" {
#include <libavutil/log.h>
}

#include "TestMedia.h"
#include "ipcamview/vcodec.h"

using namespace ipcam::test;

namespace {

struct Image {
    const char* mName;
    int mWidth;
    int mHeight;
    const char* mPixelFormat; // sampling of the JPEG
};

const Image kImages[] = {
    {"j420", 320, 240, "yuvj420p"},
    {"j422", 320, 240, "yuvj422p"},
    {"j444", 160, 120, "yuvj444p"},
    {"odd", 175, 97, "yuvj420p"},
};

const int32_t kPixelCodes[] = {100, 120, 130, 32};

class CJpegDecoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        av_log_set_level(AV_LOG_QUIET);
        spDir = new TempDir("vcodec-jpeg");
        for (const Image& image : kImages) {
            std::string path = spDir->File(std::string(image.mName) + ".jpg");
            ASSERT_EQ(0, Generate(path, image.mWidth, image.mHeight, 1,
                                  std::string("-c:v mjpeg -q:v 2 -update 1 -pix_fmt ") + image.mPixelFormat));
            (*spFiles)[image.mName] = ReadFile(path);
        }
    }
    static void TearDownTestSuite() {
        delete spDir;
        spDir = nullptr;
    }
    static const Bytes& File(const char* name) { return (*spFiles)[name]; }

    static TempDir* spDir;
    static std::map<std::string, Bytes>* spFiles;
};
TempDir* CJpegDecoderTest::spDir = nullptr;
std::map<std::string, Bytes>* CJpegDecoderTest::spFiles = new std::map<std::string, Bytes>;

int32_t PictureSize(int32_t code, int width, int height) {
    int bits = code == 100 ? 24 : code == 120 ? 16 : code == 130 ? 12 : 32;
    return ((width * bits + 7) / 8 + 3) / 4 * 4 * height;
}

// Decodes one buffer with a fresh handle; the picture, or empty on failure.
Bytes DecodeOnce(int32_t code, int width, int height, const Bytes& input, int32_t* reported = nullptr) {
    int32_t handle = CreateCodec(VCODEC_FORMAT_JPEG, code, width, height, 30);
    EXPECT_GE(handle, 0);
    Bytes out(size_t(PictureSize(code, width, height < 0 ? -height : height)) + 64, 0xAA);
    int32_t length = int32_t(input.size());
    int32_t size = int32_t(out.size());
    int32_t ok = Decode(handle, input.data(), &length, out.data(), &size);
    ReleaseCodec(handle);
    if (reported)
        *reported = size;
    if (!ok)
        return Bytes();
    EXPECT_EQ(int32_t(input.size()), length) << "a JPEG image is consumed whole";
    // Nothing written past the picture.
    for (size_t i = size_t(size); i < out.size(); ++i)
        if (out[i] != 0xAA) {
            ADD_FAILURE() << "byte " << i << " past the picture was written";
            break;
        }
    out.resize(size_t(size));
    return out;
}

TEST_F(CJpegDecoderTest, EveryPixelCodeAndRowOrderMatchesFfmpeg) {
    for (const Image& image : kImages) {
        std::string path = spDir->File(std::string(image.mName) + ".jpg");
        for (int32_t code : kPixelCodes) {
            std::vector<Bytes> ref =
                ReferenceFrames(path, PixelFormatName(code), image.mWidth, image.mHeight);
            ASSERT_EQ(1u, ref.size()) << image.mName;
            Bytes expected = CommonPart(ref[0], code, image.mWidth, image.mHeight);
            for (bool bottomUp : {true, false}) {
                SCOPED_TRACE(std::string(image.mName) + " code " + std::to_string(code) +
                             (bottomUp ? " bottom-up" : " top-down"));
                int32_t size = 0;
                Bytes picture = DecodeOnce(code, image.mWidth, bottomUp ? image.mHeight : -image.mHeight,
                                           File(image.mName), &size);
                ASSERT_FALSE(picture.empty());
                EXPECT_EQ(PictureSize(code, image.mWidth, image.mHeight), size);
                Bytes got = TopDown(picture, code, image.mWidth, image.mHeight, bottomUp);
                ASSERT_EQ(expected.size(), got.size());
                double psnr = code == 120 ? Psnr(Unpack565(got), Unpack565(expected)) : Psnr(got, expected);
                EXPECT_GE(psnr, 40.0);
                if (code == 32) {
                    for (size_t i = 3; i < got.size(); i += 4)
                        ASSERT_EQ(0xFF, got[i]) << "alpha at pixel " << i / 4;
                }
            }
        }
    }
}

TEST_F(CJpegDecoderTest, BufferOneByteTooSmallGetsNothingWritten) {
    const Image& image = kImages[0];
    for (int32_t code : kPixelCodes) {
        int32_t handle = CreateCodec(VCODEC_FORMAT_JPEG, code, image.mWidth, image.mHeight, 30);
        ASSERT_GE(handle, 0);
        Bytes out(size_t(PictureSize(code, image.mWidth, image.mHeight)) - 1, 0x5C);
        const Bytes& in = File(image.mName);
        int32_t length = int32_t(in.size());
        int32_t size = int32_t(out.size());
        EXPECT_EQ(0, Decode(handle, in.data(), &length, out.data(), &size)) << code;
        EXPECT_EQ(0, size);
        EXPECT_EQ(Bytes(out.size(), 0x5C), out) << "code " << code << " wrote into a buffer too small";
        ReleaseCodec(handle);
    }
}

TEST_F(CJpegDecoderTest, AlignmentMarkerMovesThePictureEightBytesIn) {
    const Image& image = kImages[0];
    const uint8_t marker[8] = {0x19, 0x74, 0x10, 0x10, 0x74, 0x19, 0x01, 0x01};
    int32_t pictureSize = PictureSize(32, image.mWidth, image.mHeight);
    Bytes plain = DecodeOnce(32, image.mWidth, image.mHeight, File(image.mName));
    ASSERT_FALSE(plain.empty());
    struct Case {
        size_t mOffset; // of the buffer from a 16-byte boundary
        bool mShifted;
    } cases[] = {{8, true}, {4, true}, {0, false}};
    for (const Case& c : cases) {
        Bytes storage(size_t(pictureSize) + 64, 0);
        uint8_t* base = storage.data();
        base += (16 - reinterpret_cast<uintptr_t>(base) % 16) % 16 + c.mOffset;
        memcpy(base, marker, sizeof marker);
        int32_t handle = CreateCodec(VCODEC_FORMAT_JPEG, 32, image.mWidth, image.mHeight, 30);
        const Bytes& in = File(image.mName);
        int32_t length = int32_t(in.size());
        int32_t size = pictureSize + 16;
        ASSERT_EQ(1, Decode(handle, in.data(), &length, base, &size)) << c.mOffset;
        EXPECT_EQ(pictureSize, size);
        const uint8_t* picture = base + (c.mShifted ? 8 : 0);
        EXPECT_EQ(0, memcmp(picture, plain.data(), plain.size())) << c.mOffset;
        if (c.mShifted) {
            EXPECT_EQ(0, memcmp(base, marker, sizeof marker)) << "the marker stays for the reader to skip";
        }
        ReleaseCodec(handle);
    }
}

TEST_F(CJpegDecoderTest, StreamSizeDecidesThePictureSize) {
    // Set up for 320 x 240, the camera sends 175 x 97: the picture has the
    // stream's size and stride, and a buffer that holds it is enough.
    Bytes picture = DecodeOnce(100, 320, -240, File("odd"));
    ASSERT_FALSE(picture.empty());
    EXPECT_EQ(size_t(PictureSize(100, 175, 97)), picture.size());
}

TEST_F(CJpegDecoderTest, BadInputGivesNoPicture) {
    const Bytes& good = File("j420");
    std::mt19937 random(20261206);
    Bytes noise(5000);
    for (uint8_t& b : noise)
        b = uint8_t(random());
    Bytes truncated(good.begin(), good.begin() + long(good.size() / 2));
    Bytes headOnly(good.begin(), good.begin() + 200);
    Bytes zeroWidth = good;
    // The frame header's width and height follow FF C0, length and precision.
    for (size_t i = 0; i + 9 < zeroWidth.size(); ++i)
        if (zeroWidth[i] == 0xFF && zeroWidth[i + 1] == 0xC0) {
            memset(&zeroWidth[i + 5], 0, 4);
            break;
        }
    Bytes hugeWidth = good;
    for (size_t i = 0; i + 9 < hugeWidth.size(); ++i)
        if (hugeWidth[i] == 0xFF && hugeWidth[i + 1] == 0xC0) {
            hugeWidth[i + 7] = 0xFF;
            hugeWidth[i + 8] = 0xF0;
            break;
        }
    Bytes noHuffman = good;
    for (size_t i = 0; i + 1 < noHuffman.size(); ++i)
        if (noHuffman[i] == 0xFF && noHuffman[i + 1] == 0xC4) {
            noHuffman[i + 1] = 0xEE; // the Huffman tables become an unknown segment
        }
    Bytes soiEoi = {0xFF, 0xD8, 0xFF, 0xD9};
    struct Case {
        const char* mName;
        Bytes mInput;
    } cases[] = {{"empty", Bytes()},        {"one byte", Bytes{0xFF}}, {"SOI EOI", soiEoi},
                 {"noise", noise},          {"truncated", truncated},  {"header only", headOnly},
                 {"zero width", zeroWidth}, {"huge width", hugeWidth}, {"no Huffman tables", noHuffman}};
    for (const Case& c : cases) {
        for (int32_t code : kPixelCodes) {
            int32_t size = -1;
            EXPECT_TRUE(DecodeOnce(code, 320, 240, c.mInput, &size).empty()) << c.mName << " code " << code;
            EXPECT_EQ(0, size) << c.mName;
        }
    }
}

TEST_F(CJpegDecoderTest, PixelCodeZeroNeverWritesAPicture) {
    int32_t handle = CreateCodec(VCODEC_FORMAT_JPEG, 0, 320, 240, 30);
    ASSERT_GE(handle, 0);
    const Bytes& in = File("j420");
    Bytes out(320 * 240 * 4, 0x33);
    int32_t length = int32_t(in.size());
    int32_t size = int32_t(out.size());
    EXPECT_EQ(0, Decode(handle, in.data(), &length, out.data(), &size));
    EXPECT_EQ(Bytes(out.size(), 0x33), out);
    ReleaseCodec(handle);
}

} // namespace
