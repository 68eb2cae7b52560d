/* A loopback port that nothing listens on, for "a device that is not there":
   bound to get a free port from the kernel, then closed again. C and C++. */
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static inline unsigned ClosedLoopbackPort(void) {
    struct sockaddr_in address;
    socklen_t length = sizeof(address);
    unsigned port = 0;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && bind(fd, (struct sockaddr*)&address, sizeof(address)) == 0 &&
        getsockname(fd, (struct sockaddr*)&address, &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

#ifdef __cplusplus
#include <string>
/* "127.0.0.1:PORT" of a closed port. */
inline std::string ClosedLoopbackAddress() {
    return "127.0.0.1:" + std::to_string(ClosedLoopbackPort());
}
#endif
