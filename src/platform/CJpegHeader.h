// The device header inside the JPEG images of this device family.
//
// Devices put an APP12 segment right after the image's SOI marker, so that
// every field sits at a fixed offset from the start of the image (readers
// elsewhere, such as the multi-channel recorders' size probe, rely on the
// offsets 36 and 38). Numbers are little-endian except the segment length,
// which JPEG requires big-endian:
//
//   0  FF D8 (SOI)              22 milliseconds (2)
//   2  FF EC (APP12)            24 channel - 1 in the low 4 bits
//   4  segment length (2, BE)   25 alarm bits
//   6  "IPCH"                   28 checksum (2; the tagger zeroes it)
//  10  machine code (4)         30 sequence number (4)
//  14  year (2)                 36 width (2)
//  16  month, 17 day, 18 hour,  38 height (2)
//      19 minute, 20 second     40 channel mask (channels 1 to 8)
//
// The segment the devices write is 62 bytes long (the header ends at offset
// 65); a segment that still covers the channel mask at offset 40 is read.
//
// An image without that segment (no SOI + APP12 + "IPCH", a segment that
// does not cover offset 40, or one that runs past the given length) has no
// device header: machine code 0, sizes 0, sequence 0, no alarm, channel 0,
// mask 0, and the local time of construction. A header whose date and time
// are not a valid calendar time (a device without a set clock writes zeros)
// also reports the local time of construction; its other fields stand.
//
// Nothing at or past data + offset + length is ever read.
#pragma once

#include "platform/IVideoHeader.h"

#include <cstddef>

namespace media_util {

class CJpegHeader : public IVideoHeader {
public:
    // The APP12 segment length the devices write, and the smallest one that
    // still holds every field read here (up to the channel mask at 40).
    static constexpr size_t kSegmentLength = 62;
    static constexpr size_t kMinSegmentLength = 37;
    // Bytes from the image start to the end of the device header.
    static constexpr size_t kHeaderSize = 4 + kSegmentLength;

    // Field offsets from the start of the image.
    static constexpr size_t kOffsetMagic = 6;
    static constexpr size_t kOffsetMachineCode = 10;
    static constexpr size_t kOffsetYear = 14;
    static constexpr size_t kOffsetMilliseconds = 22;
    static constexpr size_t kOffsetChannel = 24;
    static constexpr size_t kOffsetAlarm = 25;
    static constexpr size_t kOffsetChecksum = 28;
    static constexpr size_t kOffsetSequence = 30;
    static constexpr size_t kOffsetWidth = 36;
    static constexpr size_t kOffsetHeight = 38;
    static constexpr size_t kOffsetChannelMask = 40;

    // Reads the header of the image that starts offset bytes into data, of
    // which length bytes (counted from data) may be read. Callers pass the
    // image itself with offset 0.
    CJpegHeader(const BYTE* data, size_t length, size_t offset);

    bool HasHeader() const override { return mHasHeader; }
    void GetTime(SYSTEMTIME* time) const override;
    int GetMachineCode() const override { return mMachineCode; }
    int GetWidth() const override { return mWidth; }
    int GetHeight() const override { return mHeight; }
    uint32_t GetSequence() const override { return mSequence; }
    int GetAlarm() const override { return mAlarm; }
    int GetChannel() const override { return mChannel; }
    int GetChannelMask() const override { return mChannelMask; }

private:
    bool mHasHeader = false;
    SYSTEMTIME mTime{};
    int mMachineCode = 0;
    int mWidth = 0;
    int mHeight = 0;
    uint32_t mSequence = 0;
    int mAlarm = 0;
    int mChannel = 0;
    int mChannelMask = 0;
};

} // namespace media_util
