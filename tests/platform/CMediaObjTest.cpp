#include "platform/CMediaObj.h"

#include <gtest/gtest.h>

#include <memory>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "PlatformTestFiles.h"

using media_util::CMediaObj;
using platform_test::Bytes;

namespace {

Bytes Data(const CMediaObj& o) {
    return o.mpData ? Bytes(o.mpData, o.mpData + o.mDataLength) : Bytes{};
}
Bytes Audio(const CMediaObj& o) {
    return o.mpData2 ? Bytes(o.mpData2, o.mpData2 + o.mDataLength2) : Bytes{};
}

CMediaObj MakeFrame() {
    CMediaObj o;
    o.mWidth = 704;
    o.mVideoFormat = media_util::kVideoMpeg4;
    o.mTagList = {1, 3};
    o.mTime = SYSTEMTIME{2026, 12, 0, 6, 7, 8, 9, 10};
    o.mChannelMask = 12;
    const uint8_t bytes[] = {0, 0, 1, 0xB6, 0x10, 0x20, 0x30};
    EXPECT_TRUE(o.CopyData(bytes, sizeof(bytes)));
    const uint8_t audio[] = {0x7F, 0x80};
    EXPECT_TRUE(o.CopyData2(audio, sizeof(audio)));
    return o;
}

} // namespace

TEST(CMediaObjTest, CloneMeCopiesDataOnlyWhenAsked) {
    const CMediaObj source = MakeFrame();
    struct Case {
        int flag;
        bool dataCopied;
    } cases[] = {{CMediaObj::kCloneHeader, false}, {CMediaObj::kCloneAll, true}, {7, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flag);
        CMediaObj target;
        const uint8_t own[] = {9, 9};
        ASSERT_TRUE(target.CopyData(own, sizeof(own)));
        source.CloneMe(&target, c.flag);
        EXPECT_EQ(source.mTagList, target.mTagList);
        EXPECT_EQ(0, memcmp(&source.mTime, &target.mTime, sizeof(SYSTEMTIME)));
        EXPECT_EQ(source.mChannelMask, target.mChannelMask);
        if (c.dataCopied) {
            EXPECT_EQ(1, source.Equals(&target));
            EXPECT_NE(source.mpData, target.mpData);
            EXPECT_NE(source.mpData2, target.mpData2);
        } else {
            EXPECT_EQ((Bytes{9, 9}), Data(target));
            EXPECT_EQ(2, target.mDataSize);
            EXPECT_EQ(nullptr, target.mpData2);
        }
    }
    CMediaObj self = MakeFrame();
    uint8_t* before = self.mpData;
    self.CloneMe(nullptr);
    self.CloneMe(&self);
    EXPECT_EQ(before, self.mpData);
    EXPECT_EQ(Data(source), Data(self));
}

TEST(CMediaObjTest, CopiesOutliveAndIgnoreChangesToTheSource) {
    uint8_t borrowed[4] = {1, 2, 3, 4};
    auto* owning = new CMediaObj(MakeFrame());
    auto* borrowing = new CMediaObj;
    borrowing->mpData = borrowed;
    borrowing->mDataLength = borrowing->mDataSize = 4;
    for (CMediaObj* source : {owning, borrowing}) {
        const Bytes data = Data(*source), audio = Audio(*source);
        const std::vector<int32_t> tags = source->mTagList;
        CMediaObj assigned;
        assigned = *source;
        CMediaObj* copies[] = {source->CloneMeWithNewContent(), new CMediaObj(*source), &assigned};
        source->mpData[0] ^= 0xFF;
        source->mTagList.push_back(7);
        delete source; // the copies must not share the freed buffers (ASan)
        for (CMediaObj* copy : copies) {
            ASSERT_NE(nullptr, copy);
            EXPECT_EQ(1, copy->mOwnsData);
            EXPECT_EQ(data, Data(*copy));
            EXPECT_EQ(audio, Audio(*copy));
            EXPECT_EQ(tags, copy->mTagList);
        }
        delete copies[0];
        delete copies[1];
    }
}

