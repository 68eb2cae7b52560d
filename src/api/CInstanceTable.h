// The process-wide table of viewer instances behind the exported Start and
// Stop.
//
// A handle is the index of an entry. Entries are never removed one by one: a
// stopped entry stays, empty, and its handle goes on the free-handle list,
// which the next Start takes from last-in first-out. When the last live
// instance is stopped the table and the list are emptied, so handles start
// at 0 again.
//
// Threads: Start and Stop may be called from any thread at once. Start opens
// its viewer without the lock (opens against slow devices run side by side)
// and takes it only to enter the instance; Stop holds it throughout, so a
// viewer is destroyed (and its threads joined) under the lock.
// ClearAllInstances takes no lock: Stop calls it under the lock, and the
// library's unload runs it when no other call may be running.
#pragma once

#include "platform/CCritSection.h"
#include "platform/CManualEvent.h"

#include <cstdint>
#include <vector>

class CViewer;

class CInstanceTable {
public:
    static constexpr int32_t kInvalidHandle = -1;

    CInstanceTable() = default;
    ~CInstanceTable();
    CInstanceTable(const CInstanceTable&) = delete;
    CInstanceTable& operator=(const CInstanceTable&) = delete;

    // Creates and opens a viewer with the exported Start's arguments and
    // enters it. The handle, or kInvalidHandle when the address did not parse
    // or memory ran out (nothing is entered then).
    int32_t Start(int32_t reserved1, int32_t transportKind, const char* address, int32_t reserved2,
                  const char* userName, const char* password, int32_t* audioFlag, int32_t channel,
                  int32_t preferredCodec);
    // Destroys the instance behind handle. True when handle names an entry
    // (an empty one is left as it is), false otherwise.
    bool Stop(int32_t handle);
    // Destroys every instance and empties the table and the free-handle list.
    // Leaves the live count alone.
    void ClearAllInstances();

    // Entries, free handles and live instances now; for tests and tracing.
    int32_t GetEntryCount();
    int32_t GetFreeCount();
    int32_t GetLiveCount();

private:
    struct SEntry {
        CViewer* mpViewer;                 // owned; null once stopped
        media_util::CManualEvent* mpEvent; // owned; the viewer borrows it
    };

    media_util::CCritSection mLock;
    std::vector<SEntry> mEntries;      // guarded by mLock
    std::vector<int32_t> mFreeHandles; // guarded by mLock
    int32_t mLiveCount = 0;            // guarded by mLock
};
