// camsim's benchmark options (--size, --fps, --codec, --preencode) on models
// of every family: what the model then reports (its description and its
// parameter CGIs) is what it streams, at the rate it says, and pictures
// encoded once and replayed go out as fresh frames: numbers counting on,
// times moving, device headers rewritten, and every turn of an H.264 or
// MPEG-4 loop decodable on its own.
#include "CamsimClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

namespace {

using namespace camsimtest;

// How long part rates are measured.
constexpr auto kRateWindow = std::chrono::seconds(2);

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

const std::map<std::string, std::string> kTypes = {
    {"1000", "image/jpeg"}, {"1005", "image/mpeg4"}, {"1010", "image/avc"}};

// X-Time as milliseconds since the epoch, read as local time.
int64_t TimeMs(const std::string& text) {
    std::tm t{};
    int ms = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                    &t.tm_min, &t.tm_sec, &ms) != 7)
        return -1;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t)) * 1000 + ms;
}

// Video parts of `stream` per X-CH stamped within kRateWindow of the next
// one read. The stamps (X-Time, when camsim sent each part) are the clock, so
// a reader that falls behind and then reads a backlog at once counts the same.
std::map<std::string, int> PartsInWindow(StreamClient& stream) {
    std::map<std::string, int> parts;
    const std::vector<Part> first = stream.Read(1, true);
    if (first.empty())
        return parts;
    const int64_t end = TimeMs(first[0].Header("X-Time")) +
                        std::chrono::duration_cast<std::chrono::milliseconds>(kRateWindow).count();
    ++parts[first[0].Header("X-CH")];
    for (std::vector<Part> next; !(next = stream.Read(1, true)).empty();) {
        if (TimeMs(next[0].Header("X-Time")) >= end)
            break;
        ++parts[next[0].Header("X-CH")];
    }
    return parts;
}

