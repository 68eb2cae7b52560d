// Reads the QBox boxes in which the cameras' H.264 travels and the viewer
// hands it to the recorder: size (4 bytes, big-endian, the whole box), "qbox",
// version and 3 flag bytes, stream type (2), stream id (2), sample flags (4:
// 0x01 configuration, 0x02 time stamp valid, 0x04 sync point), time stamp (4),
// then the Annex-B payload. A frame may hold several boxes (a key frame with
// its configuration is a configuration box followed by the picture's box).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ipcam {

class CQBoxReader {
public:
    static constexpr size_t kHeaderSize = 24;
    static constexpr uint32_t kFlagConfiguration = 0x01;
    static constexpr uint32_t kFlagSyncPoint = 0x04;

    // Whether data begins with a box header.
    static bool IsQBox(const uint8_t* data, size_t length);
    // Appends every box's payload to out and ORs their sample flags into
    // *flags. False (out unchanged) when a box's size runs past the data or
    // is smaller than its header, or when bytes follow the last box that do
    // not form one.
    static bool Unwrap(const uint8_t* data, size_t length, std::vector<uint8_t>* out, uint32_t* flags);
};

} // namespace ipcam
