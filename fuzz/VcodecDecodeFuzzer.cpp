// Feeds hostile bytes to the codec library's Decode. The first byte picks the
// input format, the output pixel code and the row order; the second the size
// of the output buffer, which is allocated exactly so that a write past the
// size the caller gave is caught. H.264 input is fed the way the viewer feeds
// it: repeated calls on what was not consumed.
#include "FuzzSupport.h"
#include "ipcamview/vcodec.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    static const int32_t kFormats[] = {VCODEC_FORMAT_JPEG, VCODEC_FORMAT_MPEG4, VCODEC_FORMAT_H264};
    static const int32_t kCodes[] = {100, 120, 130, 32};
    int32_t format = kFormats[(data[0] & 3) % 3];
    int32_t code = kCodes[(data[0] >> 2) & 3];
    bool bottomUp = data[0] & 0x10;
    // Up to 1 MiB: room for the small pictures of the seed corpus and more.
    size_t outSize = size_t(data[1]) * 4096 + (data[0] >> 5);
    data += 2;
    size -= 2;

    int32_t handle = CreateCodec(format, code, 320, bottomUp ? 240 : -240, 30);
    Check(handle >= 0);
    std::vector<uint8_t> out(outSize ? outSize : 1);
    size_t pos = 0;
    // Each successful call consumes at least one byte, so this ends.
    for (int calls = 0; calls < 64 && pos <= size; ++calls) {
        int32_t length = int32_t(size - pos);
        int32_t written = int32_t(outSize);
        int32_t ok = Decode(handle, data + pos, &length, out.data(), &written);
        Check(length >= 0 && size_t(length) <= size - pos && written >= 0 && size_t(written) <= outSize);
        if (!ok)
            break;
        Check(written != 0);
        if (length == 0)
            break;
        pos += size_t(length);
    }
    ReleaseCodec(handle);
    return 0;
}
