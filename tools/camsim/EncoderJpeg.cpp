#include "EncoderJpeg.h"

#include "Picture.h"

#include <turbojpeg.h>

namespace camsim {

namespace {

void Put16(std::string& s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A JPEG comment segment (FF FE) of `total` bytes, marker included.
std::string Comment(size_t total) {
    std::string s(total, 'c');
    s[0] = static_cast<char>(0xFF);
    s[1] = static_cast<char>(0xFE);
    s[2] = static_cast<char>((total - 2) >> 8);
    s[3] = static_cast<char>((total - 2) & 0xFF);
    return s;
}

} // namespace

EncoderJpeg::EncoderJpeg() : mpHandle(tjInitCompress()) {}

EncoderJpeg::~EncoderJpeg() {
    if (mpHandle)
        tjDestroy(static_cast<tjhandle>(mpHandle));
}

std::string EncoderJpeg::HeaderBytes(const DeviceHeader& h) {
    std::string s(kHeaderEnd, '\0');
    s[0] = static_cast<char>(0xFF);
    s[1] = static_cast<char>(0xD8);
    s[2] = static_cast<char>(0xFF);
    s[3] = static_cast<char>(0xEC);
    s[4] = static_cast<char>(kHeaderSegmentLength >> 8);
    s[5] = static_cast<char>(kHeaderSegmentLength & 0xFF);
    s.replace(6, 4, "IPCH");
    Put32(s, 10, h.machineCode);
    Put16(s, 14, h.year);
    s[16] = static_cast<char>(h.month);
    s[17] = static_cast<char>(h.day);
    s[18] = static_cast<char>(h.hour);
    s[19] = static_cast<char>(h.minute);
    s[20] = static_cast<char>(h.second);
    Put16(s, 22, h.milliseconds);
    s[24] = static_cast<char>((h.channel > 0 ? h.channel - 1 : 0) & 0x0F);
    s[25] = static_cast<char>(h.alarm);
    Put32(s, 30, h.sequence);
    Put16(s, 36, h.width);
    Put16(s, 38, h.height);
    s[40] = static_cast<char>(h.channelMask);
    return s;
}

bool EncoderJpeg::Encode(const Picture& picture, const DeviceHeader* header, std::string* out) {
    if (!mpHandle)
        return false;
    const unsigned char* planes[3] = {picture.Plane(0), picture.Plane(1), picture.Plane(2)};
    int strides[3] = {picture.Stride(0), picture.Stride(1), picture.Stride(2)};
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompressFromYUVPlanes(static_cast<tjhandle>(mpHandle), planes, picture.Width(), strides,
                                picture.Height(), TJSAMP_420, &jpeg, &size, mQuality, TJFLAG_FASTDCT) != 0) {
        tjFree(jpeg);
        return false;
    }
    std::string image(reinterpret_cast<const char*>(jpeg), size);
    tjFree(jpeg);
    if (image.size() < 4)
        return false;
    if (header)
        image.replace(0, 2, HeaderBytes(*header));
    size_t total = image.size();
    size_t pad = 0;
    if (total < kMinPictureSize)
        pad = std::max<size_t>(kMinPictureSize - total, 4);
    else if (total == kNoPictureSize)
        pad = 4;
    if (pad > 0) {
        size_t at = header ? kHeaderEnd : 2;
        image.insert(at, Comment(pad));
    }
    *out = std::move(image);
    return true;
}

} // namespace camsim
