#include "source/CMediaSource.h"

#include "DeviceJpeg.h"
#include "FakeStreamClient.h"
#include "platform/CLockWrap.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CMediaQueue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

using media_util::CMachineCodeConvert;
using media_util::CMediaObj;

namespace {

class CTestSource : public CMediaSource {
public:
    CTestSource() { SetClock(&mClock); }
    ~CTestSource() override { Stop(); }
    int Step() override {
        ++mSteps;
        mGate.Wait(5);
        return 0;
    }
    int AppliedRequestMode() {
        media_util::CLockWrap lock(mSettingsLock);
        return mRequestMode;
    }
    void SetMachineCode(int code) { mMachineCode = code; }
    void SetPacing(int mode, int frameRateCode) {
        mPacingMode = mode;
        mFrameRateCode = frameRateCode;
    }
    CFakeSourceClock mClock;
    media_util::CManualEvent mGate;
    std::atomic<int> mSteps{0};
};

int ModelOfType(int type, int receiveType = -1) {
    for (size_t i = 0; i < CMachineCodeConvert::GetModelCount(); ++i) {
        const auto* m = CMachineCodeConvert::GetModelAt(i);
        if (m->deviceType == type && (receiveType < 0 || m->receiveType == receiveType))
            return m->machineCode;
    }
    ADD_FAILURE() << "no model of type " << type;
    return 0;
}

std::vector<int32_t> Tags(const CMediaObj& o) {
    return o.mTagList;
}

TEST(CMediaSourceTest, EventListIsBoundedAndPacksChannels) {
    CTestSource source;
    for (int i = 0; i < 201; ++i)
        source.PostEvent(i + 1, 0);
    std::vector<uint32_t> events;
    ASSERT_TRUE(source.TakeEvents(events));
    ASSERT_EQ(events.size(), CMediaSource::kMaxEvents);
    EXPECT_EQ(events.front(), 1u);
    EXPECT_EQ(events.back(), 200u);
    EXPECT_FALSE(source.TakeEvents(events));

    struct SCase {
        int code, channel;
        uint32_t packed;
    };
    const std::vector<SCase> cases = {
        {3, 3, 0x02000003u},  {1, 0, 0x00000001u},  {1, 1, 0x00000001u},
        {-1, 2, 0x01FFFFFFu}, {5, 16, 0x0F000005u}, {0x1234567, 1, 0x00234567u},
    };
    for (const SCase& c : cases) {
        source.PostEvent(c.code, c.channel);
        std::vector<uint32_t> one;
        ASSERT_TRUE(source.TakeEvents(one));
        EXPECT_EQ(one, std::vector<uint32_t>{c.packed}) << c.code << " on " << c.channel;
    }
}

TEST(CMediaSourceTest, Mpeg4FrameKindsFromTheirFirstBytes) {
    struct SCase {
        std::string bytes;
        int kind;
    };
    const std::vector<SCase> cases = {
        {std::string("\x00\x00\x01\x01\x00\x00\x01\x20", 8), 1},
        {std::string("\x00\x00\x01\xB6\x12", 5), 2},
        {std::string("\x00\x00\x01\xB6\x3F", 5), 2},
        {std::string("\x00\x00\x01\xB6\x55", 5), 4},
        {std::string("\x00\x00\x01\xB6\x40", 5), 4},
        {std::string("\x00\x00\x01\xB6\x80", 5), 0},
        {std::string("\x00\x00\x01\xB6", 4), 0},
        {std::string("\x00\x00\x01\xB3\x00", 5), 0},
        {std::string("\x00\x00\x02\x01", 4), 0},
        {std::string("\x00\x00", 2), 0},
    };
    for (const SCase& c : cases) {
        CTestSource source;
        CMediaObj o;
        o.mVideoFormat = media_util::kVideoMpeg4;
        o.mFrameKind = 9;
        o.CopyData(c.bytes.data(), int32_t(c.bytes.size()));
        source.TagMediaObject(&o, o.mpData, o.mDataLength, 5);
        EXPECT_EQ(o.mFrameKind, c.kind) << testing::PrintToString(c.bytes);
        EXPECT_EQ(o.mChannel, 5);
    }
}

// A QBox box of DESIGN's layout, written here byte by byte.
std::string QBox(uint32_t flags, const std::string& payload, uint32_t cts = 0) {
    std::string box;
    auto be = [&box](uint32_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            box.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    be(uint32_t(24 + payload.size()), 4);
    box += "qbox";
    be(0, 4);
    be(2, 2); // H.264
    be(0, 2);
    be(flags, 4);
    be(cts, 4);
    return box + payload;
}

TEST(CMediaSourceTest, QBoxFrameKindsFromTheirSampleFlags) {
    struct SCase {
        std::string bytes;
        int kind;
    };
    const std::string nal("\x00\x00\x00\x01\x65\x88", 6);
    const std::vector<SCase> cases = {
        {QBox(0x03, nal) + QBox(0x06, nal), 1},
        {QBox(0x06, nal), 2},
        {QBox(0x02, nal), 4},
        {QBox(0x01, nal), 0},
        {QBox(0x04, nal), 0},
        {QBox(0x00, nal), 0},
        {nal + std::string(20, '\0'), 2},   // no box: taken as a key frame
        {QBox(0x02, nal).substr(0, 18), 0}, // box cut before its flags
    };
    for (const SCase& c : cases) {
        CTestSource source;
        CMediaObj o;
        o.mVideoFormat = media_util::kVideoH264QBox;
        o.CopyData(c.bytes.data(), int32_t(c.bytes.size()));
        source.TagMediaObject(&o, o.mpData, o.mDataLength, 1);
        EXPECT_EQ(o.mFrameKind, c.kind) << testing::PrintToString(c.bytes);
    }
}

struct SJpegCase {
    const char* name;
    int machineCode;
    int alarm;
    std::vector<int32_t> tags;
    bool sizeFromHeader; // else the object's own size is written into the image
};

TEST(CMediaSourceTest, JpegDeviceHeaderFieldsAndAlarms) {
    const int camera = ModelOfType(CMachineCodeConvert::kTypeProfileCamera);
    const int server = ModelOfType(CMachineCodeConvert::kTypeVideoStandard);
    const int recorder = ModelOfType(CMachineCodeConvert::kTypeMultiChannel);
    const std::vector<SJpegCase> cases = {
        {"camera 5", camera, 5, {1}, true},
        {"camera 31", camera, 31, {1, 2, 3}, true},
        {"camera 8", camera, 8, {2}, true},
        {"camera 32", camera, 32, {}, true},
        {"server 1", server, 1, {1}, false},
        {"server 2", server, 2, {2}, false},
        {"server 4", server, 4, {}, false},
        {"server 16", server, 16, {3}, false},
        {"recorder 32", recorder, 32, {1}, true},
        {"recorder 128", recorder, 128, {2}, true},
        {"recorder 64", recorder, 64, {3}, true},
        {"recorder 5", recorder, 5, {}, true},
        {"no machine code", 0, 1, {1}, false},
        {"own-size model", CMediaSource::kMachineCodeOwnSize, 5, {1}, false},
    };
    for (const SJpegCase& c : cases) {
        SCOPED_TRACE(c.name);
        CTestSource source;
        media_util::CManualEvent listener;
        CSourceDesc desc;
        desc.mpListener = &listener;
        source.ApplySettings(&desc);
        SDeviceJpeg jpeg;
        jpeg.machineCode = uint32_t(c.machineCode);
        jpeg.alarm = uint8_t(c.alarm);
        jpeg.width = 1920;
        jpeg.height = 1080;
        jpeg.sequence = 0x200007; // 21 bits of it count
        jpeg.year = 2026;
        jpeg.second = 42;
        const std::string image = jpeg.Build();
        CMediaObj o;
        o.mVideoFormat = media_util::kVideoJpeg;
        o.mWidth = 704;
        o.mHeight = 576;
        o.CopyData(image.data(), int32_t(image.size()));
        source.TagMediaObject(&o, o.mpData, o.mDataLength, 4);
        EXPECT_EQ(o.mFrameKind, 2);
        EXPECT_EQ(o.mChannel, 4);
        EXPECT_EQ(o.mFrameNumber, 7000);
        EXPECT_EQ(o.mTime.wYear, 2026);
        EXPECT_EQ(o.mTime.wSecond, 42);
        EXPECT_EQ(o.mpData[28], 0);
        EXPECT_EQ(o.mpData[29], 0);
        EXPECT_EQ(Tags(o), c.tags);
        const int w = o.mpData[36] | o.mpData[37] << 8;
        const int h = o.mpData[38] | o.mpData[39] << 8;
        if (c.sizeFromHeader) {
            EXPECT_EQ(o.mWidth, 1920);
            EXPECT_EQ(o.mHeight, 1080);
            EXPECT_EQ(w, 1920);
        } else {
            EXPECT_EQ(o.mWidth, 704);
            EXPECT_EQ(w, 704);
            EXPECT_EQ(h, 576);
        }
        std::vector<uint32_t> events;
        source.TakeEvents(events);
        std::vector<uint32_t> expected;
        for (int32_t tag : c.tags)
            expected.push_back(CMediaSource::PackEvent(tag, 4));
        EXPECT_EQ(events, expected);
        EXPECT_EQ(listener.IsSignalled() != 0, c.alarm != 0);
    }
}

TEST(CMediaSourceTest, PlainJpegIsLeftIntact) {
    CTestSource source;
    SDeviceJpeg jpeg;
    jpeg.withHeader = false;
    const std::string image = jpeg.Build();
    CMediaObj o;
    o.mVideoFormat = media_util::kVideoJpeg;
    o.mWidth = 640;
    o.mHeight = 480;
    o.CopyData(image.data(), int32_t(image.size()));
    source.TagMediaObject(&o, o.mpData, o.mDataLength, 1);
    EXPECT_EQ(o.mFrameKind, 2);
    EXPECT_EQ(o.mFrameNumber, 0);
    EXPECT_EQ(o.mWidth, 640);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(o.mpData), o.mDataLength), image);

