#include "viewer/CViewer.h"

#include "device/CDeviceProfile.h"
#include "device/CFixedDialect.h"
#include "device/CMultiChannelDialect.h"
#include "device/CProfileQueryDialect.h"
#include "device/CReplyParser.h"
#include "device/CVideoStandardDialect.h"
#include "editors/CMotionAreaEditor.h"
#include "editors/CMotionBlockEditor.h"
#include "editors/CPrivacyMaskEditor.h"
#include "net/CHttpLink.h"
#include "os/window/Window.h"
#include "pipeline/CFramePacer.h"
#include "platform/CBase64Helper.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CStrUtil.h"
#include "ptz/CPtzControl.h"
#include "render/CDirectShowRenderer.h"
#include "render/COverlayTextWorker.h"
#include "viewer/CMachineCodeCache.h"

using media_util::CMachineCodeConvert;

namespace {
// HTTP statuses of refused credentials at the device or at a proxy.
constexpr int kStatusUnauthorized = 401;
constexpr int kStatusProxyAuthRequired = 407;
} // namespace

CViewer::CViewer() {
    mAudioCaptureReady = mAudioCapture.Prepare() == 0 ? 1 : 0;
}

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

void CViewer::ReleaseOverlay() {
    // The worker paints the control into the renderer's overlay: it stops
    // before either goes.
    if (mpOverlayWorker != nullptr)
        mpOverlayWorker->Stop();
    delete mpOverlayWorker;
    mpOverlayWorker = nullptr;
    if (mpOverlayControl == nullptr)
        return;
    // The PTZ control's worker may be waiting for a camera that does not
    // answer: the clients' cancel event ends that request at once. Nothing
    // else uses the control link meanwhile (this is the host's thread).
    mCancelEvent.Set();
    delete mpOverlayControl;
    mpOverlayControl = nullptr;
    mCancelEvent.Reset();
}

int CViewer::Disarm() {
    ReleaseOverlay();
    return CDisplayChannel::Disarm();
}

int CViewer::ReleasePipeline() {
    ReleaseOverlay();
    return CDisplayChannel::ReleasePipeline();
}

void CViewer::Close() {
    // The controls borrow the dialect and the control link.
    ReleaseOverlay();
    delete mpProfile;
    mpProfile = nullptr;
    // A link only borrows its client: the link goes first.
    delete mpControlLink;
    mpControlLink = nullptr;
    delete mpControlClient;
    mpControlClient = nullptr;
    delete mpSecondLink;
    mpSecondLink = nullptr;
    delete mpSecondClient;
    mpSecondClient = nullptr;
}

int CViewer::Open(int32_t transportKind, const char* address, int32_t /*reserved*/, const char* userName,
                  const char* password, int32_t* audioFlag, int32_t channel, media_util::CMediaObj* params) {
    Close();
    mTransportKind = transportKind;
    mMachineCode = kUnknownMachineCode;
    mUserName = userName != nullptr ? userName : "";
    mPassword = password != nullptr ? password : "";
    mChannel = channel;
    // A viewer opened again must not keep the stream of its previous device
    // when this open stops before composing one.
    mStreamUrl.clear();

    mOpenReport = SOpenReport();
    mAbortRequested = false;
    mCancelEvent.Reset();

    const int parsed = mDeviceUrl.Crack(CompleteAddress(address));
    if (parsed == 0) {
        mOpenReport.stage = OpenStage::kAddress;
        return 0;
    }

    // From here on a failure ends open without a pipeline, yet open succeeds:
    // the host holds an instance it can stop, and mLastStatus and the open
    // report say why.
    if (!CreateLink(&mpControlLink, &mpControlClient)) {
        StopOpenAt(OpenStage::kClient);
        return parsed;
    }
    // The open's requests share one budget; the link's later requests (the
    // editors') have only their own deadlines.
    struct SOpenBudget {
        CHttpLink* link;
        ~SOpenBudget() { link->ClearDeadline(); }
    } budget{mpControlLink};
    const DWORD budgetEnd = timeGetTime() + mOpenBudgetMs;
    mpControlLink->SetDeadline(budgetEnd);
    auto stop = [&](OpenStage stage) {
        StopOpenAt(stage);
        mOpenReport.timedOut = static_cast<int32_t>(budgetEnd - timeGetTime()) <= 0;
        return parsed;
    };
    if (!CheckAccess())
        return stop(OpenStage::kAccess);
    if (!LookUpMachineCode())
        return stop(OpenStage::kMachineCode);
    if (!SelectDialect())
        return stop(OpenStage::kDialect);
    if (SetUpDevice(mpProfile, mpControlLink, &mDeviceUrl, mChannel, params) == 0)
        return stop(OpenStage::kSetUp);
    if (!CreateLink(&mpSecondLink, &mpSecondClient))
        return stop(OpenStage::kClient);

    mpProfile->mAudioWanted = (audioFlag != nullptr && *audioFlag == 1) ? 1 : 0;
    if (audioFlag != nullptr)
        *audioFlag = mpProfile->mAudioSupported != 0 ? 1 : 0;

    // A dialect that cannot stream (a profile camera on profile 0, a codec
    // it has no path for) leaves the path empty; the pipeline is built all
    // the same and the stream URL names only the device.
    ComposeStreamUrl();
    if (BuildPipeline() == 0)
        return stop(OpenStage::kPipeline);
    if (mpPacer != nullptr)
        mpPacer->mCatchUp = 1;
    mQueue.mSourcePresent = 1;
    mQueue.mMachineCode = mMachineCode;
    return parsed;
}

