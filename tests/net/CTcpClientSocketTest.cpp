// The socket layer on real loopback sockets: start-up failure, receive
// time-outs, name resolution and the bounded connect against a listener that
// never accepts.
#include "net/CTcpClientSocket.h"
#include "net/CConnectTimer.h"
#include "net/CSocketAddress.h"

#include "fakes/Loopback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

// A listener on a free port that closes with the scope.
struct Listener {
    explicit Listener(int backlog) : mFd(ListenOnLoopback(backlog, &mPort)) {}
    ~Listener() { ::close(mFd); }
    uint16_t mPort = 0;
    int mFd;
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
    int thrown = 0;
    try {
        CTcpClientSocket socket;
    } catch (int code) {
        thrown = code;
    }
    os::SetWSAStartupFailureForTest(0);
    EXPECT_EQ(1001, thrown);
    EXPECT_EQ(before, os::WSAStartupCountForTest());
    {
        CTcpClientSocket socket;
        EXPECT_EQ(before + 1, os::WSAStartupCountForTest());
    }
    EXPECT_EQ(before, os::WSAStartupCountForTest());
}

TEST(CTcpClientSocketTest, ConnectToClosedPortFails) {
    uint16_t port = 0;
    ::close(ListenOnLoopback(1, &port));
    CTcpClientSocket socket;
    EXPECT_FALSE(socket.Connect(Loopback(port), true));
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(WSAECONNREFUSED, WSAGetLastError());
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

TEST(CTcpClientSocketTest, BoundedConnectGivesUpOnAListenerThatNeverAccepts) {
    // With a backlog of 0 the kernel queues one connection; once that slot is
    // taken, further SYNs are dropped and a connect would wait for minutes.
    Listener listener(0);
    // The first connect that finds the queue full is the one under test: its
    // watchdog must close it (about kConnectTimeoutMs) instead of waiting.
    std::vector<std::unique_ptr<CTcpClientSocket>> sockets;
    CSocketAddress address = Loopback(listener.mPort);
    bool refused = false;
    while (!refused && sockets.size() < 4) {
        sockets.push_back(std::make_unique<CTcpClientSocket>());
        refused = !sockets.back()->Connect(address, true);
    }
    ASSERT_TRUE(refused) << "the listen queue never filled";
    EXPECT_FALSE(sockets.back()->IsConnected());
    EXPECT_EQ(INVALID_SOCKET, sockets.back()->GetHandle());
}

// A stop (the HTTP client's cancel event) gives up a connect to a device
// that drops SYN packets at once, not after the watchdog's time.
TEST(CTcpClientSocketTest, AbortEventEndsABlockedConnect) {
    Listener listener(0);
    CSocketAddress address = Loopback(listener.mPort);
    std::vector<std::unique_ptr<CTcpClientSocket>> sockets;
    long blockedMs = -1;
    while (blockedMs < 0 && sockets.size() < 4) {
        media_util::CManualEvent abort;
        sockets.push_back(std::make_unique<CTcpClientSocket>());
        sockets.back()->SetAbortEvent(&abort);
        std::thread stopper([&abort] { abort.Wait(300) || abort.Set(); });
        const auto start = std::chrono::steady_clock::now();
        const bool connected = sockets.back()->Connect(address, true);
        const auto took = std::chrono::steady_clock::now() - start;
        abort.Set();
        stopper.join();
        if (!connected)
            blockedMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
    }
    ASSERT_GE(blockedMs, 0) << "the listen queue never filled";
    EXPECT_LT(blockedMs, 1500);
    // Signalled beforehand: no connect is tried at all.
    media_util::CManualEvent abort;
    abort.Set();
    CTcpClientSocket socket;
    socket.SetAbortEvent(&abort);
    Listener open(4);
    EXPECT_FALSE(socket.Connect(Loopback(open.mPort), true));
}

// The watchdog fires just as connect succeeds: it finds the flag still false
// and closes the handle. That connect must fail, never report a connection
// that has no handle.
TEST(CTcpClientSocketTest, WatchdogFiringAsConnectSucceedsFailsTheConnect) {
    class WatchdogAtTheWrongMoment : public CTcpClientSocket {
    protected:
        void OnConnectReturned() override {
            CConnectTimer watchdog(kConnectTimeoutMs, &mConnected, this);
            watchdog.OnTimeout();
        }
    };
    Listener listener(4);
    WatchdogAtTheWrongMoment socket;
    EXPECT_FALSE(socket.Connect(Loopback(listener.mPort), true));
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(INVALID_SOCKET, socket.GetHandle());
    char byte;
    EXPECT_EQ(-1, socket.Recv(&byte, 1));
}

// A bounded connect under a limit shorter than its own time-out gives up by
// the limit (an HTTP exchange whose deadline is near).
TEST(CTcpClientSocketTest, ConnectLimitShortensTheWatchdog) {
    Listener listener(0);
    std::vector<std::unique_ptr<CTcpClientSocket>> sockets;
    CSocketAddress address = Loopback(listener.mPort);
    bool refused = false;
    DWORD took = 0;
    while (!refused && sockets.size() < 4) {
        sockets.push_back(std::make_unique<CTcpClientSocket>());
        sockets.back()->LimitNextConnect(200);
        const DWORD start = timeGetTime();
        refused = !sockets.back()->Connect(address, true);
        took = timeGetTime() - start;
    }
    ASSERT_TRUE(refused) << "the listen queue never filled";
    EXPECT_LT(took, CTcpClientSocket::kConnectTimeoutMs / 2);
}

} // namespace
