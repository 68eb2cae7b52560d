// Frame tagging on arbitrary bytes: MPEG-4 start codes, QBox boxes and JPEG
// images with or without a device header, from every kind of device. The
// tagger writes into JPEG images (the checksum, and the size for some
// models), so it must stay inside the given length whatever the header
// claims.
//
// Input: byte 0 picks the codec, byte 1 the model and the channel; the rest
// is the frame, tagged twice so that the per-channel comparison runs.
#include "platform/CMediaObj.h"
#include "source/CMediaSource.h"

#include <vector>

namespace {

class CTagSource : public CMediaSource {
public:
    void SetMachineCode(int code) { mMachineCode = code; }
};

constexpr int32_t kCodecs[] = {media_util::kVideoJpeg, media_util::kVideoMpeg4, media_util::kVideoH264QBox,
                               0};
constexpr int kModels[] = {0, 0x1200, 0x1404, 0x3004, 0x2000, 0x9001};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const int32_t codec = kCodecs[data[0] % 4];
    const int model = kModels[(data[1] & 0x0F) % 6];
    const int channel = (data[1] >> 4) + 1; // 1 to 16
    CTagSource source;
    source.SetMachineCode(model);
    for (int pass = 0; pass < 2; ++pass) {
        media_util::CMediaObj object;
        object.mVideoFormat = codec;
        object.mWidth = 704;
        object.mHeight = 576;
        // An exact-size copy, so that the sanitizer sees any access past it.
        std::vector<uint8_t> frame(data + 2, data + size);
        object.mpData = frame.data();
        object.mDataLength = static_cast<int32_t>(frame.size());
        source.TagMediaObject(&object, frame.data(), object.mDataLength, channel);
        object.mpData = nullptr; // not the object's to free
        object.mDataLength = 0;
    }
    std::vector<uint32_t> events;
    source.TakeEvents(events);
    return 0;
}
