// Looks inside one compressed video frame as the cameras send it: which part
// is the stream configuration (H.264 SPS and PPS, the MPEG-4 headers before
// the first group or picture), which part the picture, and whether the
// picture is a key frame. Only start codes and a few header bits are read;
// the bytes themselves are not checked further.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ipcam {

class CFrameParser {
public:
    enum class Codec { Jpeg, Mpeg4, H264 };

    struct Parts {
        std::vector<uint8_t> mConfiguration; // empty when the frame carries none
        std::vector<uint8_t> mPicture;       // empty for a configuration-only frame
        bool mKey = false;                   // the picture decodes on its own
    };

    // Splits an elementary frame (H.264 in Annex-B form) into parts, which is
    // emptied first (its buffers are kept for reuse). False when the frame
    // is not of the codec at all (a JPEG without SOI, H.264 without a start
    // code, MPEG-4 without a start code).
    static bool Split(Codec codec, const uint8_t* data, size_t length, Parts* parts);

    // Width and height from a JPEG frame header; false when none is found.
    static bool JpegSize(const uint8_t* data, size_t length, int* width, int* height);
};

} // namespace ipcam
