#include "platform/reckit/CQBoxReader.h"

#include <gtest/gtest.h>

using ipcam::CQBoxReader;
using Bytes = std::vector<uint8_t>;

namespace {
// A box whose size field is off by sizeDelta; time stamp 0x1234.
Bytes Box(uint8_t flags, const Bytes& payload, int sizeDelta = 0) {
    uint32_t size = uint32_t(int(CQBoxReader::kHeaderSize + payload.size()) + sizeDelta);
    Bytes b = {
        uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size), 'q', 'b', 'o', 'x'};
    b.resize(CQBoxReader::kHeaderSize);
    b[13] = 2;
    b[19] = flags;
    b[22] = 0x12;
    b[23] = 0x34;
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
} // namespace

TEST(CQBoxReaderTest, UnwrapsEveryBoxOrRefusesTheFrame) {
    const Bytes sps = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE}, idr = {0, 0, 0, 1, 0x65, 0x88, 0x84};
    Bytes wrongTag = Box(0x02, idr), twoCut = Cat(Box(0x02, idr), Box(0x02, idr));
    wrongTag[4] = 'Q';
    twoCut.resize(twoCut.size() - 2);
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
        {"size zero", Box(0x02, idr, -int(CQBoxReader::kHeaderSize + idr.size())), false, {}, 0},
        {"trailing bytes", Cat(Box(0x02, idr), {1, 2, 3}), false, {}, 0},
        {"second box truncated", twoCut, false, {}, 0},
        {"not a box", idr, false, {}, 0},
        {"wrong tag", wrongTag, false, {}, 0},
    };
    for (const Case& c : cases) {
        Bytes out = {0xAA};
        uint32_t flags = 0;
        EXPECT_EQ(c.mOk, CQBoxReader::Unwrap(c.mInput.data(), c.mInput.size(), &out, &flags)) << c.mName;
        EXPECT_EQ(Cat({0xAA}, c.mPayload), out) << c.mName << ": payload appended, or nothing";
        EXPECT_EQ(c.mFlags, flags) << c.mName;
    }
    // Every cut of two boxes is refused except the one after the first box.
    Bytes first = Box(0x03, {0, 0, 1, 0x67, 1}), two = Cat(first, Box(0x06, {0, 0, 1, 0x65, 2, 3}));
    for (size_t n = 1; n < two.size(); ++n) {
        Bytes out;
        uint32_t flags = 0;
        EXPECT_EQ(n == first.size(), CQBoxReader::Unwrap(two.data(), n, &out, &flags)) << n;
    }
}
