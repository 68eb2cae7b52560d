#include "platform/reckit/CQBoxReader.h"

#include <gtest/gtest.h>

using ipcam::CQBoxReader;
using Bytes = std::vector<uint8_t>;

namespace {
Bytes Box(uint32_t flags, const Bytes& payload, int sizeDelta = 0) {
    uint32_t size = uint32_t(CQBoxReader::kHeaderSize + payload.size() + sizeDelta);
    Bytes b = {uint8_t(size >> 24),
               uint8_t(size >> 16),
               uint8_t(size >> 8),
               uint8_t(size),
               'q',
               'b',
               'o',
               'x',
               0,
               0,
               0,
               0,
               0,
               2,
               0,
               0,
               uint8_t(flags >> 24),
               uint8_t(flags >> 16),
               uint8_t(flags >> 8),
               uint8_t(flags),
               0,
               0,
               0x12,
               0x34};
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
} // namespace

TEST(CQBoxReaderTest, UnwrapsEveryBoxOrRefusesTheFrame) {
    const Bytes sps = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE};
    const Bytes idr = {0, 0, 0, 1, 0x65, 0x88, 0x84};
    struct Case {
        const char* mName;
        Bytes mInput;
        bool mOk;
        Bytes mPayload;
        uint32_t mFlags;
    } cases[] = {
        {"one box", Box(0x02, idr), true, idr, 0x02},
        {"configuration and key frame", Cat(Box(0x03, sps), Box(0x06, idr)), true, Cat(sps, idr), 0x07},
        {"empty payload", Box(0x02, {}), true, {}, 0x02},
        {"size past the end", Box(0x02, idr, 1), false, {}, 0},
        {"size below the header", Box(0x02, idr, -int(idr.size()) - 1), false, {}, 0},
        {"size zero",
         [&] {
             Bytes b = Box(0x02, idr);
             b[0] = b[1] = b[2] = b[3] = 0;
             return b;
         }(),
         false,
         {},
         0},
        {"trailing bytes", Cat(Box(0x02, idr), {1, 2, 3}), false, {}, 0},
        {"second box truncated",
         [&] {
             Bytes b = Cat(Box(0x02, idr), Box(0x02, idr));
             b.resize(b.size() - 2);
             return b;
         }(),
         false,
         {},
         0},
        {"not a box", idr, false, {}, 0},
        {"wrong tag",
         [&] {
             Bytes b = Box(0x02, idr);
             b[4] = 'Q';
             return b;
         }(),
         false,
         {},
         0},
    };
    for (const Case& c : cases) {
        Bytes out = {0xAA};
        uint32_t flags = 0;
        EXPECT_EQ(c.mOk, CQBoxReader::Unwrap(c.mInput.data(), c.mInput.size(), &out, &flags)) << c.mName;
        EXPECT_EQ(Cat({0xAA}, c.mPayload), out) << c.mName << ": payload appended, or nothing";
        EXPECT_EQ(c.mFlags, flags) << c.mName;
    }
}

TEST(CQBoxReaderTest, EveryTruncationIsRefused) {
    Bytes two = Cat(Box(0x03, {0, 0, 1, 0x67, 1}), Box(0x06, {0, 0, 1, 0x65, 2, 3}));
    for (size_t n = 1; n < two.size(); ++n) {
        Bytes out;
        uint32_t flags = 0;
        bool whole = n == Box(0x03, {0, 0, 1, 0x67, 1}).size();
        EXPECT_EQ(whole, CQBoxReader::Unwrap(two.data(), n, &out, &flags)) << n;
    }
}
