// One decoder behind a codec handle. Called by one thread at a time (the
// handle's lock in the C entry points sees to that).
#pragma once
#include <cstdint>

namespace ipcam {

class IVideoDecoder {
public:
    virtual ~IVideoDecoder() = default;
    // Decodes at most one picture from in[0, length) into out (outSize bytes).
    // consumed: bytes of the input used up. pictureSize: bytes of the picture
    // written. True when a whole picture was written.
    virtual bool Decode(const uint8_t* in, int32_t length, int32_t* consumed, uint8_t* out, int64_t outSize,
                        int64_t* pictureSize) = 0;
};

} // namespace ipcam
