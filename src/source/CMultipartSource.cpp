#include "source/CMultipartSource.h"

#include "platform/CStrUtil.h"
#include "platform/Trace.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

using media_util::CMediaObj;
using media_util::CSlowHash;
using media_util::CStrUtil;

namespace {

// The program's own object type, so that objects are destroyed by the code
// that made them.
class CPartObj : public CMediaObj {};

// Headers and values of the part head.
constexpr std::string_view kContentType = "Content-Type";
constexpr std::string_view kContentLength = "Content-Length";
constexpr std::string_view kFramerate = "X-Framerate";
constexpr std::string_view kResolution = "X-Resolution";
constexpr std::string_view kAlarm = "X-Alarm";
constexpr std::string_view kTag = "X-Tag";
constexpr std::string_view kBitrate = "X-Bitrate";
constexpr std::string_view kCodec = "X-Codec";
constexpr std::string_view kTime = "X-Time";
constexpr std::string_view kChannel = "X-CH";
constexpr std::string_view kWait = "X-Wait";
constexpr std::string_view kCovert = "X-Covert";

// Frame numbers and frame rates travel in 21 bits.
constexpr int32_t kCounterMask = 0x1FFFFF;

// Channel pairs of the two-channel stream letters: A carries channels 1 and
// 2, B channels 3 and 4.
constexpr int32_t kPairAMask = 3;
constexpr int32_t kPairAChannel = 1;
constexpr int32_t kPairBMask = 12;
constexpr int32_t kPairBChannel = 3;

int32_t Decimal(const std::string& text) {
    return CStrUtil::ParseInt(text, 10);
}

} // namespace

CMultipartSource::CMultipartSource() = default;

CMultipartSource::~CMultipartSource() {
    Stop();
}

int CMultipartSource::Init() {
    if (mStreamUrl.empty()) {
        NotifyStop();
        return 0;
    }
    CHttpMediaSource::Init();
    mBuffer.assign(kHeadBufferSize, 0);
    mBuffered = 0;
    mSkippingLine = false;
    mConnected = OpenStream();
    mLastDataTime = mpClock->Now();
    return 1;
}

int CMultipartSource::Final() {
    MarkLost();
    std::vector<char>().swap(mBuffer);
    mBuffered = 0;
    return 1;
}

bool CMultipartSource::OpenStream() {
    mAttempted = true;
    mLastAttempt = mpClock->Now();
    mStreaming = false;
    mScanned = 0;
    mScanLimit = kMaxScanBytes;
    StopPartClock();
    const bool opened = mpLink != nullptr && mpLink->OpenUrl(mStreamUrl);
    NoteAnswer();
    if (!opened)
        return false;
    if (AnsweredOk()) {
        ++mOpens;
        return true;
    }
    // A refusal (401), a missing stream (404) or any other answer carries no
    // stream: a failed attempt, not a connection.
    mpLink->Close();
    return false;
}

void CMultipartSource::MarkLost() {
    mConnected = false;
    StopPartClock();
    if (mpLink != nullptr)
        mpLink->Close();
}

void CMultipartSource::ConnectionLost() {
    const bool streamed = mStreaming;
    MarkLost();
    mStreaming = false;
    if (streamed || !IsRunning())
        return;
    ++mFailureCount;
    BackOff();
}

void CMultipartSource::BackOff() {
    if (WaitStop(mReconnectDelay)) {
        StopWithEvent(mChannel);
        return;
    }
    if (mReconnectDelay < kMaxReconnectDelayMs)
        mReconnectDelay += kReconnectStepMs;
}

void CMultipartSource::Reconnect() {
    if (mAttempted) {
        // A device that takes the connection and drops it after a part must
        // not be asked again at once, over and over.
        const DWORD since = mpClock->Now() - mLastAttempt;
        if (since < kReconnectStepMs && WaitStop(kReconnectStepMs - since)) {
            StopWithEvent(mChannel);
            return;
        }
    }
    mConnected = OpenStream();
    if (!mConnected)
        BackOff();
}

void CMultipartSource::StartPartClock() {
    if (mPartClock || mpClient == nullptr)
        return;
    // The client measures its deadline on the system clock.
    mpClient->SetDeadline(timeGetTime() + mPartDeadlineMs);
    mPartClock = true;
}

