#include "audio/CAudioCapture.h"

#include "os/window/Window.h"

#include <mutex>

namespace {

constexpr DWORD kProbeRates[] = {48000, 44100, 22050, 11025, 8000};

// The process's capture device: the first device with an identity that any
// viewer's enumeration met.
struct SProcessDevice {
    std::mutex lock;
    int count = 0; // 0 or 1; guarded by lock
    GUID guid{};   // guarded by lock
};

SProcessDevice& ProcessDevice() {
    static SProcessDevice device;
    return device;
}

BOOL RememberFirstDevice(LPGUID guid, const char*, const char*, void*) {
    // The primary device comes without an identity and is passed over.
    if (guid != nullptr) {
        SProcessDevice& d = ProcessDevice();
        std::lock_guard<std::mutex> guard(d.lock);
        if (d.count == 0) {
            d.guid = *guid;
            d.count = 1;
        }
    }
    return TRUE;
}

// Shows the wait cursor for its lifetime and puts back the one it found.
class CWaitCursor {
public:
    CWaitCursor() : mPrevious(GetCursor()) { SetCursor(LoadCursorA(nullptr, IDC_WAIT)); }
    ~CWaitCursor() { SetCursor(mPrevious); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR mPrevious;
};

DSCBUFFERDESC BufferDescription(DWORD bytes, WAVEFORMATEX* format) {
    DSCBUFFERDESC desc{};
    desc.dwSize = kDscBufferDescSize;
    desc.dwFlags = 0;
    desc.dwBufferBytes = bytes;
    desc.lpwfxFormat = format;
    return desc;
}

} // namespace

CAudioCapture::CAudioCapture() {
    CoInitialize(nullptr);
    InitializeCriticalSection(&mLock);
    m_hNotifyEvent = CreateEvent(nullptr, FALSE, FALSE, nullptr);
}

CAudioCapture::~CAudioCapture() {
    if (m_hNotifyEvent != nullptr)
        CloseHandle(m_hNotifyEvent);
    ReleaseBuffer();
    if (mpCaptureDevice != nullptr)
        mpCaptureDevice->Release();
    mpCaptureDevice = nullptr;
    DeleteCriticalSection(&mLock);
    CoUninitialize();
}

void CAudioCapture::ReleaseBuffer() {
    if (mpNotify != nullptr)
        mpNotify->Release();
    mpNotify = nullptr;
    if (mpCaptureBuffer != nullptr)
        mpCaptureBuffer->Release();
    mpCaptureBuffer = nullptr;
}

WAVEFORMATEX CAudioCapture::ProbeFormat(int index) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nSamplesPerSec = kProbeRates[index / 4];
    format.wBitsPerSample = (index % 2) == 0 ? 8 : 16;
    format.nChannels = (index % 4) < 2 ? 1 : 2;
    format.nBlockAlign = static_cast<WORD>(format.wBitsPerSample / 8 * format.nChannels);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.cbSize = 0;
    return format;
}

DWORD CAudioCapture::ChunkSizeFor(const WAVEFORMATEX& format) {
    const DWORD perSecond = format.nAvgBytesPerSec - format.nAvgBytesPerSec % 8;
    DWORD chunk = perSecond < kSmallChunkLimit ? kSmallChunkBytes : format.nAvgBytesPerSec / kChunksPerSecond;
    if (format.nBlockAlign != 0)
        chunk -= chunk % format.nBlockAlign;
    return chunk;
}

void CAudioCapture::ProbeFormats(IDirectSoundCapture* device, int32_t supported[kProbeFormatCount]) {
    for (int i = 0; i < kProbeFormatCount; ++i) {
        WAVEFORMATEX format = ProbeFormat(i);
        const DSCBUFFERDESC desc = BufferDescription(format.nAvgBytesPerSec, &format);
        IDirectSoundCaptureBuffer* buffer = nullptr;
        const HRESULT hr = device->CreateCaptureBuffer(&desc, &buffer, nullptr);
        supported[i] = SUCCEEDED(hr) ? 1 : 0;
        if (buffer != nullptr)
            buffer->Release();
    }
}

bool CAudioCapture::GetProcessDevice(GUID* device) {
    SProcessDevice& d = ProcessDevice();
    std::lock_guard<std::mutex> guard(d.lock);
    if (d.count == 0)
        return false;
    if (device != nullptr)
        *device = d.guid;
    return true;
}

void CAudioCapture::ForgetProcessDeviceForTest() {
    SProcessDevice& d = ProcessDevice();
    std::lock_guard<std::mutex> guard(d.lock);
    d.count = 0;
    d.guid = GUID{};
}

HRESULT CAudioCapture::Prepare() {
    DirectSoundCaptureEnumerateA(RememberFirstDevice, nullptr);
    GetProcessDevice(&mDeviceGuid);

    for (DSBPOSITIONNOTIFY& position : mNotifyPositions)
        position = DSBPOSITIONNOTIFY{};
    mBufferSize = 0;
    mChunkSize = 0;
    if (mpCaptureDevice != nullptr)
        mpCaptureDevice->Release();
    mpCaptureDevice = nullptr;
    HRESULT hr = DirectSoundCaptureCreate(&mDeviceGuid, &mpCaptureDevice, nullptr);
    if (FAILED(hr))
        return hr;

    {
        CWaitCursor wait;
        ProbeFormats(mpCaptureDevice, mFormatSupported);
    }

    mCaptureFormat = ProbeFormat(kCaptureFormatIndex);
    ReleaseBuffer();
    mChunkSize = ChunkSizeFor(mCaptureFormat);
    mBufferSize = kNotificationCount * mChunkSize;

    const DSCBUFFERDESC desc = BufferDescription(mBufferSize, &mCaptureFormat);
    hr = mpCaptureDevice->CreateCaptureBuffer(&desc, &mpCaptureBuffer, nullptr);
    if (FAILED(hr))
        return hr;
    mNextReadOffset = 0;

    hr = mpCaptureBuffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&mpNotify));
    if (FAILED(hr))
        return hr;
    for (int k = 1; k <= kNotificationCount; ++k) {
        mNotifyPositions[k - 1].dwOffset = mChunkSize * k - 1;
        mNotifyPositions[k - 1].hEventNotify = m_hNotifyEvent;
    }
    hr = mpNotify->SetNotificationPositions(kNotificationCount, mNotifyPositions);
    return FAILED(hr) ? hr : S_OK;
}
