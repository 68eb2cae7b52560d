#include "platform/CMediaObj.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

using media_util::CMediaObj;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Data(const CMediaObj& o) {
    if (o.mpData == nullptr || o.mDataLength <= 0)
        return {};
    return Bytes(o.mpData, o.mpData + o.mDataLength);
}

CMediaObj MakeFrame() {
    CMediaObj o;
    o.mWidth = 704;
    o.mHeight = -480;
    o.mFrameRate = 25000;
    o.mVideoFormat = media_util::kVideoMpeg4;
    o.mAudioFormat = 0;
    o.mSampleRate = 512000;
    o.mTagList = {1, 3};
    o.mChannel = 3;
    o.mFrameKind = media_util::kFrameKey;
    o.mTime = SYSTEMTIME{2026, 12, 0, 6, 7, 8, 9, 10};
    o.mFrameNumber = 42000;
    o.mWait = 1;
    o.mCovert = 2;
    o.mChannelMask = 12;
    o.mByteCount = 99;
    o.mProfileId = 2;
    const uint8_t bytes[] = {0, 0, 1, 0xB6, 0x10, 0x20, 0x30};
    EXPECT_TRUE(o.CopyData(bytes, sizeof(bytes)));
    const uint8_t audio[] = {0x7F, 0x80};
    EXPECT_TRUE(o.CopyData2(audio, sizeof(audio)));
    return o;
}

void ExpectSameHeader(const CMediaObj& a, const CMediaObj& b) {
    EXPECT_EQ(a.mWidth, b.mWidth);
    EXPECT_EQ(a.mHeight, b.mHeight);
    EXPECT_EQ(a.mFrameRate, b.mFrameRate);
    EXPECT_EQ(a.mVideoFormat, b.mVideoFormat);
    EXPECT_EQ(a.mAudioFormat, b.mAudioFormat);
    EXPECT_EQ(a.mSampleRate, b.mSampleRate);
    EXPECT_EQ(a.mTagList, b.mTagList);
    EXPECT_EQ(a.mChannel, b.mChannel);
    EXPECT_EQ(a.mFrameKind, b.mFrameKind);
    EXPECT_EQ(0, memcmp(&a.mTime, &b.mTime, sizeof(SYSTEMTIME)));
    EXPECT_EQ(a.mFrameNumber, b.mFrameNumber);
    EXPECT_EQ(a.mWait, b.mWait);
    EXPECT_EQ(a.mCovert, b.mCovert);
    EXPECT_EQ(a.mChannelMask, b.mChannelMask);
    EXPECT_EQ(a.mByteCount, b.mByteCount);
    EXPECT_EQ(a.mProfileId, b.mProfileId);
}

} // namespace

TEST(CMediaObjTest, DefaultObjectHasNoDataAndZeroCodes) {
    CMediaObj o;
    EXPECT_EQ(0, o.mDataSize);
    EXPECT_EQ(nullptr, o.mpData);
    EXPECT_EQ(nullptr, o.mpData2);
    EXPECT_EQ(0, o.mVideoFormat);
    EXPECT_EQ(0, o.mAudioFormat);
    EXPECT_EQ(0, o.mWidth);
    EXPECT_EQ(0, o.mHeight);
    EXPECT_EQ(0, o.mChannelMask);
    EXPECT_EQ(0, o.mFrameNumber);
    EXPECT_EQ(0, o.mTime.wYear);
    EXPECT_EQ(0, o.mOwnsData);
}

TEST(CMediaObjTest, CloneMeHeaderOnlyKeepsTargetDataFullCopiesData) {
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
        ExpectSameHeader(source, target);
        if (c.dataCopied) {
            EXPECT_EQ(Data(source), Data(target));
            EXPECT_NE(source.mpData, target.mpData);
            EXPECT_NE(source.mpData2, target.mpData2);
            EXPECT_EQ(source.mDataLength2, target.mDataLength2);
            EXPECT_EQ(0, memcmp(source.mpData2, target.mpData2, 2));
            EXPECT_EQ(source.mDataSize, target.mDataSize);
            EXPECT_EQ(1, target.mOwnsData);
        } else {
            EXPECT_EQ((Bytes{9, 9}), Data(target));
            EXPECT_EQ(2, target.mDataSize);
            EXPECT_EQ(nullptr, target.mpData2);
        }
    }
}

