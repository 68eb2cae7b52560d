// The process-wide table of shared media sources. A channel registers what
// it wants (a CSourceDesc with its destination queue); the table adds the
// queue to a running source that serves the same thing, or makes and starts
// a new one. The slot number it returns is the channel's handle for the
// later calls. When a source's last queue goes, the source is destroyed and
// its slot is reused, the last freed first; when no source is left the
// table empties itself.
//
// Threads: every operation takes the table lock, which is re-entrant: a
// decoded source registers its inner live source from inside Register. The
// table lock is always taken before a dispatcher's lock.
#pragma once

#include "pipeline/CSharedSource.h"
#include "platform/CCritSection.h"
#include "platform/CLockWrap.h"

#include <vector>

class CVideoDecoder;

class CSourceTable {
public:
    // The process's table, made on first use.
    static CSourceTable& Instance();
    // Destroys the process's table (the library's unload, after its last
    // instance); the next Instance makes a new one.
    static void DestroyInstance();

    CSourceTable() = default;
    ~CSourceTable();
    CSourceTable(const CSourceTable&) = delete;
    CSourceTable& operator=(const CSourceTable&) = delete;

    // With share, a running source of type that matches desc takes desc's
    // queue; otherwise a new source of type (1 live, 2 decoded, the latter
    // decoding with spec's formats) is made and started. Writes the slot
    // into desc and returns it; -1 for a null desc or one without queue (or
    // an unknown type).
    int Register(CSourceDesc* desc, bool share, int type, const CVideoDecoder* spec);
    // Removes queue from the slot's source; destroys the source when that
    // was its last queue. 1, or 0 for a slot out of range or a null queue.
    int Unregister(int slot, media_util::IMediaQueue* queue);
    // The slot's source restarts what has stopped: its result, 0 for a slot
    // out of range or empty.
    int EnsureRunning(int slot);

    // Sources alive now, and the source of a slot (null for none); for the
    // host's report and tests, under the lock as the table changes.
    int GetLiveCount();
    int GetSlotCount();
    // Calls fn(slot, source) for every live source under the table lock.
    template <typename Fn> void ForEach(Fn fn) {
        media_util::CLockWrap lock(mLock);
        for (size_t i = 0; i < mSlots.size(); ++i)
            if (mSlots[i] != nullptr)
                fn(static_cast<int>(i), *mSlots[i]);
    }

private:
    CSharedSource* CreateSource(int type, const CSourceDesc& desc, const CVideoDecoder* spec);
    void DestroyAll();

    std::vector<CSharedSource*> mSlots; // owned; null = free; guarded by mLock
    std::vector<int> mFreeSlots;        // a stack; guarded by mLock
    media_util::CCritSection mLock;
    int mLiveCount = 0; // guarded by mLock
};
