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
    // A poller always paces: each request asks for one picture, and asking
    // faster than the device makes pictures only repeats them.
    mPacingMode = CSourceDesc::kPacingFrameTime;
    mFrameRateCode = desc.mFrameRateCode != 0        ? desc.mFrameRateCode
                     : desc.mTemplate.mFrameRate > 0 ? desc.mTemplate.mFrameRate
                                                     : kDefaultPollRate;
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

DWORD CSnapshotSource::FailureWait() const {
    const DWORD backOff =
        std::min<DWORD>(kMaxFailureBackOffMs, DWORD(std::max(mFailureCount, 0)) * kFailureBackOffStepMs);
    return std::max<DWORD>(DWORD(std::max(mInterval, 0)), backOff);
}

void CSnapshotSource::ReportNoVideo(int channel) {
    const int bit = 1 << (channel - 1);
    if ((mDarkReported & bit) == 0) {
        mDarkReported |= bit;
        PostEvent(kEventAlarm3, channel);
        WakeListener();
    }
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
                    ReportNoVideo(mNextChannel);
                    ++mNextChannel;
                    // The pass ends here when this was its last channel.
                    if (mNextChannel > mChannelCount)
                        PaceFrame();
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
    // A refusal (401) or an error page is no picture, whatever its size.
    const bool fetched = mpLink != nullptr && mpLink->FetchInto(mUrl, body) && AnsweredOk();
    NoteAnswer();
    // The interval follows how long the device takes to answer; the waits
    // below (pacing, back-off) are ours and do not count.
    AdaptInterval(start);
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
                mDarkReported &= ~mChannelMask;
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
        WaitStop(FailureWait());
        if (mpClientCancel != nullptr && mpClientCancel->IsSignalled() && IsRunning()) {
            mpClientCancel->Reset();
            RebuildClient();
            if (mpLink != nullptr)
                mpLink->SetBounded(false);
        }
        ++mFailureCount;
    }
    return delivered;
}
