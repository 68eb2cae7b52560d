#include "net/CSocket.h"

CSocket::CSocket() {
    WSADATA data;
    if (WSAStartup(kWinsockVersion, &data) != 0)
        throw kStartupFailure;
}

CSocket::~CSocket() {
    SOCKET s = m_hSocket.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET)
        closesocket(s);
    WSACleanup();
}

bool CSocket::EnsureSocket() {
    if (m_hSocket.load() != INVALID_SOCKET)
        return true;
    if (!Create())
        return false;
    SOCKET s = m_hSocket.load();
    DWORD timeout = mTimeout;
    mHandleTimeout = timeout;
    winsock::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    winsock::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    return true;
}

bool CSocket::ResetSocket() {
    SOCKET s = m_hSocket.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET && closesocket(s) == SOCKET_ERROR) {
        m_hSocket.store(s);
        return false;
    }
    return EnsureSocket();
}
