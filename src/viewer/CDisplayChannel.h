// One channel's media pipeline: the stop event every worker of the channel
// watches, the channel's media queue, the descriptions of source video,
// displayed video and audio, and the picture rectangle the channel shows.
// It builds and releases the pipeline, starts and stops display, subscribes
// the channel to its source and records what arrives.
//
// What a device is and how its stream is found is the subclass's business
// (CViewer): BuildPipeline asks it through FillVideoInfo, FillAudioInfo and
// PrepareSubscription.
//
// Display (StartDisplay, StopDisplay): the video renderer attaches to the
// host's window and the pacer's thread hands it the channel's frames at
// their frame rate; an audio renderer plays the stream's sound when the
// device sends some and the host asked for it.
//
// Recording (StartRecord, StopRecord): a CRecordWorker whose queue is a
// second destination of the channel's source, registered with a copy of the
// live description (shared, a live source), so the channel records what it
// receives whether or not it is shown or even subscribed.
//
// Threads: the host's thread calls every operation. The channel's workers
// meet it only through the stop event and the channel queue, which locks
// itself.
//
// States: idle after construction and after ReleasePipeline; ready after
// BuildPipeline; displaying between StartDisplay and StopDisplay.
#pragma once

#include "os/dshow/Com.h"
#include "platform/CCritSection.h"
#include "platform/CFrameControlMediaQueue.h"
#include "platform/CManualEvent.h"
#include "platform/CMediaObj.h"
#include "record/CRecordWorker.h"
#include "source/CSourceDesc.h"
#include "viewer/CChannelGeometry.h"

class CDirectShowRenderer;
class CFramePacer;
class CSourceTable;
class CVideoDecoder;

#include <cstdint>
#include <string>

// The virtual operations keep this order (slots 0 to 19); CViewer appends its
// own after them.
class CDisplayChannel {
public:
    // The host's window; null for none.
    using WindowHandle = void*;

    // Limit of the channel queue: one more than a source's input queue.
    static constexpr int32_t kChannelQueueLimit = 61;
    static constexpr int32_t kNoCodec = -1;
    static constexpr int32_t kUnknownMachineCode = -1;
    // Display flags (mDisplayFlags), set only by an embedding host.
    static constexpr uint32_t kFlagText = 1u << 0; // layout text; the renderer's overlay flag
    static constexpr uint32_t kFlagMotionEditor = 1u << 1;
    static constexpr uint32_t kFlagPrivacyEditor = 1u << 2;
    static constexpr uint32_t kFlagPtzControl = 1u << 3;
    static constexpr uint32_t kFlagDecodeInGraph = 1u
                                                   << 28; // a decoder filter in the renderer's graph decodes

    // A part of the picture shown in the window: its rectangle, a word and a
    // caption.
    struct SPictureArea {
        SRect rect;
        int32_t value = 0;
        std::wstring text;
    };

    CDisplayChannel();
    CDisplayChannel(const CDisplayChannel&) = delete;
    CDisplayChannel& operator=(const CDisplayChannel&) = delete;

    // 0. Disarms (which releases the pipeline), then frees what is owned.
    virtual ~CDisplayChannel();
    // 1. Running flag 1, stop event reset. Returns 1.
    virtual int Arm();
    // 2. Stop event set, running flag 0, then ReleasePipeline. Returns 1.
    virtual int Disarm();
    // 3. Registers the live description with the shared source table: 1 when
    // already registered, else whether the source runs. A dual-picture
    // channel, or one whose host asks to share decoding (mShareDecode),
    // registers for a decoded source (type 2), every other for a live one.
    virtual int Subscribe();
    // 4. Removes the live description from the source table: non-zero when
    // removed, or the (negative) slot number when it was not registered.
    virtual int Unsubscribe();
    // 5. Opens a recording, or begins a deferred one. With mRecordMode below 1
    // every call opens a new recording (ending the one before); with 1 or more
    // the first call opens a deferred recording and the next begins it. 1
    // when a recording was opened and registered; 0 when it failed, when
    // there is no source video description, or when the call began a
    // deferred recording.
    virtual int StartRecord();
    // 6. Attaches the channel to a window and starts pacing. 1, or 0 when the
    // video renderer could not be set up on the window (mLastStatus then
    // holds its status).
    virtual int StartDisplay(WindowHandle window);
    // 7. Stops pacing and the renderers. Returns 1.
    virtual int StopDisplay();
    // 8. 1 if value is non-zero, else 0.
    virtual int IsNonZero(int32_t value);
    // 9 to 15. Window input for an overlay control; the channel has none and
    // ignores it (CViewer forwards it).
    virtual int InputHook1();
    virtual int InputHook2(int32_t a, int32_t b, int32_t c, int32_t d);
    virtual int InputHook3(int32_t a, int32_t b, int32_t c, int32_t d);
    virtual int InputHook4(int32_t a, int32_t b, int32_t c, int32_t d);
    virtual int InputHook5(int32_t a, int32_t b, int32_t c, int32_t d);
    virtual int InputHook6(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e);
    virtual void InputHook7(int32_t command);
    // 16. Returns the channel to idle: stops recording, unregisters, destroys
    // the pipeline objects and the descriptions, clears the queue. Returns
    // kNoCodec when no codec handle was held, else ReleaseCodec's result.
    virtual int ReleasePipeline();
    // 17. Fills mpSourceVideoInfo and mpDisplayVideoInfo from the device: 1 or 0.
    virtual int FillVideoInfo() = 0;
    // 18. Fills mpAudioInfo from the device: 1, or 0 when there is no audio.
    virtual int FillAudioInfo() = 0;
    // 19. Prepares the channel's live source description
    // (PrepareLiveDescription, then the device's part): 1, or 0 on failure.
    virtual int PrepareSubscription() = 0;

