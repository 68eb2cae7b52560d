// Records what one display channel receives into a RecKit recording.
//
// The channel registers the worker's queue in the shared source table with a
// copy of its own description, so the worker gets its own clone of every
// video frame and audio block the channel's source delivers. The worker
// thread takes them one by one, turns each into the frame record RecKit
// expects and joins it to the recorder:
//
// - Key-frame gate: an MPEG-4 or H.264 recording holds back everything,
//   audio included, until its first key frame has been joined, so that the
//   file starts where a decoder can. JPEG has no gate.
// - A key frame that carries its stream configuration (frame kind 1) is
//   joined as two records, the configuration and then the frame, and the
//   configuration is remembered. Once recording, a large kind-1 frame (more
//   than kWholeFrameBytes) is joined as one key frame, and every MPEG-4 or
//   H.264 key frame of kind 2 is preceded by the remembered configuration:
//   a player that starts at any key frame finds the configuration before it.
// - Deferred recordings: with a record mode above 0 OpenRecording creates the
//   recorder but does not begin it; until BeginRecording every join fails
//   and nothing reaches a file.
// - The recorder is closed on the worker thread when the thread ends (Final),
//   so that the file is complete once Stop has returned.
//
// Threads: OpenRecording runs on the channel's thread before the worker
// thread starts; BeginRecording on the channel's thread while the worker
// runs (RecKit serialises the calls on one handle); Job and Final on the
// worker thread; the destructor after the thread has ended. The queue is
// filled by the source's dispatcher and locks itself. GetSummary and
// GetFileName may be called from any thread.
#pragma once

