#include "source/CMultipartSource.h"

#include "DeviceJpeg.h"
#include "FakeStreamClient.h"
#include "platform/CMediaQueue.h"
#include "platform/Trace.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

using media_util::CMediaObj;
using media_util::CMediaQueue;

namespace {

std::string Part(const std::string& headers, const std::string& data) {
    return "--myboundary\r\n" + headers + "Content-Length: " + std::to_string(data.size()) + "\r\n\r\n" +
           data + "\r\n";
}

std::string Filler(size_t bytes, char seed = 'a') {
    std::string s(bytes, ' ');
    for (size_t i = 0; i < bytes; ++i)
        s[i] = static_cast<char>(seed + i % 23);
    return s;
}

// How reads are split.
enum class Split { kWhole, kByteByByte, kRandom };

struct SRig {
    SStreamScript script;
    CFakeSourceClock clock;
    CMediaQueue queue{1000};
    media_util::CManualEvent listener;
    CSourceDesc desc;
    std::unique_ptr<CMultipartSource> source = std::make_unique<CMultipartSource>();

    explicit SRig(Split split = Split::kWhole, unsigned seed = 0) {
        if (split == Split::kByteByByte)
            script.SplitEvery(1);
        else if (split == Split::kRandom)
            script.SplitRandomly(seed, 700);
        desc.SetUrlSource("http://127.0.0.1:8080/video.cgi", 1, "admin", "secret");
        desc.mClientKind = 1;
        desc.mpListener = &listener;
        desc.mPacingMode = CSourceDesc::kPacingRateLimit;
        source->SetClientFactory(MakeScriptedFactory(script));
        source->SetClock(&clock);
        source->SetOutputQueue(&queue);
    }
    void Add(const std::string& body) { script.connections.push_back({false, body}); }
    void Refuse(int times) {
        for (int i = 0; i < times; ++i)
            script.connections.push_back({true, {}});
    }
    // Starts the source as its thread would and runs passes until the script
    // is used up and the source lost its connection, or it stopped.
    void Run(int maxPasses = 100000) {
        ASSERT_TRUE(source->ApplySettings(&desc));
        source->Init();
        for (int i = 0; i < maxPasses && source->IsRunning(); ++i) {
            if (script.connections.empty() && !source->IsConnected())
                break;
            source->Job();
        }
    }
    std::vector<std::unique_ptr<CMediaObj>> Drain() {
        std::vector<std::unique_ptr<CMediaObj>> out;
        while (CMediaObj* o = queue.Deque())
            out.emplace_back(o);
        return out;
    }
    std::vector<uint32_t> Events() {
        std::vector<uint32_t> events;
        source->TakeEvents(events);
        return events;
    }
};

std::string DataOf(const CMediaObj& o) {
    if (o.mpData2 != nullptr)
        return std::string(reinterpret_cast<const char*>(o.mpData2), o.mDataLength2);
    return std::string(reinterpret_cast<const char*>(o.mpData), o.mDataLength);
}

// Every split of the same stream must give the same objects.
std::vector<std::pair<Split, unsigned>> Splits() {
    const unsigned seed = std::random_device{}();
    std::printf("random split seed: %u\n", seed);
    return {{Split::kWhole, 0}, {Split::kByteByByte, 0}, {Split::kRandom, seed}, {Split::kRandom, seed + 1}};
}

struct SHeaderCase {
    const char* name;
    std::string headers;
    std::function<void(const CMediaObj&)> check;
    std::vector<uint32_t> events;
};

TEST(CMultipartSourceTest, HeadersSetTheirFields) {
    const std::string mpeg4 = "Content-Type: image/mpeg4\r\n";
    const std::vector<SHeaderCase> cases = {
        {"jpeg on channel 2",
         "Content-Type: image/jpeg\r\nX-CH: 2\r\n",
         [](const CMediaObj& o) {
             EXPECT_EQ(o.mVideoFormat, 1000);
             EXPECT_EQ(o.mChannel, 2);
             EXPECT_EQ(o.mChannelMask, 0);
         },
         {}},
        {"mpeg4", mpeg4, [](const CMediaObj& o) { EXPECT_EQ(o.mVideoFormat, 1005); }, {}},
        {"avc",
         "Content-Type: image/avc\r\n",
         [](const CMediaObj& o) { EXPECT_EQ(o.mVideoFormat, 1010); },
         {}},
        {"PAL padded height",
         mpeg4 + "X-Resolution: 720*624\r\n",
         [](const CMediaObj& o) {
             EXPECT_EQ(o.mWidth, 720);
             EXPECT_EQ(o.mHeight, 576);
         },
         {}},
        {"NTSC padded height",
         mpeg4 + "X-Resolution: 640*504\r\n",
         [](const CMediaObj& o) {
             EXPECT_EQ(o.mWidth, 640);
             EXPECT_EQ(o.mHeight, 480);
         },
         {}},
        {"plain resolution",
         mpeg4 + "X-Resolution: 352*288\r\n",
         [](const CMediaObj& o) {
             EXPECT_EQ(o.mWidth, 352);
             EXPECT_EQ(o.mHeight, 288);
         },
         {}},
        {"alarm 17",
         mpeg4 + "X-CH: 3\r\nX-Alarm: 17\r\n",
         [](const CMediaObj& o) {
             EXPECT_EQ(o.mTagList, (std::vector<int32_t>{1, 3}));
         },
         {(2u << 24) | 1u, (2u << 24) | 3u}},
        {"alarm 10 before the channel header",
         mpeg4 + "X-Alarm: 10\r\nX-CH: 4\r\n",
         [](const CMediaObj& o) { EXPECT_EQ(o.mTagList, (std::vector<int32_t>{2})); },
         {(3u << 24) | 2u}},
        {"alarm 0",
         mpeg4 + "X-Alarm: 0\r\n",
         [](const CMediaObj& o) { EXPECT_TRUE(o.mTagList.empty()); },
         {}},
        {"tag", mpeg4 + "X-Tag: 5\r\n", [](const CMediaObj& o) { EXPECT_EQ(o.mFrameNumber, 5000); }, {}},
        {"tag masked to 21 bits",
         mpeg4 + "X-Tag: 2097157\r\n",
         [](const CMediaObj& o) { EXPECT_EQ(o.mFrameNumber, 5000); },
         {}},
        {"negative tag kept",
         mpeg4 + "X-Tag: -3\r\n",
         [](const CMediaObj& o) { EXPECT_EQ(o.mFrameNumber, -3); },
         {}},
        {"frame rate",
         mpeg4 + "X-Framerate: 25\r\n",
         [](const CMediaObj& o) { EXPECT_EQ(o.mFrameRate, 25000); },
         {}},
        {"frame rate masked",
         mpeg4 + "X-Framerate: 2097177\r\n",
         [](const CMediaObj& o) { EXPECT_EQ(o.mFrameRate, 25000); },
         {}},
        {"bit rate",
         mpeg4 + "X-Bitrate: 512000\r\n",
         [](const CMediaObj& o) { EXPECT_EQ(o.mSampleRate, 512000); },
         {}},
        {"channel letter A",
         mpeg4 + "X-CH: A\r\n",
         [](const CMediaObj& o) {
             EXPECT_EQ(o.mChannelMask, 3);
             EXPECT_EQ(o.mChannel, 1);
         },
         {}},
        {"channel letter B",
         mpeg4 + "X-CH: B2\r\n",
         [](const CMediaObj& o) {
             EXPECT_EQ(o.mChannelMask, 12);
             EXPECT_EQ(o.mChannel, 3);
         },
         {}},
        {"channel number", mpeg4 + "X-CH: 11\r\n", [](const CMediaObj& o) { EXPECT_EQ(o.mChannel, 11); }, {}},
        {"covert", mpeg4 + "X-Covert: 1\r\n", [](const CMediaObj& o) { EXPECT_EQ(o.mCovert, 1); }, {}},
        {"time",
         mpeg4 + "X-Time: 2024-02-29 13:14:15\r\n",
         [](const CMediaObj& o) {
             EXPECT_EQ(o.mTime.wYear, 2024);
             EXPECT_EQ(o.mTime.wMonth, 2);
             EXPECT_EQ(o.mTime.wDay, 29);
             EXPECT_EQ(o.mTime.wHour, 13);
             EXPECT_EQ(o.mTime.wSecond, 15);
         },
         {}},
        {"G726 audio",
         "Content-Type: audio/wav\r\nX-Codec: G726\r\n",
         [](const CMediaObj& o) {
             EXPECT_EQ(o.mAudioFormat, 2020);
             EXPECT_EQ(o.mAudioChannels, 1);
             EXPECT_EQ(o.mSampleRate, 8000);
             EXPECT_EQ(o.mBitsPerSample, 16);
             EXPECT_EQ(o.mVideoFormat, 0);
             EXPECT_EQ(o.mpData, nullptr);
         },
         {}},
        {"AAC audio",
         "X-Codec: AAC\r\n",
         [](const CMediaObj& o) {
             EXPECT_EQ(o.mAudioFormat, 2010);
             EXPECT_EQ(o.mAudioChannels, 2);
             EXPECT_EQ(o.mSampleRate, 44100);
             EXPECT_EQ(o.mBitsPerSample, 16);
         },
         {}},
        {"u-law audio",
         "X-Codec: U-LAW\r\n",
         [](const CMediaObj& o) { EXPECT_EQ(o.mAudioFormat, 2005); },
         {}},
        {"unknown headers ignored",
         mpeg4 + "X-Whatever: 12\r\ncontent-type: image/jpeg\r\n",
         [](const CMediaObj& o) { EXPECT_EQ(o.mVideoFormat, 1005); },
         {}},
    };
    const std::string data = Filler(1000);
    for (auto [split, seed] : Splits()) {
        for (const SHeaderCase& c : cases) {
            SCOPED_TRACE(c.name);
            SRig rig(split, seed);
            rig.Add("garbage\r\n" + Part(c.headers, data));
            rig.Run();
            auto objects = rig.Drain();
            ASSERT_EQ(objects.size(), 1u);
            EXPECT_EQ(DataOf(*objects[0]), data);
            c.check(*objects[0]);
            std::vector<uint32_t> events = rig.Events();
            events.erase(
                std::remove_if(events.begin(), events.end(), [](uint32_t e) { return (e & 0xFFFFFF) == 5; }),
                events.end());
            EXPECT_EQ(events, c.events);
        }
    }
}

TEST(CMultipartSourceTest, PartsWithoutCodecOrLengthAreNotDelivered) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"no codec", "--myboundary\r\nContent-Type: audio/wav\r\nContent-Length: 4\r\n\r\nabcd\r\n"},
        {"lower-case length",
         "--myboundary\r\nContent-Type: image/jpeg\r\ncontent-length: 4\r\n\r\nabcd\r\n"},
        {"length 0", "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: 0\r\n\r\n\r\n"},
        {"negative length", "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: -4\r\n\r\nabcd\r\n"},
        {"oversized length",
         "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: 2000000000\r\n\r\nab\r\n"},
        {"boundary in other case",
         "--MyBoundary\r\nContent-Type: image/jpeg\r\nContent-Length: 4\r\n\r\nabcd\r\n"},
        {"boundary with a suffix",
         "--myboundary--\r\nContent-Type: image/jpeg\r\nContent-Length: 4\r\n\r\nabcd\r\n"},
    };
    for (const auto& [name, stream] : cases) {
        SCOPED_TRACE(name);
        SRig rig;
        const std::string next = Filler(64, 'k');
        rig.Add(stream + Part("Content-Type: image/mpeg4\r\n", next));
        rig.Run();
        auto objects = rig.Drain();
        // The following part is still found.
        ASSERT_EQ(objects.size(), 1u);
        EXPECT_EQ(DataOf(*objects[0]), next);
    }
}

