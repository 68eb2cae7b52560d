#include "net/CTcpClientSocket.h"

#include "net/CConnectTimer.h"
#include "net/CSocketAddress.h"

bool CTcpClientSocket::Create() {
    SOCKET s = winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    int noDelay = 1;
    winsock::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay));
    int receiveBuffer = kReceiveBufferBytes;
    winsock::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    m_hSocket.store(s);
    return true;
}

bool CTcpClientSocket::Connect(const CSocketAddress& address, bool bounded) {
    mConnected.store(false);
    if (!ResetSocket())
        return false;
    CConnectTimer* timer = nullptr;
    if (bounded) {
        timer = new CConnectTimer(mConnectTimeout, &mConnected, this);
        timer->Start();
    }
    // The flag is set only after connect has returned, so a watchdog that
    // finds it false while connect is still blocked is right to close.
    if (winsock::connect(m_hSocket.load(), address.Data(), address.Size()) != SOCKET_ERROR)
        mConnected.store(true);
    if (timer) {
        timer->Stop();
        delete timer;
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