#include "ipcamview/reckit.h"
#include "platform/CFrameControlMediaQueue.h"
#include "platform/CMediaObj.h"
#include "platform/CThreadWorker.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class CRecordWorker : public media_util::CThreadWorker {
public:
    // The worker's queue holds at most this many objects; the dispatcher
    // drops what it refuses beyond (about two seconds of video).
    static constexpr int32_t kQueueLimit = 60;
    // The longest wait of a pass that found the queue empty, in the plain
    // design.
    static constexpr DWORD kWaitTimeoutMs = 10;
    // The wait used: the queue wakes the worker as an object arrives and
    // stopping sets the wake event, so the time-out ends no wait that
    // matters; at 10 ms it woke the thread a hundred times a second, more
    // than half of what recording a 1080p MJPEG camera cost this thread.
    static constexpr DWORD kNotifiedWaitTimeoutMs = 250;
    // A kind-1 frame larger than this is taken to hold a picture as well as
    // its configuration: once recording it is joined as a single key frame.
    static constexpr int32_t kWholeFrameBytes = 1000;
    // Objects of this frame kind carry nothing to record.
    static constexpr int32_t kFrameKindNothing = 8;
    // The two-stream H.264 recorder, whose recordings are of their own kind.
    static constexpr int32_t kMachineCodeDualH264 = 5138;
    // Frame type bytes of a video record.
    static constexpr uint8_t kRecordKey = 0;
    static constexpr uint8_t kRecordPredicted = 1;
    static constexpr uint8_t kRecordConfiguration = 2;
    // Audio records: WAVEFORMATEX tags and the fixed rate of 2010 blocks.
    static constexpr uint16_t kWaveTagMulaw = 7;
    static constexpr uint16_t kWaveTag2010 = 0x00FF;
    static constexpr uint32_t kAvgBytes2010 = 4000;
    // What an audio codec implies when the device's part says nothing more
    // (a u-law part names only its codec): channels, samples per second,
    // bits per sample.
    static constexpr int32_t kMulawChannels = 1, kMulawRate = 8000, kMulawBits = 8;
    static constexpr int32_t k2010Channels = 2, k2010Rate = 44100, k2010Bits = 16;

    // The RecKit functions the worker calls; tests put their own in place.
    struct SRecKit {
        decltype(&CreateCMSRecorder) create;
        decltype(&SetCMSRecorderFileInfo) setFileInfo;
        decltype(&StartCMSRecorder) start;
        decltype(&JoinVideoToCMSRecorder) joinVideo;
        decltype(&JoinAudioToCMSRecorder) joinAudio;
        decltype(&StopCMSRecorder) stop;
        decltype(&ReleaseCMSRecorder) release;
        decltype(&GetCMSRecorderFileName) fileName;
    };
    // The library's own functions (libreckit, loaded on first use).
    static const SRecKit& LibraryRecKit();

    // What a recording did, for the host's report. Frames and audio blocks
    // count what RecKit accepted (configuration records aside); bytes are
    // theirs; seconds run from the first accepted video frame to the last.
    struct SSummary {
        std::string fileName; // UTF-8; "" while RecKit has created no file
        int64_t videoFrames = 0;
        int64_t keyFrames = 0;
        int64_t audioBlocks = 0;
        int64_t bytes = 0;
        double seconds = 0;
        bool closed = false; // the recorder was closed: the file is complete
    };

    explicit CRecordWorker(const SRecKit& reckit = LibraryRecKit());
    // Stops the thread, frees the remembered configuration and closes the
    // recorder if that has not happened yet.
    ~CRecordWorker() override;

    // Creates the recorder for a recording of videoFormat (1000, 1005, 1010;
    // any other records as JPEG) into path (wide, as RecKit takes it; empty:
    // RecKit's own name) and, unless recordMode is above 0, begins it.
    // first and second are handed to RecKit. Non-zero on success; on failure
    // the recorder is closed again. Once, before the thread starts.
    int OpenRecording(const std::wstring& path, int32_t videoFormat, int32_t first, int32_t second,
                      int32_t recordMode, int32_t machineCode);
    // Sets the file information and starts the recorder: non-zero on success.
    int BeginRecording();
    // Stops and releases the recorder if there is one. Safe to call again.
    void CloseRecording();
    // The queue to register as a description's destination.
    media_util::CFrameControlMediaQueue* GetQueue() { return &mQueue; }

    // Joins one object if a recorder is open: non-zero when RecKit took it.
    // Worker thread.
    int WriteObject(media_util::CMediaObj* object);

    // Takes one object from the queue through the gate (see the file
    // comment) and waits only when the queue is empty.
    int Job() override;
    int Init() override;
    // Closes the recorder on the worker thread.
    int Final() override;

    // The record of a video object; its data is a copy in a buffer that the
    // caller gives back with FreeRecordData. 0 (and nothing allocated) for a
    // null object or record, a video format other than 1000/1005/1010 or a
    // frame rate RecKit cannot take.
    static int MakeVideoFrame(const media_util::CMediaObj* object, CmsVideoFrame* record);
    // The record of an audio block (2005 or 2010), as above.
    static int MakeAudioFrame(const media_util::CMediaObj* object, CmsAudioFrame* record);
    static void FreeRecordData(uint8_t** data);

    int32_t GetVideoFormat() const { return mVideoFormat; }
    int32_t GetHandle() const { return mHandle.load(); }
    bool IsWaitingForKeyFrame() const { return mWaitingForKeyFrame != 0; }
    SSummary GetSummary();
    std::string GetFileName();

private:
    int WriteCmsObject(media_util::CMediaObj* object);
    // Joins a video record and frees its data; counts what RecKit took.
    int JoinVideo(CmsVideoFrame* record, bool counted);
    void LearnFileName();

    const SRecKit& mRecKit;
    std::wstring mRecordPath;
    int32_t mVideoFormat = -1;
    std::atomic<int32_t> mHandle{-1};
    // Worker thread only (OpenRecording sets it before the thread starts).
    int32_t mWaitingForKeyFrame = 0;
    media_util::CFrameControlMediaQueue mQueue;
    DWORD mWaitTimeoutMs = kNotifiedWaitTimeoutMs;
    // The last configuration record joined, with its own copy of the bytes
    // (pData null while there is none). Worker thread only.
    CmsVideoFrame* mpHeader = nullptr;
    int32_t mSink = 0; // 1 once a recorder is open: objects are written only then

    std::mutex mSummaryLock; // guards mSummary
    SSummary mSummary;
    DWORD mFirstFrameAt = 0; // worker thread
};
