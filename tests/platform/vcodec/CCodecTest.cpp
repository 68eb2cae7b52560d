// The codec library through its C entry points, on JPEG, MPEG-4 and H.264
// made by the ffmpeg tool at set-up and compared with ffmpeg's own decode.
// MPEG-4 and H.264 go through the same libavcodec decoders and libswscale
// conversions as ffmpeg, so they must agree byte for byte; JPEG goes through
// libjpeg-turbo, whose IDCT and chroma upsampling differ, so it agrees by PSNR.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

#include "TestMedia.h"
#include "ipcamview/vcodec.h"
#include "platform/vcodec/CAvDecoder.h"

using namespace ipcam::test;

namespace {

const int32_t kCodes[] = {100, 120, 130, 32, 777}; // 777: any other code is BGRA
const Bytes kDelimiter = {0, 0, 0, 1, 9, 0xF0};    // completes the last H.264 unit

struct Stream {
    const char* mName;
    int32_t mFormat;
    int mWidth, mHeight;
    std::string mFile;
    std::vector<Bytes> mUnits = {};                        // what a camera sends, one per call
    std::map<int32_t, std::vector<Bytes>> mReference = {}; // ffmpeg's tight pictures per pixel code
};
std::vector<Stream>* gStreams = new std::vector<Stream>;

const Stream& Find(const std::string& name) {
    return *std::find_if(gStreams->begin(), gStreams->end(),
                         [&](const Stream& s) { return s.mName == name; });
}

class CCodecTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        av_log_set_level(AV_LOG_QUIET);
        TempDir dir("vcodec");
        // Even 4:2:0 JPEG takes libjpeg-turbo's direct paths, odd 4:2:2 the
        // planes-then-convert one; odd widths leave padding at each row's end.
        // The H.264 stream is longer than the decoder's parse window so that
        // one input crosses it. 238 x 134 is a size whose rows end off the
        // converters' vector width in every pixel code, so a conversion that
        // writes whole vectors past the last row's end hits the guard band.
        ASSERT_EQ(0, Generate(238, 134, 10,
                              "-c:v mjpeg -q:v 2 -pix_fmt yuvj420p -frames:v 1 -update 1 '" +
                                  dir.File("j420.jpg") +
                                  "' -c:v libx264 -profile:v baseline -preset veryfast -g 2 -bf 0 -qp 4 "
                                  "-x264-params aud=1 -f h264 '" +
                                  dir.File("in.h264") + "'"));
        ASSERT_EQ(0, Generate(175, 97, 6,
                              "-c:v mjpeg -q:v 2 -pix_fmt yuvj422p -frames:v 1 -update 1 '" +
                                  dir.File("j422.jpg") + "' -c:v mpeg4 -q:v 4 -g 3 -bf 0 -f m4v '" +
                                  dir.File("in.m4v") + "'"));
        // Noise at almost lossless quality makes every access unit larger than
        // the parse window, so a picture is found only after several windows and
        // what its call consumed counts the windows before.
        ASSERT_EQ(0,
                  Generate(320, 240, 3,
                           "-vf noise=alls=60:allf=t -c:v libx264 -profile:v baseline -preset veryfast -g 2 "
                           "-bf 0 -qp 1 -x264-params aud=1 -f h264 '" +
                               dir.File("noisy.h264") + "'"));
        // Full-range H.264 (video_full_range_flag set, as many cameras send
        // it): libavcodec gives its pictures in a "J" pixel format.
        ASSERT_EQ(0,
                  Generate(96, 64, 4,
                           "-pix_fmt yuvj420p -c:v libx264 -profile:v baseline -preset veryfast -g 2 -bf 0 "
                           "-qp 4 -x264-params aud=1 -f h264 '" +
                               dir.File("full.h264") + "'"));
        *gStreams = {{"jpeg 4:2:0", VCODEC_FORMAT_JPEG, 238, 134, "j420.jpg"},
                     {"jpeg 4:2:2 odd", VCODEC_FORMAT_JPEG, 175, 97, "j422.jpg"},
                     {"mpeg4 odd", VCODEC_FORMAT_MPEG4, 175, 97, "in.m4v"},
                     {"h264", VCODEC_FORMAT_H264, 238, 134, "in.h264"},
                     {"h264 noisy", VCODEC_FORMAT_H264, 320, 240, "noisy.h264"},
                     {"h264 full range", VCODEC_FORMAT_H264, 96, 64, "full.h264"}};
        for (Stream& s : *gStreams) {
            Bytes data = ReadFile(dir.File(s.mFile));
            s.mUnits = s.mFormat == VCODEC_FORMAT_JPEG    ? std::vector<Bytes>{data}
                       : s.mFormat == VCODEC_FORMAT_MPEG4 ? SplitMpeg4Frames(data)
                                                          : SplitAccessUnits(data);
            if (s.mFormat == VCODEC_FORMAT_H264)
                s.mUnits.push_back(kDelimiter);
            s.mReference = ReferenceFrames(dir.File(s.mFile), s.mWidth, s.mHeight);
            ASSERT_EQ(s.mUnits.size() - (s.mFormat == VCODEC_FORMAT_H264), s.mReference[130].size())
                << s.mName;
            for (auto& [code, pictures] : s.mReference)
                for (Bytes& p : pictures)
                    p = Tight(p, code, s.mWidth, s.mHeight, false, true);
        }
        ASSERT_GT(ReadFile(dir.File("in.h264")).size(), size_t(ipcam::CAvDecoder::kParseWindow));
        const std::vector<Bytes>& noisy = Find("h264 noisy").mUnits;
        for (size_t i = 0; i + 1 < noisy.size(); ++i) // the last is the closing delimiter
            ASSERT_GT(noisy[i].size(), size_t(ipcam::CAvDecoder::kParseWindow)) << "unit " << i;
    }
};

struct Decoded {
    std::vector<Bytes> mPictures; // tight top-down rows
    std::vector<int32_t> mConsumed;
};

