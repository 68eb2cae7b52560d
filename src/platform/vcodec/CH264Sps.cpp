#include "CH264Sps.h"

#include "CBitReader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace ipcam {

namespace {

// The longest Exp-Golomb code libavcodec reads in an SPS: 15 leading zeros
// (a value up to 65534); a longer one is an invalid code to it.
constexpr int kMaxGolombZeros = 15;
// VUI: the aspect ratio code of an explicit ratio, the codes with a table
// entry (0 to 16), the most reordered frames allowed.
constexpr uint32_t kExtendedSar = 255;
constexpr uint32_t kAspectRatioCodes = 17;
constexpr uint32_t kMaxReorderFrames = 16;

// An Exp-Golomb code; *ok cleared for one the decoder calls invalid.
uint32_t Ue(CBitReader& bits, bool* ok) {
    int zeros = 0;
    while (bits.Bits(1) == 0) {
        if (++zeros > kMaxGolombZeros) {
            *ok = false;
            return 0;
        }
    }
    return zeros == 0 ? 0 : static_cast<uint32_t>((uint64_t(1) << zeros) - 1 + bits.Bits(zeros));
}

// get_se_golomb_long (the order count offsets): leading zeros counted in a
// 32-bit window, 31 at most, then one more bit than that; false only for the
// value it refuses (INT32_MIN: 31 zeros and 32 zero bits after them).
bool SkipSeLong(CBitReader& bits) {
    int zeros = 0;
    while (zeros < 31 && bits.Bits(1) == 0)
        ++zeros;
    if (zeros < 31) {
        bits.Skip(zeros);
        return true;
    }
    return bits.Bits(32) != 0;
}

// A scaling list delta as the decoder reads it (get_se_golomb), and what
// the decoder makes of it.
enum class EDelta {
    kValue,   // a delta it takes
    kLoud,    // refused, with a line on the process's log
    kUnknown, // past what can be judged: a code that runs past the NAL's
              // end (the decoder reads the bytes after it in memory) or has
              // more leading zeros than its 32-bit cache holds
};

EDelta ScalingDelta(CBitReader& bits, int64_t* value) {
    if (bits.Left() <= 0)
        return EDelta::kUnknown;
    int zeros = 0;
    while (bits.Bits(1) == 0)
        if (bits.Left() < 0 || ++zeros > CH264Sps::kMaxCachedZeros)
            return EDelta::kUnknown;
    // 9 leading zeros or more make a code of 511 or more: no delta in range.
    if (zeros >= CH264Sps::kLoudDeltaZeros)
        return EDelta::kLoud;
    const uint32_t code = static_cast<uint32_t>((uint64_t(1) << zeros) - 1 + bits.Bits(zeros));
    *value = (code & 1) ? int64_t(code / 2) + 1 : -int64_t(code / 2);
    return *value < CH264Sps::kMinScalingDelta || *value > CH264Sps::kMaxScalingDelta ? EDelta::kLoud
                                                                                     : EDelta::kValue;
}

// Scaling lists as the decoder reads them, each a present flag and, when
// set, deltas until the list is full or a next scale of 0. kLoud at the
// first delta the decoder refuses; kUnknown when the bytes end first.
EDelta ScalingLists(CBitReader& bits, int lists) {
    for (int list = 0; list < lists; ++list) {
        if (bits.Bits(1) == 0)
            continue;
        const int size = list < 6 ? 16 : 64;
        int last = 8, next = 8;
        for (int i = 0; i < size; ++i) {
            if (next != 0) {
                int64_t delta = 0;
                const EDelta read = ScalingDelta(bits, &delta);
                if (read != EDelta::kValue)
                    return read;
                next = static_cast<int>((last + delta) & 0xFF);
                if (i == 0 && next == 0)
                    break; // the default list
            }
            last = next != 0 ? next : last;
        }
    }
    return EDelta::kValue;
}

// get_ue_golomb_31 (identifiers): a 9-bit table, 32 for what it cannot hold.
uint32_t Ue31(CBitReader& bits) {
    int zeros = 0;
    while (zeros < 6 && bits.Bits(1) == 0)
        ++zeros;
    if (zeros >= 6)
        return 32;
    const uint32_t rest = bits.Bits(zeros);
    if (zeros == 5)
        return (rest >> 2) == 0 ? 31 : 32;
    return (1u << zeros) - 1 + rest;
}

// get_ue_golomb: exact up to 12 leading zeros, an error (-1) beyond.
int64_t UeLong(CBitReader& bits) {
    int zeros = 0;
    while (bits.Bits(1) == 0)
        if (++zeros > CH264Sps::kMaxCachedZeros)
            return -1;
    const uint32_t rest = bits.Bits(zeros);
    return zeros > CH264Sps::kMaxUeZeros ? -1 : int64_t((uint64_t(1) << zeros) - 1 + rest);
}

// get_se_golomb outside the scaling lists, as libavcodec 5.1 reads a long
// code: the leading zeros counted in a 32-bit window (31 at most), then the
// next 32 - (31 - zeros) bits as the code plus one; past 31 zeros, the 32
// bits after the 31st zero, whatever they are.
int64_t SeLong(CBitReader& bits) {
    int zeros = 0;
    while (zeros < 31 && bits.Bits(1) == 0)
        ++zeros;
    const uint32_t plusOne = zeros < 31 ? (uint32_t(1) << zeros) | bits.Bits(zeros) : bits.Bits(32);
    return (plusOne & 1) ? -int64_t(plusOne >> 1) : int64_t(plusOne >> 1);
}

// av_image_check_size without a pixel format: a line of 8 bytes a pixel and
// 1,024 more, times the rows and 128 more, must stay below INT_MAX.
bool ImageSizeValid(int64_t width, int64_t height) {
    const int64_t stride = 8 * width + 128 * 8;
    return width > 0 && height > 0 && stride < INT_MAX && stride * (height + 128) < INT_MAX;
}

bool HasChromaFormat(uint32_t profile) {
    switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83:
    case 86: case 118: case 128: case 138: case 144:
        return true;
    default:
        return false;
    }
}

