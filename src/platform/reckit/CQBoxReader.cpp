#include "CQBoxReader.h"

#include <cstring>

namespace ipcam {

namespace {
uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
} // namespace

bool CQBoxReader::IsQBox(const uint8_t* data, size_t length) {
    return data && length >= kHeaderSize && memcmp(data + 4, "qbox", 4) == 0;
}

bool CQBoxReader::Unwrap(const uint8_t* data, size_t length, std::vector<uint8_t>* out, uint32_t* flags) {
    size_t start = out->size();
    uint32_t all = 0;
    size_t pos = 0;
    while (pos < length) {
        size_t left = length - pos;
        uint32_t size = IsQBox(data + pos, left) ? BigEndian32(data + pos) : 0;
        if (size < kHeaderSize || size > left) {
            out->resize(start);
            return false;
        }
        all |= BigEndian32(data + pos + 16);
        out->insert(out->end(), data + pos + kHeaderSize, data + pos + size);
        pos += size;
    }
    *flags |= all;
    return true;
}

} // namespace ipcam
