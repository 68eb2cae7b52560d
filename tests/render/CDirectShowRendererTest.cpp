// The DirectShow renderer on the real graph of os/dshow, drawing into
// off-screen windows: which renderer a graph gets when filters are missing,
// the aspect mode handed to the mixer, the overlay, the status of a graph
// that cannot be connected, Push against Stop, the trace of every failing
// call, and the pictures that reach the window against ffmpeg's decode.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "TestMedia.h"
#include "os/dshow/CDSoundRenderer.h"
#include "os/dshow/CVideoRenderer.h"
#include "os/gdi/Gdi.h"
#include "os/window/OffscreenWindow.h"
#include "platform/Trace.h"
#include "render/CDirectShowRenderer.h"

using ipcam::test::Bytes;
using media_util::CMediaObj;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
const HRESULT kInjected = E_FAIL;

struct Media {
    std::vector<Bytes> mJpeg;      // 3 frames of testsrc2
    std::vector<Bytes> mReference; // ffmpeg's decode of the first, BGR24 tight top-down
    Bytes mUlaw;                   // 0.5 s of u-law
    Bytes mG726;                   // 0.5 s of G.726 at 32 kbit/s
    std::vector<Bytes> mAac;       // ADTS frames
};
Media* gMedia = new Media;

std::vector<Bytes> SplitAdts(const Bytes& stream) {
    std::vector<Bytes> frames;
    size_t i = 0;
    while (i + 7 <= stream.size() && stream[i] == 0xFF && (stream[i + 1] & 0xF0) == 0xF0) {
        const size_t length = ((stream[i + 3] & 3u) << 11) | (stream[i + 4] << 3) | (stream[i + 5] >> 5);
        if (length < 7 || i + length > stream.size())
            break;
        frames.emplace_back(stream.begin() + static_cast<long>(i),
                            stream.begin() + static_cast<long>(i + length));
        i += length;
    }
    return frames;
}

// B, G, R of a window snapshot or a BGRA picture (the fourth byte dropped).
Bytes Bgr(const Bytes& bgrx) {
    Bytes out;
    out.reserve(bgrx.size() / 4 * 3);
    for (size_t i = 0; i + 3 < bgrx.size(); i += 4)
        out.insert(out.end(), {bgrx[i], bgrx[i + 1], bgrx[i + 2]});
    return out;
}

class TraceLog {
public:
    TraceLog() { mPrevious = media_util::SetTraceSink(&Sink, this); }
    ~TraceLog() { media_util::SetTraceSink(nullptr, nullptr); }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(mLock);
        return mLines;
    }
    bool Contains(const std::string& text) {
        for (const std::string& l : Lines())
            if (l == text)
                return true;
        return false;
    }

private:
    static void Sink(const char* text, void* context) {
        auto* self = static_cast<TraceLog*>(context);
        std::lock_guard<std::mutex> guard(self->mLock);
        self->mLines.emplace_back(text);
    }
    media_util::TraceSink mPrevious;
    std::mutex mLock;
    std::vector<std::string> mLines;
};

CMediaObj Format(int32_t code, int width, int height) {
    CMediaObj f;
    f.mVideoFormat = code;
    f.mWidth = width;
    f.mHeight = height;
    return f;
}

CMediaObj AudioFormat(int32_t code, int rate, int channels) {
    CMediaObj f;
    f.mAudioFormat = code;
    f.mSampleRate = rate;
    f.mAudioChannels = channels;
    f.mBitsPerSample = 16;
    return f;
}

CMediaObj Frame(const Bytes& jpeg, int number = 1) {
    CMediaObj o;
    o.mVideoFormat = media_util::kVideoJpeg;
    o.mWidth = kWidth;
    o.mHeight = kHeight;
    o.mFrameKind = media_util::kFrameKey;
    o.mFrameNumber = number;
    o.mFrameRate = 25000;
    o.CopyData(jpeg.data(), static_cast<int32_t>(jpeg.size()));
    return o;
}

// Starts `renderer` on the test's JPEG stream (kWidth x kHeight) shown in
// pixel code `code`, stretched over a width x height client area of `window`.
int StartJpeg(CDirectShowRenderer& renderer, os::OffscreenWindow& window, int width, int height, int32_t code,
              uint32_t flags = 0) {
    const RECT client{0, 0, width, height};
    CMediaObj input = Format(media_util::kVideoJpeg, kWidth, kHeight);
    CMediaObj display = Format(code, kWidth, -kHeight);
    renderer.SetFormats(&input, &display);
    renderer.SetAspectMode(CDirectShowRenderer::kAspectStretch);
    return renderer.Start(&window, &client, flags);
}

template <typename T> T* Query(IBaseFilter* filter, REFIID iid) {
    T* p = nullptr;
    if (filter == nullptr || FAILED(filter->QueryInterface(iid, reinterpret_cast<void**>(&p))))
        return nullptr;
    return p;
}

// The video renderer filter's drawing state.
struct SDrawn {
    uint64_t frames = 0;
    RECT rect{0, 0, 0, 0};
};
SDrawn Drawn(CDirectShowRenderer& r) {
    SDrawn d;
    IBaseFilter* f = r.GetVideoRendererFilter();
    if (auto* v = dynamic_cast<os::dshow::CVideoRenderer*>(f)) {
        d.frames = v->GetFramesDrawn();
        d.rect = v->GetLastPictureRect();
    }
    if (f != nullptr)
        f->Release();
    return d;
}