// Feeds chunks as the viewer's decoder wrapper does: bytes accumulate, each
// picture drops what its call consumed, a call without one keeps everything.
// The buffer is sized for the stream's picture with a guard band after it.
Decoded DecodeChunks(int32_t handle, const std::vector<Bytes>& chunks, const Stream& s, int32_t code,
                     bool bottomUp = false) {
    Decoded decoded;
    Bytes pending;
    const size_t size = size_t(PictureSize(code, s.mWidth, s.mHeight));
    for (const Bytes& chunk : chunks) {
        pending.insert(pending.end(), chunk.begin(), chunk.end());
        for (;;) {
            Bytes out(size + 16, 0xAA);
            int32_t length = int32_t(pending.size());
            int32_t written = int32_t(size);
            if (!Decode(handle, pending.data(), &length, out.data(), &written)) {
                EXPECT_EQ(0, written);
                break;
            }
            EXPECT_EQ(int32_t(size), written);
            EXPECT_EQ(Bytes(16, 0xAA), Bytes(out.begin() + long(size), out.end()))
                << "written past the picture";
            EXPECT_GT(length, 0);
            EXPECT_LE(size_t(length), pending.size());
            decoded.mPictures.push_back(Tight(out, code, s.mWidth, s.mHeight, bottomUp, false));
            decoded.mConsumed.push_back(length);
            pending.erase(pending.begin(),
                          pending.begin() + std::clamp<int32_t>(length, 0, int32_t(pending.size())));
        }
    }
    return decoded;
}

int MaxDifference(const Bytes& a, const Bytes& b) {
    int most = a.size() == b.size() ? 0 : 256;
    for (size_t k = 0; k < std::min(a.size(), b.size()); ++k)
        most = std::max(most, std::abs(int(a[k]) - int(b[k])));
    return most;
}

// Every stream, pixel code and row order, set up for a size other than the
// stream's: the pictures have the stream's size and match ffmpeg's.
TEST_F(CCodecTest, PicturesMatchFfmpegForEveryPixelCodeAndRowOrder) {
    for (const Stream& s : *gStreams)
        for (int32_t code : kCodes)
            for (bool bottomUp : {true, false}) {
                SCOPED_TRACE(std::string(s.mName) + " code " + std::to_string(code) +
                             (bottomUp ? " bottom-up" : ""));
                int32_t refCode = code == 777 ? 32 : code;
                int32_t handle = CreateCodec(s.mFormat, code, 320, bottomUp ? 240 : -240, 30);
                ASSERT_GE(handle, 0);
                std::vector<Bytes> got = DecodeChunks(handle, s.mUnits, s, code, bottomUp).mPictures;
                ReleaseCodec(handle);
                const std::vector<Bytes>& want = s.mReference.at(refCode);
                ASSERT_EQ(want.size(), got.size());
                for (size_t i = 0; i < want.size(); ++i) {
                    if (s.mFormat == VCODEC_FORMAT_JPEG)
                        EXPECT_GE(Psnr(got[i], want[i], refCode), 40.0);
                    else if (code == 130 && std::string(s.mName) == "h264 full range")
                        // Full range into I420's studio range: the ffmpeg tool's
                        // filter rounds a sample here and there the other way.
                        ASSERT_LE(MaxDifference(got[i], want[i]), 1) << "picture " << i;
                    else
                        ASSERT_TRUE(got[i] == want[i]) << "picture " << i;
                    for (size_t a = 3; refCode == 32 && a < got[i].size(); a += 4)
                        ASSERT_EQ(0xFF, got[i][a]) << "alpha at pixel " << a / 4;
                }
            }
}

void ExpectSameH264PicturesAnyhowSliced(const Stream& s) {
    std::vector<Bytes> units(s.mUnits.begin(), s.mUnits.end() - 1), halves, threes;
    std::vector<int32_t> unitSizes;
    Bytes all;
    for (size_t i = 0; i < units.size(); ++i) {
        const Bytes& u = units[i];
        halves.emplace_back(u.begin(), u.begin() + long(u.size() / 2));
        halves.emplace_back(u.begin() + long(u.size() / 2), u.end());
        threes.resize(i / 3 + 1);
        threes.back().insert(threes.back().end(), u.begin(), u.end());
        all.insert(all.end(), u.begin(), u.end());
        unitSizes.push_back(int32_t(u.size()));
    }
    unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    std::vector<Bytes> pieces;
    for (size_t pos = 0, n; pos < all.size(); pos += n) {
        n = std::min<size_t>(1 + random() % 3000, all.size() - pos);
        pieces.emplace_back(all.begin() + long(pos), all.begin() + long(pos + n));
    }
    struct Case {
        const char* mName;
        std::vector<Bytes> mChunks;
    } cases[] = {{"whole access units", units},
                 {"halves", halves},
                 {"three at once", threes},
                 {"everything at once", {all}},
                 {"random pieces", pieces}};
    for (Case& c : cases) {
        SCOPED_TRACE(std::string(c.mName) + ", random seed " + std::to_string(seed));
        c.mChunks.push_back(kDelimiter);
        int32_t handle = CreateCodec(VCODEC_FORMAT_H264, 130, s.mWidth, -s.mHeight, 30);
        Decoded d = DecodeChunks(handle, c.mChunks, s, 130);
        ReleaseCodec(handle);
        EXPECT_TRUE(d.mPictures == s.mReference.at(130));
        EXPECT_EQ(unitSizes, d.mConsumed) << "each picture consumes its access unit";
    }
}

TEST_F(CCodecTest, H264SlicedAnyhowGivesTheSamePictures) {
    for (const char* name : {"h264", "h264 noisy"}) {
        SCOPED_TRACE(name);
        ExpectSameH264PicturesAnyhowSliced(Find(name));
    }
}

// A camera's stream handed a unit at a time, as the viewer hands it: every
// call's parser starts afresh, and what it says of parameter sets it has not
// seen must not reach a host's log (it did, as errors, once per frame).
// Counts what libavcodec's default log would print.
std::atomic<int> gLoudMessages{0};
void CountLoudMessages(void*, int level, const char*, va_list) {
    if (level <= AV_LOG_INFO)
        ++gLoudMessages;
}

