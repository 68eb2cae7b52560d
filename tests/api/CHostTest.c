/* A host written in C: includes the public header, links libipcamview.so and
 * runs Start and Stop as an application would. Exit status 0 when every check
 * held; each failed check is printed. */
#include "ipcamview/ipcamview.h"

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
    /* Port 1 on loopback: a well-formed address; whether anything answers
     * there does not change what Start returns. */
    int32_t first =
        Start(0, IPCAMVIEW_TRANSPORT_SOCKET, "127.0.0.1:1", 0, "", "", &audio, 1, IPCAMVIEW_CODEC_NONE);
    int32_t second = Start(0, IPCAMVIEW_TRANSPORT_INET, "http://127.0.0.1:1/", 0, "admin", "admin", &audio, 2,
                           IPCAMVIEW_CODEC_JPEG);
    int32_t bad = Start(0, IPCAMVIEW_TRANSPORT_SOCKET, "", 0, "", "", &audio, 1, IPCAMVIEW_CODEC_NONE);
    bool stopped;

    CHECK(first == 0);
    CHECK(second == 1);
    CHECK(bad == IPCAMVIEW_INVALID_HANDLE);
    CHECK(audio == 1);

    stopped = Stop(first);
    CHECK(stopped);
    CHECK(Stop(second));
    CHECK(!Stop(second));
    CHECK(!Stop(-1));

    CHECK(GetDeviceType(0x1412) == IPCAMVIEW_DEVICE_MULTI_CHANNEL);
    CHECK(GetMaxChannel(0x1412) == 4);
    CHECK(GetMediaReceiveType(0x1404) == IPCAMVIEW_RECEIVE_JPEG_POLLING);
    CHECK(GetDeviceType(-1) == IPCAMVIEW_DEVICE_UNKNOWN);

    if (gFailures == 0)
        printf("C host: all checks passed\n");
    return gFailures == 0 ? 0 : 1;
}
