// Feeds hostile bytes to the codec library's Decode. The first byte picks the
// input format, the output pixel code and the row order; the second the size
// of the output buffer. H.264 input is fed the way the viewer feeds it:
// repeated calls on what was not consumed.
//
// As in the viewer, one decoder per stream lives across frames: one per input
// format, pixel code and row order is made on first use and kept for every
// later input (making one costs far more than decoding a small frame), so a
// frame also meets whatever state the frames before it left. A kept decoder
// holds its reference pictures at the largest size an input named (H.264: up
// to sixteen at the codec's pixel bound), so the 24 of them could outgrow
// libFuzzer's memory limit; past a budget of the process's memory they are
// all let go and made again as inputs need them. The output area
// lies at the very end of one buffer made once, and the part before it is
// poisoned, so that a write past either end of the size the caller gave is
// still caught without a buffer per input.
#include "FuzzSupport.h"
#include "LoudLog.h"
#include "ipcamview/vcodec.h"

#include <sanitizer/asan_interface.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

using fuzz::Check;

namespace {

constexpr int32_t kFormats[] = {VCODEC_FORMAT_JPEG, VCODEC_FORMAT_MPEG4, VCODEC_FORMAT_H264};
constexpr int32_t kCodes[] = {100, 120, 130, 32};
// Up to 1 MiB: room for the small pictures of the seed corpus and more.
constexpr size_t kMaxOutput = 255 * 4096 + 7;

std::array<int32_t, 3 * 4 * 2>& Handles() {
    static std::array<int32_t, 3 * 4 * 2> handles = [] {
        std::array<int32_t, 3 * 4 * 2> a;
        a.fill(-1);
        return a;
    }();
    return handles;
}

int32_t Decoder(size_t format, size_t code, bool bottomUp) {
    if (fuzz::OverMemoryBudget()) {
        for (int32_t& kept : Handles()) {
            if (kept >= 0)
                ReleaseCodec(kept);
            kept = -1;
        }
    }
    int32_t& handle = Handles()[(format * 4 + code) * 2 + (bottomUp ? 1 : 0)];
    if (handle < 0)
        handle = CreateCodec(kFormats[format], kCodes[code], 320, bottomUp ? 240 : -240, 30);
    return handle;
}

// With FUZZ_TRAP_LOUD and FUZZ_LOUD_HISTORY=DIR set, the last inputs are
// kept, and a loud line writes them to DIR (oldest first, the one that made
// the line last): a line that needs the state earlier inputs left in a kept
// decoder comes back when they are run in one process, in that order.
constexpr size_t kHistory = 256;
std::deque<std::vector<uint8_t>>* gHistory = nullptr;

void WriteHistory() {
    const char* dir = std::getenv("FUZZ_LOUD_HISTORY");
    for (size_t i = 0; i < gHistory->size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%05zu", i);
        if (FILE* file = std::fopen((std::string(dir) + name).c_str(), "wb")) {
            std::fwrite((*gHistory)[i].data(), 1, (*gHistory)[i].size(), file);
            std::fclose(file);
        }
    }
    std::fprintf(stderr, "the last %zu inputs are in %s\n", gHistory->size(), dir);
}

} // namespace

// Hostile sizes are the same code at a smaller bound, and much faster:
// frames of 4096 x 4096 are allocated zeroed, and inputs that alternate
// sizes made the target spend two thirds of its time clearing them. A
// bound given in the environment stands.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("VCODEC_MAX_PIXELS", "1048576", 0);
    if (std::getenv("FUZZ_TRAP_LOUD") != nullptr && std::getenv("FUZZ_LOUD_HISTORY") != nullptr) {
        gHistory = new std::deque<std::vector<uint8_t>>;
        fuzz::gBeforeLoudTrap = WriteHistory;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (gHistory != nullptr) {
        if (gHistory->size() == kHistory)
            gHistory->pop_front();
        gHistory->emplace_back(data, data + size);
    }
    if (size < 2)
        return 0;
    static std::vector<uint8_t> buffer(kMaxOutput);
    const size_t format = (data[0] & 3) % 3;
    const size_t code = (data[0] >> 2) & 3;
    const bool bottomUp = data[0] & 0x10;
    const size_t outSize = size_t(data[1]) * 4096 + (data[0] >> 5);
    data += 2;
    size -= 2;

    const int32_t handle = Decoder(format, code, bottomUp);
    Check(handle >= 0);
    uint8_t* out = buffer.data() + (kMaxOutput - outSize);
    ASAN_POISON_MEMORY_REGION(buffer.data(), kMaxOutput - outSize);
    size_t pos = 0;
    // Each successful call consumes at least one byte, so this ends.
    for (int calls = 0; calls < 64 && pos <= size; ++calls) {
        int32_t length = int32_t(size - pos);
        int32_t written = int32_t(outSize);
        int32_t ok = Decode(handle, data + pos, &length, out, &written);
        Check(length >= 0 && size_t(length) <= size - pos && written >= 0 && size_t(written) <= outSize);
        if (!ok)
            break;
        Check(written != 0);
        if (length == 0)
            break;
        pos += size_t(length);
    }
    ASAN_UNPOISON_MEMORY_REGION(buffer.data(), kMaxOutput - outSize);
    return 0;
}
