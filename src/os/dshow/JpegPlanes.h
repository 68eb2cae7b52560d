// Decoding a JPEG picture into YCbCr planes with libjpeg's raw-data
// interface, each row written where it belongs.
//
// libjpeg-turbo's tjDecompressToYUVPlanes decodes a picture whose height is
// not a whole number of MCU rows (1080 lines: 67.5 rows of 16) into a
// temporary buffer of the whole picture, allocated per call, and copies it
// into the planes afterwards: 3 MB of copying and a fresh allocation for
// every 1080p camera frame. Here the planes' own rows are handed to the
// decoder, and only the rows past the picture's bottom edge (the padding of
// the last MCU row) go to a scratch row. A plane whose rows are too narrow
// for the padding of the last MCU column is decoded through a scratch MCU
// row and copied, so any plane layout of libjpeg-turbo's (tjPlaneWidth)
// works.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace os::dshow {

class CJpegPlanes {
public:
    enum class EResult {
        Decoded,
        Broken,  // libjpeg stopped or warned (corrupt or truncated data)
        NotMine, // not a picture of the size, sampling or colours asked for:
                 // the caller decodes it some other way
    };

    CJpegPlanes();
    ~CJpegPlanes();
    CJpegPlanes(const CJpegPlanes&) = delete;
    CJpegPlanes& operator=(const CJpegPlanes&) = delete;

    // Reads the picture's header: its size and libjpeg-turbo subsampling
    // code (TJSAMP_*), for YCbCr pictures of the samplings libjpeg-turbo
    // names and grey ones (false for anything else, CMYK and RGB included,
    // and for a broken header). A Decode of the same bytes that follows
    // starts from the header read here instead of reading it again; any
    // other call drops it.
    bool ReadHeader(const uint8_t* jpeg, size_t size, int* width, int* height, int* subsampling);

    // Decodes jpeg into planes laid out for a picture of width x height in
    // libjpeg-turbo's subsampling code (TJSAMP_*), with the fast integer
    // IDCT. A grey picture writes planes[0] only. Rows are strides[i] bytes
    // apart, and each holds at least tjPlaneWidth(i, width, subsampling)
    // bytes (NotMine otherwise).
    EResult Decode(const uint8_t* jpeg, size_t size, int width, int height, int subsampling,
                   uint8_t* const planes[3], const int strides[3]);

private:
    struct Impl;
    std::unique_ptr<Impl> mpImpl;
};

} // namespace os::dshow