    // The other vendor's camera: only the channel is set.
    CTestSource vendor;
    vendor.SetMachineCode(CMediaSource::kMachineCodePlainJpeg);
    SDeviceJpeg with;
    with.sequence = 9;
    const std::string tagged = with.Build();
    CMediaObj v;
    v.mVideoFormat = media_util::kVideoJpeg;
    v.CopyData(tagged.data(), int32_t(tagged.size()));
    vendor.TagMediaObject(&v, v.mpData, v.mDataLength, 2);
    EXPECT_EQ(v.mFrameKind, 0);
    EXPECT_EQ(v.mFrameNumber, 0);
    EXPECT_EQ(v.mChannel, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(v.mpData), v.mDataLength), tagged);
}

TEST(CMediaSourceTest, JpegFrameRateFromSequenceGaps) {
    struct SCase {
        std::vector<uint32_t> sequences;
        std::vector<int32_t> rates;
    };
    // 30000 / gap (integer) * 3 / 2, worked out by hand.
    const std::vector<SCase> cases = {
        {{100, 102}, {30000, 22500}},
        {{100, 101}, {30000, 30000}},
        {{100, 103}, {30000, 15000}},
        {{100, 129}, {30000, 1551}},
        // 30000 / 7 = 4285, x 3 = 12855, / 2 = 6427 (not 45000 / 7 = 6428)
        {{100, 107}, {30000, 6427}},
        {{100, 130}, {30000, 30000}},
        {{100, 50, 52}, {30000, 30000, 22500}},
        {{0, 2, 4}, {30000, 30000, 22500}},
        {{100, 100}, {30000, 30000}},
    };
    for (const SCase& c : cases) {
        CTestSource source;
        std::vector<int32_t> rates;
        for (uint32_t seq : c.sequences) {
            SDeviceJpeg jpeg;
            jpeg.machineCode = 0x1200;
            jpeg.sequence = seq;
            const std::string image = jpeg.Build();
            CMediaObj o;
            o.mVideoFormat = media_util::kVideoJpeg;
            o.CopyData(image.data(), int32_t(image.size()));
            source.TagMediaObject(&o, o.mpData, o.mDataLength, 1);
            rates.push_back(o.mFrameRate);
        }
        EXPECT_EQ(rates, c.rates) << testing::PrintToString(c.sequences);
    }
}

