#include "record/CRecordWorker.h"

#include "platform/CFpsConverter.h"
#include "platform/CManualEvent.h"
#include "platform/CMemUtil.h"

#include <cstring>
#include <vector>

using media_util::CMediaObj;

namespace {

// RecKit's stream kinds.
constexpr int32_t kKindJpeg = CMS_KIND_JPEG;
constexpr int32_t kKindMpeg4 = CMS_KIND_MPEG4;
constexpr int32_t kKindH264 = CMS_KIND_H264;
constexpr int32_t kKindH264Dual = CMS_KIND_H264_DUAL;
// The writer mode handed with the file information.
const wchar_t kWriterMode[] = L"thrd";
// A file name longer than this is not asked for.
constexpr int32_t kMaxFileName = 4096 * 4;

const CRecordWorker::SRecKit kLibraryRecKit = {
    &CreateCMSRecorder,      &SetCMSRecorderFileInfo, &StartCMSRecorder,   &JoinVideoToCMSRecorder,
    &JoinAudioToCMSRecorder, &StopCMSRecorder,        &ReleaseCMSRecorder, &GetCMSRecorderFileName};

bool IsVideo(const CMediaObj& object) {
    return object.mVideoFormat != media_util::kVideoNone;
}

} // namespace

const CRecordWorker::SRecKit& CRecordWorker::LibraryRecKit() {
    return kLibraryRecKit;
}

CRecordWorker::CRecordWorker(const SRecKit& reckit)
    : mRecKit(reckit), mQueue(kQueueLimit), mpHeader(new CmsVideoFrame{}) {
    // Objects are taken as fast as they come: nothing here paces them.
    mQueue.GetFrameControl()->SetUseSleep(0);
    mQueue.SetNotifyEvent(&mWakeEvent);
}

CRecordWorker::~CRecordWorker() {
    Stop();
    mQueue.SetNotifyEvent(nullptr);
    FreeRecordData(&mpHeader->pData);
    delete mpHeader;
    mpHeader = nullptr;
    CloseRecording();
}

int CRecordWorker::OpenRecording(const std::wstring& path, int32_t videoFormat, int32_t first, int32_t second,
                                 int32_t recordMode, int32_t machineCode) {
    mRecordPath = path;
    mVideoFormat = videoFormat;
    mSink = 1;
    int32_t kind = kKindJpeg;
    mWaitingForKeyFrame = 0;
    if (videoFormat == media_util::kVideoMpeg4) {
        kind = kKindMpeg4;
        mWaitingForKeyFrame = 1;
    } else if (videoFormat == media_util::kVideoH264QBox) {
        kind = machineCode == kMachineCodeDualH264 ? kKindH264Dual : kKindH264;
        mWaitingForKeyFrame = 1;
    }
    mHandle = mRecKit.create(kind, first, second);
    int result = 0;
    if (recordMode > 0)
        result = mHandle >= 0 ? 1 : 0; // opened; BeginRecording starts it later
    else
        result = BeginRecording();
    if (result == 0)
        CloseRecording();
    return result;
}

int CRecordWorker::BeginRecording() {
    // A negative handle is handed on as it is: RecKit refuses it.
    const int32_t handle = mHandle.load();
    if (mRecKit.setFileInfo(handle, mRecordPath.c_str(), kWriterMode) == 0)
        return 0;
    const int result = mRecKit.start(handle);
    if (result != 0)
        LearnFileName();
    return result;
}

void CRecordWorker::CloseRecording() {
    const int32_t handle = mHandle.load();
    if (handle < 0)
        return;
    mRecKit.stop(handle);
    // Stopping may still create the file (a short recording is laid out
    // only now) or remove one that got nothing: ask for its name again.
    std::string name;
    char buffer[512];
    int32_t length = mRecKit.fileName(handle, buffer, sizeof buffer);
    if (length >= static_cast<int32_t>(sizeof buffer) && length < kMaxFileName) {
        std::vector<char> larger(static_cast<size_t>(length) + 1);
        length = mRecKit.fileName(handle, larger.data(), length + 1);
        name.assign(larger.data(), static_cast<size_t>(length));
    } else if (length > 0 && length < static_cast<int32_t>(sizeof buffer)) {
        name.assign(buffer, static_cast<size_t>(length));
    }
    mRecKit.release(handle);
    mHandle = -1;
    std::lock_guard<std::mutex> lock(mSummaryLock);
    mSummary.fileName = name;
    mSummary.closed = true;
}

void CRecordWorker::LearnFileName() {
    char buffer[512];
    const int32_t length = mRecKit.fileName(mHandle.load(), buffer, sizeof buffer);
    if (length <= 0)
        return;
    std::string name;
    if (length < static_cast<int32_t>(sizeof buffer)) {
        name.assign(buffer, static_cast<size_t>(length));
    } else if (length < kMaxFileName) {
        std::vector<char> larger(static_cast<size_t>(length) + 1);
        if (mRecKit.fileName(mHandle.load(), larger.data(), length + 1) != length)
            return;
        name.assign(larger.data(), static_cast<size_t>(length));
    }
    std::lock_guard<std::mutex> lock(mSummaryLock);
    mSummary.fileName = name;
}