TEST(CMediaObjTest, CloneMeWithNullOrSelfTargetChangesNothing) {
    CMediaObj source = MakeFrame();
    uint8_t* before = source.mpData;
    source.CloneMe(nullptr);
    source.CloneMe(&source);
    EXPECT_EQ(before, source.mpData);
    EXPECT_EQ(7, source.mDataLength);
}

TEST(CMediaObjTest, CloneWithNewContentIsIndependentOfTheSource) {
    auto* source = new CMediaObj(MakeFrame());
    CMediaObj* clone = source->CloneMeWithNewContent();
    ASSERT_NE(nullptr, clone);
    ExpectSameHeader(*source, *clone);
    EXPECT_TRUE(clone->Equals(source));
    const Bytes original = Data(*source);
    source->mpData[4] = 0xEE;
    source->mTagList.push_back(7);
    EXPECT_EQ(original, Data(*clone));
    EXPECT_EQ((std::vector<int32_t>{1, 3}), clone->mTagList);
    delete source; // the clone must not share the freed buffers
    EXPECT_EQ(original, Data(*clone));
    EXPECT_EQ(0x80, clone->mpData2[1]);
    delete clone;
}

TEST(CMediaObjTest, CloneOfObjectWithBorrowedDataOwnsACopy) {
    uint8_t frame[16];
    for (int i = 0; i < 16; ++i)
        frame[i] = uint8_t(i);
    CMediaObj borrowing;
    borrowing.mpData = frame;
    borrowing.mDataLength = 16;
    borrowing.mDataSize = 16;
    borrowing.mOwnsData = 0;
    CMediaObj* clone = borrowing.CloneMeWithNewContent();
    frame[0] = 0xFF;
    EXPECT_EQ(0, clone->mpData[0]);
    EXPECT_EQ(1, clone->mOwnsData);
    delete clone;
    // borrowing's destructor must not free the stack buffer (ASan would report it).
}

TEST(CMediaObjTest, CopyConstructionAndAssignmentAreDeep) {
    CMediaObj a = MakeFrame();
    CMediaObj b(a);
    CMediaObj c;
    c = a;
    for (CMediaObj* copy : {&b, &c}) {
        EXPECT_NE(a.mpData, copy->mpData);
        EXPECT_TRUE(copy->Equals(&a));
    }
    a.mpData[0] = 5;
    EXPECT_EQ(0, b.mpData[0]);
    EXPECT_EQ(0, c.mpData[0]);
}

