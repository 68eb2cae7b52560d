// A host written in C: includes the public header, links libipcamview.so and
// runs Start and Stop as an application would. Exit status 0 when every check
// held; each failed check is printed.
#include "ipcamview/ipcamview.h"

#include "viewer/ClosedPort.h"

#include <stdio.h>

static int gFailures = 0;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                    \
            ++gFailures;                                                                                     \
        }                                                                                                    \
    } while (0)

int main(void) {
    int32_t audio = 1;
    char address[64];
    int32_t handle;
    /* A device that is not there still gets a handle, an unparsable address none. */
    snprintf(address, sizeof(address), "http://127.0.0.1:%u/", ClosedLoopbackPort());
    handle =
        Start(0, IPCAMVIEW_TRANSPORT_SOCKET, address, 0, "admin", "admin", &audio, 2, IPCAMVIEW_CODEC_JPEG);
    CHECK(handle == 0);
    CHECK(Start(0, IPCAMVIEW_TRANSPORT_INET, "", 0, "", "", &audio, 1, IPCAMVIEW_CODEC_NONE) ==
          IPCAMVIEW_INVALID_HANDLE);
    CHECK(audio == 1);
    CHECK(Stop(handle));
    CHECK(!Stop(handle));
    CHECK(GetDeviceType(0x1412) == IPCAMVIEW_DEVICE_MULTI_CHANNEL);
    CHECK(GetMediaReceiveType(0x1404) == IPCAMVIEW_RECEIVE_JPEG_POLLING);
    if (gFailures == 0)
        printf("C host: all checks passed\n");
    return gFailures == 0 ? 0 : 1;
}
