// The arithmetic a display channel does when it builds its pipeline: which
// part of the decoded picture it shows, and in which pixel format and row
// order it wants the decoder's pictures. Kept apart from the channel so that
// it can be checked without devices, decoders or windows.
//
// Stateless; any thread.
#pragma once

#include "platform/CMediaObj.h"

#include <cstdint>

// A rectangle in picture pixels, right and bottom exclusive (as a Windows RECT).
struct SRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

inline bool operator==(const SRect& a, const SRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class CChannelGeometry {
public:
    // Dual-picture recorders send two channels in one picture, one above the
    // other, under a band of this many rows that carries their captions.
    static constexpr int32_t kDualPictureBand = 10;
    // Split layout code of a dual-picture channel (0 = one channel per picture).
    static constexpr int32_t kSplitLayoutDual = 200;
    // Machine codes of the dual-picture recorders: the two-stream H.264 model
    // and the dual-picture JPEG model.
    static constexpr int32_t kDualPictureH264 = 0x1412;
    static constexpr int32_t kDualPictureJpeg = 0x10004;
    // Pixel format the display gets when the host configured none: 16-bit
    // RGB565 halves the copy and conversion work against 32-bit pictures.
    static constexpr int32_t kDefaultDisplayFormat = media_util::kPixelRgb16;

    static bool IsDualPictureDevice(int32_t machineCode);

    // The part of a width x height source picture that shows the channel: the
    // whole picture, or on a dual-picture device the lower half for an odd
    // channel and the upper half, below the band, for an even one (halves by
    // integer division truncating toward zero).
    static SRect PictureRect(int32_t width, int32_t height, bool dualPicture, int32_t channel);

    // A host's crop applied to the picture rectangle: when crop.right is
    // non-zero the picture moves by (crop.left, crop.top) and takes the
    // crop's width and height, each edge then limited to the old right and
    // bottom edges. A crop with right edge 0 means none and returns picture.
    static SRect ApplyCrop(const SRect& picture, const SRect& crop);

    // Sets the display description's format from the source codec. JPEG and
    // MPEG-4 take the configured output format as it is; without one they get
    // kDefaultDisplayFormat, top-down (a positive height is negated). H.264
    // takes the output format or kDefaultDisplayFormat and is always made
    // top-down. Other source codes leave display unchanged; so does a null
    // display.
    static void AdjustDisplayFormat(int32_t sourceCodec, int32_t outputFormat,
                                    media_util::CMediaObj* display);
};
