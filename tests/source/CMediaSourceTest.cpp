#include "source/CMediaSource.h"

#include "SourceTestKit.h"
#include "platform/CLockWrap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

namespace {

constexpr int kCamera = 0x1200, kVideoServer = 0x3004, kRecorder = 0x1404; // one model of each family

class CTestSource : public CMediaSource {
public:
    CTestSource() { SetClock(&mClock); }
    ~CTestSource() override { Stop(); }
    int Step() override { return mStopEvent.Wait(5), 0; }
    int AppliedRequestMode() {
        media_util::CLockWrap lock(mSettingsLock);
        return mRequestMode;
    }
    // Tags a copy of bytes as a frame of the format on the channel; a size
    // given is the stream's.
    std::unique_ptr<CMediaObj> Tag(int format, const std::string& bytes, int channel = 1, int width = 0,
                                   int height = 0) {
        auto o = std::make_unique<CMediaObj>();
        o->mVideoFormat = format;
        o->mWidth = width;
        o->mHeight = height;
        o->CopyData(bytes.data(), int32_t(bytes.size()));
        TagMediaObject(o.get(), o->mpData, o->mDataLength, channel);
        return o;
    }
    CFakeSourceClock mClock;
    using CMediaSource::mFrameRateCode;
    using CMediaSource::mMachineCode;
    using CMediaSource::mPacingMode;
};

TEST(CMediaSourceTest, EventListIsBoundedAndPacksChannels) {
    CTestSource source;
    for (int i = 1; i <= int(CMediaSource::kMaxEvents) + 1; ++i)
        source.PostEvent(i, 0);
    std::vector<uint32_t> events = TakeEvents(source);
    ASSERT_EQ(events.size(), CMediaSource::kMaxEvents);
    EXPECT_EQ(events.back(), CMediaSource::kMaxEvents);
    EXPECT_TRUE(TakeEvents(source).empty());
    const std::vector<std::tuple<int, int, uint32_t>> cases = {
        {3, 3, 0x02000003u},  {1, 0, 1u},           {1, 1, 1u},
        {-1, 2, 0x01FFFFFFu}, {5, 16, 0x0F000005u}, {0x1234567, 1, 0x234567u}};
    for (const auto& [code, channel, packed] : cases) {
        source.PostEvent(code, channel);
        EXPECT_EQ(TakeEvents(source), std::vector<uint32_t>{packed}) << code << " on " << channel;
    }
}

// A QBox box (big-endian size, "qbox", version/flags, H.264 sample type 2,
// sample flags, composition time), written here byte by byte.
std::string QBox(uint32_t flags, const std::string& payload) {
    std::string box;
    for (uint32_t v : {uint32_t(24 + payload.size()), 0x71626f78u, 0u, 0x00020000u, flags, 0u})
        for (int i = 3; i >= 0; --i)
            box.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return box + payload;
}

TEST(CMediaSourceTest, FrameKindsAtTheEdgesOfTheirCodes) {
    const int m4 = media_util::kVideoMpeg4, qb = media_util::kVideoH264QBox;
    const std::string vop("\x00\x00\x01\xB6", 4), nal("\x00\x00\x00\x01\x65\x88", 6);
    // The top two bits of a VOP's first byte: 00 intra, 01 predicted, 1x
    // bidirectional (never sent). Bare H.264 comes from key-frame-only devices.
    const std::vector<std::tuple<int, std::string, int>> cases = {
        {m4, vop + "\x3F", 2},
        {m4, vop + "\x40", 4},
        {m4, vop + "\x80", 0},
        {m4, vop, 0},
        {m4, std::string("\x00\x00\x01\xB3\x00", 5), 0},
        {m4, std::string("\x00\x00\x02\x01", 4), 0},
        {m4, std::string(2, '\0'), 0},
        {qb, QBox(0x01, nal), 0},
        {qb, QBox(0x04, nal), 0},
        {qb, nal + std::string(20, '\0'), 2},
        {qb, QBox(0x02, nal).substr(0, 18), 0}};
    for (const auto& [format, bytes, kind] : cases) {
        CTestSource source;
        EXPECT_EQ(source.Tag(format, bytes, 5)->mFrameKind, kind) << testing::PrintToString(bytes);
    }
}

TEST(CMediaSourceTest, JpegDeviceHeaderFieldsAndAlarms) {
    // Per family: whether the header's size is trusted (else the stream's is
    // written into the image), and alarm bytes with the tags they give, each
    // tag also an event.
    struct SCase {
        int machineCode;
        bool sizeFromHeader;
        std::vector<std::pair<int, const char*>> alarms;
    };
    const SCase cases[] = {{kCamera, true, {{5, "1"}, {31, "123"}, {8, "2"}, {32, ""}}},
                           {kVideoServer, false, {{1, "1"}, {2, "2"}, {4, ""}, {16, "3"}}},
                           {kRecorder, true, {{32, "1"}, {128, "2"}, {64, "3"}, {5, ""}}},
                           {0, false, {{1, "1"}}},
                           {CMediaSource::kMachineCodeOwnSize, false, {{5, "1"}}}};
    for (const SCase& c : cases)
        for (const auto& [alarm, tags] : c.alarms) {
            SCOPED_TRACE(std::to_string(c.machineCode) + " alarm " + std::to_string(alarm));
            CTestSource source;
            media_util::CManualEvent listener;
            CSourceDesc desc;
            desc.mpListener = &listener;
            source.ApplySettings(&desc);
            // Sequence 0x200007: 21 bits of it count.
            SDeviceJpeg jpeg{uint32_t(c.machineCode), 2026, 42, 1, uint8_t(alarm), 0x200007, 1920, 1080};
            auto o = source.Tag(media_util::kVideoJpeg, jpeg.Build(), 4, 704, 576);
            std::string expected =
                c.sizeFromHeader ? "video=1000 ch=4 w=1920 h=1080" : "video=1000 ch=4 w=704 h=576";
            expected += " fps=30000 kind=2 n=7000";
            std::vector<uint32_t> events;
            for (const char* tag = tags; *tag != '\0'; ++tag) {
                expected += std::string(" tag") + *tag;
                events.push_back(CMediaSource::PackEvent(*tag - '0', 4));
            }
            EXPECT_EQ(Describe(*o), expected);
            EXPECT_EQ(o->mTime.wYear * 100 + o->mTime.wSecond, 202642);
            EXPECT_EQ(o->mpData[28] | o->mpData[29], 0); // the checksum no longer holds once fields change
            EXPECT_EQ(o->mpData[36] | o->mpData[37] << 8, o->mWidth);
            EXPECT_EQ(o->mpData[38] | o->mpData[39] << 8, o->mHeight);
            EXPECT_EQ(TakeEvents(source), events);
            EXPECT_EQ(listener.IsSignalled() != 0, alarm != 0);
        }
}

TEST(CMediaSourceTest, JpegWithoutDeviceHeaderIsLeftIntact) {
    SDeviceJpeg plain, headed;
    plain.withHeader = false;
    headed.sequence = 9;
    // A plain image is a key frame of its own; the other vendor's camera
    // gets its channel only, whatever the image holds.
    const std::vector<std::tuple<int, std::string, std::string>> cases = {
        {0, plain.Build(), "video=1000 ch=2 fps=30000 kind=2"},
        {CMediaSource::kMachineCodePlainJpeg, headed.Build(), "video=1000 ch=2"}};
    for (const auto& [machineCode, image, described] : cases) {
        CTestSource source;
        source.mMachineCode = machineCode;
        auto o = source.Tag(media_util::kVideoJpeg, image, 2);
        EXPECT_EQ(Describe(*o), described);
        EXPECT_EQ(DataOf(*o), image);
    }
}

TEST(CMediaSourceTest, JpegFrameRateFromSequenceGaps) {
    // 30000 / gap (integer) * 3 / 2, capped at 30000, worked out by hand;
    // gaps of 30 and more give no estimate.
    const std::vector<std::pair<std::vector<uint32_t>, std::vector<int32_t>>> cases = {
        {{100, 102}, {30000, 22500}},       {{100, 103}, {30000, 15000}},
        {{100, 129}, {30000, 1551}},        {{100, 107}, {30000, 6427}},
        {{100, 130}, {30000, 30000}},       {{100, 50, 52}, {30000, 30000, 22500}},
        {{0, 2, 4}, {30000, 30000, 22500}}, {{100, 100}, {30000, 30000}}};
    for (const auto& [sequences, expected] : cases) {
        CTestSource source;
        std::vector<int32_t> rates;
        for (uint32_t seq : sequences) {
            SDeviceJpeg jpeg;
            jpeg.sequence = seq;
            rates.push_back(source.Tag(media_util::kVideoJpeg, jpeg.Build())->mFrameRate);
        }
        EXPECT_EQ(rates, expected) << testing::PrintToString(sequences);
    }
}

TEST(CMediaSourceTest, JpegSizeChangeOnAChannelStopsWithEvent) {
    // Channel 17 has no slot and is not tracked.
    for (auto [channel, width, stops] :
         {std::tuple{1, 640, false}, {1, 800, true}, {2, 800, false}, {17, 800, false}}) {
        SCOPED_TRACE(std::to_string(channel) + " " + std::to_string(width));
        CTestSource source;
        for (auto [ch, w] : {std::pair{1, 640}, {channel, width}}) {
            SDeviceJpeg jpeg;
            jpeg.width = uint16_t(w);
            jpeg.height = 480;
            source.Tag(media_util::kVideoJpeg, jpeg.Build(), ch);
        }
        EXPECT_EQ(TakeEvents(source),
                  stops ? std::vector<uint32_t>{CMediaSource::PackEvent(-1, 1)} : std::vector<uint32_t>{});
        EXPECT_EQ(!source.IsRunning(), stops);
        EXPECT_EQ(source.GetLastMedia(1).mWidth, stops ? 800 : 640);
    }
}

TEST(CMediaSourceTest, PaceJpegSpacesJpegFramesByTheirFrameTime) {
    // Per call: the clock's advance before it, whether the frame is JPEG
    // (else MPEG-4), and the wait expected (0: none). Only JPEG frames under
    // frame-time pacing wait: a wait after every other object would cap a
    // stream at a hundred objects a second.
    struct SCase {
        int mode, rate;
        std::vector<std::tuple<DWORD, bool, DWORD>> calls;
    };
    const std::vector<SCase> cases = {
        {1, 25000, {{0, true, 0}, {0, true, 40}, {0, true, 40}, {20, true, 20}}},
        {1, 12500, {{0, true, 0}, {0, true, 80}, {100, true, 0}, {0, true, 80}}},
        {1, 25000, {{0, true, 0}, {50, true, 0}, {0, true, 40}}},
        {2, 25000, {{0, true, 0}, {0, true, 0}}},
        {1, 25000, {{0, false, 0}, {0, false, 0}}},
        {0, 25000, {{0, true, 0}}},
        {1, 0, {{0, true, 0}, {0, true, 0}}}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.rate));
        CTestSource source;
        source.mPacingMode = c.mode;
        source.mFrameRateCode = c.rate;
        for (const auto& [advance, jpeg, wait] : c.calls) {
            source.mClock.mNow += advance;
            source.mClock.mWaits.clear();
            CMediaObj o;
            o.mVideoFormat = jpeg ? media_util::kVideoJpeg : media_util::kVideoMpeg4;
            source.PaceJpeg(&o);
            EXPECT_EQ(source.mClock.mWaits, wait ? std::vector<DWORD>{wait} : std::vector<DWORD>{});
        }
    }
}