TEST(CMultipartSourceTest, StreamSplitsIntoTheSamePartsHoweverItIsRead) {
    // Garbage without line ends longer than the head buffer, a boundary-like
    // line, binary data that contains CR LF and a boundary text inside a
    // line, a waiting part, an over-long header line and a part that starts
    // right behind the previous data.
    std::string stream = std::string(5000, 'x') + "\r\n -myboundary\r\n--myboundar\r\n";
    std::vector<std::string> expected;
    std::string binary;
    for (int i = 0; i < 3000; ++i)
        binary.push_back(static_cast<char>(i * 7 % 256));
    binary += "\r\nxx--myboundary\r\n";
    expected.push_back(binary);
    stream += Part("Content-Type: image/mpeg4\r\nX-Tag: 1\r\n", binary);
    stream += Part("Content-Type: image/mpeg4\r\nX-Wait: 1\r\n", Filler(300, 'w'));
    expected.push_back(Filler(500, 'b'));
    stream += Part("Content-Type: image/mpeg4\r\nX-Tag: 2\r\n", expected.back());
    stream +=
        Part("Content-Type: image/mpeg4\r\nX-Long: " + std::string(1100, 'L') + "\r\n", Filler(40, 'z'));
    expected.push_back(Filler(3, 'c'));
    stream += "--myboundary\r\nContent-Type: image/mpeg4\r\nContent-Length: 3\r\n\r\n" + expected.back();
    expected.push_back(std::string(9000, 'd'));
    stream += Part("X-Codec: AAC\r\n", expected.back());

    for (auto [split, seed] : Splits()) {
        SCOPED_TRACE(static_cast<int>(split));
        SRig rig(split, seed);
        rig.Add(stream);
        rig.Run();
        auto objects = rig.Drain();
        ASSERT_EQ(objects.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(DataOf(*objects[i]), expected[i]) << "part " << i;
        EXPECT_LE(rig.source->GetBufferedCount(), CMultipartSource::kHeadBufferSize);
    }
}

TEST(CMultipartSourceTest, OversizedHeadsAndLongGarbageAreBounded) {
    std::string manyLines;
    for (size_t i = 0; i <= CMultipartSource::kMaxHeadLines; ++i)
        manyLines += "X-Line" + std::to_string(i) + ": 1\r\n";
    struct SCase {
        const char* name;
        std::string before;
    };
    const std::vector<SCase> cases = {
        {"too many header lines", Part("Content-Type: image/mpeg4\r\n" + manyLines, "skip")},
        {"a header line over the limit", Part("Content-Type: image/mpeg4\r\nX-Long: " +
                                                  std::string(CMultipartSource::kMaxHeaderLine, 'L') + "\r\n",
                                              "skip")},
        {"garbage over many reads", std::string(300000, 'g') + "\n" + std::string(300000, '\n')},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig;
        rig.Add(c.before + Part("Content-Type: image/mpeg4\r\n", "kept"));
        ASSERT_TRUE(rig.source->ApplySettings(&rig.desc));
        rig.source->Init();
        int passes = 0;
        while (rig.queue.GetCount() == 0 && rig.source->IsConnected() && passes < 10000) {
            rig.source->Step();
            ++passes;
            EXPECT_LE(rig.source->GetBufferedCount(), CMultipartSource::kHeadBufferSize);
        }
        auto objects = rig.Drain();
        ASSERT_EQ(objects.size(), 1u);
        EXPECT_EQ(DataOf(*objects[0]), "kept");
    }
    // A head just within the limits is read.
    std::string fewLines;
    for (size_t i = 2; i < CMultipartSource::kMaxHeadLines; ++i) // with Content-Type and Content-Length: 64
        fewLines += "X-Line" + std::to_string(i) + ": 1\r\n";
    SRig rig;
    rig.Add(Part("Content-Type: image/mpeg4\r\nX-Long: " +
                     std::string(CMultipartSource::kMaxHeaderLine - 8, 'L') + "\r\n",
                 "a") +
            Part("Content-Type: image/mpeg4\r\n" + fewLines, "b"));
    rig.Run();
    EXPECT_EQ(rig.Drain().size(), 2u);
}

TEST(CMultipartSourceTest, WaitingPartLeavesItsBytesBuffered) {
    SRig rig;
    const std::string waiting =
        "--myboundary\r\nContent-Type: image/jpeg\r\nX-Wait: 1\r\nContent-Length: 6\r\n\r\n";
    rig.Add(waiting + "abcdef\r\n" + Part("Content-Type: image/mpeg4\r\n", "next"));
    ASSERT_TRUE(rig.source->ApplySettings(&rig.desc));
    rig.source->Init();
    // The first pass reads the waiting part's head only; its data stays for
    // the next pass.
    EXPECT_EQ(rig.source->Step(), 0);
    EXPECT_EQ(rig.queue.GetCount(), 0);
    const size_t total = waiting.size() + 8 + Part("Content-Type: image/mpeg4\r\n", "next").size();
    EXPECT_EQ(rig.source->GetBufferedCount(),
              std::min(total, CMultipartSource::kHeadBufferSize) - waiting.size());
    EXPECT_EQ(rig.source->Step(), 1);
    auto objects = rig.Drain();
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(DataOf(*objects[0]), "next");
}

TEST(CMultipartSourceTest, RefusalStopsWithoutReconnecting) {
    struct SCase {
        std::string reply;
        bool refused;
    };
    const std::vector<SCase> cases = {
        {"NS ", true}, {"NS 0001\r\n", true}, {"NS 34567890123", true}, {"NS 345678901234", false},
        {"NS", false}, {"NSX1\r\n", false},   {"OK 1\r\n", false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.reply);
        SRig rig;
        rig.desc.mTemplate.mChannel = 3;
        rig.Add(c.reply);
        rig.Refuse(2);
        rig.Run(10);
        auto events = rig.Events();
        const bool stoppedEvent =
            std::count(events.begin(), events.end(), CMediaSource::PackEvent(-1, 3)) == 1;
        EXPECT_EQ(stoppedEvent, c.refused);
        EXPECT_EQ(!rig.source->IsRunning(), c.refused);
        // A refusal is final: no further connect.
        EXPECT_EQ(rig.script.connects == 1, c.refused);
        EXPECT_EQ(rig.queue.GetCount(), 0);
    }
}

TEST(CMultipartSourceTest, FailedReconnectsWaitLongerEachTime) {
    SRig rig;
    rig.Add(Part("Content-Type: image/mpeg4\r\n", "one"));
    rig.Refuse(24);
    rig.Add(Part("Content-Type: image/mpeg4\r\n", "two"));
    rig.Refuse(2);
    rig.Run();
    std::vector<DWORD> expected;
    for (DWORD d = 500; d <= 10000; d += 500)
        expected.push_back(d);
    expected.insert(expected.end(), {10000, 10000, 10000, 10000});
    // After a successful reconnect the delay starts over.
    expected.insert(expected.end(), {500, 1000});
    std::vector<DWORD> waits;
    for (DWORD w : rig.clock.mWaits)
        if (w >= 500)
            waits.push_back(w);
    EXPECT_EQ(waits, expected);
    EXPECT_EQ(rig.Drain().size(), 2u);
    // One failure-limit event per run of failures.
    auto events = rig.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), CMediaSource::PackEvent(5, 0)), 2);
}