void CViewer::StopOpenAt(OpenStage stage) {
    mOpenReport.stage = stage;
    mOpenReport.aborted = mAbortRequested.load();
    if (mpControlClient == nullptr)
        return;
    mOpenReport.httpStatus = mpControlClient->GetStatusCode();
    mOpenReport.systemError = mpControlClient->GetLastErrorCode();
}

void CViewer::AbortOpen() {
    mAbortRequested = true;
    mCancelEvent.Set();
}

bool CViewer::CreateLink(CHttpLink** link, IHttpClient** client) {
    return CreateHttpClient(mTransportKind, mUserName, mPassword, &mCancelEvent, link, client) &&
           *link != nullptr;
}

bool CViewer::CheckAccess() {
    CUrl root;
    mDeviceUrl.CopyTo(&root);
    root.mUrlPath = "/";
    root.mExtraInfo.clear();
    root.mRequestPath = "/";
    mLastStatus = mpControlLink->FetchStatus(root);
    return mLastStatus != 0 && mLastStatus != kStatusUnauthorized && mLastStatus != kStatusProxyAuthRequired;
}

bool CViewer::LookUpMachineCode() {
    CMachineCodeCache& cache = CMachineCodeCache::ProcessCache();
    const std::string key = CMachineCodeCache::MakeKey(mDeviceUrl.mHostName, mDeviceUrl.mPort);
    int32_t cached = 0;
    if (cache.Lookup(key, &cached)) {
        mMachineCode = cached;
        return true;
    }

    CReplyParser parser(mpControlLink, &mDeviceUrl, kMachineCodeCgiPath);
    std::string line;
    const int answered = parser.QueryOne(kMachineCodeKey, line);
    mOpenReport.machineCodeStatus = mpControlClient->GetStatusCode();
    if (answered == 0)
        return false;
    std::string name;
    std::string value;
    if (ParseReplyLine(media_util::CStrUtil::Trim(line), name, value) == kReplyOk) {
        mMachineCode = media_util::CStrUtil::ParseInt(value, 16);
        cache.Store(key, value);
    }
    // Answered, though perhaps refused: dialect selection decides with -1.
    return true;
}

bool CViewer::SelectDialect() {
    switch (CMachineCodeConvert::GetDeviceType(mMachineCode)) {
    case CMachineCodeConvert::kTypeProfileCamera:
    case CMachineCodeConvert::kTypeProfileCamera2:
        mpProfile = new CProfileQueryDialect(mMachineCode);
        break;
    case CMachineCodeConvert::kTypeMultiChannel:
        mpProfile = new CMultiChannelDialect(mMachineCode, CMachineCodeConvert::GetMaxChannel(mMachineCode));
        break;
    case CMachineCodeConvert::kTypeVideoStandard:
        mpProfile = new CVideoStandardDialect(mMachineCode);
        break;
    case CMachineCodeConvert::kTypeOtherVendor:
        mpProfile = new CFixedDialect(mMachineCode);
        break;
    default:
        return false;
    }
    return true;
}

bool CViewer::ComposeStreamUrl() {
    std::string path;
    const bool composed = mpProfile->ComposeStreamPath(path) != 0;
    mStreamUrl = kDefaultScheme + mDeviceUrl.mHostName + ":" + std::to_string(mDeviceUrl.mPort) + path;
    return composed;
}

bool CViewer::HasStreamPath() const {
    const size_t schemeLength = std::char_traits<char>::length(kDefaultScheme);
    return mStreamUrl.size() > schemeLength && mStreamUrl.find('/', schemeLength) != std::string::npos;
}

