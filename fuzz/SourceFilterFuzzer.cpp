// The push source filter's decode path: a channel's compressed frames (JPEG,
// MPEG-4, H.264 in QBox boxes), as a hostile device sends them, pushed into
// the "VMR Source Filter" of a running graph and decoded for the renderer:
// through vcodec, at reduced scale with libjpeg-turbo (when the renderer
// shows the picture small) or straight into the renderer's surface.
//
// The filter's downstream peer here is a checking sink in place of the
// renderer. Beyond the sanitizers: every picture handed on is whole (its
// bytes cover its rows at its stride, all read) and has a positive width, a
// stride that holds a row and a height no larger than the stream allows; a
// direct decode writes only the area it was given; the filter never holds
// more picture memory than two of the largest pictures it takes.
//
// Kept filters hold their decoders' reference pictures at the largest size
// an input named; past a budget of the process's memory they are all torn
// down and made again as inputs need them (else, together, they outgrow
// libFuzzer's memory limit over a long run).
//
// As in the viewer, a filter lives across frames: one per stream, output
// pixel code, row order, scale and direct-target choice is made, connected
// and run on first use and kept, so its decoder carries state from input to
// input. A channel's stream keeps its format, and so do most inputs: a
// filter made for one format never meets another and keeps its decoder
// (remade at every switch of format, the decoders' allocation was more than
// half of the target's time). Inputs of the mixed stream switch format from
// frame to frame, as a device whose profile is changed does.
//
// Input: byte 0: pixel code (bits 0-1: 24-bit, 16-bit, I420, 32-bit), row
// order (bit 2), the sink's scale denominator (bits 3-4: 1, 2, 4, 8), a
// direct target (bit 5), the stream (bits 6-7: mixed, JPEG, MPEG-4, H.264).
// Then frames, each: a control byte (bits 0-1: in the mixed stream JPEG,
// MPEG-4, H.264, JPEG; bits 2-3 frame kind 1, 2, 4, 0; bits 4-5 the size the
// part's head gave: none, 176x144, 352x288, 704x576), a 16-bit little-endian
// length (cut to what is left) and the bytes.
#include "FuzzSupport.h"
#include "os/dshow/CBaseFilter.h"
#include "os/dshow/CVmrSourceFilter.h"
#include "platform/CMediaObj.h"

#include <turbojpeg.h>

#include <array>
#include <cstdlib>

using fuzz::Check;
using namespace os::dshow;

namespace {

constexpr int32_t kCodes[] = {media_util::kPixelRgb24, media_util::kPixelRgb16, media_util::kPixelI420, 32};
constexpr int32_t kFormats[] = {media_util::kVideoJpeg, media_util::kVideoMpeg4, media_util::kVideoH264QBox,
                                media_util::kVideoJpeg};
constexpr int32_t kKinds[] = {media_util::kFrameKeyWithConfig, media_util::kFrameKey,
                              media_util::kFramePredicted, 0};
constexpr int32_t kSizes[][2] = {{0, 0}, {176, 144}, {352, 288}, {704, 576}};
constexpr int kMaxFrames = 32;
// The direct target's area: the largest picture it takes.
constexpr LONG kDirectMax = 1024;

int BitsPerPixel(int32_t code) {
    return code == media_util::kPixelRgb24   ? 24
           : code == media_util::kPixelRgb16 ? 16
           : code == media_util::kPixelI420  ? 8
                                             : 32;
}

// The renderer's stand-in: accepts any type, checks and reads every picture.
class CSinkFilter : public CBaseFilter {
public:
    CSinkFilter(int32_t code, LONG denominator, bool direct)
        : CBaseFilter(GUID_NULL), mPin(this, code, denominator, direct) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? &mPin : nullptr; }

private:
    class CPin : public CBaseInputPin, public IVideoScaleHint, public IVideoDirectTarget {
    public:
        CPin(CSinkFilter* filter, int32_t code, LONG denominator, bool direct)
            : CBaseInputPin(filter, L"In"), mCode(code), mDenominator(denominator), mDirect(direct),
              mSurface(direct ? size_t(kDirectMax) * kDirectMax * 4 : 0) {}
        HRESULT QueryInterface(REFIID iid, void** out) override {
            if (out != nullptr && iid == IID_IVideoScaleHint && mDenominator > 1)
                return ReturnInterface(static_cast<IPin*>(this), static_cast<IVideoScaleHint*>(this), out);
            if (out != nullptr && iid == IID_IVideoDirectTarget && mDirect)
                return ReturnInterface(static_cast<IPin*>(this), static_cast<IVideoDirectTarget*>(this), out);
            return CBaseInputPin::QueryInterface(iid, out);
        }
        ULONG AddRef() override { return CBasePin::AddRef(); }
        ULONG Release() override { return CBasePin::Release(); }