// Paints a blue box (10, 10) - (50, 30) into the renderer's overlay and
// applies it; false when the renderer has no overlay.
bool PaintOverlayBox(CDirectShowRenderer& renderer) {
    HDC dc = renderer.GetOverlayDC();
    if (dc == nullptr)
        return false;
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    const RECT box{10, 10, 50, 30};
    FillRect(dc, &box, blue);
    DeleteObject(blue);
    renderer.ApplyOverlay();
    return true;
}

class CDirectShowRendererTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        av_log_set_level(AV_LOG_QUIET);
        ipcam::test::TempDir dir("dshow");
        ASSERT_EQ(0, ipcam::test::Generate(kWidth, kHeight, 3,
                                           "-c:v mjpeg -q:v 2 -pix_fmt yuvj420p -f image2 '" +
                                               dir.File("f%d.jpg") + "'"));
        for (int i = 1; i <= 3; ++i)
            gMedia->mJpeg.push_back(ipcam::test::ReadFile(dir.File("f" + std::to_string(i) + ".jpg")));
        auto reference = ipcam::test::ReferenceFrames(dir.File("f1.jpg"), kWidth, kHeight);
        ASSERT_FALSE(reference[100].empty());
        gMedia->mReference.push_back(
            ipcam::test::Tight(reference[100][0], 100, kWidth, kHeight, false, true));
        const std::string tone = "ffmpeg -nostdin -v error -y -f lavfi -i sine=f=440:d=0.5 ";
        ASSERT_EQ(
            0, ipcam::test::Run(tone + "-ar 8000 -ac 1 -c:a pcm_mulaw -f mulaw '" + dir.File("a.ul") + "'"));
        ASSERT_EQ(0, ipcam::test::Run(tone + "-ar 8000 -ac 1 -c:a g726 -b:a 32k -f g726 '" +
                                      dir.File("a.g726") + "'"));
        ASSERT_EQ(0, ipcam::test::Run(tone + "-ar 44100 -ac 2 -c:a aac -f adts '" + dir.File("a.aac") + "'"));
        gMedia->mUlaw = ipcam::test::ReadFile(dir.File("a.ul"));
        gMedia->mG726 = ipcam::test::ReadFile(dir.File("a.g726"));
        gMedia->mAac = SplitAdts(ipcam::test::ReadFile(dir.File("a.aac")));
        ASSERT_GT(gMedia->mAac.size(), 5u);
    }
    void SetUp() override { os::dshow::ClearTestSwitches(); }
    void TearDown() override { os::dshow::ClearTestSwitches(); }

    static void SwitchOff(std::initializer_list<const CLSID*> classes) {
        for (const CLSID* c : classes)
            os::dshow::SetComClassAvailable(*c, false);
    }
};

