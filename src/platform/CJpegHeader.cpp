#include "platform/CJpegHeader.h"

#include <cstring>

namespace media_util {

namespace {

uint32_t ReadLe16(const BYTE* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}

uint32_t ReadLe32(const BYTE* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// 0 = Sunday (Sakamoto's method).
int DayOfWeek(int year, int month, int day) {
    static const int kOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3)
        year -= 1;
    return (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
}

// The stamped time, or false when it is no calendar time (SYSTEMTIME starts
// at 1601).
bool ReadTime(const BYTE* image, SYSTEMTIME& time) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int year = static_cast<int>(ReadLe16(image + CJpegHeader::kOffsetYear));
    const int month = image[16];
    const int day = image[17];
    const int hour = image[18];
    const int minute = image[19];
    const int second = image[20];
    const int ms = static_cast<int>(ReadLe16(image + CJpegHeader::kOffsetMilliseconds));
    if (year < 1601 || month < 1 || month > 12 || day < 1)
        return false;
    const int days = (month == 2 && IsLeapYear(year)) ? 29 : kDays[month - 1];
    if (day > days || hour > 23 || minute > 59 || second > 59 || ms > 999)
        return false;
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDayOfWeek = static_cast<WORD>(DayOfWeek(year, month, day));
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    time.wMilliseconds = static_cast<WORD>(ms);
    return true;
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
