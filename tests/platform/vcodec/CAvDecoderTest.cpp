// MPEG-4 Visual and H.264 decoding through the C entry points. ffmpeg decodes
// the same streams with the same libavcodec decoders and the same libswscale
// conversions, so the pictures must agree byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

extern "C" {
#include <libavutil/log.h>
}

#include "TestMedia.h"
#include "ipcamview/vcodec.h"
#include "platform/vcodec/CAvDecoder.h"

using namespace ipcam::test;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 12;
const int32_t kPixelCodes[] = {100, 120, 130, 32};
// An access unit delimiter: makes the last unit of a stream complete.
const Bytes kDelimiter = {0, 0, 0, 1, 9, 0xF0};

int32_t PictureSize(int32_t code, int width, int height) {
    int bits = code == 100 ? 24 : code == 120 ? 16 : code == 130 ? 12 : 32;
    return ((width * bits + 7) / 8 + 3) / 4 * 4 * height;
}

class CAvDecoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        av_log_set_level(AV_LOG_QUIET);
        spDir = new TempDir("vcodec-av");
        ASSERT_EQ(0, Generate(H264(), kWidth, kHeight, kFrames,
                              "-c:v libx264 -profile:v baseline -preset veryfast -g 5 -bf 0 -qp 8 "
                              "-x264-params aud=1 -f h264"));
        ASSERT_EQ(0, Generate(Mpeg4(), kWidth, kHeight, kFrames, "-c:v mpeg4 -q:v 4 -g 5 -bf 0 -f m4v"));
        ASSERT_EQ(0, Generate(OddMpeg4(), 175, 97, 4, "-c:v mpeg4 -q:v 4 -g 5 -bf 0 -f m4v"));
    }
    static void TearDownTestSuite() {
        delete spDir;
        spDir = nullptr;
    }
    static std::string H264() { return spDir->File("in.h264"); }
    static std::string Mpeg4() { return spDir->File("in.m4v"); }
    static std::string OddMpeg4() { return spDir->File("odd.m4v"); }
    static TempDir* spDir;
};
TempDir* CAvDecoderTest::spDir = nullptr;

// Feeds chunks the way the viewer's decoder wrapper does: bytes accumulate in
// a buffer, each successful Decode drops what it consumed, a failed one keeps
// everything for the next chunk.
std::vector<Bytes> DecodeChunks(int32_t handle, const std::vector<Bytes>& chunks, int32_t code, int width,
                                int height) {
    std::vector<Bytes> pictures;
    Bytes pending;
    Bytes out(size_t(PictureSize(code, width, height)));
    for (const Bytes& chunk : chunks) {
        pending.insert(pending.end(), chunk.begin(), chunk.end());
        for (;;) {
            int32_t length = int32_t(pending.size());
            int32_t size = int32_t(out.size());
            if (!Decode(handle, pending.data(), &length, out.data(), &size))
                break;
            EXPECT_GT(length, 0);
            EXPECT_LE(size_t(length), pending.size());
            EXPECT_EQ(int32_t(out.size()), size);
            pictures.push_back(out);
            pending.erase(pending.begin(), pending.begin() + length);
        }
    }
    return pictures;
}

TEST_F(CAvDecoderTest, EveryPixelCodeAndRowOrderMatchesFfmpegExactly) {
    struct Stream {
        const char* mName;
        std::string mPath;
        int32_t mFormat;
        int mWidth, mHeight;
    } streams[] = {{"h264", H264(), VCODEC_FORMAT_H264, kWidth, kHeight},
                   {"mpeg4", Mpeg4(), VCODEC_FORMAT_MPEG4, kWidth, kHeight},
                   {"mpeg4 odd size", OddMpeg4(), VCODEC_FORMAT_MPEG4, 175, 97}};
    for (const Stream& s : streams) {
        Bytes stream = ReadFile(s.mPath);
        std::vector<Bytes> units =
            s.mFormat == VCODEC_FORMAT_H264 ? SplitAccessUnits(stream) : SplitMpeg4Frames(stream);
        if (s.mFormat == VCODEC_FORMAT_H264)
            units.push_back(kDelimiter);
        for (int32_t code : kPixelCodes) {
            std::vector<Bytes> ref = ReferenceFrames(s.mPath, PixelFormatName(code), s.mWidth, s.mHeight);
            ASSERT_FALSE(ref.empty());
            for (bool bottomUp : {true, false}) {
                SCOPED_TRACE(std::string(s.mName) + " code " + std::to_string(code) +
                             (bottomUp ? " bottom-up" : " top-down"));
                int32_t handle =
                    CreateCodec(s.mFormat, code, s.mWidth, bottomUp ? s.mHeight : -s.mHeight, 30);
                ASSERT_GE(handle, 0);
                std::vector<Bytes> pictures = DecodeChunks(handle, units, code, s.mWidth, s.mHeight);
                ReleaseCodec(handle);
                ASSERT_EQ(ref.size(), pictures.size());
                for (size_t i = 0; i < ref.size(); ++i) {
                    Bytes got = TopDown(pictures[i], code, s.mWidth, s.mHeight, bottomUp);
                    ASSERT_TRUE(got == CommonPart(ref[i], code, s.mWidth, s.mHeight)) << "picture " << i;
                }
            }
        }
    }
}