TEST_F(CDirectShowRendererTest, RendererFallsBackInOrderWhenFiltersAreMissing) {
    struct Case {
        const char* name;
        std::vector<const CLSID*> off;
        uint32_t flags;
        int32_t pixelCode;
        int started;
        int32_t kind;
        bool vmr9Tried;
        bool shows;
    };
    const Case cases[] = {
        {"default renderer", {}, 0, 32, 1, CDirectShowRenderer::kRendererVmr7, false, true},
        {"default renderer with overlay", {}, 1, 120, 1, CDirectShowRenderer::kRendererVmr7, false, true},
        {"no VMR-7", {&CLSID_VideoRendererDefault}, 1, 32, 1, CDirectShowRenderer::kRendererVmr9, true, true},
        {"classic, converter joins",
         {&CLSID_VideoRendererDefault, &CLSID_VideoMixingRenderer9},
         0,
         120,
         1,
         CDirectShowRenderer::kRendererClassic,
         true,
         true},
        {"classic with I420 shows nothing",
         {&CLSID_VideoRendererDefault, &CLSID_VideoMixingRenderer9},
         0,
         130,
         1,
         CDirectShowRenderer::kRendererClassic,
         true,
         false},
        {"no renderer at all",
         {&CLSID_VideoRendererDefault, &CLSID_VideoMixingRenderer9, &CLSID_VideoRenderer},
         0,
         32,
         0,
         -1,
         true,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        os::dshow::ClearTestSwitches();
        for (const CLSID* off : c.off)
            os::dshow::SetComClassAvailable(*off, false);
        os::OffscreenWindow window(kWidth, kHeight);
        const RECT client{0, 0, kWidth, kHeight};
        CDirectShowRenderer renderer;
        CMediaObj display = Format(c.pixelCode, kWidth, -kHeight);
        renderer.SetFormats(&display, &display);
        const int vmr9Before = os::dshow::ComClassRequests(CLSID_VideoMixingRenderer9);
        ASSERT_EQ(c.started, renderer.Start(&window, &client, c.flags));
        EXPECT_EQ(c.vmr9Tried, os::dshow::ComClassRequests(CLSID_VideoMixingRenderer9) > vmr9Before);
        if (c.started == 0) {
            EXPECT_FALSE(renderer.IsStarted());
            continue;
        }
        EXPECT_EQ(c.kind, renderer.GetRendererKind());
        CMediaObj frame = Frame(gMedia->mJpeg[0]);
        EXPECT_EQ(c.shows ? 1 : 0, renderer.Push(&frame));
        EXPECT_EQ(c.shows ? 1u : 0u, Drawn(renderer).frames);
    }
}

TEST_F(CDirectShowRendererTest, Vmr9OverlayGetsOneStreamPointFilteringAndAnInputSizedBitmap) {
    SwitchOff({&CLSID_VideoRendererDefault});
    os::OffscreenWindow window(2 * kWidth, 2 * kHeight);
    CDirectShowRenderer renderer;
    ASSERT_EQ(1, StartJpeg(renderer, window, 2 * kWidth, 2 * kHeight, 32, CDirectShowRenderer::kFlagOverlay));
    ASSERT_EQ(CDirectShowRenderer::kRendererVmr9, renderer.GetRendererKind());

    IBaseFilter* vmr = renderer.GetVideoRendererFilter();
    auto* config = Query<IVMRFilterConfig9>(vmr, IID_IVMRFilterConfig9);
    auto* mixer = Query<IVMRMixerControl9>(vmr, IID_IVMRMixerControl9);
    auto* windowless = Query<IVMRWindowlessControl9>(vmr, IID_IVMRWindowlessControl9);
    ASSERT_TRUE(config && mixer && windowless);
    DWORD streams = 0, prefs = 0, mode = 0;
    COLORREF border = 0;
    config->GetNumberOfStreams(&streams);
    config->GetRenderingMode(&mode);
    mixer->GetMixingPrefs(&prefs);
    windowless->GetBorderColor(&border);
    EXPECT_EQ(1u, streams);
    EXPECT_EQ(DWORD(VMR9Mode_Windowless), mode);
    EXPECT_EQ(MixerPref9_PointFiltering, prefs & MixerPref9_FilteringMask);
    EXPECT_EQ(RGB(255, 0, 0), border);
    config->Release();
    mixer->Release();
    windowless->Release();
    vmr->Release();
    EXPECT_EQ(kWidth, renderer.GetOverlaySize().cx);
    EXPECT_EQ(kHeight, renderer.GetOverlaySize().cy);

    // A box painted into the overlay shows over the video, scaled with it;
    // the rest of the (white) overlay is transparent.
    ASSERT_TRUE(PaintOverlayBox(renderer));
    CMediaObj frame = Frame(gMedia->mJpeg[0]);
    ASSERT_EQ(1, renderer.Push(&frame));
    const Bytes pixels = window.Snapshot();
    auto at = [&](int x, int y) { return &pixels[(static_cast<size_t>(y) * 2 * kWidth + x) * 4]; };
    const uint8_t* inBox = at(60, 40); // (30, 20) of the overlay, doubled
    EXPECT_EQ(255, inBox[0]);
    EXPECT_EQ(0, inBox[1]);
    EXPECT_EQ(0, inBox[2]);
    const Bytes reference = gMedia->mReference[0];
    const uint8_t* outside = at(400, 300);
    const uint8_t* expected = &reference[(static_cast<size_t>(150) * kWidth + 200) * 3];
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(expected[c], outside[c], 24) << "channel " << c;
}

TEST_F(CDirectShowRendererTest, AspectModeGivenToTheMixer) {
    struct Case {
        const char* name;
        int32_t mode;
        RECT source;
        int32_t pixelCode;
        DWORD expected;
    };
    const Case cases[] = {
        {"auto, whole picture", 0, {0, 0, kWidth, kHeight}, 32, VMR_ARMODE_LETTER_BOX},
        {"auto, whole picture, negative bottom", 0, {0, 0, kWidth, -kHeight}, 32, VMR_ARMODE_LETTER_BOX},
        {"auto, part of the picture", 0, {0, 0, kWidth / 2, kHeight / 2}, 32, VMR_ARMODE_NONE},
        {"auto, no source rectangle", 0, {0, 0, 0, 0}, 32, VMR_ARMODE_NONE},
        {"auto, 24-bit picture", 0, {0, 0, kWidth, kHeight}, 100, VMR_ARMODE_NONE},
        {"stretch", 1, {0, 0, kWidth, kHeight}, 32, VMR_ARMODE_NONE},
        {"letterbox, part", 2, {0, 0, kWidth / 2, kHeight / 2}, 32, VMR_ARMODE_LETTER_BOX},
        {"letterbox, any other value", 7, {0, 0, 0, 0}, 120, VMR_ARMODE_LETTER_BOX},
    };
    // A wide window: letterboxing shows as bars left and right.
    const int windowW = 2 * kWidth, windowH = kHeight;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        os::OffscreenWindow window(windowW, windowH);
        const RECT client{0, 0, windowW, windowH};
        CDirectShowRenderer renderer;
        CMediaObj display = Format(c.pixelCode, kWidth, -kHeight);
        renderer.SetFormats(&display, &display);
        renderer.SetAspectMode(c.mode);
        renderer.SetSourceRect(c.source);
        EXPECT_EQ(c.expected, renderer.MixerAspectMode());
        ASSERT_EQ(1, renderer.Start(&window, &client, 0));
        IBaseFilter* vmr = renderer.GetVideoRendererFilter();
        auto* aspect = Query<IVMRAspectRatioControl>(vmr, IID_IVMRAspectRatioControl);
        ASSERT_NE(nullptr, aspect);
        DWORD applied = 99;
        aspect->GetAspectRatioMode(&applied);
        EXPECT_EQ(c.expected, applied);
        aspect->Release();
        vmr->Release();
        CMediaObj frame = Frame(gMedia->mJpeg[0]);
        ASSERT_EQ(1, renderer.Push(&frame));
        const RECT shown = Drawn(renderer).rect;
        const LONG srcW = c.source.right > 0 ? c.source.right : kWidth;
        const LONG srcH = c.source.right > 0 ? std::abs(c.source.bottom) : kHeight;
        const LONG expectedW = c.expected == VMR_ARMODE_LETTER_BOX ? windowH * srcW / srcH : windowW;
        EXPECT_EQ(expectedW, shown.right - shown.left);
        EXPECT_EQ(windowH, shown.bottom - shown.top);
    }
}