TEST(CMediaSourceTest, SettingsHandOverWaitsForTheWorkerAndClearsStaleFrames) {
    class CStuck : public CTestSource {
    public:
        int Job() override {
            if (!mStuck)
                return CTestSource::Job();
            // A worker stuck in a long step never gets to apply settings.
            mEntered.Set();
            mStopEvent.Wait(INFINITE);
            return 0;
        }
        std::atomic<bool> mStuck{false};
        media_util::CManualEvent mEntered;
    } source;
    media_util::CMediaQueue queue(10);
    source.SetOutputQueue(&queue);
    ASSERT_EQ(source.Start(), 1);
    // A new request mode makes queued frames stale, unless nothing was asked
    // before (mode 0, idle).
    for (auto [mode, pacing, cleared] :
         {std::tuple{7, 0, false}, {7, 1, false}, {8, 1, true}, {0, 1, true}, {30000, 1, false}}) {
        queue.Enque(new CMediaObj);
        CSourceDesc desc;
        desc.mRequestMode = mode;
        desc.mPacingMode = pacing;
        // From another thread than the test's and the worker's.
        std::thread([&] { source.UpdateSettings(&desc); }).join();
        EXPECT_EQ(source.AppliedRequestMode(), mode);
        EXPECT_EQ(queue.GetCount() == 0, cleared) << mode;
        queue.Clear();
    }
    source.mStuck = true;
    ASSERT_TRUE(source.mEntered.Wait(10000));
    CSourceDesc desc;
    desc.mRequestMode = 5;
    auto done = std::async(std::launch::async, [&] { source.UpdateSettings(&desc); });
    source.NotifyStop();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    source.Stop();
}

