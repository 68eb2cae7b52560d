// The watchdog of a bounded connect: when its time passes while the socket's
// connected flag is still false, it closes the socket, which makes the
// blocked connect return with an error.
//
// Lives on the connecting thread's stack (or heap) for one connect; its
// timer thread is the only other thread that touches the socket.
#pragma once

#include "platform/CTimer.h"

#include <atomic>

class CTcpClientSocket;

class CConnectTimer : public media_util::CTimer {
public:
    CConnectTimer(DWORD milliseconds, const std::atomic<bool>* connected, CTcpClientSocket* socket)
        : CTimer(milliseconds), mpConnected(connected), mpSocket(socket) {}
    ~CConnectTimer() override { Stop(); }

    void OnTimeout() override;

private:
    const std::atomic<bool>* mpConnected; // the socket's flag, not owned
    CTcpClientSocket* mpSocket;           // not owned
};
