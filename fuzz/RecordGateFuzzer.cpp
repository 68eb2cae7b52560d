// The recorder's side of a channel: crafted media objects, as a hostile
// device's parts become them, go through CRecordWorker's queue, its key-frame
// gate and its conversion into RecKit's frame records.
//
// Beyond the sanitizers (every record's bytes are read whole): while an
// MPEG-4 or H.264 recording waits for its key frame the worker hands RecKit
// no predicted frame and no audio; every record names a frame type RecKit
// knows and a channel of 0 to 16; audio records carry a format RecKit takes.
// The stand-in refuses what RecKit refuses: joins before a deferred
// recording is begun, video of another format than the recording's (a device
// that switched codecs) and predicted frames before the first key frame. With bit 4 of byte 0 set the records
// go to the real RecKit instead, into a file in the fuzzer's temporary folder that is removed again, so that
// its muxer meets them too.
//
// Input: byte 0: the recording's format (bits 0-1: JPEG, MPEG-4, H.264,
// H.264 of the two-stream recorder), deferred start (bit 2, begun after the
// object whose control byte has bit 7 set), real RecKit (bit 4). Then
// objects, each: a control byte (bits 0-1 frame kind 1, 2, 4 or 8 of a video
// frame; bits 2-3
// what it is: video of the recording's format, video of another format,
// u-law audio, AAC audio; bits 4-6 the frame rate's choice; bit 7 the row
// order, and with a deferred start the begin), a channel byte (modulo 17),
// a 16-bit little-endian length (cut to what is left) and the bytes.
#include "FuzzSupport.h"
#include "platform/CMediaObj.h"
#include "record/CRecordWorker.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using fuzz::Check;

namespace {

constexpr int32_t kFormats[] = {media_util::kVideoJpeg, media_util::kVideoMpeg4, media_util::kVideoH264QBox,
                                media_util::kVideoH264QBox};
constexpr int32_t kKinds[] = {media_util::kFrameKeyWithConfig, media_util::kFrameKey,
                              media_util::kFramePredicted, CRecordWorker::kFrameKindNothing};
constexpr int32_t kRates[] = {0, 1, 999, 1000, 25000, 30000, -5, 2097151000};
constexpr int kMaxObjects = 48;

// What the stand-in RecKit saw of one recording.
struct SSeen {
    const CRecordWorker* worker = nullptr;
    int32_t format = 0;   // CmsVideoFrame.videoFormat of the recording
    bool keySeen = false; // a key frame was taken
    bool started = false;
    int joins = 0;
} gSeen;

uint32_t ReadAll(const uint8_t* data, uint32_t length) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < length; ++i)
        sum += data[i];
    return sum;
}

int32_t Create(int32_t, int32_t, int32_t) {
    return 7;
}
int32_t SetFileInfo(int32_t handle, const wchar_t*, const wchar_t*) {
    return handle == 7;
}
int32_t Start(int32_t handle) {
    gSeen.started = true;
    return handle == 7;
}
// Until a deferred recording is begun every join fails, as RecKit's do.
int32_t JoinVideo(int32_t handle, const CmsVideoFrame* record) {
    Check(handle == 7 && record != nullptr);
    Check(record->dataLength == 0 || record->pData != nullptr);
    (void)ReadAll(record->pData, record->dataLength);
    Check(record->frameType <= CRecordWorker::kRecordConfiguration);
    Check(record->channel <= 16);
    Check(!gSeen.worker->IsWaitingForKeyFrame() || record->frameType != CRecordWorker::kRecordPredicted);
    if (!gSeen.started || record->videoFormat != gSeen.format)
        return 0;
    if (record->frameType == CRecordWorker::kRecordPredicted && !gSeen.keySeen)
        return 0;
    gSeen.keySeen = true;
    ++gSeen.joins;
    return 1;
}
int32_t JoinAudio(int32_t handle, const CmsAudioFrame* record) {
    Check(handle == 7 && record != nullptr);
    Check(record->dataLength == 0 || record->pData != nullptr);
    (void)ReadAll(record->pData, record->dataLength);
    Check(record->format.wFormatTag == CRecordWorker::kWaveTagMulaw ||
          record->format.wFormatTag == CRecordWorker::kWaveTag2010);
    Check(!gSeen.worker->IsWaitingForKeyFrame());
    return gSeen.started ? 1 : 0;
}
int32_t StopRecorder(int32_t handle) {
    return handle == 7;
}
int32_t Release(int32_t handle) {
    return handle == 7;
}
int32_t FileName(int32_t, char* buffer, int32_t size) {
    static const char kName[] = "fuzz.mkv";
    if (size > 0)
        std::snprintf(buffer, size_t(size), "%s", kName);
    return int32_t(sizeof kName - 1);
}

