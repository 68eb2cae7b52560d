#include "viewer/CViewer.h"

CViewer::CViewer() = default;

CViewer::~CViewer() {
    Close();
}

std::string CViewer::CompleteAddress(const char* address) {
    std::string text = address != nullptr ? address : "";
    // Hosts pass bare addresses ("10.0.0.5", "10.0.0.5:8080"); anything with a
    // slash after its first character is taken as a URL already.
    const size_t slash = text.find('/');
    if (slash == std::string::npos || slash == 0)
        return kDefaultScheme + text;
    return text;
}

void CViewer::Close() {
    // TODO(device): release the dialect, both link/client pairs, the overlay
    // control, the overlay worker and the owned pointer as they arrive.
}

int CViewer::Open(int32_t transportKind, const char* address, int32_t /*reserved*/, const char* userName,
                  const char* password, int32_t* /*audioFlag*/, int32_t channel,
                  media_util::CMediaObj* /*params*/) {
    Close();
    mTransportKind = transportKind;
    mMachineCode = kUnknownMachineCode;
    mUserName = userName != nullptr ? userName : "";
    mPassword = password != nullptr ? password : "";
    mChannel = channel;

    const int parsed = mDeviceUrl.Crack(CompleteAddress(address));
    if (parsed == 0)
        return 0;
    // TODO(transport): access check, machine code, dialect, device set-up,
    // audio answer, stream URL and BuildPipeline follow here.
    return parsed;
}

int CViewer::SetUpDevice(CDeviceProfile* profile, CHttpLink* /*link*/, CUrl* /*deviceUrl*/,
                         int32_t /*channel*/, media_util::CMediaObj* /*params*/) {
    if (profile == nullptr)
        return 0;
    // TODO(device): hand the I-frame-only flag, playback channels and channel
    // to the dialect and return its set-up result.
    return 0;
}

int CViewer::FillVideoInfo() {
    // Without a dialect the viewer knows no picture size.
    return 0;
}

int CViewer::FillAudioInfo() {
    // Without a dialect the viewer knows of no audio.
    return 0;
}

int CViewer::PrepareSubscription() {
    // TODO(pipeline): fill the live source description.
    return 1;
}

int CViewer::StartDisplay(WindowHandle window) {
    const int result = CDisplayChannel::StartDisplay(window);
    if (mpSourceVideoInfo == nullptr)
        return 0;
    // TODO(overlay): overlay control by display flags, layout text.
    return result;
}

int CViewer::StopDisplay() {
    return CDisplayChannel::StopDisplay();
}

// Without an overlay control every hook answers whether the channel is
// displaying: 0 before Show, 1 after it.
int CViewer::InputHook1() {
    return mDisplaying ? 1 : 0;
}
int CViewer::InputHook2(int32_t, int32_t, int32_t, int32_t) {
    return mDisplaying ? 1 : 0;
}
int CViewer::InputHook3(int32_t, int32_t, int32_t, int32_t) {
    return mDisplaying ? 1 : 0;
}
int CViewer::InputHook4(int32_t, int32_t, int32_t, int32_t) {
    return mDisplaying ? 1 : 0;
}
int CViewer::InputHook5(int32_t, int32_t, int32_t, int32_t) {
    return mDisplaying ? 1 : 0;
}
int CViewer::InputHook6(int32_t, int32_t, int32_t, int32_t, int32_t) {
    return mDisplaying ? 1 : 0;
}
void CViewer::InputHook7(int32_t) {}
