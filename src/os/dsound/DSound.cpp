#include "os/dsound/DSound.h"

#include "os/dsound/AlsaPcm.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

const IID IID_IDirectSoundCapture = {
    0xB0210781, 0x89CD, 0x11D0, {0xAF, 0x08, 0x00, 0xA0, 0xC9, 0x25, 0xCD, 0x16}};
const IID IID_IDirectSoundCaptureBuffer = {
    0xB0210782, 0x89CD, 0x11D0, {0xAF, 0x08, 0x00, 0xA0, 0xC9, 0x25, 0xCD, 0x16}};
const IID IID_IDirectSoundNotify = {
    0xB0210783, 0x89CD, 0x11D0, {0xAF, 0x08, 0x00, 0xA0, 0xC9, 0x25, 0xCD, 0x16}};

namespace os::dsound {
namespace {

using alsa::PcmAnswer;
using alsa::SPcmCheck;

// The names behind the identities handed out, so that DirectSoundCaptureCreate
// finds the PCM of a GUID that enumeration reported. Bounded by the PCMs the
// configurations of this process ever named.
struct SKnownDevices {
    std::mutex lock;
    std::vector<std::pair<GUID, std::string>> devices; // guarded by lock
};

SKnownDevices& Known() {
    static SKnownDevices known;
    return known;
}

void Remember(const GUID& guid, const std::string& name) {
    SKnownDevices& k = Known();
    std::lock_guard<std::mutex> guard(k.lock);
    for (const auto& device : k.devices)
        if (device.first == guid)
            return;
    k.devices.emplace_back(guid, name);
}

bool NameOf(const GUID& guid, std::string& name) {
    SKnownDevices& k = Known();
    std::lock_guard<std::mutex> guard(k.lock);
    for (const auto& device : k.devices) {
        if (device.first == guid) {
            name = device.second;
            return true;
        }
    }
    return false;
}

std::atomic<DeviceListing> gListing{DeviceListing::kAuto};

alsa::Listing AlsaListing() {
    switch (gListing.load()) {
    case DeviceListing::kAlsaHints:
        return alsa::Listing::kHints;
    case DeviceListing::kConfiguration:
        return alsa::Listing::kConfiguration;
    case DeviceListing::kAuto:
        break;
    }
    return alsa::Listing::kAuto;
}

struct SDevice {
    bool primary;
    GUID guid;
    std::string name;
    std::string description;
};

// The capture devices as enumeration reports them, primary first, every
// identity remembered.
int ListDevices(std::vector<SDevice>& devices) {
    std::vector<alsa::SCapturePcm> pcms;
    const int error = alsa::ListCapturePcms(pcms, AlsaListing());
    devices.clear();
    if (error < 0)
        return error;
    for (const alsa::SCapturePcm& pcm : pcms) {
        if (pcm.name == kPrimaryDeviceName) {
            devices.insert(devices.begin(), {true, GUID_NULL, pcm.name, kPrimaryDescription});
            continue;
        }
        const GUID guid = DeviceGuidFromName(pcm.name);
        Remember(guid, pcm.name);
        devices.push_back({false, guid, pcm.name, pcm.description});
    }
    return 0;
}

HRESULT ResultOfOpen(const SPcmCheck& check) {
    switch (check.answer) {
    case PcmAnswer::kAccepted:
        return DS_OK;
    case PcmAnswer::kFormatRefused:
        return DSERR_BADFORMAT;
    case PcmAnswer::kTimedOut:
        return DSERR_ALLOCATED;
    case PcmAnswer::kOpenFailed:
        break;
    }
    switch (-check.error) {
    case EBUSY:
    case EAGAIN:
        return DSERR_ALLOCATED;
    case EACCES:
    case EPERM:
        return DSERR_ACCESSDENIED;
    case ENOMEM:
        return DSERR_OUTOFMEMORY;
    default:
        // No such PCM, no such card, a definition that does not hold
        // together, a plugin's file missing: there is no device to use.
        return DSERR_NODRIVER;
    }
}

// A PCM format for a WAVE description the layer can ask about, or false.
bool PcmFormatOf(const WAVEFORMATEX& f, alsa::SPcmFormat& format) {
    if (f.wFormatTag != WAVE_FORMAT_PCM || f.nSamplesPerSec == 0)
        return false;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16)
        return false;
    if (f.nChannels != 1 && f.nChannels != 2)
        return false;
    const uint32_t blockAlign = f.wBitsPerSample / 8u * f.nChannels;
    if (f.nBlockAlign != blockAlign || f.nAvgBytesPerSec != f.nSamplesPerSec * blockAlign)
        return false;
    format = {f.nSamplesPerSec, f.wBitsPerSample, f.nChannels};
    return true;
}

class CCaptureBuffer final : public IDirectSoundCaptureBuffer, public IDirectSoundNotify {
public:
    CCaptureBuffer(const WAVEFORMATEX& format, DWORD bytes, DWORD flags)
        : mFormat(format), mBufferBytes(bytes), mFlags(flags) {
        mFormat.cbSize = 0;
    }

    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDirectSoundCaptureBuffer)
            *out = static_cast<IDirectSoundCaptureBuffer*>(this);
        else if (iid == IID_IDirectSoundNotify)
            *out = static_cast<IDirectSoundNotify*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++mReferences; }
    ULONG Release() override {
        const ULONG left = --mReferences;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT GetCaps(DSCBCAPS* caps) override {
        if (caps == nullptr || caps->dwSize != sizeof(DSCBCAPS))
            return DSERR_INVALIDPARAM;
        caps->dwFlags = mFlags;
        caps->dwBufferBytes = mBufferBytes;
        caps->dwReserved = 0;
        return DS_OK;
    }

    HRESULT GetFormat(WAVEFORMATEX* format, DWORD size, DWORD* written) override {
        if (format == nullptr && written == nullptr)
            return DSERR_INVALIDPARAM;
        const DWORD whole = sizeof(WAVEFORMATEX);
        if (format != nullptr) {
            const DWORD copied = size < whole ? size : whole;
            std::memcpy(format, &mFormat, copied);
            if (written != nullptr)
                *written = copied;
            return DS_OK;
        }
        *written = whole;
        return DS_OK;
    }

    HRESULT SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions) override {
        if (count > DSBNOTIFICATIONS_MAX || (count > 0 && positions == nullptr))
            return DSERR_INVALIDPARAM;
        for (DWORD i = 0; i < count; ++i) {
            const DSBPOSITIONNOTIFY& p = positions[i];
            if ((p.dwOffset >= mBufferBytes && p.dwOffset != DSBPN_OFFSETSTOP) || p.hEventNotify == nullptr)
                return DSERR_INVALIDPARAM;
        }
        mPositions.assign(positions, positions + count);
        return DS_OK;
    }

