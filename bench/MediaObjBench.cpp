// Cost of fanning one frame out to a channel: CloneMeWithNewContent (fields,
// a recycled buffer and the copy) next to a bare memcpy of the same bytes
// between two buffers that are already there. The ratio is what matters;
// report bytes per second.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/CMediaObj.h"

using media_util::CMediaObj;

namespace {

void FillFrame(CMediaObj* frame, int32_t size) {
    uint8_t* data = frame->AllocateData(size);
    for (int32_t i = 0; i < size; ++i)
        data[i] = uint8_t(i * 31);
    frame->mVideoFormat = media_util::kVideoJpeg;
    frame->mWidth = 1920;
    frame->mHeight = 1080;
    frame->mTagList = {1};
}

void BM_CloneMeWithNewContent(benchmark::State& state) {
    CMediaObj frame;
    FillFrame(&frame, int32_t(state.range(0)));
    for (auto _ : state) {
        CMediaObj* clone = frame.CloneMeWithNewContent();
        benchmark::DoNotOptimize(clone->mpData);
        delete clone;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

// The clone as the dispatcher sees it with two channels: two clones alive
// at once, so the pool hands out two different buffers.
void BM_CloneTwoConsumers(benchmark::State& state) {
    CMediaObj frame;
    FillFrame(&frame, int32_t(state.range(0)));
    for (auto _ : state) {
        CMediaObj* a = frame.CloneMeWithNewContent();
        CMediaObj* b = frame.CloneMeWithNewContent();
        benchmark::DoNotOptimize(a->mpData);
        benchmark::DoNotOptimize(b->mpData);
        delete a;
        delete b;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0) * 2);
}

// The baseline: memcpy between two page-aligned buffers (no 4 KiB aliasing).
void BM_Memcpy(benchmark::State& state) {
    size_t size = size_t(state.range(0));
    void* source = nullptr;
    void* target = nullptr;
    if (posix_memalign(&source, 4096, size) != 0 || posix_memalign(&target, 4096, size) != 0) {
        state.SkipWithError("out of memory");
        return;
    }
    memset(source, 0x5A, size);
    memset(target, 0, size);
    for (auto _ : state) {
        memcpy(target, source, size);
        benchmark::DoNotOptimize(target);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
    free(source);
    free(target);
}

// The pitfall the buffer placement avoids: the same memcpy with the target
// 16 bytes past a 4 KiB multiple from the source.
void BM_MemcpyAliased(benchmark::State& state) {
    size_t size = size_t(state.range(0));
    void* block = nullptr;
    size_t distance = ((size + 4095) / 4096) * 4096 + 16;
    if (posix_memalign(&block, 4096, distance + size) != 0) {
        state.SkipWithError("out of memory");
        return;
    }
    uint8_t* source = static_cast<uint8_t*>(block);
    uint8_t* target = source + distance;
    memset(source, 0x5A, size);
    memset(target, 0, size);
    for (auto _ : state) {
        memcpy(target, source, size);
        benchmark::DoNotOptimize(target);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
    free(block);
}

// What a naive copy into fresh malloc'd buffers costs, for comparison.
void BM_MallocMemcpyFree(benchmark::State& state) {
    size_t size = size_t(state.range(0));
    std::vector<uint8_t> source(size, 0x5A);
    for (auto _ : state) {
        void* target = malloc(size);
        memcpy(target, source.data(), size);
        benchmark::DoNotOptimize(target);
        free(target);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

} // namespace

BENCHMARK(BM_Memcpy)->Arg(100 * 1000)->Arg(1000 * 1000);
BENCHMARK(BM_CloneMeWithNewContent)->Arg(100 * 1000)->Arg(1000 * 1000);
BENCHMARK(BM_CloneTwoConsumers)->Arg(100 * 1000)->Arg(1000 * 1000);
BENCHMARK(BM_MemcpyAliased)->Arg(100 * 1000)->Arg(1000 * 1000);
BENCHMARK(BM_MallocMemcpyFree)->Arg(100 * 1000)->Arg(1000 * 1000);

BENCHMARK_MAIN();
