// The multipart receiver against a scripted device: every stream is also
// read byte by byte and in random pieces (the seed is printed), and must
// split into the same parts.
#include "source/CMultipartSource.h"

#include "SourceTestKit.h"
#include "platform/Trace.h"

#include <gtest/gtest.h>

#include <climits>

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

const std::string kMpeg4 = "Content-Type: image/mpeg4\r\n";

struct SRig : SSourceRig<CMultipartSource> {
    explicit SRig(std::function<size_t()> piece = nullptr)
        : SSourceRig("http://127.0.0.1:8080/video.cgi", 1, "secret") {
        script.piece = std::move(piece);
        desc.mPacingMode = CSourceDesc::kPacingRateLimit;
    }
    void Add(const std::string& body) { script.answers.push_back(Ok(body)); }
    void Refuse(int times) { script.answers.insert(script.answers.end(), times, Refused()); }
    // Runs passes as the worker would until the script is used up and the
    // connection lost, or the source stopped.
    void Run(int maxPasses = 100000) {
        Start();
        for (int i = 0; i < maxPasses && source.IsRunning(); ++i) {
            if (script.answers.empty() && !source.IsConnected())
                break;
            source.Job();
        }
    }
};

// Reads whole, byte by byte, and in two runs of random pieces.
std::vector<std::function<size_t()>> Splits() {
    const unsigned seed = std::random_device{}();
    std::printf("random split seed: %u\n", seed);
    return {nullptr, [] { return size_t(1); }, RandomPieces(seed, 700), RandomPieces(seed + 1, 700)};
}

TEST(CMultipartSourceTest, HeadersSetTheirFields) {
    struct SCase {
        std::string headers;
        std::string object;
        std::vector<uint32_t> events; // besides the failure-limit one of the closing stream
    };
    auto ev = [](int code, int channel) { return CMediaSource::PackEvent(code, channel); };
    const std::vector<SCase> cases = {
        {"Content-Type: image/jpeg\r\nX-CH: 2\r\n", "video=1000 ch=2 fps=30000 kind=2", {}},
        {"Content-Type: image/avc\r\n", "video=1010 kind=2", {}},
        {kMpeg4 + "X-Resolution: 720*624\r\n", "video=1005 w=720 h=576", {}},
        {kMpeg4 + "X-Resolution: 640*504\r\n", "video=1005 w=640 h=480", {}},
        {kMpeg4 + "X-Resolution: 352*288\r\n", "video=1005 w=352 h=288", {}},
        {kMpeg4 + "X-CH: 3\r\nX-Alarm: 17\r\n", "video=1005 ch=3 tag1 tag3", {ev(1, 3), ev(3, 3)}},
        {kMpeg4 + "X-Alarm: 10\r\nX-CH: 4\r\n", "video=1005 ch=4 tag2", {ev(2, 4)}},
        {kMpeg4 + "X-Alarm: 0\r\n", "video=1005", {}},
        {kMpeg4 + "X-Tag: 2097157\r\n", "video=1005 n=5000", {}},
        {kMpeg4 + "X-Tag: -3\r\n", "video=1005 n=-3", {}},
        {kMpeg4 + "X-Framerate: 2097177\r\n", "video=1005 fps=25000", {}},
        {kMpeg4 + "X-Bitrate: 512000\r\nX-Covert: 1\r\n", "video=1005 rate=512000 covert=1", {}},
        {kMpeg4 + "X-CH: A\r\n", "video=1005 ch=1 mask=3", {}},
        {kMpeg4 + "X-CH: B2\r\n", "video=1005 ch=3 mask=12", {}},
        {kMpeg4 + "X-CH: 11\r\n", "video=1005 ch=11", {}},
        {"Content-Type: audio/wav\r\nX-Codec: G726\r\n", "audio=2020 ach=1 rate=8000 bits=16", {}},
        {"X-Codec: AAC\r\n", "audio=2010 ach=2 rate=44100 bits=16", {}},
        {"X-Codec: U-LAW\r\n", "audio=2005", {}},
        {kMpeg4 + "X-Whatever: 12\r\ncontent-type: image/jpeg\r\n", "video=1005", {}}};
    const std::string data = Filler(1000);
    for (const auto& split : Splits()) {
        for (const SCase& c : cases) {
            SCOPED_TRACE(c.headers);
            SRig rig(split);
            rig.Add("garbage\r\n" + Part(c.headers, data));
            rig.Run();
            auto objects = Drain(rig.queue);
            ASSERT_EQ(objects.size(), 1u);
            EXPECT_EQ(DataOf(*objects[0]), data);
            EXPECT_EQ(Describe(*objects[0]), c.object);
            std::vector<uint32_t> events = TakeEvents(rig.source);
            events.erase(std::remove(events.begin(), events.end(), ev(5, 0)), events.end());
            EXPECT_EQ(events, c.events);
        }
    }
}

