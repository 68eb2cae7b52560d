#include "viewer/CMachineCodeCache.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The cache keeps the reply text and reads it as hexadecimal; an empty reply
// is no answer, and keys (host and port, no separator) match exactly.
TEST(CMachineCodeCacheTest, StoreAndLookup) {
    struct Case {
        std::string storedKey, stored, lookedUp;
        bool found;
        int32_t code;
    };
    const Case kCases[] = {
        {CMachineCodeCache::MakeKey("10.0.0.5", 80), "1412", "10.0.0.580", true, 0x1412},
        {CMachineCodeCache::MakeKey("[::1]", 8080), "10004", "[::1]8080", true, 0x10004},
        {"cam80", "FFFFFFFE", "cam80", true, -2},
        {"cam80", "", "cam80", false, -1},
        {"cam80", "1200", "cam8", false, -1},
        {"cam80", "1200", "cam808", false, -1},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.storedKey + "=" + c.stored + " asked " + c.lookedUp);
        CMachineCodeCache cache;
        cache.Store(c.storedKey, c.stored);
        int32_t code = -1;
        EXPECT_EQ(c.found, cache.Lookup(c.lookedUp, &code));
        EXPECT_EQ(c.code, code);
    }
}

} // namespace
