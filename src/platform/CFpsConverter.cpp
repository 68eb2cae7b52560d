#include "platform/CFpsConverter.h"

namespace media_util {

int CFpsConverter::CmsToMachine(int32_t frameRateCode, int32_t* machineFps) {
    if (machineFps == nullptr || frameRateCode <= 0 || frameRateCode > kMaxMachineFps * 1000)
        return 0;
    int32_t fps = (frameRateCode + 500) / 1000;
    *machineFps = fps < kMinMachineFps ? kMinMachineFps : fps;
    return 1;
}

} // namespace media_util
