// The filter graph of os/dshow with a test source filter: intelligent
// connection through the colour converter, the test switches, what the video
// renderers draw (window position, visibility, letterbox bars, the mixer
// bitmap) and the graph's events.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "os/dshow/CBaseFilter.h"
#include "os/dshow/CVideoRenderer.h"
#include "os/gdi/Gdi.h"
#include "os/window/OffscreenWindow.h"

using namespace os::dshow;

namespace {

const CLSID kTestSourceClass = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};

// A source with one output pin that offers one media type and pushes what
// the test gives it.
class CTestSource : public CBaseFilter {
public:
    explicit CTestSource(const AM_MEDIA_TYPE& type) : CBaseFilter(kTestSourceClass), mPin(this, type) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? &mPin : nullptr; }
    HRESULT Push(const CMediaSample& sample) {
        std::lock_guard<std::recursive_mutex> guard(mLock);
        return mPin.Deliver(sample);
    }

private:
    class CPin : public CBasePin {
    public:
        CPin(CTestSource* f, const AM_MEDIA_TYPE& type) : CBasePin(f, PINDIR_OUTPUT, L"Out"), mType(type) {}

    protected:
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return mt.subtype == mType.subtype ? S_OK : S_FALSE;
        }
        HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt) override {
            if (index != 0)
                return S_FALSE;
            *mt = mType;
            return S_OK;
        }

    private:
        AM_MEDIA_TYPE mType;
    };
    CPin mPin;
};

AM_MEDIA_TYPE PictureType(REFGUID subtype, LONG width, LONG height) {
    AM_MEDIA_TYPE mt = MakeMediaType(MEDIATYPE_Video, subtype);
    mt.biWidth = width;
    mt.biHeight = height;
    return mt;
}

template <typename T> T* Create(REFCLSID clsid, REFIID iid) {
    T* p = nullptr;
    EXPECT_EQ(S_OK,
              CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&p)));
    return p;
}

IPin* PinOf(IBaseFilter* filter, int index) {
    IEnumPins* pins = nullptr;
    filter->EnumPins(&pins);
    IPin* p = nullptr;
    pins->Skip(static_cast<ULONG>(index));
    pins->Next(1, &p, nullptr);
    pins->Release();
    return p;
}

bool Connected(IPin* pin) {
    IPin* peer = nullptr;
    if (FAILED(pin->ConnectedTo(&peer)))
        return false;
    peer->Release();
    return true;
}

// A graph with a test source, a renderer and the colour converter.
struct SGraph {
    IGraphBuilder* graph = nullptr;
    CTestSource* source = nullptr;
    IBaseFilter* renderer = nullptr;
    IBaseFilter* converter = nullptr;

    SGraph(const AM_MEDIA_TYPE& type, REFCLSID rendererClass) {
        graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        source = new CTestSource(type);
        renderer = Create<IBaseFilter>(rendererClass, IID_IBaseFilter);
        converter = Create<IBaseFilter>(CLSID_Colour, IID_IBaseFilter);
        graph->AddFilter(source, L"Source");
        graph->AddFilter(renderer, L"Renderer");
        graph->AddFilter(converter, L"Converter");
    }
    ~SGraph() {
        source->Release();
        renderer->Release();
        converter->Release();
        graph->Release();
    }
    HRESULT Connect() {
        IPin* out = PinOf(source, 0);
        IPin* in = PinOf(renderer, 0);
        HRESULT hr = graph->Connect(out, in);
        out->Release();
        in->Release();
        return hr;
    }
    CVideoRenderer* Video() { return dynamic_cast<CVideoRenderer*>(renderer); }
};

class DShowGraphTest : public ::testing::Test {
protected:
    void SetUp() override { ClearTestSwitches(); }
    void TearDown() override { ClearTestSwitches(); }
};

