// The live source of devices that push their media as one endless HTTP
// response: a multipart body whose parts each carry one video frame or one
// audio block, described by a few text headers (docs/stream.md has the
// format as this parser reads it).
//
// Each Step handles one part: it finds the next "--myboundary" line, reads
// the part's header lines into a dictionary, fills a media object from them,
// reads exactly Content-Length data bytes into the object's own block, tags
// the object and hands it to the output queue. When not connected, a Step
// makes one reconnect attempt instead, waiting 500, 1000, ... up to 10000 ms
// after each failed one.
//
// What counts as a stream (docs/stream.md, "Reconnects"): a connection is
// only established once its first part head arrived. An answer other than
// 200, an answer that ends or that carries no boundary line within
// kMaxScanBytes before its first part, is a failed attempt like a refused
// connection: it is counted (event 5 reaches the owner) and the delay grows,
// so a refusing device, a web page or a 404 is asked at most every few
// seconds. Attempts are never closer than kReconnectStepMs, even after
// connections that each delivered a part. Every part has kPartDeadlineMs from
// the moment its search begins until its last byte; a part that takes longer
// is abandoned and the link reconnects. Parts larger than kMaxPartBytes are
// never allocated: their data is searched through for the next boundary.
//
// Head bytes are parsed in place in one kHeadBufferSize buffer; data bytes
// that arrived with the head are copied once into the object's block and the
// rest is read straight into it.
//
// Threads: everything runs on the worker thread; the output queue is the
// only object shared with other threads.
#pragma once

#include "platform/CSlowHash.h"
#include "source/CHttpMediaSource.h"

#include <atomic>
#include <string_view>
#include <vector>

class CMultipartSource : public CHttpMediaSource {
public:
    // The part head buffer. Head lines are parsed in it in place.
    static constexpr size_t kHeadBufferSize = 2048;
    // A header line longer than this abandons the head (devices write short
    // lines; anything longer is garbage or a desynchronised stream).
    static constexpr size_t kMaxHeaderLine = 1024;
    // Header lines one head may have; more abandon the head, so that a
    // stream of endless short lines cannot grow the head dictionary.
    static constexpr size_t kMaxHeadLines = 64;
    // Reads one call makes while looking for a boundary before it returns
    // (its state kept), so that a stream of garbage still lets the worker
    // come round to settings and stop requests.
    static constexpr int kMaxScanReadsPerCall = 64;
    // The line that starts every part, compared whole and case-sensitively.
    static constexpr std::string_view kBoundaryLine = "--myboundary";
    // A partial line longer than the boundary line and its CR can no longer
    // become one: it is dropped while searching for a boundary, so that the
    // buffer never fills with bytes that cannot matter (a boundary line split
    // across two reads is still found).
    static constexpr size_t kMaxBoundaryPartial = kBoundaryLine.size() + 1;
    // The device's refusal of the stream: "NS " and a few more bytes as the
    // whole first answer.
    static constexpr size_t kRefusalMinBytes = 3;
    static constexpr size_t kRefusalMaxBytes = 14;
    // Reconnect delay: starts at kReconnectStepMs and grows by it after each
    // failed attempt, up to kMaxReconnectDelayMs. Two attempts are never
    // closer than kReconnectStepMs.
    static constexpr DWORD kReconnectStepMs = 500;
    static constexpr DWORD kMaxReconnectDelayMs = 10000;
    // Time one part may take, from the start of the search for its boundary
    // to its last data byte. Devices send several parts a second; a part that
    // trickles in slower than this is given up and the stream reconnected.
    static constexpr DWORD kPartDeadlineMs = 10000;
    // The largest part taken: a 4K key frame is well under a megabyte, so
    // any real frame fits. Larger parts are skipped unread into memory.
    static constexpr int32_t kMaxPartBytes = 16 * 1024 * 1024;
    // Bytes searched for a boundary line before the stream counts as lost
    // (before its first part: as not a stream at all).
    static constexpr size_t kMaxScanBytes = 1024 * 1024;

