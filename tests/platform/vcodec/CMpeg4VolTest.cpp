// The VOL reader against headers written bit by bit (every branch of the
// header's layout) and against what libavcodec's encoder writes in its
// variants, which the decoder reads back.
#include "platform/vcodec/CMpeg4Vol.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using ipcam::CMpeg4Vol;
using ipcam::SMpeg4Vol;
using ipcam::test::BitWriter;
using ipcam::test::Bytes;

namespace {

// A VOL's fields up to its size; the writer marks what it includes.
struct SVolFields {
    uint32_t type = 1;         // simple object
    bool identifier = false;   // is_object_layer_identifier, with verid
    uint32_t verid = 1;
    uint32_t aspect = 1;       // 15: extended, with its own ratio
    bool control = false;      // vol_control_parameters
    bool vbv = false;          // vbv_parameters inside them
    uint32_t shape = CMpeg4Vol::kRectangular;
    uint32_t resolution = 25;  // vop_time_increment_resolution
    bool fixedRate = false;
    uint32_t width = 352, height = 288;
    uint32_t marker = 1;       // what every marker bit holds
};

Bytes Vol(const SVolFields& f) {
    BitWriter w;
    w.Put(0x00000120, 32);
    w.Put(0, 1);
    w.Put(f.type, 8);
    w.Put(f.identifier, 1);
    if (f.identifier) {
        w.Put(f.verid, 4);
        w.Put(1, 3);
    }
    w.Put(f.aspect, 4);
    if (f.aspect == CMpeg4Vol::kExtendedPar)
        w.Put(0xFFFF, 16); // a ratio of ones: misread, it would be a size
    w.Put(f.control, 1);
    if (f.control) {
        w.Put(1, 2);
        w.Put(1, 1);
        w.Put(f.vbv, 1);
        if (f.vbv)
            for (int bits : {15, 1, 15, 1, 15, 1, 3, 11, 1, 15, 1})
                w.Put(bits == 1 ? f.marker : (1u << bits) - 1, bits);
    }
    w.Put(f.shape, 2);
    if (f.shape == CMpeg4Vol::kGrayscale && f.verid != 1)
        w.Put(0xF, 4);
    w.Put(f.marker, 1);
    w.Put(f.resolution, 16);
    w.Put(f.marker, 1);
    w.Put(f.fixedRate, 1);
    if (f.fixedRate) {
        int bits = 0;
        for (uint32_t v = f.resolution - 1; v != 0; v >>= 1)
            ++bits;
        w.Put((1u << std::max(bits, 1)) - 1, std::max(bits, 1)); // all ones
    }
    if (f.shape == CMpeg4Vol::kRectangular) {
        w.Put(f.marker, 1);
        w.Put(f.width, 13);
        w.Put(f.marker, 1);
        w.Put(f.height, 13);
        w.Put(f.marker, 1);
    }
    w.Put(0x3F, 6); // the fields that follow, whatever they are
    return w.Done();
}

const Bytes kVop = {0x00, 0x00, 0x01, 0xB6, 0x10, 0x20};
const Bytes kVisualObjectSequence = {0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0xB5, 0x09};

TEST(CMpeg4VolTest, ReadsEveryBranchOfTheLayout) {
    struct Case {
        const char* name;
        Bytes frame;
        SMpeg4Vol expected;
    };
    auto with = [](auto change) {
        SVolFields f;
        change(f);
        return f;
    };
    auto frame = [](const SVolFields& f) { return ipcam::test::Cat({kVisualObjectSequence, Vol(f), kVop}); };
    const Case cases[] = {
        {"plain", frame(SVolFields{}), {true, 352, 288}},
        {"with an identifier", frame(with([](SVolFields& f) { f.identifier = true; f.verid = 5; })),
         {true, 352, 288}},
        {"extended aspect ratio", frame(with([](SVolFields& f) { f.aspect = 15; })), {true, 352, 288}},
        {"control parameters", frame(with([](SVolFields& f) { f.control = true; })), {true, 352, 288}},
        {"control and vbv parameters", frame(with([](SVolFields& f) { f.control = f.vbv = true; })),
         {true, 352, 288}},
        {"fixed rate, resolution 30000",
         frame(with([](SVolFields& f) { f.fixedRate = true; f.resolution = 30000; })), {true, 352, 288}},
        {"fixed rate, resolution 1 (one bit)",
         frame(with([](SVolFields& f) { f.fixedRate = true; f.resolution = 1; })), {true, 352, 288}},
        {"fixed rate, resolution 65535",
         frame(with([](SVolFields& f) { f.fixedRate = true; f.resolution = 65535; })), {true, 352, 288}},
        {"largest size", frame(with([](SVolFields& f) { f.width = f.height = 8191; })), {true, 8191, 8191}},
        {"every field at once", frame(with([](SVolFields& f) {
             f.identifier = f.control = f.vbv = f.fixedRate = true;
             f.verid = 2;
             f.aspect = 15;
             f.resolution = 1000;
             f.width = 5000;
             f.height = 4000;
         })),
         {true, 5000, 4000}},
        // The decoder only warns about a marker bit; it takes the size.
        {"markers all zero", frame(with([](SVolFields& f) { f.marker = 0; f.control = f.vbv = true; })),
         {true, 352, 288}},
        {"no width", frame(with([](SVolFields& f) { f.width = 0; })), {true, 0, 0}},
        {"no height", frame(with([](SVolFields& f) { f.height = 0; })), {true, 0, 0}},
        {"binary shape: no size", frame(with([](SVolFields& f) { f.shape = 1; })), {true, 0, 0}},
        {"grayscale of version 2: its extension skipped, no size",
         frame(with([](SVolFields& f) { f.shape = 3; f.identifier = true; f.verid = 2; })), {true, 0, 0}},
        // Refused by the decoder: not taken.
        {"resolution 0", frame(with([](SVolFields& f) { f.resolution = 0; })), {false, 0, 0}},
        {"simple studio", frame(with([](SVolFields& f) { f.type = 14; })), {false, 0, 0}},
        {"core studio", frame(with([](SVolFields& f) { f.type = 15; })), {false, 0, 0}},
        // Where the decoder looks.
        {"a VOP alone", kVop, {false, 0, 0}},
        {"a VOL after the VOP", ipcam::test::Cat({kVop, Vol(SVolFields{})}), {false, 0, 0}},
        {"the first of two VOLs",
         ipcam::test::Cat({Vol(SVolFields{}), Vol(with([](SVolFields& f) { f.width = 9; })), kVop}),
         {true, 352, 288}},
        {"the VOL start code 2F", [&] {
             Bytes vol = Vol(SVolFields{});
             vol[3] = 0x2F;
             return ipcam::test::Cat({vol, kVop});
         }(),
         {true, 352, 288}},
        {"start code 30 is not a VOL", [&] {
             Bytes vol = Vol(SVolFields{});
             vol[3] = 0x30;
             return ipcam::test::Cat({vol, kVop});
         }(),
         {false, 0, 0}},
        // Cut short: the missing bits read as zeros, as in the decoder.
        {"cut inside the height", [&] {
             Bytes vol = Vol(with([](SVolFields& f) { f.width = f.height = 8191; }));
             vol.resize(vol.size() - 2);
             return vol;
         }(),
         {true, 8191, 7936}},
        {"cut after the start code: a resolution of 0", {0x00, 0x00, 0x01, 0x20}, {false, 0, 0}},
        {"empty", {}, {false, 0, 0}},
        {"three bytes of a start code", {0x00, 0x00, 0x01}, {false, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SMpeg4Vol vol = CMpeg4Vol::Find(c.frame.data(), static_cast<int32_t>(c.frame.size()));
        EXPECT_EQ(c.expected.taken, vol.taken);
        EXPECT_EQ(c.expected.width, vol.width);
        EXPECT_EQ(c.expected.height, vol.height);
    }
    // Whether a VOP follows (the decoder keeps the size only then).
    const struct {
        const char* name;
        Bytes frame;
        bool vop;
    } vops[] = {{"headers and picture", ipcam::test::Cat({kVisualObjectSequence, Vol(SVolFields{}), kVop}), true},
                {"headers alone", ipcam::test::Cat({kVisualObjectSequence, Vol(SVolFields{})}), false},
                {"two VOLs, no picture", ipcam::test::Cat({Vol(SVolFields{}), Vol(SVolFields{})}), false},
                {"a VOP's start code cut", ipcam::test::Cat({Vol(SVolFields{}), {0x00, 0x00, 0x01}}), false}};
    for (const auto& c : vops)
        EXPECT_EQ(c.vop, CMpeg4Vol::Find(c.frame.data(), static_cast<int32_t>(c.frame.size())).vop) << c.name;
}

// libavcodec's encoder writes the identifier and control parameters, its own
// aspect ratios or an extended one, version 5 for B-frames and quarter
// pixels; a key frame carries the VOL, the others none.
TEST(CMpeg4VolTest, ReadsWhatTheEncoderWrites) {
    ipcam::test::TempDir dir("mpeg4-vol");
    const struct {
        const char* options;
        int width, height;
        bool secondIsKey;
    } cases[] = {
        {"", 176, 144, false},
        {"-g 1", 1920, 1080, true},
        {"-vf setsar=7/5", 720, 576, false},
        {"-bf 1 -flags +qpel", 640, 480, false},
        {"-r 30000/1001", 8190, 16, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string file = dir.File("s.m4v");
        ASSERT_EQ(0, ipcam::test::Run("ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:s=" +
                                      std::to_string(c.width) + "x" + std::to_string(c.height) +
                                      ":r=25 -frames:v 3 -c:v mpeg4 " + c.options + " -f m4v '" + file + "'"));
        const std::vector<Bytes> frames = ipcam::test::SplitMpeg4Frames(ipcam::test::ReadFile(file));
        ASSERT_EQ(3u, frames.size());
        const SMpeg4Vol first = CMpeg4Vol::Find(frames[0].data(), static_cast<int32_t>(frames[0].size()));
        EXPECT_TRUE(first.taken);
        EXPECT_EQ(c.width, first.width);
        EXPECT_EQ(c.height, first.height);
        const SMpeg4Vol second = CMpeg4Vol::Find(frames[1].data(), static_cast<int32_t>(frames[1].size()));
        EXPECT_EQ(c.secondIsKey, second.taken);
        EXPECT_EQ(c.secondIsKey ? c.width : 0, second.width);
    }
}

} // namespace