TEST(CMediaObjTest, EqualsComparesHeaderAndBytesNotPointers) {
    const CMediaObj base = MakeFrame();
    struct Case {
        const char* name;
        void (*change)(CMediaObj*);
        bool equal;
    } cases[] = {
        {"copy", [](CMediaObj*) {}, true},
        {"width", [](CMediaObj* o) { o->mWidth++; }, false},
        {"frame rate", [](CMediaObj* o) { o->mFrameRate = 1; }, false},
        {"tag list", [](CMediaObj* o) { o->mTagList.clear(); }, false},
        {"time", [](CMediaObj* o) { o->mTime.wMilliseconds++; }, false},
        {"mask", [](CMediaObj* o) { o->mChannelMask = 0; }, false},
        {"profile", [](CMediaObj* o) { o->mProfileId = 0; }, false},
        {"one data byte", [](CMediaObj* o) { o->mpData[6] ^= 1; }, false},
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

TEST(CMediaObjTest, DataBuffersAreReusedAndRefusedWhenOversized) {
    CMediaObj o;
    uint8_t* first = o.AllocateData(1000);
    ASSERT_NE(nullptr, first);
    EXPECT_GE(CMediaObj::DataCapacity(first), 1000);
    EXPECT_EQ(1000, o.mDataLength);
    EXPECT_EQ(1000, o.mDataSize);
    memset(first, 0xAB, 1000);
    struct Case {
        int32_t length;
        bool ok;
    } cases[] = {{0, true}, {1, true}, {-1, false}, {CMediaObj::kMaxDataSize + 1, false}, {INT32_MAX, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        CMediaObj p;
        uint8_t* buffer = p.AllocateData(c.length);
        EXPECT_EQ(c.ok, buffer != nullptr);
        EXPECT_EQ(c.ok ? c.length : 0, p.mDataLength);
        EXPECT_EQ(c.ok ? c.length : 0, p.mDataSize);
        EXPECT_EQ(nullptr, CMediaObj::AllocData(c.ok ? -1 : c.length));
    }
    // A smaller frame into the same object needs no new buffer.
    EXPECT_EQ(first, o.AllocateData(900));
    EXPECT_EQ(900, o.mDataSize);
    o.ReleaseData();
    EXPECT_EQ(nullptr, o.mpData);
    EXPECT_EQ(0, o.mDataSize);
}

TEST(CMediaObjTest, OwningOneBufferCopiesTheBorrowedOther) {
    uint8_t audio[4] = {1, 2, 3, 4};
    CMediaObj o;
    o.mpData2 = audio;
    o.mDataLength2 = 4;
    o.mOwnsData = 0;
    ASSERT_NE(nullptr, o.AllocateData(10));
    EXPECT_EQ(1, o.mOwnsData);
    ASSERT_NE(nullptr, o.mpData2);
    EXPECT_NE(audio, o.mpData2);
    EXPECT_EQ(0, memcmp(audio, o.mpData2, 4));
    EXPECT_EQ(14, o.mDataSize);
}

TEST(CMediaObjTest, AttachedBlockIsOwnedAndFreedWithTheObject) {
    uint8_t* block = CMediaObj::AllocData(5000);
    ASSERT_NE(nullptr, block);
    memset(block, 1, 5000);
    {
        CMediaObj o;
        o.AttachData2(block, 5000);
        EXPECT_EQ(block, o.mpData2);
        EXPECT_EQ(5000, o.mDataSize);
        EXPECT_EQ(1, o.mOwnsData);
    } // freed here; LeakSanitizer reports a leak otherwise
}

TEST(CMediaObjTest, TagAtOutsideTheListThrowsVectorSubscript) {
    CMediaObj o;
    o.mTagList = {2};
    EXPECT_EQ(2, o.TagAt(0));
    for (size_t index : {size_t(1), size_t(100), SIZE_MAX}) {
        try {
            o.TagAt(index);
            ADD_FAILURE() << "no exception for " << index;
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ("invalid vector<T> subscript", e.what());
        }
    }
}

TEST(CMediaObjTest, FrameTimeIsMillisecondsPerFrame) {
    struct Case {
        int32_t code;
        int32_t ms;
    } cases[] = {
        {25000, 40}, {12500, 80}, {30000, 33}, {1000, 1000}, {-25000, 40},   {0, 0},
        {1, 60000},  {10, 60000}, {20000, 50}, {2000000, 0}, {INT32_MIN, 0}, {INT32_MAX, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.ms, CMediaObj::GetFrameTime(c.code)) << c.code;
}

// ---------------------------------------------------------------------------
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

std::string TempDir() {
    const char* base = getenv("IPCAM_TEST_TMP");
    std::string tmpl = std::string(base != nullptr && *base ? base : "/tmp") + "/mediaobj-XXXXXX";
    std::vector<char> buffer(tmpl.begin(), tmpl.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        return {};
    return buffer.data();
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RunAndRead(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char buffer[256];
    while (fgets(buffer, sizeof(buffer), pipe) != nullptr)
        out += buffer;
    pclose(pipe);
    return out;
}

class EncodedStreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sDir = TempDir();
        ASSERT_FALSE(sDir.empty());
        const std::string source =
            "ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 10 -g 5 ";
        ASSERT_EQ(0, std::system((source + "-c:v mpeg4 -f m4v '" + sDir + "/v.m4v'").c_str()));
        // Access unit delimiters only mark where one picture ends: they are
        // taken out again before the units are boxed.
        ASSERT_EQ(0, std::system((source + "-c:v libx264 -bsf:v h264_metadata=aud=insert -f h264 '" + sDir +
                                  "/v.h264'")
                                     .c_str()));
        sMpeg4 = ReadFile(sDir + "/v.m4v");
        sH264 = ReadFile(sDir + "/v.h264");
    }

    // MPEG-4 frames: a key frame starts at a visual-object-sequence code
    // (B0), any other at its VOP code (B6).
    static std::vector<Bytes> Mpeg4Frames() {
        std::vector<size_t> starts;
        bool vopSeen = true;
        for (const StartCode& s : StartCodes(sMpeg4)) {
            if (s.code == 0xB0) {
                starts.push_back(s.at);
                vopSeen = false;
            } else if (s.code == 0xB6) {
                if (vopSeen)
                    starts.push_back(s.at);
                vopSeen = true;
            }
        }
        std::vector<Bytes> frames;
        for (size_t i = 0; i < starts.size(); ++i) {
            size_t end = i + 1 < starts.size() ? starts[i + 1] : sMpeg4.size();
            frames.emplace_back(sMpeg4.begin() + starts[i], sMpeg4.begin() + end);
        }
        return frames;
    }

    struct AccessUnit {
        Bytes parameterSets; // SPS and PPS with their start codes
        Bytes rest;          // the other units (SEI, slices) with their start codes
        bool idr = false;
    };

    // H.264 access units, cut at the delimiters; the delimiters dropped.
    static std::vector<AccessUnit> H264Units() {
        std::vector<StartCode> codes = StartCodes(sH264);
        std::vector<AccessUnit> units;
        for (size_t i = 0; i < codes.size(); ++i) {
            // Include the zero byte of a four-byte start code.
            size_t begin = codes[i].at > 0 && sH264[codes[i].at - 1] == 0 ? codes[i].at - 1 : codes[i].at;
            size_t end = sH264.size();
            if (i + 1 < codes.size())
                end = codes[i + 1].at > 0 && sH264[codes[i + 1].at - 1] == 0 ? codes[i + 1].at - 1
                                                                             : codes[i + 1].at;
            int type = codes[i].code & 0x1F;
            if (type == 9) {
                units.emplace_back();
                continue;
            }
            if (units.empty())
                units.emplace_back();
            Bytes& to = (type == 7 || type == 8) ? units.back().parameterSets : units.back().rest;
            to.insert(to.end(), sH264.begin() + begin, sH264.begin() + end);
            if (type == 5)
                units.back().idr = true;
        }
        return units;
    }

    static Bytes Box(uint32_t flags, const Bytes& payload, uint32_t cts) {
        const uint32_t size = uint32_t(24 + payload.size());
        Bytes box(size, 0);
        auto put32 = [&box](size_t at, uint32_t v) {
            box[at] = uint8_t(v >> 24);
            box[at + 1] = uint8_t(v >> 16);
            box[at + 2] = uint8_t(v >> 8);
            box[at + 3] = uint8_t(v);
        };
        put32(0, size);
        box[4] = 'q';
        box[5] = 'b';
        box[6] = 'o';
        box[7] = 'x';
        box[13] = 2; // H.264
        box[15] = 1; // stream id
        put32(16, flags);
        put32(20, cts);
        std::copy(payload.begin(), payload.end(), box.begin() + 24);
        return box;
    }

    static std::string sDir;
    static Bytes sMpeg4;
    static Bytes sH264;
};

std::string EncodedStreamTest::sDir;
Bytes EncodedStreamTest::sMpeg4;
Bytes EncodedStreamTest::sH264;

} // namespace

TEST_F(EncodedStreamTest, Mpeg4KeyFrameSplitsIntoItsVol) {
    std::vector<Bytes> frames = Mpeg4Frames();
    ASSERT_EQ(10u, frames.size());
    int keyFrames = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const Bytes& frame = frames[i];
        CMediaObj object;
        object.mVideoFormat = media_util::kVideoMpeg4;
        object.mWidth = 320;
        object.mHeight = 240;
        object.mChannel = 2;
        object.mChannelMask = 5;
        object.mFrameNumber = int32_t(i) * 1000;
        Bytes deviceFrame;
        Bytes expectedVol;
        if (frame[3] == 0xB0) {
            // The device form: no B0/B5 headers, a video-object code of id 1, then VOL and picture.
            size_t vol = 0, picture = 0;
            for (const StartCode& s : StartCodes(frame)) {
                if (vol == 0 && s.code >= 0x20 && s.code <= 0x2F)
                    vol = s.at;
                if (picture == 0 && (s.code == 0xB3 || s.code == 0xB6))
                    picture = s.at;
            }
            ASSERT_GT(vol, 0u);
            ASSERT_GT(picture, vol);
            deviceFrame = {0, 0, 1, 1};
            deviceFrame.insert(deviceFrame.end(), frame.begin() + vol, frame.end());
            expectedVol = {0, 0, 1, 1};
            expectedVol.insert(expectedVol.end(), frame.begin() + vol, frame.begin() + picture);
            object.mFrameKind = media_util::kFrameKeyWithConfig;
            ++keyFrames;
        } else {
            deviceFrame = frame;
            object.mFrameKind = (frame[4] & 0xC0) == 0 ? media_util::kFrameKey : media_util::kFramePredicted;
        }
        ASSERT_TRUE(object.CopyData(deviceFrame.data(), int32_t(deviceFrame.size())));
        CMediaObj* vol = reinterpret_cast<CMediaObj*>(&object); // must be overwritten
        int split = CMediaObj::SplitVolAndIFrame(&object, &vol);
        EXPECT_EQ(deviceFrame, Data(object)) << "the source keeps its frame";
        if (expectedVol.empty()) {
            EXPECT_EQ(0, split);
            EXPECT_EQ(nullptr, vol);
            continue;
        }
        ASSERT_EQ(1, split);
        ASSERT_NE(nullptr, vol);
        EXPECT_EQ(expectedVol, Data(*vol));
        EXPECT_EQ(int32_t(expectedVol.size()), vol->mDataSize);
        EXPECT_EQ(media_util::kFrameKeyWithConfig, vol->mFrameKind);
        EXPECT_EQ(media_util::kVideoMpeg4, vol->mVideoFormat);
        EXPECT_EQ(5, vol->mChannelMask);
        EXPECT_EQ(2, vol->mChannel);
        EXPECT_EQ(320, vol->mWidth);
        delete vol;
    }
    EXPECT_EQ(2, keyFrames);
}

TEST_F(EncodedStreamTest, QBoxObjectsGiveBackTheAnnexBUnitsAndDecode) {
    std::vector<AccessUnit> units = H264Units();
    ASSERT_EQ(10u, units.size());
    Bytes stream;
    uint8_t scratch[64 * 1024];
    for (size_t i = 0; i < units.size(); ++i) {
        SCOPED_TRACE(i);
        const AccessUnit& unit = units[i];
        Bytes data;
        Bytes expected = unit.parameterSets;
        expected.insert(expected.end(), unit.rest.begin(), unit.rest.end());
        if (unit.idr) {
            ASSERT_FALSE(unit.parameterSets.empty());
            Bytes config = Box(0x03, unit.parameterSets, uint32_t(i * 40));
            Bytes frame = Box(0x06, unit.rest, uint32_t(i * 40));
            data = config;
            data.insert(data.end(), frame.begin(), frame.end());
        } else {
            data = Box(0x02, unit.rest, uint32_t(i * 40));
        }
        ASSERT_LE(data.size(), sizeof(scratch));
        int32_t length = -1;
        ASSERT_EQ(1, CMediaObj::ExtractQBox(data.data(), scratch, int32_t(data.size()), &length));
        ASSERT_EQ(expected, Bytes(scratch, scratch + length));
        stream.insert(stream.end(), scratch, scratch + length);

        CMediaObj object;
        object.mVideoFormat = media_util::kVideoH264QBox;
        object.mFrameKind = unit.idr ? media_util::kFrameKeyWithConfig : media_util::kFramePredicted;
        ASSERT_TRUE(object.CopyData(data.data(), int32_t(data.size())));
        CMediaObj* config = nullptr;
        int split = CMediaObj::SplitVolAndIFrame(&object, &config);
        EXPECT_EQ(unit.idr ? 1 : 0, split);
        if (unit.idr) {
            ASSERT_NE(nullptr, config);
            EXPECT_EQ(Box(0x03, unit.parameterSets, uint32_t(i * 40)), Data(*config));
            ASSERT_EQ(1, CMediaObj::ExtractQBox(config->mpData, scratch, config->mDataLength, &length));
            EXPECT_EQ(unit.parameterSets, Bytes(scratch, scratch + length));
            delete config;
        }
    }
    // What came out is a stream that a real decoder reads frame by frame.
    const std::string path = sDir + "/extracted.h264";
    FILE* out = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, out);
    fwrite(stream.data(), 1, stream.size(), out);
    fclose(out);
    std::string frames = RunAndRead("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                    "stream=nb_read_frames -of csv=p=0 '" +
                                    path + "'");
    EXPECT_EQ(10, atoi(frames.c_str())) << frames;
}

TEST_F(EncodedStreamTest, KeyFrameWithParameterSetsInItsOwnBoxStillSplits) {
    std::vector<AccessUnit> units = H264Units();
    ASSERT_FALSE(units.empty());
    ASSERT_TRUE(units[0].idr);
    Bytes payload = units[0].parameterSets;
    payload.insert(payload.end(), units[0].rest.begin(), units[0].rest.end());
    Bytes data = Box(0x06, payload, 0);
    CMediaObj object;
    object.mVideoFormat = media_util::kVideoH264QBox;
    object.mFrameKind = media_util::kFrameKeyWithConfig;
    ASSERT_TRUE(object.CopyData(data.data(), int32_t(data.size())));
    CMediaObj* config = nullptr;
    ASSERT_EQ(1, CMediaObj::SplitVolAndIFrame(&object, &config));
    ASSERT_NE(nullptr, config);
    Bytes out(config->mDataLength);
    int32_t length = 0;
    ASSERT_EQ(1, CMediaObj::ExtractQBox(config->mpData, out.data(), config->mDataLength, &length));
    out.resize(size_t(length));
    // x264 writes its parameter sets behind four-byte start codes, as the split does.
    EXPECT_EQ(units[0].parameterSets, out);
    // The built box says "configuration" where a receiver looks for it.
    uint32_t flagsLE = uint32_t(config->mpData[16]) | uint32_t(config->mpData[17]) << 8 |
                       uint32_t(config->mpData[18]) << 16 | uint32_t(config->mpData[19]) << 24;
    EXPECT_EQ(0x03u << 24, flagsLE & (0x07u << 24));
    delete config;
}

// ---------------------------------------------------------------------------
// Hostile input.

TEST(CMediaObjQBoxTest, MalformedBoxesYieldWhatCameBeforeThem) {
    auto box = [](uint32_t size, const char* magic, uint16_t type, const Bytes& payload) {
        Bytes b(24 + payload.size(), 0);
        b[0] = uint8_t(size >> 24);
        b[1] = uint8_t(size >> 16);
        b[2] = uint8_t(size >> 8);
        b[3] = uint8_t(size);
        memcpy(&b[4], magic, 4);
        b[12] = uint8_t(type >> 8);
        b[13] = uint8_t(type);
        b[19] = 0x02;
        std::copy(payload.begin(), payload.end(), b.begin() + 24);
        return b;
    };
    const Bytes good = box(27, "qbox", 2, {0xA, 0xB, 0xC});
    auto cat = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char* name;
        Bytes input;
        int result;
        Bytes out;
    } cases[] = {
        {"empty", {}, 0, {}},
        {"short header", Bytes(good.begin(), good.begin() + 23), 0, {}},
        {"truncated payload", Bytes(good.begin(), good.end() - 1), 0, {}},
        {"size below header", box(23, "qbox", 2, {}), 0, {}},
        {"size zero", box(0, "qbox", 2, {1, 2, 3}), 0, {}},
        {"size huge", box(0xFFFFFFFF, "qbox", 2, {1}), 0, {}},
        {"wrong magic", box(27, "qbix", 2, {1, 2, 3}), 0, {}},
        {"one box", good, 1, {0xA, 0xB, 0xC}},
        {"empty payload", box(24, "qbox", 2, {}), 1, {}},
        {"two boxes", cat(good, box(25, "qbox", 2, {0xD})), 1, {0xA, 0xB, 0xC, 0xD}},
        {"other stream skipped", cat(box(26, "qbox", 1, {7, 7}), good), 1, {0xA, 0xB, 0xC}},
        {"garbage behind", cat(good, Bytes{1, 2, 3, 4, 5}), 1, {0xA, 0xB, 0xC}},
        {"truncated second", cat(good, Bytes(good.begin(), good.end() - 2)), 1, {0xA, 0xB, 0xC}},
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
    EXPECT_EQ(0, CMediaObj::ExtractQBox(good.data(), Bytes(64).data(), -5, &length));
}

TEST(CMediaObjSplitTest, OnlyConfigurationCarryingFramesOfMpeg4OrQBoxSplit) {
    const Bytes mpeg4Key = {0, 0, 1, 1, 0, 0, 1, 0x20, 0x11, 0x22, 0, 0, 1, 0xB6, 0x00, 0x55};
    struct Case {
        const char* name;
        int32_t format;
        int32_t kind;
        Bytes data;
        Bytes vol; // empty: no split
    } cases[] = {
        {"mpeg4 kind 1", media_util::kVideoMpeg4, 1, mpeg4Key,
         Bytes(mpeg4Key.begin(), mpeg4Key.begin() + 10)},
        {"mpeg4 cut at GOV",
         media_util::kVideoMpeg4,
         1,
         {0, 0, 1, 1, 9, 0, 0, 1, 0xB3, 0, 0, 1, 0xB6},
         {0, 0, 1, 1, 9}},
        {"mpeg4 kind 2", media_util::kVideoMpeg4, 2, mpeg4Key, {}},
        {"mpeg4 kind 4", media_util::kVideoMpeg4, 4, mpeg4Key, {}},
        {"mpeg4 no picture code", media_util::kVideoMpeg4, 1, {0, 0, 1, 1, 0, 0, 1, 0x20, 5}, {}},
        {"mpeg4 picture at start", media_util::kVideoMpeg4, 1, {0, 0, 1, 0xB6, 0x10}, {}},
        {"mpeg4 start code cut short", media_util::kVideoMpeg4, 1, {1, 2, 0, 0, 1}, {}},
        {"jpeg kind 1", media_util::kVideoJpeg, 1, mpeg4Key, {}},
        {"no format", 0, 1, mpeg4Key, {}},
        {"qbox garbage", media_util::kVideoH264QBox, 1, mpeg4Key, {}},
        {"empty", media_util::kVideoMpeg4, 1, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMediaObj object;
        object.mVideoFormat = c.format;
        object.mFrameKind = c.kind;
        if (!c.data.empty()) {
            ASSERT_TRUE(object.CopyData(c.data.data(), int32_t(c.data.size())));
        }
        CMediaObj* vol = nullptr;
        int result = CMediaObj::SplitVolAndIFrame(&object, &vol);
        EXPECT_EQ(c.vol.empty() ? 0 : 1, result);
        if (vol != nullptr) {
            EXPECT_EQ(c.vol, Data(*vol));
            delete vol;
        } else {
            EXPECT_TRUE(c.vol.empty());
        }
    }
    CMediaObj* vol = nullptr;
    EXPECT_EQ(0, CMediaObj::SplitVolAndIFrame(nullptr, &vol));
    CMediaObj object;
    EXPECT_EQ(0, CMediaObj::SplitVolAndIFrame(&object, nullptr));
}
