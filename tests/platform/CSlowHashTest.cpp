#include "platform/CSlowHash.h"

#include <gtest/gtest.h>

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

TEST(CSlowHashTest, LookupsAreExactCaseSensitiveAndInInsertionOrder) {
    CSlowHash hash;
    hash.Add("Content-Length", "12");
    hash.Add("getjpegxsize=2", "");
    hash.Add("", "empty key");
    hash.Add("getjpegxsize=1", "");
    hash.Add("Content-Length", "13"); // replaced in place
    EXPECT_EQ((std::vector<std::string>{"Content-Length", "getjpegxsize=2", "", "getjpegxsize=1"}),
              Keys(hash));
    const struct {
        const char* key;
        const char* value;
        int index;
        int prefixIndex; // GetKeyStartWith
    } cases[] = {
        {"Content-Length", "13", 0, 0},  {"content-length", "", -1, -1}, {"Content-Lengt", "", -1, 0},
        {"Content-Length ", "", -1, -1}, {"", "empty key", 2, 0},        {"getjpegxsize=", "", -1, 1},
        {"getjpegxsize=1", "", 3, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(c.index >= 0, hash.IsContainKey(c.key));
        EXPECT_EQ(c.value, hash.Get(c.key));
        EXPECT_EQ(c.index, hash.IndexOf(c.key));
        EXPECT_EQ(c.prefixIndex, hash.GetKeyStartWith(c.key));
    }
    hash.SetValueAt(1, "704");
    EXPECT_EQ("704", hash.Get("getjpegxsize=2"));
    EXPECT_THROW(hash.GetValueAt(4), std::out_of_range);
    EXPECT_THROW(hash.SetValueAt(4, "x"), std::out_of_range);
    try {
        hash.GetKeyAt(4);
        ADD_FAILURE() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ("invalid vector<T> subscript", e.what());
    }
    hash.Clear();
    EXPECT_EQ(-1, hash.GetKeyStartWith(""));
    EXPECT_FALSE(hash.IsContainKey(""));
}

} // namespace
