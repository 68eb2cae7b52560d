// The socket layer on real loopback sockets, over IPv4 and IPv6 alike:
// start-up failure, host text and name resolution, receive time-outs and the
// bounded connect against a listener that never accepts.
#include "net/CTcpClientSocket.h"
#include "net/CConnectTimer.h"
#include "net/CSocketAddress.h"

#include "fakes/Loopback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

// A listener on a free port of the family's loopback that closes with the scope.
struct Listener {
    Listener(int backlog, int family) : mFd(ListenOnLoopback(backlog, &mPort, family)) {}
    ~Listener() { ::close(mFd); }
    uint16_t mPort = 0;
    int mFd;
};

CSocketAddress Loopback(int family, uint16_t port) {
    CSocketAddress address;
    address.SetHost(family == AF_INET6 ? "::1" : "127.0.0.1");
    address.SetPort(port);
    return address;
}

// Names answered by the socket layer's hosts hook for one test.
struct HostsForTest {
    explicit HostsForTest(std::vector<os::HostEntryForTest> hosts) { os::SetHostsForTest(std::move(hosts)); }
    ~HostsForTest() { os::SetHostsForTest({}); }
};

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

// Dotted IPv4 text is taken as it is, IPv6 literals bare or bracketed, names
// are resolved with IPv4 first. Text that is neither a valid literal nor a
// resolvable name leaves the address as it was. None of these addresses is
// connected to.
TEST(CTcpClientSocketTest, AddressFromHostText) {
    HostsForTest hosts({
        {"cam6.test", {"::1"}},
        {"dual.test", {"::1", "127.0.0.2"}}, // IPv4 wins although listed second
        {"dual4.test", {"127.0.0.3", "::1"}},
        {"two6.test", {"2001:db8::5", "::1"}},
    });
    const struct Case {
        std::string host;
        int family;           // 0: left as it was
        const char* expected; // numeric text
    } cases[] = {
        {"127.0.0.1", AF_INET, "127.0.0.1"},
        {"10.0.0.5", AF_INET, "10.0.0.5"},
        {"255.255.255.255", AF_INET, "255.255.255.255"},
        {"localhost", AF_INET, "127.0.0.1"},
        {"::1", AF_INET6, "::1"},
        {"[::1]", AF_INET6, "::1"},
        {"[2001:DB8::5]", AF_INET6, "2001:db8::5"},
        {"[::ffff:10.0.0.5]", AF_INET6, "::ffff:10.0.0.5"},
        {"cam6.test", AF_INET6, "::1"},
        {"dual.test", AF_INET, "127.0.0.2"},
        {"dual4.test", AF_INET, "127.0.0.3"},
        {"two6.test", AF_INET6, "2001:db8::5"},
        {"", 0, nullptr},
        {"no-such-host.invalid", 0, nullptr},
        {"[::1", 0, nullptr},
        {"::1]", 0, nullptr},
        {"[]", 0, nullptr},
        {"[", 0, nullptr},
        {"[127.0.0.1]", 0, nullptr},
        {"[::1]:80", 0, nullptr},
        {"1:2:3", 0, nullptr},
        {"[cam6.test]", 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        // A fresh address, and one that already holds an address of each
        // family; the port is set before the host and must survive it.
        for (const char* before : {"", "10.0.0.7", "[2001:db8::7]"}) {
            SCOPED_TRACE(before);
            CSocketAddress address;
            if (*before)
                address.SetHost(before);
            CSocketAddress expected;
            expected.SetHost(before);
            address.SetPort(8080);
            address.SetHost(c.host);
            if (c.family == 0) {
                EXPECT_EQ(expected.GetFamily(), address.GetFamily());
                EXPECT_EQ(*before ? expected.ToText() : "0.0.0.0", address.ToText());
            } else {
                EXPECT_EQ(c.family, address.GetFamily());
                EXPECT_EQ(c.expected, address.ToText());
            }
            EXPECT_EQ(8080, ntohs(address.GetPort()));
            EXPECT_EQ(address.GetFamily() == AF_INET6 ? 28 : 16, address.Size());
            // What connect is handed carries the same family and port.
            EXPECT_EQ(address.GetFamily(), address.Data()->sa_family);
        }
    }
}

// Connecting a socket first to one family and then to the other: each
// connect makes a fresh handle of its address's family, and the first
// connection is closed.
TEST(CTcpClientSocketTest, ConnectSwitchesFamilyWithAFreshHandle) {
    if (!HasIPv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    Listener v4(4, AF_INET), v6(4, AF_INET6);
    CTcpClientSocket socket;
    ASSERT_TRUE(socket.Connect(Loopback(AF_INET, v4.mPort), true));
    EXPECT_EQ(AF_INET, socket.GetFamily());
    const int first = ::accept(v4.mFd, nullptr, nullptr);
    ASSERT_GE(first, 0);
    ASSERT_TRUE(socket.Connect(Loopback(AF_INET6, v6.mPort), true));
    EXPECT_EQ(AF_INET6, socket.GetFamily());
    char byte;
    EXPECT_EQ(0, ::recv(first, &byte, 1, 0)); // the first connection saw its end
    ::close(first);
    ASSERT_TRUE(socket.Connect(Loopback(AF_INET, v4.mPort), true));
    EXPECT_EQ(AF_INET, socket.GetFamily());
}

// Each connect test runs over IPv4 and over IPv6 loopback.
class CTcpClientSocketFamilyTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (GetParam() == AF_INET6 && !HasIPv6Loopback())
            GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    int Family() const { return GetParam(); }
    CSocketAddress Address(uint16_t port) const { return Loopback(Family(), port); }
};

INSTANTIATE_TEST_SUITE_P(Families, CTcpClientSocketFamilyTest, ::testing::Values(AF_INET, AF_INET6),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == AF_INET6 ? "IPv6" : "IPv4");
                         });