void CMultipartSource::StopPartClock() {
    if (mPartClock && mpClient != nullptr)
        mpClient->ClearDeadline();
    mPartClock = false;
}

bool CMultipartSource::ReadMore() {
    if (mpLink == nullptr || mBuffered >= mBuffer.size())
        return false;
    DWORD length = static_cast<DWORD>(mBuffer.size() - mBuffered);
    if (!mpLink->Read(mBuffer.data() + mBuffered, &length, false))
        return false;
    mBuffered += std::min<size_t>(length, mBuffer.size() - mBuffered);
    mLastDataTime = mpClock->Now();
    return true;
}

void CMultipartSource::Compact(size_t from) {
    if (from >= mBuffered) {
        mBuffered = 0;
        return;
    }
    if (from > 0)
        std::memmove(mBuffer.data(), mBuffer.data() + from, mBuffered - from);
    mBuffered -= from;
}

CMultipartSource::HeadResult CMultipartSource::ReadPartHead(CSlowHash& head, size_t& dataStart) {
    if (mBuffer.size() != kHeadBufferSize) {
        mBuffer.assign(kHeadBufferSize, 0);
        mBuffered = 0;
    }
    if (mBuffered == 0) {
        if (!ReadMore())
            return HeadResult::kLost;
        if (mBuffered >= kRefusalMinBytes && mBuffered <= kRefusalMaxBytes && mBuffer[0] == 'N' &&
            mBuffer[1] == 'S' && mBuffer[2] == ' ')
            return HeadResult::kRefused;
    }

    const char* buffer = mBuffer.data();
    size_t position = 0;
    bool inHead = false;
    size_t headLines = 0;
    int scanReads = 0;
    std::string name;
    std::string value;
    for (;;) {
        const char* line = nullptr;
        size_t lineLength = 0;
        if (!inHead) {
            while (CStrUtil::ReadLineNoCopy(buffer, mBuffered, position, line, lineLength)) {
                if (mSkippingLine) {
                    mSkippingLine = false;
                    continue;
                }
                if (std::string_view(line, lineLength) == kBoundaryLine) {
                    inHead = true;
                    break;
                }
            }
            if (!inHead) {
                if (mSkippingLine || mBuffered - position > kMaxBoundaryPartial) {
                    mSkippingLine = true;
                    position = mBuffered;
                }
                mScanned += position;
                Compact(position);
                position = 0;
                // A peer that sends and sends without a boundary line is not
                // (or no longer) a stream of parts.
                if (mScanned > mScanLimit)
                    return HeadResult::kLost;
                if (!IsRunning() || ++scanReads > kMaxScanReadsPerCall)
                    return HeadResult::kIncomplete;
                if (!ReadMore())
                    return HeadResult::kLost;
                continue;
            }
        }
        while (CStrUtil::ReadLineNoCopy(buffer, mBuffered, position, line, lineLength)) {
            if (lineLength == 0) {
                dataStart = position;
                return HeadResult::kComplete;
            }
            // The same limit for a line that arrived whole, so that the
            // outcome does not depend on how the bytes were split into reads.
            if (lineLength > kMaxHeaderLine || ++headLines > kMaxHeadLines) {
                Compact(position);
                return HeadResult::kIncomplete;
            }
            if (CStrUtil::SeparatePair(std::string_view(line, lineLength), ":", name, value))
                head.Add(name, value);
        }
        // The pending bytes may hold a whole line of the limit plus its CR,
        // waiting for the LF of the next read.
        if (mBuffered - position > kMaxHeaderLine + 1) {
            // Abandon this head; the next call scans on from the long line,
            // which cannot be a boundary and is skipped.
            Compact(position);
            return HeadResult::kIncomplete;
        }
        Compact(position);
        position = 0;
        if (!IsRunning())
            return HeadResult::kIncomplete;
        if (!ReadMore())
            return HeadResult::kLost;
    }
}

