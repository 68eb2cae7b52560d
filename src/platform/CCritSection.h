// A lock that the thread holding it may take again.
//
// Workers, the source table and the editors guard their members with one of
// these. Re-entrancy matters: the source table registers a decoded source's
// inner live source while it already holds its own lock, on the same thread.
#pragma once

#include "os/kernel/Kernel.h"

namespace media_util {

class CCritSection {
public:
    CCritSection();
    ~CCritSection();
    CCritSection(const CCritSection&) = delete;
    CCritSection& operator=(const CCritSection&) = delete;

    // Blocks until the calling thread holds the lock. Every Lock needs one Unlock.
    void Lock();
    // Takes the lock when that is possible at once; non-zero when taken.
    int TryLock();
    void Unlock();

private:
    CRITICAL_SECTION mSection;
};

} // namespace media_util