int CViewer::SetUpDevice(CDeviceProfile* profile, CHttpLink* link, CUrl* deviceUrl, int32_t channel,
                         media_util::CMediaObj* params) {
    if (profile == nullptr)
        return 0;
    profile->mIFrameOnly = mIFrameOnly;
    profile->mPlaybackChannels = mPlaybackChannels;
    profile->mChannel = channel;
    const int result = profile->SetUp(link, deviceUrl, params);
    if (result == 0)
        profile->Reset();
    return result;
}

int CViewer::FillVideoInfo() {
    if (mpProfile == nullptr || mpProfile->mWidth == 0 || mpProfile->mHeight == 0)
        return 0;
    if (mpSourceVideoInfo == nullptr || mpDisplayVideoInfo == nullptr)
        return 0;
    mpSourceVideoInfo->mWidth = mpProfile->mWidth;
    mpSourceVideoInfo->mHeight = mpProfile->mHeight;
    mpSourceVideoInfo->mFrameRate = mpProfile->mFrameRate;
    mpSourceVideoInfo->mVideoFormat = mpProfile->mVideoCodec;
    mpDisplayVideoInfo->mWidth = mpProfile->mWidth;
    mpDisplayVideoInfo->mHeight = mpProfile->mHeight;
    mpDisplayVideoInfo->mFrameRate = mpProfile->mFrameRate;
    return 1;
}

int CViewer::FillAudioInfo() {
    if (mpProfile == nullptr || mpProfile->mAudioSupported == 0 || mpProfile->mAudioWanted == 0)
        return 0;
    if (mpAudioInfo == nullptr)
        return 0;
    mpAudioInfo->mAudioFormat = mpProfile->mAudioCodec;
    mpAudioInfo->mAudioChannels = mpProfile->mAudioChannels;
    mpAudioInfo->mBitsPerSample = mpProfile->mBitsPerSample;
    mpAudioInfo->mSampleRate = mpProfile->mSampleRate;
    return 1;
}

int CViewer::PrepareSubscription() {
    PrepareLiveDescription();
    mLiveDesc.SetUrlSource(mStreamUrl, CMachineCodeConvert::GetMediaReceiveType(mMachineCode), mUserName,
                           mPassword);
    mLiveDesc.mClientKind = mTransportKind;
    // Polling devices are asked for images without pause; streams ignore it.
    mLiveDesc.mRequestMode = CSourceDesc::kRequestContinuous;
    mLiveDesc.mMachineCode = mMachineCode;
    return 1;
}

std::wstring CViewer::DecodeLayoutText(const std::string& value) {
    std::string base64 = value;
    for (char& c : base64) {
        if (c == '^')
            c = '+';
        else if (c == '@')
            c = '=';
        else if (c == '$')
            c = '/';
    }
    std::string utf8;
    if (!media_util::CBase64Helper::Decode(base64, utf8))
        return std::wstring();
    std::wstring text = os::Utf8ToWide(utf8);
    if (text.size() > kMaxLayoutText)
        text.resize(kMaxLayoutText);
    return text;
}

COverlayControl* CViewer::CreateOverlayControl(const RECT& client) {
    if (mpProfile == nullptr || mpSourceVideoInfo == nullptr)
        return nullptr;
    const int32_t clientSize[2] = {client.right - client.left, client.bottom - client.top};
    const int32_t video[4] = {0, 0, mpSourceVideoInfo->mWidth, std::abs(mpSourceVideoInfo->mHeight)};
    const std::string address =
        kDefaultScheme + mDeviceUrl.mHostName + ":" + std::to_string(mDeviceUrl.mPort) + "/";
    HWND window = static_cast<HWND>(m_hWnd);
    HDC dc = mpVideoRenderer != nullptr ? mpVideoRenderer->GetOverlayDC() : nullptr;
    if ((mDisplayFlags & kFlagMotionEditor) != 0) {
        std::string support;
        if (mpProfile->QueryParam(mpControlLink, &mDeviceUrl, kMotionSupportKey, support) == 0)
            return nullptr;
        switch (COverlayControl::ReadLong(support)) {
        case kMotionArea:
            return new CMotionAreaEditor(mpProfile, mpControlLink, address.c_str(), clientSize, video, window,
                                         dc, mChannel);
        case kMotionGrid:
            return new CMotionBlockEditor(mpProfile, mpControlLink, address.c_str(), clientSize, video,
                                          window, dc, mChannel);
        default:
            return nullptr;
        }
    }
    if ((mDisplayFlags & kFlagPrivacyEditor) != 0)
        return new CPrivacyMaskEditor(mpProfile, mpControlLink, address.c_str(), clientSize, video, window,
                                      dc, mChannel);
    if ((mDisplayFlags & kFlagPtzControl) != 0)
        return new CPtzControl(mpProfile, mpControlLink, address.c_str(), clientSize, video, window, dc,
                               mChannel);
    return nullptr;
}

