// The SPS reader against sequence parameter sets written field by field
// (every branch up to the size, and each refusal of the decoder's), against
// what libx264 writes in its variants (sizes as ffprobe reports them), and
// the search of an access unit (escapes, several SPSs, the row alignment).
#include "platform/vcodec/CH264Sps.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ipcam::CH264Sps;
using ipcam::SH264Sps;
using ipcam::test::BitWriter;
using ipcam::test::Bytes;

namespace {

// An SPS's fields up to its size; the writer follows the syntax's branches.
struct SSpsFields {
    uint32_t profile = 66;
    uint32_t id = 0;
    uint32_t chroma = 1; // written for the high profiles only
    bool separatePlanes = false;
    uint32_t lumaDepth = 0, chromaDepth = 0; // minus 8
    bool scaling = false;                    // two lists given, the rest not
    uint32_t log2FrameNum = 0;               // minus 4
    uint32_t pocType = 2;
    uint32_t pocLsb = 0;                     // minus 4
    int32_t pocOffset = 1;                   // type 1: offset_for_non_ref_pic and the cycle's values
    uint32_t pocCycle = 3;
    uint32_t refs = 1;
    uint32_t mbWidth = 22, mbHeight = 18; // minus 1 each
    bool framesOnly = true;
    bool crop = false;
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
};

Bytes Sps(const SSpsFields& f) {
    BitWriter w;
    w.Put(f.profile, 8);
    w.Put(0, 8);
    w.Put(30, 8);
    w.Ue(f.id);
    if (f.profile == 100 || f.profile == 244) {
        w.Ue(f.chroma);
        if (f.chroma == 3)
            w.Put(f.separatePlanes, 1);
        w.Ue(f.lumaDepth);
        w.Ue(f.chromaDepth);
        w.Put(0, 1);
        w.Put(f.scaling, 1);
        if (f.scaling) {
            const int lists = f.chroma == 3 ? 12 : 8;
            for (int i = 0; i < lists; ++i) {
                const bool present = i == 0 || i == 6;
                w.Put(present, 1);
                if (i == 0) { // a whole 4 x 4 list of deltas
                    for (int k = 0; k < 16; ++k)
                        w.Se(k % 2 ? 5 : -3);
                } else if (i == 6) { // the 8 x 8 default, chosen by a first next of 0
                    w.Se(-8);
                }
            }
        }
    }
    w.Ue(f.log2FrameNum);
    w.Ue(f.pocType);
    if (f.pocType == 0) {
        w.Ue(f.pocLsb);
    } else if (f.pocType == 1) {
        w.Put(0, 1);
        w.Se(f.pocOffset);
        w.Se(-f.pocOffset);
        w.Ue(f.pocCycle);
        for (uint32_t i = 0; i < f.pocCycle && i < 300; ++i)
            w.Se(f.pocOffset);
    }
    w.Ue(f.refs);
    w.Put(0, 1);
    w.Ue(f.mbWidth);
    w.Ue(f.mbHeight);
    w.Put(f.framesOnly, 1);
    if (!f.framesOnly)
        w.Put(1, 1);
    w.Put(1, 1);
    w.Put(f.crop, 1);
    if (f.crop) {
        w.Ue(f.cropLeft);
        w.Ue(f.cropRight);
        w.Ue(f.cropTop);
        w.Ue(f.cropBottom);
    }
    w.Put(0, 1); // no VUI
    w.Put(1, 1); // rbsp_stop_one_bit
    return w.Done();
}

// The payload as it travels: 00 00 followed by 00 .. 03 gets a 03 between.
Bytes Escape(const Bytes& rbsp) {
    Bytes out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

Bytes Unit(std::initializer_list<Bytes> rbsps) {
    Bytes unit;
    for (const Bytes& rbsp : rbsps) {
        const Bytes nal = Escape(rbsp);
        unit.insert(unit.end(), {0, 0, 0, 1, 0x67});
        unit.insert(unit.end(), nal.begin(), nal.end());
    }
    unit.insert(unit.end(), {0, 0, 1, 0x65, 0x88, 0x84}); // an IDR slice's first bytes
    return unit;
}

TEST(CH264SpsTest, ReadsEveryBranchAndRefusesWhatTheDecoderRefuses) {
    auto with = [](auto change) {
        SSpsFields f;
        change(f);
        return f;
    };
    const struct {
        const char* name;
        SSpsFields fields;
        bool taken;
        int64_t width, height;
    } cases[] = {
        {"baseline", SSpsFields{}, true, 368, 304},
        {"order count type 0", with([](SSpsFields& f) { f.pocType = 0; f.pocLsb = 12; }), true, 368, 304},
        {"order count type 1 and its cycle", with([](SSpsFields& f) { f.pocType = 1; }), true, 368, 304},
        {"high profile with scaling lists",
         with([](SSpsFields& f) { f.profile = 100; f.scaling = true; f.lumaDepth = f.chromaDepth = 2; }), true, 368,
         304},
        {"4:4:4 with twelve scaling lists",
         with([](SSpsFields& f) { f.profile = 244; f.chroma = 3; f.scaling = true; }), true, 368, 304},
        {"fields: twice the rows", with([](SSpsFields& f) { f.framesOnly = false; }), true, 368, 608},
        {"cropped 4:2:0", with([](SSpsFields& f) {
             f.crop = true; f.cropRight = 4; f.cropBottom = 4; }), true, 360, 296},
        {"cropped fields", with([](SSpsFields& f) {
             f.framesOnly = false; f.crop = true; f.cropTop = 1; f.cropBottom = 1; }), true, 368, 600},
        {"cropped 4:2:2", with([](SSpsFields& f) {
             f.profile = 100; f.chroma = 2; f.crop = true; f.cropLeft = 1; f.cropBottom = 3; }), true, 366, 301},
        {"cropped 4:4:4", with([](SSpsFields& f) {
             f.profile = 244; f.chroma = 3; f.crop = true; f.cropRight = 3; f.cropTop = 5; }), true, 365, 299},
        {"cropping all away is ignored", with([](SSpsFields& f) {
             f.crop = true; f.cropLeft = 100; f.cropRight = 84; }), true, 368, 304},
        {"the largest code", with([](SSpsFields& f) { f.mbWidth = 65534; f.mbHeight = 0; }), true, 65535 * 16, 16},
        {"a code too long", with([](SSpsFields& f) { f.mbWidth = 65535; }), false, 0, 0},
        {"identifier 32", with([](SSpsFields& f) { f.id = 32; }), false, 0, 0},
        {"chroma format 4", with([](SSpsFields& f) { f.profile = 100; f.chroma = 4; }), false, 0, 0},
        {"separate colour planes", with([](SSpsFields& f) {
             f.profile = 244; f.chroma = 3; f.separatePlanes = true; }), false, 0, 0},
        {"unequal bit depths", with([](SSpsFields& f) { f.profile = 100; f.lumaDepth = 2; }), false, 0, 0},
        {"bit depth 15", with([](SSpsFields& f) {
             f.profile = 100; f.lumaDepth = f.chromaDepth = 7; }), false, 0, 0},
        {"frame number field of 17 bits", with([](SSpsFields& f) { f.log2FrameNum = 13; }), false, 0, 0},
        {"order count type 3", with([](SSpsFields& f) { f.pocType = 3; }), false, 0, 0},
        {"order count field of 17 bits", with([](SSpsFields& f) { f.pocType = 0; f.pocLsb = 13; }), false, 0, 0},
        {"a cycle of 256", with([](SSpsFields& f) { f.pocType = 1; f.pocCycle = 256; }), false, 0, 0},
        {"17 reference frames", with([](SSpsFields& f) { f.refs = 17; }), false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes rbsp = Sps(c.fields);
        const SH264Sps sps = CH264Sps::Read(rbsp.data(), int64_t(rbsp.size()));
        EXPECT_EQ(c.taken, sps.taken);
        EXPECT_EQ(c.width, sps.width);
        EXPECT_EQ(c.height, sps.height);
        const Bytes unit = Unit({rbsp});
        EXPECT_EQ(c.width * c.height, CH264Sps::LargestPixels(unit.data(), int64_t(unit.size()), 1));
    }
    // Cut short: the bits that are missing read as zeros, and from the
    // identifier on that is a code too long.
    const Bytes whole = Sps(SSpsFields{});
    EXPECT_FALSE(CH264Sps::Read(whole.data(), 3).taken);
    EXPECT_FALSE(CH264Sps::Read(whole.data(), 0).taken);
}

TEST(CH264SpsTest, FindsTheLargestSpsOfAUnit) {
    SSpsFields small, large;
    large.id = 1;
    large.mbWidth = 119;
    large.mbHeight = 67;
    const Bytes a = Sps(small), b = Sps(large);
    const Bytes unit = Unit({a, b, a});
    EXPECT_EQ(1920 * 1088, CH264Sps::LargestPixels(unit.data(), int64_t(unit.size()), 1));
    // The width the decoder allocates: rounded up to its row alignment.
    EXPECT_EQ(384 * 304, CH264Sps::LargestPixels(Unit({a}).data(), int64_t(Unit({a}).size()), 64));
    // Only SPS units count; an SPS at the unit's end runs to it.
    Bytes other = Unit({a});
    other[4] = 0x68;
    EXPECT_EQ(0, CH264Sps::LargestPixels(other.data(), int64_t(other.size()), 1));
    Bytes last = {0, 0, 1, 0x67};
    last.insert(last.end(), a.begin(), a.end());
    EXPECT_EQ(368 * 304, CH264Sps::LargestPixels(last.data(), int64_t(last.size()), 1));
    EXPECT_EQ(0, CH264Sps::LargestPixels(nullptr, 0, 1));
}

// Order count offsets of 2^14 put long runs of zero bits before the size:
// the payload travels with escapes, which the reader takes out (read with
// them in place, as the decoder's second try does, the size differs).
TEST(CH264SpsTest, TakesTheEscapesOut) {
    SSpsFields f;
    f.pocType = 1;
    f.pocOffset = 1 << 14;
    f.pocCycle = 2;
    f.mbWidth = 79;
    f.mbHeight = 44;
    const Bytes rbsp = Sps(f);
    const Bytes escaped = Escape(rbsp);
    ASSERT_GT(escaped.size(), rbsp.size()) << "no escape in the test's payload";
    const SH264Sps raw = CH264Sps::Read(escaped.data(), int64_t(escaped.size()));
    EXPECT_TRUE(!raw.taken || raw.width * raw.height < 1280 * 720) << raw.width << "x" << raw.height;
    const Bytes unit = Unit({rbsp});
    EXPECT_EQ(1280 * 720, CH264Sps::LargestPixels(unit.data(), int64_t(unit.size()), 1));
}

TEST(CH264SpsTest, ReadsWhatTheEncoderWrites) {
    ipcam::test::TempDir dir("h264-sps");
    const struct {
        const char* options;
        int width, height;
    } cases[] = {
        {"-preset ultrafast -bf 0", 176, 144},
        {"-bf 2", 1920, 1080},
        {"-x264-params interlaced=1", 720, 576},
        {"-pix_fmt yuv422p -profile:v high422", 1002, 602},
        {"-pix_fmt yuv444p -profile:v high444", 1000, 600},
        {"-x264-params cqm4=6,13,20,28,13,20,28,32,20,28,32,37,28,32,37,42:cqm8=16", 640, 360},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string file = dir.File("s.h264");
        ASSERT_EQ(0, ipcam::test::Run("ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:s=" +
                                      std::to_string(c.width) + "x" + std::to_string(c.height) +
                                      ":r=25 -frames:v 2 -c:v libx264 " + c.options + " -f h264 '" + file + "'"));
        const std::string probed = ipcam::test::Capture(
            "ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + file + "'");
        ASSERT_EQ(std::to_string(c.width) + "," + std::to_string(c.height) + "\n", probed);
        const Bytes stream = ipcam::test::ReadFile(file);
        EXPECT_EQ(int64_t(c.width) * c.height, CH264Sps::LargestPixels(stream.data(), int64_t(stream.size()), 1));
    }
}

} // namespace
