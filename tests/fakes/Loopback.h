// What tests that talk TCP over loopback share: a listener on a port the
// system picks, and the bytes camsim's /bytes sends (byte i = i mod 251), so
// that a body shifted, cut or repeated anywhere reads differently.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

// A listening socket on 127.0.0.1 and its port in *port; -1 on failure.
inline int ListenOnLoopback(int backlog, uint16_t* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::listen(fd, backlog) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        *port = ntohs(address.sin_port);
        return fd;
    }
    ::close(fd);
    return -1;
}

inline std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 251);
    return s;
}
