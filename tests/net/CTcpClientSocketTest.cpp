// The socket layer on real loopback sockets: start-up failure, the states of
// a client socket, receive time-outs, name resolution and the bounded
// connect against a listener that never accepts.
#include "net/CTcpClientSocket.h"
#include "net/CConnectTimer.h"
#include "net/CSocketAddress.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// A listening socket on 127.0.0.1 and a free port (port 0, read back).
class Listener {
public:
    explicit Listener(int backlog) {
        mSocket = winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        winsock::bind(mSocket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        winsock::listen(mSocket, backlog);
        int length = sizeof(address);
        winsock::getsockname(mSocket, reinterpret_cast<sockaddr*>(&address), &length);
        mPort = ntohs(address.sin_port);
    }
    ~Listener() { closesocket(mSocket); }
    SOCKET mSocket;
    uint16_t mPort = 0;
};

CSocketAddress Loopback(uint16_t port) {
    CSocketAddress address;
    address.SetHost("127.0.0.1");
    address.SetPort(port);
    return address;
}

TEST(CTcpClientSocketTest, StartupFailureThrows1001AndLeavesNoStartup) {
    int before = os::WSAStartupCountForTest();
    os::SetWSAStartupFailureForTest(WSASYSNOTREADY);
    bool thrown = false;
    try {
        CTcpClientSocket socket;
    } catch (int code) {
        thrown = true;
        EXPECT_EQ(1001, code);
    }
    os::SetWSAStartupFailureForTest(0);
    EXPECT_TRUE(thrown);
    EXPECT_EQ(before, os::WSAStartupCountForTest());
    {
        CTcpClientSocket socket;
        EXPECT_EQ(before + 1, os::WSAStartupCountForTest());
    }
    EXPECT_EQ(before, os::WSAStartupCountForTest());
}

TEST(CTcpClientSocketTest, SendAndRecvRefuseUnlessConnected) {
    Listener listener(4);
    CTcpClientSocket socket;
    char byte = 'x';
    EXPECT_EQ(-1, socket.Send(&byte, 1));
    EXPECT_EQ(-1, socket.Recv(&byte, 1));
    ASSERT_TRUE(socket.Connect(Loopback(listener.mPort), true));
    EXPECT_EQ(1, socket.Send(&byte, 1));
    EXPECT_EQ(0, socket.Close());
    EXPECT_EQ(INVALID_SOCKET, socket.GetHandle());
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(-1, socket.Send(&byte, 1));
    EXPECT_EQ(-1, socket.Recv(&byte, 1));
}

TEST(CTcpClientSocketTest, ConnectToClosedPortFails) {
    uint16_t port;
    {
        Listener gone(1);
        port = gone.mPort;
    }
    CTcpClientSocket socket;
    EXPECT_FALSE(socket.Connect(Loopback(port), true));
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(WSAECONNREFUSED, WSAGetLastError());
}

TEST(CTcpClientSocketTest, UnresolvedHostFailsTheConnectNotTheCall) {
    Listener listener(4);
    CSocketAddress address;
    address.SetHost("no-such-host.invalid");
    address.SetPort(listener.mPort);
    EXPECT_EQ(0u, address.GetAddress());
    CTcpClientSocket socket;
    EXPECT_FALSE(socket.Connect(address, true));
}

TEST(CTcpClientSocketTest, AddressFromHostText) {
    struct Case {
        const char* host;
        uint32_t expected; // host byte order
    };
    const Case cases[] = {
        {"127.0.0.1", 0x7F000001u},       {"10.0.0.5", 0x0A000005u}, // parsed only, never connected to
        {"255.255.255.255", 0xFFFFFFFFu}, {"localhost", 0x7F000001u}, {"", 0u}, {"no-such-host.invalid", 0u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        CSocketAddress address;
        address.SetHost(c.host);
        address.SetPort(8080);
        EXPECT_EQ(c.expected, ntohl(address.GetAddress()));
        EXPECT_EQ(8080, ntohs(address.GetPort()));
        EXPECT_EQ(16, address.Size());
        EXPECT_EQ(AF_INET, address.Data()->sa_family);
    }
}

TEST(CTcpClientSocketTest, ReceiveOnSilentPeerTimesOut) {
    Listener listener(4);
    CTcpClientSocket socket;
    socket.SetTimeout(200);
    ASSERT_TRUE(socket.Connect(Loopback(listener.mPort), false));
    char buffer[16];
    EXPECT_EQ(-1, socket.Recv(buffer, sizeof(buffer)));
    EXPECT_EQ(WSAETIMEDOUT, WSAGetLastError());
    // The failed receive leaves the state to the owner.
    EXPECT_TRUE(socket.IsConnected());
}

TEST(CTcpClientSocketTest, ConnectTwiceStartsFromAFreshHandle) {
    Listener listener(4);
    CTcpClientSocket socket;
    ASSERT_TRUE(socket.Connect(Loopback(listener.mPort), true));
    SOCKET first = winsock::accept(listener.mSocket, nullptr, nullptr);
    ASSERT_NE(INVALID_SOCKET, first);
    ASSERT_TRUE(socket.Connect(Loopback(listener.mPort), true));
    SOCKET second = winsock::accept(listener.mSocket, nullptr, nullptr);
    ASSERT_NE(INVALID_SOCKET, second);
    // The first connection was closed: its peer reads the end.
    char byte;
    EXPECT_EQ(0, winsock::recv(first, &byte, 1, 0));
    char out = 'k';
    EXPECT_EQ(1, socket.Send(&out, 1));
    EXPECT_EQ(1, winsock::recv(second, &byte, 1, 0));
    EXPECT_EQ('k', byte);
    closesocket(first);
    closesocket(second);
}

TEST(CTcpClientSocketTest, BoundedConnectGivesUpOnAListenerThatNeverAccepts) {
    // With a backlog of 0 the kernel queues one connection; once that slot is
    // taken, further SYNs are dropped and a connect would wait for minutes.
    Listener listener(0);
    std::vector<std::unique_ptr<CTcpClientSocket>> fillers;
    CSocketAddress address = Loopback(listener.mPort);
    for (int i = 0; i < 4; ++i) {
        auto filler = std::make_unique<CTcpClientSocket>();
        if (!filler->Connect(address, true))
            break; // the queue is full: this connect was cut off by its watchdog
        fillers.push_back(std::move(filler));
    }
    ASSERT_LT(fillers.size(), 4u) << "the listen queue never filled";
    CTcpClientSocket socket;
    EXPECT_FALSE(socket.Connect(address, true));
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(INVALID_SOCKET, socket.GetHandle());
}

TEST(CTcpClientSocketTest, WatchdogClosesOnlyAnUnconnectedSocket) {
    Listener listener(4);
    CTcpClientSocket socket;
    ASSERT_TRUE(socket.Connect(Loopback(listener.mPort), false));
    std::atomic<bool> connected{true};
    {
        CConnectTimer timer(1, &connected, &socket);
        timer.Start();
        while (!timer.HasFired())
            std::this_thread::yield();
    }
    EXPECT_NE(INVALID_SOCKET, socket.GetHandle());
    connected = false;
    {
        CConnectTimer timer(1, &connected, &socket);
        timer.Start();
        while (!timer.HasFired())
            std::this_thread::yield();
    }
    EXPECT_EQ(INVALID_SOCKET, socket.GetHandle());
}

} // namespace
