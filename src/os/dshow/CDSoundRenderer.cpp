#include "os/dshow/CDSoundRenderer.h"

#include "os/dshow/AudioLibraries.h"

#include <SDL2/SDL.h>

namespace os::dshow {

class CDSoundRenderer::CInputPin : public CBaseInputPin {
public:
    explicit CInputPin(CDSoundRenderer* filter)
        : CBaseInputPin(filter, L"Audio Input pin (rendered)"), mpRenderer(filter) {}

    HRESULT Receive(const CMediaSample* sample) override {
        if (sample == nullptr)
            return E_POINTER;
        return mpRenderer->Play(*sample);
    }

protected:
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return mt.majortype == MEDIATYPE_Audio && mt.subtype == MEDIASUBTYPE_PCM && mt.wBitsPerSample == 16 &&
                       mt.nChannels >= 1 && mt.nChannels <= 8 && mt.nSamplesPerSec > 0
                   ? S_OK
                   : S_FALSE;
    }

private:
    CDSoundRenderer* mpRenderer;
};

HRESULT CDSoundRenderer::Create(REFIID iid, void** out) {
    auto* filter = new CDSoundRenderer();
    HRESULT hr = filter->QueryInterface(iid, out);
    filter->Release();
    return hr;
}

CDSoundRenderer::CDSoundRenderer()
    : CBaseFilter(CLSID_DSoundRender), mpInput(std::make_unique<CInputPin>(this)) {}

CDSoundRenderer::~CDSoundRenderer() {
    CloseDevice();
}

CBasePin* CDSoundRenderer::GetPin(int index) {
    return index == 0 ? mpInput.get() : nullptr;
}

void CDSoundRenderer::OnStateChange(FILTER_STATE from, FILTER_STATE to) {
    if (to == State_Running && mDevice == 0 && mpInput->IsConnected())
        OpenDevice();
    else if (to == State_Stopped)
        CloseDevice();
}

void CDSoundRenderer::OpenDevice() {
    const AM_MEDIA_TYPE& mt = mpInput->MediaType();
    mBytesPerSecond = mt.nSamplesPerSec * mt.nChannels * 2;
    // A test makes the device "absent" to reach the null sink on any machine.
    if (FAILED(Fault("SDL_OpenAudioDevice")))
        return;
    const SSdlAudioApi* sdl = SdlAudio();
    if (sdl == nullptr || sdl->InitSubSystem(SDL_INIT_AUDIO) != 0)
        return;
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(mt.nSamplesPerSec);
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(mt.nChannels);
    want.samples = 1024;
    mDevice = sdl->OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (mDevice == 0) {
        sdl->QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
    sdl->PauseAudioDevice(mDevice, 0);
}

void CDSoundRenderer::CloseDevice() {
    if (mDevice == 0)
        return;
    const SSdlAudioApi* sdl = SdlAudio();
    sdl->CloseAudioDevice(mDevice);
    sdl->QuitSubSystem(SDL_INIT_AUDIO);
    mDevice = 0;
}

HRESULT CDSoundRenderer::Play(const CMediaSample& sample) {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (State() != State_Running)
        return S_FALSE;
    if (sample.pData == nullptr || sample.lLength <= 0)
        return E_INVALIDARG;
    const uint64_t bytes = static_cast<uint64_t>(sample.lLength);
    if (mDevice == 0) {
        mBytesPlayed += bytes;
        return S_OK;
    }
    const SSdlAudioApi* sdl = SdlAudio();
    const uint64_t limit = static_cast<uint64_t>(mBytesPerSecond) * kMaxQueuedMs / 1000;
    if (sdl->GetQueuedAudioSize(mDevice) + bytes > limit ||
        sdl->QueueAudio(mDevice, sample.pData, static_cast<Uint32>(sample.lLength)) != 0) {
        mBytesDropped += bytes;
        return S_FALSE;
    }
    mBytesPlayed += bytes;
    return S_OK;
}

bool CDSoundRenderer::IsDeviceOpen() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mDevice != 0;
}

uint64_t CDSoundRenderer::GetBytesPlayed() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mBytesPlayed;
}

uint64_t CDSoundRenderer::GetBytesDropped() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mBytesDropped;
}

} // namespace os::dshow
