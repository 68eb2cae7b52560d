// What tests that talk TCP over loopback share: a listener on a port the
// system picks (on 127.0.0.1, or on ::1 for the IPv6 cases), and the bytes
// camsim's /bytes sends (byte i = i mod 251), so that a body shifted, cut or
// repeated anywhere reads differently.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

// A listening socket on 127.0.0.1 (family AF_INET) or ::1 (AF_INET6) and its
// port in *port; -1 on failure.
inline int ListenOnLoopback(int backlog, uint16_t* port, int family = AF_INET) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_storage address{};
    socklen_t length;
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        length = sizeof(*in6);
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&address);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(*in);
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(fd, backlog) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        *port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
        return fd;
    }
    ::close(fd);
    return -1;
}

// Whether this machine has an IPv6 loopback that a test can listen on (a
// container may have IPv6 switched off). Tests of IPv6 devices skip without.
inline bool HasIPv6Loopback() {
    uint16_t port = 0;
    const int fd = ListenOnLoopback(1, &port, AF_INET6);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// The loopback address of `family` as a URL's host: "127.0.0.1" or "[::1]".
inline std::string LoopbackHost(int family) {
    return family == AF_INET6 ? "[::1]" : "127.0.0.1";
}

inline std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 251);
    return s;
}