TEST(CMultipartSourceTest, AnAlarmOfAJpegFrameIsReportedOnce) {
    // A camera's JPEG part may carry its alarm twice: in X-Alarm and in the
    // image's own header. Each alarm is tagged and posted once per frame.
    auto ev = [](int code) { return CMediaSource::PackEvent(code, 1); };
    struct SCase {
        const char* header; // X-Alarm value, or none
        uint8_t imageAlarm;
        std::string tags;
        std::vector<uint32_t> events;
    };
    const std::vector<SCase> cases = {{"5", 5, " tag1", {ev(1)}},
                                      {nullptr, 5, " tag1", {ev(1)}},
                                      {"1", 0, " tag1", {ev(1)}},
                                      {"2", 1, " tag2 tag1", {ev(2), ev(1)}},
                                      {"17", 16, " tag1 tag3", {ev(1), ev(3)}}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.header != nullptr ? c.header : "none");
        SDeviceJpeg image;
        image.alarm = c.imageAlarm;
        SRig rig;
        rig.desc.mTemplate.mChannel = 1;
        rig.Add(Part(std::string("Content-Type: image/jpeg\r\nX-CH: 1\r\n") +
                         (c.header != nullptr ? std::string("X-Alarm: ") + c.header + "\r\n" : ""),
                     image.Build()));
        rig.Run();
        auto objects = Drain(rig.queue);
        ASSERT_EQ(objects.size(), 1u);
        std::string tags;
        for (int32_t tag : objects[0]->mTagList)
            tags += " tag" + std::to_string(tag);
        EXPECT_EQ(tags, c.tags);
        std::vector<uint32_t> events = TakeEvents(rig.source);
        events.erase(std::remove(events.begin(), events.end(), CMediaSource::PackEvent(5, 1)), events.end());
        EXPECT_EQ(events, c.events);
    }
}

