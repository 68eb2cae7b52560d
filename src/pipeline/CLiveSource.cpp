#include "pipeline/CLiveSource.h"

#include "source/CMultipartSource.h"
#include "source/CSnapshotSource.h"

CLiveSource::CLiveSource(const CSourceDesc& desc) : CSharedSource(desc) {
    mpDispatcher = &mDispatcher;
}

CLiveSource::~CLiveSource() {
    Stop();
    mDispatcher.SetInputQueue(nullptr);
}

bool CLiveSource::Matches(const CSourceDesc& desc) {
    if (mpReceiver == nullptr || !mpReceiver->IsRunning())
        return false;
    if (desc.mSourceKind != CSourceDesc::kKindUrl || mDesc.mSourceKind != CSourceDesc::kKindUrl)
        return false;
    return desc.mUrl == mDesc.mUrl;
}

void CLiveSource::Start() {
    Stop();
    if (mDesc.mReceiveType == CSourceDesc::kReceiveMultipart)
        mpReceiver = new CMultipartSource();
    else if (mDesc.mReceiveType == CSourceDesc::kReceiveJpegPolling)
        mpReceiver = new CSnapshotSource();
    mDispatcher.SetInputQueue(&mInputQueue);
    if (mpReceiver == nullptr)
        return;
    mpReceiver->ApplySettings(&mDesc);
    mpReceiver->SetOwnerEvent(&mReceiveEvent);
    mpReceiver->SetOutputQueue(&mInputQueue);
    mpReceiver->Start();
    mDispatcher.Start();
}

void CLiveSource::Stop() {
    delete mpReceiver;
    mpReceiver = nullptr;
    mDispatcher.Stop();
}

void CLiveSource::SetDesc(const CSourceDesc& desc) {
    if (mpReceiver == nullptr)
        return;
    CSourceDesc copy = desc;
    mpReceiver->UpdateSettings(&copy);
}

bool CLiveSource::EnsureRunning() {
    if (mpReceiver == nullptr)
        return false;
    if (!mpReceiver->IsThreadWorking())
        mpReceiver->ForceStart();
    return true;
}