TEST(CMultipartSourceTest, WithoutAutoRestartTheFirstFailedReconnectStops) {
    SRig rig;
    rig.desc.mAutoRestart = 0;
    rig.Add(Part("Content-Type: image/mpeg4\r\n", "one"));
    rig.Refuse(5);
    rig.Run();
    EXPECT_FALSE(rig.source->IsRunning());
    EXPECT_EQ(rig.script.connects, 2);
    auto events = rig.Events();
    EXPECT_EQ(events, (std::vector<uint32_t>{CMediaSource::PackEvent(5, 0)}));
}

TEST(CMultipartSourceTest, StopDuringReconnectDelayStopsWithEvent) {
    SRig rig;
    media_util::CManualEvent owner;
    rig.source->SetOwnerEvent(&owner);
    rig.Add(Part("Content-Type: image/mpeg4\r\n", "one"));
    rig.Refuse(5);
    owner.Set();
    rig.Run();
    EXPECT_FALSE(rig.source->IsRunning());
    auto events = rig.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), CMediaSource::PackEvent(-1, 0)), 1);
}

TEST(CMultipartSourceTest, Mpeg4FrameNumberFallingFarMeansRestartedStream) {
    struct SCase {
        int first, second;
        bool reconnect;
    };
    // X-Tag n gives frame number n * 1000.
    const std::vector<SCase> cases = {{5, 3, true},        {5, 4, false},       {5, 9, false},
                                      {-100, -2000, true}, {-100, -600, false}, {0, 5, false}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + " -> " + std::to_string(c.second));
        std::string traced;
        media_util::SetTraceSink(
            [](const char* text, void* sink) { *static_cast<std::string*>(sink) += text; }, &traced);
        SRig rig;
        const std::string h = "Content-Type: image/mpeg4\r\nX-Tag: ";
        rig.Add(Part(h + std::to_string(c.first) + "\r\n", "a") +
                Part(h + std::to_string(c.second) + "\r\n", "b") +
                Part(h + std::to_string(c.second + 1) + "\r\n", "c"));
        rig.Add(Part("Content-Type: image/mpeg4\r\n", "after"));
        rig.Run();
        auto objects = rig.Drain();
        std::string got;
        for (auto& o : objects)
            got += DataOf(*o);
        media_util::SetTraceSink(nullptr, nullptr);
        EXPECT_EQ(got, c.reconnect ? "aafter" : "abcafter");
        const int fall =
            (c.second > 0 ? c.second * 1000 : c.second) - (c.first > 0 ? c.first * 1000 : c.first);
        EXPECT_EQ(traced, c.reconnect ? "(inMediaObj->mFrameNumber - pLastMedia->mFrameNumber): " +
                                            std::to_string(fall) + "\n"
                                      : "");
        EXPECT_EQ(rig.script.connects, 2);
    }
}