private:
    ~CCaptureBuffer() override = default;

    std::atomic<ULONG> mReferences{1};
    WAVEFORMATEX mFormat;
    const DWORD mBufferBytes;
    const DWORD mFlags;
    // Kept for the capture that the viewer never starts: where it would
    // signal the owner's events.
    std::vector<DSBPOSITIONNOTIFY> mPositions;
};

class CCaptureDevice final : public IDirectSoundCapture {
public:
    explicit CCaptureDevice(std::string name) : mName(std::move(name)) {}

    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDirectSoundCapture)
            return E_NOINTERFACE;
        *out = static_cast<IDirectSoundCapture*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++mReferences; }
    ULONG Release() override {
        const ULONG left = --mReferences;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT CreateCaptureBuffer(LPCDSCBUFFERDESC desc, IDirectSoundCaptureBuffer** buffer,
                                IUnknown* outer) override {
        if (buffer == nullptr)
            return DSERR_INVALIDPARAM;
        *buffer = nullptr;
        if (outer != nullptr)
            return DSERR_NOAGGREGATION;
        if (desc == nullptr || (desc->dwSize != kDscBufferDescSize && desc->dwSize != kDscBufferDesc1Size) ||
            (desc->dwFlags & ~DSCBCAPS_WAVEMAPPED) != 0 || desc->lpwfxFormat == nullptr)
            return DSERR_INVALIDPARAM;
        if (desc->dwSize == kDscBufferDescSize && (desc->dwFXCount != 0 || desc->lpDSCFXDesc != nullptr))
            return DSERR_INVALIDPARAM;
        alsa::SPcmFormat format;
        if (!PcmFormatOf(*desc->lpwfxFormat, format))
            return DSERR_BADFORMAT;
        if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX ||
            desc->dwBufferBytes % desc->lpwfxFormat->nBlockAlign != 0)
            return DSERR_INVALIDPARAM;
        const HRESULT hr = ResultOfOpen(alsa::CheckPcm(mName, &format, kDeviceCallDeadlineMs));
        if (FAILED(hr))
            return hr;
        *buffer = new (std::nothrow) CCaptureBuffer(*desc->lpwfxFormat, desc->dwBufferBytes, desc->dwFlags);
        return *buffer != nullptr ? DS_OK : DSERR_OUTOFMEMORY;
    }