TEST(CMultipartSourceTest, StreamSplitsIntoTheSamePartsHoweverItIsRead) {
    std::string binary; // holding CR LF and the boundary text
    for (int i = 0; i < 3000; ++i)
        binary.push_back(static_cast<char>(i * 7 % 256));
    binary += "\r\nxx--myboundary\r\n";
    auto lines = [](size_t count) {
        std::string s;
        for (size_t i = 0; i < count; ++i)
            s += "X-Line" + std::to_string(i) + ": 1\r\n";
        return s;
    };
    // Header lines of exactly the limit and one byte over it, line end not counted.
    const std::string longestLine =
        "X-Long: " + std::string(CMultipartSource::kMaxHeaderLine - 8, 'L') + "\r\n";
    const std::string longLine = "X-Long: " + std::string(CMultipartSource::kMaxHeaderLine - 7, 'L') + "\r\n";
    const std::string jpeg = "Content-Type: image/jpeg\r\n", head = "--myboundary\r\n" + jpeg;
    const size_t maxLines = CMultipartSource::kMaxHeadLines; // Content-Type and Content-Length count
    // A text in the stream and what it delivers; each is followed by a part
    // that must be found behind it.
    const std::vector<std::pair<std::string, std::string>> segments = {
        {std::string(5000, 'x') + "\r\n -myboundary\r\n--myboundar\r\n", ""},
        {Part(kMpeg4 + "X-Tag: 1\r\n", binary), binary},
        // A waiting part's data is not read: a boundary right behind its head counts.
        {Part(kMpeg4 + "X-Wait: 1\r\n", Part(kMpeg4, "inner")), "inner"},
        {"--myboundary\r\n" + kMpeg4 + "Content-Length: 3\r\n\r\nccc", "ccc"}, // no line end behind the data
        {Part("X-Codec: AAC\r\n", Filler(9000, 'd')), Filler(9000, 'd')},
        {"--myboundary\r\nContent-Type: audio/wav\r\nContent-Length: 4\r\n\r\nabcd\r\n", ""},
        {head + "content-length: 4\r\n\r\nabcd\r\n", ""},
        {head + "Content-Length: 0\r\n\r\n\r\n", ""},
        {head + "Content-Length: -4\r\n\r\nabcd\r\n", ""},
        {head + "Content-Length: 2000000000\r\n\r\nab\r\n", ""},
        {"--MyBoundary\r\n" + jpeg + "Content-Length: 4\r\n\r\nabcd\r\n", ""},
        {"--myboundary--\r\n" + jpeg + "Content-Length: 4\r\n\r\nabcd\r\n", ""},
        {Part(kMpeg4 + lines(maxLines - 1), "first"), ""},
        {Part(kMpeg4 + lines(maxLines - 2), "first"), "first"},
        {Part(kMpeg4 + longLine, "first"), ""},
        {Part(kMpeg4 + longestLine, "first"), "first"},
        // One byte under the limit: a line of exactly the limit is dropped
        // when its line end arrives in a later read than its text.
        {Part(kMpeg4 + longLine.substr(9), "first"), "first"},
        {std::string(300000, 'g') + "\n" + std::string(300000, '\n'), ""}};
    std::string stream;
    std::vector<std::string> expected;
    for (size_t i = 0; i < segments.size(); ++i) {
        stream += segments[i].first + Part(kMpeg4, "next" + std::to_string(i));
        if (!segments[i].second.empty())
            expected.push_back(segments[i].second);
        expected.push_back("next" + std::to_string(i));
    }
    const auto splits = Splits();
    for (size_t i = 0; i < splits.size(); ++i) {
        SCOPED_TRACE("split " + std::to_string(i));
        SRig rig(splits[i]);
        rig.Add(stream);
        rig.Start();
        for (int passes = 0; rig.source.IsConnected() && passes < 1000000; ++passes) {
            rig.source.Step();
            ASSERT_LE(rig.source.GetBufferedCount(), CMultipartSource::kHeadBufferSize);
        }
        // Compared by name where the data is long, to keep failures readable.
        auto name = [](const std::string& data) {
            return data.size() > 8 ? std::to_string(data.size()) + " bytes" : data;
        };
        std::vector<std::string> got, want;
        for (auto& o : Drain(rig.queue))
            got.push_back(name(DataOf(*o)));
        for (const std::string& data : expected)
            want.push_back(name(data));
        EXPECT_EQ(got, want);
    }
}