        HRESULT Receive(const CMediaSample* s) override {
            Check(s != nullptr && s->pData != nullptr && s->lWidth > 0 && s->lHeight != 0);
            const int64_t rows = s->lHeight < 0 ? -int64_t(s->lHeight) : s->lHeight;
            Check(s->lWidth <= 8192 && rows <= 8192);
            Check(int64_t(s->lStride) * 8 >= int64_t(s->lWidth) * BitsPerPixel(mCode));
            const int64_t bytes =
                mCode == media_util::kPixelI420 ? s->lStride * rows * 3 / 2 : s->lStride * rows;
            Check(s->lLength >= bytes);
            uint32_t sum = 0;
            for (int64_t i = 0; i < bytes; ++i)
                sum += s->pData[i];
            mSum += sum;
            return S_OK;
        }
        LONG GetScaleDenominator() override { return mDenominator; }
        bool BeginDirect(LONG width, LONG height, uint8_t** pixels, LONG* stride) override {
            Check(!mInDirect);
            if (width <= 0 || height <= 0 || width > kDirectMax || height > kDirectMax)
                return false;
            mInDirect = true;
            // The area at the end of the surface, so that writing past it is caught.
            *stride = width * 4;
            *pixels = mSurface.data() + (mSurface.size() - size_t(width) * height * 4);
            return true;
        }
        bool BeginPlanar(LONG width, LONG height, int subsampling, uint8_t* planes[3],
                         int strides[3]) override {
            Check(!mInDirect);
            // Every other frame, so that the pixel path runs as well.
            mPlanarTurn = !mPlanarTurn;
            if (!mPlanarTurn || width <= 0 || height <= 0 || width > kDirectMax || height > kDirectMax ||
                subsampling < 0 || subsampling >= TJ_NUMSAMP)
                return false;
            // Planes packed back to back in a buffer of exactly their size,
            // so that writing past the last one is caught.
            size_t total = 0;
            const int count = subsampling == TJSAMP_GRAY ? 1 : 3;
            for (int i = 0; i < count; ++i)
                total += tjPlaneSizeYUV(i, width, 0, height, subsampling);
            mPlanes.assign(total, 0);
            size_t offset = 0;
            for (int i = 0; i < 3; ++i) {
                planes[i] = i < count ? mPlanes.data() + offset : nullptr;
                strides[i] = i < count ? tjPlaneWidth(i, width, subsampling) : 0;
                if (i < count)
                    offset += tjPlaneSizeYUV(i, width, 0, height, subsampling);
            }
            mInDirect = true;
            return true;
        }
        void EndDirect(bool) override {
            Check(mInDirect);
            mInDirect = false;
        }

    protected:
        HRESULT CheckMediaType(const AM_MEDIA_TYPE&) override { return S_OK; }

    private:
        int32_t mCode;
        LONG mDenominator;
        bool mDirect;
        std::vector<uint8_t> mSurface;
        bool mInDirect = false;
        bool mPlanarTurn = false;
        std::vector<uint8_t> mPlanes;
        uint32_t mSum = 0;
    };
    CPin mPin;
};

