#include "os/dshow/CVmrSourceFilter.h"

#include "ipcamview/vcodec.h"

#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

using media_util::CMediaObj;

const CLSID CLSID_VMRSourceFilter = {
    0x5C1F7A32, 0x84D6, 0x4E0B, {0x9A, 0x3C, 0x61, 0xE2, 0x0F, 0x7B, 0xD5, 0x48}};
const IID IID_IVmrSampleInput = {
    0xA4E2D913, 0x27B5, 0x4C68, {0x8F, 0x01, 0x3D, 0x9A, 0x6C, 0x52, 0xE7, 0xB0}};

void RegisterVmrSourceFilter() {
    static std::once_flag once;
    std::call_once(once, [] {
        os::dshow::RegisterComClass(CLSID_VMRSourceFilter, "CLSID_VMRSourceFilter",
                                    &os::dshow::CVmrSourceFilter::Create);
    });
}

namespace os::dshow {

namespace {

bool IsCompressed(int32_t code) {
    return code == media_util::kVideoJpeg || code == media_util::kVideoMpeg4 ||
           code == media_util::kVideoH264QBox;
}

int BitsPerPixel(int32_t code) {
    switch (code) {
    case media_util::kPixelRgb24:
        return 24;
    case media_util::kPixelRgb16:
        return 16;
    case media_util::kPixelI420:
        return 12;
    default:
        return 32;
    }
}

// Row length of a picture of the decoder's layout: whole bytes, 4-byte multiple.
int64_t LayoutStride(int32_t code, int32_t width) {
    return ((static_cast<int64_t>(width) * BitsPerPixel(code) + 7) / 8 + 3) & ~int64_t{3};
}

const GUID& PictureSubtype(int32_t code) {
    switch (code) {
    case media_util::kPixelRgb24:
        return MEDIASUBTYPE_RGB24;
    case media_util::kPixelRgb16:
        return MEDIASUBTYPE_RGB565;
    case media_util::kPixelI420:
        return MEDIASUBTYPE_IYUV;
    default:
        return MEDIASUBTYPE_RGB32;
    }
}

// The decoder wrapper's alignment marker: a picture buffer off a 16-byte
// boundary starts with it and the picture 8 bytes later.
constexpr uint8_t kAlignMarker[8] = {0x19, 0x74, 0x10, 0x10, 0x74, 0x19, 0x01, 0x01};

// BGRA rows into the connection's packed format (RGB24 or RGB565), in place
// of a second decode.
void PackRows(const uint8_t* bgra, int width, int rows, int32_t code, uint8_t* out, int64_t outStride) {
    for (int y = 0; y < rows; ++y) {
        const uint8_t* s = bgra + static_cast<int64_t>(y) * width * 4;
        uint8_t* d = out + y * outStride;
        for (int x = 0; x < width; ++x, s += 4) {
            if (code == media_util::kPixelRgb24) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                d += 3;
            } else {
                const unsigned v = ((s[2] >> 3) << 11) | ((s[1] >> 2) << 5) | (s[0] >> 3);
                d[0] = static_cast<uint8_t>(v & 0xFF);
                d[1] = static_cast<uint8_t>(v >> 8);
                d += 2;
            }
        }
    }
}

// How libjpeg-turbo decodes a JPEG frame that is shown: chroma upsampled by
// pixel replication merged with the colour conversion, and the fast integer
// IDCT, which is what GStreamer's jpegdec does by default (idct-method
// "ifast"). On a camsim 1080p frame the fast IDCT differs from the accurate
// one by 48.6 dB PSNR (at most 4 levels) and saves 5 to 10 % of the decode;
// the picture is looked at, not measured. docs/rendering.md.
constexpr int kShownJpegFlags = TJFLAG_FASTUPSAMPLE | TJFLAG_FASTDCT;

// A picture buffer up to this size is kept whatever comes next (a 1080p
// picture of 32 bits is 8 MB); a larger one is let go when pictures become
// a quarter of its size.
constexpr size_t kKeptPictureBytes = 16 * 1024 * 1024;

std::atomic<bool> gScaledDecoding{true};
std::atomic<bool> gPlanarPictures{true};

} // namespace

