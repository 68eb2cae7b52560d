#include "viewer/CMachineCodeCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(CMachineCodeCacheTest, KeyIsHostAndPortWithoutSeparator) {
    struct Case {
        const char* host;
        uint16_t port;
        const char* key;
    };
    const Case kCases[] = {
        {"10.0.0.5", 80, "10.0.0.580"},
        {"cam.local", 8080, "cam.local8080"},
        {"[::1]", 81, "[::1]81"},
        {"h", 65535, "h65535"},
        {"", 80, "80"},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(c.key, CMachineCodeCache::MakeKey(c.host, c.port));
}

TEST(CMachineCodeCacheTest, StoredReplyTextIsReadAsHexadecimal) {
    struct Case {
        const char* text;
        int32_t code;
    };
    const Case kCases[] = {
        {"1412", 0x1412}, {"10004", 0x10004}, {"ffff", 0xFFFF}, {"F001", 0xF001}, {"FFFFFFFE", -2}, {"0", 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.text);
        CMachineCodeCache cache;
        cache.Store("cam80", c.text);
        int32_t code = 12345;
        ASSERT_TRUE(cache.Lookup("cam80", &code));
        EXPECT_EQ(c.code, code);
    }
}

TEST(CMachineCodeCacheTest, MissesLeaveTheCodeAlone) {
    CMachineCodeCache cache;
    int32_t code = -1;
    EXPECT_FALSE(cache.Lookup("cam80", &code));
    cache.Store("cam80", "");
    EXPECT_FALSE(cache.Lookup("cam80", &code)) << "an empty reply is not remembered";
    cache.Store("cam80", "1200");
    EXPECT_FALSE(cache.Lookup("cam8", &code)) << "keys match exactly";
    EXPECT_FALSE(cache.Lookup("cam808", &code));
    EXPECT_EQ(-1, code);
    cache.Store("cam80", "1412");
    EXPECT_TRUE(cache.Lookup("cam80", &code));
    EXPECT_EQ(0x1412, code) << "a new reply replaces the old one";
}

TEST(CMachineCodeCacheTest, ProcessCacheIsSharedUntilDestroyed) {
    CMachineCodeCache& first = CMachineCodeCache::ProcessCache();
    EXPECT_EQ(&first, &CMachineCodeCache::ProcessCache());
    first.Store("shared80", "2247");
    int32_t code = 0;
    EXPECT_TRUE(CMachineCodeCache::ProcessCache().Lookup("shared80", &code));
    EXPECT_EQ(0x2247, code);
    CMachineCodeCache::DestroyProcessCache();
    code = 0;
    EXPECT_FALSE(CMachineCodeCache::ProcessCache().Lookup("shared80", &code));
    CMachineCodeCache::DestroyProcessCache();
}

// Viewers of several Starts store and look up at the same time.
TEST(CMachineCodeCacheTest, ConcurrentStoresAndLookups) {
    CMachineCodeCache cache;
    constexpr int kThreads = 4;
    constexpr int kKeys = 50;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&cache, &wrong, t] {
            for (int i = 0; i < kKeys; ++i) {
                const std::string key = "cam" + std::to_string(t) + "-" + std::to_string(i);
                cache.Store(key, "1" + std::to_string(i));
                int32_t code = 0;
                const int32_t expected = std::stoi("1" + std::to_string(i), nullptr, 16);
                if (!cache.Lookup(key, &code) || code != expected)
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, wrong.load());
}

} // namespace
