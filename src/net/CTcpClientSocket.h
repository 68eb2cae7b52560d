// A TCP client connection with a bounded connect, over IPv4 or IPv6: each
// connect makes its handle in the family of the address it is given.
//
// A blocking connect to an address that drops SYN packets would otherwise
// wait for the operating system's own time-out (minutes). The bounded
// connect runs a CConnectTimer beside it, which closes the handle after
// kConnectTimeoutMs; closing a handle under a blocking connect makes that
// connect fail at once.
//
// States: no handle; a handle, not connected; connected. Connect always
// starts from a fresh handle, Close returns to "no handle". Send and Recv
// refuse (-1, no system call) unless connected; a failed receive does not
// change the state, the owner calls Close.
//
// The watchdog can fire just as connect succeeds: it finds the flag still
// false and closes the handle under a connection that has just been made.
// Connect therefore looks at the handle once the watchdog has stopped; a
// connect whose handle the watchdog closed is a failed connect, never "true"
// without a handle.
//
// Threads: the owner's thread; the watchdog's thread calls Close during a
// bounded connect. The connected flag is atomic because the watchdog reads
// it while the owner may set it.
#pragma once

#include "net/CSocket.h"
#include "platform/CManualEvent.h"

#include <atomic>

class CSocketAddress;

class CTcpClientSocket : public CSocket {
public:
    static constexpr DWORD kConnectTimeoutMs = 3000;

    CTcpClientSocket() = default;
    ~CTcpClientSocket() override = default;

    // socket in the family of the last address given to Connect (IPv4
    // before the first) + TCP_NODELAY (a failure of the option is ignored).
    // The receive buffer is left to the system: Linux sizes it to what the
    // connection carries (receive-window auto-tuning), and fixing it turns
    // that off. A fixed 8 KiB (Linux makes it 16 KiB) held a 1080p MJPEG
    // camera on loopback to 16 KiB per round trip, about 28 receives a
    // frame with the camera's sending done inside them (1.2 ms of CPU a
    // frame instead of 0.2), and would hold a camera 20 ms away to under
    // 1 MB/s, less than one 1080p stream. docs/http.md, section 11.
    bool Create() override;
    // Connects to the address from a fresh handle of the address's family.
    // With `bounded` a watchdog gives the connect at most kConnectTimeoutMs
    // (or the shorter limit of LimitNextConnect). True when connected, and
    // then a handle exists.
    virtual bool Connect(const CSocketAddress& address, bool bounded);
    // The next bounded connect gives up after `milliseconds` when that is
    // shorter than kConnectTimeoutMs: an HTTP client whose exchange has less
    // time left than a whole connect time-out. Used by one connect only.
    void LimitNextConnect(DWORD milliseconds) { mNextConnectLimit = milliseconds; }
    // An event (not owned; null for none) that gives up a bounded connect at
    // once when it is signalled: the HTTP client's cancel event, so that a
    // stop does not wait out the watchdog against a device that drops SYN
    // packets. A connect started while it is signalled fails at once.
    void SetAbortEvent(const media_util::CManualEvent* event) { mpAbortEvent = event; }
    // Closes the handle if there is one and clears the connected flag.
    // Returns 0. Safe to call from the watchdog's thread.
    virtual int Close();
    // One send: bytes sent, or -1 (also when not connected). A partial send
    // is the caller's to handle.
    virtual int Send(const void* data, int length);
    // One receive: bytes received, 0 when the peer closed, -1 on error,
    // time-out or when not connected.
    virtual int Recv(void* buffer, int length);
    // One receive that takes only what has arrived and never waits: bytes,
    // 0 when the peer closed, -1 on error, time-out or when not connected;
    // -1 with WSAEWOULDBLOCK when nothing has arrived yet. Lets a reader
    // that expects bytes skip the wait for readability (a system call per
    // receive) when they are already there.
    virtual int RecvWaiting(void* buffer, int length);
    // Waits up to `milliseconds` until a Recv would not block: 1 when bytes
    // (or the peer's close, or an error) are waiting, 0 when the time passed,
    // -1 when not connected or the wait failed. Lets the HTTP client wait in
    // short slices and look at its cancel event and deadline between them.
    virtual int WaitReadable(DWORD milliseconds);

    bool IsConnected() const { return mConnected.load(); }
    DWORD GetConnectTimeout() const { return mConnectTimeout; }
    // AF_INET or AF_INET6: the family the next handle is made in.
    int GetFamily() const { return mFamily; }

protected:
    // Runs on the connecting thread right after connect returned, before the
    // connected flag is set: the moment at which the watchdog's race lies.
    // Tests land the watchdog's close there; it does nothing otherwise.
    virtual void OnConnectReturned() {}

    std::atomic<bool> mConnected{false};
    const DWORD mConnectTimeout = kConnectTimeoutMs;
    DWORD mNextConnectLimit = INFINITE;                     // owner's thread only
    int mFamily = AF_INET;                                  // owner's thread only
    const media_util::CManualEvent* mpAbortEvent = nullptr; // not owned
};