TEST_F(CDirectShowRendererTest, SourceThatCannotReachTheRendererGivesStatus256) {
    // The classic renderer takes RGB32 only: an RGB565 source reaches it
    // through the converter, and not at all when that connection fails.
    SwitchOff({&CLSID_VideoRendererDefault, &CLSID_VideoMixingRenderer9});
    os::dshow::SetCallFault("IGraphBuilder::Connect", VFW_E_CANNOT_CONNECT, L"Classic Video Renderer");
    TraceLog log;
    os::OffscreenWindow window(kWidth, kHeight);
    const RECT client{0, 0, kWidth, kHeight};
    CDirectShowRenderer renderer;
    CMediaObj display = Format(120, kWidth, -kHeight);
    renderer.SetFormats(&display, &display);
    EXPECT_EQ(0, renderer.Start(&window, &client, 0));
    EXPECT_EQ(CDirectShowRenderer::kStatusConnectFailed, renderer.GetStatus());
    EXPECT_FALSE(renderer.IsStarted());
    EXPECT_TRUE(
        log.Contains("FAILED(hr=0x80040217) in CDSUtil::ConnectFilters( pGraphBuilder, pOutPin, mpVmr )\n"));
    CMediaObj frame = Frame(gMedia->mJpeg[0]);
    EXPECT_EQ(0, renderer.Push(&frame));
    // A later start that connects clears the status.
    os::dshow::ClearTestSwitches();
    EXPECT_EQ(1, renderer.Start(&window, &client, 0));
    EXPECT_EQ(0, renderer.GetStatus());
}

TEST_F(CDirectShowRendererTest, PushAfterStopReturnsZeroAndNeverReachesAReleasedGraph) {
    os::OffscreenWindow window(kWidth, kHeight);
    const RECT client{0, 0, kWidth, kHeight};
    CDirectShowRenderer renderer;
    CMediaObj display = Format(32, kWidth, -kHeight);
    renderer.SetFormats(&display, &display);
    CMediaObj frame = Frame(gMedia->mJpeg[0]);
    EXPECT_EQ(0, renderer.Push(&frame)); // never started
    ASSERT_EQ(1, renderer.Start(&window, &client, 0));
    EXPECT_EQ(1, renderer.Push(&frame));
    renderer.Stop();
    EXPECT_EQ(0, renderer.Push(&frame));
    renderer.Stop(); // a second stop only signals again

    // A pacer-like thread pushes while the owner restarts and stops.
    std::atomic<bool> done{false};
    std::atomic<int> shown{0};
    std::thread pusher([&] {
        CMediaObj f = Frame(gMedia->mJpeg[1]);
        while (!done)
            shown += renderer.Push(&f);
    });
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(1, renderer.Start(&window, &client, 0));
        renderer.Stop();
    }
    done = true;
    pusher.join();
    EXPECT_EQ(0, renderer.Push(&frame));
}

