// JPEG pictures as the multi-channel recorders send them: a real JPEG image
// (made by the ffmpeg program) with the device's APP12 header spliced in
// right after SOI. Only the fields the tests look at are filled: the magic,
// the machine code and the picture size at bytes 36 and 38.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace device_test {

// One small grey JPEG image from ffmpeg; empty when ffmpeg failed.
inline std::string MakeJpeg() {
    std::string jpeg;
    FILE* pipe = popen("ffmpeg -nostdin -v error -f lavfi -i color=c=gray:s=64x48 -frames:v 1 -f mjpeg - "
                       "2>/dev/null",
                       "r");
    if (pipe == nullptr)
        return jpeg;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        jpeg.append(buffer, n);
    pclose(pipe);
    return jpeg;
}

// The image with a device header saying width x height; empty when the
// image is not a JPEG.
inline std::string WithDeviceHeader(const std::string& jpeg, uint32_t machineCode, uint16_t width,
                                    uint16_t height) {
    if (jpeg.size() < 4 || static_cast<uint8_t>(jpeg[0]) != 0xFF || static_cast<uint8_t>(jpeg[1]) != 0xD8)
        return std::string();
    // SOI, APP12 marker, segment length 62 (big-endian, counting itself).
    std::string header(66, '\0');
    header[0] = '\xFF';
    header[1] = '\xD8';
    header[2] = '\xFF';
    header[3] = '\xEC';
    header[4] = 0;
    header[5] = 62;
    header.replace(6, 4, "IPCH");
    for (int i = 0; i < 4; ++i)
        header[10 + i] = static_cast<char>((machineCode >> (8 * i)) & 0xFF);
    header[36] = static_cast<char>(width & 0xFF);
    header[37] = static_cast<char>(width >> 8);
    header[38] = static_cast<char>(height & 0xFF);
    header[39] = static_cast<char>(height >> 8);
    return header + jpeg.substr(2);
}

} // namespace device_test
