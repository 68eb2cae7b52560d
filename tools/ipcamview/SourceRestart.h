// The owner's side of a stopped source. A device that refuses its stream (the
// "NS" answer) or changes the picture's codec or size makes the channel's
// receiver stop for good: the reader leaves what follows to its owner.
// `ipcamview view`, as that owner, starts the source's receiver again (the
// table's EnsureRunning) after a wait that grows as the reader's own
// reconnect delay does (kFirstDelayMs, then kDelayStepMs more each time it
// stops again before a frame was shown, at most kMaxDelayMs), and starts the
// wait over once frames come again. The receiver keeps the format it last
// saw, so a stream that changed its size and keeps it is shown from then on
// (the decoder and renderer take the new size), and one that changes back
// stops once more and is started once more. A device that refused for a
// while is thus shown again without a storm of requests.
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

    // Whether the viewer's source has stopped by itself: its receiver's thread
    // no longer runs (for a decoded source, that of the live source it
    // decodes). False for a viewer that is not subscribed.
    static bool Stopped(CViewer& viewer);

    // Looks at the viewer: true when it started its source again now. `shown` is
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
