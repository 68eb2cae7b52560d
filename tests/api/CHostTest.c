// A host written in C: includes the public header, links libipcamview.so and
// runs Start and Stop as an application would. Exit status 0 when every check
// held; each failed check is printed.
#include "ipcamview/ipcamview.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static int gFailures = 0;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                    \
            ++gFailures;                                                                                     \
        }                                                                                                    \
    } while (0)

// A loopback port that nothing listens on: bound for a free port, closed.
static unsigned ClosedLoopbackPort(void) {
    struct sockaddr_in address;
    socklen_t length = sizeof(address);
    unsigned port = 0;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, (struct sockaddr*)&address, sizeof(address)) == 0 &&
        getsockname(fd, (struct sockaddr*)&address, &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

int main(void) {
    int32_t audio = 1;
    char bare[64];
    char url[80];
    int32_t first;
    int32_t second;
    // A device that is not there still gets a handle.
    snprintf(bare, sizeof(bare), "127.0.0.1:%u", ClosedLoopbackPort());
    snprintf(url, sizeof(url), "http://127.0.0.1:%u/", ClosedLoopbackPort());
    first = Start(0, IPCAMVIEW_TRANSPORT_SOCKET, bare, 0, "", "", &audio, 1, IPCAMVIEW_CODEC_NONE);
    second = Start(0, IPCAMVIEW_TRANSPORT_SOCKET, url, 0, "admin", "admin", &audio, 2, IPCAMVIEW_CODEC_JPEG);
    CHECK(first == 0);
    CHECK(second == 1);
    CHECK(Start(0, IPCAMVIEW_TRANSPORT_SOCKET, "", 0, "", "", &audio, 1, IPCAMVIEW_CODEC_NONE) ==
          IPCAMVIEW_INVALID_HANDLE);
    CHECK(audio == 1);
    CHECK(Stop(first));
    CHECK(Stop(second));
    CHECK(!Stop(second));
    CHECK(!Stop(-1));
    CHECK(GetDeviceType(0x1412) == IPCAMVIEW_DEVICE_MULTI_CHANNEL);
    CHECK(GetMediaReceiveType(0x1404) == IPCAMVIEW_RECEIVE_JPEG_POLLING);
    if (gFailures == 0)
        printf("C host: all checks passed\n");
    return gFailures == 0 ? 0 : 1;
}
