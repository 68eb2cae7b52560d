#include "source/CHttpMediaSource.h"

CHttpMediaSource::CHttpMediaSource() {
    mStepDelayMs = 0;
}

CHttpMediaSource::~CHttpMediaSource() {
    Stop();
    DestroyClient();
}

int CHttpMediaSource::Init() {
    if (IsRunning())
        mCancelEvent.Reset();
    return CMediaSource::Init();
}

void CHttpMediaSource::NoteAnswer() {
    if (mpClient == nullptr)
        return;
    const int status = mpClient->GetStatusCode();
    if (status != 0)
        mLastAnswerStatus = status;
    else if (IsRunning())
        mLastRequestError = mpClient->GetLastErrorCode();
}

void CHttpMediaSource::DestroyClient() {
    delete mpLink;
    mpLink = nullptr;
    delete mpClient;
    mpClient = nullptr;
}

bool CHttpMediaSource::RebuildClient() {
    DestroyClient();
    CHttpLink* link = nullptr;
    IHttpClient* client = nullptr;
    bool made = mClientFactory
                    ? mClientFactory(mClientKind, mUser, mPassword, &mCancelEvent, &link, &client)
                    : CreateHttpClient(mClientKind, mUser, mPassword, &mCancelEvent, &link, &client);
    mpLink = link;
    mpClient = client;
    return made;
}

bool CHttpMediaSource::ApplySettings(const CSourceDesc* desc) {
    if (!CMediaSource::ApplySettings(desc))
        return false;
    // Copy first: desc may be the pending record, and the factory wants the
    // new credentials.
    mStreamUrl = desc->mUrl;
    mUser = desc->mUser;
    mPassword = desc->mPassword;
    mClientKind = desc->mClientKind;
    const bool made = RebuildClient();
    if (mpClient != nullptr && desc->mPacingMode == CSourceDesc::kPacingRateLimit)
        mpClient->SetRateLimit(static_cast<DWORD>(desc->mRateLimit));
    return made;
}

int CHttpMediaSource::CopySettings() {
    CMediaSource::CopySettings();
    const CSourceDesc& desc = mPendingSettings;
    if (desc.mUrl == mStreamUrl && desc.mUser == mUser && desc.mPassword == mPassword &&
        desc.mClientKind == mClientKind)
        return mClientKind;
    return ApplySettings(&desc) ? 1 : 0;
}