TEST_P(CTcpClientSocketFamilyTest, ExchangesBytesOverItsFamily) {
    Listener listener(4, Family());
    CTcpClientSocket socket;
    ASSERT_TRUE(socket.Connect(Address(listener.mPort), true));
    const int peer = ::accept(listener.mFd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    sockaddr_storage local{};
    socklen_t length = sizeof(local);
    ASSERT_EQ(
        0, ::getsockname(static_cast<int>(socket.GetHandle()), reinterpret_cast<sockaddr*>(&local), &length));
    EXPECT_EQ(Family(), local.ss_family);
    EXPECT_EQ(5, socket.Send("hello", 5));
    char buffer[8] = {};
    EXPECT_EQ(5, ::recv(peer, buffer, sizeof(buffer), 0));
    EXPECT_STREQ("hello", buffer);
    EXPECT_EQ(3, ::send(peer, "bye", 3, MSG_NOSIGNAL));
    std::memset(buffer, 0, sizeof(buffer));
    EXPECT_EQ(3, socket.Recv(buffer, sizeof(buffer)));
    EXPECT_STREQ("bye", buffer);
    ::close(peer);
}

TEST_P(CTcpClientSocketFamilyTest, ConnectToClosedPortFails) {
    uint16_t port = 0;
    ::close(ListenOnLoopback(1, &port, Family()));
    CTcpClientSocket socket;
    EXPECT_FALSE(socket.Connect(Address(port), true));
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(WSAECONNREFUSED, WSAGetLastError());
}

// The unspecified address (what an unresolved name leaves behind) reaches
// this machine's own listeners on Linux; a device address must never do that.
TEST_P(CTcpClientSocketFamilyTest, ConnectToUnspecifiedAddressFails) {
    Listener listener(4, Family());
    const char* const hosts4[] = {"0.0.0.0", "::ffff:0.0.0.0"};
    const char* const hosts6[] = {"::", "[::]"};
    for (const char* host : Family() == AF_INET6 ? hosts6 : hosts4) {
        SCOPED_TRACE(host);
        CSocketAddress address;
        address.SetHost(host);
        address.SetPort(listener.mPort);
        CTcpClientSocket socket;
        EXPECT_FALSE(socket.Connect(address, true));
        EXPECT_EQ(WSAEADDRNOTAVAIL, WSAGetLastError());
    }
}

TEST_P(CTcpClientSocketFamilyTest, ReceiveOnSilentPeerTimesOut) {
    Listener listener(4, Family());
    CTcpClientSocket socket;
    socket.SetTimeout(200);
    ASSERT_TRUE(socket.Connect(Address(listener.mPort), false));
    char buffer[16];
    EXPECT_EQ(-1, socket.Recv(buffer, sizeof(buffer)));
    EXPECT_EQ(WSAETIMEDOUT, WSAGetLastError());
    // The failed receive leaves the state to the owner.
    EXPECT_TRUE(socket.IsConnected());
    // Waiting in slices sees the same silence without blocking.
    EXPECT_EQ(0, socket.WaitReadable(20));
}

// What a stream's receiver does once it expects bytes: take what arrived,
// never wait, and tell "nothing yet" apart from a time-out and the end.
TEST_P(CTcpClientSocketFamilyTest, RecvWaitingTakesWhatArrivedWithoutWaiting) {
    Listener listener(4, Family());
    CTcpClientSocket socket;
    socket.SetTimeout(2000);
    ASSERT_TRUE(socket.Connect(Address(listener.mPort), false));
    const int peer = ::accept(listener.mFd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    char buffer[16] = {};
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, socket.RecvWaiting(buffer, sizeof(buffer)));
    EXPECT_EQ(WSAEWOULDBLOCK, WSAGetLastError());
    // Far below the receive time-out it would otherwise have waited out.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
    EXPECT_TRUE(socket.IsConnected());

    ASSERT_EQ(3, ::send(peer, "bye", 3, MSG_NOSIGNAL));
    ASSERT_EQ(1, socket.WaitReadable(2000));
    EXPECT_EQ(3, socket.RecvWaiting(buffer, sizeof(buffer)));
    EXPECT_STREQ("bye", buffer);
    ::close(peer);
    ASSERT_EQ(1, socket.WaitReadable(2000));
    EXPECT_EQ(0, socket.RecvWaiting(buffer, sizeof(buffer)));

    // The receive buffer is the system's, which grows with the stream: not
    // a fixed 8 KiB (16 KiB once Linux doubled it), which held a 1080p
    // camera to 16 KiB a round trip.
    int size = 0;
    socklen_t length = sizeof(size);
    ASSERT_EQ(0, ::getsockopt(static_cast<int>(socket.GetHandle()), SOL_SOCKET, SO_RCVBUF, &size, &length));
    EXPECT_GT(size, 2 * 8192);
}

TEST_P(CTcpClientSocketFamilyTest, BoundedConnectGivesUpOnAListenerThatNeverAccepts) {
    // With a backlog of 0 the kernel queues one connection; once that slot is
    // taken, further SYNs are dropped and a connect would wait for minutes.
    Listener listener(0, Family());
    // The first connect that finds the queue full is the one under test: its
    // watchdog must close it (about kConnectTimeoutMs) instead of waiting.
    std::vector<std::unique_ptr<CTcpClientSocket>> sockets;
    CSocketAddress address = Address(listener.mPort);
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
TEST_P(CTcpClientSocketFamilyTest, AbortEventEndsABlockedConnect) {
    Listener listener(0, Family());
    CSocketAddress address = Address(listener.mPort);
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
            blockedMs =
                static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
    }
    ASSERT_GE(blockedMs, 0) << "the listen queue never filled";
    EXPECT_LT(blockedMs, 1500);
    // Signalled beforehand: no connect is tried at all.
    media_util::CManualEvent abort;
    abort.Set();
    CTcpClientSocket socket;
    socket.SetAbortEvent(&abort);
    Listener open(4, Family());
    EXPECT_FALSE(socket.Connect(Address(open.mPort), true));
}

// The watchdog fires just as connect succeeds: it finds the flag still false
// and closes the handle. That connect must fail, never report a connection
// that has no handle.
TEST_P(CTcpClientSocketFamilyTest, WatchdogFiringAsConnectSucceedsFailsTheConnect) {
    class WatchdogAtTheWrongMoment : public CTcpClientSocket {
    protected:
        void OnConnectReturned() override {
            CConnectTimer watchdog(kConnectTimeoutMs, &mConnected, this);
            watchdog.OnTimeout();
        }
    };
    Listener listener(4, Family());
    WatchdogAtTheWrongMoment socket;
    EXPECT_FALSE(socket.Connect(Address(listener.mPort), true));
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(INVALID_SOCKET, socket.GetHandle());
    char byte;
    EXPECT_EQ(-1, socket.Recv(&byte, 1));
}

// A bounded connect under a limit shorter than its own time-out gives up by
// the limit (an HTTP exchange whose deadline is near).
TEST_P(CTcpClientSocketFamilyTest, ConnectLimitShortensTheWatchdog) {
    Listener listener(0, Family());
    std::vector<std::unique_ptr<CTcpClientSocket>> sockets;
    CSocketAddress address = Address(listener.mPort);
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
