#include "os/socket/Winsock.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

namespace {

std::atomic<int> gStartupCount{0};
std::atomic<int> gStartupFailure{0};
thread_local int tLastError = 0;

std::mutex gHostsMutex;
std::vector<os::HostEntryForTest> gHostsForTest; // guarded by gHostsMutex

int ToWsaError(int err) {
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAENOTSOCK;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case EAGAIN:
        return WSAEWOULDBLOCK;
    case EINPROGRESS:
        return WSAEWOULDBLOCK; // a non-blocking connect under way, as Windows reports it
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    default:
        return WSAEINVAL;
    }
}

int Fail(int wsaError) {
    tLastError = wsaError;
    return SOCKET_ERROR;
}

int FailErrno() {
    return Fail(ToWsaError(errno));
}

bool ToFd(SOCKET s, int* fd) {
    if (s == INVALID_SOCKET || s > static_cast<SOCKET>(INT32_MAX)) {
        tLastError = WSAENOTSOCK;
        return false;
    }
    *fd = static_cast<int>(s);
    return true;
}

bool IsNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0;
}

// Windows refuses the unspecified address as a destination; Linux takes it
// for the local host. An unresolved name leaves 0.0.0.0 behind, and that
// connect must fail rather than reach whatever listens on this machine. An
// IPv6 socket reaches 0.0.0.0 through its mapped form, ::ffff:0.0.0.0.
bool IsUnspecified(const sockaddr* address, int length) {
    if (address->sa_family == AF_INET && length >= static_cast<int>(sizeof(sockaddr_in)))
        return reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr == htonl(INADDR_ANY);
    if (address->sa_family == AF_INET6 && length >= static_cast<int>(sizeof(sockaddr_in6))) {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        static const uint8_t kMappedAny[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0};
        return IN6_IS_ADDR_UNSPECIFIED(&a) || std::memcmp(&a, kMappedAny, sizeof(kMappedAny)) == 0;
    }
    return false;
}

// The test hook's answer for `host` in `family`: true when the name has an
// entry (even one without an address of that family, which then is no
// address, as a hosts file line would be).
bool LookUpHostsForTest(const char* host, int family, sockaddr_storage* address, bool* found) {
    std::lock_guard<std::mutex> lock(gHostsMutex);
    for (const os::HostEntryForTest& entry : gHostsForTest) {
        if (entry.first != host)
            continue;
        *found = false;
        for (const std::string& text : entry.second) {
            sockaddr_storage parsed{};
            if (family == AF_INET) {
                auto* in = reinterpret_cast<sockaddr_in*>(&parsed);
                if (::inet_pton(AF_INET, text.c_str(), &in->sin_addr) != 1)
                    continue;
                in->sin_family = AF_INET;
            } else {
                auto* in6 = reinterpret_cast<sockaddr_in6*>(&parsed);
                if (::inet_pton(AF_INET6, text.c_str(), &in6->sin6_addr) != 1)
                    continue;
                in6->sin6_family = AF_INET6;
            }
            *address = parsed;
            *found = true;
            break;
        }
        return true;
    }
    return false;
}

// The first address of `family` that the system's lookup gives for `host`.
bool LookUp(const char* host, int family, sockaddr_storage* address) {
    bool found = false;
    if (LookUpHostsForTest(host, family, address, &found))
        return found;
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &result) != 0 || !result)
        return false;
    const size_t size = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family == family && ai->ai_addrlen >= size) {
            sockaddr_storage copy{};
            std::memcpy(&copy, ai->ai_addr, size);
            *address = copy;
            found = true;
            break;
        }
    }
    ::freeaddrinfo(result);
    return found;
}

// A blocking receive or send that ran into SO_RCVTIMEO/SO_SNDTIMEO reports
// EAGAIN on Linux; Windows reports WSAETIMEDOUT for the same case.
int FailIo(int fd) {
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && !IsNonBlocking(fd))
        return Fail(WSAETIMEDOUT);
    return FailErrno();
}

} // namespace

int WSAStartup(WORD versionRequested, WSADATA* data) {
    int failure = gStartupFailure.load();
    if (failure != 0)
        return failure;
    if ((versionRequested & 0xFF) < 2)
        return WSAVERNOTSUPPORTED;
    if (data) {
        std::memset(data, 0, sizeof(*data));
        data->wVersion = 0x0202;
        data->wHighVersion = 0x0202;
        std::strncpy(data->szDescription, "POSIX sockets", sizeof(data->szDescription) - 1);
        std::strncpy(data->szSystemStatus, "Running", sizeof(data->szSystemStatus) - 1);
    }
    gStartupCount.fetch_add(1);
    return 0;
}

