// Base of the viewer's sockets: starts and stops the socket layer (one
// WSAStartup per object, as Winsock asks of every user), owns the handle and
// its send/receive time-out. Everything is blocking; no socket is ever put
// into non-blocking mode.
//
// Threads: used by one thread at a time, except that the connect watchdog's
// thread may close the handle while the owner is inside connect (see
// CTcpClientSocket). The handle is atomic for that reason.
#pragma once

#include "os/socket/Winsock.h"

#include <atomic>

class CSocket {
public:
    // Thrown (as a plain int) by the constructor when the socket layer
    // cannot start; it propagates out of whatever object embeds the socket.
    static constexpr int kStartupFailure = 1001;
    static constexpr WORD kWinsockVersion = 0x0202;
    // Send and receive time-out of a new handle, in milliseconds.
    static constexpr DWORD kDefaultTimeoutMs = 3000;

    CSocket();
    virtual ~CSocket();
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    // Makes the handle and applies the options of the socket's type.
    virtual bool Create() = 0;

    // True when a handle exists or one could be made; a new handle gets the
    // send and receive time-outs.
    bool EnsureSocket();
    // Closes the handle (false, handle kept, when closing fails) and makes a
    // fresh one with EnsureSocket.
    bool ResetSocket();
    // Milliseconds; applies to the next handle made, not the current one.
    void SetTimeout(DWORD milliseconds) { mTimeout = milliseconds; }
    DWORD GetTimeout() const { return mTimeout; }
    // The time-out the current handle was made with (the one a receive on it
    // waits at most); GetTimeout before the first handle.
    DWORD GetHandleTimeout() const { return mHandleTimeout; }
    SOCKET GetHandle() const { return m_hSocket.load(); }

protected:
    std::atomic<SOCKET> m_hSocket{INVALID_SOCKET};
    DWORD mTimeout = kDefaultTimeoutMs;
    DWORD mHandleTimeout = kDefaultTimeoutMs;
};
