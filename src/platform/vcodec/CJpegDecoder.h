// JPEG images into pictures with libjpeg-turbo, straight into the output
// format where it has one (BGR, BGRA, I420 from 4:2:0 images), through its
// YCbCr planes and libswscale otherwise (RGB565, I420 from other samplings).
#pragma once
#include <vector>

#include "CPictureConverter.h"
#include "IVideoDecoder.h"

namespace ipcam {

class CJpegDecoder : public IVideoDecoder {
public:
    // pixelCode: the output code; bottomUp: rows last first.
    CJpegDecoder(int32_t pixelCode, bool bottomUp);
    ~CJpegDecoder() override;
    // False when libjpeg-turbo could not be set up. After a failed image the
    // TurboJPEG handle is replaced; should that fail, every later image on this
    // decoder gives no picture.
    bool IsReady() const { return m_hDecompressor != nullptr; }

    // Consumes the whole input. A truncated or corrupt image, or one whose
    // decoding raised any libjpeg warning, gives no picture.
    bool Decode(const uint8_t* in, int32_t length, int32_t* consumed, uint8_t* out, int64_t outSize,
                int64_t* pictureSize) override;

private:
    // Decodes one image; tjFailed is set when a TurboJPEG call failed.
    bool DecodeImage(const uint8_t* in, int32_t length, uint8_t* out, int64_t outSize, int64_t* pictureSize,
                     bool* tjFailed);
    // Replaces the TurboJPEG handle with a fresh one after a failure.
    void ResetDecompressor();
    // spare: bytes of the caller's buffer after the picture.
    bool DecodeThroughPlanes(const uint8_t* in, int32_t length, int subsampling, const CPictureLayout& layout,
                             int64_t spare);

    int32_t mPixelCode;
    bool mBottomUp;
    void* m_hDecompressor; // tjhandle
    CPictureConverter mConverter;
    // YCbCr planes of the last image, reused; rows with room after them, as
    // libswscale reads whole vectors.
    std::vector<uint8_t> mPlanes;
};

} // namespace ipcam