// The full-range stream's pictures go through libswscale, which warns of
// its "J" pixel formats every time a converter is made for one.
TEST_F(CCodecTest, H264UnitByUnitLogsNothingAboveInfo) {
    const struct {
        const char* name;
        int32_t code;
    } cases[] = {{"h264", 130}, {"h264 full range", 32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Stream& s = Find(c.name);
        av_log_set_callback(CountLoudMessages);
        gLoudMessages = 0;
        const int32_t handle = CreateCodec(VCODEC_FORMAT_H264, c.code, s.mWidth, -s.mHeight, 30);
        const Decoded d = DecodeChunks(handle, s.mUnits, s, c.code);
        ReleaseCodec(handle);
        av_log_set_callback(av_log_default_callback);
        EXPECT_TRUE(d.mPictures == s.mReference.at(c.code));
        EXPECT_EQ(0, gLoudMessages.load());
    }
}

// libavcodec refuses a parameter set with a scaling list delta out of range
// (and an SPS whose size libavutil's image check calls invalid) with a line
// on the process's log (not the decoder's, whose level we lower),
// from its parser and its decoder alike: a camera sending noise put lines on
// a host's stderr. Such sets are refused quietly now, with the same outcome
// as sets it refuses quietly for an identifier out of range: an SPS that
// repeats the stream's identifier changes nothing, a unit with a refused PPS
// gives no picture (error detection explodes).
Bytes HighSps(uint32_t id, int32_t delta, uint32_t mbWidthCode = 14, uint32_t mbHeightCode = 8) {
    BitWriter w;
    w.Put(100, 8);
    w.Put(0, 8);
    w.Put(30, 8);
    w.Ue(id);
    w.Ue(1);
    w.Ue(0);
    w.Ue(0);
    w.Put(0, 1);
    w.Put(1, 1); // seq_scaling_matrix_present
    w.Put(1, 1); // the first list, whose first delta is given
    for (int k = 0; k < 16; ++k)
        w.Se(k == 0 ? delta : 0);
    w.Put(0, 7); // the other lists absent
    w.Ue(0);
    w.Ue(2);
    w.Ue(1);
    w.Put(0, 1);
    w.Ue(mbWidthCode); // 240 x 144, cropped to the stream's 238 x 134
    w.Ue(mbHeightCode);
    w.Put(1, 1);
    w.Put(1, 1);
    w.Put(1, 1);
    w.Ue(0);
    w.Ue(1);
    w.Ue(0);
    w.Ue(5);
    w.Put(0, 1);
    w.Put(1, 1);
    return w.Done();
}

Bytes HighPps(uint32_t id, uint32_t spsId, int32_t delta) {
    BitWriter w;
    w.Ue(id);
    w.Ue(spsId);
    w.Put(0, 2);
    w.Ue(0);
    w.Ue(0);
    w.Ue(0);
    w.Put(0, 3);
    w.Se(0);
    w.Se(0);
    w.Se(0);
    w.Put(0, 3);
    w.Put(1, 1); // transform_8x8_mode
    w.Put(1, 1); // pic_scaling_matrix_present
    w.Put(1, 1);
    for (int k = 0; k < 16; ++k)
        w.Se(k == 0 ? delta : 0);
    w.Put(0, 7);
    w.Se(0);
    w.Put(1, 1);
    return w.Done();
}

Bytes NalUnit(uint8_t header, const Bytes& rbsp) {
    return Cat({{0, 0, 0, 1, header}, Escape(rbsp)});
}

TEST_F(CCodecTest, H264LoudParameterSetsAreRefusedQuietly) {
    const Stream& s = Find("h264");
    ASSERT_GE(s.mUnits.size(), 6u);
    // quiet: the same sets with identifiers the decoder refuses quietly.
    auto withSets = [&](bool loud) {
        std::vector<Bytes> units = s.mUnits;
        units[1] = Cat({NalUnit(0x67, HighSps(loud ? 0 : 40, 300)), units[1]});
        // A size libavutil's image check refuses, as loudly.
        units[2] = Cat({NalUnit(0x67, HighSps(loud ? 0 : 40, 4, 887, 1162)), units[2]});
        units[3] = Cat({NalUnit(0x67, HighSps(1, 4)), NalUnit(0x68, HighPps(loud ? 1 : 300, 1, -200)), units[3]});
        return units;
    };
    Decoded decoded[2];
    int loudLines[2] = {0, 0};
    av_log_set_callback(CountLoudMessages);
    for (bool loud : {false, true}) {
        gLoudMessages = 0;
        const int32_t handle = CreateCodec(VCODEC_FORMAT_H264, 130, s.mWidth, -s.mHeight, 30);
        decoded[loud] = DecodeChunks(handle, withSets(loud), s, 130);
        ReleaseCodec(handle);
        loudLines[loud] = gLoudMessages.load();
    }
    av_log_set_callback(av_log_default_callback);
    EXPECT_EQ(0, loudLines[false]);
    EXPECT_EQ(0, loudLines[true]);
    EXPECT_TRUE(decoded[true].mPictures == decoded[false].mPictures);
    const std::vector<Bytes>& reference = s.mReference.at(130);
    ASSERT_GE(decoded[true].mPictures.size(), 3u);
    EXPECT_LT(decoded[true].mPictures.size(), reference.size()); // the unit with the refused PPS
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(decoded[true].mPictures[i] == reference[i]) << "picture " << i;
}

// libavcodec keeps a VOL's size only when the frame's picture header
// decodes: after a frame of headers alone, or of headers and a picture whose
// header fails or says "not coded" (a skipped frame, which devices send), it
// still has no size, and a frame without the VOL then asked it for a 0 x 0
// picture, with a line on the process's log. Such a frame is refused
// quietly; the stream goes on.
TEST_F(CCodecTest, Mpeg4VolWithoutADecodedPictureGivesTheDecoderNoSize) {
    const Stream& s = Find("mpeg4 odd");
    const Bytes& key = s.mUnits.at(0);
    const Bytes vop = {0x00, 0x00, 0x01, 0xB6};
    const auto at = std::search(key.begin(), key.end(), vop.begin(), vop.end());
    ASSERT_NE(at, key.end());
    const Bytes headers(key.begin(), at), picture(at, key.end());
    // A picture header that says "not coded": I picture, no whole seconds,
    // marker, the 5 bits of time increment this stream's VOL asks for,
    // marker, coded flag clear (0001 0000 010), then stuffing.
    const Bytes notCoded = Cat({headers, vop, {0x10, 0x5F}});
    struct Case {
        const char* name;
        const Bytes& first;
    } cases[] = {{"headers alone", headers}, {"a picture not coded", notCoded}};
    av_log_set_callback(CountLoudMessages);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gLoudMessages = 0;
        const int32_t handle = CreateCodec(s.mFormat, 32, s.mWidth, s.mHeight, 30);
        Bytes out(size_t(PictureSize(32, s.mWidth, s.mHeight)), 0);
        for (const Bytes* frame : {&c.first, &picture}) {
            int32_t length = int32_t(frame->size()), size = int32_t(out.size());
            EXPECT_EQ(0, Decode(handle, frame->data(), &length, out.data(), &size));
        }
        EXPECT_EQ(s.mReference.at(32).size(), DecodeChunks(handle, s.mUnits, s, 32).mPictures.size());
        ReleaseCodec(handle);
        EXPECT_EQ(0, gLoudMessages.load());
    }
    av_log_set_callback(av_log_default_callback);
}

