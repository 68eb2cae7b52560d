// Hostile bytes into the media object's stream helpers: QBox extraction and
// the configuration split, as a receiver would hand them a frame body.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/CMediaObj.h"

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
    if (extracted < 0 || extracted > length)
        abort();

    // In place, as a caller reusing its own buffer would.
    std::vector<uint8_t> inPlace(data, data + size);
    int32_t inPlaceLength = -1;
    CMediaObj::ExtractQBox(inPlace.data(), inPlace.data(), length, &inPlaceLength);
    if (inPlaceLength != extracted ||
        (extracted > 0 && memcmp(inPlace.data(), target.data(), size_t(extracted)) != 0))
        abort();

    for (int32_t format : {media_util::kVideoMpeg4, media_util::kVideoH264QBox}) {
        CMediaObj object;
        object.mVideoFormat = format;
        object.mFrameKind = media_util::kFrameKeyWithConfig;
        object.mChannelMask = 3;
        if (!object.CopyData(data, length))
            abort();
        CMediaObj* config = nullptr;
        int split = CMediaObj::SplitVolAndIFrame(&object, &config);
        if ((split != 0) != (config != nullptr))
            abort();
        if (config != nullptr) {
            if (config->mDataLength <= 0 || config->mFrameKind != media_util::kFrameKeyWithConfig)
                abort();
            // An MPEG-4 configuration is a prefix of the frame.
            if (format == media_util::kVideoMpeg4 &&
                (config->mDataLength >= length ||
                 memcmp(config->mpData, data, size_t(config->mDataLength)) != 0))
                abort();
            CMediaObj* clone = config->CloneMeWithNewContent();
            if (!clone->Equals(config))
                abort();
            delete clone;
            delete config;
        }
    }
    return 0;
}