void CVmrSourceFilter::SetPlanarPictures(bool enabled) {
    gPlanarPictures = enabled;
}

bool CVmrSourceFilter::IsPlanarPictures() {
    return gPlanarPictures.load();
}

void CVmrSourceFilter::SetScaledDecoding(bool enabled) {
    gScaledDecoding = enabled;
}

bool CVmrSourceFilter::IsScaledDecoding() {
    return gScaledDecoding.load();
}

class CVmrSourceFilter::COutputPin : public CBasePin {
public:
    explicit COutputPin(CVmrSourceFilter* filter)
        : CBasePin(filter, PINDIR_OUTPUT, L"Output"), mpSource(filter) {}
    ~COutputPin() override { DropHint(); }

    LONG ScaleDenominator() { return mpHint != nullptr ? mpHint->GetScaleDenominator() : 1; }
    IVideoDirectTarget* DirectTarget() { return mpDirect; }

protected:
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override { return mpSource->CheckOutputType(mt); }
    HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt) override {
        return index == 0 && mpSource->OutputType(mt) ? S_OK : S_FALSE;
    }
    HRESULT CompleteConnect(IPin* peer) override {
        DropHint();
        if (FAILED(peer->QueryInterface(IID_IVideoScaleHint, reinterpret_cast<void**>(&mpHint))))
            mpHint = nullptr;
        if (FAILED(peer->QueryInterface(IID_IVideoDirectTarget, reinterpret_cast<void**>(&mpDirect))))
            mpDirect = nullptr;
        return S_OK;
    }
    void BreakConnect() override { DropHint(); }

private:
    void DropHint() {
        if (mpHint != nullptr) {
            mpHint->Release();
            mpHint = nullptr;
        }
        if (mpDirect != nullptr) {
            mpDirect->Release();
            mpDirect = nullptr;
        }
    }
    CVmrSourceFilter* mpSource;
    IVideoScaleHint* mpHint = nullptr;      // counted; guarded by the filter's lock
    IVideoDirectTarget* mpDirect = nullptr; // counted; guarded by the filter's lock
};

HRESULT CVmrSourceFilter::Create(REFIID iid, void** out) {
    auto* filter = new CVmrSourceFilter();
    HRESULT hr = filter->QueryInterface(iid, out);
    filter->Release();
    return hr;
}

CVmrSourceFilter::CVmrSourceFilter()
    : CBaseFilter(CLSID_VMRSourceFilter), mpOutput(std::make_unique<COutputPin>(this)) {}

CVmrSourceFilter::~CVmrSourceFilter() {
    ReleaseDecoder();
    if (m_hJpeg != nullptr)
        tjDestroy(m_hJpeg);
}

HRESULT CVmrSourceFilter::QueryInterface(REFIID iid, void** out) {
    if (out != nullptr && iid == IID_IVmrSampleInput) {
        HRESULT hr = CheckQueryFault("IID_IVmrSampleInput", Name().c_str());
        if (FAILED(hr)) {
            *out = nullptr;
            return hr;
        }
        return ReturnInterface(static_cast<IBaseFilter*>(this), static_cast<IVmrSampleInput*>(this), out);
    }
    return CBaseFilter::QueryInterface(iid, out);
}

CBasePin* CVmrSourceFilter::GetPin(int index) {
    return index == 0 ? mpOutput.get() : nullptr;
}