TEST(CMultipartSourceTest, RefusalAndFailedReconnectsEndTheSourceOrNot) {
    // The device's first reply, then two refused connects. "NS " with up to
    // 11 more bytes is a refusal: final, no reconnect. Otherwise the failed
    // reconnect posts the failure limit and ends the source only without
    // auto-restart or when the owner stops it (here during the pause before
    // the next attempt, which is then not made). Events are for the channel
    // of the description (3).
    struct SCase {
        std::string reply;
        bool autoRestart, ownerStops;
        std::vector<uint32_t> events;
        int connects; // at most 10 passes
    };
    const uint32_t stopped = CMediaSource::PackEvent(-1, 3), limit = CMediaSource::PackEvent(5, 3);
    const std::vector<SCase> cases = {{"NS ", true, false, {stopped}, 1},
                                      {"NS 34567890123", true, false, {stopped}, 1},
                                      {"NS 345678901234", true, false, {limit}, 3},
                                      {"NS", true, false, {limit}, 3},
                                      {"NSX1\r\n", true, false, {limit}, 3},
                                      {"OK 1\r\n", true, false, {limit}, 3},
                                      {Part(kMpeg4, "one"), false, false, {limit}, 2},
                                      {Part(kMpeg4, "one"), true, true, {stopped}, 1}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.reply);
        SRig rig;
        media_util::CManualEvent owner;
        rig.source.SetOwnerEvent(&owner);
        if (c.ownerStops)
            owner.Set();
        rig.desc.mAutoRestart = c.autoRestart;
        rig.desc.mTemplate.mChannel = 3;
        rig.Add(c.reply);
        rig.Refuse(2);
        rig.Run(10);
        auto events = TakeEvents(rig.source);
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(rig.source.IsRunning() != 0, c.events.back() == limit && c.autoRestart);
        EXPECT_EQ(rig.script.connects, c.connects);
    }
}

TEST(CMultipartSourceTest, FailedReconnectsWaitLongerEachTime) {
    SRig rig;
    rig.Add(Part(kMpeg4, "one"));
    rig.Refuse(24);
    rig.Add(Part(kMpeg4, "two"));
    rig.Refuse(2);
    rig.Run();
    // 500, 1000, ... up to 10000 ms, then 10000 on; after a stream that
    // delivered the delay starts over. The first attempt after a lost stream
    // waits until 500 ms have passed since the previous one.
    std::vector<DWORD> expected{500};
    for (DWORD d = 500; d <= 10000; d += 500)
        expected.push_back(d);
    expected.insert(expected.end(), {10000, 10000, 10000, 10000, 500, 500, 1000});
    std::vector<DWORD> waits;
    std::copy_if(rig.clock.mWaits.begin(), rig.clock.mWaits.end(), std::back_inserter(waits),
                 [](DWORD w) { return w >= 500; });
    EXPECT_EQ(waits, expected);
    EXPECT_EQ(Drain(rig.queue).size(), 2u);
    // One failure-limit event per run of failures.
    auto events = TakeEvents(rig.source);
    EXPECT_EQ(std::count(events.begin(), events.end(), CMediaSource::PackEvent(5, 0)), 2);
}