// The 13 bits of the width in the VOL libavcodec's MPEG-4 encoder writes
// (identifier, control parameters, no fixed rate): bit 48 after the start
// code. Zeroed, the VOL gives no size.
uint32_t VolWidthBits(Bytes& frame, bool clear) {
    const Bytes start = {0x00, 0x00, 0x01, 0x20};
    const auto at = std::search(frame.begin(), frame.end(), start.begin(), start.end());
    if (at == frame.end())
        return 0;
    const size_t base = size_t(at - frame.begin() + 4) * 8 + 48;
    uint32_t width = 0;
    for (size_t bit = base; bit < base + 13; ++bit) {
        uint8_t& byte = frame.at(bit / 8);
        const uint8_t mask = uint8_t(0x80u >> (bit % 8));
        width = (width << 1) | ((byte & mask) ? 1u : 0u);
        if (clear)
            byte = uint8_t(byte & ~mask);
    }
    return width;
}

// A stream's headers size the pictures its decoder allocates (H.264 keeps
// up to sixteen): pictures above the bound, or of a stream whose header
// gives no size, are refused without a word in the host's log (libavcodec
// wrote a line for every frame), and a picture at the bound still decodes.
TEST(CCodecBoundTest, PicturesAboveThePixelBoundAreRefused) {
    TempDir dir("vcodec-bound");
    struct Case {
        const char* name;
        int32_t format;
        int width, height;
        bool pictures;
        bool noSize = false; // the MPEG-4 VOL's width zeroed
    };
    const Case cases[] = {
        {"h264 at the bound", VCODEC_FORMAT_H264, 4096, 4096, true},
        {"h264 above the bound", VCODEC_FORMAT_H264, 4112, 4096, false},
        {"mpeg4 at the bound", VCODEC_FORMAT_MPEG4, 4096, 4096, true},
        {"mpeg4 above the bound", VCODEC_FORMAT_MPEG4, 4112, 4096, false},
        {"mpeg4 without a size", VCODEC_FORMAT_MPEG4, 352, 288, false, true},
        // Within the bound, but not with its rows rounded up to 4096 pixels
        // as the decoder allocates them.
        {"h264 above the bound as allocated", VCODEC_FORMAT_H264, 4040, 4100, false},
        {"mpeg4 above the bound as allocated", VCODEC_FORMAT_MPEG4, 4040, 4100, false},
    };
    ASSERT_EQ(VCODEC_MAX_PIXELS, 4096 * 4096);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool h264 = c.format == VCODEC_FORMAT_H264;
        const std::string file = dir.File(h264 ? "s.h264" : "s.m4v");
        ASSERT_EQ(0, ipcam::test::Run(
                         "ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:s=" + std::to_string(c.width) +
                         "x" + std::to_string(c.height) + ":r=25 -frames:v 3 " +
                         (h264 ? "-c:v libx264 -preset ultrafast -bf 0 -x264-params aud=1 -f h264 '"
                               : "-c:v mpeg4 -bf 0 -f m4v '") +
                         file + "'"));
        Stream s{c.name, c.format, c.width, c.height, file};
        const Bytes data = ReadFile(file);
        s.mUnits = h264 ? SplitAccessUnits(data) : SplitMpeg4Frames(data);
        if (h264)
            s.mUnits.push_back(kDelimiter);
        if (c.noSize) {
            ASSERT_EQ(uint32_t(c.width), VolWidthBits(s.mUnits.at(0), false)) << "the encoder's VOL changed";
            VolWidthBits(s.mUnits.at(0), true);
        }
        av_log_set_callback(CountLoudMessages);
        gLoudMessages = 0;
        const int32_t handle = CreateCodec(c.format, VCODEC_PIXEL_I420, 320, 240, 25);
        const Decoded d = DecodeChunks(handle, s.mUnits, s, VCODEC_PIXEL_I420);
        ReleaseCodec(handle);
        av_log_set_callback(av_log_default_callback);
        EXPECT_EQ(c.pictures ? 3u : 0u, d.mPictures.size());
        EXPECT_EQ(0, gLoudMessages.load());
    }
}

// A host short of memory (or a fuzzer) lowers the bound through the
// environment, read when the first decoder is made: each case runs in a
// process of its own. 1080p H.264 is coded as 1088 rows; the bound counts
// the 1080 shown, as libavcodec does.
TEST(CCodecBoundTest, TheEnvironmentMayLowerTheBound) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir("vcodec-env");
    const std::string file = dir.File("s.h264");
    ASSERT_EQ(0, ipcam::test::Run(
                     "ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:s=1920x1080:r=25 -frames:v 3 "
                     "-c:v libx264 -preset ultrafast -bf 0 -x264-params aud=1 -f h264 '" +
                     file + "'"));
    Stream s{"h264 1080p", VCODEC_FORMAT_H264, 1920, 1080, file};
    s.mUnits = SplitAccessUnits(ReadFile(file));
    s.mUnits.push_back(kDelimiter);
    auto pictures = [&s](const char* bound) {
        setenv("VCODEC_MAX_PIXELS", bound, 1);
        const int32_t handle = CreateCodec(VCODEC_FORMAT_H264, VCODEC_PIXEL_I420, 320, 240, 25);
        const size_t count = DecodeChunks(handle, s.mUnits, s, VCODEC_PIXEL_I420).mPictures.size();
        ReleaseCodec(handle);
        std::_Exit(int(count));
    };
    EXPECT_EXIT(pictures("2073600"), testing::ExitedWithCode(3), "");
    EXPECT_EXIT(pictures("2073599"), testing::ExitedWithCode(0), "");
    // Only lowered, and only by a number.
    EXPECT_EXIT(pictures("99999999999"), testing::ExitedWithCode(3), "");
    EXPECT_EXIT(pictures("1000x1000"), testing::ExitedWithCode(3), "");
}