int WSACleanup() {
    int count = gStartupCount.load();
    while (count > 0) {
        if (gStartupCount.compare_exchange_weak(count, count - 1))
            return 0;
    }
    return Fail(WSANOTINITIALISED);
}

int WSAGetLastError() {
    return tLastError;
}
void WSASetLastError(int error) {
    tLastError = error;
}

int closesocket(SOCKET s) {
    int fd;
    if (!ToFd(s, &fd))
        return SOCKET_ERROR;
    // Wakes any thread blocked in connect/recv/send on this socket. It fails
    // harmlessly (ENOTCONN) on a socket that never connected.
    ::shutdown(fd, SHUT_RDWR);
    if (::close(fd) != 0)
        return FailErrno();
    return 0;
}

int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
    int fd;
    if (!ToFd(s, &fd))
        return SOCKET_ERROR;
    if (!argp)
        return Fail(WSAEFAULT);
    if (cmd == static_cast<long>(FIONBIO)) {
        int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0)
            return FailErrno();
        flags = *argp ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
        if (::fcntl(fd, F_SETFL, flags) != 0)
            return FailErrno();
        return 0;
    }
    if (cmd == static_cast<long>(FIONREAD)) {
        int available = 0;
        if (::ioctl(fd, FIONREAD, &available) != 0)
            return FailErrno();
        *argp = static_cast<u_long>(available);
        return 0;
    }
    return Fail(WSAEINVAL);
}

namespace os {
int SetWSAStartupFailureForTest(int error) {
    return gStartupFailure.exchange(error);
}
int WSAStartupCountForTest() {
    return gStartupCount.load();
}
void SetHostsForTest(std::vector<HostEntryForTest> hosts) {
    std::lock_guard<std::mutex> lock(gHostsMutex);
    gHostsForTest = std::move(hosts);
}
} // namespace os

namespace winsock {

SOCKET socket(int af, int type, int protocol) {
    int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailErrno();
        return INVALID_SOCKET;
    }
    return static_cast<SOCKET>(fd);
}

int setsockopt(SOCKET s, int level, int name, const void* value, int length) {
    int fd;
    if (!ToFd(s, &fd))
        return SOCKET_ERROR;
    if (!value || length < 0)
        return Fail(WSAEFAULT);
    if (level == SOL_SOCKET && (name == SO_RCVTIMEO || name == SO_SNDTIMEO)) {
        if (length < static_cast<int>(sizeof(DWORD)))
            return Fail(WSAEFAULT);
        DWORD ms;
        std::memcpy(&ms, value, sizeof(ms));
        timeval tv{};
        tv.tv_sec = ms / 1000;
        tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
        if (::setsockopt(fd, level, name, &tv, sizeof(tv)) != 0)
            return FailErrno();
        return 0;
    }
    if (::setsockopt(fd, level, name, value, static_cast<socklen_t>(length)) != 0)
        return FailErrno();
    return 0;
}

int getsockopt(SOCKET s, int level, int name, void* value, int* length) {
    int fd;
    if (!ToFd(s, &fd))
        return SOCKET_ERROR;
    if (!value || !length || *length < 0)
        return Fail(WSAEFAULT);
    if (level == SOL_SOCKET && (name == SO_RCVTIMEO || name == SO_SNDTIMEO)) {
        if (*length < static_cast<int>(sizeof(DWORD)))
            return Fail(WSAEFAULT);
        timeval tv{};
        socklen_t len = sizeof(tv);
        if (::getsockopt(fd, level, name, &tv, &len) != 0)
            return FailErrno();
        DWORD ms = static_cast<DWORD>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
        std::memcpy(value, &ms, sizeof(ms));
        *length = sizeof(ms);
        return 0;
    }
    socklen_t len = static_cast<socklen_t>(*length);
    if (::getsockopt(fd, level, name, value, &len) != 0)
        return FailErrno();
    *length = static_cast<int>(len);
    return 0;
}

int connect(SOCKET s, const sockaddr* address, int length) {
    int fd;
    if (!ToFd(s, &fd))
        return SOCKET_ERROR;
    if (!address || length <= 0)
        return Fail(WSAEFAULT);
    if (IsUnspecified(address, length))
        return Fail(WSAEADDRNOTAVAIL);
    if (::connect(fd, address, static_cast<socklen_t>(length)) != 0)
        return FailErrno();
    return 0;
}

