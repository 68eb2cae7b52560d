// Feeds hostile bytes to the recorder's parsers of camera frames: the QBox
// unwrapping of H.264 records, the splitting of elementary frames into
// configuration and picture, and the JPEG frame-header size reader. The first
// byte picks the parser; the rest is the frame, read where it lies at the end
// of the fuzzer's exact-size buffer, so a read past it is caught. Each result
// must also keep the parser's own promises about sizes and contents.
#include "FuzzSupport.h"
#include "platform/reckit/CFrameParser.h"
#include "platform/reckit/CQBoxReader.h"

using fuzz::Check;
using ipcam::CFrameParser;
using ipcam::CQBoxReader;

namespace {

// Every NAL unit the H.264 split writes begins with a four-byte start code.
bool StartsWithStartCode(const std::vector<uint8_t>& part) {
    return part.empty() || (part.size() > 4 && memcmp(part.data(), "\0\0\0\1", 4) == 0);
}

void FuzzSplit(CFrameParser::Codec codec, const uint8_t* data, size_t size) {
    CFrameParser::Parts parts;
    parts.mConfiguration.assign(5, 0x11); // stale contents must go
    parts.mKey = true;
    bool ok = CFrameParser::Split(codec, data, size, &parts);
    size_t total = parts.mConfiguration.size() + parts.mPicture.size();
    if (!ok) {
        Check(total == 0 && !parts.mKey);
        return;
    }
    switch (codec) {
    case CFrameParser::Codec::Jpeg:
        Check(parts.mConfiguration.empty() && parts.mKey);
        Check(parts.mPicture.size() == size && memcmp(parts.mPicture.data(), data, size) == 0);
        break;
    case CFrameParser::Codec::Mpeg4:
        // Both parts are pieces of the frame without overlap; the picture
        // runs to the frame's end.
        Check(total <= size);
        Check(parts.mPicture.empty() || memcmp(parts.mPicture.data(), data + (size - parts.mPicture.size()),
                                               parts.mPicture.size()) == 0);
        break;
    case CFrameParser::Codec::H264:
        // A three-byte start code may grow to four, once per NAL unit of at
        // least one byte.
        Check(total <= size + size / 4 + 1);
        Check(StartsWithStartCode(parts.mConfiguration) && StartsWithStartCode(parts.mPicture));
        break;
    }
}

void FuzzUnwrap(const uint8_t* data, size_t size) {
    // Payloads are appended after what the caller already holds, which a
    // refused frame must leave as it was.
    const std::vector<uint8_t> held = {0xC0, 0xFF, 0xEE};
    std::vector<uint8_t> out = held;
    uint32_t flags = 0x80000000u;
    bool ok = CQBoxReader::Unwrap(data, size, &out, &flags);
    Check(out.size() >= held.size() && memcmp(out.data(), held.data(), held.size()) == 0);
    if (!ok) {
        Check(out == held && flags == 0x80000000u);
        return;
    }
    // Whole boxes only: every box gave its payload and took a header.
    size_t payload = out.size() - held.size();
    Check(payload <= size && (size - payload) % CQBoxReader::kHeaderSize == 0);
    Check((flags & 0x80000000u) != 0);
    if (size > 0)
        Check(CQBoxReader::IsQBox(data, size));
    // The recorder splits what it unwrapped: the two parsers in a row, as a
    // recording of H.264 has them.
    std::vector<uint8_t> annexB(out.begin() + long(held.size()), out.end());
    FuzzSplit(CFrameParser::Codec::H264, annexB.data(), annexB.size());
}

void FuzzJpegSize(const uint8_t* data, size_t size) {
    int width = -1, height = -1;
    if (CFrameParser::JpegSize(data, size, &width, &height))
        Check(width > 0 && width <= 0xFFFF && height > 0 && height <= 0xFFFF);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static const CFrameParser::Codec kCodecs[] = {CFrameParser::Codec::H264, CFrameParser::Codec::Mpeg4,
                                                  CFrameParser::Codec::Jpeg};
    const int selector = data[0] % 5;
    if (selector == 0)
        FuzzUnwrap(data + 1, size - 1);
    else if (selector < 4)
        FuzzSplit(kCodecs[selector - 1], data + 1, size - 1);
    else
        FuzzJpegSize(data + 1, size - 1);
    return 0;
}
