// The worker base of every media source (the multipart stream parser and the
// JPEG poller, through CHttpMediaSource). It owns what all sources share:
// - the worker loop with a failure limit,
// - the hand-over of a new description from the owner's thread,
// - a bounded list of event codes for the owner,
// - the last media object seen on each channel (0 to 16), against which
//   format changes are detected,
// - TagMediaObject, which classifies every received frame (key frame,
//   configuration, predicted), reads the device header inside JPEG images
//   and turns alarm bits into tags and events,
// - PaceJpeg, the spacing of JPEG frames by their frame time.
//
// Threads: Job, Step, CopySettings, TagMediaObject and PaceJpeg run on the
// worker thread. UpdateSettings, GetSettings and TakeEvents run on the
// owner's thread. PostEvent may be called from either. ApplySettings runs on
// the owner's thread before the worker starts and on the worker (through
// CopySettings, under the settings lock) afterwards.
//
// Ownership: the output queue, the owner event, the listener and the clock
// belong to the owner and must outlive the worker. A subclass destructor
// stops the worker (CThreadWorker::Stop) before its members go.
#pragma once

#include "platform/CCritSection.h"
#include "platform/CManualEvent.h"
#include "platform/CMediaObj.h"
#include "platform/CThreadWorker.h"
#include "platform/IMediaQueue.h"
#include "source/CSourceDesc.h"
#include "source/ISourceClock.h"

#include <cstdint>
#include <vector>

class CMediaSource : public media_util::CThreadWorker {
public:
    // Events waiting for the owner at most; later ones are dropped until the
    // owner takes them, so a source whose owner stopped listening cannot grow
    // without bound.
    static constexpr size_t kMaxEvents = 200;
    // One last media object per channel number an object may carry (0 to 16).
    static constexpr int kChannelSlots = 17;
    // UpdateSettings re-checks the worker in slices of this length.
    static constexpr DWORD kSettingsWaitSliceMs = 100;

    // Event codes of PostEvent.
    static constexpr int kEventAlarm1 = 1;
    static constexpr int kEventAlarm2 = 2;
    static constexpr int kEventAlarm3 = 3; // also: a recorder channel without video
    static constexpr int kEventFailureLimit = 5;
    static constexpr int kEventStopped = -1; // refused, format change, gave up

    // Models whose JPEG images are tagged differently.
    static constexpr int kMachineCodePlainJpeg = 36865; // another vendor's camera: no device header
    static constexpr int kMachineCodeOwnSize = 8192;    // header sizes are not reliable: keep the stream's
    // Frame-rate field given to JPEG frames whose rate cannot be estimated.
    static constexpr int32_t kDefaultJpegFrameRate = 30000;
    // Sequence gaps from this one up give no estimate (a device restart or a
    // long stall rather than dropped frames).
    static constexpr uint32_t kMaxSequenceGap = 30;

    // PaceJpeg's wait without an object.
    static constexpr DWORD kPaceNoObjectWaitMs = 30;

    CMediaSource();
    ~CMediaSource() override;

    // --- Worker slots ---
    int Job() override;
    int Init() override;
    // The base copies the description (CopySettingsFrom); false for null.
    virtual bool ApplySettings(const CSourceDesc* desc);
    // One unit of work; the base does nothing.
    virtual int Step();
    // Makes the pending description the working one; the base copies it.
    virtual int CopySettings();

    // --- Events for the owner ---
    // Packs (code AND 0xFFFFFF) with (channel - 1, or 0 for channel 0) in the
    // top byte and appends it, unless kMaxEvents are waiting.
    void PostEvent(int code, int channel);
    // Moves every waiting entry, oldest first, into events (appended). True
    // when there was at least one.
    bool TakeEvents(std::vector<uint32_t>& events);
    static uint32_t PackEvent(int code, int channel);
    // Signals the listener, when there is one.
    void WakeListener();
    // Posts kEventStopped for the channel, asks the worker to stop and wakes
    // the listener: the owner rebuilds whatever depends on the stream.
    void StopWithEvent(int channel);
    // Waits up to milliseconds on the stop event and the owner event; true
    // when either was signalled.
    bool WaitStop(DWORD milliseconds);