TEST_F(DShowGraphTest, ColourConverterJoinsOnlyWhereFormatsDiffer) {
    struct Case {
        const char* name;
        const GUID* subtype;
        const CLSID* renderer;
        HRESULT result;
        bool throughConverter;
    };
    const Case cases[] = {
        {"RGB32 to the classic renderer", &MEDIASUBTYPE_RGB32, &CLSID_VideoRenderer, S_OK, false},
        {"RGB565 to the classic renderer", &MEDIASUBTYPE_RGB565, &CLSID_VideoRenderer, S_OK, true},
        {"RGB24 to the classic renderer", &MEDIASUBTYPE_RGB24, &CLSID_VideoRenderer, S_OK, true},
        {"I420 to the classic renderer", &MEDIASUBTYPE_IYUV, &CLSID_VideoRenderer, VFW_E_CANNOT_CONNECT,
         false},
        {"RGB565 to VMR-7", &MEDIASUBTYPE_RGB565, &CLSID_VideoRendererDefault, S_OK, false},
        {"I420 to VMR-9", &MEDIASUBTYPE_IYUV, &CLSID_VideoMixingRenderer9, S_OK, false},
        {"RGB24 to VMR-9", &MEDIASUBTYPE_RGB24, &CLSID_VideoMixingRenderer9, S_OK, true},
        {"compressed video to VMR-7", &MEDIASUBTYPE_MJPG, &CLSID_VideoRendererDefault, VFW_E_CANNOT_CONNECT,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SGraph g(PictureType(*c.subtype, 64, -48), *c.renderer);
        EXPECT_EQ(c.result, g.Connect());
        IPin* converterIn = PinOf(g.converter, 0);
        IPin* converterOut = PinOf(g.converter, 1);
        EXPECT_EQ(c.throughConverter, Connected(converterIn));
        EXPECT_EQ(c.throughConverter, Connected(converterOut));
        IPin* rendererIn = PinOf(g.renderer, 0);
        AM_MEDIA_TYPE mt;
        if (c.result == S_OK) {
            ASSERT_EQ(S_OK, rendererIn->ConnectionMediaType(&mt));
            EXPECT_TRUE(mt.subtype == (c.throughConverter ? MEDIASUBTYPE_RGB32 : *c.subtype));
        } else {
            EXPECT_EQ(VFW_E_NOT_CONNECTED, rendererIn->ConnectionMediaType(&mt));
        }
        converterIn->Release();
        converterOut->Release();
        rendererIn->Release();
    }
}

TEST_F(DShowGraphTest, SwitchesMakeClassesMissingAndNamedCallsFail) {
    struct Case {
        const char* name;
        const char* call;
        const wchar_t* scope;
        int skip;
        int count;
        std::vector<HRESULT> results; // of successive AddFilter calls, first on "A" then on "B"
    };
    const Case cases[] = {
        {"every call", "IGraphBuilder::AddFilter", L"", 0, -1, {E_FAIL, E_FAIL}},
        {"one filter only", "IGraphBuilder::AddFilter", L"B", 0, -1, {S_OK, E_FAIL}},
        {"after one call", "IGraphBuilder::AddFilter", L"", 1, -1, {S_OK, E_FAIL}},
        {"once", "IGraphBuilder::AddFilter", L"", 0, 1, {E_FAIL, S_OK}},
        {"another call", "IGraphBuilder::RemoveFilter", L"", 0, -1, {S_OK, S_OK}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearTestSwitches();
        SetCallFault(c.call, E_FAIL, c.scope, c.skip, c.count);
        IGraphBuilder* graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        IBaseFilter* a = Create<IBaseFilter>(CLSID_Colour, IID_IBaseFilter);
        IBaseFilter* b = Create<IBaseFilter>(CLSID_Colour, IID_IBaseFilter);
        EXPECT_EQ(c.results[0], graph->AddFilter(a, L"A"));
        EXPECT_EQ(c.results[1], graph->AddFilter(b, L"B"));
        a->Release();
        b->Release();
        graph->Release();
    }
    ClearTestSwitches();
    SetComClassAvailable(CLSID_VideoMixingRenderer9, false);
    EXPECT_FALSE(IsComClassAvailable(CLSID_VideoMixingRenderer9));
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_IBaseFilter, &p));
    EXPECT_EQ(nullptr, p);
    ClearTestSwitches();
    EXPECT_TRUE(IsComClassAvailable(CLSID_VideoMixingRenderer9));
}