TEST_F(CDirectShowRendererTest, EveryFailingCallIsTracedWithItsText) {
    enum class Setup { Vmr7, Vmr9, Classic, Ulaw, Aac, DecoderColour, DecoderUnknown };
    struct Case {
        const char* fault; // null: the setup fails by itself
        const wchar_t* scope;
        int skip;
        Setup setup;
        uint32_t flags;
        int started;
        const char* text;
    };
    const Case cases[] = {
        {"CoCreateInstance(CLSID_FilterGraph)", L"", 0, Setup::Vmr7, 0, 0,
         "CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void "
         "**)&mpGraphBuilder)"},
        {"CoCreateInstance(CLSID_ACMWrapper)", L"", 0, Setup::Ulaw, 0, 1,
         "CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_ACMWrapper, L\"ACM Wrappper\", &mpAcmFilter)"},
        {"QueryInterface(IID_IVMRFilterConfig)", L"VMR7", 0, Setup::Vmr7, 0, 0,
         "mpVmr->QueryInterface(IID_IVMRFilterConfig, (void**)&pConfig)"},
        {"IVMRFilterConfig::SetRenderingMode", L"", 0, Setup::Vmr7, 0, 0,
         "pConfig->SetRenderingMode(VMRMode_Windowed)"},
        {"IVMRFilterConfig::SetNumberOfStreams", L"", 0, Setup::Vmr7, 1, 0, "pConfig->SetNumberOfStreams(1)"},
        {"QueryInterface(IID_IVMRMixerControl)", L"VMR7", 0, Setup::Vmr7, 1, 0,
         "mpVmr->QueryInterface(IID_IVMRMixerControl, (void**)&pMix)"},
        {"IVMRMixerControl::GetMixingPrefs", L"", 0, Setup::Vmr7, 1, 0, "pMix->GetMixingPrefs(&dwPrefs)"},
        {"IVMRMixerControl::SetMixingPrefs", L"", 0, Setup::Vmr7, 1, 0, "pMix->SetMixingPrefs(dwPrefs)"},
        {"QueryInterface(IID_IVMRMixerBitmap)", L"VMR7", 0, Setup::Vmr7, 1, 0,
         "mpVmr->QueryInterface(IID_IVMRMixerBitmap, (void **)&mpVmrBitmap)"},
        {"QueryInterface(IID_IVMRMixerBitmap9)", L"VMR9", 0, Setup::Vmr9, 0, 0,
         "mpVmr->QueryInterface(IID_IVMRMixerBitmap9, (void **)&mpVmr9Bitmap)"},
        {"QueryInterface(IID_IVMRFilterConfig9)", L"VMR9", 0, Setup::Vmr9, 0, 0,
         "mpVmr->QueryInterface(IID_IVMRFilterConfig9, (void**)&pConfig)"},
        {"IVMRFilterConfig9::SetRenderingMode", L"", 0, Setup::Vmr9, 0, 0,
         "pConfig->SetRenderingMode(VMR9Mode_Windowless)"},
        {"IVMRFilterConfig9::SetNumberOfStreams", L"", 0, Setup::Vmr9, 1, 0,
         "pConfig->SetNumberOfStreams(1)"},
        {"QueryInterface(IID_IVMRWindowlessControl9)", L"VMR9", 0, Setup::Vmr9, 0, 0,
         "mpVmr->QueryInterface(IID_IVMRWindowlessControl9, (void**)&mpWindowlessControl9)"},
        {"IVMRWindowlessControl9::SetVideoClippingWindow", L"", 0, Setup::Vmr9, 0, 0,
         "mpWindowlessControl9->SetVideoClippingWindow(m_hWnd)"},
        {"IVMRWindowlessControl9::SetBorderColor", L"", 0, Setup::Vmr9, 0, 0,
         "mpWindowlessControl9->SetBorderColor(RGB(255,0,0))"},
        {"IVMRWindowlessControl9::SetVideoPosition", L"", 0, Setup::Vmr9, 0, 0,
         "mpWindowlessControl9->SetVideoPosition(NULL, &rr )"},
        {"QueryInterface(IID_IVMRMixerControl9)", L"VMR9", 0, Setup::Vmr9, 1, 0,
         "mpVmr->QueryInterface(IID_IVMRMixerControl9, (void**)&pMix)"},
        {"IVMRMixerControl9::GetMixingPrefs", L"", 0, Setup::Vmr9, 1, 0, "pMix->GetMixingPrefs(&dwPrefs)"},
        {"IVMRMixerControl9::SetMixingPrefs", L"", 0, Setup::Vmr9, 1, 0, "pMix->SetMixingPrefs(dwPrefs)"},
        {"CoCreateInstance(CLSID_VideoRenderer)", L"", 0, Setup::Classic, 0, 0,
         "CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_VideoRenderer, L\"Classic Video Renderer\", "
         "&mpVmr)"},
        {"CoCreateInstance(CLSID_Colour)", L"", 0, Setup::Vmr7, 0, 0,
         "CDSUtil::AddFilterByCLSID(mpGraphBuilder, CLSID_Colour, L\"CColor Space Converter\", "
         "&mpColorSpace)"},
        {nullptr, L"", 0, Setup::DecoderUnknown, 0, 0,
         "CDSUtil::AddFilterByCLSID(mpGraphBuilder, mDecoderGuid, L\"Decoder Filter\", &mpDecoderFilter)"},
        {"CoCreateInstance(CLSID_VMRSourceFilter)", L"", 0, Setup::Vmr7, 0, 0,
         "CDSUtil::AddFilterByCLSID(pGraphBuilder, CLSID_VMRSourceFilter, L\"VMR Source Filter\", "
         "&mpSource)"},
        {"IGraphBuilder::Connect", L"Direct Sound Render", 0, Setup::Aac, 0, 0,
         "CDSUtil::ConnectFilters( pGraphBuilder, pOutPin, mpDSoundRender )"},
        {"IGraphBuilder::Connect", L"ACM Wrappper", 0, Setup::Ulaw, 0, 0,
         "CDSUtil::ConnectFilters( pGraphBuilder, pOutPin, audioDecoderFilter )"},
        {"IBaseFilter::EnumPins", L"ACM Wrappper", 1, Setup::Ulaw, 0, 0,
         "CDSUtil::GetUnconnectedPin( audioDecoderFilter, PINDIR_OUTPUT , &pOutPin2)"},
        {"IGraphBuilder::Connect", L"Direct Sound Render", 0, Setup::Ulaw, 0, 0,
         "CDSUtil::ConnectFilters( pGraphBuilder, pOutPin2, mpDSoundRender )"},
        {nullptr, L"", 0, Setup::DecoderColour, 0, 0,
         "CDSUtil::ConnectFilters( pGraphBuilder, pOutPin, mpDecoderFilter )"},
        {"IGraphBuilder::Connect", L"VMR7", 0, Setup::Vmr7, 0, 0,
         "CDSUtil::ConnectFilters( pGraphBuilder, pOutPin, mpVmr )"},
        {"QueryInterface(IID_IVideoWindow)", L"", 0, Setup::Vmr7, 0, 0,
         "pGraphBuilder->QueryInterface(IID_IVideoWindow, (void **)&mpVideoWindow)"},
        {"IVideoWindow::put_Owner", L"", 0, Setup::Classic, 0, 0, "mpVideoWindow->put_Owner((OAHWND)m_hWnd)"},
        {"IVideoWindow::SetWindowPosition", L"", 0, Setup::Vmr7, 0, 0,
         "mpVideoWindow->SetWindowPosition( 0, 0, mCtrlSize.x, mCtrlSize.y )"},
        {"IVideoWindow::put_MessageDrain", L"", 0, Setup::Classic, 0, 0,
         "mpVideoWindow->put_MessageDrain((OAHWND)m_hWnd)"},
        {"QueryInterface(IID_IMediaControl)", L"", 0, Setup::Vmr9, 0, 0,
         "pGraphBuilder->QueryInterface(IID_IMediaControl, (void **)&mpMediaControl)"},
        {"QueryInterface(IID_IBasicVideo)", L"", 0, Setup::Vmr7, 0, 0,
         "pGraphBuilder->QueryInterface(IID_IBasicVideo, (void **)&mpBasicVideo)"},
        {"QueryInterface(IID_IMediaEventEx)", L"", 0, Setup::Ulaw, 0, 0,
         "pGraphBuilder->QueryInterface(IID_IMediaEventEx, (void **)&mpEvent)"},
        // Shown as they arrive or against a clock: the start goes on either way.
        {"QueryInterface(IID_IMediaFilter)", L"", 0, Setup::Vmr7, 0, 1,
         "pGraphBuilder->QueryInterface(IID_IMediaFilter, (void**)&pMediaFilter)"},
    };
    const GUID unknownDecoder = {0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        os::dshow::ClearTestSwitches();
        if (c.setup == Setup::Vmr9)
            SwitchOff({&CLSID_VideoRendererDefault});
        if (c.setup == Setup::Classic)
            SwitchOff({&CLSID_VideoRendererDefault, &CLSID_VideoMixingRenderer9});
        if (c.setup == Setup::Ulaw || c.setup == Setup::Aac)
            os::dshow::SetCallFault("SDL_OpenAudioDevice", kInjected);
        if (c.fault != nullptr)
            os::dshow::SetCallFault(c.fault, kInjected, c.scope, c.skip, -1);
        os::OffscreenWindow window(kWidth, kHeight);
        const RECT client{0, 0, kWidth, kHeight};
        CDirectShowRenderer renderer;
        CMediaObj input = Format(media_util::kVideoJpeg, kWidth, kHeight);
        CMediaObj display = Format(32, kWidth, -kHeight);
        if (c.setup == Setup::Ulaw || c.setup == Setup::Aac) {
            input = AudioFormat(c.setup == Setup::Ulaw ? media_util::kAudioUlaw : media_util::kAudio2010,
                                c.setup == Setup::Ulaw ? 8000 : 44100, c.setup == Setup::Ulaw ? 1 : 2);
            display = input;
        }
        if (c.setup == Setup::DecoderColour)
            renderer.SetDecoderGuid(CLSID_Colour);
        if (c.setup == Setup::DecoderUnknown)
            renderer.SetDecoderGuid(unknownDecoder);
        renderer.SetFormats(&input, &display);
        TraceLog log;
        EXPECT_EQ(c.started, renderer.Start(&window, &client, c.flags));
        const std::string tail = std::string(" in ") + c.text + "\n";
        std::vector<std::string> failed;
        for (const std::string& line : log.Lines())
            if (line.rfind("FAILED(hr=0x", 0) == 0)
                failed.push_back(line);
        ASSERT_EQ(1u, failed.size()) << (failed.empty() ? "no trace" : failed[0]);
        EXPECT_EQ(tail, failed[0].substr(failed[0].find(" in ")));
        if (c.fault != nullptr) {
            EXPECT_EQ("FAILED(hr=0x80004005)", failed[0].substr(0, failed[0].find(" in ")));
        }
        EXPECT_EQ(c.started == 1, renderer.IsStarted());
    }
}

