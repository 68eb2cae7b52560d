// JPEG pictures as the cameras send them: libjpeg-turbo's baseline JPEG with
// the device header (an APP12 segment right after SOI) that carries machine
// code, time, channel, alarm bits, sequence number, picture size and the
// recorder's channel mask at fixed offsets from the start of the image.
#pragma once

#include <cstdint>
#include <string>

namespace camsim {

class Picture;

// The fields of the device header. Offsets (from the start of the image,
// numbers little-endian): 6 "IPCH", 10 machine code, 14 year, 16 month,
// 17 day, 18 hour, 19 minute, 20 second, 22 milliseconds, 24 channel - 1,
// 25 alarm bits, 28 checksum, 30 sequence, 36 width, 38 height, 40 channel
// mask; everything else 0.
struct DeviceHeader {
    uint32_t machineCode = 0;
    uint16_t year = 0;
    uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    uint16_t milliseconds = 0;
    int channel = 1; // 1-based; stored as channel - 1 in the low 4 bits
    uint8_t alarm = 0;
    uint32_t sequence = 0;
    uint16_t width = 0; // 0 for models whose header carries no size
    uint16_t height = 0;
    uint8_t channelMask = 0; // bit n-1 = channel n has video
};

class EncoderJpeg {
public:
    // Segment length field of the APP12 segment (it counts itself).
    static constexpr size_t kHeaderSegmentLength = 62;
    // First byte after the device header: SOI (2) + marker (2) + segment.
    static constexpr size_t kHeaderEnd = 4 + kHeaderSegmentLength;
    // Polling viewers take a body under this size, or of exactly
    // kNoPictureSize bytes, for "no picture": camsim's pictures never are.
    static constexpr size_t kMinPictureSize = 5000;
    static constexpr size_t kNoPictureSize = 14396;
    static constexpr int kDefaultQuality = 80;

    EncoderJpeg();
    ~EncoderJpeg();
    EncoderJpeg(const EncoderJpeg&) = delete;
    EncoderJpeg& operator=(const EncoderJpeg&) = delete;

    // Encodes the picture (4:2:0). With `header` the device header is put
    // right after SOI; without it the image is as libjpeg-turbo made it.
    // Images are padded with a comment segment up to kMinPictureSize and
    // away from kNoPictureSize. False when libjpeg-turbo fails.
    bool Encode(const Picture& picture, const DeviceHeader* header, std::string* out);

    // The 66 bytes SOI + APP12 of a device header.
    static std::string HeaderBytes(const DeviceHeader& header);

private:
    void* mpHandle; // tjhandle
    int mQuality = kDefaultQuality;
};

} // namespace camsim
