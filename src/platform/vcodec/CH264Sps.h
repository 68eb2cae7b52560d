// The picture size an H.264 sequence parameter set (SPS) gives, read the way
// libavcodec reads it, so that an access unit can be judged before the
// decoder sees it. The decoder checks a picture's size against its pixel
// bound only when a slice makes an SPS active, and its refusal goes to the
// process's log (not to the decoder's, whose level we lower): a stream that
// names a size above the bound put a line on a host's stderr for every frame.
// The parser's size does not catch it all: hostile streams make the parser
// and the decoder disagree (fuzzing found units the parser sized within the
// bound that the decoder then refused, loudly).
//
// What the decoder does with an SPS, and therefore what this reads:
//   - the NAL payload without its emulation prevention bytes (00 00 03);
//     bits past the end read as zeros (the decoder's padding), and an SPS
//     whose fields run past its end is truncated: the decoder's strict tries
//     refuse it, and its last try forgives that, reading the missing bits
//     from whatever follows the NAL in its memory (the next NAL's bytes), so
//     what it holds then cannot be told from the SPS alone;
//   - an SPS the decoder refuses before its size (an identifier above 31, a
//     chroma format above 3, separate colour planes, unequal or out-of-range
//     bit depths, a frame number or order count field out of range, more than
//     16 reference frames, a picture too large for its arithmetic) is not
//     taken; one whose size libavutil's general image check refuses is
//     refused loudly (the check writes to the process's log);
//   - cropping that would leave no picture refuses the SPS, as the decoder
//     (libavcodec 5.1) does;
//   - the size is the cropped one, the size the decoder checks.
// When the escaped read is refused the decoder reads the NAL again with its
// escapes in place: the caller (LargestPixels) takes the larger of the two.
//
// Threads: none of its own; pure functions.
#pragma once

#include <cstdint>
#include <vector>

namespace ipcam {

class CBitReader;

struct SH264Sps {
    bool taken = false; // an SPS the decoder takes
    bool loud = false;  // refused with a line on the process's log, or may be (below)
    // Its fields run past its end: the decoder refuses it on its strict
    // tries and may take it on its last, forgiving one (not taken here).
    bool truncated = false;
    int64_t width = 0;  // its cropped size
    int64_t height = 0;
    // What a PPS that names it reads of it (when taken).
    uint32_t id = 0;
    uint32_t profile = 0;
    uint32_t constraints = 0; // constraint_set0 .. 5 in bits 0 .. 5
    uint32_t chroma = 1;
    uint32_t bitDepth = 8;
};

class CH264Sps {
public:
    static constexpr int kSpsNalType = 7;
    static constexpr int kPpsNalType = 8;
    static constexpr int kSpsCount = 32;
    static constexpr uint32_t kMaxPpsId = 255;
    static constexpr uint32_t kMaxPpsRefs = 32;
    static constexpr int64_t kMaxChromaQpOffset = 12;
    // A scaling list's deltas; one outside is refused with a line on the
    // process's log ("delta scale N is invalid"), from a parser that has no
    // log context of ours to quieten.
    static constexpr int64_t kMinScalingDelta = -128;
    static constexpr int64_t kMaxScalingDelta = 127;
    static constexpr int kLoudDeltaZeros = 9; // a code with as many leading zeros is out of range
    static constexpr int kMaxUeZeros = 12;     // get_ue_golomb's longest exact code
    static constexpr int kMaxCachedZeros = 24; // beyond, its 32-bit cache reads garbage
    static constexpr uint32_t kMaxSpsId = 31;
    static constexpr uint32_t kMaxChromaFormat = 3;
    static constexpr uint32_t kMaxBitDepthExtra = 6;     // bit depth 8 .. 14
    static constexpr uint32_t kMaxLog2FrameNumExtra = 12; // log2_max_frame_num_minus4
    static constexpr uint32_t kMaxPocLsbExtra = 12;
    static constexpr uint32_t kMaxPocCycle = 255;
    static constexpr uint32_t kMaxRefFrames = 16;