TEST_F(CAvDecoderTest, H264SlicedAnyhowGivesTheSamePictures) {
    Bytes stream = ReadFile(H264());
    std::vector<Bytes> units = SplitAccessUnits(stream);
    ASSERT_EQ(size_t(kFrames), units.size());
    std::vector<Bytes> ref = ReferenceFrames(H264(), "yuv420p", kWidth, kHeight);
    ASSERT_EQ(size_t(kFrames), ref.size());
    // Fine quantisation makes the stream longer than the windows in which
    // the decoder parses, so handing it all at once crosses them.
    ASSERT_GT(stream.size(), size_t(ipcam::CAvDecoder::kParseWindow));
    Bytes all = stream;
    all.insert(all.end(), kDelimiter.begin(), kDelimiter.end());

    auto chunksOf = [&](const std::vector<size_t>& sizes) {
        std::vector<Bytes> chunks;
        size_t pos = 0;
        for (size_t i = 0; pos < all.size(); ++i) {
            size_t n = std::min(sizes[i % sizes.size()], all.size() - pos);
            chunks.emplace_back(all.begin() + long(pos), all.begin() + long(pos + n));
            pos += n;
        }
        return chunks;
    };
    std::vector<Bytes> whole = units, halves, threes;
    whole.push_back(kDelimiter);
    for (const Bytes& u : units) {
        halves.emplace_back(u.begin(), u.begin() + long(u.size() / 2));
        halves.emplace_back(u.begin() + long(u.size() / 2), u.end());
    }
    halves.push_back(kDelimiter);
    for (size_t i = 0; i < units.size(); i += 3) {
        Bytes three;
        for (size_t j = i; j < std::min(i + 3, units.size()); ++j)
            three.insert(three.end(), units[j].begin(), units[j].end());
        threes.push_back(three);
    }
    threes.push_back(kDelimiter);
    unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    std::vector<size_t> randomSizes;
    for (int i = 0; i < 64; ++i)
        randomSizes.push_back(1 + random() % 3000);

    struct Case {
        const char* mName;
        std::vector<Bytes> mChunks;
    } cases[] = {{"whole access units", whole},      {"halves", halves},
                 {"three at once", threes},          {"everything at once", {all}},
                 {"97-byte pieces", chunksOf({97})}, {"random pieces", chunksOf(randomSizes)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mName) + " (random seed " + std::to_string(seed) + ")");
        int32_t handle = CreateCodec(VCODEC_FORMAT_H264, 130, kWidth, -kHeight, 30);
        ASSERT_GE(handle, 0);
        std::vector<Bytes> pictures = DecodeChunks(handle, c.mChunks, 130, kWidth, kHeight);
        ReleaseCodec(handle);
        ASSERT_EQ(ref.size(), pictures.size());
        for (size_t i = 0; i < ref.size(); ++i)
            ASSERT_TRUE(pictures[i] == ref[i]) << "picture " << i;
    }
}

TEST_F(CAvDecoderTest, H264WithoutAPictureConsumesNothing) {
    // A lone access unit cannot be known complete: nothing comes out and
    // nothing is taken, so the caller keeps the bytes.
    std::vector<Bytes> units = SplitAccessUnits(ReadFile(H264()));
    int32_t handle = CreateCodec(VCODEC_FORMAT_H264, 130, kWidth, -kHeight, 30);
    Bytes out(size_t(PictureSize(130, kWidth, kHeight)));
    int32_t length = int32_t(units[0].size());
    int32_t size = int32_t(out.size());
    EXPECT_EQ(0, Decode(handle, units[0].data(), &length, out.data(), &size));
    EXPECT_EQ(0, length);
    EXPECT_EQ(0, size);
    // Handed again with the next unit, the first picture comes out and exactly
    // the first unit is consumed.
    Bytes two = units[0];
    two.insert(two.end(), units[1].begin(), units[1].end());
    length = int32_t(two.size());
    size = int32_t(out.size());
    EXPECT_EQ(1, Decode(handle, two.data(), &length, out.data(), &size));
    EXPECT_EQ(int32_t(units[0].size()), length);
    ReleaseCodec(handle);
}

