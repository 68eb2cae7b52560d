// A shared source's dispatcher at its maximum: objects of a 16-channel
// recorder stream (each for one channel, a frame of a typical size) fanned
// out to one queue per channel, and to 4 queues of one channel (four viewers
// of one camera). Items per second is the dispatcher's ceiling; a recorder at
// 25 fps on 16 channels needs 400.
#include <benchmark/benchmark.h>

#include "pipeline/CDispatchWorker.h"
#include "platform/CMediaQueue.h"

#include <memory>
#include <vector>

using media_util::CMediaObj;
using media_util::CMediaQueue;

namespace {

// Passes of the dispatcher on this thread; the queues are emptied as a
// consumer would.
void RunDispatch(benchmark::State& state, int queues, bool perChannel) {
    const int32_t bytes = static_cast<int32_t>(state.range(0));
    CMediaQueue input(64);
    CDispatchWorker worker;
    worker.SetInputQueue(&input);
    std::vector<std::unique_ptr<CMediaQueue>> outputs;
    for (int i = 0; i < queues; ++i) {
        outputs.push_back(std::make_unique<CMediaQueue>(1000));
        outputs.back()->mChannel = perChannel ? i + 1 : 1;
        worker.AddQueue(outputs.back().get());
    }
    CMediaObj model;
    model.mVideoFormat = media_util::kVideoH264QBox;
    model.mFrameKind = media_util::kFramePredicted;
    model.AllocateData(bytes);
    int channel = 0;
    for (auto _ : state) {
        CMediaObj* object = model.CloneMeWithNewContent();
        object->mChannel = perChannel ? channel % queues + 1 : 1;
        ++channel;
        input.Enque(object);
        worker.Job();
        for (auto& output : outputs)
            while (CMediaObj* delivered = output->Deque())
                delete delivered;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

void BM_Recorder16Channels(benchmark::State& state) {
    RunDispatch(state, 16, true);
}
void BM_FourViewersOfOneChannel(benchmark::State& state) {
    RunDispatch(state, 4, false);
}

} // namespace

// 20 KB: a VGA H.264 predicted frame; 200 KB: a 1080p JPEG picture.
BENCHMARK(BM_Recorder16Channels)->Arg(20 * 1024)->Arg(200 * 1024);
BENCHMARK(BM_FourViewersOfOneChannel)->Arg(20 * 1024)->Arg(200 * 1024);
BENCHMARK_MAIN();
