#include "CFrameParser.h"

namespace ipcam {

namespace {

// Offset of the next 00 00 01 at or after from, or length.
size_t NextStartCode(const uint8_t* d, size_t length, size_t from) {
    for (size_t i = from; i + 3 <= length; ++i) {
        if (d[i + 2] > 1) {
            i += 2;
            continue;
        }
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1)
            return i;
    }
    return length;
}

void Append(std::vector<uint8_t>* out, const uint8_t* begin, const uint8_t* end) {
    out->insert(out->end(), begin, end);
}

bool SplitH264(const uint8_t* d, size_t length, CFrameParser::Parts* parts) {
    size_t at = NextStartCode(d, length, 0);
    if (at == length)
        return false;
    static const uint8_t kStartCode[4] = {0, 0, 0, 1};
    while (at < length) {
        size_t payload = at + 3;
        size_t next = NextStartCode(d, length, payload);
        // A zero before the next start code belongs to that four-byte code.
        size_t end = next;
        while (end > payload && d[end - 1] == 0)
            --end;
        if (payload < end) {
            int type = d[payload] & 0x1F;
            std::vector<uint8_t>* out = type == 7 || type == 8 ? &parts->mConfiguration
                                        : type == 9            ? nullptr
                                                               : &parts->mPicture;
            // Access unit delimiters are dropped: Matroska blocks are the units.
            if (out) {
                Append(out, kStartCode, kStartCode + 4);
                Append(out, d + payload, d + end);
            }
            if (type == 5)
                parts->mKey = true;
        }
        at = next;
    }
    // Only slices make a picture; a frame of SEI alone carries none.
    bool slices = false;
    for (size_t i = NextStartCode(parts->mPicture.data(), parts->mPicture.size(), 0);
         i < parts->mPicture.size();
         i = NextStartCode(parts->mPicture.data(), parts->mPicture.size(), i + 3)) {
        int type = i + 3 < parts->mPicture.size() ? parts->mPicture[i + 3] & 0x1F : 0;
        if (type >= 1 && type <= 5)
            slices = true;
    }
    if (!slices)
        parts->mPicture.clear();
    return true;
}

bool SplitMpeg4(const uint8_t* d, size_t length, CFrameParser::Parts* parts) {
    size_t first = NextStartCode(d, length, 0);
    if (first == length)
        return false;
    // The configuration runs up to the first group of VOPs (B3) or VOP (B6).
    size_t at = first;
    while (at < length && (at + 3 >= length || (d[at + 3] != 0xB3 && d[at + 3] != 0xB6)))
        at = NextStartCode(d, length, at + 3);
    Append(&parts->mConfiguration, d + first, d + at);
    size_t vop = at;
    while (vop < length && (vop + 3 >= length || d[vop + 3] != 0xB6))
        vop = NextStartCode(d, length, vop + 3);
    if (vop + 4 >= length)
        return true; // no picture in this frame
    Append(&parts->mPicture, d + at, d + length);
    // vop_coding_type, the first two bits after the code: 0 = intra.
    parts->mKey = (d[vop + 4] >> 6) == 0;
    return true;
}

} // namespace

bool CFrameParser::Split(Codec codec, const uint8_t* data, size_t length, Parts* parts) {
    // Emptied, not replaced: a caller that splits frame after frame into the
    // same Parts keeps their buffers, not a fresh allocation per frame.
    parts->mConfiguration.clear();
    parts->mPicture.clear();
    parts->mKey = false;
    if (!data || length == 0)
        return false;
    switch (codec) {
    case Codec::Jpeg:
        if (length < 4 || data[0] != 0xFF || data[1] != 0xD8)
            return false;
        Append(&parts->mPicture, data, data + length);
        parts->mKey = true;
        return true;
    case Codec::Mpeg4:
        return SplitMpeg4(data, length, parts);
    case Codec::H264:
        return SplitH264(data, length, parts);
    }
    return false;
}

bool CFrameParser::JpegSize(const uint8_t* d, size_t length, int* width, int* height) {
    size_t pos = 2;
    while (pos + 4 <= length) {
        if (d[pos] != 0xFF) {
            ++pos;
            continue;
        }
        uint8_t marker = d[pos + 1];
        if (marker == 0xFF || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            pos += marker == 0xFF ? 1 : 2;
            continue;
        }
        size_t segment = size_t(d[pos + 2]) << 8 | d[pos + 3];
        // Frame headers: every SOFn but DHT (C4), JPG (C8) and DAC (CC).
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (pos + 9 > length)
                return false;
            *height = d[pos + 5] << 8 | d[pos + 6];
            *width = d[pos + 7] << 8 | d[pos + 8];
            return *width > 0 && *height > 0;
        }
        if (marker == 0xDA || marker == 0xD9 || segment < 2)
            return false;
        pos += 2 + segment;
    }
    return false;
}

} // namespace ipcam
