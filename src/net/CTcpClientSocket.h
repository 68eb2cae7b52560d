// A TCP client connection with a bounded connect.
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
// Threads: the owner's thread; the watchdog's thread calls Close during a
// bounded connect. The connected flag is atomic because the watchdog reads
// it while the owner may set it.
#pragma once

#include "net/CSocket.h"

#include <atomic>

class CSocketAddress;

class CTcpClientSocket : public CSocket {
public:
    static constexpr DWORD kConnectTimeoutMs = 3000;
    // Receive buffer of each connection: small on purpose, devices send
    // at most a few megabits per second per stream.
    static constexpr int kReceiveBufferBytes = 8192;

    CTcpClientSocket() = default;
    ~CTcpClientSocket() override = default;

    // socket + TCP_NODELAY + kReceiveBufferBytes (failures of the two
    // options are ignored).
    bool Create() override;
    // Connects to the address from a fresh handle. With `bounded` a watchdog
    // gives the connect at most kConnectTimeoutMs. True when connected.
    virtual bool Connect(const CSocketAddress& address, bool bounded);
    // Closes the handle if there is one and clears the connected flag.
    // Returns 0. Safe to call from the watchdog's thread.
    virtual int Close();
    // One send: bytes sent, or -1 (also when not connected). A partial send
    // is the caller's to handle.
    virtual int Send(const void* data, int length);
    // One receive: bytes received, 0 when the peer closed, -1 on error,
    // time-out or when not connected.
    virtual int Recv(void* buffer, int length);

    bool IsConnected() const { return mConnected.load(); }
    DWORD GetConnectTimeout() const { return mConnectTimeout; }

protected:
    std::atomic<bool> mConnected{false};
    const DWORD mConnectTimeout = kConnectTimeoutMs;
};