// Streams from the fuzz target that made libavcodec write to the process's
// log, each decoded as the target decodes it (one decoder, each unit fed
// until it is used up): no line now.
//  - an SPS (profile 255, identifier 0) cut short in its size fields, which
//    libavcodec's strict readings refuse and its last one takes with the
//    missing bits read from the slice after it in its memory; later a PPS
//    naming SPS 0 whose scaling list holds a delta of 200. A truncated SPS
//    gets the quiet stand-in, so no decoder holds it.
//  - an SPS 0 read with its escapes in (profile 0: its PPSs may carry lists),
//    then an SPS 0 of the constrained baseline profile (whose PPSs may not)
//    whose cropping codes are too long to read, invalid crop values that
//    libavcodec refuses it for: it kept the first, and read the next PPS's
//    lists, with a delta of -7,975,353.
//  - an SPS 0 whose PPSs may carry lists; then, alone in an input, an SPS 0
//    of the constrained baseline profile (whose PPSs may not), which the
//    parser held until the input ended and then dropped, as nothing came of
//    it; then a PPS naming SPS 0 with a list delta of -232. The decoder never
//    saw the second SPS, so PPSs are judged by the units it is handed.
//  - a PPS whose bytes go on after 00 00 00 (which ends no NAL for
//    libavcodec) and whose initial QP is a code of 32 zeros and more, read
//    by libavcodec from its 32-bit window; then its lists, loudly.
//  - an SPS 0 of profile 122 whose PPSs may carry lists; then a unit of a
//    PPS refused quietly (once loud, given its stand-in) and an SPS 0 of
//    the constrained baseline profile: error detection explodes, so the
//    decoder never read that SPS, and the same unit handed again (the
//    target decoded each input twice) read the PPS's lists by the first SPS
//    ("delta scale -820164 is invalid").
//  - the same SPSs with an SEI before the second in its unit: the decoder
//    stops at an SEI it cannot read, so whether it read the SPS is not
//    known; the next PPS must be quiet by either.
TEST(CCodecLoudTest, FuzzedStreamsStayQuiet) {
    // The SPS 0 of profile 122 (monochrome; its PPSs may carry lists) that
    // three of the streams begin with.
    const Bytes sps122 = Cat({{0x00, 0x00, 0x01, 0x67, 0x7a, 0x40, 0xff, 0xff, 0x3e, 0xc3, 0x32},
                              Bytes(59, 0xff),
                              {0x00, 0x00, 0x00, 0x00, 0x0e, 0x08, 0x7b, 0x71, 0xf9, 0xe2, 0xd1, 0x15, 0x3d, 0x30,
                               0x2e, 0x34, 0x30, 0x00}});
    const struct {
        const char* name;
        std::vector<Bytes> units;
        int times = 1; // each unit handed so many times in a row
    } cases[] = {
        {"a truncated SPS, then a PPS naming it",
         {{
             0x00, 0x00, 0x01, 0x67, 0xff, 0x16, 0xc4, 0x89, 0xa8, 0x00, 0x00, 0x00,
             0x01, 0x41, 0x9a, 0x40, 0xe8, 0x6c, 0xad, 0x40, 0xe8, 0xd1, 0x7d, 0xa3,
             0xd8, 0xc7, 0xad, 0xe5, 0xff, 0x71, 0x67, 0x42, 0x00, 0x00, 0x01, 0x67,
             0x42, 0xc0, 0x0a, 0x25, 0x00, 0x01, 0x67, 0x42, 0x00, 0x00, 0x03, 0x4d,
             0x31, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x03, 0x00, 0x10, 0x00,
             0x0a, 0x0c, 0x83, 0xc4, 0xe8, 0x6c,
          },
          {
             0x00, 0x00, 0x01, 0x68, 0x2e, 0x00, 0x01, 0x27, 0x9a, 0x40, 0xe8, 0x72,
             0x65, 0x88, 0x84, 0x3a, 0x0c, 0x60, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
             0x64, 0x3e, 0xc3, 0x32, 0xce, 0x00, 0x00, 0x00, 0x01, 0x41, 0x9a, 0x22,
             0x86, 0xc0, 0x00, 0x32, 0xce, 0x00, 0x00, 0x00, 0x01, 0x88, 0x84, 0x27,
             0x00, 0x01, 0x41, 0x9a, 0x12, 0x36, 0x6a, 0x00, 0xad, 0xd5, 0x0e,
          }}},
        {"an SPS refused for its cropping codes",
         {{
             0x00, 0x00, 0x01, 0x67, 0x00, 0x00, 0x03, 0x9a, 0x22, 0x86, 0x00, 0x00,
             0x0e, 0x7f, 0x5e, 0x81, 0x41, 0x9a, 0x08, 0x00, 0x00, 0x00, 0x01, 0x67,
             0x42, 0xc0, 0x0a, 0xda, 0x00, 0x9e, 0x8b, 0x00, 0x00, 0x02, 0xad, 0x00,
             0x00, 0x01, 0x67, 0x00, 0x00, 0x01, 0x68, 0xce, 0x65, 0x9c, 0x80, 0x00,
             0x00, 0xf3, 0x63, 0x73, 0x73, 0x01, 0x06, 0x05, 0xff, 0xff, 0x50, 0xdc,
             0x45, 0xc7, 0x9f, 0x63, 0xff, 0x9f, 0x62, 0x7d, 0x70, 0xc1, 0xc3, 0x40,
             0x26, 0xce, 0x22, 0x86, 0xc0, 0x00, 0x00, 0x00, 0x01, 0x65, 0x88, 0x84,
             0x3a, 0x0c, 0x60, 0x0c, 0xf7, 0x2a, 0xec, 0x2e, 0xff, 0x7f, 0x00, 0x00,
             0x76, 0x5e, 0x00, 0xc7, 0xae, 0x7c, 0xfb, 0x09, 0x99, 0x3c, 0x26, 0x46,
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x41, 0x9a,
             0x40, 0xe8, 0xd1, 0xad, 0x17, 0x33, 0x0e, 0xa3, 0x96, 0x36, 0x75, 0x19,
             0x7c, 0x08, 0xb7, 0xc9, 0x4b, 0x86, 0xc0, 0x5f, 0x00, 0x1a, 0x3a, 0x6d,
             0x18, 0x33, 0x83, 0x0a, 0xf0, 0xab, 0xd9, 0x6b, 0x15, 0x73, 0x85, 0x88,
             0x81,
          }}},
        {"an SPS the parser held when the input ended",
         {{
             0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x00, 0x03, 0xff, 0xff, 0x71, 0xf9,
             0xe2, 0xd1, 0x15, 0x3d, 0x31, 0x2e, 0x34, 0x30, 0x00, 0x90, 0xe1, 0x40,
             0x4e, 0x92, 0x6c, 0x96, 0xb8, 0x04, 0x35, 0xc0, 0x00, 0x00, 0x00, 0x01,
             0x41, 0x9a, 0x22, 0x86, 0xc0, 0x80, 0x00, 0x00, 0x01, 0x27, 0x9a, 0xc0,
             0x0a, 0xda, 0x01, 0x11, 0xec, 0x04, 0x40, 0x41, 0x9a, 0x22, 0x86, 0xc0,
             0x00,
          },
          {
             0x00, 0x00, 0x01, 0x67, 0x42, 0xc0, 0x0a, 0xda, 0x00, 0x11, 0xec, 0x04,
             0x40, 0x00, 0x00, 0x03, 0x00, 0x40, 0x00, 0x00, 0x0c, 0x83, 0xc4, 0x89,
             0xa8, 0x00,
          },
          {
             0x00, 0x00, 0x01, 0x68, 0x73, 0x3f, 0xdf, 0xff, 0x00, 0xe8, 0x9a, 0x41,
             0x81, 0x40, 0x00, 0x00, 0x00, 0xe8, 0x9a, 0x41, 0x81, 0xf2, 0x40, 0x01,
             0xed, 0x2c, 0xa8, 0x6c, 0xed, 0x7d, 0x8f, 0x88, 0x82, 0x88, 0x00, 0x5e,
             0x00, 0xb8, 0x04, 0x00, 0x0e, 0x0a, 0x0a, 0x2a, 0x00, 0x00, 0x00, 0x01,
             0x65, 0x88, 0x84, 0xf2, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x41,
             0x9a, 0x22, 0x86, 0xc0, 0xc7, 0x0e, 0x08, 0x00, 0x00, 0x00, 0x00,
          }}},
        {"a PPS with zero bytes inside and a long QP code",
         {Cat({sps122,
               {
                   0x00, 0x00, 0x01, 0x41, 0x9a, 0x40, 0x00, 0x00, 0x00, 0x01, 0x41, 0x9a,
                   0x22, 0x86, 0xc0,
               }}),
          {
             0x00, 0x00, 0x01, 0x68, 0xce, 0x00, 0x00, 0x00, 0x00, 0x0a, 0x08, 0x00,
             0x46, 0xc4, 0x46, 0x46, 0x46, 0x46, 0x0e, 0x03, 0x00, 0x40, 0x00, 0x00,
             0x0c, 0x83, 0xc4, 0x89, 0xa8, 0x00, 0xff, 0x06, 0x00, 0x00, 0x01, 0x41,
             0x9a, 0x22, 0x86, 0xc0, 0x00, 0x00, 0x00, 0x01, 0x41, 0x9a, 0x40, 0xe8,
             0x6c, 0xbe, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0e, 0x08, 0x7b, 0x9a,
             0x20, 0x71, 0x00, 0x00, 0x62, 0x20, 0x00, 0x17, 0x41, 0x00, 0xb2, 0x00,
             0x00, 0x96, 0x40, 0x4e, 0x6c, 0x35, 0xce, 0x00,
          }}},
        {"a PPS refused before an SPS in the same unit",
         {Cat({sps122,
               {
                   0x00, 0x00, 0x01, 0x65, 0x88, 0x84, 0x27, 0x6c, 0x34, 0xce, 0x00, 0x00,
                   0x00, 0x01, 0x41, 0x9a, 0x40, 0xe8, 0x6c, 0xc0, 0x00, 0x2b, 0xf3, 0x63,
                   0x73, 0x73, 0x65, 0x21, 0xbe,
               }}),
          {
             0x00, 0x00, 0x01, 0x68, 0xce, 0x00, 0x00, 0x00, 0x00, 0x0a, 0x08, 0x00,
             0x46, 0xc4, 0x46, 0x46, 0x46, 0x46, 0x0e, 0x03, 0x00, 0x40, 0x00, 0x00,
             0x0c, 0x83, 0xc4, 0x89, 0xa8, 0x00, 0xff, 0x06, 0x00, 0x00, 0x01, 0x67,
             0x42, 0xc0, 0x0a, 0xda, 0x11, 0xec, 0x04, 0x40, 0x00, 0x00, 0x03, 0x00,
             0x40, 0x00, 0x27, 0x7c, 0x34, 0xce, 0x00, 0x00, 0x00, 0x01, 0x41, 0x00,
             0x0c, 0x83, 0xc4, 0x89, 0xb2, 0x96, 0x40, 0x4e, 0x6c, 0x35, 0x00, 0x00,
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00,
             0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x10, 0x10, 0x10, 0x9a, 0x22, 0x86,
             0xc0, 0x00, 0x00, 0x00, 0x01, 0xc5, 0x2d, 0x10, 0x10, 0x10, 0x10, 0x10,
             0x10, 0x89, 0xb2, 0x96, 0x40, 0x4e, 0x6c, 0x35, 0x00, 0x00, 0x00, 0x00,
             0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00,
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x10, 0x10, 0x10, 0x9a,
             0x22, 0x86, 0xc0, 0x00,
          }},
         2},
        {"an SEI before an SPS in the same unit",
         {Cat({sps122,
               {
                   0x00, 0x00, 0x01, 0x65, 0x88, 0x84, 0x27, 0x6c, 0x34, 0xce, 0x00, 0x00,
                   0x00, 0x01, 0x41, 0x9a, 0x22, 0x86, 0xc0, 0x86, 0xc0,
               }}),
          {
             0x00, 0x00, 0x01, 0x06, 0x05, 0xff, 0xff, 0x50, 0xdc, 0x45, 0xe9, 0xbd,
             0x66, 0xd9, 0x28, 0xb7, 0x96, 0x2c, 0xd8, 0xc7, 0x01, 0x18, 0x00, 0x00,
             0x40, 0x00, 0x00, 0x00, 0xae, 0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0xc0,
             0x0a, 0xda, 0x11, 0xec, 0x04, 0x40, 0x00, 0x00, 0x03, 0x00, 0x40, 0x00,
             0x27, 0x7c, 0x38, 0xce, 0x00, 0x00, 0x00, 0x01, 0x41, 0x00, 0x0c, 0x83,
             0xc4, 0x89, 0xb2, 0x96, 0x40, 0x4e, 0x6c, 0x35, 0x00, 0x00, 0x00, 0x00,
             0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
             0x00, 0x00, 0x00, 0x10, 0x10, 0x10, 0x10, 0x9a, 0x22, 0x86, 0xc0, 0x00,
             0x00, 0x00, 0x22, 0x86, 0xc0, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x0e,
             0x08, 0x00, 0x00, 0x00, 0x01, 0x68, 0xce, 0x00, 0x00, 0x00, 0x00, 0x0a,
             0x08, 0x00, 0x46, 0xc4, 0x46, 0x46, 0x46, 0x46, 0x0e, 0x03, 0x00, 0x40,
             0x00, 0x00, 0x0c, 0x83, 0xc4, 0x89, 0xa8, 0x00, 0xff, 0x06, 0x00, 0x00,
             0x01, 0x41, 0x9a, 0x40, 0xe8, 0x6c, 0xbe, 0x01, 0x00, 0x00, 0x00, 0x00,
             0x00, 0x0e, 0x08, 0x7b, 0x9a, 0x20, 0x71, 0x00, 0x00, 0x62, 0x20, 0x00,
             0x17, 0x41, 0x00, 0xb2, 0x00, 0x00, 0x96, 0x40, 0x4e, 0x6c, 0x35, 0xce,
             0x00, 0x00, 0x00, 0x01, 0x41, 0x9a, 0x22, 0x86, 0xc0, 0x00,
          }},
         2},
    };
    av_log_set_callback(CountLoudMessages);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gLoudMessages = 0;
        const int32_t handle = CreateCodec(VCODEC_FORMAT_H264, 130, 320, -240, 30);
        Bytes out(32768);
        for (size_t u = 0; u < c.units.size() * size_t(c.times); ++u) {
            const Bytes& unit = c.units[u / size_t(c.times)];
            int32_t pos = 0;
            for (int calls = 0; calls < 64 && pos < int32_t(unit.size()); ++calls) {
                int32_t length = int32_t(unit.size()) - pos, written = int32_t(out.size());
                if (!Decode(handle, unit.data() + pos, &length, out.data(), &written) || length == 0)
                    break;
                pos += length;
            }
        }
        ReleaseCodec(handle);
        EXPECT_EQ(0, gLoudMessages.load());
    }
    av_log_set_callback(av_log_default_callback);
}