// Pictures fanned out to many channels share one buffer: it lives until the
// last holder lets go, and nobody writes into it in place.
TEST(CMediaObjTest, SharedContentLivesUntilItsLastHolderAndIsNeverWrittenInPlace) {
    auto original = std::make_unique<CMediaObj>();
    original->mWidth = 352;
    original->mChannel = 2;
    const std::string bytes = "picture bytes";
    ASSERT_EQ(original->CopyData(bytes.data(), int32_t(bytes.size())), 1);
    std::unique_ptr<CMediaObj> a(original->CloneMeSharingContent()), b(original->CloneMeSharingContent());
    EXPECT_EQ(a->mpData, original->mpData);
    EXPECT_EQ(a->mWidth, 352);
    EXPECT_EQ(a->mChannel, 2);
    EXPECT_TRUE(CMediaObj::IsSharedData(a->mpData));
    original.reset(); // the decoder's picture goes; the channels' stay
    ASSERT_EQ(std::string(reinterpret_cast<char*>(a->mpData), size_t(a->mDataLength)), bytes);
    // Writing through an object gives it a buffer of its own first.
    ASSERT_EQ(b->CopyData("other", 5), 1);
    EXPECT_NE(b->mpData, a->mpData);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(a->mpData), size_t(a->mDataLength)), bytes);
    EXPECT_FALSE(CMediaObj::IsSharedData(a->mpData));
    // Borrowed data is copied, not shared.
    CMediaObj borrowed;
    uint8_t outside[4] = {1, 2, 3, 4};
    borrowed.mpData = outside;
    borrowed.mDataLength = 4;
    std::unique_ptr<CMediaObj> copy(borrowed.CloneMeSharingContent());
    EXPECT_NE(copy->mpData, outside);
    EXPECT_EQ(copy->mpData[3], 4);
    borrowed.mpData = nullptr;
}