TEST(CMultipartSourceTest, RestartsAndFormatChangesMidStream) {
    // A restarted MPEG-4 stream (frame number falling by more than 1000) and
    // a dropped connection reconnect; a new size or codec on a channel stops
    // the source for the owner to rebuild the decoder.
    auto tag = [](int n, const char* data) {
        return Part(kMpeg4 + "X-Tag: " + std::to_string(n) + "\r\n", data);
    };
    auto jpeg = [](uint16_t width, const std::string& headers) {
        SDeviceJpeg image;
        image.width = width;
        image.height = 480;
        return Part("Content-Type: image/jpeg\r\nX-CH: 2\r\n" + headers, image.Build());
    };
    const std::string ch2 = kMpeg4 + "X-CH: 2\r\n", first = Part(ch2 + "X-Resolution: 640*480\r\n", "a");
    struct SCase {
        std::string stream; // of the first connection; the second sends "after"
        std::string got;    // JPEG parts as J
        bool stops;         // with an event for channel 2, else reconnects once
        int fall;           // traced frame-number fall, 0 for none
    };
    const std::vector<SCase> cases = {
        {tag(5, "a") + tag(3, "b") + tag(4, "c"), "aafter", false, -2000},
        {tag(5, "a") + tag(4, "b") + tag(5, "c"), "abcafter", false, 0},
        {tag(5, "a") + tag(9, "b") + tag(10, "c"), "abcafter", false, 0},
        {tag(-100, "a") + tag(-2000, "b") + tag(-1999, "c"), "aafter", false, -1900},
        {tag(5, "a") + tag(0, "b") + tag(6, "c"), "abcafter", false, 0},
        // Numbers from the device whose difference leaves 32 bits.
        {tag(2000000, "a") + tag(-2000000000, "b"), "aafter", false, INT32_MIN},
        {Part(kMpeg4, Filler(5000)).substr(0, 3000), "after", false, 0},
        {first + Part(ch2 + "X-Resolution: 640*480\r\n", "b"), "abafter", false, 0},
        {first + Part(ch2, "b"), "abafter", false, 0},
        {first + Part(ch2 + "X-Resolution: 720*576\r\n", "b"), "a", true, 0},
        {first + Part("Content-Type: image/avc\r\nX-CH: 2\r\nX-Resolution: 640*480\r\n", "b"), "a", true, 0},
        {first + Part(kMpeg4 + "X-CH: 3\r\nX-Resolution: 720*576\r\n", "b"), "abafter", false, 0},
        {jpeg(640, "") + jpeg(640, ""), "JJafter", false, 0},
        {jpeg(640, "X-Resolution: 640*480\r\n") + jpeg(640, "X-Resolution: 640*480\r\n"), "JJafter", false,
         0},
        {jpeg(640, "") + jpeg(800, ""), "JJ", true, 0}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.stream.substr(0, 100));
        std::string traced;
        media_util::SetTraceSink(
            [](const char* text, void* sink) { *static_cast<std::string*>(sink) += text; }, &traced);
        SRig rig;
        rig.Add(c.stream);
        rig.Add(Part(kMpeg4, "after"));
        rig.Run();
        media_util::SetTraceSink(nullptr, nullptr);
        std::string got;
        for (auto& o : Drain(rig.queue))
            got += o->mVideoFormat == media_util::kVideoJpeg ? "J" : DataOf(*o);
        EXPECT_EQ(got, c.got);
        EXPECT_EQ(traced, c.fall == 0 ? ""
                                      : "(inMediaObj->mFrameNumber - pLastMedia->mFrameNumber): " +
                                            std::to_string(c.fall) + "\n");
        EXPECT_EQ(!rig.source.IsRunning(), c.stops);
        auto events = TakeEvents(rig.source);
        EXPECT_EQ(std::count(events.begin(), events.end(), CMediaSource::PackEvent(-1, 2)), c.stops ? 1 : 0);
        // Each connection asks the stream URL's path.
        EXPECT_EQ(rig.script.requests, std::vector<std::string>(c.stops ? 1 : 2, "/video.cgi"));
    }
}