TEST_F(CDirectShowRendererTest, PicturesReachTheWindowAsFfmpegDecodesThem) {
    struct Case {
        const char* name;
        int32_t pixelCode;
        std::vector<const CLSID*> off;
        double minPsnr;
    };
    const Case cases[] = {
        {"BGRA on VMR-7", 32, {}, 40},
        {"RGB565 on VMR-7", 120, {}, 28},
        {"I420 on VMR-9", 130, {&CLSID_VideoRendererDefault}, 30},
        {"BGR24 through the converter on the classic renderer",
         100,
         {&CLSID_VideoRendererDefault, &CLSID_VideoMixingRenderer9},
         40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        os::dshow::ClearTestSwitches();
        for (const CLSID* off : c.off)
            os::dshow::SetComClassAvailable(*off, false);
        os::OffscreenWindow window(kWidth, kHeight);
        CDirectShowRenderer renderer;
        ASSERT_EQ(1, StartJpeg(renderer, window, kWidth, kHeight, c.pixelCode));
        renderer.DeliveredEvent().Reset();
        CMediaObj frame = Frame(gMedia->mJpeg[0]);
        ASSERT_EQ(1, renderer.Push(&frame));
        EXPECT_TRUE(renderer.DeliveredEvent().IsSignalled());
        const double psnr = ipcam::test::Psnr(Bgr(window.Snapshot()), gMedia->mReference[0], 100);
        EXPECT_GE(psnr, c.minPsnr);
        // The next frame replaces it (testsrc2 moves).
        CMediaObj next = Frame(gMedia->mJpeg[2], 3);
        ASSERT_EQ(1, renderer.Push(&next));
        EXPECT_LT(ipcam::test::Psnr(Bgr(window.Snapshot()), gMedia->mReference[0], 100), psnr);
    }
}

TEST_F(CDirectShowRendererTest, JpegIsDecodedScaledWhenShownSmallAndIntoTheWindowWhenShownAsItIs) {
    struct Case {
        int windowW, windowH;
        bool scaled;
        bool direct;
    };
    const Case cases[] = {{kWidth, kHeight, false, true},
                          {kWidth / 2 + 1, kHeight / 2 + 1, false, false},
                          {kWidth / 2, kHeight / 2, true, false},
                          {kWidth / 8, kHeight / 8, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.windowW) + "x" + std::to_string(c.windowH));
        os::OffscreenWindow window(c.windowW, c.windowH);
        CDirectShowRenderer renderer;
        ASSERT_EQ(1, StartJpeg(renderer, window, c.windowW, c.windowH, 32));
        CMediaObj frame = Frame(gMedia->mJpeg[0]);
        ASSERT_EQ(1, renderer.Push(&frame));
        IBaseFilter* source = renderer.GetSourceFilter();
        auto* filter = dynamic_cast<os::dshow::CVmrSourceFilter*>(source);
        ASSERT_NE(nullptr, filter);
        EXPECT_EQ(c.scaled ? 1u : 0u, filter->GetScaledDecodes());
        EXPECT_EQ(c.direct ? 1u : 0u, filter->GetDirectDecodes());
        EXPECT_EQ(c.direct ? 1u : 0u, filter->GetPlanarDecodes());
        EXPECT_EQ(c.direct ? 1u : 0u, window.PendingPlanarCount());
        source->Release();
        // Either way the whole window shows the picture.
        const SDrawn drawn = Drawn(renderer);
        EXPECT_EQ(c.windowW, drawn.rect.right - drawn.rect.left);
        EXPECT_EQ(c.windowH, drawn.rect.bottom - drawn.rect.top);
    }
}

