// Look-ups in CSlowHash at the sizes it meets: a response head or a reply
// dictionary (about 10 entries), a large parameter dictionary (100), and a
// size it should never see (1000), to show where the linear walk stops being
// the right choice.
//
//   build-b/bench/SlowHashBench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "platform/CSlowHash.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

using media_util::CSlowHash;

namespace {

// Keys shaped like the device's parameter names ("getjpegxsize=3").
std::string KeyName(int i) {
    return "getparam" + std::to_string(i) + "xsize=" + std::to_string(i % 16);
}

CSlowHash MakeHash(int count) {
    CSlowHash hash;
    for (int i = 0; i < count; ++i)
        hash.Add(KeyName(i), "OK " + KeyName(i) + "=" + std::to_string(i));
    return hash;
}

// Hits spread over all positions, so the mean walk length is count / 2.
void BM_GetHit(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const CSlowHash hash = MakeHash(count);
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i)
        keys.push_back(KeyName((i * 7919) % count));
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hash.Get(keys[k]));
        if (++k == keys.size())
            k = 0;
    }
}

void BM_IsContainKeyMiss(benchmark::State& state) {
    const CSlowHash hash = MakeHash(static_cast<int>(state.range(0)));
    const std::string missing = "getparam_absent_xsize=1";
    for (auto _ : state)
        benchmark::DoNotOptimize(hash.IsContainKey(missing));
}

// The reply filer's fallback: a key that begins with "name=".
void BM_GetKeyStartWith(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const CSlowHash hash = MakeHash(count);
    const std::string prefix = "getparam" + std::to_string(count - 1) + "xsize=";
    for (auto _ : state)
        benchmark::DoNotOptimize(hash.GetKeyStartWith(prefix));
}

// Filling a dictionary, as each response head does.
void BM_AddFresh(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i)
        keys.push_back(KeyName(i));
    for (auto _ : state) {
        CSlowHash hash;
        for (const std::string& key : keys)
            hash.Add(key, "value");
        benchmark::DoNotOptimize(hash.GetCount());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK(BM_GetHit)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_IsContainKeyMiss)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_GetKeyStartWith)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_AddFresh)->Arg(10)->Arg(100)->Arg(1000);

} // namespace

BENCHMARK_MAIN();
