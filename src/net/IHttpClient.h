// The HTTP client every device exchange goes through. Two implementations:
// CHttpSocketClient (a minimal HTTP/1.1 client on a TCP socket) and
// CKVXWinINetAsync (the asynchronous WinINet-shaped client). Callers normally
// use it through CHttpLink, which owns the open/read/close sequence.
//
// Threads: one client is driven by one thread at a time (the owning source's
// worker, or the caller of a fetch). The cancel event may be signalled from any
// thread; the client only looks at it through IsUsable (and the asynchronous
// client also waits on it).
//
// The virtual operations keep this order; both implementations fill the same
// slots.
#pragma once

#include "net/CHttpCredential.h"
#include "os/kernel/Kernel.h"
#include "platform/CManualEvent.h"

#include <cstdint>
#include <string>

class IHttpClient {
public:
    IHttpClient() = default;
    IHttpClient(const IHttpClient&) = delete;
    IHttpClient& operator=(const IHttpClient&) = delete;

    // 1
    virtual ~IHttpClient() = default;
    // 2. Connects to host:port (host as text: dotted IPv4 or a name). `bounded`
    // asks for a connect that gives up after a few seconds.
    virtual bool Connect(const std::string& host, uint16_t port, bool bounded) = 0;
    // 3. Sends a GET for `path` (path and query, as it goes on the request
    // line) and reads the response head. True when a complete head arrived,
    // whatever the status; see GetStatusCode.
    virtual bool Get(const std::string& path) = 0;
    // 4. As Get, with a body.
    virtual bool Post(const std::string& path, const std::string& body) = 0;
    // 5-7. A POST whose body is streamed with Write; no response is read.
    virtual bool BeginPost(const std::string& path) = 0;
    virtual bool Write(const void* data, DWORD length) = 0;
    virtual bool EndPost() = 0;
    // 8
    virtual bool Disconnect() = 0;
    // 9. Reads body bytes into `buffer`. *length: in, the buffer's size; out,
    // the bytes delivered. With `fill` the call goes on reading until the
    // buffer is full or the body ends. False only when nothing could be
    // delivered (error, time-out, peer closed); true with *length 0 when the
    // body is known to be complete.
    virtual bool Read(void* buffer, DWORD* length, bool fill) = 0;
    // 10, 11. The status code of the last response (0 before any).
    virtual bool QueryStatusCode(int* status) = 0;
    virtual int GetStatusCode() = 0;
    // 12
    virtual bool IsConnected() = 0;
    // 13. The event belongs to the caller and must outlive the client's use.
    virtual void SetCancelEvent(media_util::CManualEvent* event) { mpCancelEvent = event; }
    // 14. The system error code of the last failure (a WSAE code for the
    // socket client).
    virtual DWORD GetLastErrorCode() = 0;
    // 15. Milliseconds every wait for the peer may take.
    virtual void SetTimeout(DWORD milliseconds) = 0;
    // 16, 17
    virtual void SetCredentials(const CHttpCredential& credential) = 0;
    virtual CHttpCredential* GetCredentials() = 0;
    // 18. True when a cancel event was set and it is not signalled. The owner
    // signals the event to refuse all further requests of this client and
    // resets it to make the client usable again.
    virtual bool IsUsable() { return mpCancelEvent != nullptr && mpCancelEvent->Wait(0) == 0; }

    // True when the body of the last answer stopped before its end: the peer
    // closed inside a body whose length or chunking said more was to come,
    // or a read failed (time-out, deadline, cancel, broken connection) before
    // the end. False while the body is still being read, once it ended where
    // its framing said, and for a body without length that ended with the
    // peer's close. CHttpLink::FetchInto fails a fetch on it, so that a cut
    // picture or reply never passes for a whole one. A client that cannot tell
    // says false.
    virtual bool IsBodyCut() { return false; }