    // --- Settings ---
    // From the owner's thread while the worker runs: when desc differs from
    // the pending description, hands it over and returns only once the
    // worker applied it, or once the worker stopped (or has no thread); then
    // copies the pending description back into desc (a one-shot request
    // comes back as idle once served).
    void UpdateSettings(CSourceDesc* desc);
    // Copies the pending description into desc (nothing for null). Returns 0.
    int GetSettings(CSourceDesc* desc);
    // Takes the request mode and its neighbour, the template, the listener,
    // the pacing values, the auto-restart flag, the machine code and the
    // channel (the template's). A change of request mode away from a
    // non-idle one clears the output queue.
    void CopySettingsFrom(const CSourceDesc* desc);

    // --- Tagging and pacing ---
    // Sets the object's channel and classifies the frame from data (length
    // bytes, which may be written: the JPEG checksum is zeroed and, for some
    // models, the stream's size written in). Nothing for a null object or
    // data or a length of 0 or less.
    void TagMediaObject(media_util::CMediaObj* object, uint8_t* data, int32_t length, int channel);
    // After delivering object: spaces JPEG frames by the frame time of the
    // frame-rate code (pacing mode 1); no object waits kPaceNoObjectWaitMs;
    // nothing else waits (other modes, other formats).
    void PaceJpeg(const media_util::CMediaObj* object);
    // The frame-time spacing of PaceJpeg, for one frame (or one pass of a
    // poller) whatever its format.
    void PaceFrame();

    // --- Wiring by the owner, before the worker starts ---
    void SetOutputQueue(media_util::IMediaQueue* queue) { mpOutputQueue = queue; }
    void SetOwnerEvent(media_util::CManualEvent* event) { mpOwnerEvent = event; }
    void SetClock(ISourceClock* clock);

    // --- State the owner and tests read (worker thread, or after it stopped) ---
    int GetFailureCount() const { return mFailureCount; }
    int GetFailureLimit() const { return mFailureLimit; }
    int GetRequestMode() const { return mRequestMode; }
    int GetPacingMode() const { return mPacingMode; }
    const media_util::CMediaObj& GetLastMedia(int channel) const { return mLastMedia[channel]; }
    uint32_t GetLastJpegSequence() const { return mLastJpegSequence; }

protected:
    // Hands the object to the output queue; true when the queue took it.
    bool Deliver(media_util::CMediaObj* object);
    static bool IsChannelSlot(int channel) { return channel >= 0 && channel < kChannelSlots; }

    int mFailureCount = 0;
    // Event 5 was posted for the current run of failures; worker thread.
    bool mLimitReported = false;
    // Signalled while a new description waits to be applied; reset = applied.
    media_util::CManualEvent mSettingsEvent;
    int32_t mRequestMode = 0;
    int32_t mRequestValue2 = 0;
    media_util::CMediaObj mLastMedia[kChannelSlots]; // headers only; worker thread
    media_util::CCritSection mEventLock;
    std::vector<uint32_t> mEvents; // guarded by mEventLock
    media_util::IMediaQueue* mpOutputQueue = nullptr;
    media_util::CMediaObj mTemplate; // header of the objects this source creates
    media_util::CManualEvent* mpOwnerEvent = nullptr;
    media_util::CManualEvent* mpListener = nullptr;
    CSourceDesc mPendingSettings; // guarded by mSettingsLock
    media_util::CCritSection mSettingsLock;
    int32_t mPacingMode = 0;
    int32_t mFrameRateCode = 0;
    int32_t mRateLimit = 0;
    int32_t mPacingValue4 = 0;
    DWORD mPaceDue = 0; // PaceJpeg's due time
    uint32_t mLastJpegSequence = 0;
    int mChannel = 0;
    bool mAutoRestart = true;
    int mFailureLimit = 1;
    bool mDelayBeforeStep = false;
    int mStepDelayMs = 0;
    int mMachineCode = 0;
    ISourceClock* mpClock; // not owned
};
