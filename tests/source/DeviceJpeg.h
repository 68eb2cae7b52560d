// JPEG-like images that carry the device header the cameras put right after
// SOI (APP12 "IPCH", fields at fixed little-endian offsets), written here
// from the header's layout byte by byte, independently of the reader.
#pragma once

#include <cstdint>
#include <string>

struct SDeviceJpeg {
    uint32_t machineCode = 0;
    uint16_t year = 2025, month = 6, day = 7, hour = 8, minute = 9, second = 10, millis = 11;
    int channel = 1; // 1-based; stored as channel - 1
    uint8_t alarm = 0;
    uint32_t sequence = 0;
    uint16_t width = 0, height = 0;
    uint8_t channelMask = 0;
    size_t totalBytes = 200; // header, then filler up to this size, ending FF D9
    bool withHeader = true;

    std::string Build() const {
        std::string image(totalBytes < 68 ? 68 : totalBytes, '\x5a');
        auto put = [&image](size_t at, uint32_t value, int bytes) {
            for (int i = 0; i < bytes; ++i)
                image[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
        };
        image[0] = '\xFF';
        image[1] = '\xD8';
        if (withHeader) {
            image[2] = '\xFF';
            image[3] = '\xEC';
            image[4] = 0;
            image[5] = 62;
            image.replace(6, 4, "IPCH");
            put(10, machineCode, 4);
            put(14, year, 2);
            put(16, month, 1);
            put(17, day, 1);
            put(18, hour, 1);
            put(19, minute, 1);
            put(20, second, 1);
            put(21, 0, 1);
            put(22, millis, 2);
            put(24, static_cast<uint32_t>(channel - 1) & 0x0F, 1);
            put(25, alarm, 1);
            put(26, 0, 2);
            put(28, 0xBEEF, 2);
            put(30, sequence, 4);
            put(34, 0, 2);
            put(36, width, 2);
            put(38, height, 2);
            put(40, channelMask, 1);
            for (size_t i = 41; i < 66; ++i)
                image[i] = 0;
        }
        image[image.size() - 2] = '\xFF';
        image[image.size() - 1] = '\xD9';
        return image;
    }
};