// Where the NAL whose payload begins at data[begin] ends, as libavcodec's
// NAL extraction ends it: at the next 00 00 01 or 00 00 02, or at `limit`
// when none comes before it. 00 00 00 does not end it: the zeros and what
// follows them are part of the NAL (trailing zeros only do not count for its
// length in bits), so a PPS with bytes after such zeros has bits left.
int64_t NalEnd(const uint8_t* data, int64_t begin, int64_t limit) {
    int64_t end = begin;
    while (end + 2 < limit && !(data[end] == 0 && data[end + 1] == 0 && (data[end + 2] == 1 || data[end + 2] == 2)))
        ++end;
    return end + 2 >= limit ? limit : end;
}

// The NAL payload with its emulation prevention bytes taken out.
void Unescape(const uint8_t* data, int64_t size, std::vector<uint8_t>* out) {
    out->clear();
    int zeros = 0;
    for (int64_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        out->push_back(data[i]);
        zeros = data[i] == 0 ? zeros + 1 : 0;
    }
}

// The HRD parameters' refusal: more than 32 CPB specifications.
bool HrdRefused(CBitReader& bits) {
    const uint32_t count = Ue31(bits) + 1;
    if (count > 32)
        return true;
    bits.Skip(4 + 4); // bit_rate_scale, cpb_size_scale
    for (uint32_t i = 0; i < count; ++i) {
        UeLong(bits); // bit_rate_value_minus1
        UeLong(bits); // cpb_size_value_minus1
        bits.Skip(1); // cbr_flag
    }
    bits.Skip(5 + 5 + 5 + 5); // the delay and offset lengths
    return false;
}