TEST(CMediaSourceTest, FrameKindsOfRealEncoderOutput) {
    const char* tmp = std::getenv("IPCAM_TEST_TMP");
    const std::string dir = std::string(tmp != nullptr ? tmp : "/tmp") + "/source-kinds";
    const std::vector<std::tuple<const char*, const char*, int>> cases = {
        {"m4v", "mpeg4", media_util::kVideoMpeg4},
        {"h264", "libx264 -profile:v baseline -threads 1", media_util::kVideoH264QBox}};
    for (const auto& [ext, codec, format] : cases) {
        SCOPED_TRACE(ext);
        // One file per packet, and ffprobe's picture types of them all.
        const std::string run =
            "rm -rf " + dir + " && mkdir -p " + dir + " && cd " + dir +
            " && ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25 "
            "-frames:v 24 -g 8 -bf 0 -c:v " +
            codec + " -f image2 p%02d." + ext + " && cat p* > all." + ext +
            " && ffprobe -v error -show_entries frame=pict_type -of csv=p=0 all." + ext +
            " | tr -cd A-Z > types";
        ASSERT_EQ(std::system(run.c_str()), 0);
        auto read = [&dir](const std::string& name) {
            std::stringstream s;
            s << std::ifstream(dir + "/" + name, std::ios::binary).rdbuf();
            return s.str();
        };
        const std::string types = read("types");
        ASSERT_EQ(types.size(), 24u);
        CTestSource source;
        for (size_t i = 0; i < types.size(); ++i) {
            const std::string packet = read((i < 9 ? "p0" : "p") + std::to_string(i + 1) + "." + ext);
            // As the cameras send them: MPEG-4 key frames begin with the
            // video-object code of id 1 (the visual-object headers dropped);
            // H.264 parameter sets go in a configuration box before the
            // picture's box. Without the configuration a key frame is plain.
            std::string framed = packet, bare;
            if (format == media_util::kVideoMpeg4) {
                const size_t vo = packet.find(std::string("\x00\x00\x01\x00", 4));
                if (vo != std::string::npos) {
                    framed = std::string("\x00\x00\x01\x01", 4) + packet.substr(vo + 4);
                    bare = packet.substr(packet.find("\x00\x00\x01\xB6", 0, 4));
                }
            } else {
                const size_t idr = packet.find(std::string("\x00\x00\x01\x65", 4));
                framed = QBox(types[i] == 'I' ? 0x06 : 0x02, packet);
                if (idr != std::string::npos && idr > 0) {
                    bare = QBox(0x06, packet.substr(idr));
                    framed = QBox(0x03, packet.substr(0, idr)) + bare;
                }
            }
            EXPECT_EQ(source.Tag(format, framed)->mFrameKind, types[i] != 'I' ? 4
                                                              : bare.empty()  ? 2
                                                                              : 1)
                << "packet " << i << " " << types[i];
            if (!bare.empty()) {
                EXPECT_EQ(source.Tag(format, bare)->mFrameKind, 2) << "packet " << i;
            }
        }
    }
}

} // namespace