const CRecordWorker::SRecKit kStandIn = {Create,    SetFileInfo,  Start,   JoinVideo,
                                         JoinAudio, StopRecorder, Release, FileName};

std::wstring TempFile() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/recordgate-fuzz.XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp");
    }();
    const std::string path = folder + "/rec.mkv";
    return std::wstring(path.begin(), path.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t setup = data[0];
    const int32_t format = kFormats[setup & 3];
    const bool deferred = setup & 4;
    const bool real = setup & 16;
    gSeen = SSeen();
    gSeen.format = format == media_util::kVideoJpeg ? 0 : format == media_util::kVideoMpeg4 ? 1 : 2;

    const std::wstring path = real ? TempFile() : std::wstring();
    CRecordWorker worker(real ? CRecordWorker::LibraryRecKit() : kStandIn);
    gSeen.worker = &worker;
    const int32_t machineCode = (setup & 3) == 3 ? CRecordWorker::kMachineCodeDualH264 : 0;
    if (worker.OpenRecording(path, format, 0, 0, deferred ? 1 : 0, machineCode) == 0)
        return 0;
    // The worker runs on this thread: a pass that empties the queue must not
    // wait for more.
    worker.mStopEvent.Set();

    size_t position = 1;
    for (int n = 0; n < kMaxObjects && position + 4 <= size; ++n) {
        const uint8_t control = data[position];
        // What a channel's queue accepts: channels 0 to 16.
        const int channel = data[position + 1] % 17;
        const size_t length =
            std::min<size_t>(data[position + 2] | size_t(data[position + 3]) << 8, size - position - 4);
        const uint8_t* bytes = data + position + 4;
        position += 4 + length;

        auto* object = new media_util::CMediaObj();
        object->mChannel = channel;
        object->mFrameKind = kKinds[control & 3];
        object->mFrameRate = kRates[(control >> 4) & 7];
        object->mWidth = 352;
        object->mHeight = (control & 0x80) ? -288 : 288;
        GetLocalTime(&object->mTime);
        switch ((control >> 2) & 3) {
        case 0:
            object->mVideoFormat = format;
            object->CopyData(bytes, int32_t(length));
            break;
        case 1:
            object->mVideoFormat =
                format == media_util::kVideoJpeg ? media_util::kVideoMpeg4 : media_util::kVideoJpeg;
            object->CopyData(bytes, int32_t(length));
            break;
        case 2:
            // Audio blocks come from the receivers with frame kind 0: tagging
            // gives kinds to video frames only.
            object->mFrameKind = 0;
            object->mAudioFormat = media_util::kAudioUlaw;
            object->CopyData2(bytes, int32_t(length));
            break;
        default:
            object->mFrameKind = 0;
            object->mAudioFormat = media_util::kAudio2010;
            object->mAudioChannels = channel & 3;
            object->mSampleRate = channel * 1000;
            object->CopyData2(bytes, int32_t(length));
            break;
        }
        if (!worker.GetQueue()->Enque(object))
            delete object;
        while (worker.GetQueue()->GetCount() > 0)
            worker.Job();
        if (deferred && (control & 0x80) && !gSeen.started && !real)
            Check(worker.BeginRecording() != 0);
        else if (deferred && (control & 0x80) && real)
            worker.BeginRecording();
    }
    worker.Final();
    const CRecordWorker::SSummary summary = worker.GetSummary();
    Check(summary.closed);
    if (!real)
        Check(summary.videoFrames <= gSeen.joins);
    if (real && !summary.fileName.empty())
        std::remove(summary.fileName.c_str());
    return 0;
}
