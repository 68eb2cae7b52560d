// MPEG-4 Visual and H.264 with libavcodec, one decoding thread per handle.
//
// MPEG-4 input is one frame per call (a configuration frame carries its VOL
// in-band); a frame whose stream's VOL gives a size above the pixel bound, or
// none, is not handed to the decoder (CMpeg4Vol.h says why). H.264 input is an Annex-B byte stream sliced anyhow: libavcodec's
// parser finds the access units, and each call decodes until one picture
// comes out, reporting the bytes up to the end of that picture's access unit.
// An access unit is complete only once the next one has begun, so the last
// unit in the input waits for the next call. When a call ends without a
// picture the parser is reset and 0 bytes are reported consumed: the caller
// keeps its bytes and hands them again, extended, next time. The parser made
// anew has seen no parameter sets and says so for every slice it meets; it
// parses in a context of its own whose complaints are demoted to debug
// messages, so that a host's log does not fill with them (the decoder, which
// has the parameter sets, still reports what is wrong with a picture).
#pragma once
#include <vector>

#include "CH264Sps.h"
#include "CPictureConverter.h"
#include "IVideoDecoder.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;

namespace ipcam {

class CAvDecoder : public IVideoDecoder {
public:
    // H.264 input is parsed in windows of this many bytes.
    static constexpr int32_t kParseWindow = 64 * 1024;

    // inFormat: 1005 or 1010.
    CAvDecoder(int32_t inFormat, int32_t pixelCode, bool bottomUp);
    ~CAvDecoder() override;
    // False when libavcodec could not be set up.
    bool IsReady() const {
        return mpContext && mpFrame && mpReceived && mpPacket &&
               (!mUsesParser || (mpParser && mpParserContext));
    }

    bool Decode(const uint8_t* in, int32_t length, int32_t* consumed, uint8_t* out, int64_t outSize,
                int64_t* pictureSize) override;

private:
    // Sends one packet and takes the picture it gives, if any and whole.
    bool DecodePacket(const uint8_t* data, int size);
    bool WritePicture(uint8_t* out, int64_t outSize, int64_t* pictureSize);
    void ResetParser();
    // MPEG-4: false for a frame the decoder would refuse for its size (above
    // the pixel bound, or none given) with a line in the process's log.
    // Follows the size the stream's VOLs give, as the decoder does.
    bool Mpeg4SizeAllowed(const uint8_t* in, int32_t length);
    // Whether the decoder allocates a picture of this size: it checks the
    // pixel bound twice, on the size itself and, as it allocates, on the
    // width rounded up to its row alignment (kRowAlign).
    bool WithinBound(int64_t width, int64_t height) const;
    // libavcodec's row alignment (STRIDE_ALIGN) where it uses AVX-512; builds
    // with a smaller one are judged by this too (a stricter bound, by less
    // than 64 columns).
    static constexpr int64_t kRowAlign = 64;
    // MPEG-4 (libavcodec's shared MPEG video code) also allocates scratch
    // for edge emulation: 280 rows of a picture line and 64 bytes, checked
    // against the same bound. A line is the width rounded up until the
    // half-width chroma line is aligned too (2 * kRowAlign). Under a lowered
    // bound a wide picture of few rows fails there, with a line in the
    // process's log.
    bool Mpeg4ScratchWithinBound(int64_t width) const;
    static constexpr int64_t kMpeg4ScratchRows = 280;
    // Puts data into mInput followed by libavcodec's zeroed padding.
    void CopyPadded(const uint8_t* data, int32_t size);

    int32_t mPixelCode;
    bool mBottomUp;
    bool mUsesParser;
    int mCodecId;
    AVCodecContext* mpContext = nullptr;
    AVCodecParserContext* mpParser = nullptr;
    AVCodecContext* mpParserContext = nullptr; // never opened: the parser's log and fields
    AVFrame* mpFrame = nullptr;                // the picture to write
    AVFrame* mpReceived = nullptr;             // what the decoder gives
    AVPacket* mpPacket = nullptr;
    CPictureConverter mConverter;
    // libavcodec reads a little past the end of its input: the input is copied
    // here with zeroed padding.
    std::vector<uint8_t> mInput;
    // H.264: the stream's parameter sets as the decoder holds them, and the
    // changes that quieten the current input's loud ones.
    CH264ParamScreen mScreen;
    std::vector<CH264ParamScreen::SPatch> mPatches;
};

} // namespace ipcam
