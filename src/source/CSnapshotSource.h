// The live source of devices that serve one JPEG image per HTTP request
// instead of a stream. Each Step fetches the image URL once and turns a body
// that is large enough into a JPEG media object for the output queue.
//
// Video servers with several inputs (device type 3) are walked channel by
// channel, one request each, with the two-digit channel number put into the
// request path between the URL's path and the configured suffix; channels
// whose bit is clear in the channel mask the images report are skipped with
// event 3. A suffix containing "skip_pn" pins the configured channel.
//
// Pictures are polled no faster than the device makes them: each picture
// (or each pass through a recorder's channels) is spaced by the frame time of
// the description's frame-rate code, or of the template's frame rate when the
// code is 0, or kDefaultPollRate. A channel without video is reported once
// (event 3) when it goes dark, not on every pass. An answer other than 200
// is a failed fetch, and consecutive failures wait longer and longer
// (kFailureBackOffStepMs more each, up to kMaxFailureBackOffMs), so a
// refusing device is not asked thirty times a second. docs/stream.md has
// the rules.
//
// After a failed fetch or a dropped body the pause between requests adapts
// to how long fetches take: slow fetches lengthen it by kIntervalGrowMs,
// quick ones shorten it by kIntervalShrinkMs.
//
// Threads: everything on the worker thread. The cancel event may be
// signalled from any thread to break a fetch; the source then rebuilds its
// client at the next failure.
#pragma once

#include "net/CUrl.h"
#include "source/CHttpMediaSource.h"

#include <string>

class CSnapshotSource : public CHttpMediaSource {
public:
    static constexpr int kInitialIntervalMs = 30;
    // Slack around the interval before it is adapted.
    static constexpr int kIntervalSlackMs = 30;
    static constexpr int kIntervalGrowMs = 30;
    static constexpr int kIntervalShrinkMs = 3;
    // Idle wait when there is nothing to request.
    static constexpr DWORD kIdleWaitMs = 200;
    // Bodies below this carry no picture (error texts, empty frames).
    static constexpr size_t kMinImageBytes = 5000;
    // The size of the placeholder image some recorders send for a channel
    // without signal; dropped like an error text.
    static constexpr size_t kNoSignalImageBytes = 14396;
    // Consecutive failed fetches before the base reports event 5.
    static constexpr int kFailureLimit = 3;
    // Channels are walked only on devices with at least this many.
    static constexpr int kMinWalkChannels = 4;
    // Where the images of walked devices report their channel mask, and
    // where the recorders' images carry their channel.
    static constexpr size_t kOffsetChannelMask = 40;
    static constexpr size_t kOffsetChannel = 24;
    // The suffix marker that pins the configured channel.
    static constexpr const char* kFixedChannelMarker = "skip_pn";
    // Polling rate (thousandths of a frame per second) when neither the
    // description nor its template gives one.
    static constexpr int32_t kDefaultPollRate = 30000;
    // Wait after the n-th failed fetch in a row: at least the poll interval,
    // n times this step, at most kMaxFailureBackOffMs.
    static constexpr DWORD kFailureBackOffStepMs = 500;
    static constexpr DWORD kMaxFailureBackOffMs = 10000;

    CSnapshotSource();
    ~CSnapshotSource() override;

    int CopySettings() override;
    int Init() override;
    int Final() override;
    // One request, or one idle wait. Returns 1 when an image was delivered.
    int Step() override;

    int GetInterval() const { return mInterval; }
    int GetNextChannel() const { return mNextChannel; }
    int GetChannelCount() const { return mChannelCount; }
    int GetChannelMask() const { return mChannelMask; }
    // Frame-rate code the polling is paced by.
    int32_t GetPollRate() const { return mFrameRateCode; }
    bool IsMultiChannel() const { return mMultiChannel; }
    bool IsChannelFromImage() const { return mChannelFromImage; }
    bool IsFixedChannel() const { return mFixedChannel; }
    const CUrl& GetUrl() const { return mUrl; }
    const std::string& GetPathPrefix() const { return mPathPrefix; }

private:
    void TakeOwnFields(const CSourceDesc& desc);
    void AdaptInterval(DWORD start);
    // The wait after a failed fetch: the interval, or the back-off of
    // mFailureCount failures in a row when that is longer.
    DWORD FailureWait() const;
    // The channel just requested has no video (its mask bit is clear):
    // event 3 once, until the channel shows video again.
    void ReportNoVideo(int channel);

    int mInterval = kInitialIntervalMs;
    int mNextChannel = 1;
    int mChannelCount = 0;
    std::string mChannelPrefix; // the stream URL's path
    std::string mPathPrefix;    // the description's; kept, not used in requests
    std::string mPathSuffix;
    bool mMultiChannel = false;
    bool mChannelFromImage = false;
    int mChannelMask = 0;
    int mDarkReported = 0; // channels (bit n-1) whose missing video was reported
    bool mFixedChannel = false;
    CUrl mUrl;
    media_util::CManualEvent* mpClientCancel = nullptr; // the client's cancel event (ours)
    DWORD mLastDataTime = 0;
};
