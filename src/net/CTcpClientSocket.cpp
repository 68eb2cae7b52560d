#include "net/CTcpClientSocket.h"

#include "net/CConnectTimer.h"
#include "net/CSocketAddress.h"

#include <algorithm>

bool CTcpClientSocket::Create() {
    SOCKET s = winsock::socket(mFamily, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    int noDelay = 1;
    winsock::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay));
    m_hSocket.store(s);
    return true;
}

bool CTcpClientSocket::Connect(const CSocketAddress& address, bool bounded) {
    mConnected.store(false);
    const DWORD limit = std::min(mConnectTimeout, mNextConnectLimit);
    mNextConnectLimit = INFINITE;
    if (mpAbortEvent != nullptr && mpAbortEvent->IsSignalled()) {
        WSASetLastError(WSAEINTR);
        return false;
    }
    // ResetSocket always makes a fresh handle, so a change of family takes
    // effect here.
    mFamily = address.GetFamily();
    if (!ResetSocket())
        return false;
    CConnectTimer* timer = nullptr;
    if (bounded) {
        timer = new CConnectTimer(limit, &mConnected, this);
        timer->SetTriggerEvent(mpAbortEvent);
        timer->Start();
    }
    // The flag is set only after connect has returned, so a watchdog that
    // finds it false while connect is still blocked is right to close.
    const bool connected = winsock::connect(m_hSocket.load(), address.Data(), address.Size()) != SOCKET_ERROR;
    OnConnectReturned();
    if (connected)
        mConnected.store(true);
    if (timer) {
        timer->Stop();
        delete timer;
    }
    // The watchdog may have fired between connect's return and the flag: the
    // handle is gone, and so is the connection.
    if (m_hSocket.load() == INVALID_SOCKET) {
        mConnected.store(false);
        WSASetLastError(WSAETIMEDOUT);
        return false;
    }
    return mConnected.load();
}

int CTcpClientSocket::Close() {
    SOCKET s = m_hSocket.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET)
        closesocket(s);
    mConnected.store(false);
    return 0;
}

int CTcpClientSocket::Send(const void* data, int length) {
    if (!mConnected.load())
        return -1;
    return winsock::send(m_hSocket.load(), static_cast<const char*>(data), length, 0);
}

int CTcpClientSocket::Recv(void* buffer, int length) {
    if (!mConnected.load())
        return -1;
    return winsock::recv(m_hSocket.load(), static_cast<char*>(buffer), length, 0);
}

int CTcpClientSocket::RecvWaiting(void* buffer, int length) {
    if (!mConnected.load())
        return -1;
    return winsock::recv(m_hSocket.load(), static_cast<char*>(buffer), length, MSG_DONTWAIT);
}

int CTcpClientSocket::WaitReadable(DWORD milliseconds) {
    if (!mConnected.load())
        return -1;
    winsock::SocketSet readable;
    readable.count = 1;
    readable.sockets[0] = m_hSocket.load();
    const int timeout = milliseconds > static_cast<DWORD>(INT32_MAX) ? -1 : static_cast<int>(milliseconds);
    const int ready = winsock::select(&readable, nullptr, timeout);
    if (ready == SOCKET_ERROR)
        return -1;
    return ready > 0 ? 1 : 0;
}