bool CVmrSourceFilter::OutputType(AM_MEDIA_TYPE* mt) {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (!mConfigured)
        return false;
    const CMediaObj& f = mOutputFormat;
    if (f.mVideoFormat != 0) {
        if (f.mWidth <= 0 || f.mHeight == 0)
            return false;
        const GUID& sub = f.mVideoFormat == media_util::kVideoJpeg       ? MEDIASUBTYPE_MJPG
                          : f.mVideoFormat == media_util::kVideoMpeg4    ? MEDIASUBTYPE_MP4V
                          : f.mVideoFormat == media_util::kVideoH264QBox ? MEDIASUBTYPE_H264
                                                                         : PictureSubtype(f.mVideoFormat);
        *mt = MakeMediaType(MEDIATYPE_Video, sub);
        mt->biWidth = f.mWidth;
        mt->biHeight = f.mHeight;
        return true;
    }
    const GUID& sub = f.mAudioFormat == media_util::kAudioUlaw   ? MEDIASUBTYPE_MULAW
                      : f.mAudioFormat == media_util::kAudio2010 ? MEDIASUBTYPE_RAW_AAC1
                      : f.mAudioFormat == media_util::kAudio2020 ? MEDIASUBTYPE_G726
                                                                 : GUID_NULL;
    if (sub == GUID_NULL)
        return false;
    *mt = MakeMediaType(MEDIATYPE_Audio, sub);
    mt->nChannels = static_cast<WORD>(std::max(f.mAudioChannels, 0));
    mt->nSamplesPerSec = static_cast<DWORD>(std::max(f.mSampleRate, 0));
    mt->wBitsPerSample = static_cast<WORD>(std::max(f.mBitsPerSample, 0));
    return true;
}

HRESULT CVmrSourceFilter::CheckOutputType(const AM_MEDIA_TYPE& mt) {
    AM_MEDIA_TYPE own;
    if (!OutputType(&own))
        return S_FALSE;
    return mt.majortype == own.majortype && mt.subtype == own.subtype && mt.biWidth == own.biWidth &&
                   mt.biHeight == own.biHeight && mt.nChannels == own.nChannels &&
                   mt.nSamplesPerSec == own.nSamplesPerSec
               ? S_OK
               : S_FALSE;
}