// One running source filter per stream and output choice, made on first
// use. Scale and direct target concern JPEG alone: MPEG-4 and H.264 streams
// share a filter per pixel code and row order, which bounds the decoders
// kept (and the memory they hold) to what the mixed stream had before.
struct SFilter {
    IVmrSampleInput* input = nullptr;
    CVmrSourceFilter* filter = nullptr;
};

std::array<SFilter, 256> gFilters{};

// Stops every kept filter, breaks its connection (which holds the sink) and
// lets the source go.
void ReleaseFilters() {
    for (SFilter& kept : gFilters) {
        if (kept.input == nullptr)
            continue;
        kept.filter->Stop();
        CBasePin* output = kept.filter->GetPin(0);
        IPin* peer = nullptr;
        if (SUCCEEDED(output->ConnectedTo(&peer)) && peer != nullptr) {
            peer->Disconnect();
            peer->Release();
        }
        output->Disconnect();
        kept.input->Release();
        kept = SFilter{};
    }
}

SFilter Filter(uint8_t choice) {
    const int stream = choice >> 6;
    if (stream >= 2)
        choice &= 0xC7;
    if (fuzz::OverMemoryBudget())
        ReleaseFilters();
    SFilter& kept = gFilters[choice];
    if (kept.input != nullptr)
        return kept;
    const int32_t code = kCodes[choice & 3];
    const bool bottomUp = choice & 4;
    const LONG denominator = LONG(1) << ((choice >> 3) & 3);
    const bool direct = choice & 32;

    IBaseFilter* source = nullptr;
    Check(SUCCEEDED(CVmrSourceFilter::Create(IID_IBaseFilter, reinterpret_cast<void**>(&source))));
    IVmrSampleInput* sampleInput = nullptr;
    Check(SUCCEEDED(source->QueryInterface(IID_IVmrSampleInput, reinterpret_cast<void**>(&sampleInput))));
    media_util::CMediaObj in, out;
    in.mVideoFormat = media_util::kVideoJpeg;
    in.mWidth = 352;
    in.mHeight = 288;
    out.mVideoFormat = code;
    out.mWidth = 352;
    out.mHeight = bottomUp ? 288 : -288;
    Check(sampleInput->Configure(&in, &out, nullptr, nullptr) == S_OK);
    auto* sink = new CSinkFilter(code, denominator, direct);
    CBasePin* output = static_cast<CBaseFilter*>(source)->GetPin(0);
    Check(output->Connect(sink->GetPin(0), nullptr) == S_OK);
    Check(SUCCEEDED(sink->Run(0)) && SUCCEEDED(source->Run(0)));
    // Both filters live until ReleaseFilters; the connection holds the sink.
    sink->Release();
    source->Release();
    kept.input = sampleInput;
    kept.filter = dynamic_cast<CVmrSourceFilter*>(source);
    Check(kept.filter != nullptr);
    return kept;
}

} // namespace

// Hostile sizes are the same code at a smaller bound, and much faster:
// frames of 4096 x 4096 are allocated zeroed, and inputs that alternate
// sizes made the target spend two thirds of its time clearing them. A
// bound given in the environment stands.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("VCODEC_MAX_PIXELS", "1048576", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const SFilter filter = Filter(data[0]);
    const int stream = data[0] >> 6;
    size_t position = 1;
    for (int n = 0; n < kMaxFrames && position + 3 <= size; ++n) {
        const uint8_t control = data[position];
        const size_t length =
            std::min<size_t>(data[position + 1] | size_t(data[position + 2]) << 8, size - position - 3);
        media_util::CMediaObj object;
        object.mVideoFormat = stream == 0 ? kFormats[control & 3] : kFormats[stream - 1];
        object.mFrameKind = kKinds[(control >> 2) & 3];
        object.mWidth = kSizes[(control >> 4) & 3][0];
        object.mHeight = kSizes[(control >> 4) & 3][1];
        Check(object.CopyData(data + position + 3, int32_t(length)) != 0 || length == 0);
        position += 3 + length;
        filter.input->Deliver(&object);
        Check(filter.filter->GetPictureMemory() <= 2 * size_t(media_util::CMediaObj::kMaxDataSize));
    }
    return 0;
}