// The VUI's refusals, as libavcodec 5.1 reads it: an aspect ratio code it
// has no entry for, HRD parameters it refuses, more than 16 reordered
// frames. Bits past `limit` are the next NAL's to the decoder (the strict
// readings fail there anyway, the forgiving one reads on), so nothing is
// judged refused from them.
bool VuiRefused(CBitReader& bits, int64_t limit) {
    auto within = [&] { return bits.Position() <= limit; };
    if (bits.Bits(1) != 0) { // aspect_ratio_info_present
        const uint32_t idc = bits.Bits(8);
        if (idc == kExtendedSar)
            bits.Skip(16 + 16);
        else if (idc >= kAspectRatioCodes)
            return within();
    }
    if (bits.Bits(1) != 0) // overscan_info_present
        bits.Skip(1);
    if (bits.Bits(1) != 0) {   // video_signal_type_present
        bits.Skip(3 + 1);      // video_format, full range
        if (bits.Bits(1) != 0) // colour_description_present
            bits.Skip(8 + 8 + 8);
    }
    if (bits.Bits(1) != 0) { // chroma_loc_info_present
        Ue31(bits);
        Ue31(bits);
    }
    // A truncated VUI is taken as it is.
    CBitReader peek = bits;
    if (peek.Bits(1) != 0 && limit - bits.Position() < 10)
        return false;
    if (bits.Bits(1) != 0)        // timing_info_present
        bits.Skip(32 + 32 + 1);   // num_units_in_tick, time_scale, fixed_frame_rate
    bool hrd = false;
    for (int kind = 0; kind < 2; ++kind) { // NAL, then VCL HRD parameters
        if (bits.Bits(1) != 0) {
            hrd = true;
            if (HrdRefused(bits))
                return within();
        }
    }
    if (hrd)
        bits.Skip(1); // low_delay_hrd
    bits.Skip(1);     // pic_struct_present
    if (limit - bits.Position() == 0)
        return false;
    if (bits.Bits(1) != 0) { // bitstream_restriction
        bits.Skip(1);
        for (int field = 0; field < 4; ++field)
            Ue31(bits);
        const uint32_t reorder = Ue31(bits);
        Ue31(bits); // max_dec_frame_buffering
        // Read past the end, the reorder count is forgotten rather than judged.
        return within() && reorder > kMaxReorderFrames;
    }
    return false;
}

} // namespace

SH264Sps CH264Sps::Read(const uint8_t* rbsp, int64_t size, int64_t payloadBits) {
    CBitReader bits(rbsp, size);
    SH264Sps sps = ReadFields(bits, payloadBits < 0 ? size * 8 : payloadBits);
    // Fields that ran past the end: refused by the decoder's strict tries,
    // and maybe taken by its last, forgiving one, with whatever follows the
    // NAL in its memory read as the missing bits.
    if (size * 8 - bits.Left() > (payloadBits < 0 ? size * 8 : payloadBits)) {
        sps.truncated = true;
        sps.taken = false;
    }
    return sps;
}

