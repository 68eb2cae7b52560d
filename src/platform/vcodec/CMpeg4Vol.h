// The picture size an MPEG-4 Visual frame's video object layer header (VOL)
// gives, read the way libavcodec reads it, so that a frame can be judged
// before the decoder sees it. libavcodec sizes its pictures from the VOL and
// checks the size only as it allocates them, writing a line to the process's
// log (not to the decoder's, whose level we lower) for every frame of a
// stream above the pixel bound or without a size: a hostile camera could
// fill a host's stderr at its frame rate.
//
// What the decoder does with a VOL, and therefore what this reads:
//   - start codes 00 00 01 20 .. 00 00 01 2F begin a VOL; the decoder reads
//     the first in a frame and ignores the others; the frame's VOP
//     (00 00 01 B6) ends the search, as the decoder decodes it there;
//   - bits past the end of the frame read as zeros (the decoder's padding);
//   - marker bits are not checked (the decoder only warns about them);
//   - a studio profile VOL (another layout) and one whose
//     vop_time_increment_resolution is 0 are refused by the decoder: not
//     taken here either;
//   - only a rectangular layer carries a size; a size of 0 in either
//     direction leaves the decoder's size as it was.
//
// Threads: none of its own; pure function.
#pragma once

#include <cstdint>

namespace ipcam {

struct SMpeg4Vol {
    bool taken = false; // a VOL the decoder takes was found
    int width = 0;      // its size; 0 x 0 when it gives none
    int height = 0;
    // A VOP follows it in the frame. The decoder keeps a VOL's size only
    // when the frame's picture header decodes: a frame of headers alone
    // leaves the size it had (none, at first).
    bool vop = false;
};

class CMpeg4Vol {
public:
    // video_object_type_indication values of the studio profiles.
    static constexpr int kSimpleStudioType = 14;
    static constexpr int kCoreStudioType = 15;
    // video_object_layer_shape values.
    static constexpr int kRectangular = 0;
    static constexpr int kGrayscale = 3;
    static constexpr int kExtendedPar = 15; // aspect_ratio_info with its own ratio

    // The first VOL before the first VOP of data[0 .. size).
    static SMpeg4Vol Find(const uint8_t* data, int32_t size);

private:
    // One VOL from the byte after its start code; not taken when the
    // decoder would refuse it.
    static SMpeg4Vol Read(const uint8_t* data, int32_t size, int32_t at);
};

} // namespace ipcam