// Under a lowered bound, MPEG-4 pictures of few pixels but wide lines meet
// the decoder's scratch rows (280 of a line, 64 bytes more; a line of 3,600
// columns is 3,712 bytes, as the chroma lines are aligned too): 3,584
// columns fit a bound of 2^20 that way, 3,600 do not. A picture that does not is
// refused without a line in the host's log; one that does decodes. Each
// case runs in a process of its own (the bound is read once); the exit code
// carries the pictures and the loud lines.
TEST(CCodecBoundTest, WideMpeg4PicturesMeetTheScratchRows) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir("vcodec-scratch");
    auto outcome = [&dir](int width) {
        const std::string file = dir.File("s" + std::to_string(width) + ".m4v");
        if (ipcam::test::Run("ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:s=" + std::to_string(width) +
                             "x16:r=25 -frames:v 3 -c:v mpeg4 -bf 0 -f m4v '" + file + "'") != 0)
            std::_Exit(99);
        Stream s{"mpeg4 wide", VCODEC_FORMAT_MPEG4, width, 16, file};
        s.mUnits = SplitMpeg4Frames(ReadFile(file));
        setenv("VCODEC_MAX_PIXELS", "1048576", 1);
        av_log_set_callback(CountLoudMessages);
        gLoudMessages = 0;
        const int32_t handle = CreateCodec(VCODEC_FORMAT_MPEG4, VCODEC_PIXEL_I420, 320, 240, 25);
        const size_t count = DecodeChunks(handle, s.mUnits, s, VCODEC_PIXEL_I420).mPictures.size();
        ReleaseCodec(handle);
        std::_Exit(int(count) * 10 + std::min(gLoudMessages.load(), 9));
    };
    EXPECT_EXIT(outcome(3584), testing::ExitedWithCode(30), "");
    EXPECT_EXIT(outcome(3600), testing::ExitedWithCode(0), "");
}

