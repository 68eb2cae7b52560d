// libswscale, loaded on first use rather than at start-up: a host that never
// shows video (a recorder, a probe) does not map FFmpeg's libraries, which
// are most of a process's start-up time (the light start-up check in the
// tests guards this).
//
// Threads: the first call loads the library once for the process (under a
// once flag); the functions are then callable from any thread.
#pragma once

extern "C" {
#include <libswscale/swscale.h>
}

namespace os::compose {

struct SSwscaleApi {
    SwsContext* (*getContext)(int, int, AVPixelFormat, int, int, AVPixelFormat, int, SwsFilter*, SwsFilter*,
                              const double*) = nullptr;
    void (*freeContext)(SwsContext*) = nullptr;
    int (*scale)(SwsContext*, const uint8_t* const[], const int[], int, int, uint8_t* const[], const int[]) = nullptr;
};

// The library's functions, or null when it cannot be loaded (then nothing
// that needs scaling or conversion is drawn).
const SSwscaleApi* Swscale();

} // namespace os::compose