int CViewer::StartDisplay(WindowHandle window) {
    // A control of an earlier Show paints into the overlay that starting
    // the display again replaces: it goes first.
    ReleaseOverlay();
    // An editor or the PTZ control maps window points to picture points:
    // the picture fills the window.
    if ((mDisplayFlags & (kFlagMotionEditor | kFlagPrivacyEditor | kFlagPtzControl)) != 0 &&
        mpVideoRenderer != nullptr)
        mpVideoRenderer->SetAspectMode(CDirectShowRenderer::kAspectStretch);
    const int result = CDisplayChannel::StartDisplay(window);
    RECT client{0, 0, 0, 0};
    GetClientRect(static_cast<HWND>(window), &client);
    if (mpSourceVideoInfo == nullptr)
        return 0;

    mpOverlayControl = CreateOverlayControl(client);

    std::wstring text;
    int32_t layout = 0;
    if (mpProfile != nullptr && mpProfile->mLayoutSupport != 0 && (mDisplayFlags & kFlagText) != 0) {
        std::string value;
        if (mpProfile->QueryParam(mpControlLink, &mDeviceUrl, kLayoutTextKey, value) != 0) {
            text = DecodeLayoutText(value);
            if (mpProfile->QueryParam(mpControlLink, &mDeviceUrl, kLayoutNumberKey, value) != 0)
                layout = static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 10));
        }
    }
    const RECT video{0, 0, mpSourceVideoInfo->mWidth, std::abs(mpSourceVideoInfo->mHeight)};
    if (mpOverlayControl != nullptr) {
        // The control is repainted, with the text over it, ten times a second.
        if (mpVideoRenderer != nullptr)
            mpVideoRenderer->SetOverlayAlpha(mpOverlayControl->OverlayAlpha());
        mpOverlayWorker = new COverlayTextWorker();
        mpOverlayWorker->SetTargets(mpOverlayControl, mpVideoRenderer);
        mpOverlayWorker->SetText(text.c_str(), layout, video);
        mpOverlayWorker->Start();
    } else if ((layout & 1) != 0 && mpVideoRenderer != nullptr) {
        // Without an overlay control the text is drawn once: it changes only
        // when the device's configuration does.
        HDC dc = mpVideoRenderer->GetOverlayDC();
        if (dc != nullptr) {
            COverlayTextWorker::DrawCaption(dc, text, (layout >> 1) & 7, (layout >> 4) & 7, video);
            mpVideoRenderer->ApplyOverlay();
        }
    }
    mLayoutText = text;
    mLayoutNumber = layout;
    return result;
}

int CViewer::StopDisplay() {
    // The worker stops before the renderer's overlay goes with the display;
    // the control goes after it.
    if (mpOverlayWorker != nullptr)
        mpOverlayWorker->Stop();
    const int result = CDisplayChannel::StopDisplay();
    ReleaseOverlay();
    return result;
}

// Before Show every hook answers 0; after it, without an overlay control,
// 1; with one, what the control answers.
int CViewer::InputHook1() {
    if (mDisplaying == 0)
        return 0;
    return mpOverlayControl != nullptr ? mpOverlayControl->OnMouseLeave() : 1;
}
int CViewer::InputHook2(int32_t a, int32_t b, int32_t c, int32_t d) {
    if (mDisplaying == 0)
        return 0;
    return mpOverlayControl != nullptr ? mpOverlayControl->OnMouseMove(a, b, c, d) : 1;
}
int CViewer::InputHook3(int32_t a, int32_t b, int32_t c, int32_t d) {
    if (mDisplaying == 0)
        return 0;
    return mpOverlayControl != nullptr ? mpOverlayControl->OnButtonDown(a, b, c, d) : 1;
}
int CViewer::InputHook4(int32_t a, int32_t b, int32_t c, int32_t d) {
    if (mDisplaying == 0)
        return 0;
    return mpOverlayControl != nullptr ? mpOverlayControl->OnButtonUp(a, b, c, d) : 1;
}
int CViewer::InputHook5(int32_t a, int32_t b, int32_t c, int32_t d) {
    if (mDisplaying == 0)
        return 0;
    return mpOverlayControl != nullptr ? mpOverlayControl->OnDoubleClick(a, b, c, d) : 1;
}
int CViewer::InputHook6(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) {
    if (mDisplaying == 0)
        return 0;
    return mpOverlayControl != nullptr ? mpOverlayControl->OnWheel(a, b, c, d, e) : 1;
}
// A menu's command reaches the control whether or not the channel is shown:
// the menu may have been open while the host hid it.
void CViewer::InputHook7(int32_t command) {
    if (mpOverlayControl != nullptr)
        mpOverlayControl->OnCommand(command & 0xFFFF);
}
