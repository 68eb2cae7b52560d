// A table of objects reached through small integer handles, shared by the
// codec and the recording libraries' C entry points.
//
// Thread-safety: every member may be called from any thread. Lookups hand out
// a shared_ptr, so an object released on one thread while another thread is
// still inside a call on it lives until that call returns.
//
// A handle is generation * kSlots + slot. Each slot counts its generations, so
// a released handle does not name the next object placed in the same slot
// until the generation wraps (after millions of creations in that slot).
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>

namespace ipcam {

template <class T> class CHandleTable {
public:
    // Objects alive at once. A 16-channel recorder viewed and recorded in full
    // needs 32 codecs or recorders; the rest is headroom for several hosts.
    static constexpr int32_t kSlots = 256;
    static constexpr int32_t kMaxGeneration = INT32_MAX / kSlots;

    // Enters the object; its handle (>= 0), or -1 when every slot is taken.
    int32_t Add(std::shared_ptr<T> object) {
        std::lock_guard<std::mutex> lock(mLock);
        for (int32_t i = 0; i < kSlots; ++i) {
            int32_t slot = (mNextSlot + i) % kSlots;
            Slot& s = mSlots[slot];
            if (s.mpObject)
                continue;
            s.mGeneration = s.mGeneration >= kMaxGeneration ? 1 : s.mGeneration + 1;
            s.mpObject = std::move(object);
            // Start the next search after this slot so a just-released slot is
            // the last to be reused.
            mNextSlot = (slot + 1) % kSlots;
            return s.mGeneration * kSlots + slot;
        }
        return -1;
    }

    // The object behind a handle, or null for a negative, unknown or released one.
    std::shared_ptr<T> Find(int32_t handle) {
        if (handle < kSlots)
            return nullptr;
        std::lock_guard<std::mutex> lock(mLock);
        Slot& s = mSlots[handle % kSlots];
        if (s.mGeneration != handle / kSlots)
            return nullptr;
        return s.mpObject;
    }

    // Takes the object out of the table; null when the handle was not valid.
    std::shared_ptr<T> Remove(int32_t handle) {
        if (handle < kSlots)
            return nullptr;
        std::lock_guard<std::mutex> lock(mLock);
        Slot& s = mSlots[handle % kSlots];
        if (s.mGeneration != handle / kSlots)
            return nullptr;
        return std::move(s.mpObject);
    }

private:
    struct Slot {
        std::shared_ptr<T> mpObject;
        int32_t mGeneration = 0; // 0: never used
    };
    std::mutex mLock; // guards every member below
    Slot mSlots[kSlots];
    int32_t mNextSlot = 0;
};

} // namespace ipcam