TEST(CMultipartSourceTest, AnswersThatCarryNoStreamAreFailedAttempts) {
    // Each row is what the device answers to every request. Anything that
    // does not deliver a part head is a failed attempt: the wait grows, the
    // failure limit reaches the owner once, and nothing is delivered. A
    // device that delivers a part per connection and closes is asked again
    // after 500 ms each time, with no failure.
    const std::string page = "<html><body>Camera</body></html>\r\n";
    struct SCase {
        const char* name;
        SAnswer answer;
        std::vector<DWORD> waits; // of 500 ms and more, over the first six requests
        int limitEvents;
    };
    // A refused attempt made at start-up is followed by the 500 ms that
    // separate any two attempts, then each failed attempt waits longer; an
    // answer that opened waits as soon as it shows itself not to be a stream.
    const std::vector<DWORD> refused = {500, 500, 1000, 1500, 2000, 2500};
    const std::vector<DWORD> growing = {500, 1000, 1500, 2000, 2500};
    const std::vector<SCase> cases = {
        {"401", SAnswer{"Unauthorized", false, 401}, refused, 1},
        {"404 page", SAnswer{page, false, 404}, refused, 1},
        {"500", SAnswer{"", false, 500}, refused, 1},
        {"200 web page", Ok(page), growing, 1},
        {"200 endless line", Ok(std::string(CMultipartSource::kMaxScanBytes + 4096, 'g')), growing, 1},
        {"200 endless lines", Ok(std::string(CMultipartSource::kMaxScanBytes + 4096, '\n')), growing, 1},
        {"one part each", Ok(Part(kMpeg4, "one")), {500, 500, 500, 500, 500}, 0}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig;
        rig.script.handler = [&](const std::string&) { return c.answer; };
        rig.Start();
        for (int i = 0; i < 1000 && rig.script.requests.size() < 6; ++i)
            rig.source.Job();
        std::vector<DWORD> waits;
        std::copy_if(rig.clock.mWaits.begin(), rig.clock.mWaits.end(), std::back_inserter(waits),
                     [](DWORD w) { return w >= 500; });
        EXPECT_EQ(waits, c.waits);
        EXPECT_EQ(Drain(rig.queue).size(), c.limitEvents == 0 ? 5u : 0u);
        auto events = TakeEvents(rig.source);
        EXPECT_EQ(std::count(events.begin(), events.end(), CMediaSource::PackEvent(5, 0)), c.limitEvents);
        EXPECT_TRUE(rig.source.IsRunning());
    }
}

TEST(CMultipartSourceTest, OversizedPartsAreNeverTaken) {
    // A part above the limit is searched through for the next boundary: a
    // length that lies finds the next part at once, a part that is as long as
    // it says is passed over whole. One at the limit is taken.
    const int32_t limit = CMultipartSource::kMaxPartBytes;
    const std::string big = std::string(size_t(limit) + 1, 'd');
    auto announced = [](int64_t length, const std::string& data) {
        return "--myboundary\r\n" + kMpeg4 + "Content-Length: " + std::to_string(length) + "\r\n\r\n" + data +
               "\r\n";
    };
    struct SCase {
        const char* name;
        std::string stream;
        std::vector<size_t> sizes; // of the parts delivered
        int64_t skipped;
    };
    const std::vector<SCase> cases = {
        {"a lie", announced(int64_t(limit) + 1, "short") + Part(kMpeg4, "next"), {4}, 1},
        {"true length", announced(int64_t(limit) + 1, big) + Part(kMpeg4, "next"), {4}, 1},
        {"at the limit", Part(kMpeg4, big.substr(1)) + Part(kMpeg4, "next"), {size_t(limit), 4}, 0}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig;
        rig.Add(c.stream);
        rig.Run();
        std::vector<size_t> sizes;
        for (auto& o : Drain(rig.queue))
            sizes.push_back(DataOf(*o).size());
        EXPECT_EQ(sizes, c.sizes);
        EXPECT_EQ(rig.source.GetSkippedParts(), c.skipped);
    }
}

TEST(CMultipartSourceTest, PredictedFramesTakeSizeRateAndTimeOfTheirChannel) {
    SRig rig;
    rig.Add(Part(kMpeg4 + "X-Resolution: 704*624\r\nX-Framerate: 15\r\nX-Time: 2024-02-29 13:14:15\r\n",
                 std::string("\x00\x00\x01\xB6\x12rest", 9)) +
            Part(kMpeg4, std::string("\x00\x00\x01\xB6\x55rest", 9)));
    rig.Run();
    auto objects = Drain(rig.queue);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(Describe(*objects[0]), "video=1005 w=704 h=576 fps=15000 kind=2");
    EXPECT_EQ(Describe(*objects[1]), "video=1005 w=704 h=576 fps=15000 kind=4");
    for (const auto& o : objects) {
        const SYSTEMTIME& t = o->mTime;
        EXPECT_EQ(std::vector<int>({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond}),
                  std::vector<int>({2024, 2, 29, 13, 14, 15}));
    }
}

} // namespace
