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
//     bits past the end read as zeros (the decoder's padding, and the
//     truncation it forgives on its last try);
//   - an SPS the decoder refuses before its size (an identifier above 31, a
//     chroma format above 3, separate colour planes, unequal or out-of-range
//     bit depths, a frame number or order count field out of range, more than
//     16 reference frames, a picture too large for its arithmetic) is not
//     taken;
//   - cropping that would leave no picture is ignored, as the decoder does;
//   - the size is the cropped one, the size the decoder checks.
// When the escaped read is refused the decoder reads the NAL again with its
// escapes in place: the caller (LargestPixels) takes the larger of the two.
//
// Threads: none of its own; pure functions.
#pragma once

#include <cstdint>

namespace ipcam {

struct SH264Sps {
    bool taken = false; // an SPS the decoder takes
    int64_t width = 0;  // its cropped size
    int64_t height = 0;
};

class CH264Sps {
public:
    static constexpr int kSpsNalType = 7;
    static constexpr uint32_t kMaxSpsId = 31;
    static constexpr uint32_t kMaxChromaFormat = 3;
    static constexpr uint32_t kMaxBitDepthExtra = 6;     // bit depth 8 .. 14
    static constexpr uint32_t kMaxLog2FrameNumExtra = 12; // log2_max_frame_num_minus4
    static constexpr uint32_t kMaxPocLsbExtra = 12;
    static constexpr uint32_t kMaxPocCycle = 255;
    static constexpr uint32_t kMaxRefFrames = 16;

    // The SPS whose payload (after the one-byte NAL header) is
    // rbsp[0 .. size), emulation prevention bytes already taken out.
    static SH264Sps Read(const uint8_t* rbsp, int64_t size);
    // The largest picture, in pixels, that an SPS in the Annex B access unit
    // data[0 .. size) gives (0 when it carries none the decoder takes), its
    // width rounded up to a multiple of rowAlign.
    static int64_t LargestPixels(const uint8_t* data, int64_t size, int64_t rowAlign);
};

} // namespace ipcam
