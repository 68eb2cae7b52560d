// Checks the decoding targets' block cache (AvAllocCache.cpp) as libavcodec
// meets it: large blocks come back zeroed and are used again only after
// eight newer ones were released; small ones and foreign ones pass through
// to libavutil; a block touched after its release is reported.
//
//   av_alloc_cache_check            the checks; exit 0 when all hold
//   av_alloc_cache_check touch      writes into a released block (must die)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
void* av_mallocz(size_t size);
void* av_malloc(size_t size);
void av_free(void* block);
void av_freep(void* where);
}

namespace {

int gFailures = 0;

void Expect(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++gFailures;
    }
}

bool AllZero(const unsigned char* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0)
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    constexpr size_t kPps = 173904;
    if (argc > 1 && std::strcmp(argv[1], "touch") == 0) {
        auto* block = static_cast<unsigned char*>(av_mallocz(kPps));
        av_free(block);
        block[kPps / 2] = 1; // AddressSanitizer must stop here
        std::puts("released block written without a report");
        return 0;
    }

    // Nine released blocks: the first is handed out again, the others not yet.
    std::vector<unsigned char*> blocks;
    for (int i = 0; i < 9; ++i) {
        blocks.push_back(static_cast<unsigned char*>(av_mallocz(kPps)));
        Expect(blocks.back() != nullptr && AllZero(blocks.back(), kPps), "a fresh large block is zeroed");
        std::memset(blocks.back(), 0xA5, kPps);
    }
    const std::vector<unsigned char*> released = blocks;
    for (unsigned char*& block : blocks)
        av_freep(&block);
    Expect(blocks[0] == nullptr, "av_freep clears the pointer");
    auto* again = static_cast<unsigned char*>(av_mallocz(kPps));
    auto* fresh = static_cast<unsigned char*>(av_mallocz(kPps));
    Expect(again == released[0], "the block released longest ago is handed out again");
    for (size_t i = 1; i < released.size(); ++i)
        Expect(fresh != released[i], "the eight released since stay in quarantine");
    Expect(AllZero(again, kPps), "a block handed out again is zeroed");
    Expect(AllZero(fresh, kPps), "the next one is zeroed too");

    // A size with fewer than nine released blocks is not used again.
    auto* other = static_cast<unsigned char*>(av_mallocz(kPps + 64));
    av_free(other);
    auto* otherAgain = static_cast<unsigned char*>(av_mallocz(kPps + 64));
    Expect(otherAgain != nullptr && AllZero(otherAgain, kPps + 64), "a quarantined size gets a fresh block");
    av_free(otherAgain);

    // Small blocks and libavutil's own pass through both ways.
    auto* small = static_cast<unsigned char*>(av_mallocz(4096));
    Expect(small != nullptr && AllZero(small, 4096), "a small block is zeroed");
    av_free(small);
    void* foreign = av_malloc(kPps);
    Expect(foreign != nullptr, "libavutil's av_malloc still answers");
    av_free(foreign);
    av_free(nullptr);
    av_free(again);
    av_free(fresh);

    if (gFailures == 0)
        std::puts("av_alloc_cache_check: all checks hold");
    return gFailures == 0 ? 0 : 1;
}