TEST(CMultipartSourceTest, FormatChangeOnAChannelStopsTheSource) {
    struct SCase {
        const char* name;
        std::string second;
        bool stops;
    };
    const std::string first = "Content-Type: image/mpeg4\r\nX-CH: 2\r\nX-Resolution: 640*480\r\n";
    const std::vector<SCase> cases = {
        {"same", first, false},
        {"no resolution", "Content-Type: image/mpeg4\r\nX-CH: 2\r\n", false},
        {"new size", "Content-Type: image/mpeg4\r\nX-CH: 2\r\nX-Resolution: 720*576\r\n", true},
        {"padded height equals", "Content-Type: image/mpeg4\r\nX-CH: 2\r\nX-Resolution: 640*504\r\n", false},
        {"new codec", "Content-Type: image/avc\r\nX-CH: 2\r\nX-Resolution: 640*480\r\n", true},
        {"other channel", "Content-Type: image/mpeg4\r\nX-CH: 3\r\nX-Resolution: 720*576\r\n", false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig;
        rig.Add(Part(first, "a") + Part(c.second, "b"));
        rig.Run();
        auto objects = rig.Drain();
        EXPECT_EQ(objects.size(), c.stops ? 1u : 2u);
        EXPECT_EQ(!rig.source->IsRunning(), c.stops);
        auto events = rig.Events();
        EXPECT_EQ(std::count(events.begin(), events.end(), CMediaSource::PackEvent(-1, 2)), c.stops ? 1 : 0);
    }
}

TEST(CMultipartSourceTest, PredictedFramesTakeSizeAndRateOfTheirChannel) {
    SRig rig;
    const std::string key("\x00\x00\x01\xB6\x12rest", 9);
    const std::string predicted("\x00\x00\x01\xB6\x55rest", 9);
    rig.Add(Part("Content-Type: image/mpeg4\r\nX-Resolution: 704*624\r\nX-Framerate: 15\r\n"
                 "X-Time: 2023-01-02 03:04:05\r\n",
                 key) +
            Part("Content-Type: image/mpeg4\r\n", predicted));
    rig.Run();
    auto objects = rig.Drain();
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0]->mFrameKind, 2);
    EXPECT_EQ(objects[1]->mFrameKind, 4);
    EXPECT_EQ(objects[1]->mWidth, 704);
    EXPECT_EQ(objects[1]->mHeight, 576);
    EXPECT_EQ(objects[1]->mFrameRate, 15000);
    // A part without its own time has the stream's last one.
    EXPECT_EQ(objects[1]->mTime.wYear, 2023);
    EXPECT_EQ(objects[1]->mTime.wSecond, 5);
}

