#include "render/COverlayBitmap.h"
#include "render/COverlayTextWorker.h"

#include "os/window/OffscreenWindow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

constexpr COLORREF kWhite = 0xFFFFFF;

// A mixer that does what the video renderers do with a bitmap: copy it
// during SetAlphaBitmap. It remembers the last description and counts calls.
class CopyingMixer : public IVMRMixerBitmap, public IVMRMixerBitmap9 {
public:
    HRESULT SetAlphaBitmap(const VMRALPHABITMAP* b) override {
        return Take(7, b->dwFlags, b->hdc, b->pDDS, b->rSrc, b->rDest, b->fAlpha, b->clrSrcKey, 0);
    }
    HRESULT SetAlphaBitmap(const VMR9AlphaBitmap* b) override {
        return Take(9, b->dwFlags, b->hdc, b->pDDS, b->rSrc, b->rDest, b->fAlpha, b->clrSrcKey,
                    b->dwFilterMode);
    }
    // Waits until at least n bitmaps arrived; false after 10 s.
    bool WaitApplies(int n) {
        std::unique_lock<std::mutex> lock(mLock);
        return mChanged.wait_for(lock, std::chrono::seconds(10), [&] { return mApplies >= n; });
    }
    int Applies() {
        std::lock_guard<std::mutex> lock(mLock);
        return mApplies;
    }
    COLORREF Pixel(int x, int y) {
        std::lock_guard<std::mutex> lock(mLock);
        const uint8_t* p = &mPixels[(static_cast<size_t>(y) * mWidth + x) * 4];
        return RGB(p[2], p[1], p[0]);
    }
    // Bounds of the pixels of one colour (or, with all, of every non-white one).
    RECT Bounds(COLORREF colour, bool all = false) {
        RECT r{mWidth, mHeight, -1, -1};
        for (int y = 0; y < mHeight; ++y)
            for (int x = 0; x < mWidth; ++x) {
                const COLORREF c = Pixel(x, y);
                if (all ? c != kWhite : c == colour) {
                    r.left = std::min<LONG>(r.left, x);
                    r.top = std::min<LONG>(r.top, y);
                    r.right = std::max<LONG>(r.right, x + 1);
                    r.bottom = std::max<LONG>(r.bottom, y + 1);
                }
            }
        return r;
    }

    int kind = 0;
    DWORD flags = 0, filterMode = 99;
    HDC hdc = nullptr;
    void* surface = reinterpret_cast<void*>(1);
    RECT source{};
    NORMALIZEDRECT dest{};
    float alpha = 0;
    COLORREF key = 0;
    HRESULT result = 0;

private:
    HRESULT Take(int k, DWORD f, HDC dc, void* dds, RECT src, NORMALIZEDRECT dst, float a, COLORREF ck,
                 DWORD fm) {
        std::lock_guard<std::mutex> lock(mLock);
        kind = k;
        flags = f;
        hdc = dc;
        surface = dds;
        source = src;
        dest = dst;
        alpha = a;
        key = ck;
        filterMode = fm;
        mWidth = src.right - src.left;
        mHeight = src.bottom - src.top;
        mPixels.assign(static_cast<size_t>(mWidth) * mHeight * 4, 0);
        os::CopyDcPixels(dc, src, mPixels.data(), mWidth * 4);
        ++mApplies;
        mChanged.notify_all();
        return result;
    }

    std::mutex mLock;
    std::condition_variable mChanged;
    int mApplies = 0;
    int mWidth = 0, mHeight = 0;
    std::vector<uint8_t> mPixels;
};

// The renderer's side: its overlay bitmap, handed to the mixer.
class OverlayRenderer : public IOverlayTarget {
public:
    explicit OverlayRenderer(COverlayBitmap* overlay) : mpOverlay(overlay) {}
    HDC GetOverlayDC() override { return mpOverlay->GetMemoryDC(); }
    void ApplyOverlay() override { mpOverlay->Apply(); }

private:
    COverlayBitmap* mpOverlay;
};

// A control that clears the overlay and counts its paints.
class ClearingPainter : public IOverlayPainter {
public:
    explicit ClearingPainter(COverlayBitmap* overlay) : mpOverlay(overlay) {}
    void Paint() override {
        mpOverlay->Clear();
        ++paints;
    }
    std::atomic<int> paints{0};

private:
    COverlayBitmap* mpOverlay;
};