bool CMultipartSource::FillFromHead(const CSlowHash& head, CMediaObj* object, int32_t& dataLength) {
    dataLength = 0;
    // The channel first: alarm events are posted for it.
    if (head.IsContainKey(kChannel)) {
        const std::string channel = head.Get(kChannel);
        if (!channel.empty() && channel[0] == 'A') {
            object->mChannelMask = kPairAMask;
            object->mChannel = kPairAChannel;
        } else if (!channel.empty() && channel[0] == 'B') {
            object->mChannelMask = kPairBMask;
            object->mChannel = kPairBChannel;
        } else {
            object->mChannel = Decimal(channel);
        }
    }
    bool hasResolution = false;
    for (size_t i = 0; i < head.GetCount(); ++i) {
        const std::string& key = head.GetKeyAt(i);
        const std::string& text = head.GetValueAt(i);
        if (key == kContentType) {
            if (text == "image/mpeg4")
                object->mVideoFormat = media_util::kVideoMpeg4;
            else if (text == "image/jpeg")
                object->mVideoFormat = media_util::kVideoJpeg;
            else if (text == "image/avc")
                object->mVideoFormat = media_util::kVideoH264QBox;
        } else if (key == kContentLength) {
            dataLength = Decimal(text);
        } else if (key == kFramerate) {
            object->mFrameRate = (Decimal(text) & kCounterMask) * 1000;
        } else if (key == kResolution) {
            const size_t star = text.find('*');
            object->mWidth = Decimal(text.substr(0, star));
            object->mHeight = star == std::string::npos ? 0 : Decimal(text.substr(star + 1));
            if (object->mHeight == kPaddedPalHeight)
                object->mHeight = kPalHeight;
            else if (object->mHeight == kPaddedNtscHeight)
                object->mHeight = kNtscHeight;
            hasResolution = true;
        } else if (key == kAlarm) {
            const int32_t bits = Decimal(text);
            if (bits & 5) {
                object->mTagList.push_back(1);
                PostEvent(kEventAlarm1, object->mChannel);
            }
            if (bits & 10) {
                object->mTagList.push_back(2);
                PostEvent(kEventAlarm2, object->mChannel);
            }
            if (bits & 16) {
                object->mTagList.push_back(3);
                PostEvent(kEventAlarm3, object->mChannel);
            }
            if (bits != 0)
                WakeListener();
        } else if (key == kTag) {
            const int32_t n = Decimal(text);
            object->mFrameNumber = n > 0 ? (n & kCounterMask) * 1000 : n;
        } else if (key == kBitrate) {
            object->mSampleRate = Decimal(text);
        } else if (key == kCodec) {
            if (text == "U-LAW") {
                object->mAudioFormat = media_util::kAudioUlaw;
            } else if (text == "AAC") {
                object->mAudioFormat = media_util::kAudio2010;
                object->mAudioChannels = 2;
                object->mSampleRate = 44100;
                object->mBitsPerSample = 16;
            } else if (text == "G726") {
                object->mAudioFormat = media_util::kAudio2020;
                object->mAudioChannels = 1;
                object->mSampleRate = 8000;
                object->mBitsPerSample = 16;
            }
        } else if (key == kTime) {
            if (CStrUtil::ParseTime(text, object->mTime))
                mLastStreamTime = object->mTime;
        } else if (key == kWait) {
            object->mWait = Decimal(text);
        } else if (key == kCovert) {
            object->mCovert = Decimal(text);
        }
    }

    if (object->mWait != 0)
        return object->mWait > 0;

    const int channel = object->mChannel;
    if (IsChannelSlot(channel)) {
        CMediaObj& last = mLastMedia[channel];
        if (last.mVideoFormat == media_util::kVideoNone) {
            object->CloneMe(&last, CMediaObj::kCloneHeader);
        } else if (object->mVideoFormat == media_util::kVideoMpeg4 && object->mFrameNumber != 0 &&
                   last.mFrameNumber != 0 &&
                   int64_t(object->mFrameNumber) - int64_t(last.mFrameNumber) < -kMaxFrameNumberFall) {
            // Both numbers come from the device: the difference is taken in
            // 64 bits and only its printed form is clamped.
            const int64_t fall = int64_t(object->mFrameNumber) - int64_t(last.mFrameNumber);
            media_util::Trace("(inMediaObj->mFrameNumber - pLastMedia->mFrameNumber): %d\n",
                              static_cast<int>(std::max<int64_t>(fall, INT32_MIN)));
            MarkLost();
            object->mVideoFormat = media_util::kVideoNone;
            object->mAudioFormat = media_util::kAudioNone;
            last.mFrameNumber = 0;
        } else if (!hasResolution || (object->mVideoFormat == last.mVideoFormat &&
                                      object->mHeight == last.mHeight && object->mWidth == last.mWidth)) {
            if (object->mFrameNumber != 0)
                last.mFrameNumber = object->mFrameNumber;
        } else {
            object->CloneMe(&last, CMediaObj::kCloneHeader);
            StopWithEvent(channel);
        }
    }
    return object->mVideoFormat != media_util::kVideoNone || object->mAudioFormat != media_util::kAudioNone;
}