    // Builds the pipeline from what the subclass reports: 1, or 0 when
    // FillVideoInfo or PrepareSubscription fails (what was created so far
    // stays until the next build or release).
    int BuildPipeline();
    // Ends a recording, whether running or deferred: the recorder's thread
    // stops (closing the file), its queue leaves the source table, and what
    // it recorded is kept in mLastRecording.
    void StopRecord();
    // The instance event of the handle that owns this channel; borrowed.
    void SetInstanceEvent(media_util::CManualEvent* event) { mpInstanceEvent = event; }

    // --- Members, in this order. Those an embedding host may set before it
    // builds, shows or records are marked "host"; nothing in the library sets
    // them. ---
    int32_t mRecordMode = 0;   // host: below 1 records at once; 1 or more opens a deferred recording
    int32_t mOutputFormat = 0; // host: pixel format for the display, 0 = chosen by codec
    int32_t mAspectMode = 0;   // host: handed to the video renderer; 0 = automatic
    // The renderers of the channel's video and (when its stream carries
    // audio the host asked for) sound; owned, null while idle.
    CDirectShowRenderer* mpVideoRenderer = nullptr;
    CDirectShowRenderer* mpAudioRenderer = nullptr;
    // The decoder filter a renderer's graph decodes with (display flag bit
    // 28); all zero = none, copied from the second at construction.
    GUID mDecoderGuid{};
    GUID mNoDecoderGuid{};
    void* mpReserved = nullptr;
    WindowHandle m_hWnd = nullptr; // the window given to StartDisplay
    // Set by Disarm: every worker of the channel ends when it sees it.
    media_util::CManualEvent mStopEvent;
    int32_t mRunning = 0;                                // 1 while armed
    media_util::CManualEvent* mpInstanceEvent = nullptr; // borrowed from the instance table
    media_util::CFrameControlMediaQueue mQueue;          // what the channel's source delivers
    // The format pair from which a decoded shared source builds its own
    // decoder; owned, null while idle.
    CVideoDecoder* mpDecoder = nullptr;
    CSourceTable* mpSourceTable = nullptr; // the process's table; not owned
    int32_t mLastStatus = 0;               // last HTTP status, or the renderer's after a failed start
    // Hands the queue's frames to the renderers at their frame rate; owned,
    // null while idle.
    CFramePacer* mpPacer = nullptr;
    uint32_t mDisplayFlags = 0;            // host: kFlag* bits
    int32_t mRecording = 0;                // 1 while a recording runs
    int32_t mRecordDeferred = 0;           // 1 while a recording is opened but not begun
    int32_t mRecordFlag3 = 0;
    std::string mRecordPath; // host: where recordings go; empty = the recorder's default
    int32_t mZeroWords1[3] = {0, 0, 0};
    int32_t mDisplaying = 0;   // 1 between a successful StartDisplay and StopDisplay
    int32_t mRecorderArg1 = 0; // host
    int32_t mRecorderArg2 = 0; // host
    // What the channel receives (registered while subscribed), what its
    // recorder receives, and a third that nothing fills. mSlot is -1 exactly
    // while a description is not registered.
    CSourceDesc mLiveDesc;
    CSourceDesc mRecordDesc;
    CSourceDesc mSpareDesc;
    int32_t mShareOption = 1; // share argument of the source table's Register
    int32_t mShareDecode = 0; // host: subscribe to a decoded source (decode once for many channels)
    // Descriptions (not frames) of the source video (the channel's format
    // template), the displayed video and the audio; owned, null while idle.
    media_util::CMediaObj* mpSourceVideoInfo = nullptr;
    media_util::CMediaObj* mpDisplayVideoInfo = nullptr;
    media_util::CMediaObj* mpAudioInfo = nullptr;
    int32_t mCodecHandle = kNoCodec; // released with ReleaseCodec
    int32_t mSplitLayout = 0;        // 0, or CChannelGeometry::kSplitLayoutDual
    int32_t mChannel = 0;            // 1-based; 0 = none given
    SRect mCropRect;                 // host: right edge 0 = no crop
    SRect mPictureRect;              // the part of the source picture shown
    int32_t mIFrameOnly = 0;         // host: copied into the device dialect
    std::string mPlaybackChannels;   // host: copied into the device dialect
    int32_t mZeroWords2[5] = {0, 0, 0, 0, 0};
    int32_t mRecordOption = 1; // given to the live description as its auto-restart flag
    media_util::CCritSection mLock;
    int32_t mRecordWords[4] = {0, 0, 0, 0};     // cleared by every StartRecord
    int32_t mMachineCode = kUnknownMachineCode; // set by the subclass's open
    int32_t mDualPicture = 0;                   // 1 on a dual-picture device
    SPictureArea mPictureAreas[2];              // both get the picture rectangle

    // The recorder of the running or deferred recording; owned, null when
    // none.
    CRecordWorker* mpRecorder = nullptr;
    // What the last recording that StopRecord ended did (file, frames,
    // bytes, seconds), for the host's report.
    CRecordWorker::SSummary mLastRecording;

protected:
    // The base part of PrepareSubscription: the live description gets the
    // channel queue as destination, the stop and instance events (none when
    // either is missing), the source video description as its template and
    // the record option.
    void PrepareLiveDescription();
};