SH264Sps CH264Sps::ReadFields(CBitReader& bits, int64_t limit) {
    SH264Sps sps;
    bool ok = true;
    const uint32_t profile = bits.Bits(8);
    const uint32_t constraints = bits.Bits(8) >> 2; // constraint_set0 .. 5, the first on top
    bits.Skip(8);                                   // level
    const uint32_t id = Ue31(bits);
    if (id > kMaxSpsId)
        return sps;
    sps.id = id;
    sps.profile = profile;
    sps.constraints = 0;
    for (int flag = 0; flag < 6; ++flag)
        sps.constraints |= ((constraints >> (5 - flag)) & 1u) << flag;
    uint32_t chroma = 1;
    if (HasChromaFormat(profile)) {
        chroma = Ue(bits, &ok);
        if (!ok || chroma > kMaxChromaFormat)
            return sps;
        if (chroma == 3 && bits.Bits(1) != 0)
            return sps; // separate colour planes
        const uint32_t luma = Ue(bits, &ok), chromaDepth = Ue(bits, &ok);
        if (!ok || luma != chromaDepth || luma > kMaxBitDepthExtra)
            return sps;
        bits.Skip(1); // qpprime_y_zero_transform_bypass
        if (bits.Bits(1) != 0) { // seq_scaling_matrix_present
            // Lists that run past the NAL the decoder reads on into
            // whatever bytes follow it, refusing loudly or taking fields
            // from there: refused, as loudly as it may.
            sps.loud = ScalingLists(bits, chroma == 3 ? 12 : 8) != EDelta::kValue;
            if (sps.loud)
                return sps;
        }
        sps.bitDepth = 8 + luma;
    }
    if (Ue(bits, &ok) > kMaxLog2FrameNumExtra)
        return sps;
    const uint32_t pocType = Ue(bits, &ok);
    if (pocType == 0) {
        if (Ue(bits, &ok) > kMaxPocLsbExtra)
            return sps;
    } else if (pocType == 1) {
        bits.Skip(1);
        if (!SkipSeLong(bits) || !SkipSeLong(bits))
            return sps;
        const uint32_t cycle = Ue(bits, &ok);
        if (cycle > kMaxPocCycle)
            return sps;
        for (uint32_t i = 0; i < cycle && ok; ++i)
            if (!SkipSeLong(bits))
                return sps;
    } else if (pocType != 2) {
        return sps;
    }
    if (Ue(bits, &ok) > kMaxRefFrames)
        return sps;
    bits.Skip(1); // gaps_in_frame_num_allowed
    // get_ue_golomb: a code of more than 12 leading zeros is an error, which
    // the checks below refuse as a size out of range.
    const int64_t widthCode = UeLong(bits), heightCode = UeLong(bits);
    const bool framesOnly = bits.Bits(1) != 0;
    if (!ok || heightCode < 0 || uint64_t(heightCode) + 1 >= INT_MAX / 2u)
        return sps;
    const uint64_t mbWidth = uint64_t(widthCode) + 1;
    const uint64_t mbHeight = (uint64_t(heightCode) + 1) * (framesOnly ? 1 : 2);
    if (!framesOnly)
        bits.Skip(1); // mb_adaptive_frame_field
    if (widthCode < 0 || mbWidth >= INT_MAX / 16 || mbHeight >= INT_MAX / 16)
        return sps;
    // Then the size must pass libavutil's general image check, which says
    // why not on the process's log ("Picture size WxH is invalid").
    if (!ImageSizeValid(int64_t(mbWidth) * 16, int64_t(mbHeight) * 16)) {
        sps.loud = true;
        return sps;
    }
    bits.Skip(1); // direct_8x8_inference
    int64_t width = int64_t(mbWidth) * 16, height = int64_t(mbHeight) * 16;
    if (bits.Bits(1) != 0) { // frame_cropping
        // get_ue_golomb again; cropping that leaves no picture, or a code it
        // cannot read, and the decoder refuses the SPS ("crop values invalid").
        const int64_t left = UeLong(bits), right = UeLong(bits), top = UeLong(bits), bottom = UeLong(bits);
        const int64_t stepX = (chroma == 1 || chroma == 2) ? 2 : 1;
        const int64_t stepY = (framesOnly ? 1 : 2) * (chroma == 1 ? 2 : 1);
        if (left < 0 || right < 0 || top < 0 || bottom < 0 || (left + right) * stepX >= width ||
            (top + bottom) * stepY >= height)
            return sps;
        width -= (left + right) * stepX;
        height -= (top + bottom) * stepY;
    }
    // The VUI is read on a copy: only its refusals count, and the fields'
    // end is where the caller looks for an overread.
    if (bits.Bits(1) != 0) { // vui_parameters_present
        CBitReader vui = bits;
        if (VuiRefused(vui, limit))
            return sps;
    }
    sps.taken = true;
    sps.chroma = chroma;
    sps.width = width;
    sps.height = height;
    return sps;
}

int64_t CH264Sps::LargestPixels(const uint8_t* data, int64_t size, int64_t rowAlign) {
    int64_t largest = 0;
    std::vector<uint8_t> rbsp;
    for (int64_t i = 0; i + 3 < size; ++i) {
        // The next 01 that may end a start code with a header after it.
        const void* one = std::memchr(data + i + 2, 1, size_t(size - 1 - (i + 2)));
        if (one == nullptr)
            break;
        i = static_cast<const uint8_t*>(one) - data - 2;
        if (data[i] != 0 || data[i + 1] != 0)
            continue;
        i += 3;
        if ((data[i] & 0x1F) != kSpsNalType)
            continue;
        const int64_t begin = i + 1;
        const int64_t end = NalEnd(data, begin, size);
        Unescape(data + begin, end - begin, &rbsp);
        const int64_t payloadBits = SizeBits(rbsp.data(), int64_t(rbsp.size())) - 8;
        for (const SH264Sps& sps :
             {Read(rbsp.data(), int64_t(rbsp.size()), payloadBits), Read(data + begin, end - begin)})
            if (sps.taken)
                largest = std::max(largest, (sps.width + rowAlign - 1) / rowAlign * rowAlign * sps.height);
        i = end - 1;
    }
    return largest;
}

