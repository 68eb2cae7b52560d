#include "CMpeg4Vol.h"

#include "CBitReader.h"

namespace ipcam {

namespace {

// Bits of fixed_vop_time_increment: enough for resolution - 1, at least 1.
int IncrementBits(uint32_t resolution) {
    int bits = 0;
    for (uint32_t v = resolution - 1; v != 0; v >>= 1)
        ++bits;
    return bits < 1 ? 1 : bits;
}

constexpr uint8_t kVopStartCode = 0xB6;
constexpr uint8_t kFirstVolStartCode = 0x20;
constexpr uint8_t kLastVolStartCode = 0x2F;

} // namespace

SMpeg4Vol CMpeg4Vol::Read(const uint8_t* data, int32_t size, int32_t at) {
    SMpeg4Vol vol;
    CBitReader bits(data, size, at);
    bits.Skip(1); // random_accessible_vol
    const uint32_t type = bits.Bits(8);
    if (type == kSimpleStudioType || type == kCoreStudioType)
        return vol;
    uint32_t verid = 1;
    if (bits.Bits(1) != 0) { // is_object_layer_identifier
        verid = bits.Bits(4);
        bits.Skip(3); // video_object_layer_priority
    }
    if (bits.Bits(4) == kExtendedPar)
        bits.Skip(16); // par_width, par_height
    if (bits.Bits(1) != 0) { // vol_control_parameters
        bits.Skip(3);        // chroma_format, low_delay
        if (bits.Bits(1) != 0)
            bits.Skip(15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1); // vbv_parameters
    }
    const uint32_t shape = bits.Bits(2);
    if (shape == kGrayscale && verid != 1)
        bits.Skip(4); // video_object_layer_shape_extension
    bits.Skip(1);     // marker
    const uint32_t resolution = bits.Bits(16);
    if (resolution == 0)
        return vol;
    bits.Skip(1);            // marker
    if (bits.Bits(1) != 0)   // fixed_vop_rate
        bits.Skip(IncrementBits(resolution));
    if (shape == kRectangular) {
        bits.Skip(1);
        const int width = static_cast<int>(bits.Bits(13));
        bits.Skip(1);
        const int height = static_cast<int>(bits.Bits(13));
        if (width != 0 && height != 0) {
            vol.width = width;
            vol.height = height;
        }
    }
    vol.taken = true;
    return vol;
}

SMpeg4Vol CMpeg4Vol::Find(const uint8_t* data, int32_t size) {
    for (int32_t i = 0; i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        const uint8_t code = data[i + 3];
        if (code == kVopStartCode)
            break;
        // The decoder reads a frame's first VOL and ignores any other.
        if (code >= kFirstVolStartCode && code <= kLastVolStartCode) {
            SMpeg4Vol vol = Read(data, size, i + 4);
            for (int32_t j = i + 4; j + 3 < size && !vol.vop; ++j)
                vol.vop = data[j] == 0 && data[j + 1] == 0 && data[j + 2] == 1 && data[j + 3] == kVopStartCode;
            return vol;
        }
        i += 3;
    }
    return SMpeg4Vol{};
}

} // namespace ipcam
