/* A loopback port that nothing listens on, for "a device that is not there":
   a socket bound to a free port the kernel picks and never listening, so a
   connection is refused. The socket stays open until the process ends: a
   port bound and closed again may be handed to another test's listener (a
   camsim of a test running beside) before it is used. One per process and
   per file that includes this; C and C++. */
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static inline unsigned ClosedLoopbackPort(void) {
    static unsigned port = 0;
    struct sockaddr_in address;
    socklen_t length = sizeof(address);
    int fd;
    if (port != 0)
        return port;
    fd = socket(AF_INET, SOCK_STREAM, 0);
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && bind(fd, (struct sockaddr*)&address, sizeof(address)) == 0 &&
        getsockname(fd, (struct sockaddr*)&address, &length) == 0)
        port = ntohs(address.sin_port);
    else if (fd >= 0)
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
