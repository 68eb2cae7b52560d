#include "viewer/CDisplayChannel.h"

#include "ipcamview/vcodec.h"
#include "os/window/Window.h"
#include "pipeline/CFramePacer.h"
#include "pipeline/CSharedSource.h"
#include "pipeline/CSourceTable.h"
#include "render/CDirectShowRenderer.h"
#include "render/CVideoDecoder.h"

CDisplayChannel::CDisplayChannel() : mpSourceTable(&CSourceTable::Instance()) {
    mQueue.mLimit = kChannelQueueLimit;
    mDecoderGuid = mNoDecoderGuid;
}

CDisplayChannel::~CDisplayChannel() {
    // Calls this class's Disarm and ReleasePipeline: the subclass part is
    // already gone, and the base operations are what the teardown needs.
    CDisplayChannel::Disarm();
}

int CDisplayChannel::Arm() {
    mRunning = 1;
    mStopEvent.Reset();
    return 1;
}

int CDisplayChannel::Disarm() {
    mStopEvent.Set();
    mRunning = 0;
    CDisplayChannel::ReleasePipeline();
    return 1;
}

int CDisplayChannel::Subscribe() {
    if (mLiveDesc.mSlot >= 0)
        return 1;
    const int type =
        mSplitLayout != 0 || mShareDecode != 0 ? CSharedSource::kTypeDecoded : CSharedSource::kTypeLive;
    const int slot = mpSourceTable->Register(&mLiveDesc, mShareOption != 0, type, mpDecoder);
    return mpSourceTable->EnsureRunning(slot);
}

int CDisplayChannel::Unsubscribe() {
    if (mLiveDesc.mSlot < 0)
        return mLiveDesc.mSlot;
    const int result = mpSourceTable->Unregister(mLiveDesc.mSlot, &mQueue);
    if (result != 0)
        mLiveDesc.mSlot = -1;
    return result;
}

int CDisplayChannel::StartRecord() {
    for (int32_t& word : mRecordWords)
        word = 0;
    if (mpSourceVideoInfo == nullptr)
        return 0;
    if (mRecordDeferred != 0) {
        // The second call of a deferred recording begins it.
        if (mpRecorder == nullptr)
            return 0;
        mpRecorder->BeginRecording();
        mRecordDeferred = 0;
        mRecording = 1;
        return 0;
    }
    if (mpRecorder != nullptr)
        StopRecord();
    auto* recorder = new CRecordWorker();
    if (recorder->OpenRecording(os::Utf8ToWide(mRecordPath), mpSourceVideoInfo->mVideoFormat, mRecorderArg1,
                                mRecorderArg2, mRecordMode, mMachineCode) == 0) {
        delete recorder;
        return 0;
    }
    mpRecorder = recorder;
    mRecordDesc = mLiveDesc;
    mRecordDesc.SetQueue(recorder->GetQueue());
    recorder->GetQueue()->mChannel = mChannel;
    const int slot = mpSourceTable->Register(&mRecordDesc, true, CSharedSource::kTypeLive, nullptr);
    if (slot < 0) {
        // Nothing would ever reach the recorder: no thread is left running
        // for a recording that the channel does not count as one.
        StopRecord();
        return 0;
    }
    recorder->Start();
    if (mRecordMode > 0)
        mRecordDeferred = 1;
    else
        mRecording = 1;
    return 1;
}

void CDisplayChannel::StopRecord() {
    if (mpRecorder != nullptr) {
        // The thread's end closes the file; only then does the queue leave
        // the source (whatever arrives in between is freed with the queue).
        mpRecorder->Stop();
        if (mRecordDesc.mSlot >= 0)
            mpSourceTable->Unregister(mRecordDesc.mSlot, mpRecorder->GetQueue());
        mLastRecording = mpRecorder->GetSummary();
        delete mpRecorder;
        mpRecorder = nullptr;
    }
    mRecordDesc.mSlot = -1;
    mRecording = 0;
    mRecordDeferred = 0;
}

int CDisplayChannel::StartDisplay(WindowHandle window) {
    m_hWnd = window;
    mQueue.GetFrameControl()->StartWork();
    if (mpVideoRenderer != nullptr) {
        RECT client{0, 0, 0, 0};
        HWND hwnd = static_cast<HWND>(window);
        GetClientRect(hwnd, &client);
        if (mpVideoRenderer->Start(hwnd, &client, mDisplayFlags) == 0) {
            mDisplaying = 0;
            mLastStatus = mpVideoRenderer->GetStatus();
            return 0;
        }
    }
    if (mpAudioRenderer != nullptr)
        mpAudioRenderer->Start(nullptr, nullptr, 0);
    if (mpPacer != nullptr)
        mpPacer->Start();
    mDisplaying = 1;
    return 1;
}

int CDisplayChannel::StopDisplay() {
    mQueue.GetFrameControl()->StopWork();
    if (mpPacer != nullptr)
        mpPacer->Stop();
    if (mpAudioRenderer != nullptr)
        mpAudioRenderer->Stop();
    if (mpVideoRenderer != nullptr)
        mpVideoRenderer->Stop();
    mDisplaying = 0;
    return 1;
}

