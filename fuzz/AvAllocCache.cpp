// Large zeroed blocks for libavcodec, kept and handed out again, for the
// targets that decode (linked into them alone, never into the product).
//
// libavcodec's H.264 parser and decoder allocate a 174 KB zeroed picture
// parameter set (av_mallocz) for every PPS they read, and hostile inputs
// carry dozens; each decoder made takes a 765 KB context as well.
// AddressSanitizer maps every chunk above 128 KiB afresh and unmaps it on
// free, so each of those became a new mapping whose pages all faulted while
// being cleared: two thirds of the source filter's target's time went to
// clearing them and to the kernel (perf).
//
// These definitions come before libavutil's in the dynamic linker's order,
// so libavcodec's calls reach them (libavutil's calls among its own
// functions stay inside it). Blocks of at least kLargeBytes come from a
// cache per size, first in, first out, and go back to it when libavcodec
// frees them; everything else goes to libavutil as before. A kept block is
// poisoned, so that a use after its release is still reported as
// AddressSanitizer's quarantine would, and it is handed out again only after
// kQuarantined newer ones of its size were released. A block of ours that
// libavutil frees itself leaves the cache: the free reaches the allocator
// as any other.
#include <sanitizer/allocator_interface.h>
#include <sanitizer/asan_interface.h>

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <unordered_map>
#include <vector>

#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IPCAM_FUZZ_ASAN 1
#endif
#endif

namespace {

constexpr size_t kLargeBytes = size_t(128) << 10;
// Released blocks of a size kept before the oldest of them is used again.
constexpr size_t kQuarantined = 8;
// Bytes kept at most: beyond, the blocks released longest ago are freed
// (libavcodec sizes some tables by the picture, and hostile inputs name
// many sizes).
constexpr size_t kKeptBytesMax = size_t(64) << 20;

template <typename F> F Real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

struct SBlock {
    void* data;
    size_t size;
};

std::mutex gLock;
// Leaked on purpose: libavcodec may free blocks from static destructors.
// Released blocks, the longest released first, and how many of each size.
auto& gKept = *new std::list<SBlock>;
auto& gKeptCount = *new std::unordered_map<size_t, size_t>;
size_t gKeptBytes = 0;
// Blocks handed out, with their sizes.
auto& gOut = *new std::unordered_map<void*, size_t>;

// Takes a kept block out of the cache; under gLock.
void* Unkeep(std::list<SBlock>::iterator kept) {
    void* data = kept->data;
    --gKeptCount[kept->size];
    gKeptBytes -= kept->size;
    ASAN_UNPOISON_MEMORY_REGION(data, kept->size);
    gKept.erase(kept);
    return data;
}

void* Take(size_t size) {
    void* block = nullptr;
    {
        std::lock_guard<std::mutex> hold(gLock);
        if (gKeptCount[size] > kQuarantined) {
            auto kept = gKept.begin();
            while (kept->size != size)
                ++kept;
            block = Unkeep(kept);
        }
    }
    // libavutil aligns its blocks at 64 bytes for SIMD.
    if (block == nullptr && posix_memalign(&block, 64, size) != 0)
        return nullptr;
    std::memset(block, 0, size);
    std::lock_guard<std::mutex> hold(gLock);
    gOut[block] = size;
    return block;
}

// Keeps a block this cache handed out; false for any other.
bool Keep(void* block) {
    if (block == nullptr)
        return false;
    std::vector<void*> unkept;
    {
        std::lock_guard<std::mutex> hold(gLock);
        const auto out = gOut.find(block);
        if (out == gOut.end())
            return false;
        const size_t size = out->second;
        gOut.erase(out);
#ifdef IPCAM_FUZZ_ASAN
        // Freed by libavutil itself, and the address given out again at another size.
        if (!__sanitizer_get_ownership(block) || __sanitizer_get_allocated_size(block) != size)
            return false;
#endif
        ASAN_POISON_MEMORY_REGION(block, size);
        gKept.push_back(SBlock{block, size});
        ++gKeptCount[size];
        gKeptBytes += size;
        while (gKeptBytes > kKeptBytesMax)
            unkept.push_back(Unkeep(gKept.begin()));
    }
    for (void* data : unkept)
        std::free(data);
    return true;
}

} // namespace

extern "C" void* av_mallocz(size_t size) {
    static const auto real = Real<void* (*)(size_t)>("av_mallocz");
    // Sizes libavutil refuses, it refuses still.
    if (size < kLargeBytes || size > size_t(INT_MAX))
        return real(size);
    return Take(size);
}

extern "C" void av_free(void* block) {
    static const auto real = Real<void (*)(void*)>("av_free");
    if (!Keep(block))
        real(block);
}

extern "C" void av_freep(void* where) {
    void* block = nullptr;
    std::memcpy(&block, where, sizeof block);
    std::memset(where, 0, sizeof block);
    av_free(block);
}