TEST(CMediaSourceTest, JpegSizeChangeOnAChannelStopsWithEvent) {
    struct SCase {
        const char* name;
        int secondChannel;
        uint16_t secondWidth;
        bool stops;
    };
    const std::vector<SCase> cases = {
        {"same size", 1, 640, false},
        {"new size", 1, 800, true},
        {"other channel", 2, 800, false},
        {"channel 17 is not tracked", 17, 800, false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CTestSource source;
        for (auto [channel, width] : {std::pair<int, uint16_t>{1, 640}, {c.secondChannel, c.secondWidth}}) {
            SDeviceJpeg jpeg;
            jpeg.machineCode = 0x1200;
            jpeg.width = width;
            jpeg.height = 480;
            const std::string image = jpeg.Build();
            CMediaObj o;
            o.mVideoFormat = media_util::kVideoJpeg;
            o.CopyData(image.data(), int32_t(image.size()));
            source.TagMediaObject(&o, o.mpData, o.mDataLength, channel);
        }
        std::vector<uint32_t> events;
        source.TakeEvents(events);
        EXPECT_EQ(events.size(), c.stops ? 1u : 0u);
        if (c.stops) {
            EXPECT_EQ(events[0], CMediaSource::PackEvent(-1, 1));
        }
        EXPECT_EQ(!source.IsRunning(), c.stops);
        EXPECT_EQ(source.GetLastMedia(1).mWidth, c.stops ? 800 : 640);
    }
}

TEST(CMediaSourceTest, PaceJpegSpacesJpegFramesByTheirFrameTime) {
    struct SStep {
        DWORD advance; // clock moves this much before the call
        bool jpeg;
        DWORD wait; // expected wait, 0 = none
    };
    struct SCase {
        const char* name;
        int mode, rate;
        std::vector<SStep> steps;
    };
    const std::vector<SCase> cases = {
        {"25 fps on time", 1, 25000, {{0, true, 0}, {0, true, 40}, {0, true, 40}, {20, true, 20}}},
        {"12.5 fps", 1, 12500, {{0, true, 0}, {0, true, 80}, {100, true, 0}, {0, true, 80}}},
        {"late by a frame", 1, 25000, {{0, true, 0}, {50, true, 0}, {0, true, 40}}},
        {"rate limit mode never waits", 2, 25000, {{0, true, 0}, {0, true, 0}}},
        {"not jpeg", 1, 25000, {{0, false, 10}, {0, false, 10}}},
        {"pacing off", 0, 25000, {{0, true, 10}}},
        {"no frame rate", 1, 0, {{0, true, 0}, {0, true, 0}}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CTestSource source;
        source.SetPacing(c.mode, c.rate);
        for (const SStep& s : c.steps) {
            source.mClock.Advance(s.advance);
            source.mClock.mWaits.clear();
            CMediaObj o;
            o.mVideoFormat = s.jpeg ? media_util::kVideoJpeg : media_util::kVideoMpeg4;
            source.PaceJpeg(&o);
            EXPECT_EQ(source.mClock.mWaits, s.wait ? std::vector<DWORD>{s.wait} : std::vector<DWORD>{});
        }
    }
    CTestSource idle;
    idle.PaceJpeg(nullptr);
    EXPECT_EQ(idle.mClock.mWaits, std::vector<DWORD>{30});
}

TEST(CMediaSourceTest, SettingsHandOverReturnsAfterTheWorkerAppliedThem) {
    CTestSource source;
    media_util::CMediaQueue queue(10);
    source.SetOutputQueue(&queue);
    ASSERT_EQ(source.Start(), 1);
    for (int mode : {7, 8, 30000}) {
        CSourceDesc desc;
        desc.mRequestMode = mode;
        source.UpdateSettings(&desc);
        EXPECT_EQ(source.AppliedRequestMode(), mode);
        EXPECT_EQ(desc.mRequestMode, mode);
    }
    // Another thread hands over while the worker is busy in a step.
    CSourceDesc other;
    other.mRequestMode = 42;
    std::thread owner([&] { source.UpdateSettings(&other); });
    owner.join();
    EXPECT_EQ(source.AppliedRequestMode(), 42);
    CSourceDesc back;
    source.GetSettings(&back);
    EXPECT_EQ(back.mRequestMode, 42);
    source.Stop();
}

TEST(CMediaSourceTest, SettingsHandOverEndsWhenTheWorkerStops) {
    class CStuck : public CTestSource {
    public:
        int Job() override {
            // A worker stuck in a long step never gets to apply settings.
            mEntered.Set();
            mStopEvent.Wait(INFINITE);
            return 0;
        }
        media_util::CManualEvent mEntered;
    } source;
    ASSERT_EQ(source.Start(), 1);
    ASSERT_TRUE(source.mEntered.Wait(10000));
    CSourceDesc desc;
    desc.mRequestMode = 5;
    auto done = std::async(std::launch::async, [&] { source.UpdateSettings(&desc); });
    source.NotifyStop();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    source.Stop();
    // Without a thread nothing blocks: the record waits for the first pass.
    CTestSource idle;
    CSourceDesc d;
    d.mRequestMode = 3;
    idle.UpdateSettings(&d);
    idle.Job();
    EXPECT_EQ(idle.AppliedRequestMode(), 3);
}

TEST(CMediaSourceTest, RequestModeChangeClearsTheQueue) {
    struct SCase {
        int from, to;
        bool cleared;
    };
    const std::vector<SCase> cases = {{30000, 0, true}, {0, 30000, false}, {1, 30000, true}, {5, 5, false}};
    for (const SCase& c : cases) {
        CTestSource source;
        media_util::CMediaQueue queue(10);
        source.SetOutputQueue(&queue);
        CSourceDesc desc;
        desc.mRequestMode = c.from;
        source.ApplySettings(&desc);
        queue.Enque(new CMediaObj);
        desc.mRequestMode = c.to;
        source.ApplySettings(&desc);
        EXPECT_EQ(queue.GetCount() == 0, c.cleared) << c.from << " -> " << c.to;
    }
}

// --- Frame kinds of real encoder output ---

std::string TempDir() {
    const char* dir = std::getenv("IPCAM_TEST_TMP");
    return dir != nullptr ? dir : "/tmp";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Picture types ffprobe reports, one letter per frame.
std::string PictureTypes(const std::string& path) {
    const std::string out = path + ".types";
    const std::string cmd =
        "ffprobe -v error -show_entries frame=pict_type -of csv=p=0 '" + path + "' > '" + out + "'";
    if (std::system(cmd.c_str()) != 0)
        return {};
    std::string types;
    for (char ch : ReadFile(out))
        if (ch >= 'A' && ch <= 'Z')
            types.push_back(ch);
    return types;
}

std::vector<size_t> StartCodes(const std::string& s) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 3 < s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1)
            at.push_back(i);
    return at;
}

TEST(CMediaSourceTest, Mpeg4KindsOfRealEncoderOutput) {
    const std::string path = TempDir() + "/source-tag.m4v";
    const std::string cmd =
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=320x240:rate=25 "
        "-frames:v 24 -c:v mpeg4 -g 8 -bf 0 -f m4v '" +
        path + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string stream = ReadFile(path);
    const std::string types = PictureTypes(path);
    ASSERT_EQ(types.size(), 24u);
    // Frames as the cameras send them: a key frame with its configuration
    // begins with the video-object code of id 1 (the encoder's visual-object
    // headers dropped), a plain frame with its VOP.
    std::vector<std::string> frames;
    const std::vector<size_t> codes = StartCodes(stream);
    size_t frameStart = 0;
    bool hasVop = false;
    for (size_t i = 0; i <= codes.size(); ++i) {
        const bool end = i == codes.size();
        const uint8_t code = end ? 0 : uint8_t(stream[codes[i] + 3]);
        if (end || (hasVop && (code == 0xB0 || code == 0xB6))) {
            std::string frame = stream.substr(frameStart, (end ? stream.size() : codes[i]) - frameStart);
            const size_t vo = frame.find(std::string("\x00\x00\x01\x00", 4));
            if (uint8_t(frame[3]) == 0xB0 && vo != std::string::npos)
                frame = std::string("\x00\x00\x01\x01", 4) + frame.substr(vo + 4);
            frames.push_back(frame);
            if (end)
                break;
            frameStart = codes[i];
            hasVop = false;
        }
        if (code == 0xB6)
            hasVop = true;
    }
    ASSERT_EQ(frames.size(), types.size());
    CTestSource source;
    for (size_t i = 0; i < frames.size(); ++i) {
        CMediaObj o;
        o.mVideoFormat = media_util::kVideoMpeg4;
        o.CopyData(frames[i].data(), int32_t(frames[i].size()));
        source.TagMediaObject(&o, o.mpData, o.mDataLength, 1);
        EXPECT_EQ(o.mFrameKind, types[i] == 'I' ? 1 : 4) << "frame " << i << " " << types[i];
        if (types[i] == 'I') {
            // The same intra picture without its configuration.
            const size_t vop = frames[i].find(std::string("\x00\x00\x01\xB6", 4));
            const std::string bare = frames[i].substr(vop);
            CMediaObj b;
            b.mVideoFormat = media_util::kVideoMpeg4;
            b.CopyData(bare.data(), int32_t(bare.size()));
            source.TagMediaObject(&b, b.mpData, b.mDataLength, 1);
            EXPECT_EQ(b.mFrameKind, 2);
        }
    }
}

TEST(CMediaSourceTest, QBoxKindsOfRealEncoderOutput) {
    const std::string path = TempDir() + "/source-tag.h264";
    const std::string cmd =
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=320x240:rate=25 "
        "-frames:v 24 -c:v libx264 -profile:v baseline -g 8 -bf 0 -threads 1 -f h264 '" +
        path + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string stream = ReadFile(path);
    const std::string types = PictureTypes(path);
    ASSERT_EQ(types.size(), 24u);
    // NAL units (payload after a 3-byte start code; a 4-byte one leaves a 0
    // at the end of the previous unit, which is dropped).
    std::vector<std::string> nals;
    const std::vector<size_t> codes = StartCodes(stream);
    for (size_t i = 0; i < codes.size(); ++i) {
        size_t end = i + 1 < codes.size() ? codes[i + 1] : stream.size();
        while (end > codes[i] + 3 && stream[end - 1] == 0)
            --end;
        nals.push_back(stream.substr(codes[i] + 3, end - codes[i] - 3));
    }
    const std::string sc("\x00\x00\x00\x01", 4);
    std::vector<std::string> frames;
    std::vector<bool> configured;
    std::string config, extra;
    for (const std::string& nal : nals) {
        const int type = nal[0] & 0x1F;
        if (type == 7 || type == 8) {
            config += sc + nal;
        } else if (type == 1 || type == 5) {
            const bool idr = type == 5;
            std::string frame;
            if (!config.empty())
                frame += QBox(0x03, config);
            frame += QBox(idr ? 0x06 : 0x02, extra + sc + nal);
            frames.push_back(frame);
            configured.push_back(!config.empty());
            config.clear();
            extra.clear();
        } else {
            extra += sc + nal;
        }
    }
    ASSERT_EQ(frames.size(), types.size());
    CTestSource source;
    for (size_t i = 0; i < frames.size(); ++i) {
        CMediaObj o;
        o.mVideoFormat = media_util::kVideoH264QBox;
        o.CopyData(frames[i].data(), int32_t(frames[i].size()));
        source.TagMediaObject(&o, o.mpData, o.mDataLength, 1);
        const int expected = types[i] == 'I' ? (configured[i] ? 1 : 2) : 4;
        EXPECT_EQ(o.mFrameKind, expected) << "frame " << i << " " << types[i];
    }
}

} // namespace
