// The Winsock 2 calls the socket layer is written against, stood in for on
// POSIX sockets.
//
// The structures and constants that Winsock shares with BSD sockets
// (sockaddr_in, sockaddr_in6, sockaddr_storage, AF_INET, AF_INET6,
// SOCK_STREAM, IPPROTO_TCP, TCP_NODELAY, SOL_SOCKET, SO_RCVBUF, htons,
// inet_addr, inet_pton, inet_ntop) come from the system headers unchanged. What
// only Winsock has (SOCKET, INVALID_SOCKET, WSAStartup, closesocket,
// ioctlsocket, the WSAE error codes) is declared here globally. The calls whose
// name exists on both sides but whose behaviour differs live in namespace
// `winsock`, so that they cannot be confused with the POSIX ones:
//   - setsockopt with SO_SNDTIMEO/SO_RCVTIMEO takes a 4-byte DWORD of
//     milliseconds, as on Windows (POSIX takes a struct timeval);
//   - send never raises SIGPIPE (Windows has no signals; a send on a
//     connection the peer closed fails with WSAECONNRESET);
//   - closesocket shuts the connection down before closing, so that a thread
//     blocked in connect or recv on the same handle returns at once with an
//     error, as it does on Windows (close alone does not wake it on Linux);
//   - a receive or send that runs into its time-out reports WSAETIMEDOUT;
//   - recv takes MSG_DONTWAIT (Linux's flag; Windows has none): a receive
//     that finds nothing reports WSAEWOULDBLOCK instead of waiting;
//   - connect refuses the unspecified address (0.0.0.0, ::) as Windows does.
// Every call records its error for WSAGetLastError (per thread).
#pragma once

#include "os/kernel/Kernel.h"

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <utility>
#include <vector>

// A socket handle. As on Windows it is an unsigned integer whose all-ones
// value means "no socket"; here it carries the file descriptor.
using SOCKET = uintptr_t;
constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
constexpr int SOCKET_ERROR = -1;

// Winsock error codes, as WSAGetLastError reports them.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;

// What WSAStartup reports back. Only the fields callers read are filled.
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
};

// Starts the socket layer for one user. Returns 0 or an error code (the call
// does not set WSAGetLastError, as on Windows). Versions below 2.0 are
// refused with WSAVERNOTSUPPORTED. Every successful WSAStartup must be
// matched by one WSACleanup.
int WSAStartup(WORD versionRequested, WSADATA* data);
// Ends one WSAStartup. 0, or SOCKET_ERROR with WSANOTINITIALISED when there
// was no matching start-up.
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

// Closes the handle (see the file comment: shuts the connection down first).
// 0, or SOCKET_ERROR with WSAENOTSOCK for INVALID_SOCKET or a handle that is
// not a socket.
int closesocket(SOCKET s);

// FIONBIO: *argp non-zero makes the socket non-blocking, zero blocking.
// FIONREAD: *argp = bytes ready to be received. Other commands: WSAEINVAL.
int ioctlsocket(SOCKET s, long cmd, u_long* argp);

namespace os {
// Test hook: while `error` is not 0, every WSAStartup fails with it (for
// example WSASYSNOTREADY). Returns the previous value.
int SetWSAStartupFailureForTest(int error);
// Number of WSAStartup calls not yet matched by WSACleanup, for leak tests.
int WSAStartupCountForTest();
// Test hook: names that ResolveHost answers as a hosts file would, before the
// system is asked. Each entry is a name and its addresses as numeric text, in
// the order the system's lookup would return them ({"cam6.test", {"::1"}}).
// Lets a test have a name with only an IPv6 address, or with both families,
// without touching the machine's configuration. An empty list removes every
// entry.
using HostEntryForTest = std::pair<std::string, std::vector<std::string>>;
void SetHostsForTest(std::vector<HostEntryForTest> hosts);
} // namespace os

namespace winsock {

// socket(): INVALID_SOCKET on failure. The handle is close-on-exec.
SOCKET socket(int af, int type, int protocol);
int setsockopt(SOCKET s, int level, int name, const void* value, int length);
int getsockopt(SOCKET s, int level, int name, void* value, int* length);
// Blocking unless the socket was made non-blocking with FIONBIO, in which
// case an unfinished connect fails with WSAEWOULDBLOCK.
int connect(SOCKET s, const sockaddr* address, int length);
int bind(SOCKET s, const sockaddr* address, int length);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* address, int* length);
int getsockname(SOCKET s, sockaddr* address, int* length);
// Bytes sent, or SOCKET_ERROR.
int send(SOCKET s, const char* data, int length, int flags);
// Bytes received, 0 when the peer closed its side, SOCKET_ERROR on error or
// time-out (WSAETIMEDOUT), or with MSG_DONTWAIT when nothing has arrived
// (WSAEWOULDBLOCK).
int recv(SOCKET s, char* buffer, int length, int flags);
int shutdown(SOCKET s, int how);

// Waits until one of the sockets is readable (the `read` set) or writable
// (the `write` set), or the time-out (milliseconds; negative = none) passes.
// A thin equivalent of select for at most a few sockets: each set is an array
// of handles with a count, and on return the count holds how many of them
// are ready and the array starts with those. The result is the total number
// of ready sockets, 0 on time-out, SOCKET_ERROR on error.
struct SocketSet {
    static constexpr int kMaxSockets = 64;
    int count = 0;
    SOCKET sockets[kMaxSockets];
};
int select(SocketSet* read, SocketSet* write, int timeoutMs);

// Resolves a host name to the one address the socket layer connects to, the
// part of getaddrinfo it uses: the name's first IPv4 address when it has one,
// otherwise its first IPv6 address. The IPv4 lookup is made alone first, so a
// name that has an IPv4 address resolves (and is asked for) exactly as it was
// when the layer knew only IPv4, and "localhost" stays 127.0.0.1 on machines
// whose hosts file lists ::1 first; only a name without an IPv4 address costs
// a second lookup. *address gets a sockaddr_in or a sockaddr_in6 (port 0), its
// ss_family saying which. Safe on any thread. Returns false
// (WSAHOST_NOT_FOUND) when the name has neither, leaving *address untouched.
bool ResolveHost(const char* host, sockaddr_storage* address);

} // namespace winsock
