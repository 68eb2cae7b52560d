// The Winsock stand-in's Windows behaviours that the socket layer relies on,
// on real loopback sockets.
#include "os/socket/Winsock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// A connected pair of loopback sockets: the client side, the server side
// and the listener they came from.
struct Pair {
    Pair() {
        WSADATA data;
        EXPECT_EQ(0, WSAStartup(0x0202, &data));
        listener = winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(0, winsock::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
        EXPECT_EQ(0, winsock::listen(listener, 4));
        int length = sizeof(address);
        EXPECT_EQ(0, winsock::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
        client = winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_EQ(0, winsock::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
        server = winsock::accept(listener, nullptr, nullptr);
        EXPECT_NE(INVALID_SOCKET, server);
    }
    ~Pair() {
        if (client != INVALID_SOCKET)
            closesocket(client);
        if (server != INVALID_SOCKET)
            closesocket(server);
        closesocket(listener);
        WSACleanup();
    }
    SOCKET listener = INVALID_SOCKET;
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
};

TEST(WinsockTest, StartupVersionsAndCleanup) {
    int before = os::WSAStartupCountForTest();
    WSADATA data;
    EXPECT_EQ(WSAVERNOTSUPPORTED, WSAStartup(0x0101, &data));
    EXPECT_EQ(0, WSAStartup(0x0202, &data));
    EXPECT_EQ(0x0202, data.wVersion);
    EXPECT_EQ(0, WSACleanup());
    EXPECT_EQ(before, os::WSAStartupCountForTest());
    if (before == 0) {
        EXPECT_EQ(SOCKET_ERROR, WSACleanup());
        EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
    }
}

TEST(WinsockTest, InvalidHandlesFailWithNotASocket) {
    char byte = 0;
    EXPECT_EQ(SOCKET_ERROR, winsock::send(INVALID_SOCKET, &byte, 1, 0));
    EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
    EXPECT_EQ(SOCKET_ERROR, winsock::recv(INVALID_SOCKET, &byte, 1, 0));
    EXPECT_EQ(SOCKET_ERROR, closesocket(INVALID_SOCKET));
    EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
}

TEST(WinsockTest, MillisecondTimeoutsRoundTrip) {
    Pair pair;
    // The kernel keeps time-outs in clock ticks (4 ms at 250 Hz): a value
    // comes back rounded up to a tick, never shorter. 0 means none.
    for (DWORD ms : {0u, 1u, 250u, 3000u, 61001u}) {
        SCOPED_TRACE(ms);
        ASSERT_EQ(0, winsock::setsockopt(pair.client, SOL_SOCKET, SO_RCVTIMEO, &ms, sizeof(ms)));
        DWORD back = 0;
        int length = sizeof(back);
        ASSERT_EQ(0, winsock::getsockopt(pair.client, SOL_SOCKET, SO_RCVTIMEO, &back, &length));
        EXPECT_GE(back, ms);
        EXPECT_LE(back, ms == 0 ? 0u : ms + 10);
    }
}

TEST(WinsockTest, SendToAClosedPeerFailsWithoutASignal) {
    Pair pair;
    closesocket(pair.server);
    pair.server = INVALID_SOCKET;
    // The first sends may still be accepted by the kernel; once the reset has
    // arrived they fail, and the process is still here (no SIGPIPE).
    std::string block(65536, 'x');
    int result = 0;
    for (int i = 0; i < 100 && result != SOCKET_ERROR; ++i)
        result = winsock::send(pair.client, block.data(), static_cast<int>(block.size()), 0);
    EXPECT_EQ(SOCKET_ERROR, result);
    EXPECT_EQ(WSAECONNRESET, WSAGetLastError());
}

TEST(WinsockTest, ClosingWakesABlockedReceive) {
    Pair pair;
    std::atomic<int> result{1};
    std::thread reader([&] {
        char byte;
        result = winsock::recv(pair.client, &byte, 1, 0);
    });
    // Whether the reader is already blocked or not, the close must end its
    // receive: with no data ever sent, a receive that returns at all ended
    // because of the close.
    closesocket(pair.client);
    reader.join();
    pair.client = INVALID_SOCKET;
    EXPECT_LE(result.load(), 0);
}

TEST(WinsockTest, NonBlockingModeAndReadableBytes) {
    Pair pair;
    u_long on = 1;
    ASSERT_EQ(0, ioctlsocket(pair.client, FIONBIO, &on));
    char buffer[8];
    EXPECT_EQ(SOCKET_ERROR, winsock::recv(pair.client, buffer, sizeof(buffer), 0));
    EXPECT_EQ(WSAEWOULDBLOCK, WSAGetLastError());
    ASSERT_EQ(5, winsock::send(pair.server, "hello", 5, 0));
    winsock::SocketSet readable;
    readable.count = 1;
    readable.sockets[0] = pair.client;
    ASSERT_EQ(1, winsock::select(&readable, nullptr, 5000));
    u_long ready = 0;
    ASSERT_EQ(0, ioctlsocket(pair.client, FIONREAD, &ready));
    EXPECT_EQ(5u, ready);
    EXPECT_EQ(5, winsock::recv(pair.client, buffer, sizeof(buffer), 0));
    u_long off = 0;
    ASSERT_EQ(0, ioctlsocket(pair.client, FIONBIO, &off));
    u_long unused = 0;
    EXPECT_EQ(SOCKET_ERROR, ioctlsocket(pair.client, 0x12345, &unused));
    EXPECT_EQ(WSAEINVAL, WSAGetLastError());
}

TEST(WinsockTest, SelectTimesOutWhenNothingIsReady) {
    Pair pair;
    winsock::SocketSet readable;
    readable.count = 1;
    readable.sockets[0] = pair.client;
    EXPECT_EQ(0, winsock::select(&readable, nullptr, 10));
    EXPECT_EQ(0, readable.count);
}

TEST(WinsockTest, UnspecifiedDestinationIsRefused) {
    SOCKET s = winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    EXPECT_EQ(SOCKET_ERROR, winsock::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    EXPECT_EQ(WSAEADDRNOTAVAIL, WSAGetLastError());
    closesocket(s);
}

} // namespace
