// The owner's side of a stopped source. A device that refuses its stream (the
// "NS" answer) or changes the picture's codec or size makes the channel's
// receiver stop for good: the reader leaves what follows to its owner, who may
// have to rebuild what depends on the format. `ipcamview view`, as that
// owner, subscribes the viewer again after a wait that grows as the reader's
// own reconnect delay does (kFirstDelayMs, then kDelayStepMs more each time
// the new source stops before it showed a frame, at most kMaxDelayMs), and
// starts the wait over once frames come again. A device that refused for a
// while, or a stream whose size changed and changed back, is thus shown again
// without a storm of requests.
//
// A permanent change of the picture's size still needs the viewer opened
// again (the pipeline is built for the size the device reported): each new
// source stops at its first frame, and the waits reach their maximum.
//
// Used on the thread that runs the view's loop, once per pass per viewer.
#pragma once

#include "os/kernel/Kernel.h"

#include <cstdint>

class CViewer;

class CSourceRestart {
public:
    static constexpr DWORD kFirstDelayMs = 500;
    static constexpr DWORD kDelayStepMs = 500;
    static constexpr DWORD kMaxDelayMs = 10000;

    // Whether the viewer's live source has stopped by itself (its receiver's
    // thread no longer runs). False for a viewer that is not subscribed or
    // shares a decoded source (whose receiver the table restarts itself).
    static bool Stopped(CViewer& viewer);

    // Looks at the viewer: true when it subscribed it again now. `shown` is
    // the number of pictures the viewer has shown so far, `now` the time.
    bool Poll(CViewer& viewer, int64_t shown, DWORD now);
    int Restarts() const { return mRestarts; }

private:
    DWORD mDelayMs = kFirstDelayMs;
    bool mWaiting = false;
    DWORD mStoppedAt = 0;
    int64_t mShownAtRestart = -1; // pictures when it last restarted; -1 none since frames came
    int mRestarts = 0;
};
