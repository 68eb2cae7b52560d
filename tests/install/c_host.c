/* A C host built against an installed ipcamview with pkg-config alone:
 *
 *   cc c_host.c $(pkg-config --cflags --libs ipcamview)
 *
 * It opens a viewer on the device at argv[1] ("127.0.0.1:PORT"), whose
 * sound argv[3] says (0 or 1), another on argv[2] (a closed port), checks
 * what the C functions promise and stops both. Exit status 0 when every
 * check held. */
#include <ipcamview/ipcamview.h>

#include <stdio.h>

static int gFailures = 0;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            fprintf(stderr, "c_host: check failed: %s\n", #condition);                                       \
            ++gFailures;                                                                                     \
        }                                                                                                    \
    } while (0)

int main(int argc, char** argv) {
    int32_t audio = 1, absentAudio = 1;
    int32_t camera, absent;
    if (argc != 4) {
        fprintf(stderr, "usage: c_host DEVICE_ADDRESS CLOSED_ADDRESS DEVICE_HAS_AUDIO\n");
        return 2;
    }
    camera = Start(0, IPCAMVIEW_TRANSPORT_SOCKET, argv[1], 0, "", "", &audio, 1, IPCAMVIEW_CODEC_JPEG);
    CHECK(camera == 0);
    /* The open reached the device's stream set-up: it answered the audio
     * question (asked with 1, so a device without sound shows it). */
    CHECK(audio == (argv[3][0] == '1' ? 1 : 0));
    absent = Start(0, IPCAMVIEW_TRANSPORT_INET, argv[2], 0, "admin", "secret", &absentAudio, 1, 0);
    CHECK(absent == 1);
    CHECK(absentAudio == 1); /* no device: the flag is left as it was */
    CHECK(Start(0, IPCAMVIEW_TRANSPORT_SOCKET, "", 0, "", "", &audio, 1, 0) == IPCAMVIEW_INVALID_HANDLE);
    CHECK(GetDeviceType(0x1200) == IPCAMVIEW_DEVICE_PROFILE_CAMERA);
    CHECK(GetMaxChannel(0x1412) > 1);
    CHECK(GetMediaReceiveType(0x1404) == IPCAMVIEW_RECEIVE_JPEG_POLLING);
    CHECK(Stop(camera));
    CHECK(Stop(absent));
    CHECK(!Stop(absent)); /* the last Stop emptied the table */
    printf("c_host: camera handle %d, audio %d, %s\n", (int)camera, (int)audio,
           gFailures == 0 ? "all checks held" : "checks failed");
    return gFailures == 0 ? 0 : 1;
}