// A 64 x 48 grey BGRA picture, top-down.
struct SGreyPicture {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(64 * 48 * 4, 0x80);
    CMediaSample Sample() const {
        CMediaSample s;
        s.pData = pixels.data();
        s.lLength = static_cast<LONG>(pixels.size());
        s.lWidth = 64;
        s.lHeight = -48;
        s.lStride = 64 * 4;
        return s;
    }
};

const uint8_t* PixelAt(const std::vector<uint8_t>& snapshot, int width, int x, int y) {
    return &snapshot[(static_cast<size_t>(y) * width + x) * 4];
}

TEST_F(DShowGraphTest, RenderersDrawWhereTheyAreToldWithTheirBars) {
    struct Case {
        const char* name;
        const CLSID* renderer;
        bool windowless;
        DWORD aspect;
        bool visible;
        COLORREF bar; // expected at (2, 24) of a 128 x 48 window
        bool drawn;
    };
    const Case cases[] = {
        {"VMR-9 windowless letterbox: border colour", &CLSID_VideoMixingRenderer9, true,
         VMR_ARMODE_LETTER_BOX, true, RGB(255, 0, 0), true},
        {"VMR-7 windowed letterbox: black", &CLSID_VideoRendererDefault, false, VMR_ARMODE_LETTER_BOX, true,
         RGB(0, 0, 0), true},
        {"VMR-7 stretched: picture", &CLSID_VideoRendererDefault, false, VMR_ARMODE_NONE, true,
         RGB(0x80, 0x80, 0x80), true},
        {"hidden video window: nothing", &CLSID_VideoRendererDefault, false, VMR_ARMODE_NONE, false,
         RGB(0, 0, 0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        os::OffscreenWindow window(128, 48);
        SGraph g(PictureType(MEDIASUBTYPE_RGB32, 64, -48), *c.renderer);
        CVideoRenderer* v = g.Video();
        ASSERT_NE(nullptr, v);
        if (c.windowless) {
            ASSERT_EQ(S_OK, v->SetRenderingMode(VMR9Mode_Windowless));
            v->SetVideoClippingWindow(&window);
            v->SetBorderColor(RGB(255, 0, 0));
            const RECT dst{0, 0, 128, 48};
            v->SetVideoPosition(nullptr, &dst);
        }
        ASSERT_EQ(S_OK, g.Connect());
        EXPECT_EQ(VFW_E_WRONG_STATE, v->SetRenderingMode(VMR9Mode_Windowed)); // only before connecting
        v->SetAspectRatioMode(c.aspect);
        if (!c.windowless) {
            IVideoWindow* w = nullptr;
            ASSERT_EQ(S_OK, g.graph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&w)));
            w->put_Owner(reinterpret_cast<OAHWND>(static_cast<HWND>(&window)));
            w->SetWindowPosition(0, 0, 128, 48);
            w->put_AutoShow(OAFALSE);
            w->put_Visible(c.visible ? OATRUE : OAFALSE);
            w->Release();
        }
        IMediaControl* control = nullptr;
        g.graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        SGreyPicture picture;
        EXPECT_EQ(S_FALSE, g.source->Push(picture.Sample())); // stopped: dropped
        control->Run();
        EXPECT_EQ(S_OK, g.source->Push(picture.Sample()));
        control->Stop();
        control->Release();
        EXPECT_EQ(c.drawn ? 1u : 0u, v->GetFramesDrawn());
        const std::vector<uint8_t> pixels = window.Snapshot();
        const uint8_t* bar = PixelAt(pixels, 128, 2, 24);
        EXPECT_EQ(GetBValue(c.bar), bar[0]);
        EXPECT_EQ(GetGValue(c.bar), bar[1]);
        EXPECT_EQ(GetRValue(c.bar), bar[2]);
    }
}

