#include "platform/CSlowHash.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using media_util::CSlowHash;

namespace {

std::vector<std::string> Keys(const CSlowHash& hash) {
    std::vector<std::string> keys;
    for (size_t i = 0; i < hash.GetCount(); ++i)
        keys.push_back(hash.GetKeyAt(i));
    return keys;
}

TEST(CSlowHashTest, AddKeepsInsertionOrderAndReplacesInPlace) {
    CSlowHash hash;
    EXPECT_TRUE(hash.IsEmpty());
    hash.Add("supportavc", "");
    hash.Add("getformat", "");
    hash.Add("getjpegxsize=1", "");
    hash.Add("getformat", "OK getformat=1");
    EXPECT_EQ((std::vector<std::string>{"supportavc", "getformat", "getjpegxsize=1"}), Keys(hash));
    EXPECT_EQ(3u, hash.GetCount());
    EXPECT_EQ("OK getformat=1", hash.Get("getformat"));
    EXPECT_EQ("OK getformat=1", hash.GetValueAt(1));
    EXPECT_EQ("", hash.GetValueAt(0));
}

TEST(CSlowHashTest, LookupsAreExactAndCaseSensitive) {
    CSlowHash hash;
    hash.Add("Content-Length", "12");
    hash.Add("", "empty key");
    const struct {
        const char* key;
        bool contained;
        const char* value;
        int index;
    } cases[] = {
        {"Content-Length", true, "12", 0}, {"content-length", false, "", -1},
        {"Content-Lengt", false, "", -1},  {"Content-Length ", false, "", -1},
        {"", true, "empty key", 1},        {"X", false, "", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.contained, hash.IsContainKey(c.key)) << c.key;
        EXPECT_EQ(c.value, hash.Get(c.key)) << c.key;
        EXPECT_EQ(c.index, hash.IndexOf(c.key)) << c.key;
    }
}

TEST(CSlowHashTest, GetKeyStartWithFindsTheFirstInInsertionOrder) {
    CSlowHash hash;
    hash.Add("getmotionx1", "");
    hash.Add("getjpegxsize=2", "");
    hash.Add("getjpegysize=2", "");
    hash.Add("getjpegxsize=1", "");
    const struct {
        const char* prefix;
        int index;
    } cases[] = {
        {"getjpegxsize=", 1}, {"getjpegysize=", 2}, {"getjpeg", 1}, {"getmotionx1", 0},
        {"getmotionx1=", -1}, {"getavc", -1},       {"", 0},        {"getjpegxsize=1", 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.index, hash.GetKeyStartWith(c.prefix)) << c.prefix;
    hash.Clear();
    EXPECT_EQ(-1, hash.GetKeyStartWith(""));
    EXPECT_EQ(0u, hash.GetCount());
    EXPECT_FALSE(hash.IsContainKey("getmotionx1"));
}

TEST(CSlowHashTest, IndexedAccessIsChecked) {
    CSlowHash hash;
    hash.Add("a", "1");
    hash.SetValueAt(0, "2");
    EXPECT_EQ("2", hash.Get("a"));
    const auto expectThrow = [](auto&& call) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ("invalid vector<T> subscript", e.what());
        }
    };
    expectThrow([&] { hash.GetKeyAt(1); });
    expectThrow([&] { hash.GetValueAt(1); });
    expectThrow([&] { hash.SetValueAt(1, "x"); });
    EXPECT_EQ(1u, hash.GetCount());
}

TEST(CSlowHashTest, BehavesLikeAnOrderedMapUnderRandomOperations) {
    // Model: std::map for the values, a vector for the first-insertion order.
    std::mt19937 random(2024);
    CSlowHash hash;
    std::map<std::string, std::string> values;
    std::vector<std::string> order;
    for (int step = 0; step < 3000; ++step) {
        const std::string key = "k" + std::to_string(random() % 40);
        const int op = static_cast<int>(random() % 10);
        if (op < 6) {
            const std::string value = "v" + std::to_string(step);
            if (!values.count(key))
                order.push_back(key);
            values[key] = value;
            hash.Add(key, value);
        } else if (op < 9) {
            const bool present = values.count(key) != 0;
            ASSERT_EQ(present, hash.IsContainKey(key)) << "seed 2024 step " << step;
            ASSERT_EQ(present ? values[key] : "", hash.Get(key));
        } else if (random() % 20 == 0) {
            hash.Clear();
            values.clear();
            order.clear();
        }
    }
    EXPECT_EQ(order, Keys(hash));
}

} // namespace
