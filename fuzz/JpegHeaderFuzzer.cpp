// Reads the device header of arbitrary images: nothing may be read past the
// given length (the input is an exact-size heap block, so ASan sees it), and
// the reported fields must follow the header's rules.
#include "FuzzSupport.h"
#include "platform/CJpegHeader.h"

using fuzz::Check;
using media_util::CJpegHeader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The fuzzer's own buffer is already exact-size; read it as is, and at
    // a small offset taken from the first byte.
    const CJpegHeader header(data, size, 0);
    if (!header.HasHeader()) {
        Check(header.GetMachineCode() == 0 && header.GetWidth() == 0 && header.GetHeight() == 0);
        Check(header.GetSequence() == 0 && header.GetAlarm() == 0 && header.GetChannel() == 0);
    } else {
        Check(size >= CJpegHeader::kOffsetChannelMask + 1);
        Check(std::memcmp(data + CJpegHeader::kOffsetMagic, "IPCH", 4) == 0);
        Check(header.GetChannel() >= 1 && header.GetChannel() <= 16);
        Check(header.GetWidth() >= 0 && header.GetWidth() <= 0xFFFF);
    }
    SYSTEMTIME t;
    header.GetTime(&t);
    Check(t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31 && t.wHour < 24);
    if (size > 0) {
        const size_t offset = data[0] % 8;
        const CJpegHeader shifted(data, size, offset);
        if (shifted.HasHeader())
            Check(size - (offset < size ? offset : size) >= CJpegHeader::kOffsetChannelMask + 1);
    }
    return 0;
}
