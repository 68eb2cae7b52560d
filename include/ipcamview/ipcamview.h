/*
 * ipcamview: viewer library for HTTP IP cameras and multi-channel video
 * recorders. The whole outward surface of libipcamview.so is these five
 * functions with C linkage; this header compiles as C (C99 and later) and C++.
 *
 * A host creates one viewer instance per channel of a device with Start and
 * keeps the handle it returns; Stop destroys the instance. The three queries
 * answer questions about a device model from its machine code (the
 * hexadecimal model number a device reports) and need no instance.
 *
 * Threads: every function may be called from any thread, also at the same
 * time. Start opens the device without holding the library's lock, so several
 * Starts proceed in parallel; only entering the instance in the table and the
 * whole of Stop are serialised.
 *
 * Unloading: Stop every handle before dlclose. Unloading the library (dlclose,
 * or the end of the process) destroys every instance still alive as a last
 * resort, and no call may be running then; but a dlclose runs that clean-up
 * under the dynamic loader's lock while it waits for the instances' threads,
 * and a thread that needs the loader at that moment (resolving a host name
 * for the first time loads the system's name-service modules) would wait for
 * the lock forever. At the end of the process the loader runs the clean-up
 * without its lock. docs/embedding.md has the details.
 */
#ifndef IPCAMVIEW_IPCAMVIEW_H
#define IPCAMVIEW_IPCAMVIEW_H

#include <stdbool.h>
#include <stdint.h>

#if defined(__GNUC__)
#define IPCAMVIEW_API __attribute__((visibility("default")))
#else
#define IPCAMVIEW_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Transport kinds (Start's transportKind). Any value other than
 * IPCAMVIEW_TRANSPORT_SOCKET selects the WinINet-style asynchronous client. */
#define IPCAMVIEW_TRANSPORT_SOCKET 1
#define IPCAMVIEW_TRANSPORT_INET 2

/* Video codecs a host may prefer (Start's preferredCodec). */
#define IPCAMVIEW_CODEC_NONE 0
#define IPCAMVIEW_CODEC_JPEG 1000
#define IPCAMVIEW_CODEC_MPEG4 1005
#define IPCAMVIEW_CODEC_H264 1010

/* Start's result when no instance was created. */
#define IPCAMVIEW_INVALID_HANDLE (-1)

/* Device types (GetDeviceType). */
#define IPCAMVIEW_DEVICE_UNKNOWN 0
#define IPCAMVIEW_DEVICE_PROFILE_CAMERA 1
#define IPCAMVIEW_DEVICE_MULTI_CHANNEL 2
#define IPCAMVIEW_DEVICE_VIDEO_STANDARD 3
#define IPCAMVIEW_DEVICE_NO_STREAM 4
#define IPCAMVIEW_DEVICE_PROFILE_CAMERA2 5
#define IPCAMVIEW_DEVICE_OTHER_VENDOR 100

/* Receive types (GetMediaReceiveType). */
#define IPCAMVIEW_RECEIVE_NONE 0
#define IPCAMVIEW_RECEIVE_MULTIPART 1
#define IPCAMVIEW_RECEIVE_JPEG_POLLING 2

/*
 * Creates a viewer instance for one channel of a device and opens it.
 *
 *   reserved1       ignored.
 *   transportKind   IPCAMVIEW_TRANSPORT_SOCKET for the socket HTTP client,
 *                   anything else for the asynchronous client.
 *   address         NUL-terminated: a URL ("http://10.0.0.5:8080/"), or a bare
 *                   host or address with or without a port ("10.0.0.5",
 *                   "cam.local:8080"), which gets "http://" in front. An address
 *                   whose first "/" is its first character gets the prefix too.
 *   reserved2       ignored.
 *   userName        NUL-terminated; "" means no credentials.
 *   password        NUL-terminated.
 *   audioFlag       in/out, must point to writable memory. On entry 1 asks for
 *                   audio. Overwritten with 1 (the device offers audio) or 0
 *                   only when the open got as far as the device's stream
 *                   set-up; otherwise left as the host set it.
 *   channel         1 and up select a channel; 0 means none given.
 *   preferredCodec  an IPCAMVIEW_CODEC_ value; the device dialects that can
 *                   choose between codecs use it.
 *
 * Returns the instance's handle (0 and up), or IPCAMVIEW_INVALID_HANDLE when
 * the address cannot be parsed as a URL (then nothing was created). Every
 * other failure (device not reachable, credentials refused, unknown model)
 * still returns a handle, of an instance that shows nothing; stop it like any
 * other. Handles start at 0; a stopped handle is handed out again by the next
 * Start, the most recently stopped first.
 */
IPCAMVIEW_API int32_t Start(int32_t reserved1, int32_t transportKind, const char* address, int32_t reserved2,
                            const char* userName, const char* password, int32_t* audioFlag, int32_t channel,
                            int32_t preferredCodec);

/*
 * Destroys the instance behind handle, waiting for its threads to end.
 * Returns true when handle names an entry of the instance table (also one
 * already stopped, which is left as it is), false for any other value. When
 * the last live instance is stopped the table is emptied: from then on old
 * handles give false and the next Start returns 0.
 */
IPCAMVIEW_API bool Stop(int32_t handle);

/* IPCAMVIEW_DEVICE_ type of a device model; IPCAMVIEW_DEVICE_UNKNOWN for codes
 * the library does not know. */
IPCAMVIEW_API int32_t GetDeviceType(int32_t machineCode);
/* Number of channels of a device model; 0 for unknown codes. */
IPCAMVIEW_API int32_t GetMaxChannel(int32_t machineCode);
/* IPCAMVIEW_RECEIVE_ type of a device model. */
IPCAMVIEW_API int32_t GetMediaReceiveType(int32_t machineCode);

#ifdef __cplusplus
}
#endif

#endif /* IPCAMVIEW_IPCAMVIEW_H */