TEST(COverlayBitmapTest, MadeClearedAtThePictureSizeAndDescribedToTheMixer) {
    struct Case {
        int kind, width, height;
        float alpha;
    } cases[] = {{7, 704, 480, 1.0f}, {9, 640, -480, 0.5f}, {9, 352, 240, 0.25f}};
    for (const Case& c : cases) {
        os::OffscreenWindow window(320, 240);
        CopyingMixer mixer;
        mixer.result = 0x1234; // whatever the mixer says comes back
        COverlayBitmap overlay;
        EXPECT_EQ(COverlayBitmap::kNoMixer, overlay.Apply());
        if (c.kind == 7)
            overlay.CreateFor7(&window, &mixer, c.width, c.height);
        else
            overlay.CreateFor9(&window, &mixer, c.width, c.height);
        const int h = std::abs(c.height);
        ASSERT_NE(nullptr, overlay.GetMemoryDC());
        EXPECT_EQ(c.width, os::DcSize(overlay.GetMemoryDC()).cx);
        EXPECT_EQ(h, os::DcSize(overlay.GetMemoryDC()).cy);
        overlay.SetAlpha(c.alpha);
        EXPECT_EQ(0x1234, overlay.Apply());
        EXPECT_EQ(c.kind, mixer.kind);
        EXPECT_EQ(10u, mixer.flags);
        EXPECT_EQ(overlay.GetMemoryDC(), mixer.hdc);
        EXPECT_EQ(nullptr, mixer.surface);
        EXPECT_EQ(0, mixer.source.left);
        EXPECT_EQ(c.width, mixer.source.right);
        EXPECT_EQ(h, mixer.source.bottom);
        EXPECT_EQ(0.0f, mixer.dest.left);
        EXPECT_EQ(1.0f, mixer.dest.right);
        EXPECT_EQ(1.0f, mixer.dest.bottom);
        EXPECT_EQ(c.alpha, mixer.alpha);
        EXPECT_EQ(0xFFFFFFu, mixer.key);
        if (c.kind == 9) {
            EXPECT_EQ(0u, mixer.filterMode);
        }
        // Freshly made: every pixel is the transparent white.
        EXPECT_EQ(-1, mixer.Bounds(0, true).right) << "something visible in a cleared overlay";
    }
}

TEST(COverlayBitmapTest, ClearMakesAPaintedOverlayTransparentAgain) {
    os::OffscreenWindow window(320, 240);
    CopyingMixer mixer;
    COverlayBitmap overlay;
    overlay.CreateFor9(&window, &mixer, 64, 48);
    RECT r{10, 10, 20, 20};
    FillRect(overlay.GetMemoryDC(), &r, GetStockObject(BLACK_BRUSH));
    overlay.Apply();
    EXPECT_EQ(10, mixer.Bounds(0).left);
    overlay.Clear();
    overlay.Apply();
    EXPECT_EQ(-1, mixer.Bounds(0, true).right);
    // Made again at another size: the old bitmap goes, the new one is clear.
    overlay.CreateFor7(&window, &mixer, 32, 16);
    overlay.Apply();
    EXPECT_EQ(7, mixer.kind);
    EXPECT_EQ(32, mixer.source.right);
    EXPECT_EQ(-1, mixer.Bounds(0, true).right);
}

// The caption of the device's own on-screen text, read back from what the
// mixer receives: where it lies, how big it is, and its outline.
TEST(COverlayTextWorkerTest, TheCaptionLiesWhereItsFlagsSayTenPixelsInside) {
    struct Case {
        int width, height; // the overlay and the caption rectangle
        int flags;
        int cell, charWidth; // the font the width asks for
    } cases[] = {
        {640, 480, 0x13, 45, 19}, {640, 480, 0x25, 45, 19}, {200, 150, 0x13, 22, 9},
        {200, 150, 0x25, 22, 9},  {480, 360, 0x13, 33, 14}, {480, 360, 0x25, 33, 14},
    };
    // Full blocks at both ends mark the caption's cell edges in the ink.
    const std::wstring caption = L"\u2588CAM 1\u2588";
    const int chars = static_cast<int>(caption.size());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " wide, flags " + std::to_string(c.flags));
        os::OffscreenWindow window(c.width, c.height);
        CopyingMixer mixer;
        COverlayBitmap overlay;
        overlay.CreateFor9(&window, &mixer, c.width, c.height);
        OverlayRenderer renderer(&overlay);
        ClearingPainter painter(&overlay);
        COverlayTextWorker worker;
        worker.SetTargets(&painter, &renderer);
        worker.SetText(caption.c_str(), c.flags, RECT{0, 0, c.width, c.height});
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(mixer.WaitApplies(1));
        worker.Stop();

        const RECT fill = mixer.Bounds(COverlayTextWorker::kFillColor);
        const RECT ink = mixer.Bounds(0, true);
        ASSERT_GE(fill.right, 0) << "no caption";
        EXPECT_EQ(chars * c.charWidth, fill.right - fill.left);
        EXPECT_GE(fill.bottom - fill.top, c.cell * 8 / 10);
        EXPECT_LE(fill.bottom - fill.top, c.cell + 1);
        // The four black copies one pixel off each diagonal frame the fill.
        // (The blocks' upper and lower edges fall between pixel rows, so the
        // pure fill colour may start a row further in there.)
        EXPECT_EQ(fill.left - 1, ink.left);
        EXPECT_EQ(fill.right + 1, ink.right);
        EXPECT_NEAR(fill.top - 1, ink.top, 1);
        EXPECT_NEAR(fill.bottom + 1, ink.bottom, 1);
        EXPECT_EQ(RGB(0, 0, 0), mixer.Pixel(fill.left - 1, (fill.top + fill.bottom) / 2));
        if (c.flags == 0x13) {
            EXPECT_NEAR(c.width / 2, (fill.left + fill.right) / 2, 1);
            EXPECT_NEAR(c.height / 2, (fill.top + fill.bottom) / 2, c.cell / 8);
        } else {
            EXPECT_EQ(c.width - 10, fill.right);
            EXPECT_LE(fill.bottom, c.height - 10);
            EXPECT_GE(fill.bottom, c.height - 10 - c.cell / 4);
        }
    }
}