// A JPEG frame whose header says another size: the start-of-frame
// segment's height and width rewritten.
Bytes WithClaimedSize(Bytes jpeg, int width, int height) {
    for (size_t i = 0; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] >= 0xC0 && jpeg[i + 1] <= 0xC2) {
            jpeg[i + 5] = uint8_t(height >> 8);
            jpeg[i + 6] = uint8_t(height);
            jpeg[i + 7] = uint8_t(width >> 8);
            jpeg[i + 8] = uint8_t(width);
            return jpeg;
        }
    }
    ADD_FAILURE() << "no start-of-frame segment";
    return jpeg;
}

// A device's header is not trusted with the size of the picture: a frame of
// a few kilobytes that claims 30000 x 30000 pixels must not cost the
// channel gigabytes (and seconds of decoding), and one large picture does
// not keep its memory once the pictures are small again.
TEST_F(CDirectShowRendererTest, JpegHeaderClaimingAHugePictureCostsNoMemory) {
    struct Case {
        const char* name;
        int32_t pixelCode;
        int windowW, windowH; // half the picture's size: decoded scaled
        int claimW, claimH;
        bool held; // decoded (and refused as cut short) into a buffer that size
    };
    const Case cases[] = {
        {"scaled to 32 bits", 32, kWidth / 2, kHeight / 2, 30000, 30000, false},
        {"scaled to 16 bits", 120, kWidth / 2, kHeight / 2, 65000, 20000, false},
        {"scaled within the bounds", 32, kWidth / 2, kHeight / 2, 8192, 6000, true},
        {"decoded whole to 16 bits", 120, kWidth, kHeight, 8000, 8000, false},
        {"decoded whole, within the bounds", 120, kWidth, kHeight, 4000, 3000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        os::OffscreenWindow window(c.windowW, c.windowH);
        CDirectShowRenderer renderer;
        ASSERT_EQ(1, StartJpeg(renderer, window, c.windowW, c.windowH, c.pixelCode));
        IBaseFilter* source = renderer.GetSourceFilter();
        auto* filter = dynamic_cast<os::dshow::CVmrSourceFilter*>(source);
        ASSERT_NE(nullptr, filter);
        CMediaObj good = Frame(gMedia->mJpeg[0]);
        ASSERT_EQ(1, renderer.Push(&good));
        const uint64_t delivered = filter->GetDelivered();
        EXPECT_EQ(1u, delivered);
        const size_t small = filter->GetPictureMemory();
        EXPECT_LE(small, size_t(kWidth) * kHeight * 4 * 2);

        CMediaObj hostile = Frame(WithClaimedSize(gMedia->mJpeg[1], c.claimW, c.claimH), 2);
        renderer.Push(&hostile);
        EXPECT_EQ(delivered, filter->GetDelivered()); // nothing shown of it
        if (c.held)
            EXPECT_GT(filter->GetPictureMemory(), size_t(16) << 20);
        else
            EXPECT_EQ(small, filter->GetPictureMemory());
        CMediaObj next = Frame(gMedia->mJpeg[2], 3);
        ASSERT_EQ(1, renderer.Push(&next));
        EXPECT_EQ(delivered + 1, filter->GetDelivered());
        EXPECT_LE(filter->GetPictureMemory(), size_t(kWidth) * kHeight * 4 * 2);
        source->Release();
    }
}

// A JPEG frame shown as it is stays YCbCr planes in the window until
// somebody reads the pixels, unless an overlay must be blended over it; what
// the reader then sees is what the pixel path would have drawn.
TEST_F(CDirectShowRendererTest, PlanarPicturesAreConvertedOnlyWhenLookedAt) {
    struct Case {
        const char* name;
        bool planar;  // the process-wide switch
        bool overlay; // a box painted into a visible overlay
        bool planarExpected;
    };
    const Case cases[] = {
        {"planes", true, false, true},
        {"pixels: switched off", false, false, false},
        {"pixels: an overlay to blend", true, true, false},
    };
    Bytes fromPlanes; // the first case's picture
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        os::dshow::CVmrSourceFilter::SetPlanarPictures(c.planar);
        os::OffscreenWindow window(kWidth, kHeight);
        CDirectShowRenderer renderer;
        ASSERT_EQ(1, StartJpeg(renderer, window, kWidth, kHeight, 32,
                               c.overlay ? CDirectShowRenderer::kFlagOverlay : 0));
        if (c.overlay) {
            ASSERT_TRUE(PaintOverlayBox(renderer));
        }
        CMediaObj frame = Frame(gMedia->mJpeg[0]);
        ASSERT_EQ(1, renderer.Push(&frame));
        IBaseFilter* source = renderer.GetSourceFilter();
        auto* filter = dynamic_cast<os::dshow::CVmrSourceFilter*>(source);
        ASSERT_NE(nullptr, filter);
        EXPECT_EQ(1u, filter->GetDirectDecodes());
        EXPECT_EQ(c.planarExpected ? 1u : 0u, filter->GetPlanarDecodes());
        source->Release();
        EXPECT_EQ(c.planarExpected ? 1u : 0u, window.PendingPlanarCount());
        EXPECT_EQ(1u, Drawn(renderer).frames);

        const Bytes pixels = window.Snapshot();
        EXPECT_EQ(0u, window.PendingPlanarCount()); // converted by the reading
        if (!c.overlay) {
            EXPECT_GE(ipcam::test::Psnr(Bgr(pixels), gMedia->mReference[0], 100), 40);
        }
        if (c.overlay) {
            const uint8_t* inBox = &pixels[(static_cast<size_t>(20) * kWidth + 30) * 4];
            EXPECT_EQ(255, inBox[0]);
            EXPECT_EQ(0, inBox[1]);
            EXPECT_EQ(0, inBox[2]);
        } else if (c.planar) {
            fromPlanes = pixels;
        } else {
            // Planes converted later and pixels decoded at once: the same
            // colour conversion, within a level of rounding.
            ASSERT_EQ(fromPlanes.size(), pixels.size());
            int worst = 0;
            for (size_t i = 0; i < pixels.size(); ++i)
                if (i % 4 != 3)
                    worst = std::max(worst, std::abs(pixels[i] - fromPlanes[i]));
            EXPECT_LE(worst, 2);
        }
    }
    os::dshow::CVmrSourceFilter::SetPlanarPictures(true);
}