TEST_F(CAvDecoderTest, Mpeg4InTheCamerasFormDecodesTheSamePictures) {
    // Cameras start a key frame with a video object code of id 1 straight
    // before the VOL, without the visual object sequence headers that
    // libavcodec's encoder writes.
    std::vector<Bytes> frames = SplitMpeg4Frames(ReadFile(Mpeg4()));
    std::vector<Bytes> ref = ReferenceFrames(Mpeg4(), "yuv420p", kWidth, kHeight);
    ASSERT_EQ(frames.size(), ref.size());
    int32_t handle = CreateCodec(VCODEC_FORMAT_MPEG4, 130, kWidth, -kHeight, 30);
    Bytes out(size_t(PictureSize(130, kWidth, kHeight)));
    int converted = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        Bytes frame = frames[i];
        for (size_t at = 0; at + 3 < frame.size(); ++at) {
            if (frame[at] == 0 && frame[at + 1] == 0 && frame[at + 2] == 1 &&
                (frame[at + 3] & 0xF0) == 0x20) {
                Bytes camera = {0, 0, 1, 1};
                camera.insert(camera.end(), frame.begin() + long(at), frame.end());
                frame = camera;
                ++converted;
                break;
            }
        }
        int32_t length = int32_t(frame.size());
        int32_t size = int32_t(out.size());
        ASSERT_EQ(1, Decode(handle, frame.data(), &length, out.data(), &size)) << "frame " << i;
        EXPECT_TRUE(out == ref[i]) << "frame " << i;
    }
    EXPECT_GT(converted, 0);
    ReleaseCodec(handle);
}

TEST_F(CAvDecoderTest, BufferTooSmallGivesNoPictureAndNoWrite) {
    std::vector<Bytes> frames = SplitMpeg4Frames(ReadFile(Mpeg4()));
    for (int32_t code : kPixelCodes) {
        int32_t handle = CreateCodec(VCODEC_FORMAT_MPEG4, code, kWidth, kHeight, 30);
        Bytes out(size_t(PictureSize(code, kWidth, kHeight)) - 1, 0x71);
        int32_t length = int32_t(frames[0].size());
        int32_t size = int32_t(out.size());
        EXPECT_EQ(0, Decode(handle, frames[0].data(), &length, out.data(), &size)) << code;
        EXPECT_EQ(Bytes(out.size(), 0x71), out) << code;
        ReleaseCodec(handle);
    }
}

TEST_F(CAvDecoderTest, BadInputGivesNoPictureAndDecodingGoesOn) {
    std::vector<Bytes> mpeg4 = SplitMpeg4Frames(ReadFile(Mpeg4()));
    std::vector<Bytes> h264 = SplitAccessUnits(ReadFile(H264()));
    std::mt19937 random(7);
    Bytes noise(20000);
    for (uint8_t& b : noise)
        b = uint8_t(random());
    Bytes startCodes;
    for (int i = 0; i < 500; ++i)
        startCodes.insert(startCodes.end(), {0, 0, 1, uint8_t(random())});
    auto truncated = [](const Bytes& b) { return Bytes(b.begin(), b.begin() + long(b.size() / 3)); };
    auto corrupt = [](Bytes b) {
        for (size_t i = b.size() / 4; i < b.size(); i += 7)
            b[i] ^= 0x5A;
        return b;
    };
    struct Case {
        const char* mName;
        int32_t mFormat;
        Bytes mInput;
    } cases[] = {
        {"mpeg4 empty", VCODEC_FORMAT_MPEG4, Bytes()},
        {"mpeg4 noise", VCODEC_FORMAT_MPEG4, noise},
        {"mpeg4 start codes", VCODEC_FORMAT_MPEG4, startCodes},
        {"mpeg4 truncated key frame", VCODEC_FORMAT_MPEG4, truncated(mpeg4[0])},
        {"mpeg4 corrupt key frame", VCODEC_FORMAT_MPEG4, corrupt(mpeg4[0])},
        {"mpeg4 predicted frame first", VCODEC_FORMAT_MPEG4, mpeg4[1]},
        {"h264 noise", VCODEC_FORMAT_H264, noise},
        {"h264 start codes", VCODEC_FORMAT_H264, startCodes},
        {"h264 corrupt", VCODEC_FORMAT_H264,
         [&] {
             Bytes b = corrupt(h264[0]);
             b.insert(b.end(), h264[1].begin(), h264[1].end());
             return b;
         }()},
        {"h264 predicted first", VCODEC_FORMAT_H264,
         [&] {
             Bytes b = h264[1];
             b.insert(b.end(), h264[2].begin(), h264[2].end());
             return b;
         }()},
    };
    Bytes out(size_t(PictureSize(32, kWidth, kHeight)));
    for (const Case& c : cases) {
        int32_t handle = CreateCodec(c.mFormat, 32, kWidth, kHeight, 30);
        int32_t length = int32_t(c.mInput.size());
        int32_t size = int32_t(out.size());
        EXPECT_EQ(0, Decode(handle, c.mInput.data(), &length, out.data(), &size)) << c.mName;
        EXPECT_EQ(0, size) << c.mName;
        // The same handle still decodes a good stream afterwards.
        std::vector<Bytes> good = c.mFormat == VCODEC_FORMAT_H264 ? h264 : mpeg4;
        if (c.mFormat == VCODEC_FORMAT_H264)
            good.push_back(kDelimiter);
        EXPECT_EQ(size_t(kFrames), DecodeChunks(handle, good, 32, kWidth, kHeight).size()) << c.mName;
        ReleaseCodec(handle);
    }
}

} // namespace
