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
using ipcam::test::Cat;
using ipcam::test::Escape;

namespace {

// An SPS's fields up to its size; the writer follows the syntax's branches.
struct SSpsFields {
    uint32_t profile = 66;
    uint32_t constraints = 0; // the byte: constraint_set0 in its top bit
    uint32_t id = 0;
    uint32_t chroma = 1; // written for the high profiles only
    bool separatePlanes = false;
    uint32_t lumaDepth = 0, chromaDepth = 0; // minus 8
    bool scaling = false;                    // two lists given, the rest not
    int32_t firstDelta = -3;                 // the first list's first delta
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
    // A VUI with an aspect ratio, NAL HRD parameters of `cpbMinus1`
    // + 1 specifications (if `hrd`) and a bitstream restriction.
    bool vui = false;
    uint32_t aspectIdc = 1;
    bool hrd = false;
    uint32_t cpbMinus1 = 0;
    uint32_t reorder = 0;
};

Bytes Sps(const SSpsFields& f) {
    BitWriter w;
    w.Put(f.profile, 8);
    w.Put(f.constraints, 8);
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
                        w.Se(k == 0 ? f.firstDelta : k % 2 ? 5 : -3);
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
    w.Put(f.vui, 1);
    if (f.vui) {
        w.Put(1, 1);
        w.Put(f.aspectIdc, 8);
        if (f.aspectIdc == 255)
            w.Put(0x00010001, 32); // 1:1
        w.Put(0, 4);               // no overscan, signal type, chroma location or timing
        w.Put(f.hrd, 1);
        if (f.hrd) {
            w.Ue(f.cpbMinus1);
            w.Put(0, 8);
            for (uint32_t i = 0; i <= f.cpbMinus1; ++i) {
                w.Ue(1000);
                w.Ue(2000);
                w.Put(0, 1);
            }
            for (int length = 0; length < 4; ++length)
                w.Put(23, 5); // delay and offset lengths (no run of zeros to escape)
        }
        w.Put(0, 1); // no VCL HRD parameters
        if (f.hrd)
            w.Put(0, 1); // low_delay_hrd
        w.Put(0, 1);     // pic_struct_present
        w.Put(1, 1);     // bitstream_restriction
        w.Put(1, 1);
        for (int i = 0; i < 4; ++i)
            w.Ue(i == 2 || i == 3 ? 16 : 0);
        w.Ue(f.reorder);
        w.Ue(f.reorder);
    }
    w.Put(1, 1); // rbsp_stop_one_bit
    return w.Done();
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
        bool loud = false; // refused with a line on the process's log
    } cases[] = {
        {"baseline", SSpsFields{}, true, 368, 304},
        // What libavcodec refuses in the VUI, quietly.
        {"a VUI", with([](SSpsFields& f) { f.vui = true; f.hrd = true; f.reorder = 16; }), true, 368, 304},
        {"aspect ratio code 16", with([](SSpsFields& f) { f.vui = true; f.aspectIdc = 16; }), true, 368, 304},
        {"aspect ratio code 17", with([](SSpsFields& f) { f.vui = true; f.aspectIdc = 17; }), false, 0, 0},
        {"an explicit aspect ratio", with([](SSpsFields& f) { f.vui = true; f.aspectIdc = 255; }), true, 368, 304},
        {"17 reordered frames", with([](SSpsFields& f) { f.vui = true; f.reorder = 17; }), false, 0, 0},
        // The CPB count is an identifier-style code: 31 to 34 read as 31.
        {"34 + 1 CPB specifications", with([](SSpsFields& f) { f.vui = f.hrd = true; f.cpbMinus1 = 34; }), true,
         368, 304},
        {"35 + 1 CPB specifications", with([](SSpsFields& f) { f.vui = f.hrd = true; f.cpbMinus1 = 35; }), false,
         0, 0},
        {"order count type 0", with([](SSpsFields& f) { f.pocType = 0; f.pocLsb = 12; }), true, 368, 304},
        {"order count type 1 and its cycle", with([](SSpsFields& f) { f.pocType = 1; }), true, 368, 304},
        // Its offsets are read by get_se_golomb_long: codes of up to 31
        // leading zeros.
        {"order count offsets of 30 leading zeros", with([](SSpsFields& f) {
             f.pocType = 1; f.pocOffset = 1 << 29; }), true, 368, 304},
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
        {"cropping all away", with([](SSpsFields& f) {
             f.crop = true; f.cropLeft = 100; f.cropRight = 84; }), false, 0, 0},
        {"cropping all but two columns", with([](SSpsFields& f) {
             f.crop = true; f.cropLeft = 100; f.cropRight = 83; }), true, 2, 304},
        {"cropping all rows of fields away", with([](SSpsFields& f) {
             f.framesOnly = false; f.crop = true; f.cropTop = 152; }), false, 0, 0},
        {"a crop code too long", with([](SSpsFields& f) { f.crop = true; f.cropBottom = 8191; }), false, 0, 0},
        // The size's codes are read by get_ue_golomb: 12 leading zeros at
        // most, a longer code an error the size checks refuse quietly.
        {"the largest code", with([](SSpsFields& f) { f.mbWidth = 8190; f.mbHeight = 0; }), true, 8191 * 16, 16},
        {"a code too long", with([](SSpsFields& f) { f.mbWidth = 8191; f.mbHeight = 0; }), false, 0, 0},
        {"a height code too long", with([](SSpsFields& f) { f.mbHeight = 65534; }), false, 0, 0},
        // libavutil's image check: (8 w + 1024) (h + 128) below INT_MAX, or
        // a line on the process's log.
        {"the tallest 14208 wide", with([](SSpsFields& f) { f.mbWidth = 887; f.mbHeight = 1161; }), true, 14208,
         18592},
        {"a size the image check refuses",
         with([](SSpsFields& f) { f.mbWidth = 887; f.mbHeight = 1162; }), false, 0, 0, true},
        {"fields the image check refuses", with([](SSpsFields& f) {
             f.mbWidth = 887; f.mbHeight = 581; f.framesOnly = false; }), false, 0, 0, true},
        // The decoder reads identifiers through a 9-bit table: 31 to 34 all
        // read as 31, from 35 on as 32, which it refuses.
        {"identifier 34 reads as 31", with([](SSpsFields& f) { f.id = 34; }), true, 368, 304},
        {"identifier 35", with([](SSpsFields& f) { f.id = 35; }), false, 0, 0},
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
        // Scaling list deltas: -128 .. 127 are taken, others refused loudly.
        {"scaling delta 127", with([](SSpsFields& f) { f.profile = 100; f.scaling = true; f.firstDelta = 127; }),
         true, 368, 304},
        {"scaling delta -128", with([](SSpsFields& f) { f.profile = 100; f.scaling = true; f.firstDelta = -128; }),
         true, 368, 304},
        {"scaling delta 128", with([](SSpsFields& f) { f.profile = 100; f.scaling = true; f.firstDelta = 128; }),
         false, 0, 0, true},
        {"scaling delta -129", with([](SSpsFields& f) { f.profile = 100; f.scaling = true; f.firstDelta = -129; }),
         false, 0, 0, true},
        {"scaling delta of nine leading zeros",
         with([](SSpsFields& f) { f.profile = 244; f.chroma = 3; f.scaling = true; f.firstDelta = 300; }), false,
         0, 0, true},
        {"a loud delta after a refusal",
         with([](SSpsFields& f) { f.profile = 100; f.id = 35; f.scaling = true; f.firstDelta = 300; }), false, 0,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes rbsp = Sps(c.fields);
        const SH264Sps sps = CH264Sps::Read(rbsp.data(), int64_t(rbsp.size()));
        EXPECT_EQ(c.taken, sps.taken);
        EXPECT_EQ(c.loud, sps.loud);
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
    // Fields that run past the bits before the stop bit make a truncated
    // SPS, not taken; the VUI flag is one of them.
    const int64_t fieldBits = CH264Sps::SizeBits(whole.data(), int64_t(whole.size())) - 8;
    EXPECT_TRUE(CH264Sps::Read(whole.data(), int64_t(whole.size()), fieldBits).taken);
    EXPECT_TRUE(CH264Sps::Read(whole.data(), int64_t(whole.size()), fieldBits - 1).truncated);
    const SH264Sps cut = CH264Sps::Read(whole.data(), int64_t(whole.size()), fieldBits - 2);
    EXPECT_TRUE(cut.truncated);
    EXPECT_FALSE(cut.taken);
    EXPECT_FALSE(cut.loud);
    // A scaling list cut short is read on, by the decoder, from the bytes
    // after the NAL: it may refuse it loudly.
    const Bytes scaled = Sps(with([](SSpsFields& f) { f.profile = 100; f.scaling = true; }));
    EXPECT_TRUE(CH264Sps::Read(scaled.data(), 7).loud);
    EXPECT_FALSE(CH264Sps::Read(scaled.data(), 7).taken);
    // What a PPS reads of its SPS.
    const Bytes named = Sps(with([](SSpsFields& f) {
        f.profile = 100; f.constraints = 0x40; f.id = 7; f.chroma = 2; f.lumaDepth = f.chromaDepth = 2; }));
    const SH264Sps held = CH264Sps::Read(named.data(), int64_t(named.size()));
    EXPECT_EQ(7u, held.id);
    EXPECT_EQ(100u, held.profile);
    EXPECT_EQ(2u, held.constraints); // constraint_set1
    EXPECT_EQ(2u, held.chroma);
    EXPECT_EQ(10u, held.bitDepth);
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

namespace {

// A PPS's fields up to its second chroma offset; `lists` scaling lists are
// written, list `badList` with `delta` first and zeros after, the others
// absent.
struct SPpsFields {
    uint32_t id = 0, spsId = 0;
    uint32_t sliceGroupsExtra = 0; // minus 1
    uint32_t refs = 0;             // minus 1
    int32_t chromaQp = 0;
    int32_t initQp = 0; // minus 26
    bool more = true; // the optional part (transform, scaling, second offset)
    bool transform8x8 = true;
    bool scaling = true;
    int lists = 8;
    int badList = 0;
    int32_t delta = 200;
    int32_t secondChromaQp = 0;
};

Bytes Pps(const SPpsFields& f) {
    BitWriter w;
    w.Ue(f.id);
    w.Ue(f.spsId);
    w.Put(0, 2);
    w.Ue(f.sliceGroupsExtra);
    w.Ue(f.refs);
    w.Ue(0);
    w.Put(0, 3);
    w.Se(f.initQp);
    w.Se(0);
    w.Se(f.chromaQp);
    w.Put(0, 3);
    if (f.more) {
        w.Put(f.transform8x8, 1);
        w.Put(f.scaling, 1);
        for (int list = 0; f.scaling && list < f.lists; ++list) {
            w.Put(list == f.badList, 1);
            if (list == f.badList)
                for (int k = 0; k < (list < 6 ? 16 : 64); ++k)
                    w.Se(k == 0 ? f.delta : 0);
        }
        w.Se(f.secondChromaQp);
    }
    w.Put(1, 1); // rbsp_stop_one_bit
    return w.Done();
}

} // namespace

namespace {

bool PpsLoud(const uint8_t* rbsp, int64_t size, int64_t sizeBits, const SH264Sps (&sps)[CH264Sps::kSpsCount]) {
    return CH264Sps::JudgePps(rbsp, size, sizeBits, sps) == CH264Sps::EPps::kLoud;
}

} // namespace

// The decoder reads a PPS's scaling lists only with an SPS that allows them
// and bits left, as many as its transform and the SPS's chroma format say,
// and refuses it quietly for what comes before them.
TEST(CH264SpsTest, JudgesAPpsByTheSpsItNames) {
    SH264Sps held[CH264Sps::kSpsCount];
    auto hold = [&](uint32_t id, uint32_t profile, uint32_t constraints, uint32_t chroma, uint32_t depth) {
        held[id].taken = true;
        held[id].id = id;
        held[id].profile = profile;
        held[id].constraints = constraints;
        held[id].chroma = chroma;
        held[id].bitDepth = depth;
    };
    hold(0, 100, 0, 1, 8);
    hold(1, 244, 0, 3, 8);
    hold(2, 66, 2, 1, 8);  // constrained baseline: no more data in a PPS
    hold(3, 77, 0, 1, 8);  // main without constraints: more data
    hold(4, 100, 0, 1, 11); // a bit depth the decoder does not do
    auto with = [](auto change) {
        SPpsFields f;
        change(f);
        return f;
    };
    const struct {
        const char* name;
        SPpsFields fields;
        bool loud;
    } cases[] = {
        {"a 4 x 4 list's delta of 200", SPpsFields{}, true},
        {"deltas 127 and -128", with([](SPpsFields& f) { f.delta = 127; }), false},
        {"delta -128", with([](SPpsFields& f) { f.delta = -128; }), false},
        {"delta -129", with([](SPpsFields& f) { f.delta = -129; }), true},
        {"an 8 x 8 list with the transform", with([](SPpsFields& f) { f.badList = 7; }), true},
        {"an 8 x 8 list without it", with([](SPpsFields& f) { f.badList = 7; f.transform8x8 = false; }), false},
        {"4:4:4's lists of a 4:2:0 SPS", with([](SPpsFields& f) { f.lists = 12; f.badList = 9; }), false},
        {"4:4:4's lists of a 4:4:4 SPS", with([](SPpsFields& f) { f.lists = 12; f.badList = 9; f.spsId = 1; }),
         true},
        {"no scaling matrix", with([](SPpsFields& f) { f.scaling = false; }), false},
        {"no optional part", with([](SPpsFields& f) { f.more = false; }), false},
        {"an SPS not held", with([](SPpsFields& f) { f.spsId = 5; }), false},
        {"identifier 35 for its SPS", with([](SPpsFields& f) { f.spsId = 35; }), false},
        {"constrained baseline", with([](SPpsFields& f) { f.spsId = 2; }), false},
        {"main", with([](SPpsFields& f) { f.spsId = 3; }), true},
        {"bit depth 11", with([](SPpsFields& f) { f.spsId = 4; }), false},
        {"identifier 256", with([](SPpsFields& f) { f.id = 256; }), false},
        {"identifier 255", with([](SPpsFields& f) { f.id = 255; }), true},
        {"two slice groups", with([](SPpsFields& f) { f.sliceGroupsExtra = 1; }), false},
        {"33 references", with([](SPpsFields& f) { f.refs = 32; }), false},
        {"32 references", with([](SPpsFields& f) { f.refs = 31; }), true},
        // get_se_golomb reads long codes exactly, up to 31 leading zeros.
        {"an initial QP code of 30 leading zeros", with([](SPpsFields& f) { f.initQp = -(1 << 29); }), true},
        {"chroma offset 13", with([](SPpsFields& f) { f.chromaQp = 13; }), false},
        {"chroma offset -12", with([](SPpsFields& f) { f.chromaQp = -12; }), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes rbsp = Pps(c.fields);
        const int64_t size = int64_t(rbsp.size());
        EXPECT_EQ(c.loud, PpsLoud(rbsp.data(), size, CH264Sps::SizeBits(rbsp.data(), size), held));
    }
    // The decoder counts the bits up to the stop bit: with none left after
    // the first part it reads no lists, whatever follows.
    const Bytes loud = Pps(SPpsFields{});
    EXPECT_FALSE(PpsLoud(loud.data(), int64_t(loud.size()), 8 + 16, held));
    EXPECT_TRUE(PpsLoud(loud.data(), int64_t(loud.size()), 8 + 17, held));
    // Cut inside the list: the decoder reads on past the NAL.
    const Bytes fine = Pps(with([](SPpsFields& f) { f.delta = 5; }));
    EXPECT_TRUE(PpsLoud(fine.data(), 4, 1000, held));

    // Whether the decoder takes a PPS (after one it refuses, it reads no
    // more of the unit). The second chroma offset comes after the optional
    // flags whether lists are given or not.
    using EPps = CH264Sps::EPps;
    const struct {
        const char* name;
        SPpsFields fields;
        EPps outcome;
    } outcomes[] = {
        {"fine lists", with([](SPpsFields& f) { f.delta = 5; }), EPps::kTaken},
        {"a loud list", SPpsFields{}, EPps::kLoud},
        {"identifier 256", with([](SPpsFields& f) { f.id = 256; }), EPps::kRefused},
        {"an SPS not held", with([](SPpsFields& f) { f.spsId = 5; }), EPps::kRefused},
        {"no optional part", with([](SPpsFields& f) { f.more = false; }), EPps::kTaken},
        {"second chroma offset 12", with([](SPpsFields& f) { f.delta = 5; f.secondChromaQp = 12; }), EPps::kTaken},
        {"second chroma offset 13", with([](SPpsFields& f) { f.delta = 5; f.secondChromaQp = 13; }),
         EPps::kRefused},
        {"no lists, second chroma offset -13", with([](SPpsFields& f) { f.scaling = false; f.secondChromaQp = -13; }),
         EPps::kRefused},
        {"constrained baseline, no optional part read", with([](SPpsFields& f) { f.spsId = 2; f.secondChromaQp = 13; }),
         EPps::kTaken},
    };
    for (const auto& c : outcomes) {
        SCOPED_TRACE(c.name);
        const Bytes rbsp = Pps(c.fields);
        const int64_t size = int64_t(rbsp.size());
        EXPECT_EQ(int(c.outcome), int(CH264Sps::JudgePps(rbsp.data(), size, CH264Sps::SizeBits(rbsp.data(), size), held)));
    }
}

TEST(CH264SpsTest, CountsTheBitsAsTheDecoderDoes) {
    const Bytes stopOnly = {0x80};
    EXPECT_EQ(8, CH264Sps::SizeBits(stopOnly.data(), 1)); // header, then the stop bit alone
    const Bytes rbsp = {0xA5, 0x30, 0x00, 0x00};         // stop bit at the fourth bit of 0x30
    EXPECT_EQ(8 + 8 + 3, CH264Sps::SizeBits(rbsp.data(), int64_t(rbsp.size())));
    EXPECT_EQ(8, CH264Sps::SizeBits(rbsp.data() + 2, 2)); // zeros alone: the header
}

namespace {

Bytes Nal(uint8_t header, const Bytes& rbsp) {
    Bytes nal = {0, 0, 0, 1, header};
    const Bytes payload = Escape(rbsp);
    nal.insert(nal.end(), payload.begin(), payload.end());
    return nal;
}

size_t StartCodes(const Bytes& data) {
    size_t count = 0;
    for (size_t i = 0; i + 2 < data.size(); ++i)
        count += data[i] == 0 && data[i + 1] == 0 && data[i + 2] <= 1;
    return count;
}

} // namespace

// Loud sets come out quiet: an SPS as an access unit delimiter, a PPS
// refused for its identifier; at the same length, with no start code or
// escape made or lost. The others are left alone, and a PPS that names a
// refused SPS is no concern (the decoder refuses it quietly for that).
TEST(CH264SpsTest, ScreensLoudSetsIntoQuietOnes) {
    SSpsFields good;
    good.profile = 100;
    good.scaling = true;
    SSpsFields loudSps = good;
    loudSps.id = 1;
    loudSps.firstDelta = 300;
    SPpsFields loudPps, finePps, orphan;
    finePps.id = 1;
    finePps.delta = 5;
    orphan.id = 2;
    orphan.spsId = 1;
    // An SPS whose lists run past its end, as short as a header can be.
    const Bytes shortSps = {0x67, 0x90, 0x06, 0x2E, 0xF7};
    // A baseline SPS cut after four bytes: its last 1 bit reads as the stop
    // bit, and the size fields run past the end.
    const Bytes whole = Sps(SSpsFields{});
    const Bytes cutSps(whole.begin(), whole.begin() + 4);
    ASSERT_NE(0, cutSps.back());
    const Bytes parts[] = {Nal(0x67, Sps(good)),    Nal(0x67, Sps(loudSps)), Nal(0x68, Pps(loudPps)),
                           Nal(0x68, Pps(finePps)), Nal(0x68, Pps(orphan)),  Cat({{0, 0, 0, 1}, shortSps}),
                           Nal(0x67, cutSps),       {0, 0, 1, 0x65, 0x88, 0x84}};
    Bytes stream;
    std::vector<size_t> at;
    for (const Bytes& part : parts) {
        at.push_back(stream.size());
        stream.insert(stream.end(), part.begin(), part.end());
    }

    ipcam::CH264ParamScreen screen;
    std::vector<ipcam::CH264ParamScreen::SPatch> patches;
    screen.Screen(stream.data(), int64_t(stream.size()), 0, int64_t(stream.size()), &patches);
    Bytes quiet = stream;
    for (const auto& patch : patches)
        quiet[size_t(patch.at)] = patch.value;
    // PPSs as the decoder is handed them: here the whole stream as one unit.
    screen.Follow(quiet.data(), int64_t(quiet.size()));
    ASSERT_EQ(StartCodes(stream), StartCodes(quiet));

    auto payload = [&](const Bytes& data, size_t part) {
        const size_t begin = at[part] + 5, end = part + 1 < at.size() ? at[part + 1] : data.size();
        return Bytes(data.begin() + long(begin), data.begin() + long(end));
    };
    auto unescaped = [&](const Bytes& nal) {
        Bytes out;
        int zeros = 0;
        for (uint8_t b : nal) {
            if (zeros >= 2 && b == 3) {
                zeros = 0;
                continue;
            }
            out.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return out;
    };
    for (size_t part : {size_t(0), size_t(3), size_t(4), size_t(7)})
        EXPECT_EQ(payload(stream, part), payload(quiet, part)) << "part " << part;
    // The truncated SPS: what the decoder's forgiving try would hold depends
    // on the bytes after it, so it gets the stand-in too.
    EXPECT_EQ(0x09, quiet[at[6] + 4]);
    EXPECT_EQ(payload(stream, 6), payload(quiet, 6));
    for (size_t part : {size_t(1), size_t(5)}) {
        SCOPED_TRACE(part);
        const Bytes before = unescaped(payload(stream, part));
        EXPECT_TRUE(CH264Sps::Read(before.data(), int64_t(before.size())).loud);
        EXPECT_EQ(0x09, quiet[at[part] + 4]);
        EXPECT_EQ(payload(stream, part), payload(quiet, part));
    }
    SH264Sps held[CH264Sps::kSpsCount];
    held[0] = CH264Sps::Read(Sps(good).data(), int64_t(Sps(good).size()));
    const Bytes pps = unescaped(payload(quiet, 2));
    EXPECT_FALSE(PpsLoud(pps.data(), int64_t(pps.size()), 1000, held));
    EXPECT_EQ(0x00, pps.at(0));

    // A PPS is judged by the SPSs the decoder was handed, not those the
    // input held: the unit with the SPS never reached it (the parser drops
    // the last unit of an input that gave no picture).
    ipcam::CH264ParamScreen decoderSide;
    std::vector<ipcam::CH264ParamScreen::SPatch> inputPatches;
    Bytes ppsUnit = Nal(0x68, Pps(loudPps));
    const Bytes asSent = ppsUnit;
    decoderSide.Screen(stream.data(), int64_t(stream.size()), 0, int64_t(stream.size()), &inputPatches);
    decoderSide.Follow(ppsUnit.data(), int64_t(ppsUnit.size()));
    EXPECT_EQ(asSent, ppsUnit);
    Bytes spsUnit = Nal(0x67, Sps(good));
    decoderSide.Follow(spsUnit.data(), int64_t(spsUnit.size()));
    decoderSide.Follow(ppsUnit.data(), int64_t(ppsUnit.size()));
    EXPECT_NE(asSent, ppsUnit);
    EXPECT_EQ(0x00, ppsUnit.at(5));

    // Error detection explodes: the decoder reads nothing of a unit after a
    // PPS it refuses, so an SPS there does not replace the one it holds;
    // after a PPS it takes, the SPS does. After a slice or an SEI it may
    // have stopped or not: the next PPS must be quiet by either SPS.
    SSpsFields constrained; // constrained baseline: its PPSs carry no lists
    constrained.constraints = 0x40;
    SPpsFields refusedPps = finePps;
    refusedPps.id = 256;
    const struct {
        const char* name;
        Bytes before;
        bool patched;
    } units[] = {{"after a refused PPS", Nal(0x68, Pps(refusedPps)), true},
                 {"after a loud PPS", Nal(0x68, Pps(loudPps)), true},
                 {"after a PPS taken", Nal(0x68, Pps(finePps)), false},
                 {"after an SEI", Nal(0x06, {0x05, 0x01, 0x00, 0x80}), true},
                 {"after a slice", Nal(0x41, {0x9A, 0x22, 0x86, 0xC0}), true},
                 {"after an access unit delimiter", Nal(0x09, {0x10}), false}};
    for (const auto& u : units) {
        SCOPED_TRACE(u.name);
        ipcam::CH264ParamScreen exploding;
        Bytes first = Nal(0x67, Sps(good));
        exploding.Follow(first.data(), int64_t(first.size()));
        Bytes second = Cat({u.before, Nal(0x67, Sps(constrained))});
        exploding.Follow(second.data(), int64_t(second.size()));
        Bytes third = Nal(0x68, Pps(loudPps));
        const Bytes third0 = third;
        exploding.Follow(third.data(), int64_t(third.size()));
        EXPECT_EQ(u.patched, third != third0);
    }
    // An SPS the decoder surely read after one it may have: the new one holds.
    ipcam::CH264ParamScreen certain;
    Bytes maybe = Cat({Nal(0x06, {0x05, 0x01, 0x00, 0x80}), Nal(0x67, Sps(good))});
    certain.Follow(maybe.data(), int64_t(maybe.size()));
    Bytes sure = Nal(0x67, Sps(constrained));
    certain.Follow(sure.data(), int64_t(sure.size()));
    Bytes lists = Nal(0x68, Pps(loudPps));
    const Bytes lists0 = lists;
    certain.Follow(lists.data(), int64_t(lists.size()));
    EXPECT_EQ(lists0, lists);

    // In windows: a change past a window's end comes with the window whose
    // header it belongs to, in the same order.
    for (size_t split = 1; split < stream.size(); split += 7) {
        ipcam::CH264ParamScreen windows;
        std::vector<ipcam::CH264ParamScreen::SPatch> inParts;
        windows.Screen(stream.data(), int64_t(stream.size()), 0, int64_t(split), &inParts);
        windows.Screen(stream.data(), int64_t(stream.size()), int64_t(split), int64_t(stream.size()), &inParts);
        ASSERT_EQ(patches.size(), inParts.size()) << "split at " << split;
        for (size_t i = 0; i < patches.size(); ++i)
            EXPECT_TRUE(patches[i].at == inParts[i].at && patches[i].value == inParts[i].value) << split;
    }
}