int CDisplayChannel::IsNonZero(int32_t value) {
    return value != 0 ? 1 : 0;
}

int CDisplayChannel::InputHook1() {
    return 0;
}
int CDisplayChannel::InputHook2(int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int CDisplayChannel::InputHook3(int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int CDisplayChannel::InputHook4(int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int CDisplayChannel::InputHook5(int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int CDisplayChannel::InputHook6(int32_t, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
void CDisplayChannel::InputHook7(int32_t) {}

int CDisplayChannel::ReleasePipeline() {
    if (mRecording || mRecordDeferred)
        StopRecord();
    if (mLiveDesc.mSlot >= 0) {
        mpSourceTable->Unregister(mLiveDesc.mSlot, &mQueue);
        mLiveDesc.mSlot = -1;
        mQueue.Clear();
    }
    // The pacer goes before the renderers it pushes into; its destruction
    // stops its thread.
    delete mpDecoder;
    mpDecoder = nullptr;
    delete mpPacer;
    mpPacer = nullptr;
    delete mpVideoRenderer;
    mpVideoRenderer = nullptr;
    delete mpAudioRenderer;
    mpAudioRenderer = nullptr;
    mDisplaying = 0;
    delete mpSourceVideoInfo;
    mpSourceVideoInfo = nullptr;
    delete mpDisplayVideoInfo;
    mpDisplayVideoInfo = nullptr;
    delete mpAudioInfo;
    mpAudioInfo = nullptr;
    mQueue.Clear();
    mLiveDesc = CSourceDesc();
    if (mCodecHandle < 0)
        return mCodecHandle;
    int result = ReleaseCodec(mCodecHandle);
    mCodecHandle = kNoCodec;
    return result;
}

void CDisplayChannel::PrepareLiveDescription() {
    mLiveDesc.SetQueue(&mQueue);
    mLiveDesc.SetEvents(&mStopEvent, mpInstanceEvent);
    mLiveDesc.SetTemplate(mpSourceVideoInfo);
    mLiveDesc.mAutoRestart = mRecordOption;
}

int CDisplayChannel::BuildPipeline() {
    ReleasePipeline();
    mQueue.mChannel = mChannel;
    mQueue.mDropCount = 0;
    mRunning = 1;
    mStopEvent.Reset();

    mpAudioInfo = new media_util::CMediaObj();
    if (FillAudioInfo() != 0) {
        mpAudioRenderer = new CDirectShowRenderer();
        mpAudioRenderer->SetFormats(mpAudioInfo, mpAudioInfo);
    }

    mpSourceVideoInfo = new media_util::CMediaObj();
    mpDisplayVideoInfo = new media_util::CMediaObj();
    if (FillVideoInfo() == 0)
        return 0;
    CChannelGeometry::AdjustDisplayFormat(mpSourceVideoInfo->mVideoFormat, mOutputFormat, mpDisplayVideoInfo);

    if (PrepareSubscription() == 0)
        return 0;
    if (CChannelGeometry::IsDualPictureDevice(mMachineCode)) {
        mSplitLayout = CChannelGeometry::kSplitLayoutDual;
        mDualPicture = 1;
    }
    // The decoder, unless a decoder filter in the renderer's graph decodes
    // (which a split picture cannot use).
    if ((mDisplayFlags & kFlagDecodeInGraph) == 0 || mSplitLayout != 0) {
        if (mpDecoder == nullptr)
            mpDecoder = new CVideoDecoder();
        mpDecoder->Setup(mpSourceVideoInfo, mpDisplayVideoInfo);
    }
    const bool decodeInGraph = (mDisplayFlags & kFlagDecodeInGraph) != 0 && mSplitLayout == 0;
    mpVideoRenderer = new CDirectShowRenderer();
    mpVideoRenderer->SetAspectMode(mAspectMode);
    if (decodeInGraph) {
        mpVideoRenderer->SetDecoderGuid(mDecoderGuid);
        mpVideoRenderer->SetFormats(mpSourceVideoInfo, mpDisplayVideoInfo);
    } else {
        mpVideoRenderer->SetFormats(mpDisplayVideoInfo, mpDisplayVideoInfo);
    }

    SRect picture =
        CChannelGeometry::PictureRect(mpSourceVideoInfo->mWidth, mpSourceVideoInfo->mHeight,
                                      CChannelGeometry::IsDualPictureDevice(mMachineCode), mChannel);
    mPictureRect = CChannelGeometry::ApplyCrop(picture, mCropRect);
    const RECT source{mPictureRect.left, mPictureRect.top, mPictureRect.right, mPictureRect.bottom};
    mpVideoRenderer->SetSourceRect(source);
    for (SPictureArea& area : mPictureAreas)
        area.rect = mPictureRect;

    // The pacer paces the frames itself: the queue must not sleep.
    mpPacer = new CFramePacer();
    mpPacer->SetTargets(mpVideoRenderer, mpAudioRenderer, &mStopEvent, &mQueue);
    mQueue.GetFrameControl()->SetUseSleep(0);
    return 1;
}