    // The SPS whose payload (after the one-byte NAL header) is
    // rbsp[0 .. size), emulation prevention bytes already taken out, of
    // which the first payloadBits bits are the fields (the rest its stop bit
    // and trailing zeros; -1: all of them, as for the decoder's read of the
    // bytes with their escapes in).
    static SH264Sps Read(const uint8_t* rbsp, int64_t size, int64_t payloadBits = -1);
    // The largest picture, in pixels, that an SPS in the Annex B access unit
    // data[0 .. size) gives (0 when it carries none the decoder takes), its
    // width rounded up to a multiple of rowAlign.
    static int64_t LargestPixels(const uint8_t* data, int64_t size, int64_t rowAlign);
    // What the decoder, holding the SPSs `sps` (by identifier; those not
    // taken it does not hold), makes of the PPS whose payload (escapes out)
    // is rbsp[0 .. size): takes it, refuses it quietly, or refuses it with a
    // line on the process's log, or may (kLoud): scaling lists that run past
    // the NAL's end are read on from the bytes after it. sizeBits: the NAL's
    // length in bits as the decoder counts it, header included, up to its
    // stop bit (the parser reads no scaling lists of a PPS; the decoder reads
    // them only while bits are left).
    enum class EPps { kTaken, kRefused, kLoud };
    static EPps JudgePps(const uint8_t* rbsp, int64_t size, int64_t sizeBits, const SH264Sps (&sps)[kSpsCount]);
    // The NAL's length in bits as the decoder counts it: header and payload
    // (escapes out) without trailing zero bytes, stop bit and the zeros after.
    static int64_t SizeBits(const uint8_t* rbsp, int64_t size);

private:
    static SH264Sps ReadFields(CBitReader& bits, int64_t limit);
};

// Keeps the decoder's process log quiet about a stream's parameter sets.
// libavcodec refuses an SPS or PPS whose scaling lists hold a delta out of
// range with a line on the process's log (its parser reads every SPS, its
// decoder every SPS three ways and every PPS), not on the context's log
// whose level we lower: a noisy camera put a line on a host's stderr for
// every such set. The screen gives each set the decoder would refuse loudly
// the byte changes that leave the same outcome without the line: an SPS
// becomes an access unit delimiter (refused or absent, the decoder holds the
// SPSs it held; the parser ends a unit at both alike), a PPS gets an
// identifier out of range (refused quietly, so the unit it is in still
// fails, as error detection explodes). Lengths stay, so the parser cuts the
// stream into the same units; no start code or escape is made or undone.
//
// SPSs are judged on their own, ahead of the parser (Screen). A PPS is
// judged by the SPSs the decoder holds, so the screen follows the units the
// decoder is handed, in order (Follow): not the input, whose last unit the
// parser drops when nothing came of it, nor units refused for their size.
//
// Threads: none of its own; one screen per decoder.
class CH264ParamScreen {
public:
    struct SPatch {
        int64_t at; // index into the screened input
        uint8_t value;
    };
    // Judges the SPS NAL units whose header byte lies in data[from .. to)
    // (data[0 .. size) being the whole input, read for the bytes before and
    // after) and appends the changes for the loud ones to *patches, in order.
    void Screen(const uint8_t* data, int64_t size, int64_t from, int64_t to, std::vector<SPatch>* patches);
    // An access unit the decoder is about to be handed: remembers the SPSs
    // it takes, and changes each PPS it would refuse loudly, in place.
    void Follow(uint8_t* unit, int64_t size);

    // Bytes of a set read at most: the decoder decides on a loud delta well
    // within them (17 bits a delta it takes, 12 lists of 64 at most).
    static constexpr int64_t kJudgedBytes = 4096;
    // An SPS's quiet stand-in: an access unit delimiter's header.
    static constexpr uint8_t kDelimiterHeader = 0x09;
    // A PPS's: after nine zero bits (an identifier of 511 or more) a byte
    // that keeps its top bit clear and ends no start code or escape.
    static constexpr uint8_t kQuietFollower = 0x40;

private:
    struct SSpsReading {
        SH264Sps escaped; // the decoder's first reading (and the parser's)
        SH264Sps raw;     // its second, escapes in, after a quiet refusal
        bool loud = false;
    };
    // Calls visit(type, header, begin, end, sizeBits) for each SPS and PPS
    // whose header lies in data[from .. to), its payload unescaped in mRbsp.
    template <typename Visit>
    void ForEachSet(const uint8_t* data, int64_t size, int64_t from, int64_t to, Visit visit);
    // The SPS in mRbsp (its escaped bytes data[begin .. end)).
    SSpsReading ReadSps(const uint8_t* data, int64_t begin, int64_t end, int64_t sizeBits) const;

    static constexpr int kSliceNalType = 1;
    static constexpr int kIdrNalType = 5;
    static constexpr int kSeiNalType = 6;

    // The SPSs the decoder holds by identifier, without (mSps) and with
    // (mSpsRead) those it may not have read: after a slice or an SEI in
    // their unit, at which it stops on an error.
    SH264Sps mSps[CH264Sps::kSpsCount];
    SH264Sps mSpsRead[CH264Sps::kSpsCount];
    std::vector<uint8_t> mRbsp;
};

} // namespace ipcam