CRecordWorker::SSummary CRecordWorker::GetSummary() {
    std::lock_guard<std::mutex> lock(mSummaryLock);
    return mSummary;
}

std::string CRecordWorker::GetFileName() {
    std::lock_guard<std::mutex> lock(mSummaryLock);
    return mSummary.fileName;
}

int CRecordWorker::Init() {
    return 1;
}

int CRecordWorker::Final() {
    CloseRecording();
    return 1;
}

int CRecordWorker::Job() {
    CMediaObj* object = mQueue.Deque();
    if (object != nullptr) {
        const int32_t kind = object->mFrameKind;
        if (kind == media_util::kFrameKeyWithConfig && object->mVideoFormat != media_util::kVideoJpeg) {
            // A key frame with its configuration. Once recording, a large
            // one goes in as a plain key frame after the remembered
            // configuration; while waiting, configuration and frame go in
            // as two records, and if that failed the frame gets a second
            // chance as a plain key frame.
            if (mWaitingForKeyFrame == 0 && object->mDataSize > kWholeFrameBytes)
                object->mFrameKind = media_util::kFrameKey;
            WriteObject(object);
            if (object->mDataSize > kWholeFrameBytes && mWaitingForKeyFrame != 0) {
                object->mFrameKind = media_util::kFrameKey;
                WriteObject(object);
                mWaitingForKeyFrame = 0;
            }
        } else if (mWaitingForKeyFrame == 0) {
            WriteObject(object);
        } else if (kind == media_util::kFrameKey && WriteObject(object) != 0) {
            mWaitingForKeyFrame = 0;
        }
        // Everything else, audio included, is dropped while waiting.
        delete object;
    }
    if (mQueue.GetCount() > 0)
        return 1;
    return media_util::CManualEvent::WaitTwoEvents(&mStopEvent, &mWakeEvent, mWaitTimeoutMs);
}

int CRecordWorker::WriteObject(CMediaObj* object) {
    if (object == nullptr || mSink != 1)
        return 0;
    return WriteCmsObject(object);
}

int CRecordWorker::JoinVideo(CmsVideoFrame* record, bool counted) {
    const int32_t handle = mHandle.load();
    const int joined = mRecKit.joinVideo(handle, record);
    const int64_t bytes = record->dataLength;
    const bool key = record->frameType == kRecordKey || record->frameType == kRecordConfiguration;
    FreeRecordData(&record->pData);
    if (joined == 0 || !counted)
        return joined;
    const DWORD now = timeGetTime();
    bool learn = false;
    {
        std::lock_guard<std::mutex> lock(mSummaryLock);
        if (mSummary.videoFrames == 0)
            mFirstFrameAt = now;
        ++mSummary.videoFrames;
        if (key)
            ++mSummary.keyFrames;
        mSummary.bytes += bytes;
        mSummary.seconds = (now - mFirstFrameAt) / 1000.0;
        learn = mSummary.fileName.empty();
    }
    // RecKit names a file of its own only once the first frames are in.
    if (learn)
        LearnFileName();
    return joined;
}

int CRecordWorker::WriteCmsObject(CMediaObj* object) {
    if (!IsVideo(*object)) {
        CmsAudioFrame record{};
        if (MakeAudioFrame(object, &record) == 0)
            return 0;
        const int joined = mRecKit.joinAudio(mHandle.load(), &record);
        const int64_t bytes = record.dataLength;
        FreeRecordData(&record.pData);
        if (joined != 0) {
            std::lock_guard<std::mutex> lock(mSummaryLock);
            ++mSummary.audioBlocks;
            mSummary.bytes += bytes;
        }
        return joined;
    }

    if (object->mFrameKind == media_util::kFrameKeyWithConfig &&
        object->mVideoFormat != media_util::kVideoJpeg) {
        CMediaObj* configuration = nullptr;
        CMediaObj::SplitVolAndIFrame(object, &configuration);
        CmsVideoFrame configRecord{};
        const int made = MakeVideoFrame(configuration, &configRecord);
        // Nothing but configuration (what a late joiner of a running stream
        // gets first): remembered and joined, but it is no key frame, so the
        // wait goes on.
        const bool configurationOnly =
            configuration != nullptr && configuration->mDataSize >= object->mDataSize;
        delete configuration;
        if (made == 0)
            return 0;
        FreeRecordData(&mpHeader->pData);
        *mpHeader = configRecord;
        mpHeader->pData =
            static_cast<uint8_t*>(CMediaObj::AllocData(static_cast<int32_t>(configRecord.dataLength)));
        if (mpHeader->pData == nullptr)
            mpHeader->dataLength = 0;
        else
            media_util::CMemUtil::FastMemcpyMMX(mpHeader->pData, configRecord.pData, configRecord.dataLength);
        if (JoinVideo(&configRecord, false) == 0)
            return 0;
        if (configurationOnly)
            return 1;
        CmsVideoFrame record{};
        if (MakeVideoFrame(object, &record) == 0)
            return 0;
        const int joined = JoinVideo(&record, true);
        if (joined == 0)
            return 0;
        mWaitingForKeyFrame = 0;
        return joined;
    }

    if (object->mFrameKind == kFrameKindNothing)
        return 1;

    CmsVideoFrame record{};
    if (MakeVideoFrame(object, &record) == 0)
        return 0;
    if ((mVideoFormat == media_util::kVideoMpeg4 || mVideoFormat == media_util::kVideoH264QBox) &&
        object->mFrameKind == media_util::kFrameKey && mpHeader->pData != nullptr) {
        // The remembered configuration before a key frame that came without
        // one, so that every key frame of the file can start a decoder.
        CmsVideoFrame header = *mpHeader;
        header.pData =
            static_cast<uint8_t*>(CMediaObj::AllocData(static_cast<int32_t>(mpHeader->dataLength)));
        if (header.pData != nullptr) {
            media_util::CMemUtil::FastMemcpyMMX(header.pData, mpHeader->pData, mpHeader->dataLength);
            JoinVideo(&header, false);
        }
    }
    return JoinVideo(&record, true);
}

