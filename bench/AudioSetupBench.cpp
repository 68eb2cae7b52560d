// What a viewer's construction spends on the audio capture set-up
// (CAudioCapture: construction, Prepare, destruction), which every Start
// pays on the host's thread:
//  - on this machine as it is: ALSA's own configuration, and no sound card
//    (the benchmarks refuse to run where a capture device is found);
//  - with a configuration like the tests' (a null and a file PCM): the whole
//    set-up, 20 probe formats included.
// Each case in steady state (Google Benchmark, ALSA's configuration already
// read) and, with --cold=N, as the first set-up of N fresh processes (medians
// and maxima), which is what the first Start of a host pays.
//
// Usage: AudioSetupBench [--cold=N] [benchmark options]
#include "../tests/os/dsound/AlsaTestConfig.h"

#include "audio/CAudioCapture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

using alsatest::CAlsaTestConfig;
using alsatest::PcmKind;

enum class Setting { kMachine, kTestConfig };

std::unique_ptr<CAlsaTestConfig> Configure(Setting setting) {
    if (setting == Setting::kMachine) {
        ::unsetenv("ALSA_CONFIG_PATH");
        return nullptr;
    }
    return std::make_unique<CAlsaTestConfig>(
        std::vector<alsatest::SPcm>{{"default"}, {"mic", PcmKind::kFile}});
}

// One set-up as a viewer's construction makes it; its result.
HRESULT SetUpOnce() {
    CAudioCapture capture;
    return capture.Prepare();
}

// The machine case only means something without a capture device.
bool ExpectedResult(Setting setting, HRESULT hr) {
    return setting == Setting::kMachine ? hr == DSERR_NODRIVER : hr == S_OK;
}

void BM_AudioSetup(benchmark::State& state, Setting setting) {
    const auto config = Configure(setting);
    HRESULT hr = SetUpOnce(); // warm-up: ALSA reads its configuration
    if (!ExpectedResult(setting, hr)) {
        state.SkipWithError(setting == Setting::kMachine ? "this machine has a capture device"
                                                         : "the test configuration did not prepare");
        return;
    }
    for (auto _ : state) {
        CAudioCapture::ForgetProcessDeviceForTest();
        hr = SetUpOnce();
        benchmark::DoNotOptimize(hr);
    }
}
BENCHMARK_CAPTURE(BM_AudioSetup, no_sound_card, Setting::kMachine)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AudioSetup, test_config, Setting::kTestConfig)->Unit(benchmark::kMillisecond);

double CpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double Percentile(std::vector<double> values, size_t percent) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * percent / 100)];
}

// The first set-up of `runs` fresh processes: each child measures one (wall
// clock, and the CPU time of the whole process: the set-up's open threads
// included) and reports both through a pipe.
void Cold(Setting setting, const char* name, int runs) {
    std::vector<double> ms, cpu;
    int refused = 0;
    for (int i = 0; i < runs; ++i) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(fds[0]);
            const auto config = Configure(setting);
            const double cpuStart = CpuMs();
            const auto start = std::chrono::steady_clock::now();
            const HRESULT hr = SetUpOnce();
            double report[2] = {
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
                CpuMs() - cpuStart};
            if (!ExpectedResult(setting, hr))
                report[0] = -1.0;
            const ssize_t written = ::write(fds[1], report, sizeof report);
            ::_exit(written == sizeof report ? 0 : 1);
        }
        ::close(fds[1]);
        double took[2] = {-1.0, -1.0};
        if (::read(fds[0], took, sizeof took) == sizeof took && took[0] >= 0) {
            ms.push_back(took[0]);
            cpu.push_back(took[1]);
        } else {
            ++refused;
        }
        ::close(fds[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    if (ms.empty()) {
        std::printf("cold %-14s no valid run (%d unexpected results)\n", name, refused);
        return;
    }
    std::printf("cold %-14s runs=%zu wall: median=%.3f p90=%.3f max=%.3f ms; cpu: median=%.3f p90=%.3f ms\n",
                name, ms.size(), Percentile(ms, 50), Percentile(ms, 90), Percentile(ms, 100),
                Percentile(cpu, 50), Percentile(cpu, 90));
}

} // namespace

int main(int argc, char** argv) {
    int cold = 0;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--cold=", 7) == 0)
            cold = std::atoi(argv[i] + 7);
        else
            rest.push_back(argv[i]);
    }
    if (cold > 0) {
        Cold(Setting::kMachine, "no_sound_card", cold);
        Cold(Setting::kTestConfig, "test_config", cold);
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