HRESULT CVmrSourceFilter::Configure(const CMediaObj* input, const CMediaObj* output,
                                    media_util::CManualEvent* event1, media_util::CManualEvent* event2) {
    HRESULT hr = Fault("IVmrSampleInput::Configure");
    if (FAILED(hr))
        return hr;
    if (input == nullptr || output == nullptr)
        return E_POINTER;
    if (output->mVideoFormat == 0 && output->mAudioFormat == 0)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (mpOutput->IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    input->CloneMe(&mInputFormat, CMediaObj::kCloneHeader);
    output->CloneMe(&mOutputFormat, CMediaObj::kCloneHeader);
    mpStopEvent = event1;
    mpShownEvent = event2;
    mConfigured = true;
    ReleaseDecoder();
    return S_OK;
}

void CVmrSourceFilter::ReleaseDecoder() {
    if (mCodecHandle >= 0)
        ReleaseCodec(mCodecHandle);
    mCodecHandle = -1;
    mCodecFormat = 0;
    mQBox.clear();
    mWaitForKeyFrame = false;
}

int CVmrSourceFilter::Deliver(const CMediaObj* object) {
    if (object == nullptr)
        return 0;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (!mConfigured || State() != State_Running || !mpOutput->IsConnected())
        return 0;
    if (mpStopEvent != nullptr && mpStopEvent->IsSignalled())
        return 0;
    CMediaSample sample;
    const CMediaObj& out = mOutputFormat;
    bool ready = false;
    if (out.mVideoFormat != 0 && !IsCompressed(out.mVideoFormat)) {
        if (DecodeJpegDirect(*object)) {
            ++mDelivered;
            if (mpShownEvent != nullptr)
                mpShownEvent->Set();
            return 1;
        }
        ready = DecodeVideo(*object, &sample);
    } else if (out.mVideoFormat != 0) {
        // A decoder filter follows: the compressed frame goes on as it is.
        if (object->mVideoFormat == out.mVideoFormat && object->mpData != nullptr && object->mDataSize > 0) {
            sample.pData = object->mpData;
            sample.lLength = object->mDataSize;
            sample.lWidth = object->mWidth;
            sample.lHeight = object->mHeight;
            ready = true;
        }
    } else if (object->mAudioFormat == out.mAudioFormat && object->mpData2 != nullptr &&
               object->mDataLength2 > 0) {
        sample.pData = object->mpData2;
        sample.lLength = object->mDataLength2;
        ready = true;
    }
    if (!ready) {
        ++mRejected;
        return 0;
    }
    if (mpOutput->Deliver(sample) != S_OK)
        return 0;
    ++mDelivered;
    if (mpShownEvent != nullptr)
        mpShownEvent->Set();
    return 1;
}

bool CVmrSourceFilter::DecodeVideo(const CMediaObj& object, CMediaSample* sample) {
    if (object.mpData == nullptr || object.mDataSize <= 0)
        return false;
    if (object.mVideoFormat == mOutputFormat.mVideoFormat)
        return PassPicture(object, sample);
    if (!IsCompressed(object.mVideoFormat))
        return false;
    if (object.mVideoFormat == media_util::kVideoJpeg) {
        const LONG d = gScaledDecoding.load() ? mpOutput->ScaleDenominator() : 1;
        if (d > 1 && mOutputFormat.mVideoFormat != media_util::kPixelI420 &&
            DecodeJpegScaled(object, d, sample))
            return true;
    }
    return DecodeWithCodec(object, sample);
}

bool CVmrSourceFilter::DecodeJpegDirect(const CMediaObj& object) {
    const int32_t code = mOutputFormat.mVideoFormat;
    IVideoDirectTarget* target = mpOutput->DirectTarget();
    if (target == nullptr || object.mVideoFormat != media_util::kVideoJpeg || object.mpData == nullptr ||
        object.mDataSize <= 0 || code == media_util::kPixelRgb24 || code == media_util::kPixelRgb16 ||
        code == media_util::kPixelI420)
        return false;
    // Shown small: the scaled decode is cheaper still.
    if (gScaledDecoding.load() && mpOutput->ScaleDenominator() > 1)
        return false;
    if (m_hJpeg == nullptr)
        m_hJpeg = tjInitDecompress();
    if (m_hJpeg == nullptr)
        return false;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    const auto size = static_cast<unsigned long>(object.mDataSize);
    // The planar decoder reads the header once for the size asked of the
    // window and for the decode; pictures it does not take are sized by
    // turbojpeg.
    const bool planar = gPlanarPictures.load();
    if (planar && mpJpegPlanes == nullptr)
        mpJpegPlanes = std::make_unique<CJpegPlanes>();
    if (!(planar && mpJpegPlanes->ReadHeader(object.mpData, size, &width, &height, &subsampling)) &&
        tjDecompressHeader3(m_hJpeg, object.mpData, size, &width, &height, &subsampling, &colourspace) != 0)
        return false;
    // Planes, as JPEG holds the picture: what the colour conversion would
    // cost is paid only where the picture is looked at.
    uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    int strides[3] = {0, 0, 0};
    if (planar && target->BeginPlanar(width, height, subsampling, planes, strides)) {
        const CJpegPlanes::EResult result =
            mpJpegPlanes->Decode(object.mpData, size, width, height, subsampling, planes, strides);
        const bool ok = result == CJpegPlanes::EResult::NotMine
                            ? tjDecompressToYUVPlanes(m_hJpeg, object.mpData, size, planes, width, strides,
                                                      height, kShownJpegFlags) == 0
                            : result == CJpegPlanes::EResult::Decoded;
        target->EndDirect(ok);
        if (ok) {
            ++mDirectDecodes;
            ++mPlanarDecodes;
        }
        return ok;
    }
    uint8_t* pixels = nullptr;
    LONG stride = 0;
    if (!target->BeginDirect(width, height, &pixels, &stride))
        return false;
    // Straight into the window: top-down, B, G, R and a fourth byte that
    // the surface does not look at.
    const bool ok = tjDecompress2(m_hJpeg, object.mpData, size, pixels, width, stride, height, TJPF_BGRX,
                                  kShownJpegFlags) == 0;
    target->EndDirect(ok);
    if (ok)
        ++mDirectDecodes;
    return ok;
}

bool CVmrSourceFilter::PassPicture(const CMediaObj& object, CMediaSample* sample) {
    const int32_t width = object.mWidth;
    const int32_t height = object.mHeight;
    if (width <= 0 || height == 0)
        return false;
    const uint8_t* data = object.mpData;
    int32_t length = object.mDataSize;
    if ((reinterpret_cast<uintptr_t>(data) & 15) != 0 && length >= 8 &&
        std::memcmp(data, kAlignMarker, 8) == 0) {
        data += 8;
        length -= 8;
    }
    const int32_t code = mOutputFormat.mVideoFormat;
    sample->pData = data;
    sample->lLength = length;
    sample->lWidth = width;
    sample->lHeight = height;
    sample->lStride = code == media_util::kPixelI420 ? width : static_cast<LONG>(LayoutStride(code, width));
    return true;
}

bool CVmrSourceFilter::SizeBuffer(std::vector<uint8_t>& buffer, int64_t bytes) {
    // A picture is at most what a media object may carry: a JPEG header
    // that claims 30000 x 30000 pixels would otherwise cost gigabytes and
    // seconds of decoding for a frame of a few hundred bytes.
    if (bytes <= 0 || bytes > CMediaObj::kMaxDataSize)
        return false;
    const auto size = static_cast<size_t>(bytes);
    // One large picture (a hostile frame, a channel shown larger for a
    // while) does not keep its memory once pictures are small again.
    if (size < buffer.capacity() / 4 && buffer.capacity() > kKeptPictureBytes)
        std::vector<uint8_t>().swap(buffer);
    buffer.resize(size);
    return true;
}

bool CVmrSourceFilter::DecodeJpegScaled(const CMediaObj& object, LONG denominator, CMediaSample* sample) {
    if (m_hJpeg == nullptr)
        m_hJpeg = tjInitDecompress();
    if (m_hJpeg == nullptr)
        return false;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    auto* jpeg = object.mpData;
    const auto size = static_cast<unsigned long>(object.mDataSize);
    if (tjDecompressHeader3(m_hJpeg, jpeg, size, &width, &height, &subsampling, &colourspace) != 0 ||
        width > VCODEC_MAX_DIMENSION || height > VCODEC_MAX_DIMENSION)
        return false;
    const tjscalingfactor factor{1, static_cast<int>(denominator)};
    const int w = TJSCALED(width, factor);
    const int h = TJSCALED(height, factor);
    if (w <= 0 || h <= 0)
        return false;
    const int32_t code = mOutputFormat.mVideoFormat;
    const bool bottomUp = mOutputFormat.mHeight > 0;
    const int flags = kShownJpegFlags | (bottomUp ? TJFLAG_BOTTOMUP : 0);
    const int64_t stride = LayoutStride(code, w);
    if (!SizeBuffer(mPicture, stride * h))
        return false;
    if (code == media_util::kPixelRgb24 || code == media_util::kPixelRgb16) {
        if (!SizeBuffer(mScratch, int64_t{w} * h * 4))
            return false;
        if (tjDecompress2(m_hJpeg, jpeg, size, mScratch.data(), w, w * 4, h, TJPF_BGRA, flags) != 0)
            return false;
        PackRows(mScratch.data(), w, h, code, mPicture.data(), stride);
    } else if (tjDecompress2(m_hJpeg, jpeg, size, mPicture.data(), w, static_cast<int>(stride), h, TJPF_BGRA,
                             flags) != 0) {
        return false;
    }
    ++mScaledDecodes;
    sample->pData = mPicture.data();
    sample->lLength = static_cast<LONG>(mPicture.size());
    sample->lWidth = w;
    sample->lHeight = bottomUp ? h : -h;
    sample->lStride = static_cast<LONG>(stride);
    sample->lNativeWidth = width;
    sample->lNativeHeight = height;
    return true;
}

bool CVmrSourceFilter::DecodeWithCodec(const CMediaObj& object, CMediaSample* sample) {
    const int32_t code = mOutputFormat.mVideoFormat;
    // The picture's size: a JPEG image says it in its header; for MPEG-4
    // and H.264 the object's size (from the stream's headers) or else the
    // configured one.
    int32_t width = object.mWidth > 0 ? object.mWidth : mInputFormat.mWidth;
    int32_t height = object.mHeight != 0 ? std::abs(object.mHeight) : std::abs(mInputFormat.mHeight);
    if (object.mVideoFormat == media_util::kVideoJpeg) {
        if (m_hJpeg == nullptr)
            m_hJpeg = tjInitDecompress();
        int w = 0, h = 0, sub = 0, cs = 0;
        if (m_hJpeg == nullptr ||
            tjDecompressHeader3(m_hJpeg, object.mpData, static_cast<unsigned long>(object.mDataSize), &w, &h,
                                &sub, &cs) != 0)
            return false;
        width = w;
        height = h;
    }
    if (width <= 0 || height <= 0 || width > VCODEC_MAX_DIMENSION || height > VCODEC_MAX_DIMENSION)
        return false;
    const int32_t signedHeight = mOutputFormat.mHeight < 0 ? -height : height;
    if (mCodecHandle < 0 || mCodecFormat != object.mVideoFormat) {
        ReleaseDecoder();
        mCodecHandle = CreateCodec(object.mVideoFormat, code, width, signedHeight, 30);
        if (mCodecHandle < 0)
            return false;
        mCodecFormat = object.mVideoFormat;
    }
    mCodecWidth = width;
    mCodecHeight = height;
    const int64_t stride = LayoutStride(code, width);
    const int64_t pictureSize = stride * height;
    if (!SizeBuffer(mPicture, pictureSize))
        return false;
    int32_t produced = 0;
    if (object.mVideoFormat != media_util::kVideoH264QBox) {
        int32_t inLength = object.mDataSize;
        int32_t outSize = static_cast<int32_t>(pictureSize);
        if (Decode(mCodecHandle, object.mpData, &inLength, mPicture.data(), &outSize) == 0)
            return false;
        produced = outSize;
    } else {
        // H.264 access units end only when the next begins: the extracted
        // stream is kept across objects and decoded as far as it goes.
        const bool key = object.mFrameKind == media_util::kFrameKeyWithConfig ||
                         object.mFrameKind == media_util::kFrameKey;
        if (mWaitForKeyFrame && !key)
            return false;
        const size_t fill = mQBox.size();
        if (fill + static_cast<size_t>(object.mDataSize) > static_cast<size_t>(kQBoxBufferSize)) {
            mQBox.clear();
            mWaitForKeyFrame = !key;
            if (!key)
                return false;
        }
        mWaitForKeyFrame = false;
        mQBox.resize(mQBox.size() + static_cast<size_t>(object.mDataSize));
        int32_t extracted = 0;
        CMediaObj::ExtractQBox(object.mpData, mQBox.data() + fill, object.mDataSize, &extracted);
        mQBox.resize(fill + static_cast<size_t>(extracted));
        for (int i = 0; i < kMaxPicturesPerObject && !mQBox.empty(); ++i) {
            int32_t inLength = static_cast<int32_t>(mQBox.size());
            int32_t outSize = static_cast<int32_t>(pictureSize);
            if (Decode(mCodecHandle, mQBox.data(), &inLength, mPicture.data(), &outSize) == 0)
                break;
            produced = outSize;
            mQBox.erase(mQBox.begin(),
                        mQBox.begin() + std::clamp<int32_t>(inLength, 0, static_cast<int32_t>(mQBox.size())));
        }
        if (produced == 0)
            return false;
    }
    // A picture of another size than expected (a stream that changed its
    // size without saying so) is not shown rather than shown wrong.
    if (produced != pictureSize)
        return false;
    sample->pData = mPicture.data();
    sample->lLength = produced;
    sample->lWidth = width;
    sample->lHeight = signedHeight;
    sample->lStride = code == media_util::kPixelI420 ? width : static_cast<LONG>(stride);
    return true;
}

uint64_t CVmrSourceFilter::GetDelivered() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mDelivered;
}

size_t CVmrSourceFilter::GetPictureMemory() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mPicture.capacity() + mScratch.capacity();
}

uint64_t CVmrSourceFilter::GetScaledDecodes() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mScaledDecodes;
}

uint64_t CVmrSourceFilter::GetDirectDecodes() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mDirectDecodes;
}

uint64_t CVmrSourceFilter::GetPlanarDecodes() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mPlanarDecodes;
}

uint64_t CVmrSourceFilter::GetRejected() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mRejected;
}

} // namespace os::dshow