// Bad input gives no picture, and the same handle then decodes good input:
// neither a decoder's state carried between frames nor a JPEG library left
// mid-image by an error may hold on to the failure. What libavcodec says
// about the damage stays below the level a host's log shows (a camera that
// sends noise made lines on stderr for every frame). (Noise is the fuzz
// target's business.)
TEST_F(CCodecTest, BadInputGivesNoPictureAndDecodingGoesOn) {
    const std::vector<Bytes>&mpeg4 = Find("mpeg4 odd").mUnits, &h264 = Find("h264").mUnits;
    const Bytes &j420 = Find("jpeg 4:2:0").mUnits[0], &j422 = Find("jpeg 4:2:2 odd").mUnits[0];
    auto head = [](const Bytes& b, size_t n) {
        return Bytes(b.begin(), b.begin() + long(std::min(n, b.size())));
    };
    auto corrupt = [](Bytes b) {
        for (size_t i = b.size() / 4; i < b.size() / 2; i += 7)
            b[i] ^= 0x5A;
        return b;
    };
    // The key frame's headers and picture with its VOL cut out: libavcodec
    // guesses what it needs of the VOL and asks for a 0 x 0 picture.
    auto withoutVol = [](Bytes b) {
        const Bytes vol = {0x00, 0x00, 0x01, 0x20}, next = {0x00, 0x00, 0x01};
        const auto at = std::search(b.begin(), b.end(), vol.begin(), vol.end());
        if (at != b.end())
            b.erase(at, std::search(at + 4, b.end(), next.begin(), next.end()));
        return b;
    };
    // A width above the largest side accepted, in the JPEG frame header
    // (FF C0, length, precision, height, width).
    Bytes huge = j420;
    for (size_t i = 0; i + 9 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 7] = 0xFF;
            break;
        }
    struct Case {
        const char* mName;
        const char* mStream;
        Bytes mInput;
    } cases[] = {{"jpeg empty", "jpeg 4:2:0", {}},
                 {"jpeg truncated", "jpeg 4:2:0", head(j420, j420.size() / 2)},
                 {"jpeg cut inside its headers", "jpeg 4:2:0", head(j420, 200)},
                 {"jpeg 4:2:2 cut inside its headers", "jpeg 4:2:2 odd", head(j422, 200)},
                 {"jpeg corrupt", "jpeg 4:2:2 odd", corrupt(j422)},
                 {"jpeg wider than the limit", "jpeg 4:2:0", huge},
                 {"mpeg4 truncated key frame", "mpeg4 odd", head(mpeg4[0], mpeg4[0].size() * 3 / 10)},
                 {"mpeg4 corrupt key frame", "mpeg4 odd", corrupt(mpeg4[0])},
                 {"mpeg4 predicted frame first", "mpeg4 odd", mpeg4[1]},
                 {"mpeg4 key frame without its VOL", "mpeg4 odd", withoutVol(mpeg4[0])},
                 {"h264 corrupt", "h264", corrupt(Cat({h264[0], h264[1]}))},
                 {"h264 predicted frame first", "h264", Cat({h264[1], h264[2]})}};
    av_log_set_callback(CountLoudMessages);
    for (const Case& c : cases) {
        gLoudMessages = 0;
        const Stream& s = Find(c.mStream);
        int32_t handle = CreateCodec(s.mFormat, 32, s.mWidth, s.mHeight, 30);
        Bytes out(size_t(PictureSize(32, s.mWidth, s.mHeight)), 0x33);
        int32_t length = int32_t(c.mInput.size()), size = int32_t(out.size());
        EXPECT_EQ(0, Decode(handle, c.mInput.data(), &length, out.data(), &size)) << c.mName;
        EXPECT_EQ(0, size) << c.mName;
        EXPECT_EQ(s.mReference.at(32).size(), DecodeChunks(handle, s.mUnits, s, 32).mPictures.size())
            << c.mName;
        ReleaseCodec(handle);
        EXPECT_EQ(0, gLoudMessages.load()) << c.mName;
    }
    av_log_set_callback(av_log_default_callback);
}