int bind(SOCKET s, const sockaddr* address, int length) {
    int fd;
    if (!ToFd(s, &fd))
        return SOCKET_ERROR;
    if (!address || length <= 0)
        return Fail(WSAEFAULT);
    if (::bind(fd, address, static_cast<socklen_t>(length)) != 0)
        return FailErrno();
    return 0;
}

int listen(SOCKET s, int backlog) {
    int fd;
    if (!ToFd(s, &fd))
        return SOCKET_ERROR;
    if (::listen(fd, backlog) != 0)
        return FailErrno();
    return 0;
}

SOCKET accept(SOCKET s, sockaddr* address, int* length) {
    int fd;
    if (!ToFd(s, &fd))
        return INVALID_SOCKET;
    socklen_t len = length ? static_cast<socklen_t>(*length) : 0;
    int client;
    do {
        client = ::accept4(fd, address, length ? &len : nullptr, SOCK_CLOEXEC);
    } while (client < 0 && errno == EINTR);
    if (client < 0) {
        FailErrno();
        return INVALID_SOCKET;
    }
    if (length)
        *length = static_cast<int>(len);
    return static_cast<SOCKET>(client);
}

int getsockname(SOCKET s, sockaddr* address, int* length) {
    int fd;
    if (!ToFd(s, &fd))
        return SOCKET_ERROR;
    if (!address || !length || *length < 0)
        return Fail(WSAEFAULT);
    socklen_t len = static_cast<socklen_t>(*length);
    if (::getsockname(fd, address, &len) != 0)
        return FailErrno();
    *length = static_cast<int>(len);
    return 0;
}

int send(SOCKET s, const char* data, int length, int flags) {
    int fd;
    if (!ToFd(s, &fd))
        return SOCKET_ERROR;
    if (length < 0 || (!data && length > 0))
        return Fail(WSAEFAULT);
    ssize_t n;
    do {
        n = ::send(fd, data, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return FailIo(fd);
    return static_cast<int>(n);
}

int recv(SOCKET s, char* buffer, int length, int flags) {
    int fd;
    if (!ToFd(s, &fd))
        return SOCKET_ERROR;
    if (length < 0 || (!buffer && length > 0))
        return Fail(WSAEFAULT);
    ssize_t n;
    do {
        n = ::recv(fd, buffer, static_cast<size_t>(length), flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (flags & MSG_DONTWAIT) != 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return Fail(WSAEWOULDBLOCK);
    if (n < 0)
        return FailIo(fd);
    return static_cast<int>(n);
}

int shutdown(SOCKET s, int how) {
    int fd;
    if (!ToFd(s, &fd))
        return SOCKET_ERROR;
    if (::shutdown(fd, how) != 0)
        return FailErrno();
    return 0;
}

int select(SocketSet* read, SocketSet* write, int timeoutMs) {
    pollfd fds[2 * SocketSet::kMaxSockets];
    int readCount = read ? read->count : 0;
    int writeCount = write ? write->count : 0;
    if (readCount < 0 || writeCount < 0 || readCount > SocketSet::kMaxSockets ||
        writeCount > SocketSet::kMaxSockets)
        return Fail(WSAEINVAL);
    int n = 0;
    for (int i = 0; i < readCount; ++i) {
        int fd;
        if (!ToFd(read->sockets[i], &fd))
            return SOCKET_ERROR;
        fds[n++] = pollfd{fd, POLLIN, 0};
    }
    for (int i = 0; i < writeCount; ++i) {
        int fd;
        if (!ToFd(write->sockets[i], &fd))
            return SOCKET_ERROR;
        fds[n++] = pollfd{fd, POLLOUT, 0};
    }
    int rc;
    do {
        rc = ::poll(fds, static_cast<nfds_t>(n), timeoutMs < 0 ? -1 : timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0)
        return FailErrno();
    int total = 0;
    if (read) {
        int ready = 0;
        for (int i = 0; i < readCount; ++i)
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                read->sockets[ready++] = read->sockets[i];
        read->count = ready;
        total += ready;
    }
    if (write) {
        int ready = 0;
        for (int i = 0; i < writeCount; ++i)
            if (fds[readCount + i].revents & (POLLOUT | POLLHUP | POLLERR))
                write->sockets[ready++] = write->sockets[i];
        write->count = ready;
        total += ready;
    }
    return total;
}

bool ResolveHost(const char* host, sockaddr_storage* address) {
    if (!host || !address || !*host) {
        tLastError = WSAHOST_NOT_FOUND;
        return false;
    }
    if (LookUp(host, AF_INET, address) || LookUp(host, AF_INET6, address))
        return true;
    tLastError = WSAHOST_NOT_FOUND;
    return false;
}

} // namespace winsock
