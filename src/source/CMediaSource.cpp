#include "source/CMediaSource.h"

#include "platform/CJpegHeader.h"
#include "platform/CLockWrap.h"
#include "platform/CMachineCodeConvert.h"
#include "source/CSourceClock.h"

#include <algorithm>
#include <cstring>

using media_util::CJpegHeader;
using media_util::CLockWrap;
using media_util::CMachineCodeConvert;
using media_util::CMediaObj;

namespace {

// QBox sample flags as they land in a little-endian read of the flag word at
// offset 16 (the box stores it big-endian, so its last byte is the top byte).
constexpr uint32_t kQBoxLeConfig = 1u << 24;
constexpr uint32_t kQBoxLeCts = 1u << 25;
constexpr uint32_t kQBoxLeSync = 1u << 26;
constexpr int32_t kQBoxFlagOffset = 16;
constexpr int32_t kQBoxMagicOffset = 4;

// Alarm bit masks by the kind of device that made the image: video servers
// and recorders number their alarm inputs differently from cameras.
struct SAlarmMasks {
    int m1, m2, m3;
};
constexpr SAlarmMasks kServerAlarms{1, 2, 16};
constexpr SAlarmMasks kRecorderAlarms{32, 128, 64};
constexpr SAlarmMasks kCameraAlarms{5, 10, 16};

void PutLe16(uint8_t* p, int32_t value) {
    p[0] = static_cast<uint8_t>(value & 0xFF);
    p[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

} // namespace

CMediaSource::CMediaSource() : mpClock(&CSourceClock::Instance()) {}

CMediaSource::~CMediaSource() {
    Stop();
}

void CMediaSource::SetClock(ISourceClock* clock) {
    mpClock = clock != nullptr ? clock : &CSourceClock::Instance();
}

int CMediaSource::Init() {
    mLastJpegSequence = 0;
    mLimitReported = false;
    return 1;
}

int CMediaSource::Job() {
    if (mSettingsEvent.IsSignalled()) {
        CLockWrap lock(mSettingsLock);
        CopySettings();
        mSettingsEvent.Reset();
    }
    // Event 5 once per run of failures: the count may stay at or above the
    // limit over several passes (an attempt that opened but has not yet
    // delivered is no success), and it is a success that ends the run.
    if (mFailureCount < mFailureLimit) {
        mLimitReported = false;
    } else if (!mLimitReported) {
        mLimitReported = true;
        PostEvent(kEventFailureLimit, mChannel);
        WakeListener();
        if (!mAutoRestart) {
            NotifyStop();
            return 0;
        }
    }
    if (mDelayBeforeStep) {
        mDelayBeforeStep = false;
        if (mStepDelayMs > 0 && mpClock->WaitEvents(&mStopEvent, nullptr, static_cast<DWORD>(mStepDelayMs)))
            return 0;
    }
    return Step();
}

bool CMediaSource::ApplySettings(const CSourceDesc* desc) {
    if (desc == nullptr)
        return false;
    {
        CLockWrap lock(mSettingsLock);
        if (desc != &mPendingSettings)
            mPendingSettings = *desc;
    }
    CopySettingsFrom(desc);
    return true;
}

int CMediaSource::Step() {
    return 0;
}

int CMediaSource::CopySettings() {
    CopySettingsFrom(&mPendingSettings);
    return 1;
}

uint32_t CMediaSource::PackEvent(int code, int channel) {
    const uint32_t top = static_cast<uint32_t>(channel > 0 ? channel - 1 : channel) & 0xFFu;
    return (static_cast<uint32_t>(code) & 0xFFFFFFu) | (top << 24);
}

void CMediaSource::PostEvent(int code, int channel) {
    CLockWrap lock(mEventLock);
    if (mEvents.size() >= kMaxEvents)
        return;
    mEvents.push_back(PackEvent(code, channel));
}

bool CMediaSource::TakeEvents(std::vector<uint32_t>& events) {
    CLockWrap lock(mEventLock);
    if (mEvents.empty())
        return false;
    events.insert(events.end(), mEvents.begin(), mEvents.end());
    mEvents.clear();
    return true;
}

void CMediaSource::WakeListener() {
    if (mpListener != nullptr)
        mpListener->Set();
}

void CMediaSource::StopWithEvent(int channel) {
    PostEvent(kEventStopped, channel);
    NotifyStop();
    WakeListener();
}

bool CMediaSource::WaitStop(DWORD milliseconds) {
    return mpClock->WaitEvents(&mStopEvent, mpOwnerEvent, milliseconds);
}

void CMediaSource::UpdateSettings(CSourceDesc* desc) {
    if (desc == nullptr)
        return;
    bool changed = false;
    {
        CLockWrap lock(mSettingsLock);
        if (*desc != mPendingSettings) {
            mPendingSettings = *desc;
            mSettingsEvent.Set();
            changed = true;
        }
    }
    // A worker without a thread would never apply it: then the record simply
    // stays pending for the first pass.
    while (changed && mSettingsEvent.IsSignalled() && IsRunning() && IsThreadWorking())
        mStopEvent.Wait(kSettingsWaitSliceMs);
    CLockWrap lock(mSettingsLock);
    *desc = mPendingSettings;
}

int CMediaSource::GetSettings(CSourceDesc* desc) {
    if (desc == nullptr)
        return 0;
    CLockWrap lock(mSettingsLock);
    *desc = mPendingSettings;
    return 0;
}

void CMediaSource::CopySettingsFrom(const CSourceDesc* desc) {
    if (desc == nullptr)
        return;
    if (desc->mRequestMode != mRequestMode && mRequestMode != CSourceDesc::kRequestIdle &&
        mpOutputQueue != nullptr)
        mpOutputQueue->Clear();
    mRequestMode = desc->mRequestMode;
    mRequestValue2 = desc->mRequestValue2;
    desc->mTemplate.CloneMe(&mTemplate, CMediaObj::kCloneHeader);
    mpListener = desc->mpListener;
    mPacingMode = desc->mPacingMode;
    mFrameRateCode = desc->mFrameRateCode;
    mRateLimit = desc->mRateLimit;
    mPacingValue4 = desc->mPacingValue4;
    mAutoRestart = desc->mAutoRestart != 0;
    mMachineCode = desc->mMachineCode;
    mChannel = desc->mTemplate.mChannel;
}

bool CMediaSource::Deliver(CMediaObj* object) {
    if (mpOutputQueue == nullptr || object == nullptr)
        return false;
    return mpOutputQueue->Enque(object);
}

void CMediaSource::TagMediaObject(CMediaObj* object, uint8_t* data, int32_t length, int channel) {
    if (object == nullptr || data == nullptr || length <= 0)
        return;
    object->mChannel = channel;
    switch (object->mVideoFormat) {
    case media_util::kVideoMpeg4: {
        object->mFrameKind = media_util::kFrameUnknown;
        if (length < 4 || data[0] != 0 || data[1] != 0 || data[2] != 1)
            return;
        if (data[3] == 0x01) {
            object->mFrameKind = media_util::kFrameKeyWithConfig;
        } else if (data[3] == 0xB6 && length >= 5) {
            // vop_coding_type sits in the top two bits: 00 intra, 01 predicted.
            if (data[4] < 0x40)
                object->mFrameKind = media_util::kFrameKey;
            else if (data[4] & 0x40)
                object->mFrameKind = media_util::kFramePredicted;
        }
        return;
    }
    case media_util::kVideoH264QBox: {
        object->mFrameKind = media_util::kFrameUnknown;
        if (length < kQBoxMagicOffset + 4 || std::memcmp(data + kQBoxMagicOffset, "qbox", 4) != 0) {
            // Not boxed: devices that send bare H.264 send key frames only.
            object->mFrameKind = media_util::kFrameKey;
            return;
        }
        if (length < kQBoxFlagOffset + 4)
            return;
        const uint32_t flags = uint32_t(data[kQBoxFlagOffset]) | uint32_t(data[kQBoxFlagOffset + 1]) << 8 |
                               uint32_t(data[kQBoxFlagOffset + 2]) << 16 |
                               uint32_t(data[kQBoxFlagOffset + 3]) << 24;
        if ((flags & (kQBoxLeConfig | kQBoxLeCts)) == (kQBoxLeConfig | kQBoxLeCts))
            object->mFrameKind = media_util::kFrameKeyWithConfig;
        else if ((flags & (kQBoxLeCts | kQBoxLeSync)) == (kQBoxLeCts | kQBoxLeSync))
            object->mFrameKind = media_util::kFrameKey;
        else if (flags & kQBoxLeCts)
            object->mFrameKind = media_util::kFramePredicted;
        return;
    }
    case media_util::kVideoJpeg:
        break;
    default:
        return;
    }

    if (mMachineCode == kMachineCodePlainJpeg)
        return;
    object->mFrameKind = media_util::kFrameKey;
    const CJpegHeader header(data, static_cast<size_t>(length), 0);
    header.GetTime(&object->mTime);
    const int machineCode = header.GetMachineCode();
    const int type = CMachineCodeConvert::GetDeviceType(machineCode);
    const bool server = type == CMachineCodeConvert::kTypeVideoStandard || machineCode == 0;
    const bool recorder = type == CMachineCodeConvert::kTypeMultiChannel;
    // The fields below exist only inside a device header; a plain JPEG has
    // its quantisation table at these offsets, which must stay intact.
    if (header.HasHeader()) {
        data[CJpegHeader::kOffsetChecksum] = 0;
        data[CJpegHeader::kOffsetChecksum + 1] = 0;
    }
    if (!server && machineCode != kMachineCodeOwnSize) {
        object->mWidth = header.GetWidth();
        object->mHeight = header.GetHeight();
    } else if (header.HasHeader()) {
        PutLe16(data + CJpegHeader::kOffsetWidth, object->mWidth);
        PutLe16(data + CJpegHeader::kOffsetHeight, object->mHeight);
    }
    const uint32_t sequence = header.GetSequence();
    object->mFrameNumber = sequence == 0 ? 0 : static_cast<int32_t>((sequence & 0x1FFFFF) * 1000);
    int32_t rate = kDefaultJpegFrameRate;
    if (mLastJpegSequence != 0 && uint64_t(mLastJpegSequence) + 1 < sequence) {
        // A gap of d sequence numbers since the last image: the device skips
        // frames, so the stream runs slower than its nominal rate.
        const uint32_t gap = sequence - mLastJpegSequence;
        if (gap < kMaxSequenceGap)
            rate = std::min<int32_t>(kDefaultJpegFrameRate, kDefaultJpegFrameRate / int32_t(gap) * 3 / 2);
    }
    object->mFrameRate = rate;
    mLastJpegSequence = sequence;

    if (IsChannelSlot(channel)) {
        CMediaObj& last = mLastMedia[channel];
        // A last object without a size came from a part that did not
        // describe one (no X-Resolution): the image header is the first
        // description, not a change.
        const bool undescribed =
            last.mVideoFormat == object->mVideoFormat && last.mWidth == 0 && last.mHeight == 0;
        if (last.mVideoFormat == media_util::kVideoNone || undescribed) {
            object->CloneMe(&last, CMediaObj::kCloneHeader);
        } else if (last.mVideoFormat != object->mVideoFormat || last.mHeight != object->mHeight ||
                   last.mWidth != object->mWidth) {
            object->CloneMe(&last, CMediaObj::kCloneHeader);
            StopWithEvent(channel);
        }
    }

    // A part may already carry these alarms in its X-Alarm header: the same
    // alarm of the same frame is tagged and reported once.
    const int alarm = header.GetAlarm();
    const SAlarmMasks& masks = server ? kServerAlarms : recorder ? kRecorderAlarms : kCameraAlarms;
    const std::pair<int, int> bits[] = {
        {masks.m1, kEventAlarm1}, {masks.m2, kEventAlarm2}, {masks.m3, kEventAlarm3}};
    for (const auto& [mask, code] : bits) {
        if ((alarm & mask) == 0)
            continue;
        std::vector<int32_t>& tags = object->mTagList;
        if (std::find(tags.begin(), tags.end(), code) != tags.end())
            continue;
        tags.push_back(code);
        PostEvent(code, channel);
    }
    if (alarm != 0)
        WakeListener();
}

void CMediaSource::PaceJpeg(const CMediaObj* object) {
    if (object == nullptr) {
        WaitStop(kPaceNoObjectWaitMs);
        return;
    }
    // Only JPEG frames under frame-time pacing wait: a stream of MPEG-4,
    // H.264 or audio parts is paced by the device itself, and a wait after
    // each would cap a source at about a hundred objects a second.
    if (object->mVideoFormat != media_util::kVideoJpeg || mPacingMode != CSourceDesc::kPacingFrameTime)
        return;
    PaceFrame();
}

void CMediaSource::PaceFrame() {
    const int32_t frameTime = CMediaObj::GetFrameTime(mFrameRateCode);
    const DWORD now = mpClock->Now();
    if (static_cast<int32_t>(mPaceDue - now) > 0) {
        mPaceDue = now;
        return;
    }
    const int32_t wait = frameTime - static_cast<int32_t>(now - mPaceDue);
    if (wait > 0) {
        WaitStop(static_cast<DWORD>(wait));
        mPaceDue += static_cast<DWORD>(frameTime);
    } else {
        mPaceDue = now;
    }
}