// A buffer one byte short, or pixel code 0, gets nothing written; a buffer
// with the alignment marker off a 16-byte boundary gets the picture 8 bytes in;
// nothing is written past the buffer, however much room it leaves.
TEST_F(CCodecTest, OutputBufferRules) {
    const uint8_t marker[8] = {0x19, 0x74, 0x10, 0x10, 0x74, 0x19, 0x01, 0x01};
    struct Case {
        const char* mStream;
        int32_t mCode;
        int mSpare;    // buffer bytes beyond the picture's size
        size_t mAlign; // buffer address modulo 16; the marker is written when not 0
        bool mPicture;
    } cases[] = {
        {"jpeg 4:2:2 odd", 100, -1, 0, false},
        {"mpeg4 odd", 120, -1, 0, false},
        {"h264", 130, -1, 0, false},
        {"jpeg 4:2:0", 0, 64, 0, false},
        {"mpeg4 odd", 32, 8, 8, true},
        {"mpeg4 odd", 100, 8, 4, true},
        {"mpeg4 odd", 130, 0, 0, true},
        {"mpeg4 odd", 32, 7, 8, false},
        // Room after the picture lets the converter write into the buffer
        // directly; it must still fill only the picture's rows correctly.
        {"h264", 100, 64, 0, true},
        {"h264", 120, 64, 8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mStream) + " code " + std::to_string(c.mCode) + " at " +
                     std::to_string(c.mAlign));
        const Stream& s = Find(c.mStream);
        Bytes in = s.mUnits[0];
        if (s.mFormat == VCODEC_FORMAT_H264)
            in.insert(in.end(), s.mUnits[1].begin(), s.mUnits[1].end());
        int32_t size = PictureSize(c.mCode, s.mWidth, s.mHeight) + c.mSpare, length = int32_t(in.size());
        Bytes storage(size_t(size) + 32, 0x5C);
        uint8_t* base =
            storage.data() + (16 - reinterpret_cast<uintptr_t>(storage.data()) % 16) % 16 + c.mAlign;
        if (c.mAlign)
            memcpy(base, marker, sizeof marker);
        Bytes before(base, base + size);
        int32_t handle = CreateCodec(s.mFormat, c.mCode, s.mWidth, -s.mHeight, 30);
        ASSERT_EQ(c.mPicture, Decode(handle, in.data(), &length, base, &size) != 0);
        ReleaseCodec(handle);
        EXPECT_TRUE(std::all_of(base + before.size(), storage.data() + storage.size(), [](uint8_t b) {
            return b == 0x5C;
        })) << "written past the buffer";
        if (!c.mPicture) {
            EXPECT_EQ(0, size);
            EXPECT_TRUE(before == Bytes(base, base + before.size())) << "written without a picture";
            continue;
        }
        ASSERT_EQ(PictureSize(c.mCode, s.mWidth, s.mHeight), size);
        const uint8_t* at = base + (c.mAlign ? 8 : 0);
        EXPECT_TRUE(Tight(Bytes(at, at + size), c.mCode, s.mWidth, s.mHeight, false, false) ==
                    s.mReference.at(c.mCode)[0]);
        EXPECT_EQ(c.mAlign != 0, memcmp(base, marker, sizeof marker) == 0)
            << "the marker stays for the reader";
    }
}

TEST(CCodecHandleTest, CreationAndInvalidHandles) {
    struct Create {
        int32_t mFormat, mCode, mWidth, mHeight;
        bool mOk;
    } creates[] = {
        {1000, 100, 320, 240, true},    {1005, 0, 320, -240, true},    {1010, 999, 8192, -8192, true},
        {1001, 100, 320, 240, false},   {-1, 100, 320, 240, false},    {1000, 100, 0, 240, false},
        {1000, 100, 320, 0, false},     {1000, 100, -320, 240, false}, {1005, 100, 8193, 240, false},
        {1010, 100, 320, -8193, false},
    };
    for (const Create& c : creates) {
        int32_t handle = CreateCodec(c.mFormat, c.mCode, c.mWidth, c.mHeight, 30);
        EXPECT_EQ(c.mOk, handle >= 0) << c.mFormat << " " << c.mWidth << "x" << c.mHeight;
        EXPECT_EQ(c.mOk ? 1 : 0, ReleaseCodec(handle));
    }
    int32_t released = CreateCodec(1000, 100, 16, 16, 30);
    ASSERT_EQ(1, ReleaseCodec(released));
    int32_t live = CreateCodec(1000, 100, 16, 16, 30);
    ASSERT_GE(live, 0);
    EXPECT_NE(released, live) << "a released handle must not reach the next codec";
    uint8_t in[4] = {0xFF, 0xD8, 0xFF, 0xD9}, out[64];
    for (int32_t handle : {released, -1, INT32_MIN, live + 1, INT32_MAX}) {
        memset(out, 0x42, sizeof out);
        int32_t length = 4, size = sizeof out;
        EXPECT_EQ(0, Decode(handle, in, &length, out, &size)) << handle;
        EXPECT_EQ(0x42, out[0]);
        EXPECT_EQ(0, ReleaseCodec(handle)) << handle;
    }
    int32_t length = 4, size = sizeof out, negative = -5;
    EXPECT_EQ(0, Decode(live, in, nullptr, out, &size));
    EXPECT_EQ(0, Decode(live, in, &length, out, nullptr));
    EXPECT_EQ(0, Decode(live, nullptr, &length, out, &size));
    EXPECT_EQ(0, Decode(live, in, &length, nullptr, &size));
    EXPECT_EQ(0, Decode(live, in, &negative, out, &size));
    EXPECT_EQ(1, ReleaseCodec(live));
    EXPECT_EQ(0, ReleaseCodec(live));
}

// Threads decode the same stream on their own handles while another creates
// and releases handles; each gets every picture.
TEST_F(CCodecTest, HandlesWorkInParallel) {
    const Stream& s = Find("h264");
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&] {
            int32_t handle = CreateCodec(VCODEC_FORMAT_H264, 130, s.mWidth, -s.mHeight, 30);
            failures += DecodeChunks(handle, s.mUnits, s, 130).mPictures != s.mReference.at(130);
            ReleaseCodec(handle);
        });
    threads.emplace_back([] {
        for (int i = 0; i < 200; ++i)
            ReleaseCodec(CreateCodec(VCODEC_FORMAT_MPEG4, 32, 64, 64, 30));
    });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(0, failures.load());
}

} // namespace
