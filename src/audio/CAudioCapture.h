// The audio capture set-up every viewer makes when it is constructed: a
// capture device of the machine and a stopped capture buffer with
// notification points. The viewer starts no capture and reads nothing; it
// keeps whether this set-up succeeded as its audio-capture-ready flag.
//
// Prepare:
//  1. enumerates the capture devices; the first one with an identity becomes
//     the process's capture device, once per process: every later viewer
//     uses it, whatever is enumerated then. The primary device, which comes
//     without an identity, is passed over;
//  2. opens that device (the primary device when none was found);
//  3. under the wait cursor (the window layer's IDC_WAIT, the current cursor
//     put back afterwards), asks the device about each of the 20 probe
//     formats (ProbeFormat) by describing a one-second buffer for it, and
//     notes which it takes;
//  4. describes the capture buffer for 8000 Hz, 16 bits, mono: 2000-byte
//     chunks (125 ms), 16 of them (2 s, 32000 bytes), a notification at the
//     last byte of every chunk (1999, 3999, ... 31999), each signalling the
//     notification event.
// A machine without a capture device fails at step 2 and the viewer works on
// without audio capture.
//
// Threads: construction, Prepare and destruction run on the thread that
// constructs the viewer (the host's thread calling Start). The process-wide
// device is chosen under a lock of its own, so viewers constructed at once on
// several threads agree on it.
#pragma once

#include "os/dsound/DSound.h"
#include "os/kernel/Kernel.h"

#include <cstdint>

class CAudioCapture {
public:
    static constexpr int kProbeFormatCount = 20;
    // 8000 Hz, 16 bits, mono: 16000 bytes per second.
    static constexpr int kCaptureFormatIndex = 17;
    static constexpr int kNotificationCount = 16;
    // The chunk of a format with fewer than kSmallChunkLimit bytes per second
    // (rounded down to 8) is kSmallChunkBytes; otherwise one eighth of a
    // second. Either is then cut to whole sample blocks.
    static constexpr DWORD kSmallChunkLimit = 8192;
    static constexpr DWORD kSmallChunkBytes = 1024;
    static constexpr DWORD kChunksPerSecond = 8;

    CAudioCapture();
    virtual ~CAudioCapture();
    CAudioCapture(const CAudioCapture&) = delete;
    CAudioCapture& operator=(const CAudioCapture&) = delete;

    // 0 on success; otherwise the first failing (negative) result: no device
    // (DSERR_NODRIVER), a busy device (DSERR_ALLOCATED), a device that does
    // not take the capture format (DSERR_BADFORMAT). Called once, right after
    // construction.
    HRESULT Prepare();

    // Probe format `index` (0 to 19): PCM, rate by index / 4 (48000, 44100,
    // 22050, 11025, 8000), then by index % 4 8 bits mono, 16 bits mono, 8 bits
    // stereo, 16 bits stereo.
    static WAVEFORMATEX ProbeFormat(int index);
    // Bytes per notification chunk for a format (see the constants above).
    static DWORD ChunkSizeFor(const WAVEFORMATEX& format);
    // Describes a one-second buffer for each probe format on `device` and
    // sets supported[i] to 1 when it was made, 0 when not.
    static void ProbeFormats(IDirectSoundCapture* device, int32_t supported[kProbeFormatCount]);

    // The process's capture device, when one was chosen.
    static bool GetProcessDevice(GUID* device);
    // Forgets the process's device, so that the next Prepare chooses again.
    // For tests.
    static void ForgetProcessDeviceForTest();

    // --- Members ---
    HANDLE m_hNotifyEvent = nullptr;                      // auto-reset, unnamed; owned
    IDirectSoundCapture* mpCaptureDevice = nullptr;       // owned
    IDirectSoundCaptureBuffer* mpCaptureBuffer = nullptr; // owned
    IDirectSoundNotify* mpNotify = nullptr;               // from the buffer; owned
    GUID mDeviceGuid{};                                   // all zero unless a device was found
    WAVEFORMATEX mCaptureFormat{};
    DSBPOSITIONNOTIFY mNotifyPositions[kNotificationCount] = {};
    int32_t mFormatSupported[kProbeFormatCount] = {};
    DWORD mBufferSize = 0; // bytes
    DWORD mChunkSize = 0;  // bytes between two notifications
    DWORD mNextReadOffset = 0;
    CRITICAL_SECTION mLock;

private:
    void ReleaseBuffer();
};
