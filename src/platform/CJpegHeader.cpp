#include "platform/CJpegHeader.h"

#include "platform/CStrUtil.h"

#include <cstring>

namespace media_util {

namespace {

uint32_t ReadLe16(const BYTE* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}

uint32_t ReadLe32(const BYTE* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// The stamped time, or false when it is no calendar time (SYSTEMTIME starts
// at 1601).
bool ReadTime(const BYTE* image, SYSTEMTIME& time) {
    return CStrUtil::MakeTime(static_cast<int>(ReadLe16(image + CJpegHeader::kOffsetYear)), image[16],
                              image[17], image[18], image[19], image[20],
                              static_cast<int>(ReadLe16(image + CJpegHeader::kOffsetMilliseconds)), time);
}

} // namespace

CJpegHeader::CJpegHeader(const BYTE* data, size_t length, size_t offset) {
    GetLocalTime(&mTime);
    if (data == nullptr || offset > length)
        return;
    const BYTE* image = data + offset;
    const size_t available = length - offset;
    if (available < kOffsetChannelMask + 1)
        return;
    if (image[0] != 0xFF || image[1] != 0xD8 || image[2] != 0xFF || image[3] != 0xEC)
        return;
    const size_t segmentLength = (size_t(image[4]) << 8) | image[5];
    if (segmentLength < kMinSegmentLength || 4 + segmentLength > available)
        return;
    if (std::memcmp(image + kOffsetMagic, "IPCH", 4) != 0)
        return;

    mHasHeader = true;
    mMachineCode = static_cast<int>(ReadLe32(image + kOffsetMachineCode));
    ReadTime(image, mTime); // keeps the local time when the stamp is no calendar time
    mChannel = (image[kOffsetChannel] & 0x0F) + 1;
    mAlarm = image[kOffsetAlarm];
    mSequence = ReadLe32(image + kOffsetSequence);
    mWidth = static_cast<int>(ReadLe16(image + kOffsetWidth));
    mHeight = static_cast<int>(ReadLe16(image + kOffsetHeight));
    mChannelMask = image[kOffsetChannelMask];
}

void CJpegHeader::GetTime(SYSTEMTIME* time) const {
    if (time != nullptr)
        *time = mTime;
}

} // namespace media_util
