// Frame rates in the form the recording library's frame records carry.
#pragma once

#include <cstdint>

namespace media_util {

class CFpsConverter {
public:
    // The recorder's form: whole frames per second, kMinMachineFps to kMaxMachineFps.
    static constexpr int32_t kMinMachineFps = 1;
    static constexpr int32_t kMaxMachineFps = 60;

    // Converts a frame-rate code (thousandths of a frame per second, as in
    // CMediaObj::mFrameRate) to whole frames per second, rounded to the
    // nearest; a rate below one frame per second becomes 1. Returns 1 and
    // sets *machineFps, or 0 (and leaves it alone) for a code of 0 or below
    // (no rate known: a record would carry a made-up timing), a code above
    // kMaxMachineFps frames per second (no device streams faster; such a value
    // is garbage), or a null output.
    static int CmsToMachine(int32_t frameRateCode, int32_t* machineFps);
};

} // namespace media_util
