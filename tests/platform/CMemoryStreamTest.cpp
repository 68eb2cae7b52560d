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

TEST(CMemoryStreamTest, WritesAppendInOrder) {
    CMemoryStream s;
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(nullptr, s.GetBuffer());
    // A body arriving in the 8192-byte pieces of a fetch, with NULs inside.
    std::string body;
    for (int i = 0; i < 20000; ++i)
        body.push_back(static_cast<char>(i * 7));
    for (size_t at = 0; at < body.size(); at += 8192)
        ASSERT_TRUE(s.Write(body.data() + at, std::min<size_t>(8192, body.size() - at)));
    EXPECT_EQ(body.size(), s.GetLength());
    EXPECT_EQ(body, Content(s));
    s.Clear();
    EXPECT_TRUE(s.IsEmpty());
}

TEST(CMemoryStreamTest, WriteRefusesNullAndOversizeWithoutChange) {
    CMemoryStream s;
    ASSERT_TRUE(s.Write("abc", 3));
    EXPECT_TRUE(s.Write(nullptr, 0));
    EXPECT_TRUE(s.Write("x", 0));
    EXPECT_FALSE(s.Write(nullptr, 1));
    // Larger than the limit: refused before anything is read from the source.
    static const char one = 'z';
    EXPECT_FALSE(s.Write(&one, CMemoryStream::kMaxLength));
    EXPECT_FALSE(s.Write(&one, SIZE_MAX));
    EXPECT_EQ("abc", Content(s));
}

TEST(CMemoryStreamTest, FillsExactlyToTheLimit) {
    CMemoryStream s;
    std::vector<char> chunk(1024 * 1024, 'a');
    size_t total = 0;
    while (total + chunk.size() <= CMemoryStream::kMaxLength) {
        ASSERT_TRUE(s.Write(chunk.data(), chunk.size()));
        total += chunk.size();
    }
    const size_t room = CMemoryStream::kMaxLength - total;
    EXPECT_TRUE(s.Write(chunk.data(), room));
    EXPECT_EQ(CMemoryStream::kMaxLength, s.GetLength());
    EXPECT_FALSE(s.Write(chunk.data(), 1));
    EXPECT_EQ(CMemoryStream::kMaxLength, s.GetLength());
}

TEST(CMemoryStreamTest, WriteOfItsOwnContent) {
    CMemoryStream s;
    ASSERT_TRUE(s.Write("abcd", 4));
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(s.Write(s.GetBuffer(), s.GetLength()));
    EXPECT_EQ(4u << 10, s.GetLength());
    EXPECT_EQ("abcdabcd", Content(s).substr(0, 8));
    EXPECT_EQ("abcd", Content(s).substr(s.GetLength() - 4));
}

TEST(CMemoryStreamTest, ToByteArrayIsATerminatedCopy) {
    CMemoryStream s;
    EXPECT_EQ(nullptr, s.ToByteArray());
    ASSERT_TRUE(s.Write("OK getmachinecode=1412\r\n", 24));
    std::unique_ptr<BYTE[]> copy(s.ToByteArray());
    ASSERT_NE(nullptr, copy);
    EXPECT_NE(s.GetBuffer(), copy.get());
    EXPECT_STREQ("OK getmachinecode=1412\r\n", reinterpret_cast<const char*>(copy.get()));
}

TEST(CMemoryStreamTest, CopyToByteArrayNeedsRoomAndZeroFillsTheRest) {
    CMemoryStream s;
    ASSERT_TRUE(s.Write("\xff\xd8\xff", 3));
    const struct {
        size_t capacity;
        bool ok;
    } cases[] = {{0, false}, {2, false}, {3, true}, {4, true}, {9, true}};
    for (const auto& c : cases) {
        std::vector<BYTE> block(c.capacity + 1, 0x55); // one guard byte behind the capacity
        EXPECT_EQ(c.ok, s.CopyToByteArray(block.data(), c.capacity)) << c.capacity;
        if (c.ok) {
            EXPECT_EQ(0, std::memcmp(block.data(), "\xff\xd8\xff", 3));
            for (size_t i = 3; i < c.capacity; ++i)
                EXPECT_EQ(0, block[i]) << i;
        } else {
            for (size_t i = 0; i < c.capacity; ++i)
                EXPECT_EQ(0x55, block[i]) << i;
        }
        EXPECT_EQ(0x55, block[c.capacity]) << "wrote past the capacity " << c.capacity;
    }
    EXPECT_FALSE(s.CopyToByteArray(nullptr, 10));
    CMemoryStream empty;
    BYTE b[2] = {1, 1};
    EXPECT_TRUE(empty.CopyToByteArray(b, 2));
    EXPECT_EQ(0, b[0]);
}

} // namespace