int64_t CH264Sps::SizeBits(const uint8_t* rbsp, int64_t size) {
    while (size > 0 && rbsp[size - 1] == 0)
        --size;
    if (size == 0)
        return 8; // the header alone
    const uint8_t last = rbsp[size - 1];
    int stop = 0;
    while (((last >> stop) & 1u) == 0)
        ++stop;
    return (1 + size) * 8 - (stop + 1);
}

CH264Sps::EPps CH264Sps::JudgePps(const uint8_t* rbsp, int64_t size, int64_t sizeBits,
                                  const SH264Sps (&sps)[kSpsCount]) {
    CBitReader bits(rbsp, size);
    const int64_t ppsId = UeLong(bits);
    if (ppsId < 0 || ppsId > kMaxPpsId)
        return EPps::kRefused;
    const uint32_t spsId = Ue31(bits);
    if (spsId >= uint32_t(kSpsCount) || !sps[spsId].taken)
        return EPps::kRefused;
    const SH264Sps& seq = sps[spsId];
    if (seq.bitDepth > 14 || seq.bitDepth == 11 || seq.bitDepth == 13)
        return EPps::kRefused;
    bits.Skip(2); // entropy_coding_mode, bottom_field_pic_order_in_frame_present
    // A slice group count of 1 goes on; so does an unreadable one (the
    // decoder's error value plus one is not above 1).
    if (UeLong(bits) > 0)
        return EPps::kRefused;
    for (int list = 0; list < 2; ++list) {
        const int64_t refs = UeLong(bits);
        if (refs < 0 || refs >= int64_t(kMaxPpsRefs))
            return EPps::kRefused;
    }
    bits.Skip(1 + 2); // weighted_pred, weighted_bipred_idc
    SeLong(bits); // pic_init_qp
    SeLong(bits); // pic_init_qs
    const int64_t chromaQp = SeLong(bits);
    if (chromaQp < -kMaxChromaQpOffset || chromaQp > kMaxChromaQpOffset)
        return EPps::kRefused;
    bits.Skip(3); // deblocking control, constrained intra, redundant picture count
    const int64_t read = size * 8 - bits.Left();
    const bool noMore = (seq.profile == 66 || seq.profile == 77 || seq.profile == 88) && (seq.constraints & 7u) != 0;
    if (sizeBits - (8 + read) <= 0 || noMore)
        return EPps::kTaken;
    const bool transform8x8 = bits.Bits(1) != 0;
    const bool scaling = bits.Bits(1) != 0; // pic_scaling_matrix_present
    if (scaling && ScalingLists(bits, transform8x8 ? (seq.chroma == 3 ? 12 : 8) : 6) != EDelta::kValue)
        return EPps::kLoud;
    // Read with or without lists.
    const int64_t secondChromaQp = SeLong(bits);
    return secondChromaQp < -kMaxChromaQpOffset || secondChromaQp > kMaxChromaQpOffset ? EPps::kRefused
                                                                                       : EPps::kTaken;
}

template <typename Visit>
void CH264ParamScreen::ForEachSet(const uint8_t* data, int64_t size, int64_t from, int64_t to, Visit visit) {
    to = std::min(to, size);
    for (int64_t header = std::max<int64_t>(from, 3); header < to; ++header) {
        // The next 01 that ends a start code 00 00 01 before a header in the window.
        const void* one = std::memchr(data + header - 1, 1, size_t(to - (header - 1)));
        if (one == nullptr)
            break;
        header = static_cast<const uint8_t*>(one) - data + 1;
        if (header >= to)
            break;
        if (data[header - 2] != 0 || data[header - 3] != 0)
            continue;
        const int type = data[header] & 0x1F;
        if (type != CH264Sps::kSpsNalType && type != CH264Sps::kPpsNalType)
            continue;
        const int64_t begin = header + 1;
        const int64_t limit = std::min(size, begin + kJudgedBytes); // the bytes judged at most
        const int64_t end = NalEnd(data, begin, limit);
        Unescape(data + begin, end - begin, &mRbsp);
        const int64_t rbspSize = int64_t(mRbsp.size());
        // The NAL's bits as the decoder counts them, unknown past the bytes judged.
        const int64_t sizeBits =
            end == limit && limit < size ? INT64_MAX / 2 : CH264Sps::SizeBits(mRbsp.data(), rbspSize);
        visit(type, header, begin, end, sizeBits);
        header = end - 1;
    }
}

