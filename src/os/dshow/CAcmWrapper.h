// The ACM wrapper (CLSID_ACMWrapper): decodes the cameras' audio - G.711
// u-law, G.726 at 32 kbit/s and AAC with ADTS headers - into 16-bit PCM
// with libavcodec, for the DirectSound renderer. Intelligent connection puts
// it between a source of compressed audio and the sound renderer.
//
// Threads: Receive on the delivering thread; connection on the owner's.
#pragma once

#include "os/dshow/CBaseFilter.h"

#include <memory>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace os::dshow {

class CAcmWrapper : public CBaseFilter {
public:
    // Defaults for a stream that names no rate or channel count.
    static constexpr DWORD kDefaultNarrowbandRate = 8000;
    static constexpr DWORD kDefaultAacRate = 44100;
    static constexpr WORD kDefaultAacChannels = 2;

    static HRESULT Create(REFIID iid, void** out);

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int index) override;

    // Called by the input pin.
    HRESULT Decode(const CMediaSample& sample);
    // Called by the pins with mLock held.
    bool OpenDecoder(const AM_MEDIA_TYPE& mt);
    void CloseDecoder();
    AM_MEDIA_TYPE PcmType();

    // Blocks that gave no sound (a broken block, a decoder that refused it).
    uint64_t GetDecodeErrors();

private:
    class CInputPin;
    class COutputPin;

    CAcmWrapper();
    ~CAcmWrapper() override;

    std::unique_ptr<CInputPin> mpInput;
    std::unique_ptr<COutputPin> mpOutput;
    // Guarded by mLock.
    AVCodecContext* mpContext = nullptr;
    AVPacket* mpPacket = nullptr;
    AVFrame* mpFrame = nullptr;
    std::vector<int16_t> mPcm;
    uint64_t mDecodeErrors = 0;
};

} // namespace os::dshow
