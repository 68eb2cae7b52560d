#include "CH264Sps.h"

#include "CBitReader.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace ipcam {

namespace {

// The longest Exp-Golomb code libavcodec reads in an SPS: 15 leading zeros
// (a value up to 65534); a longer one is an invalid code to it.
constexpr int kMaxGolombZeros = 15;

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

void SkipSe(CBitReader& bits, bool* ok) {
    Ue(bits, ok);
}

int64_t SeValue(CBitReader& bits, bool* ok) {
    const uint32_t code = Ue(bits, ok);
    return (code & 1) ? int64_t(code / 2) + 1 : -int64_t(code / 2);
}

// One scaling list: deltas until the list is full or a next scale of 0.
void SkipScalingList(CBitReader& bits, int size, bool* ok) {
    int last = 8, next = 8;
    for (int i = 0; i < size && *ok; ++i) {
        if (next != 0) {
            next = static_cast<int>((last + SeValue(bits, ok)) & 0xFF);
            if (i == 0 && next == 0)
                break; // the default list
        }
        last = next != 0 ? next : last;
    }
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

} // namespace

SH264Sps CH264Sps::Read(const uint8_t* rbsp, int64_t size) {
    SH264Sps sps;
    CBitReader bits(rbsp, size);
    bool ok = true;
    const uint32_t profile = bits.Bits(8);
    bits.Skip(8 + 8); // constraint flags, reserved bits; level
    if (Ue(bits, &ok) > kMaxSpsId || !ok)
        return sps;
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
            const int lists = chroma == 3 ? 12 : 8;
            for (int i = 0; i < lists && ok; ++i)
                if (bits.Bits(1) != 0)
                    SkipScalingList(bits, i < 6 ? 16 : 64, &ok);
        }
    }
    if (Ue(bits, &ok) > kMaxLog2FrameNumExtra)
        return sps;
    const uint32_t pocType = Ue(bits, &ok);
    if (pocType == 0) {
        if (Ue(bits, &ok) > kMaxPocLsbExtra)
            return sps;
    } else if (pocType == 1) {
        bits.Skip(1);
        SkipSe(bits, &ok);
        SkipSe(bits, &ok);
        const uint32_t cycle = Ue(bits, &ok);
        if (cycle > kMaxPocCycle)
            return sps;
        for (uint32_t i = 0; i < cycle && ok; ++i)
            SkipSe(bits, &ok);
    } else if (pocType != 2) {
        return sps;
    }
    if (Ue(bits, &ok) > kMaxRefFrames)
        return sps;
    bits.Skip(1); // gaps_in_frame_num_allowed
    const uint64_t mbWidth = uint64_t(Ue(bits, &ok)) + 1;
    uint64_t mbHeight = uint64_t(Ue(bits, &ok)) + 1;
    const bool framesOnly = bits.Bits(1) != 0;
    if (!ok || mbHeight >= INT_MAX / 2u)
        return sps;
    mbHeight *= framesOnly ? 1 : 2;
    if (!framesOnly)
        bits.Skip(1); // mb_adaptive_frame_field
    if (mbWidth >= INT_MAX / 16 || mbHeight >= INT_MAX / 16)
        return sps;
    bits.Skip(1); // direct_8x8_inference
    int64_t width = int64_t(mbWidth) * 16, height = int64_t(mbHeight) * 16;
    if (bits.Bits(1) != 0) { // frame_cropping
        const int64_t left = Ue(bits, &ok), right = Ue(bits, &ok), top = Ue(bits, &ok), bottom = Ue(bits, &ok);
        const int64_t stepX = (chroma == 1 || chroma == 2) ? 2 : 1;
        const int64_t stepY = (framesOnly ? 1 : 2) * (chroma == 1 ? 2 : 1);
        if (ok && (left + right) * stepX < width && (top + bottom) * stepY < height) {
            width -= (left + right) * stepX;
            height -= (top + bottom) * stepY;
        }
    }
    sps.taken = true;
    sps.width = width;
    sps.height = height;
    return sps;
}

int64_t CH264Sps::LargestPixels(const uint8_t* data, int64_t size, int64_t rowAlign) {
    int64_t largest = 0;
    std::vector<uint8_t> rbsp;
    for (int64_t i = 0; i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        i += 3;
        if ((data[i] & 0x1F) != kSpsNalType)
            continue;
        // The NAL runs to the next start code (or the unit's end).
        const int64_t begin = i + 1;
        int64_t end = begin;
        while (end + 2 < size && !(data[end] == 0 && data[end + 1] == 0 && data[end + 2] <= 1))
            ++end;
        if (end + 2 >= size)
            end = size;
        Unescape(data + begin, end - begin, &rbsp);
        for (const SH264Sps& sps : {Read(rbsp.data(), int64_t(rbsp.size())), Read(data + begin, end - begin)})
            if (sps.taken)
                largest = std::max(largest, (sps.width + rowAlign - 1) / rowAlign * rowAlign * sps.height);
        i = end - 1;
    }
    return largest;
}

} // namespace ipcam