CH264ParamScreen::SSpsReading CH264ParamScreen::ReadSps(const uint8_t* data, int64_t begin, int64_t end,
                                                         int64_t sizeBits) const {
    // The decoder reads the NAL with its escapes out, then, refused, again
    // with them in; the parser the first way only.
    SSpsReading reading;
    reading.escaped = CH264Sps::Read(mRbsp.data(), int64_t(mRbsp.size()), sizeBits - 8);
    const SH264Sps& escaped = reading.escaped;
    if (!escaped.taken && !escaped.loud && !escaped.truncated)
        reading.raw = CH264Sps::Read(data + begin, end - begin);
    // A truncated SPS gets the stand-in too: what the decoder's forgiving
    // try would make of it depends on the bytes after it in its memory, and
    // no camera sends one.
    reading.loud = escaped.loud || escaped.truncated || reading.raw.loud;
    return reading;
}

void CH264ParamScreen::Screen(const uint8_t* data, int64_t size, int64_t from, int64_t to,
                              std::vector<SPatch>* patches) {
    ForEachSet(data, size, from, to, [&](int type, int64_t header, int64_t begin, int64_t end, int64_t sizeBits) {
        // An access unit delimiter: the parser ends a unit at one as at an
        // SPS, and nothing reads its payload (a loud SPS may be too short
        // for anything else: its lists run past its end).
        if (type == CH264Sps::kSpsNalType && ReadSps(data, begin, end, sizeBits).loud)
            patches->push_back({header, kDelimiterHeader});
    });
}

void CH264ParamScreen::Follow(uint8_t* unit, int64_t size) {
    // Error detection explodes: the decoder reads no NAL of a unit after a
    // PPS it refuses, a slice it fails to decode or an SEI it fails to read.
    // The first is known here, the others are not: an SPS after a slice or an
    // SEI in the unit goes to mSpsRead only, and a PPS is judged by both.
    bool stopped = false, uncertain = false;
    int64_t scanned = 0;
    ForEachSet(unit, size, 0, size, [&](int type, int64_t header, int64_t begin, int64_t end, int64_t sizeBits) {
        if (stopped)
            return;
        // The NALs before this set that the decoder may stop at.
        for (; !uncertain && scanned + 3 < header; ++scanned)
            if (unit[scanned] == 0 && unit[scanned + 1] == 0 && unit[scanned + 2] == 1) {
                const int nal = unit[scanned + 3] & 0x1F;
                uncertain = nal == kSliceNalType || nal == kIdrNalType || nal == kSeiNalType;
            }
        if (type == CH264Sps::kSpsNalType) {
            const SSpsReading reading = ReadSps(unit, begin, end, sizeBits);
            const SH264Sps& taken = reading.escaped.taken ? reading.escaped : reading.raw;
            if (taken.taken) {
                mSpsRead[taken.id] = taken;
                if (!uncertain)
                    mSps[taken.id] = taken;
            }
            return;
        }
        const int64_t rbspSize = int64_t(mRbsp.size());
        const CH264Sps::EPps held = CH264Sps::JudgePps(mRbsp.data(), rbspSize, sizeBits, mSps);
        const CH264Sps::EPps read = CH264Sps::JudgePps(mRbsp.data(), rbspSize, sizeBits, mSpsRead);
        const bool loud = held == CH264Sps::EPps::kLoud || read == CH264Sps::EPps::kLoud;
        // Identifier 511 and up: nine zero bits after the header.
        if (loud && end - begin >= 2) {
            unit[begin] = 0x00;
            unit[begin + 1] = kQuietFollower;
        }
        const bool refusedHeld = loud || held != CH264Sps::EPps::kTaken;
        const bool refusedRead = loud || read != CH264Sps::EPps::kTaken;
        stopped = refusedHeld && refusedRead;
        uncertain = uncertain || refusedHeld != refusedRead;
    });
}

} // namespace ipcam