TEST_F(CDirectShowRendererTest, CameraAudioIsDecodedAndPlayedIntoTheNullSink) {
    struct Case {
        const char* name;
        int32_t code;
        int rate;
        int channels;
        std::vector<Bytes> blocks;
        uint64_t minBytes; // PCM bytes at least
    };
    auto chop = [](const Bytes& b, size_t n) {
        std::vector<Bytes> out;
        for (size_t i = 0; i < b.size(); i += n)
            out.emplace_back(b.begin() + static_cast<long>(i),
                             b.begin() + static_cast<long>(std::min(b.size(), i + n)));
        return out;
    };
    const Case cases[] = {
        {"u-law", media_util::kAudioUlaw, 8000, 1, chop(gMedia->mUlaw, 320), 2 * gMedia->mUlaw.size()},
        // Four bits a sample: a byte gives two samples, four PCM bytes.
        {"G.726", media_util::kAudio2020, 8000, 1, chop(gMedia->mG726, 160), 3 * gMedia->mG726.size()},
        {"AAC", media_util::kAudio2010, 44100, 2, gMedia->mAac, (gMedia->mAac.size() - 2) * 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        os::dshow::ClearTestSwitches();
        os::dshow::SetCallFault("SDL_OpenAudioDevice", kInjected);
        CDirectShowRenderer renderer;
        CMediaObj format = AudioFormat(c.code, c.rate, c.channels);
        renderer.SetFormats(&format, &format);
        ASSERT_EQ(1, renderer.Start(nullptr, nullptr, 0));
        int delivered = 0;
        for (const Bytes& block : c.blocks) {
            CMediaObj o;
            o.mAudioFormat = c.code;
            o.CopyData2(block.data(), static_cast<int32_t>(block.size()));
            delivered += renderer.Push(&o);
        }
        EXPECT_EQ(static_cast<int>(c.blocks.size()), delivered);
        IBaseFilter* f = renderer.GetAudioRendererFilter();
        auto* sound = dynamic_cast<os::dshow::CDSoundRenderer*>(f);
        ASSERT_NE(nullptr, sound);
        EXPECT_FALSE(sound->IsDeviceOpen());
        EXPECT_GE(sound->GetBytesPlayed(), c.minBytes);
        f->Release();
    }
}

// A camera that sends damaged AAC: the blocks are dropped, the good ones
// after them play, and libavcodec's complaints about the damage (a line or
// more per block) stay below the level a host's log shows.
std::atomic<int> gLoudAudioMessages{0};
void CountLoudAudioMessages(void*, int level, const char*, va_list) {
    if (level <= AV_LOG_INFO)
        ++gLoudAudioMessages;
}

TEST_F(CDirectShowRendererTest, DamagedCameraAudioIsDroppedQuietly) {
    os::dshow::ClearTestSwitches();
    os::dshow::SetCallFault("SDL_OpenAudioDevice", kInjected);
    CDirectShowRenderer renderer;
    CMediaObj format = AudioFormat(media_util::kAudio2010, 44100, 2);
    renderer.SetFormats(&format, &format);
    ASSERT_EQ(1, renderer.Start(nullptr, nullptr, 0));
    auto push = [&](const Bytes& block) {
        CMediaObj o;
        o.mAudioFormat = media_util::kAudio2010;
        o.CopyData2(block.data(), static_cast<int32_t>(block.size()));
        renderer.Push(&o);
    };
    IBaseFilter* f = renderer.GetAudioRendererFilter();
    auto* sound = dynamic_cast<os::dshow::CDSoundRenderer*>(f);
    ASSERT_NE(nullptr, sound);
    av_log_set_callback(CountLoudAudioMessages);
    gLoudAudioMessages = 0;
    // Each block's payload (after its 7-byte ADTS head) scrambled, then cut.
    for (const Bytes& good : gMedia->mAac) {
        Bytes bad = good;
        for (size_t i = 7; i < bad.size(); i += 3)
            bad[i] = static_cast<uint8_t>(bad[i] * 31 + 7);
        push(bad);
        push(Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 3)));
    }
    const uint64_t afterDamage = sound->GetBytesPlayed();
    for (const Bytes& good : gMedia->mAac)
        push(good);
    av_log_set_callback(av_log_default_callback);
    EXPECT_EQ(0, gLoudAudioMessages.load());
    EXPECT_GE(sound->GetBytesPlayed() - afterDamage, (gMedia->mAac.size() - 2) * 4096);
    f->Release();
}

} // namespace
