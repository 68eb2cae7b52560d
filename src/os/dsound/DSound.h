// The DirectSound capture calls the viewer makes, stood in for on ALSA.
//
// The viewer prepares one capture device and one capture buffer per instance
// and never starts capturing, so this layer covers the set-up only: listing
// the capture devices, opening one, describing capture buffers for formats
// (which asks the device whether it takes the format) and registering the
// buffer's notification positions. Results keep DirectSound's HRESULT codes.
//
// Devices. A capture device is an ALSA capture PCM, as `arecord -L` lists
// them. The "default" PCM is the primary device: it is enumerated first and,
// as on Windows, without an identity (a null GUID pointer). Every other device
// gets a 16-byte identity derived from its ALSA name alone (DeviceGuidFromName),
// so the same PCM has the same GUID in every process and whatever else the
// configuration lists. ALSA's "null" PCM, which every configuration defines to
// discard samples, is not a capture device of the machine and is never listed.
//
// Never blocking. Every open of a PCM is non-blocking (a device that another
// program holds answers "busy" at once), runs on a thread of its own and is
// given kDeviceCallDeadlineMs: some plugins wait inside the open whatever the
// flags say (a file plugin whose input is a pipe without a writer, a sound
// server that does not answer). Such an open is left to finish alone; until it
// has, the device counts as busy, so no later call waits for it again.
//
// Threads: every call may be made from any thread. An object is used by one
// thread at a time (its owner's), as the viewer does.
#pragma once

#include "os/dshow/Com.h"
#include "os/kernel/Kernel.h"

#include <cstdint>
#include <string>

// ---------------------------------------------------------------------------
// Formats

#pragma pack(push, 1)
// The Windows audio format description; the same guard as Windows' own header
// (and include/ipcamview/reckit.h), so that only one definition is seen.
#ifndef _WAVEFORMATEX_
#define _WAVEFORMATEX_
typedef struct tWAVEFORMATEX {
    uint16_t wFormatTag; /* 1 PCM, 6 A-law, 7 u-law, 0x00FF AAC */
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
} WAVEFORMATEX;
#endif
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes, packed");

using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPGUID = GUID*;
using LPCGUID = const GUID*;

constexpr WORD WAVE_FORMAT_PCM = 1;

// ---------------------------------------------------------------------------
// Results

constexpr HRESULT DS_OK = S_OK;
// The device is held by another program (or an earlier open of it has not
// returned yet).
constexpr HRESULT DSERR_ALLOCATED = MakeHResult(0x8878000Au);
constexpr HRESULT DSERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DSERR_INVALIDCALL = MakeHResult(0x88780032u);
constexpr HRESULT DSERR_GENERIC = E_FAIL;
// The device does not take the format.
constexpr HRESULT DSERR_BADFORMAT = MakeHResult(0x88780064u);
// No such device: no sound card, an unknown identity, no configuration.
constexpr HRESULT DSERR_NODRIVER = MakeHResult(0x88780078u);
constexpr HRESULT DSERR_NOAGGREGATION = CLASS_E_NOAGGREGATION;
constexpr HRESULT DSERR_NOINTERFACE = E_NOINTERFACE;
constexpr HRESULT DSERR_ACCESSDENIED = MakeHResult(0x80070005u);
constexpr HRESULT DSERR_OUTOFMEMORY = E_OUTOFMEMORY;

// ---------------------------------------------------------------------------
// Capture buffers

// Buffer sizes in bytes that a capture buffer may have.
constexpr DWORD DSBSIZE_MIN = 4;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;
// A notification position that stands for "capture stopped".
constexpr DWORD DSBPN_OFFSETSTOP = 0xFFFFFFFF;
constexpr DWORD DSBNOTIFICATIONS_MAX = 100000;
// The one buffer flag a description may carry; it changes nothing here.
constexpr DWORD DSCBCAPS_WAVEMAPPED = 0x80000000;

// dwSize carries the size the structure has in the 32-bit Windows ABI, which
// callers write as a number: 28 for this description, 20 for its first
// version without the effect fields. Any other size is refused.
struct DSCBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;       // 0 or DSCBCAPS_WAVEMAPPED
    DWORD dwBufferBytes; // DSBSIZE_MIN to DSBSIZE_MAX, whole blocks of the format
    DWORD dwReserved;
    LPWAVEFORMATEX lpwfxFormat; // PCM: 8 or 16 bits, 1 or 2 channels
    DWORD dwFXCount;            // 0: capture effects do not exist here
    void* lpDSCFXDesc;
};
using LPCDSCBUFFERDESC = const DSCBUFFERDESC*;
constexpr DWORD kDscBufferDescSize = 28;
constexpr DWORD kDscBufferDesc1Size = 20;

struct DSCBCAPS {
    DWORD dwSize; // sizeof(DSCBCAPS)
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
};

struct DSBPOSITIONNOTIFY {
    DWORD dwOffset;      // a byte offset inside the buffer, or DSBPN_OFFSETSTOP
    HANDLE hEventNotify; // os/kernel event, borrowed
};
using LPCDSBPOSITIONNOTIFY = const DSBPOSITIONNOTIFY*;