int CMultipartSource::Step() {
    if (!mConnected) {
        Reconnect();
        mBuffered = 0;
        mSkippingLine = false;
        // A successful open is not yet a success: the count falls back to 0
        // only when the stream delivers its first part.
        if (!mConnected)
            ++mFailureCount;
        return 0;
    }

    StartPartClock();
    CSlowHash head;
    size_t dataStart = 0;
    switch (ReadPartHead(head, dataStart)) {
    case HeadResult::kComplete:
        break;
    case HeadResult::kRefused:
        MarkLost();
        StopWithEvent(mChannel);
        return 0;
    case HeadResult::kIncomplete:
        return 0;
    case HeadResult::kLost:
        ConnectionLost();
        mBuffered = 0;
        return 0;
    }
    mScanned = 0;
    mScanLimit = kMaxScanBytes;
    mFailureCount = 0;
    if (!mStreaming) {
        mStreaming = true;
        mReconnectDelay = kReconnectStepMs;
    }

    std::unique_ptr<CMediaObj> object(new CPartObj);
    int32_t dataLength = 0;
    size_t consumed = dataStart;
    bool complete = false;
    if (FillFromHead(head, object.get(), dataLength) && IsRunning() && object->mWait == 0 && dataLength > 0) {
        const size_t behindHead = mBuffered - dataStart;
        const size_t copied = std::min<size_t>(behindHead, size_t(dataLength));
        if (dataLength > kMaxPartBytes) {
            // Not taken into memory: its data is searched through for the
            // next boundary like garbage, which also finds the next part at
            // once when the length was a lie. A part that is as long as it
            // says may take its length in search before the stream counts
            // as lost.
            ++mSkippedParts;
            mScanLimit = kMaxScanBytes + size_t(dataLength);
        } else {
            const bool audio = object->mAudioFormat != media_util::kAudioNone;
            uint8_t* block = audio ? object->AllocateData2(dataLength) : object->AllocateData(dataLength);
            if (block != nullptr) {
                std::memcpy(block, mBuffer.data() + dataStart, copied);
                consumed += copied;
                DWORD rest = static_cast<DWORD>(size_t(dataLength) - copied);
                complete = true;
                if (rest > 0) {
                    DWORD got = rest;
                    complete = mpLink->Read(block + copied, &got, true) && got == rest;
                    if (complete)
                        mLastDataTime = mpClock->Now();
                }
                if (!complete)
                    MarkLost();
                else
                    TagMediaObject(object.get(), block, dataLength, object->mChannel);
            }
        }
    }
    if (!mConnected) {
        mBuffered = 0;
        return 0;
    }
    Compact(consumed);
    // The part is over (taken, skipped or left for later): the next one has
    // its own time.
    StopPartClock();

    if (object->mFrameKind == media_util::kFramePredicted && IsChannelSlot(object->mChannel)) {
        // Devices describe only key frames; a predicted frame has the size
        // and rate of the frames before it.
        const CMediaObj& last = mLastMedia[object->mChannel];
        object->mWidth = last.mWidth;
        object->mHeight = last.mHeight;
        object->mFrameRate = last.mFrameRate;
    }
    if (object->mTime.wYear == 0)
        object->mTime = mLastStreamTime;
    if (!complete)
        return 0;
    // Paced before the hand-over: once queued, the object belongs to the
    // consumer and may be gone.
    PaceJpeg(object.get());
    if (!Deliver(object.get()))
        return 0;
    object.release();
    return 1;
}