int CRecordWorker::MakeVideoFrame(const CMediaObj* object, CmsVideoFrame* record) {
    if (object == nullptr || record == nullptr)
        return 0;
    record->width = object->mWidth;
    record->height = object->mHeight;
    // A frame whose part told no rate is recorded with rate 0 ("not known":
    // RecKit spaces such frames by their times) rather than lost.
    int32_t fps = 0;
    if (object->mFrameRate != 0 && media_util::CFpsConverter::CmsToMachine(object->mFrameRate, &fps) == 0)
        return 0;
    record->frameRate = fps;
    record->reserved0 = 0;
    record->channel = static_cast<uint8_t>(object->mChannel & 0xFF);
    GetLocalTime(&record->time);
    record->value = object->mTagList.empty() ? 0 : static_cast<uint32_t>(object->mTagList.front());
    switch (object->mVideoFormat) {
    case media_util::kVideoJpeg:
        record->videoFormat = 0;
        break;
    case media_util::kVideoMpeg4:
        record->videoFormat = 1;
        break;
    case media_util::kVideoH264QBox:
        record->videoFormat = 2;
        break;
    default:
        return 0;
    }
    record->frameType = object->mFrameKind == media_util::kFrameKeyWithConfig ? kRecordConfiguration
                        : object->mFrameKind == media_util::kFramePredicted   ? kRecordPredicted
                                                                              : kRecordKey;
    std::memset(record->reserved1, 0, sizeof record->reserved1);
    const int32_t length = object->mpData != nullptr ? object->mDataLength : 0;
    uint8_t* data = CMediaObj::AllocData(length);
    if (data == nullptr)
        return 0;
    media_util::CMemUtil::FastMemcpyMMX(data, object->mpData, static_cast<size_t>(length));
    record->pData = data;
    record->dataLength = static_cast<uint32_t>(length);
    return 1;
}

int CRecordWorker::MakeAudioFrame(const CMediaObj* object, CmsAudioFrame* record) {
    if (object == nullptr || record == nullptr)
        return 0;
    WAVEFORMATEX& format = record->format;
    int32_t channels = object->mAudioChannels;
    int32_t rate = object->mSampleRate;
    int32_t bits = object->mBitsPerSample;
    // Devices name only the codec where it fixes the rest; those fields
    // then arrive as 0.
    if (object->mAudioFormat == media_util::kAudioUlaw) {
        format.wFormatTag = kWaveTagMulaw;
        channels = channels > 0 ? channels : kMulawChannels;
        rate = rate > 0 ? rate : kMulawRate;
        bits = bits > 0 ? bits : kMulawBits;
        format.nAvgBytesPerSec = static_cast<uint32_t>(rate);
    } else if (object->mAudioFormat == media_util::kAudio2010) {
        format.wFormatTag = kWaveTag2010;
        channels = channels > 0 ? channels : k2010Channels;
        rate = rate > 0 ? rate : k2010Rate;
        bits = bits > 0 ? bits : k2010Bits;
        format.nAvgBytesPerSec = kAvgBytes2010;
    } else {
        return 0;
    }
    format.nChannels = static_cast<uint16_t>(channels);
    format.nSamplesPerSec = static_cast<uint32_t>(rate);
    format.nBlockAlign = 1;
    format.wBitsPerSample = static_cast<uint16_t>(bits);
    format.cbSize = 0;
    const int32_t length = object->mpData2 != nullptr ? object->mDataLength2 : 0;
    uint8_t* data = CMediaObj::AllocData(length);
    if (data == nullptr)
        return 0;
    media_util::CMemUtil::FastMemcpyMMX(data, object->mpData2, static_cast<size_t>(length));
    record->pData = data;
    record->dataLength = static_cast<uint32_t>(length);
    return 1;
}

void CRecordWorker::FreeRecordData(uint8_t** data) {
    if (data == nullptr)
        return;
    CMediaObj::FreeData(*data);
    *data = nullptr;
}