// A model run with the options reports what it sends: codec, size and rate in
// its description and its CGIs, and the same in the parts' headers, the coded
// pictures and the JPEG device headers; a stream's parts come at the rate it
// says, per channel. Recorders keep their own codec, a dual-picture recorder's
// size is its whole picture, a padded recorder pads what it reports, the
// video-standard server's standard follows the rate, and the other vendor's
// camera keeps its one size whatever its path asks.
TEST(CamsimBenchmarkTest, ModelsStreamTheSizeRateAndCodecTheyAreGiven) {
    const struct {
        const char* model;
        const char* options;
        std::string target;
        const char* size;                                     // of every picture, "W*H"
        std::vector<std::pair<std::string, std::string>> cgi; // asked -> answered
        int channels = 1;  // streams: the channels taking turns on the connection
        bool rate = false; // measure the part rate
        const char* channelHeight = nullptr;
    } cases[] = {
        {"cam-jpeg-4608",
         "--size 1920x1080 --fps 25 --codec h264 --preencode 10",
         "/avc.cgi?language=1&ch=1",
         "1920*1080",
         {{"/vb.htm?supportavc&getavcxsize=1&getavcysize=1&videomode",
           "OK supportavc=1 OK getavcxsize=1920 OK getavcysize=1080 OK videomode=1"}},
         1,
         true},
        {"cam-mpeg4-4752",
         "--codec jpeg --size 320x240 --fps 10",
         "/ipcam/sjpeg.cgi?language=1&ch=1",
         "320*240",
         {{"/vb.htm?supportavc&getformat&getjpegxsize=1&getjpegysize=1&videomode",
           "OK supportavc=0 OK getformat=0 OK getjpegxsize=320 OK getjpegysize=240 OK videomode=0"}},
         1,
         true},
        {"cam-profile-5751",
         "--codec mpeg4 --size 800x600 --fps 15 --preencode 20",
         "/ipcam/stream.cgi?nowprofileid=1&ch=1",
         "800*600",
         {{"/ipcam/multiprofile.cgi?nowprofileid=1&streamvalid&getformat&getxsize&getysize",
           "OK streamvalid=1 OK getformat=1 OK getxsize=800 OK getysize=600"},
          {"/ipcam/multiprofile.cgi?nowprofileid=3&getformat&getxsize", "OK getformat=1 OK getxsize=800"},
          {"/vb.htm?videomode", "OK videomode=0"}},
         1,
         true},
        // Sixteen channels at 25 fps each on one connection: 400 parts a second.
        {"dvr-h264-8777",
         "--size 704x480 --fps 25 --preencode 5",
         "/avc.cgi?op.liveimage=1111111111111111",
         "704*480",
         {{"/api.htm?getavcxsize=16&getavcysize=16&getavcxsize=1", "OK getavcxsize=704 OK getavcysize=480 OK "
                                                                   "getavcxsize=704"}},
         16,
         true},
        {"dvr-h264-5138",
         "--size 1280x730 --fps 20",
         "/avc.cgi?op.liveimage=0011",
         "1280*730",
         {{"/api.htm?getavcxsize=1&getavcysize=1", "OK getavcxsize=1280 OK getavcysize=730"}},
         1,
         false,
         "360"},
        {"dvr-h264-8776",
         "--size 720x576 --fps 10",
         "/avc.cgi?op.liveimage=1",
         "720*576",
         {{"/api.htm?getavcxsize=1&getavcysize=1", "OK getavcxsize=720 OK getavcysize=624"}}},
        {"cam-vendor-61441",
         "--size 640x360 --fps 12",
         "/axis-cgi/mjpg/video.cgi?resolution=320x240",
         "640*360",
         {{"/axis-cgi/admin/getparam.cgi?resolution", "OK resolution=640x360"}},
         1,
         true},
        {"cam-fixed-36865",
         "--codec h264 --size 1280x720 --preencode 3",
         "/ipcam/avc.cgi?language=1",
         "1280*720",
         {}},
        {"dvr-jpeg-5124", "--size 1920x1080 --preencode 5", "/api.htm?op.liveimage=1", "1920*1080", {}},
        {"dvr-jpeg-65540", "--size 704x490", "/api.htm?op.liveimage=1", "704*490", {}, 1, false, "240"},
        {"vs-jpeg-12292", "--fps 30", "/dms01", "352*240", {{"/getstate?value=ntsc", "0"}}},
        {"vs-jpeg-12292", "--size 640x480 --fps 25", "/dms02", "640*480", {{"/getstate?value=ntsc", "1"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.options);
        const Values d =
            NameValues(Camsim(std::string("--device ") + c.model + " " + c.options + " --describe"));
        const std::string type = kTypes.at(d.at("video_codec"));
        EXPECT_EQ(c.size, d.at("width") + "*" + d.at("height"));
        EXPECT_EQ(c.channelHeight ? c.channelHeight : d.at("height"), d.at("channel_height"));
        const uint16_t port = DevicePort(c.model, Words(c.options));
        for (const auto& q : c.cgi)
            EXPECT_EQ(Words(q.second), Words(Body(port, q.first))) << q.first;
        if (d.at("receive_type") == "2") {
            const Answer a = Get(port, c.target);
            EXPECT_NE(std::string::npos, a.head.find("Content-Type: " + type + "\r\n"));
            EXPECT_EQ(c.size, JpegFrameSize(a.body));
            EXPECT_EQ(c.size, DeviceHeader(a.body).substr(DeviceHeader(a.body).rfind(' ') + 1));
            continue;
        }
        const std::string fps = std::to_string(Number(d, "frame_rate") / 1000);
        StreamClient stream(port, c.target);
        const std::vector<Part> parts = stream.Read(2 * static_cast<size_t>(c.channels), true);
        ASSERT_EQ(2u * c.channels, parts.size());
        for (const Part& p : parts) {
            EXPECT_EQ(type, p.Header("Content-Type"));
            EXPECT_EQ(c.size, p.Header("X-Resolution"));
            EXPECT_EQ(fps, p.Header("X-Framerate"));
            if (d.at("jpeg_device_header") == "1" && type == "image/jpeg") {
                EXPECT_EQ(c.size, DeviceHeader(p.data).substr(DeviceHeader(p.data).rfind(' ') + 1));
            }
        }
        EXPECT_EQ(c.size, CodedSize(parts[0]));
        if (!c.rate)
            continue;
        // Every channel at the rate said, within a tenth and a frame.
        const int expected = std::stoi(fps) * static_cast<int>(kRateWindow.count());
        const std::map<std::string, int> counted = PartsInWindow(stream);
        EXPECT_EQ(static_cast<size_t>(c.channels), counted.size());
        for (const auto& kv : counted) {
            SCOPED_TRACE("X-CH " + kv.first);
            EXPECT_NEAR(expected, kv.second, expected / 10 + 1);
        }
    }
}

// A replayed picture goes out as a new frame. Per channel: frame numbers 1,
// 2, 3, ... and times that move on through every turn of the loop, the JPEG
// device header saying the same; the pictures repeat after N (so they are
// replayed) but not from one frame to the next. An H.264 or MPEG-4 loop
// starts with a key frame and its configuration, the CTS counts on across
// turns, and the frames from the second turn on decode without the first.
TEST(CamsimBenchmarkTest, ReplayedFramesAreFresh) {
    const struct {
        const char* model;
        std::vector<std::string> options;
        std::string target;
        size_t n;         // pictures in the loop
        int channels = 1; // taking turns on the connection
    } cases[] = {
        {"cam-jpeg-4608", {"--preencode", "4", "--fps", "30"}, "/ipcam/sjpeg.cgi?language=1&ch=1", 4},
        {"cam-vendor-61441",
         {"--preencode", "3", "--fps", "30"},
         "/axis-cgi/mjpg/video.cgi?resolution=160x120",
         3},
        {"cam-profile-5751", {"--preencode", "5", "--fps", "30"}, "/ipcam/stream.cgi?nowprofileid=1", 5},
        {"cam-mpeg4-4752", {"--preencode", "6", "--fps", "30"}, "/ipcam/mpeg4.cgi?language=1&ch=1", 6},
        {"dvr-h264-8775", {"--preencode", "4", "--fps", "30"}, "/avc.cgi?op.liveimage=11", 4, 2},
        {"dvr-jpeg-5124", {"--preencode", "3"}, "/api.htm?op.liveimage=10", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        const uint16_t port = DevicePort(c.model, c.options);
        const size_t count = 3 * c.n + 1;
        std::map<std::string, std::vector<Part>> channels;
        const bool polled = c.target.compare(0, 5, "/api.") == 0;
        if (polled) {
            // One picture per request, walking the channel's loop; its
            // numbers are those of its device header.
            for (size_t i = 0; i < count; ++i) {
                Part p;
                p.data = Body(port, c.target);
                ASSERT_GE(p.data.size(), 66u);
                char time[32];
                std::snprintf(time, sizeof(time), "%04u-%02u-%02u %02u:%02u:%02u.%03u", Le16(p.data, 14),
                              p.data[16], p.data[17], p.data[18], p.data[19], p.data[20], Le16(p.data, 22));
                p.headers = {{"X-Tag", std::to_string(Le32(p.data, 30))},
                             {"X-Time", time},
                             {"Content-Type", "image/jpeg"}};
                channels[""].push_back(p);
            }
        } else {
            StreamClient stream(port, c.target);
            for (const Part& p : stream.Read(count * static_cast<size_t>(c.channels), true))
                channels[p.Header("X-CH")].push_back(p);
        }
        ASSERT_EQ(static_cast<size_t>(c.channels), channels.size());
        for (const auto& kv : channels) {
            SCOPED_TRACE("X-CH " + kv.first);
            const std::vector<Part>& parts = kv.second;
            ASSERT_EQ(count, parts.size());
            const std::string type = parts[0].Header("Content-Type");
            const bool header = DeviceHeader(parts[0].data) != "none";
            // What stays the same when a picture is replayed: the bytes after
            // the device header, the QBoxes' payloads and flags.
            auto picture = [&](const Part& p) {
                if (type == "image/avc") {
                    std::string boxes;
                    for (const Box& b : Boxes(p.data))
                        boxes += std::to_string(b.flags) + ":" + b.payload;
                    return boxes;
                }
                return header ? p.data.substr(66) : p.data;
            };
            std::string elementary;
            uint32_t lastCts = 0;
            uint32_t firstTag = static_cast<uint32_t>(std::stoul(parts[0].Header("X-Tag")));
            for (size_t i = 0; i < parts.size(); ++i) {
                SCOPED_TRACE(i);
                const Part& p = parts[i];
                EXPECT_EQ(std::to_string(firstTag + i), p.Header("X-Tag"));
                if (i >= 1) {
                    EXPECT_LE(TimeMs(parts[i - 1].Header("X-Time")), TimeMs(p.Header("X-Time")));
                }
                if (header && !polled) {
                    EXPECT_EQ(firstTag + i, Le32(p.data, 30));
                    EXPECT_EQ(static_cast<uint32_t>(std::atoi(p.Header("X-Time").c_str())), Le16(p.data, 14));
                    EXPECT_EQ(static_cast<uint32_t>(TimeMs(p.Header("X-Time")) % 1000), Le16(p.data, 22));
                }
                if (i + c.n < parts.size()) {
                    EXPECT_TRUE(picture(p) == picture(parts[i + c.n])) << "replayed after " << c.n;
                    EXPECT_FALSE(picture(p) == picture(parts[i + 1])) << "the same as the next";
                }
                if (type == "image/avc") {
                    const std::vector<Box> boxes = Boxes(p.data);
                    ASSERT_FALSE(boxes.empty());
                    const uint32_t cts = Be32(p.data, 20);
                    EXPECT_TRUE(i == 0 || cts > lastCts) << cts << " after " << lastCts;
                    lastCts = cts;
                    std::vector<uint32_t> flags;
                    for (const Box& b : boxes)
                        flags.push_back(b.flags);
                    if (i % c.n == 0) {
                        EXPECT_EQ((std::vector<uint32_t>{3, 6}), flags)
                            << "a loop starts with its configuration";
                    }
                    if (i >= c.n)
                        for (const Box& b : boxes)
                            elementary += b.payload;
                } else if (type == "image/mpeg4") {
                    if (i % c.n == 0) {
                        EXPECT_EQ(std::string("\x00\x00\x01\x01", 4), p.data.substr(0, 4));
                    }
                    if (i >= c.n)
                        elementary += p.data;
                }
            }
            // Frames and time go on: the last part is well past the first
            // turn of the loop.
            if (!polled) {
                EXPECT_GE(TimeMs(parts.back().Header("X-Time")) - TimeMs(parts[0].Header("X-Time")),
                          static_cast<int64_t>(count - 1) * 1000 / 30 / 2);
            }
            if (!elementary.empty()) {
                const bool avc = type == "image/avc";
                const std::string probed =
                    Probe(WriteFile(avc ? "turns.264" : "turns.m4v", elementary), avc ? "h264" : "m4v");
                EXPECT_EQ(std::to_string(count - c.n), probed.substr(probed.rfind(',') + 1)) << probed;
            }
        }
    }
}

} // namespace
