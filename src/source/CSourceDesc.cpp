#include "source/CSourceDesc.h"

CSourceDesc::CSourceDesc(const CSourceDesc& other) {
    *this = other;
}

CSourceDesc& CSourceDesc::operator=(const CSourceDesc& other) {
    if (this == &other)
        return *this;
    mpStopEvent = other.mpStopEvent;
    mpListener = other.mpListener;
    other.mTemplate.CloneMe(&mTemplate, media_util::CMediaObj::kCloneAll);
    mpQueue = other.mpQueue;
    mSourceKind = other.mSourceKind;
    mSlot = other.mSlot;
    mUrl = other.mUrl;
    mClientKind = other.mClientKind;
    mReceiveType = other.mReceiveType;
    mUser = other.mUser;
    mPassword = other.mPassword;
    mRequestValue2 = other.mRequestValue2;
    mRequestMode = other.mRequestMode;
    mPathPrefix = other.mPathPrefix;
    mPathSuffix = other.mPathSuffix;
    mPacingMode = other.mPacingMode;
    mFrameRateCode = other.mFrameRateCode;
    mRateLimit = other.mRateLimit;
    mPacingValue4 = other.mPacingValue4;
    mAutoRestart = other.mAutoRestart;
    mMachineCode = other.mMachineCode;
    return *this;
}

int CSourceDesc::SetEvents(media_util::CManualEvent* stopEvent, media_util::CManualEvent* listener) {
    if (stopEvent == nullptr || listener == nullptr)
        return 0;
    mpStopEvent = stopEvent;
    mpListener = listener;
    return 1;
}

int CSourceDesc::SetQueue(media_util::IMediaQueue* queue) {
    if (queue == nullptr)
        return 0;
    mpQueue = queue;
    return 1;
}

int CSourceDesc::SetTemplate(const media_util::CMediaObj* object) {
    if (object == nullptr)
        return 0;
    object->CloneMe(&mTemplate, media_util::CMediaObj::kCloneHeader);
    return 1;
}

void CSourceDesc::SetUrlSource(const std::string& url, int32_t receiveType, const std::string& user,
                               const std::string& password) {
    mUrl = url;
    mReceiveType = receiveType;
    mUser = user;
    mPassword = password;
    mSourceKind = kKindUrl;
}

bool CSourceDesc::operator==(const CSourceDesc& other) const {
    return mpStopEvent == other.mpStopEvent && mpListener == other.mpListener &&
           mTemplate.Equals(&other.mTemplate) != 0 && mpQueue == other.mpQueue &&
           mSourceKind == other.mSourceKind && mSlot == other.mSlot && mUrl == other.mUrl &&
           mClientKind == other.mClientKind && mReceiveType == other.mReceiveType && mUser == other.mUser &&
           mPassword == other.mPassword && mRequestValue2 == other.mRequestValue2 &&
           mRequestMode == other.mRequestMode && mPathPrefix == other.mPathPrefix &&
           mPathSuffix == other.mPathSuffix && mPacingMode == other.mPacingMode &&
           mFrameRateCode == other.mFrameRateCode && mRateLimit == other.mRateLimit &&
           mPacingValue4 == other.mPacingValue4 && mAutoRestart == other.mAutoRestart &&
           mMachineCode == other.mMachineCode;
}

void CSourceDesc::Clear() {
    mUrl.clear();
    mUser.clear();
    mPassword.clear();
    mPathPrefix.clear();
    mPathSuffix.clear();
}
