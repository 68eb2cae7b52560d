#include "platform/CMemoryStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using media_util::CMemoryStream;

namespace {

std::string Content(const CMemoryStream& s) {
    if (s.IsEmpty())
        return {};
    return std::string(reinterpret_cast<const char*>(s.GetBuffer()), s.GetLength());
}

TEST(CMemoryStreamTest, WritesAppendUpToTheLimitAndRefuseBeyondItWithoutChange) {
    CMemoryStream s;
    EXPECT_EQ(nullptr, s.GetBuffer());
    // A body arriving in the 8192-byte pieces of a fetch, with NULs inside.
    std::string body;
    for (int i = 0; i < 20000; ++i)
        body.push_back(char(i * 7));
    for (size_t at = 0; at < body.size(); at += 8192)
        ASSERT_TRUE(s.Write(body.data() + at, std::min<size_t>(8192, body.size() - at)));
    EXPECT_EQ(body, Content(s));
    EXPECT_TRUE(s.Write(nullptr, 0));
    EXPECT_FALSE(s.Write(nullptr, 1));
    // Beyond the limit (or wrapping the size): refused before the source is read.
    static const char one = 'z';
    EXPECT_FALSE(s.Write(&one, SIZE_MAX));
    EXPECT_EQ(body, Content(s));
    // Its own content doubles it, until exactly the limit.
    while (s.GetLength() * 2 <= CMemoryStream::kMaxLength)
        ASSERT_TRUE(s.Write(s.GetBuffer(), s.GetLength()));
    EXPECT_EQ(body, Content(s).substr(s.GetLength() - body.size()));
    const std::vector<char> rest(CMemoryStream::kMaxLength - s.GetLength(), 'a');
    EXPECT_TRUE(s.Write(rest.data(), rest.size()));
    EXPECT_EQ(CMemoryStream::kMaxLength, s.GetLength());
    EXPECT_FALSE(s.Write(&one, 1));
    EXPECT_EQ(CMemoryStream::kMaxLength, s.GetLength());
    s.Clear();
    EXPECT_TRUE(s.IsEmpty());
}

TEST(CMemoryStreamTest, CopiesOutAreTerminatedOrBoundedByTheCapacity) {
    CMemoryStream s;
    EXPECT_EQ(nullptr, s.ToByteArray());
    ASSERT_TRUE(s.Write("OK getmachinecode=1412\r\n", 24));
    std::unique_ptr<BYTE[]> copy(s.ToByteArray());
    ASSERT_NE(nullptr, copy);
    EXPECT_STREQ("OK getmachinecode=1412\r\n", reinterpret_cast<const char*>(copy.get()));

    for (size_t capacity : {0, 23, 24, 30}) {
        const bool ok = capacity >= 24;
        std::vector<BYTE> block(capacity + 1, 0x55); // one guard byte behind the capacity
        EXPECT_EQ(ok, s.CopyToByteArray(block.data(), capacity)) << capacity;
        std::vector<BYTE> expected(capacity, 0x55);
        if (ok) {
            std::fill(expected.begin(), expected.end(), 0);
            std::memcpy(expected.data(), s.GetBuffer(), 24);
        }
        expected.push_back(0x55);
        EXPECT_EQ(expected, block) << capacity;
    }
    EXPECT_FALSE(s.CopyToByteArray(nullptr, 30));
}

} // namespace
