// Enque/Deque cost of the media queues, alone and with a producer thread
// (the receiver-to-dispatcher hand-over).
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "platform/CFrameControlMediaQueue.h"
#include "platform/CManualEvent.h"
#include "platform/CMediaQueue.h"

using media_util::CFrameControlMediaQueue;
using media_util::CManualEvent;
using media_util::CMediaObj;
using media_util::CMediaQueue;

namespace {

void BM_EnqueDeque(benchmark::State& state) {
    CMediaQueue queue;
    CMediaObj object;
    for (auto _ : state) {
        queue.Enque(&object);
        benchmark::DoNotOptimize(queue.Deque());
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_FrameControlEnqueDeque(benchmark::State& state) {
    CFrameControlMediaQueue queue;
    queue.mFrameControl.SetUseSleep(0);
    queue.mFrameControl.StartWork();
    CMediaObj object;
    object.mVideoFormat = media_util::kVideoJpeg;
    object.mFrameRate = 25000;
    for (auto _ : state) {
        queue.Enque(&object);
        benchmark::DoNotOptimize(queue.Deque());
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

// A full queue refusing: the dispatcher's path when a channel is stalled.
void BM_EnqueRefused(benchmark::State& state) {
    CMediaQueue queue(1);
    CMediaObj held, object;
    queue.Enque(&held);
    for (auto _ : state)
        benchmark::DoNotOptimize(queue.Enque(&object));
    queue.Deque();
    state.SetItemsProcessed(int64_t(state.iterations()));
}

// Objects through the queue from a producer thread to this one, the
// receiver-to-dispatcher hand-over: the consumer waits on the queue's notify
// event when it runs dry, the producer yields when the queue is full.
void BM_CrossThread(benchmark::State& state) {
    constexpr int kBatch = 10000;
    CMediaQueue queue(60);
    CManualEvent arrived;
    queue.SetNotifyEvent(&arrived);
    static CMediaObj object;
    for (auto _ : state) {
        std::thread producer([&] {
            for (int i = 0; i < kBatch; ++i) {
                while (!queue.Enque(&object))
                    std::this_thread::yield();
            }
        });
        for (int taken = 0; taken < kBatch;) {
            if (queue.Deque() != nullptr) {
                ++taken;
                continue;
            }
            arrived.Reset();
            if (queue.GetCount() == 0)
                arrived.Wait(1000);
        }
        producer.join();
    }
    queue.SetNotifyEvent(nullptr);
    state.SetItemsProcessed(int64_t(state.iterations()) * kBatch);
}

} // namespace

BENCHMARK(BM_EnqueDeque);
BENCHMARK(BM_FrameControlEnqueDeque);
BENCHMARK(BM_EnqueRefused);
BENCHMARK(BM_CrossThread)->UseRealTime();

BENCHMARK_MAIN();