TEST(CMultipartSourceTest, JpegPartsAreTaggedFromTheirDeviceHeader) {
    SRig rig;
    SDeviceJpeg jpeg;
    jpeg.machineCode = 0x1200; // a camera: alarm bits 0 and 2 are tag 1
    jpeg.width = 1280;
    jpeg.height = 720;
    jpeg.sequence = 7;
    jpeg.alarm = 1;
    jpeg.totalBytes = 3000;
    rig.Add(Part("Content-Type: image/jpeg\r\nX-CH: 1\r\n", jpeg.Build()));
    rig.Run();
    auto objects = rig.Drain();
    ASSERT_EQ(objects.size(), 1u);
    const CMediaObj& o = *objects[0];
    EXPECT_EQ(o.mFrameKind, 2);
    EXPECT_EQ(o.mFrameNumber, 7000);
    EXPECT_EQ(o.mTime.wYear, 2025);
    EXPECT_EQ(o.mpData[28], 0);
    EXPECT_EQ(o.mpData[29], 0);
    EXPECT_EQ(o.mTagList, (std::vector<int32_t>{1}));
    EXPECT_EQ(o.mWidth, 1280);
    EXPECT_EQ(o.mHeight, 720);
}

TEST(CMultipartSourceTest, JpegSizeComesFromTheImageWhenPartsDoNotDescribeIt) {
    struct SCase {
        const char* name;
        std::string resolution; // X-Resolution of every part, empty for none
        std::vector<uint16_t> widths;
        size_t delivered;
    };
    const std::vector<SCase> cases = {
        {"no X-Resolution", "", {640, 640, 640}, 3},
        {"matching X-Resolution", "X-Resolution: 640*480\r\n", {640, 640, 640}, 3},
        {"image size changes", "", {640, 800, 800}, 2},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig;
        std::string stream;
        for (uint16_t width : c.widths) {
            SDeviceJpeg jpeg;
            jpeg.machineCode = 0x1200;
            jpeg.width = width;
            jpeg.height = 480;
            stream += Part("Content-Type: image/jpeg\r\n" + c.resolution, jpeg.Build());
        }
        rig.Add(stream);
        rig.Run();
        EXPECT_EQ(rig.Drain().size(), c.delivered);
        auto events = rig.Events();
        EXPECT_EQ(std::count(events.begin(), events.end(), CMediaSource::PackEvent(-1, 0)),
                  c.delivered == c.widths.size() ? 0 : 1);
    }
}

TEST(CMultipartSourceTest, ReadFailureMidPartReconnects) {
    SRig rig;
    const std::string whole = Part("Content-Type: image/mpeg4\r\n", Filler(5000));
    rig.Add(whole.substr(0, 3000)); // the peer goes away inside the data
    rig.Add(whole);
    rig.Run();
    auto objects = rig.Drain();
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(DataOf(*objects[0]), Filler(5000));
    EXPECT_EQ(rig.script.connects, 2);
    // The request goes to the stream URL's path each time.
    EXPECT_EQ(rig.script.paths, (std::vector<std::string>{"/video.cgi", "/video.cgi"}));
}

TEST(CMultipartSourceTest, EmptyUrlStopsAtInit) {
    SRig rig;
    rig.desc.mUrl.clear();
    ASSERT_TRUE(rig.source->ApplySettings(&rig.desc));
    rig.source->Init();
    EXPECT_FALSE(rig.source->IsRunning());
    EXPECT_EQ(rig.script.connects, 0);
}

} // namespace
