// The process-wide memory of which machine code a device reported, so that
// opening another channel of the same device (or the same device again)
// needs no "getmachinecode" request.
//
// A device is known by its URL's host name followed directly by its port in
// decimal, without a separator: host 10.0.0.5 and port 80 give the key
// "10.0.0.580". (So "10.0.0.5" port 80 and "10.0.0.58" port 0 would share a
// key; port 0 never parses, so the clash cannot happen.) The cache keeps the
// reply text as the device sent it and reads it as hexadecimal on lookup.
// A cached code is trusted for the life of the process: a device that is
// swapped for another model behind the same address keeps the old code.
//
// Threads: every call may come from any host thread (several Starts open
// devices at once); one lock serialises them.
//
// Lifetime: the process's cache is created on first use and destroyed by
// DestroyProcessCache, which the library's unload calls.
#pragma once

#include "platform/CCritSection.h"
#include "platform/CSlowHash.h"

#include <cstdint>
#include <string>

class CMachineCodeCache {
public:
    CMachineCodeCache() = default;
    CMachineCodeCache(const CMachineCodeCache&) = delete;
    CMachineCodeCache& operator=(const CMachineCodeCache&) = delete;

    static std::string MakeKey(const std::string& hostName, uint16_t port);

    // True and *machineCode set when the key holds a non-empty reply text;
    // false (and *machineCode untouched) otherwise.
    bool Lookup(const std::string& key, int32_t* machineCode);
    // Remembers the value text of a "getmachinecode" reply (hexadecimal). An
    // empty text is not stored: the next open asks again.
    void Store(const std::string& key, const std::string& replyText);

    // The cache every viewer of the process shares.
    static CMachineCodeCache& ProcessCache();
    // Destroys the process's cache; the next ProcessCache creates a new one.
    // Only while no viewer is opening (the library's unload).
    static void DestroyProcessCache();

private:
    media_util::CCritSection mLock;
    media_util::CSlowHash mReplies; // key -> reply text; guarded by mLock
};
