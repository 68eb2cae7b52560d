#include "platform/reckit/CQBoxReader.h"

#include <gtest/gtest.h>

#include "TestMedia.h"

using ipcam::CQBoxReader;
using namespace ipcam::test;

TEST(CQBoxReaderTest, UnwrapsEveryBoxOrRefusesTheFrame) {
    const Bytes sps = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE}, idr = {0, 0, 0, 1, 0x65, 0x88, 0x84};
    const int boxSize = int(CQBoxReader::kHeaderSize + idr.size());
    Bytes wrongTag = QBox(0x02, idr), twoCut = Cat({QBox(0x02, idr), QBox(0x02, idr)});
    wrongTag[4] = 'Q';
    twoCut.resize(twoCut.size() - 2);
    struct Case {
        const char* mName;
        Bytes mInput;
        bool mOk;
        Bytes mPayload;
        uint32_t mFlags;
    } cases[] = {
        {"one box", QBox(0x02, idr), true, idr, 0x02},
        {"configuration and key frame", Cat({QBox(0x03, sps), QBox(0x06, idr)}), true, Cat({sps, idr}), 0x07},
        {"empty payload", QBox(0x02, {}), true, {}, 0x02},
        {"size past the end", QBox(0x02, idr, 1), false, {}, 0},
        {"size below the header", QBox(0x02, idr, -int(idr.size()) - 1), false, {}, 0},
        {"size zero", QBox(0x02, idr, -boxSize), false, {}, 0},
        {"trailing bytes", Cat({QBox(0x02, idr), {1, 2, 3}}), false, {}, 0},
        {"second box truncated", twoCut, false, {}, 0},
        {"not a box", idr, false, {}, 0},
        {"wrong tag", wrongTag, false, {}, 0},
    };
    for (const Case& c : cases) {
        Bytes out = {0xAA};
        uint32_t flags = 0;
        EXPECT_EQ(c.mOk, CQBoxReader::Unwrap(c.mInput.data(), c.mInput.size(), &out, &flags)) << c.mName;
        EXPECT_EQ(Cat({{0xAA}, c.mPayload}), out) << c.mName << ": payload appended, or nothing";
        EXPECT_EQ(c.mFlags, flags) << c.mName;
    }
    // Every cut of two boxes is refused except the one after the first box.
    Bytes first = QBox(0x03, {0, 0, 1, 0x67, 1}), two = Cat({first, QBox(0x06, {0, 0, 1, 0x65, 2, 3})});
    for (size_t n = 1; n < two.size(); ++n) {
        Bytes out;
        uint32_t flags = 0;
        EXPECT_EQ(n == first.size(), CQBoxReader::Unwrap(two.data(), n, &out, &flags)) << n;
    }
}