extern const IID IID_IDirectSoundCapture;
extern const IID IID_IDirectSoundCaptureBuffer;
extern const IID IID_IDirectSoundNotify;

// A capture buffer: its format and size. It also answers IID_IDirectSoundNotify.
class IDirectSoundCaptureBuffer : public IUnknown {
public:
    // DSERR_INVALIDPARAM for a null caps or a dwSize other than sizeof(DSCBCAPS).
    virtual HRESULT GetCaps(DSCBCAPS* caps) = 0;
    // Copies the format (at most `size` bytes of it) and tells its full size
    // in *written; a null format only asks for the size.
    virtual HRESULT GetFormat(WAVEFORMATEX* format, DWORD size, DWORD* written) = 0;
};

// The notification positions of a capture buffer.
class IDirectSoundNotify : public IUnknown {
public:
    // Replaces the buffer's positions. DSERR_INVALIDPARAM for more than
    // DSBNOTIFICATIONS_MAX, a null array with a count, an offset outside the
    // buffer (other than DSBPN_OFFSETSTOP) or a null event.
    virtual HRESULT SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions) = 0;
};

// An opened capture device.
class IDirectSoundCapture : public IUnknown {
public:
    // Describes a buffer for desc's format and size. The device is opened
    // (non-blocking, within the deadline), asked whether it takes the
    // format's rate, sample width and channel count, and released again:
    // nothing is captured. DS_OK with *buffer set, or DSERR_INVALIDPARAM (a
    // malformed description), DSERR_BADFORMAT (not PCM, or not taken by the
    // device), DSERR_ALLOCATED (busy), DSERR_NODRIVER (the device is gone),
    // DSERR_NOAGGREGATION (an outer object).
    virtual HRESULT CreateCaptureBuffer(LPCDSCBUFFERDESC desc, IDirectSoundCaptureBuffer** buffer,
                                        IUnknown* outer) = 0;
};

// ---------------------------------------------------------------------------
// Devices

// Called once per device: guid is null for the primary device, description a
// one-line text for people, module the device's ALSA name. TRUE goes on
// enumerating, FALSE stops. The strings last for the call only.
using LPDSENUMCALLBACKA = BOOL (*)(LPGUID guid, const char* description, const char* module, void* context);

// Lists the capture devices: the primary device first (when ALSA's "default"
// PCM can capture), then every other capture PCM in ALSA's order. DS_OK, also
// when there is none; DSERR_INVALIDPARAM for a null callback.
HRESULT DirectSoundCaptureEnumerateA(LPDSENUMCALLBACKA callback, void* context);

// Opens a capture device: a null or all-zero device means the primary device,
// any other GUID one that enumeration reported. The device is opened once
// (non-blocking, within the deadline) to see that it is there and free, then
// released. DS_OK with *capture set; DSERR_NODRIVER (no such device, no sound
// card, no configuration), DSERR_ALLOCATED (busy or hanging),
// DSERR_ACCESSDENIED, DSERR_INVALIDPARAM (null capture), DSERR_NOAGGREGATION.
HRESULT DirectSoundCaptureCreate(LPCGUID device, IDirectSoundCapture** capture, IUnknown* outer);

namespace os::dsound {

// How long one open of a PCM (with its questions) may take before the caller
// goes on without it. Opens of sound cards and local plugins take well under
// a millisecond to a few; a plugin that waits longer is waiting for something
// that may never come.
constexpr DWORD kDeviceCallDeadlineMs = 100;

// What the primary device is called in enumeration, as on Windows.
constexpr const char* kPrimaryDescription = "Primary Sound Capture Driver";
// ALSA's name of the primary device.
constexpr const char* kPrimaryDeviceName = "default";

// The identity of the ALSA PCM `name`: a name-based UUID (version 8, RFC 9562
// variant) made of the 128-bit FNV-1a hash of "alsa-pcm:" and the name. Never
// all zero.
GUID DeviceGuidFromName(const std::string& name);

// How enumeration finds the capture PCMs. kAuto, the default: ALSA's device
// hints (what `arecord -L` lists) where the machine has a sound card; where it
// has none, the PCMs the configuration itself defines and asks to list, read
// without evaluating ALSA's card templates (which costs about 1.5 ms and can
// find nothing without a card). Tests force either way to see that both list
// the same PCMs. Returns the previous setting.
enum class DeviceListing { kAuto, kAlsaHints, kConfiguration };
DeviceListing SetDeviceListingForTest(DeviceListing listing);

// The number of opens that outlived their deadline and have not returned yet;
// their devices answer DSERR_ALLOCATED meanwhile.
int HangingOpenCount();
// Waits up to `milliseconds` for every hanging open to return; true when none
// is left. For tests and for hosts that want to end cleanly.
bool WaitForHangingOpens(DWORD milliseconds);

} // namespace os::dsound