// A windowless VMR-9 drawing into a 64 x 48 window, and a 32 x 24 mixer
// bitmap: white with a black box where Set puts it.
struct SMixerScene {
    os::OffscreenWindow window{64, 48};
    SGraph g{PictureType(MEDIASUBTYPE_RGB32, 64, -48), CLSID_VideoMixingRenderer9};
    HDC screen = nullptr, dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
    IVMRMixerBitmap9* mixer = nullptr;
    IMediaControl* control = nullptr;
    static constexpr RECT kAll{0, 0, 32, 24};

    SMixerScene() {
        CVideoRenderer* v = g.Video();
        v->SetRenderingMode(VMR9Mode_Windowless);
        v->SetVideoClippingWindow(&window);
        const RECT dst{0, 0, 64, 48};
        v->SetVideoPosition(nullptr, &dst);
        EXPECT_EQ(S_OK, g.Connect());
        screen = GetDC(&window);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, 32, 24);
        old = SelectObject(dc, bitmap);
        EXPECT_EQ(S_OK, g.renderer->QueryInterface(IID_IVMRMixerBitmap9, reinterpret_cast<void**>(&mixer)));
        g.graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    }
    ~SMixerScene() {
        control->Stop();
        control->Release();
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteObject(white);
        DeleteObject(black);
        DeleteDC(dc);
        ReleaseDC(&window, screen);
    }
    // The bitmap with a black box at box (none: VMRBITMAP_DISABLE is all
    // flags asks for) handed to the mixer.
    HRESULT Set(const RECT* box, DWORD flags, float alpha = 1.0f) {
        FillRect(dc, &kAll, white);
        if (box != nullptr)
            FillRect(dc, box, black);
        VMR9AlphaBitmap description{};
        description.dwFlags = flags;
        description.hdc = dc;
        description.rSrc = kAll;
        description.rDest = {0.0f, 0.0f, 1.0f, 1.0f};
        description.fAlpha = alpha;
        description.clrSrcKey = RGB(255, 255, 255);
        return mixer->SetAlphaBitmap(&description);
    }
    HRESULT PushGrey() {
        SGreyPicture picture;
        return g.source->Push(picture.Sample());
    }
};

TEST_F(DShowGraphTest, MixerBitmapBlendsWithItsKeyAndAlpha) {
    struct Case {
        const char* name;
        DWORD flags;
        float alpha;
        uint8_t outside; // blue at a white pixel of the bitmap
        uint8_t inside;  // blue inside the black box
    };
    const Case cases[] = {
        {"colour key: white is transparent", VMRBITMAP_HDC | VMRBITMAP_SRCCOLORKEY, 1.0f, 0x80, 0x00},
        {"no key: white covers the video", VMRBITMAP_HDC, 1.0f, 0xFF, 0x00},
        {"half alpha", VMRBITMAP_HDC | VMRBITMAP_SRCCOLORKEY, 0.5f, 0x80, 0x40},
        {"disabled", VMRBITMAP_DISABLE, 1.0f, 0x80, 0x80},
    };
    const RECT box{0, 0, 16, 12}; // the top left quarter
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SMixerScene scene;
        EXPECT_EQ(S_OK, scene.Set(&box, c.flags, c.alpha));
        scene.control->Run();
        EXPECT_EQ(S_OK, scene.PushGrey());
        scene.control->Stop();
        const std::vector<uint8_t> pixels = scene.window.Snapshot();
        EXPECT_NEAR(c.inside, PixelAt(pixels, 64, 8, 8)[0], 1);
        EXPECT_NEAR(c.outside, PixelAt(pixels, 64, 48, 40)[0], 1);
    }
}