    // --- Deadline of the current exchange ---
    // Until ClearDeadline, every wait of this client for the peer (the
    // response head, body reads, the asynchronous client's completions) ends
    // by `deadline`, a timeGetTime value: a call that runs into it fails as on
    // a time-out, except that a read which already delivered bytes returns
    // them. The per-wait time-out (SetTimeout) still applies within. The owner
    // sets it around a whole exchange (a fetch, one part of a stream), so a
    // peer that trickles a byte now and then cannot hold a call for longer.
    // Owner's thread only, like every other call.
    void SetDeadline(DWORD deadline) {
        mDeadline = deadline;
        mHasDeadline = true;
    }
    void ClearDeadline() { mHasDeadline = false; }
    bool HasDeadline() const { return mHasDeadline; }
    DWORD GetDeadline() const { return mDeadline; }
    // Milliseconds left before the deadline: INFINITE without one, 0 once it
    // passed.
    DWORD RemainingMs() const {
        if (!mHasDeadline)
            return INFINITE;
        const int32_t left = static_cast<int32_t>(mDeadline - timeGetTime());
        return left > 0 ? static_cast<DWORD>(left) : 0;
    }
    bool IsPastDeadline() const { return RemainingMs() == 0; }
    // `milliseconds` cut to what is left before the deadline.
    DWORD WithinDeadline(DWORD milliseconds) const {
        const DWORD left = RemainingMs();
        return milliseconds < left ? milliseconds : left;
    }

    // Caps body reading at this many bytes per second; 0 = no limit. Set by a
    // source whose settings ask for a limited rate, before reading.
    void SetRateLimit(DWORD bytesPerSecond) { mRateLimit = bytesPerSecond; }
    DWORD GetRateLimit() const { return mRateLimit; }

    // How many milliseconds a read of `bytes` must still wait so that the
    // reading since `mark` does not exceed `rateLimit` bytes per second, when
    // the clock now reads `now`. 0 when there is no limit, when the time
    // already spent covers it, or when `now` lies before `mark` (the clock
    // moved back: no waiting rather than a wait of 49 days). Clock values
    // are timeGetTime milliseconds, which wrap; intervals are taken in
    // modular arithmetic.
    static DWORD ThrottleShortfall(DWORD rateLimit, DWORD mark, DWORD now, DWORD bytes) {
        if (rateLimit == 0 || bytes == 0)
            return 0;
        DWORD elapsed = now - mark;
        if (static_cast<int32_t>(elapsed) < 0)
            return 0;
        uint64_t needed = static_cast<uint64_t>(bytes) * 1000u / rateLimit;
        if (elapsed >= needed)
            return 0;
        return static_cast<DWORD>(needed - elapsed);
    }

protected:
    // True when the owner has signalled the cancel event. Unlike IsUsable, a
    // client without a cancel event is not cancelled.
    bool IsCancelled() const { return mpCancelEvent != nullptr && mpCancelEvent->IsSignalled() != 0; }
    // Starts the throttle's interval at the current time.
    void MarkThrottle() { mThrottleMark = timeGetTime(); }
    // Throttle step after a read that delivered `bytes`: waits off what the
    // rate limit still asks for and moves the mark to the end of that wait.
    // The wait is on the cancel event and ends at the deadline, so a limited
    // rate never keeps a stopping owner waiting.
    void Throttle(DWORD bytes) {
        if (mRateLimit == 0 || bytes == 0)
            return;
        DWORD now = timeGetTime();
        const DWORD shortfall = ThrottleShortfall(mRateLimit, mThrottleMark, now, bytes);
        if (shortfall > 0) {
            const DWORD wait = WithinDeadline(shortfall);
            bool cancelled = false;
            if (mpCancelEvent != nullptr)
                cancelled = mpCancelEvent->Wait(wait) != 0;
            else
                Sleep(wait);
            now = !cancelled && wait == shortfall ? now + shortfall : timeGetTime();
        }
        mThrottleMark = now;
    }

    media_util::CManualEvent* mpCancelEvent = nullptr; // not owned
    DWORD mRateLimit = 0;                              // bytes per second, 0 = none
    DWORD mThrottleMark = 0;                           // timeGetTime of the last throttle step
    DWORD mDeadline = 0;                               // timeGetTime; valid while mHasDeadline
    bool mHasDeadline = false;
};
