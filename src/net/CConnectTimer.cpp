#include "net/CConnectTimer.h"

#include "net/CTcpClientSocket.h"

void CConnectTimer::OnTimeout() {
    if (!mpConnected->load())
        mpSocket->Close();
}