private:
    ~CCaptureDevice() override = default;

    std::atomic<ULONG> mReferences{1};
    const std::string mName; // the ALSA PCM
};

} // namespace

GUID DeviceGuidFromName(const std::string& name) {
    // 128-bit FNV-1a: offset basis and prime of the published parameters.
    using u128 = unsigned __int128;
    const u128 prime = (static_cast<u128>(0x0000000001000000ull) << 64) | 0x000000000000013Bull;
    u128 hash = (static_cast<u128>(0x6C62272E07BB0142ull) << 64) | 0x62B821756295C58Dull;
    const std::string text = "alsa-pcm:" + name;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= prime;
    }
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i)
        bytes[i] = static_cast<uint8_t>(hash >> (8 * (15 - i)));
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x80); // version 8: made by its owner's rule
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 9562 variant
    GUID guid;
    guid.Data1 =
        (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
    guid.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    guid.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    std::memcpy(guid.Data4, bytes + 8, 8);
    return guid;
}

DeviceListing SetDeviceListingForTest(DeviceListing listing) {
    return gListing.exchange(listing);
}

int HangingOpenCount() {
    return alsa::HangingOpenCount();
}

bool WaitForHangingOpens(DWORD milliseconds) {
    return alsa::WaitForHangingOpens(milliseconds);
}

} // namespace os::dsound

HRESULT DirectSoundCaptureEnumerateA(LPDSENUMCALLBACKA callback, void* context) {
    if (callback == nullptr)
        return DSERR_INVALIDPARAM;
    std::vector<os::dsound::SDevice> devices;
    // A configuration that cannot be read lists nothing, as a machine without
    // capture devices does.
    os::dsound::ListDevices(devices);
    for (os::dsound::SDevice& device : devices) {
        GUID guid = device.guid;
        if (!callback(device.primary ? nullptr : &guid, device.description.c_str(), device.name.c_str(),
                      context))
            break;
    }
    return DS_OK;
}

HRESULT DirectSoundCaptureCreate(LPCGUID device, IDirectSoundCapture** capture, IUnknown* outer) {
    if (capture == nullptr)
        return DSERR_INVALIDPARAM;
    *capture = nullptr;
    if (outer != nullptr)
        return DSERR_NOAGGREGATION;
    std::string name = os::dsound::kPrimaryDeviceName;
    if (device != nullptr && *device != GUID_NULL && !os::dsound::NameOf(*device, name)) {
        // An identity from another process or an earlier configuration: the
        // PCMs listed now may still have it.
        std::vector<os::dsound::SDevice> devices;
        os::dsound::ListDevices(devices);
        if (!os::dsound::NameOf(*device, name))
            return DSERR_NODRIVER;
    }
    const HRESULT hr = os::dsound::ResultOfOpen(
        os::dsound::alsa::CheckPcm(name, nullptr, os::dsound::kDeviceCallDeadlineMs));
    if (FAILED(hr))
        return hr;
    *capture = new (std::nothrow) os::dsound::CCaptureDevice(name);
    return *capture != nullptr ? DS_OK : DSERR_OUTOFMEMORY;
}