    // Frame numbers of MPEG-4 parts that fall by more than this mean the
    // device restarted its stream: reconnect.
    static constexpr int32_t kMaxFrameNumberFall = 1000;
    // X-Resolution heights that devices send for the padded analogue frame,
    // and what they stand for.
    static constexpr int32_t kPaddedPalHeight = 624;
    static constexpr int32_t kPalHeight = 576;
    static constexpr int32_t kPaddedNtscHeight = 504;
    static constexpr int32_t kNtscHeight = 480;

    // How reading a part head ended.
    enum class HeadResult {
        kComplete,   // head read; the part's data begins at the given offset
        kIncomplete, // no complete head this call (over-long line, or the worker stops); bytes kept
        kLost,       // a read failed: connection lost
        kRefused,    // the device refused the stream
    };

    CMultipartSource();
    ~CMultipartSource() override;

    int Init() override;
    int Final() override;
    // One part (connected) or one reconnect attempt (not connected). Returns
    // 1 when a part was delivered.
    int Step() override;

    // Reads the next part head into head (header name to value). On
    // kComplete, dataStart is the buffer offset where the part's data begins.
    HeadResult ReadPartHead(media_util::CSlowHash& head, size_t& dataStart);
    // Fills object from the part head (every header's effect, then the
    // checks against the channel's last object). hasResolution tells whether
    // the part carried X-Resolution; dataLength receives Content-Length.
    // True when the part is usable: it waits, or it has a video or audio codec.
    bool FillFromHead(const media_util::CSlowHash& head, media_util::CMediaObj* object, int32_t& dataLength);

    bool IsConnected() const { return mConnected; }
    // True once the current connection delivered its first part head.
    bool IsStreaming() const { return mStreaming; }
    // Connections opened with a 200 answer so far (any thread may ask).
    int GetOpenCount() const { return mOpens.load(); }
    DWORD GetReconnectDelay() const { return mReconnectDelay; }
    size_t GetBufferedCount() const { return mBuffered; }
    // The time a part may take (kPartDeadlineMs unless set); before Start.
    void SetPartDeadline(DWORD milliseconds) { mPartDeadlineMs = milliseconds; }
    // Parts read past because they were larger than kMaxPartBytes.
    int64_t GetSkippedParts() const { return mSkippedParts; }

private:
    // Opens the stream URL; true only for a 200 answer (anything else is
    // closed again).
    bool OpenStream();
    void Reconnect();
    // A failed attempt: waits the reconnect delay (the source stops with
    // event -1 when the stop or owner event ends the wait), then grows it.
    void BackOff();
    void MarkLost();
    // The connection broke (or the stream showed itself not to be one):
    // closes it, and when it never delivered a part, counts and backs off
    // as for a failed reconnect.
    void ConnectionLost();
    // Starts the part clock when it is not running.
    void StartPartClock();
    void StopPartClock();

    // Reads behind the buffered bytes (without fill). False when nothing came.
    bool ReadMore();
    // Moves buffer[from, mBuffered) to the start.
    void Compact(size_t from);

    std::vector<char> mBuffer; // kHeadBufferSize while the worker runs
    size_t mBuffered = 0;      // bytes in mBuffer not yet consumed
    // The scan dropped a partial line that cannot be a boundary; the bytes up
    // to its end still belong to it.
    bool mSkippingLine = false;
    bool mConnected = false;
    bool mStreaming = false; // the connection delivered a part head
    bool mPartClock = false; // the client's deadline runs for the current part
    size_t mScanned = 0;     // bytes dropped since the last boundary line
    size_t mScanLimit = kMaxScanBytes;
    bool mAttempted = false; // mLastAttempt is valid
    DWORD mLastAttempt = 0;  // clock time of the last open of the stream
    int64_t mSkippedParts = 0;
    std::atomic<int> mOpens{0};
    DWORD mPartDeadlineMs = kPartDeadlineMs;
    DWORD mReconnectDelay = kReconnectStepMs;
    SYSTEMTIME mLastStreamTime{}; // of the last X-Time header
    DWORD mLastDataTime = 0;
};
