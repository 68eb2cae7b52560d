// Hostile bytes into the media object's stream helpers: QBox extraction and
// the configuration split, as a receiver would hand them a frame body.
#include "FuzzSupport.h"
#include "platform/CMediaObj.h"

using fuzz::Check;
using media_util::CMediaObj;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > size_t(CMediaObj::kMaxDataSize))
        return 0;
    const int32_t length = int32_t(size);

    // Extraction into exactly as much room as the input: the promise that
    // the output never grows past the input is what callers size for.
    std::vector<uint8_t> target(size);
    int32_t extracted = -1;
    CMediaObj::ExtractQBox(data, target.data(), length, &extracted);
    Check(extracted >= 0 && extracted <= length);

    // In place, as a caller reusing its own buffer would.
    std::vector<uint8_t> inPlace(data, data + size);
    int32_t inPlaceLength = -1;
    CMediaObj::ExtractQBox(inPlace.data(), inPlace.data(), length, &inPlaceLength);
    Check(inPlaceLength == extracted &&
          (extracted == 0 || memcmp(inPlace.data(), target.data(), size_t(extracted)) == 0));

    for (int32_t format : {media_util::kVideoMpeg4, media_util::kVideoH264QBox}) {
        CMediaObj object;
        object.mVideoFormat = format;
        object.mFrameKind = media_util::kFrameKeyWithConfig;
        object.mChannelMask = 3;
        Check(object.CopyData(data, length));
        CMediaObj* config = nullptr;
        int split = CMediaObj::SplitVolAndIFrame(&object, &config);
        Check((split != 0) == (config != nullptr));
        if (config != nullptr) {
            Check(config->mDataLength > 0 && config->mFrameKind == media_util::kFrameKeyWithConfig);
            // An MPEG-4 configuration is a prefix of the frame.
            Check(format != media_util::kVideoMpeg4 ||
                  (config->mDataLength < length &&
                   memcmp(config->mpData, data, size_t(config->mDataLength)) == 0));
            CMediaObj* clone = config->CloneMeWithNewContent();
            Check(clone->Equals(config));
            delete clone;
            delete config;
        }
    }
    return 0;
}
