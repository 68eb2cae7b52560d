// Throughput of CHttpLink::Read on a large body from camsim over loopback,
// next to the curl tool fetching the same URL in the same run.
//
//   HttpLinkBench [--camsim=PATH] [--bytes=N] [google benchmark flags]
//
// PATH defaults to tools/camsim/camsim under the current directory (the build
// directory); N to 200 MB. All rows are timed by the wall clock. Compare the
// bytes_per_second of the rows: ratios measured side by side hold on these
// machines, absolute figures drift.
#include "net/CHttpLink.h"
#include "net/CUrl.h"

#include "../tests/fakes/CamsimProcess.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

std::string gCamsimPath = "tools/camsim/camsim";
uint64_t gBytes = 200ull * 1000 * 1000;
CamsimProcess* gCamsim = nullptr;

std::string BodyUrl() {
    return gCamsim->Url("/bytes?n=" + std::to_string(gBytes));
}

void ReadThroughLink(benchmark::State& state, int kind) {
    const DWORD pieceSize = static_cast<DWORD>(state.range(0));
    std::unique_ptr<BYTE[]> piece(new BYTE[pieceSize]);
    media_util::CManualEvent cancel;
    CHttpLink* rawLink = nullptr;
    IHttpClient* rawClient = nullptr;
    if (!CreateHttpClient(kind, "", "", &cancel, &rawLink, &rawClient)) {
        state.SkipWithError("this transport is not built");
        return;
    }
    std::unique_ptr<CHttpLink> link(rawLink);
    std::unique_ptr<IHttpClient> client(rawClient);
    CUrl url;
    url.Crack(BodyUrl());
    uint64_t total = 0;
    for (auto _ : state) {
        if (!link->Open(url)) {
            state.SkipWithError("open failed");
            return;
        }
        uint64_t got = 0;
        for (;;) {
            DWORD length = pieceSize;
            if (!link->Read(piece.get(), &length, true))
                break;
            got += length;
        }
        link->Close();
        if (got != gBytes) {
            state.SkipWithError("short body");
            return;
        }
        total += got;
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
}

void BM_SocketClientRead(benchmark::State& state) {
    ReadThroughLink(state, kHttpClientSocket);
}
void BM_WinINetClientRead(benchmark::State& state) {
    ReadThroughLink(state, kHttpClientWinINet);
}

void BM_CurlTool(benchmark::State& state) {
    const std::string command = "curl -s -o /dev/null '" + BodyUrl() + "'";
    uint64_t total = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("curl failed");
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        total += gBytes;
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
}

BENCHMARK(BM_CurlTool)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SocketClientRead)
    ->Arg(8192)
    ->Arg(65536)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_WinINetClientRead)
    ->Arg(8192)
    ->Arg(65536)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_CurlTool)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--camsim=", 0) == 0)
            gCamsimPath = arg.substr(9);
        else if (arg.rfind("--bytes=", 0) == 0)
            gBytes = std::stoull(arg.substr(8));
        else
            rest.push_back(argv[i]);
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    CamsimProcess camsim({}, gCamsimPath.c_str());
    if (!camsim.Ok()) {
        std::fprintf(stderr, "camsim did not start from %s\n", gCamsimPath.c_str());
        return 1;
    }
    gCamsim = &camsim;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
