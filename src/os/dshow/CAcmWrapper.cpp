#include "os/dshow/CAcmWrapper.h"

#include "os/dshow/AudioLibraries.h"

#include <algorithm>
#include <cmath>

namespace os::dshow {

namespace {

AVCodecID CodecOf(REFGUID subtype) {
    if (subtype == MEDIASUBTYPE_MULAW)
        return AV_CODEC_ID_PCM_MULAW;
    if (subtype == MEDIASUBTYPE_G726)
        return AV_CODEC_ID_ADPCM_G726;
    if (subtype == MEDIASUBTYPE_RAW_AAC1)
        return AV_CODEC_ID_AAC;
    return AV_CODEC_ID_NONE;
}

int16_t ToS16(float v) {
    const float s = std::clamp(v, -1.0f, 1.0f) * 32767.0f;
    return static_cast<int16_t>(std::lrintf(s));
}

// Appends a decoded frame as interleaved signed 16-bit samples.
bool AppendFrame(const AVFrame& frame, std::vector<int16_t>* pcm) {
    const int channels = frame.ch_layout.nb_channels;
    const int samples = frame.nb_samples;
    if (channels <= 0 || samples <= 0)
        return false;
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar =
        format == AV_SAMPLE_FMT_S16P || format == AV_SAMPLE_FMT_FLTP || format == AV_SAMPLE_FMT_S32P;
    for (int i = 0; i < samples; ++i) {
        for (int c = 0; c < channels; ++c) {
            const int plane = planar ? c : 0;
            const int index = planar ? i : i * channels + c;
            const uint8_t* data = frame.extended_data[plane];
            switch (format) {
            case AV_SAMPLE_FMT_S16:
            case AV_SAMPLE_FMT_S16P:
                pcm->push_back(reinterpret_cast<const int16_t*>(data)[index]);
                break;
            case AV_SAMPLE_FMT_S32:
            case AV_SAMPLE_FMT_S32P:
                pcm->push_back(static_cast<int16_t>(reinterpret_cast<const int32_t*>(data)[index] >> 16));
                break;
            case AV_SAMPLE_FMT_FLT:
            case AV_SAMPLE_FMT_FLTP:
                pcm->push_back(ToS16(reinterpret_cast<const float*>(data)[index]));
                break;
            default:
                return false;
            }
        }
    }
    return true;
}

} // namespace

class CAcmWrapper::CInputPin : public CBaseInputPin {
public:
    explicit CInputPin(CAcmWrapper* filter) : CBaseInputPin(filter, L"Input"), mpAcm(filter) {}

    HRESULT Receive(const CMediaSample* sample) override {
        if (sample == nullptr)
            return E_POINTER;
        return mpAcm->Decode(*sample);
    }

protected:
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        if (mt.majortype != MEDIATYPE_Audio || CodecOf(mt.subtype) == AV_CODEC_ID_NONE)
            return S_FALSE;
        // Without libavcodec nothing could be decoded: refuse, so that the
        // graph reports the audio path as not connected.
        return AvCodec() != nullptr ? S_OK : S_FALSE;
    }
    HRESULT CompleteConnect(IPin*) override { return mpAcm->OpenDecoder(mMediaType) ? S_OK : E_FAIL; }
    void BreakConnect() override { mpAcm->CloseDecoder(); }

private:
    CAcmWrapper* mpAcm;
};

class CAcmWrapper::COutputPin : public CBasePin {
public:
    explicit COutputPin(CAcmWrapper* filter) : CBasePin(filter, PINDIR_OUTPUT, L"Output"), mpAcm(filter) {}

protected:
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        AM_MEDIA_TYPE offered;
        if (GetMediaType(0, &offered) != S_OK)
            return S_FALSE;
        return mt.majortype == offered.majortype && mt.subtype == offered.subtype &&
                       mt.nSamplesPerSec == offered.nSamplesPerSec && mt.nChannels == offered.nChannels &&
                       mt.wBitsPerSample == offered.wBitsPerSample
                   ? S_OK
                   : S_FALSE;
    }
    HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt) override {
        if (index != 0 || !mpAcm->mpInput->IsConnected())
            return S_FALSE;
        *mt = mpAcm->PcmType();
        return S_OK;
    }

private:
    CAcmWrapper* mpAcm;
};

