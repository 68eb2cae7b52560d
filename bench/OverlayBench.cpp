// What keeping an overlay fresh costs per pass of the text worker, which runs
// ten times a second per channel that shows an overlay control: the control's
// clear of the whole bitmap, the outlined caption (five DrawTextW calls and a
// font made and deleted), and the mixer's copy of the bitmap during
// SetAlphaBitmap. Reported per pass, for the picture sizes of a VGA camera
// and a 1080p one.
#include <benchmark/benchmark.h>

#include <vector>

#include "os/gdi/Gdi.h"
#include "render/COverlayBitmap.h"
#include "render/COverlayTextWorker.h"

namespace {

// A mixer that copies the bitmap, as the video renderers do.
class CopyingMixer : public IVMRMixerBitmap9 {
public:
    HRESULT SetAlphaBitmap(const VMR9AlphaBitmap* b) override {
        const int w = b->rSrc.right - b->rSrc.left, h = b->rSrc.bottom - b->rSrc.top;
        mPixels.resize(static_cast<size_t>(w) * h * 4);
        return os::CopyDcPixels(b->hdc, b->rSrc, mPixels.data(), w * 4) ? 0 : -1;
    }

private:
    std::vector<uint8_t> mPixels;
};

void BM_Clear(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    CopyingMixer mixer;
    COverlayBitmap overlay;
    overlay.CreateFor9(nullptr, &mixer, w, h);
    for (auto _ : state)
        overlay.Clear();
}

void BM_Caption(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    CopyingMixer mixer;
    COverlayBitmap overlay;
    overlay.CreateFor9(nullptr, &mixer, w, h);
    const std::wstring text = L"Entrance 2016-05-04 12:34:56";
    for (auto _ : state)
        COverlayTextWorker::DrawCaption(overlay.GetMemoryDC(), text, 1, 2, RECT{0, 0, w, h});
}

void BM_Apply(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    CopyingMixer mixer;
    COverlayBitmap overlay;
    overlay.CreateFor9(nullptr, &mixer, w, h);
    for (auto _ : state)
        overlay.Apply();
    state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}

// One whole pass as the worker makes it.
void BM_Pass(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    CopyingMixer mixer;
    COverlayBitmap overlay;
    overlay.CreateFor9(nullptr, &mixer, w, h);
    const std::wstring text = L"Entrance 2016-05-04 12:34:56";
    for (auto _ : state) {
        overlay.Clear();
        COverlayTextWorker::DrawCaption(overlay.GetMemoryDC(), text, 1, 2, RECT{0, 0, w, h});
        overlay.Apply();
    }
}

#define SIZES Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Clear)->SIZES;
BENCHMARK(BM_Caption)->SIZES;
BENCHMARK(BM_Apply)->SIZES;
BENCHMARK(BM_Pass)->SIZES;

} // namespace

BENCHMARK_MAIN();
