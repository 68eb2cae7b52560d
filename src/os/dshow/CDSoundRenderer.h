// The DirectSound renderer (CLSID_DSoundRender): plays 16-bit PCM through an
// SDL2 audio device, opened when the graph runs and closed when it stops.
// Where no audio device opens (a machine without sound, a test), the filter
// plays into a null sink that only counts, so a viewer works the same with
// or without speakers.
//
// Threads: Receive on the delivering thread; state changes on the owner's.
#pragma once

#include "os/dshow/CBaseFilter.h"

#include <cstdint>
#include <memory>

namespace os::dshow {

class CDSoundRenderer : public CBaseFilter {
public:
    // Sound queued on the device at most; a block that would go past it is
    // dropped, so a source that delivers faster than the device plays (or
    // a device that stalled) costs no memory and no growing delay.
    static constexpr uint32_t kMaxQueuedMs = 1000;

    static HRESULT Create(REFIID iid, void** out);

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override;

    // Called by the input pin.
    HRESULT Play(const CMediaSample& sample);

    // --- For tests and the host ---
    // True while an audio device is open (false: the null sink).
    bool IsDeviceOpen();
    // PCM bytes taken (played or counted by the null sink) and dropped.
    uint64_t GetBytesPlayed();
    uint64_t GetBytesDropped();

protected:
    void OnStateChange(FILTER_STATE from, FILTER_STATE to) override;

private:
    class CInputPin;

    CDSoundRenderer();
    ~CDSoundRenderer() override;
    void OpenDevice();
    void CloseDevice();

    std::unique_ptr<CInputPin> mpInput;
    // Guarded by mLock.
    uint32_t mDevice = 0; // SDL audio device id; 0 = none
    uint32_t mBytesPerSecond = 0;
    uint64_t mBytesPlayed = 0;
    uint64_t mBytesDropped = 0;
};

} // namespace os::dshow