HRESULT CAcmWrapper::Create(REFIID iid, void** out) {
    auto* filter = new CAcmWrapper();
    HRESULT hr = filter->QueryInterface(iid, out);
    filter->Release();
    return hr;
}

CAcmWrapper::CAcmWrapper()
    : CBaseFilter(CLSID_ACMWrapper), mpInput(std::make_unique<CInputPin>(this)),
      mpOutput(std::make_unique<COutputPin>(this)) {}

CAcmWrapper::~CAcmWrapper() {
    CloseDecoder();
}

CBasePin* CAcmWrapper::GetPin(int index) {
    if (index == 0)
        return mpInput.get();
    if (index == 1)
        return mpOutput.get();
    return nullptr;
}

AM_MEDIA_TYPE CAcmWrapper::PcmType() {
    const AM_MEDIA_TYPE& in = mpInput->MediaType();
    const bool aac = in.subtype == MEDIASUBTYPE_RAW_AAC1;
    AM_MEDIA_TYPE mt = MakeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    mt.nSamplesPerSec = in.nSamplesPerSec != 0 ? in.nSamplesPerSec
                        : aac                  ? kDefaultAacRate
                                               : kDefaultNarrowbandRate;
    mt.nChannels = in.nChannels != 0 ? in.nChannels : aac ? kDefaultAacChannels : 1;
    mt.wBitsPerSample = 16;
    return mt;
}

bool CAcmWrapper::OpenDecoder(const AM_MEDIA_TYPE& mt) {
    CloseDecoder();
    const SAvCodecApi* av = AvCodec();
    if (av == nullptr)
        return false;
    const AVCodec* codec = av->find_decoder(CodecOf(mt.subtype));
    if (codec == nullptr)
        return false;
    mpContext = av->alloc_context3(codec);
    if (mpContext == nullptr)
        return false;
    // A damaged audio frame is dropped; what the decoder says about it is
    // debug output, not lines on the host's stderr for every frame.
    mpContext->log_level_offset = AV_LOG_DEBUG - AV_LOG_ERROR;
    const AM_MEDIA_TYPE pcm = PcmType();
    mpContext->sample_rate = static_cast<int>(pcm.nSamplesPerSec);
    av->channel_layout_default(&mpContext->ch_layout, pcm.nChannels);
    // G.726 at 32 kbit/s: four bits a sample, as the cameras send it.
    if (mt.subtype == MEDIASUBTYPE_G726)
        mpContext->bits_per_coded_sample = 4;
    mpPacket = av->packet_alloc();
    mpFrame = av->frame_alloc();
    if (mpPacket == nullptr || mpFrame == nullptr || av->open2(mpContext, codec, nullptr) < 0) {
        CloseDecoder();
        return false;
    }
    return true;
}

void CAcmWrapper::CloseDecoder() {
    const SAvCodecApi* av = AvCodec();
    if (av == nullptr)
        return;
    if (mpContext != nullptr)
        av->free_context(&mpContext);
    if (mpPacket != nullptr)
        av->packet_free(&mpPacket);
    if (mpFrame != nullptr)
        av->frame_free(&mpFrame);
}

uint64_t CAcmWrapper::GetDecodeErrors() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mDecodeErrors;
}

HRESULT CAcmWrapper::Decode(const CMediaSample& sample) {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (State() != State_Running)
        return S_FALSE;
    if (mpContext == nullptr || sample.pData == nullptr || sample.lLength <= 0)
        return E_INVALIDARG;
    const SAvCodecApi* av = AvCodec();
    // The decoder only reads the packet's bytes during send_packet.
    mpPacket->data = const_cast<uint8_t*>(sample.pData);
    mpPacket->size = sample.lLength;
    int rc = av->send_packet(mpContext, mpPacket);
    mpPacket->data = nullptr;
    mpPacket->size = 0;
    if (rc < 0) {
        ++mDecodeErrors;
        return S_FALSE;
    }
    mPcm.clear();
    while (av->receive_frame(mpContext, mpFrame) == 0) {
        if (!AppendFrame(*mpFrame, &mPcm))
            ++mDecodeErrors;
    }
    if (mPcm.empty())
        return S_OK;
    CMediaSample out;
    out.pData = reinterpret_cast<const uint8_t*>(mPcm.data());
    out.lLength = static_cast<LONG>(mPcm.size() * sizeof(int16_t));
    return mpOutput->Deliver(out);
}

} // namespace os::dshow