TEST(CMediaObjTest, EqualsComparesHeaderAndBytesNotPointers) {
    const CMediaObj base = MakeFrame();
    struct Case {
        const char* name;
        void (*change)(CMediaObj*);
        bool equal;
    } cases[] = {
        {"copy", [](CMediaObj*) {}, true},
        {"tag list", [](CMediaObj* o) { o->mTagList.clear(); }, false},
        {"time", [](CMediaObj* o) { o->mTime.wMilliseconds++; }, false},
        {"last data byte", [](CMediaObj* o) { o->mpData[6] ^= 1; }, false},
        {"audio byte", [](CMediaObj* o) { o->mpData2[0] ^= 1; }, false},
        {"data length", [](CMediaObj* o) { o->mDataLength--; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMediaObj other(base);
        c.change(&other);
        EXPECT_EQ(c.equal ? 1 : 0, base.Equals(&other));
        EXPECT_EQ(c.equal ? 1 : 0, other.Equals(&base));
    }
    EXPECT_EQ(0, base.Equals(nullptr));
}

TEST(CMediaObjTest, BuffersAreBoundedReusedAndOwned) {
    struct Case {
        int32_t length;
        bool ok;
    } cases[] = {{0, true}, {-1, false}, {CMediaObj::kMaxDataSize + 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        CMediaObj o;
        EXPECT_EQ(c.ok, o.AllocateData(c.length) != nullptr);
        EXPECT_EQ(c.ok ? c.length : 0, o.mDataSize);
        uint8_t* block = CMediaObj::AllocData(c.length);
        EXPECT_EQ(c.ok, block != nullptr);
        CMediaObj::FreeData(block);
    }
    // A smaller frame into the same object needs no new buffer.
    CMediaObj o;
    uint8_t* first = o.AllocateData(1000);
    ASSERT_NE(nullptr, first);
    EXPECT_GE(CMediaObj::DataCapacity(first), 1000);
    EXPECT_EQ(first, o.AllocateData(900));
    EXPECT_EQ(900, o.mDataSize);
    // Owning one buffer turns a borrowed other one into an owned copy.
    uint8_t audio[4] = {1, 2, 3, 4};
    CMediaObj mixed;
    mixed.mpData2 = audio;
    mixed.mDataLength2 = 4;
    ASSERT_NE(nullptr, mixed.AllocateData(10));
    EXPECT_EQ(1, mixed.mOwnsData);
    EXPECT_NE(audio, mixed.mpData2);
    EXPECT_EQ((Bytes{1, 2, 3, 4}), Audio(mixed));
    EXPECT_EQ(14, mixed.mDataSize);
    // An attached block is freed with the object; LeakSanitizer reports it otherwise.
    CMediaObj attached;
    attached.AttachData2(CMediaObj::AllocData(5000), 5000);
    EXPECT_EQ(5000, attached.mDataSize);
    EXPECT_EQ(1, attached.mOwnsData);
}

TEST(CMediaObjTest, FrameTimeIsMillisecondsPerFrame) {
    struct Case {
        int32_t code;
        int32_t ms;
    } cases[] = {{25000, 40}, {30000, 33},  {1000, 1000},   {-25000, 40},  {0, 0},
                 {1, 60000},  {2000000, 0}, {INT32_MIN, 0}, {INT32_MAX, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(c.ms, CMediaObj::GetFrameTime(c.code)) << c.code;
}

// Real encoder output: frames made by the ffmpeg tool, put into the form the
// devices send (MPEG-4 key frames with a video-object code of id 1 in front
// of the VOL; H.264 access units in QBox boxes).

namespace {

struct StartCode {
    size_t at;    // offset of 00 00 01
    uint8_t code; // the byte behind it
};

std::vector<StartCode> StartCodes(const Bytes& d) {
    std::vector<StartCode> out;
    for (size_t i = 0; i + 3 < d.size(); ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1)
            out.push_back({i, d[i + 3]});
    return out;
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One QBox box, big-endian: size, "qbox", version/flags, stream type,
// stream id, sample flags, composition time (0), payload.
Bytes Box(uint32_t size, const char* magic, uint16_t type, uint32_t flags, const Bytes& payload) {
    Bytes box(24, 0);
    for (int i = 0; i < 4; ++i) {
        box[size_t(i)] = uint8_t(size >> (24 - 8 * i));
        box[size_t(4 + i)] = uint8_t(magic[i]);
        box[size_t(16 + i)] = uint8_t(flags >> (24 - 8 * i));
    }
    box[12] = uint8_t(type >> 8);
    box[13] = uint8_t(type);
    box[15] = 1; // stream id
    return Cat(box, payload);
}

Bytes H264Box(uint32_t flags, const Bytes& payload) {
    return Box(uint32_t(24 + payload.size()), "qbox", CMediaObj::kQBoxStreamH264, flags, payload);
}

class EncodedStreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string source =
            "ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 10 -g 5 ";
        const std::string m4v = platform_test::TempPath("v.m4v"), h264 = platform_test::TempPath("v.h264");
        ASSERT_EQ(0, std::system((source + "-c:v mpeg4 -f m4v '" + m4v + "'").c_str()));
        ASSERT_EQ(0, std::system((source + "-c:v libx264 -f h264 '" + h264 + "'").c_str()));
        sMpeg4 = platform_test::ReadFile(m4v);
        sH264 = platform_test::ReadFile(h264);
        std::remove(m4v.c_str());
        std::remove(h264.c_str());
    }

    struct Nal {
        int type;
        Bytes bytes; // with its start code (and the zero byte of a four-byte one)
    };

    static std::vector<Nal> H264Units() {
        const std::vector<StartCode> codes = StartCodes(sH264);
        std::vector<size_t> starts;
        for (const StartCode& s : codes)
            starts.push_back(s.at > 0 && sH264[s.at - 1] == 0 ? s.at - 1 : s.at);
        starts.push_back(sH264.size());
        std::vector<Nal> units;
        for (size_t i = 0; i < codes.size(); ++i)
            units.push_back({codes[i].code & 0x1F,
                             Bytes(sH264.begin() + long(starts[i]), sH264.begin() + long(starts[i + 1]))});
        return units;
    }

    static Bytes sMpeg4;
    static Bytes sH264;
};

Bytes EncodedStreamTest::sMpeg4;
Bytes EncodedStreamTest::sH264;

} // namespace

// A key frame in the device form: a video-object code of id 1, the VOL, then
// the rest of the group (ffmpeg's B0/B5 headers dropped). The VOL splits off.
TEST_F(EncodedStreamTest, Mpeg4KeyFrameSplitsIntoItsVol) {
    const std::vector<StartCode> codes = StartCodes(sMpeg4);
    const auto at = [](size_t offset) { return sMpeg4.begin() + long(offset); };
    int keyFrames = 0;
    for (auto vol = codes.begin(); vol != codes.end(); ++vol) {
        if ((vol->code & 0xF0) != 0x20)
            continue;
        SCOPED_TRACE(vol->at);
        auto picture =
            std::find_if(vol, codes.end(), [](auto s) { return s.code == 0xB3 || s.code == 0xB6; });
        auto next = std::find_if(vol, codes.end(), [](auto s) { return s.code == 0xB0; });
        ASSERT_NE(codes.end(), picture);
        const Bytes frame =
            Cat({0, 0, 1, 1}, Bytes(at(vol->at), next == codes.end() ? sMpeg4.end() : at(next->at)));
        const Bytes expectedVol = Cat({0, 0, 1, 1}, Bytes(at(vol->at), at(picture->at)));
        CMediaObj object;
        object.mVideoFormat = media_util::kVideoMpeg4;
        object.mFrameKind = media_util::kFrameKeyWithConfig;
        object.mChannelMask = 5;
        ASSERT_TRUE(object.CopyData(frame.data(), int32_t(frame.size())));
        CMediaObj* split = nullptr;
        ASSERT_EQ(1, CMediaObj::SplitVolAndIFrame(&object, &split));
        EXPECT_EQ(frame, Data(object)) << "the source keeps its frame";
        EXPECT_EQ(expectedVol, Data(*split));
        EXPECT_EQ(media_util::kFrameKeyWithConfig, split->mFrameKind);
        EXPECT_EQ(5, split->mChannelMask);
        delete split;
        ++keyFrames;
    }
    EXPECT_EQ(2, keyFrames);
}

TEST_F(EncodedStreamTest, QBoxBoxesGiveBackTheEncodersStreamAndKeyFramesSplit) {
    // One box per NAL unit: parameter sets flagged as configuration, IDR slices as sync samples.
    Bytes boxes, keyFrame, keyFrameUnits, parameterSets;
    bool keyFrameDone = false;
    for (const Nal& nal : H264Units()) {
        const bool config = nal.type == 7 || nal.type == 8;
        const Bytes box = H264Box(config ? 0x03 : nal.type == 5 ? 0x06 : 0x02, nal.bytes);
        boxes = Cat(boxes, box);
        if (keyFrameDone)
            continue;
        keyFrame = Cat(keyFrame, box);
        keyFrameUnits = Cat(keyFrameUnits, nal.bytes);
        parameterSets = config ? Cat(parameterSets, nal.bytes) : parameterSets;
        keyFrameDone = nal.type == 5;
    }
    ASSERT_TRUE(keyFrameDone && !parameterSets.empty());
    // Exactly as much room as the boxes take: the output is never longer.
    Bytes out(boxes.size());
    int32_t length = -1;
    ASSERT_EQ(1, CMediaObj::ExtractQBox(boxes.data(), out.data(), int32_t(boxes.size()), &length));
    out.resize(size_t(length));
    EXPECT_TRUE(sH264 == out) << "the boxes must give back the encoder's stream";

    // The parameter sets in boxes of their own, or inside the frame's box (a
    // configuration box is then built from them).
    for (const Bytes& frame : {keyFrame, H264Box(0x06, keyFrameUnits)}) {
        CMediaObj object;
        object.mVideoFormat = media_util::kVideoH264QBox;
        object.mFrameKind = media_util::kFrameKey;
        ASSERT_TRUE(object.CopyData(frame.data(), int32_t(frame.size())));
        CMediaObj* config = &object; // must be overwritten
        EXPECT_EQ(0, CMediaObj::SplitVolAndIFrame(&object, &config)) << "not a configuration-carrying frame";
        EXPECT_EQ(nullptr, config);
        object.mFrameKind = media_util::kFrameKeyWithConfig;
        ASSERT_EQ(1, CMediaObj::SplitVolAndIFrame(&object, &config));
        ASSERT_NE(nullptr, config);
        EXPECT_EQ(frame, Data(object)) << "the source keeps its frame";
        // The flag sits where a receiver looks for it.
        EXPECT_EQ(CMediaObj::kQBoxFlagConfig, config->mpData[19] & CMediaObj::kQBoxFlagConfig);
        Bytes sets(size_t(config->mDataLength));
        ASSERT_EQ(1, CMediaObj::ExtractQBox(config->mpData, sets.data(), config->mDataLength, &length));
        sets.resize(size_t(length));
        // x264 writes its parameter sets behind four-byte start codes, as a built box does.
        EXPECT_EQ(parameterSets, sets);
        delete config;
    }
}

TEST(CMediaObjQBoxTest, MalformedBoxesYieldWhatCameBeforeThem) {
    const Bytes good = Box(27, "qbox", 2, 0, {0xA, 0xB, 0xC});
    struct Case {
        const char* name;
        Bytes input;
        int result;
        Bytes out;
    } cases[] = {
        {"empty", {}, 0, {}},
        {"short header", Bytes(good.begin(), good.begin() + 23), 0, {}},
        {"truncated payload", Bytes(good.begin(), good.end() - 1), 0, {}},
        {"size below header", Box(23, "qbox", 2, 0, {}), 0, {}},
        {"size huge", Box(0xFFFFFFFF, "qbox", 2, 0, {1}), 0, {}},
        {"wrong magic", Box(27, "qbix", 2, 0, {1, 2, 3}), 0, {}},
        {"empty payload", Box(24, "qbox", 2, 0, {}), 1, {}},
        {"two boxes", Cat(good, Box(25, "qbox", 2, 0, {0xD})), 1, {0xA, 0xB, 0xC, 0xD}},
        {"other stream skipped", Cat(Box(26, "qbox", 1, 0, {7, 7}), good), 1, {0xA, 0xB, 0xC}},
        {"truncated second", Cat(good, Bytes(good.begin(), good.end() - 2)), 1, {0xA, 0xB, 0xC}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Exactly as much room as the input: the output may never be longer.
        Bytes target(c.input.size() + 1, 0xEE);
        int32_t length = -1;
        EXPECT_EQ(c.result, CMediaObj::ExtractQBox(c.input.empty() ? nullptr : c.input.data(), target.data(),
                                                   int32_t(c.input.size()), &length));
        EXPECT_EQ(c.out, Bytes(target.begin(), target.begin() + length));
        EXPECT_EQ(0xEE, target[c.input.size()]);
    }
    int32_t length = 5;
    EXPECT_EQ(0, CMediaObj::ExtractQBox(good.data(), nullptr, int32_t(good.size()), &length));
    EXPECT_EQ(0, length);
}

// Hand-made configuration-carrying frames (kind 1): only bytes in front of a
// picture code of an MPEG-4 stream split off.
TEST(CMediaObjSplitTest, KindOneFramesSplitOnlyWhenConfigurationPrecedesAPicture) {
    const Bytes mpeg4Key = {0, 0, 1, 1, 0, 0, 1, 0x20, 0x11, 0x22, 0, 0, 1, 0xB6, 0x00, 0x55};
    struct Case {
        const char* name;
        int32_t format;
        Bytes data;
        Bytes vol; // empty: no split
    } cases[] = {
        {"mpeg4 cut at GOV",
         media_util::kVideoMpeg4,
         {0, 0, 1, 1, 9, 0, 0, 1, 0xB3, 0, 0, 1, 0xB6},
         {0, 0, 1, 1, 9}},
        {"mpeg4 no picture code", media_util::kVideoMpeg4, {0, 0, 1, 1, 0, 0, 1, 0x20, 5}, {}},
        {"mpeg4 picture at start", media_util::kVideoMpeg4, {0, 0, 1, 0xB6, 0x10}, {}},
        {"mpeg4 start code cut short", media_util::kVideoMpeg4, {1, 2, 0, 0, 1}, {}},
        {"jpeg", media_util::kVideoJpeg, mpeg4Key, {}},
        {"qbox garbage", media_util::kVideoH264QBox, mpeg4Key, {}},
        {"empty", media_util::kVideoMpeg4, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMediaObj object;
        object.mVideoFormat = c.format;
        object.mFrameKind = media_util::kFrameKeyWithConfig;
        if (!c.data.empty()) {
            ASSERT_TRUE(object.CopyData(c.data.data(), int32_t(c.data.size())));
        }
        CMediaObj* vol = nullptr;
        EXPECT_EQ(c.vol.empty() ? 0 : 1, CMediaObj::SplitVolAndIFrame(&object, &vol));
        EXPECT_EQ(c.vol, vol != nullptr ? Data(*vol) : Bytes{});
        delete vol;
    }
    CMediaObj* vol = nullptr;
    EXPECT_EQ(0, CMediaObj::SplitVolAndIFrame(nullptr, &vol));
}