TEST(COverlayTextWorkerTest, FlagsSplitIntoEnableAndAlignments) {
    struct Case {
        int flags;
        UINT format;
    } cases[] = {{0x13, DT_SINGLELINE | DT_CENTER | DT_VCENTER},
                 {0x25, DT_SINGLELINE | DT_RIGHT | DT_BOTTOM},
                 {0x01, DT_SINGLELINE},
                 {0x7F, DT_SINGLELINE}, // 7 is neither centre nor far: left, top
                 {0x23, DT_SINGLELINE | DT_CENTER | DT_BOTTOM}};
    for (const Case& c : cases)
        EXPECT_EQ(c.format, COverlayTextWorker::CaptionFormat((c.flags >> 1) & 7, (c.flags >> 4) & 7))
            << c.flags;
    EXPECT_EQ(10, COverlayTextWorker::CaptionSize(0));
    EXPECT_EQ(20, COverlayTextWorker::CaptionSize(4096));
}

TEST(COverlayTextWorkerTest, WithoutAPainterTheWorkerEndsItself) {
    os::OffscreenWindow window(64, 48);
    CopyingMixer mixer;
    COverlayBitmap overlay;
    overlay.CreateFor9(&window, &mixer, 64, 48);
    OverlayRenderer renderer(&overlay);
    COverlayTextWorker worker;
    worker.SetTargets(nullptr, &renderer);
    worker.SetText(L"x", 0x13, RECT{0, 0, 64, 48});
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.mStopEvent.Wait(10000)) << "the worker did not stop itself";
    worker.Stop();
    EXPECT_FALSE(worker.IsThreadWorking());
    EXPECT_EQ(0, mixer.Applies());
}

// Each pass paints, captions and applies once, then waits a refresh interval
// unless stopped; a caption change shows from the next pass.
TEST(COverlayTextWorkerTest, RefreshesOncePerIntervalAndTakesNewTextOnTheNextPass) {
    os::OffscreenWindow window(200, 150);
    CopyingMixer mixer;
    COverlayBitmap overlay;
    overlay.CreateFor7(&window, &mixer, 200, 150);
    OverlayRenderer renderer(&overlay);
    ClearingPainter painter(&overlay);
    COverlayTextWorker worker;
    worker.SetTargets(&painter, &renderer);
    worker.SetText(L"A", 0x13, RECT{0, 0, 200, 150});
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(mixer.WaitApplies(1));
    const auto first = std::chrono::steady_clock::now();
    ASSERT_TRUE(mixer.WaitApplies(3));
    const auto third = std::chrono::steady_clock::now();
    // Two waits lie between the first and the third refresh: a worker that
    // did not wait would spin through thousands of passes instead.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(third - first).count(),
              2 * static_cast<long long>(COverlayTextWorker::kRefreshIntervalMs) - 20);
    worker.SetText(L"A", 0x12, RECT{0, 0, 200, 150}); // caption off
    const int seen = mixer.Applies();
    ASSERT_TRUE(mixer.WaitApplies(seen + 2));
    EXPECT_EQ(-1, mixer.Bounds(0, true).right) << "the caption stayed after it was switched off";
    worker.Stop();
    EXPECT_EQ(painter.paints.load(), mixer.Applies()); // one paint per apply, none lost
}

} // namespace
