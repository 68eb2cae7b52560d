#include "source/CSnapshotSource.h"

#include "platform/CLockWrap.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CMemoryStream.h"
#include "platform/CStrUtil.h"

#include <algorithm>
#include <cstdio>

using media_util::CMachineCodeConvert;
using media_util::CMediaObj;

namespace {
class CSnapshotObj : public CMediaObj {};
} // namespace

CSnapshotSource::CSnapshotSource() {
    mFailureLimit = kFailureLimit;
    mPacingMode = CSourceDesc::kPacingFrameTime;
}

CSnapshotSource::~CSnapshotSource() {
    Stop();
}

void CSnapshotSource::TakeOwnFields(const CSourceDesc& desc) {
    mRequestMode = desc.mRequestMode;
    mpListener = desc.mpListener;
    mPathSuffix = desc.mPathSuffix;
    // The channel digits go behind the URL's own path (set from the URL),
    // not behind the description's prefix.
    mPathPrefix = desc.mPathPrefix;
    mChannel = desc.mTemplate.mChannel;
    mFixedChannel = media_util::CStrUtil::IndexOf(mPathSuffix, kFixedChannelMarker) >= 0;
}

int CSnapshotSource::CopySettings() {
    const std::string oldUrl = mStreamUrl;
    const int result = CHttpMediaSource::CopySettings();
    TakeOwnFields(mPendingSettings);
    // A rebuilt link connects without the watchdog too, and a new URL is
    // cracked again so that the next request goes to it.
    if (mpLink != nullptr)
        mpLink->SetBounded(false);
    if (mStreamUrl != oldUrl && mUrl.Crack(mStreamUrl))
        mChannelPrefix = mUrl.mUrlPath;
    return result;
}

int CSnapshotSource::Init() {
    // The owner hands the description over before starting the worker.
    {
        media_util::CLockWrap lock(mSettingsLock);
        TakeOwnFields(mPendingSettings);
    }
    if (mStreamUrl.empty()) {
        NotifyStop();
        mLastDataTime = mpClock->Now();
        return 0;
    }
    CMediaSource::Init();
    mUrl.Crack(mStreamUrl);
    mpClientCancel = &mCancelEvent;
    if (mpLink != nullptr)
        mpLink->SetBounded(false);
    const int type = CMachineCodeConvert::GetDeviceType(mMachineCode);
    if (type == CMachineCodeConvert::kTypeVideoStandard) {
        mMultiChannel = true;
        mChannelCount = CMachineCodeConvert::GetMaxChannel(mMachineCode);
    } else if (type == CMachineCodeConvert::kTypeMultiChannel &&
               CMachineCodeConvert::GetMediaReceiveType(mMachineCode) ==
                   CMachineCodeConvert::kReceiveJpegPolling) {
        mChannelFromImage = true;
    }
    mChannelPrefix = mUrl.mUrlPath;
    mLastDataTime = mpClock->Now();
    return 1;
}

int CSnapshotSource::Final() {
    return 1;
}

void CSnapshotSource::AdaptInterval(DWORD start) {
    const int64_t elapsed = static_cast<int32_t>(mpClock->Now() - start);
    if (elapsed > mInterval + kIntervalSlackMs)
        mInterval += kIntervalGrowMs;
    else if (elapsed < mInterval - kIntervalSlackMs)
        mInterval = std::max(0, mInterval - kIntervalShrinkMs);
}

int CSnapshotSource::Step() {
    if (mRequestMode == CSourceDesc::kRequestIdle) {
        const bool passPending = mMultiChannel && !mFixedChannel && mNextChannel <= mChannelCount;
        if (!passPending) {
            WaitStop(kIdleWaitMs);
            return 0;
        }
    }
    const DWORD start = mpClock->Now();

    int requested = 0;
    if (mMultiChannel) {
        if (mFixedChannel) {
            requested = mChannel;
        } else {
            if (mNextChannel > mChannelCount)
                mNextChannel = 1;
            if (mChannelMask != 0 && mChannelCount >= kMinWalkChannels) {
                if ((mChannelMask & (1 << (mNextChannel - 1))) == 0) {
                    // The device says this input has no video: report it
                    // instead of fetching a blank picture.
                    PostEvent(kEventAlarm3, mNextChannel);
                    WakeListener();
                    ++mNextChannel;
                    return 0;
                }
            } else {
                mNextChannel = 1;
            }
            requested = mNextChannel;
        }
        char digits[16];
        std::snprintf(digits, sizeof digits, "%02d", requested);
        mUrl.mRequestPath = mChannelPrefix + digits + mPathSuffix;
        ++mNextChannel;
    }

    int delivered = 0;
    media_util::CMemoryStream body;
    const bool fetched = mpLink != nullptr && mpLink->FetchInto(mUrl, body);
    if (fetched && !body.IsEmpty()) {
        mFailureCount = 0;
        mLastDataTime = mpClock->Now();
        const size_t size = body.GetLength();
        if (size < kMinImageBytes || size == kNoSignalImageBytes) {
            WaitStop(static_cast<DWORD>(mInterval));
            return 0;
        }
        uint8_t* block = CMediaObj::AllocData(static_cast<int32_t>(size + 1));
        if (block == nullptr || !body.CopyToByteArray(block, size + 1)) {
            CMediaObj::FreeData(block);
            return 0;
        }
        CMediaObj* object = new CSnapshotObj;
        mTemplate.CloneMe(object, CMediaObj::kCloneHeader);
        // Every body of this source is a JPEG image, whatever the template says.
        object->mVideoFormat = media_util::kVideoJpeg;
        object->mAudioFormat = media_util::kAudioNone;
        object->AttachData(block, static_cast<int32_t>(size));
        object->mDataLength = static_cast<int32_t>(size);
        object->mDataSize = static_cast<int32_t>(size);
        if (mMultiChannel) {
            object->mChannel = requested;
            if (!mFixedChannel) {
                mChannelMask = block[kOffsetChannelMask];
            }
        } else if (mChannelFromImage) {
            object->mChannel = (block[kOffsetChannel] & 15) + 1;
        }
        TagMediaObject(object, block, static_cast<int32_t>(size), object->mChannel);
        const bool passUnderway = mMultiChannel && !mFixedChannel && mNextChannel <= mChannelCount;
        if (!passUnderway)
            PaceJpeg(object);
        if (Deliver(object))
            delivered = 1;
        else
            delete object;
        if (mRequestMode == 1 || mRequestMode == -1) {
            mRequestMode = CSourceDesc::kRequestIdle;
            media_util::CLockWrap lock(mSettingsLock);
            mPendingSettings.mRequestMode = CSourceDesc::kRequestIdle;
        }
    } else {
        WaitStop(static_cast<DWORD>(mInterval));
        if (mpClientCancel != nullptr && mpClientCancel->IsSignalled() && IsRunning()) {
            mpClientCancel->Reset();
            RebuildClient();
            if (mpLink != nullptr)
                mpLink->SetBounded(false);
        }
        ++mFailureCount;
    }
    AdaptInterval(start);
    return delivered;
}