// A changed bitmap is drawn over the last picture at once (a camera may
// send a picture a second, or stop): the picture as it was drawn is kept
// while a bitmap is set. The same bitmap set again draws nothing, nor does
// a change after the graph stopped.
TEST_F(DShowGraphTest, AChangedBitmapIsDrawnOverTheLastPictureAtOnce) {
    enum class Then { Same, Moved, Disabled };
    struct Case {
        const char* name;
        Then then;
        bool stopFirst;
        uint8_t oldBox, newBox, marker; // blue at each place afterwards
    };
    const Case cases[] = {
        {"the same bitmap again: nothing drawn", Then::Same, false, 0x00, 0x80, 0x11},
        {"the box moved: drawn at once", Then::Moved, false, 0x80, 0x00, 0x80},
        {"disabled: the picture alone", Then::Disabled, false, 0x80, 0x80, 0x80},
        {"moved after the graph stopped: nothing drawn", Then::Moved, true, 0x00, 0x80, 0x11},
    };
    const RECT topLeft{0, 0, 16, 12}, bottomRight{16, 12, 32, 24}; // of the 32 x 24 bitmap
    const DWORD keyed = VMRBITMAP_HDC | VMRBITMAP_SRCCOLORKEY;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SMixerScene scene;
        EXPECT_EQ(S_OK, scene.Set(&topLeft, keyed));
        scene.control->Run();
        EXPECT_EQ(S_OK, scene.PushGrey());
        if (c.stopFirst)
            scene.control->Stop();
        {
            // Something else in the window, to see whether it is drawn over.
            os::Window::SurfaceLock lock(&scene.window);
            lock.View().pixels[(20 * lock.View().stride) + 40 * 4] = 0x11;
        }
        if (c.then == Then::Disabled)
            EXPECT_EQ(S_OK, scene.Set(nullptr, VMRBITMAP_DISABLE));
        else
            EXPECT_EQ(S_OK, scene.Set(c.then == Then::Moved ? &bottomRight : &topLeft, keyed));
        scene.control->Stop();
        const std::vector<uint8_t> pixels = scene.window.Snapshot();
        EXPECT_EQ(c.oldBox, PixelAt(pixels, 64, 8, 8)[0]);
        EXPECT_EQ(c.newBox, PixelAt(pixels, 64, 48, 40)[0]);
        EXPECT_EQ(c.marker, PixelAt(pixels, 64, 40, 20)[0]);
    }
}

TEST_F(DShowGraphTest, PictureSizeChangeIsQueuedAsAnEventAndPostedToTheWindow) {
    os::OffscreenWindow window(64, 48);
    SGraph g(PictureType(MEDIASUBTYPE_RGB32, 64, -48), CLSID_VideoRendererDefault);
    ASSERT_EQ(S_OK, g.Connect());
    IMediaEventEx* events = nullptr;
    ASSERT_EQ(S_OK, g.graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events)));
    events->SetNotifyWindow(reinterpret_cast<OAHWND>(static_cast<HWND>(&window)), 0x407, 77);
    IMediaControl* control = nullptr;
    g.graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    control->Run();
    SGreyPicture picture;
    g.source->Push(picture.Sample());
    CMediaSample smaller = picture.Sample();
    smaller.lWidth = 32;
    smaller.lHeight = -24;
    g.source->Push(smaller);
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    ASSERT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(EC_VIDEO_SIZE_CHANGED, code);
    EXPECT_EQ((24 << 16) | 32, p1);
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0));
    MSG message;
    ASSERT_TRUE(window.PeekMessage(&message));
    EXPECT_EQ(0x407u, message.message);
    EXPECT_EQ(77, message.lParam);
    control->Stop();
    control->Release();
    events->Release();
}

} // namespace
