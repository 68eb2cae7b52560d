// camsim's PTZ head and privacy masks, as a viewer's PTZ control and mask
// editor meet them over loopback: "qk310output" commands move the view at
// their speed until a stop, every command lands in the log with its arrival
// time, the pictures show the view (checked against the home picture decoded
// by FFmpeg) and the enabled masks, and a stream that replays pre-encoded
// pictures switches to live encoding and back without a frame a decoder
// cannot take.
#include "CamsimClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace {

using namespace camsimtest;

// Scene pixels a second per speed step, and zoom thousandths a second, as
// docs/camsim.md gives them.
constexpr double kPixelsPerStep = 10;
constexpr double kZoomPerSecond = 2000;
// How long a test lets a commanded motion run.
constexpr auto kRun = std::chrono::milliseconds(150);
// The JPEG device header (SOI, APP12 "IPCH"): time and sequence change per
// picture, the coded picture behind it does not in a still scene.
constexpr size_t kDeviceHeaderEnd = 66;

Values PtzState(uint16_t port, const std::string& query = "") {
    const std::string body = Body(port, "/camsim/ptz" + (query.empty() ? "" : "?" + query));
    std::string first = body.substr(0, body.find("\r\n"));
    for (char& c : first)
        if (c == ' ')
            c = '\n';
    return NameValues(first);
}

struct LogLine {
    int number = 0;
    double ms = 0;
    std::string status;
    std::string command;
};

std::vector<LogLine> PtzLog(uint16_t port, const std::string& query = "") {
    std::istringstream in(Body(port, "/camsim/ptz" + (query.empty() ? "" : "?" + query)));
    std::vector<LogLine> lines;
    std::string line;
    std::getline(in, line); // the state
    for (LogLine l; in >> l.number >> l.ms >> l.status >> l.command;)
        lines.push_back(l);
    return lines;
}

std::string Command(uint16_t port, const std::string& text) {
    return Body(port, "/vb.htm?qk310output=" + text);
}

// The luma of a JPEG picture as FFmpeg decodes it.
struct Gray {
    int width = 0;
    int height = 0;
    std::string pixels;
    int At(int x, int y) const { return static_cast<uint8_t>(pixels[static_cast<size_t>(y) * width + x]); }
};

Gray Decode(const std::string& jpeg, int width, int height) {
    static int serial = 0;
    const std::string name = "ptz" + std::to_string(++serial);
    const std::string in = WriteFile(name + ".jpg", jpeg);
    const std::string out = TempDir() + "/" + name + ".gray";
    Shell("ffmpeg -v error -y -i '" + in + "' -f rawvideo -pix_fmt gray '" + out + "' 2>&1");
    std::ifstream file(out, std::ios::binary);
    Gray g;
    g.pixels.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (g.pixels.size() == static_cast<size_t>(width) * height) {
        g.width = width;
        g.height = height;
    }
    return g;
}

// Mean difference between `view` and the home picture looked at through a
// view of (pan, tilt, zoom): the pattern repeats every width and height and
// is magnified around the centre. Rows and columns near the edges of the
// magnified pattern's repeat and the block of fine texture disagree by JPEG's
// smoothing alone, so the mean stays small for the right view.
double ViewError(const Gray& home, const Gray& view, int pan, int tilt, int zoom) {
    const int w = home.width;
    const int h = home.height;
    double sum = 0;
    int n = 0;
    for (int y = 8; y < h - 8; y += 3)
        for (int x = 8; x < w - 8; x += 3) {
            const int64_t sx =
                static_cast<int64_t>(std::floor(double(x - w / 2) * 1000 / zoom)) + w / 2 + pan;
            const int64_t sy =
                static_cast<int64_t>(std::floor(double(y - h / 2) * 1000 / zoom)) + h / 2 + tilt;
            const int hx = static_cast<int>(((sx % w) + w) % w);
            const int hy = static_cast<int>(((sy % h) + h) % h);
            sum += std::abs(view.At(x, y) - home.At(hx, hy));
            ++n;
        }
    return n ? sum / n : 1e9;
}

// A move command runs its motors at its speeds until the next command: the
// head stands where the speeds and the two arrival times in the log put it.
TEST(CamsimPtzTest, CommandsMoveTheHeadAtTheirSpeedUntilTheNext) {
    const uint16_t port = DevicePort("cam-jpeg-4608");
    const struct {
        const char* command;
        int pan, tilt, zoom; // direction per axis: +1 right / down / in
        int panSpeed, tiltSpeed;
    } cases[] = {
        {"A000123F3F", 1, 1, 0, 63, 63},   // right-down at full speed, as the bottom-right corner
        {"A0000A1F1F", 1, -1, 0, 31, 31},  // right-up at half speed
        {"A0000C3F3F", -1, -1, 0, 63, 63}, // left-up, the top-left corner
        {"A000140A00", -1, 1, 0, 10, 0},   // left-down, tilt speed 0
        {"A0000C0000", -1, -1, 0, 0, 0},   // a press at the centre: no speed
        {"A0000280FF", 1, 0, 0, 63, 0},    // speeds above 0x3F run at 0x3F
        {"A0002000FF", 0, 0, 1, 0, 0},     // the wheel forward: zoom in
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Get(port, "/camsim/ptz?home&clear");
        ASSERT_EQ("OK qk310output=" + std::string(c.command) + "\r\n", Command(port, c.command));
        const Values moving = PtzState(port);
        EXPECT_EQ(std::to_string(c.pan * c.panSpeed), moving.at("pan_speed"));
        EXPECT_EQ(std::to_string(c.tilt * c.tiltSpeed), moving.at("tilt_speed"));
        EXPECT_EQ(std::to_string(c.zoom), moving.at("zoom_speed"));
        std::this_thread::sleep_for(kRun); // the motion being measured, not a synchronisation
        ASSERT_EQ("OK qk310output=A000000000\r\n", Command(port, "A000000000"));
        const Values stopped = PtzState(port);
        const std::vector<LogLine> log = PtzLog(port);
        ASSERT_EQ(2u, log.size());
        const double seconds = (log[1].ms - log[0].ms) / 1000;
        EXPECT_GE(seconds, 0.1);
        EXPECT_NEAR(c.pan * c.panSpeed * kPixelsPerStep * seconds, std::stoi(stopped.at("pan")), 1.0);
        EXPECT_NEAR(c.tilt * c.tiltSpeed * kPixelsPerStep * seconds, std::stoi(stopped.at("tilt")), 1.0);
        EXPECT_NEAR(1000 + c.zoom * kZoomPerSecond * seconds, std::stoi(stopped.at("zoom")), 1.0);
        EXPECT_EQ("0 0 0",
                  stopped.at("pan_speed") + " " + stopped.at("tilt_speed") + " " + stopped.at("zoom_speed"));
        // Stopped means stopped: the position holds.
        EXPECT_EQ(stopped.at("pan") + " " + stopped.at("tilt") + " " + stopped.at("zoom"),
                  PtzState(port).at("pan") + " " + PtzState(port).at("tilt") + " " +
                      PtzState(port).at("zoom"));
    }
    // Zoom stays within its range: out from home goes nowhere.
    Get(port, "/camsim/ptz?home&clear");
    Command(port, "A00040FF00");
    std::this_thread::sleep_for(kRun);
    Command(port, "A000000000");
    EXPECT_EQ("1000", PtzState(port).at("zoom"));
    Get(port, "/camsim/device?reset");
}

// Every command that arrives is in the log, in order, with its arrival time
// and the status it was answered with: refused texts, the answers of a reply
// fault, and models without a head. "until" waits for commands, "since"
// skips those seen, "clear" starts the numbering again.
TEST(CamsimPtzTest, LogKeepsEveryCommandInOrderWithItsArrival) {
    const uint16_t port = DevicePort("cam-jpeg-4608");
    Get(port, "/camsim/device?reset");
    EXPECT_EQ("OK qk310output=A0002000FF\r\n", Command(port, "A0002000FF"));
    EXPECT_EQ("NG qk310output=A0002000F\r\n", Command(port, "A0002000F"));
    EXPECT_EQ("NG qk310output=B000000000\r\n", Command(port, "B000000000"));
    EXPECT_EQ("NG qk310output=A00000000G\r\n", Command(port, "A00000000G"));
    Get(port, "/camsim/device?reply=UA:qk310output");
    EXPECT_EQ("UA qk310output=A000000000\r\n", Command(port, "A000000000"));
    Get(port, "/camsim/device?reset=faults");
    // Two commands in one request are taken in their order.
    EXPECT_EQ("OK qk310output=A000000000\r\nOK qk310output=A0000A1F1F\r\n",
              Body(port, "/vb.htm?qk310output=A000000000&qk310output=A0000A1F1F"));

    const std::vector<LogLine> log = PtzLog(port, "until=7&timeout=2000");
    const char* expected[][2] = {{"OK", "A0002000FF"}, {"NG", "A0002000F"},  {"NG", "B000000000"},
                                 {"NG", "A00000000G"}, {"UA", "A000000000"}, {"OK", "A000000000"},
                                 {"OK", "A0000A1F1F"}};
    ASSERT_EQ(7u, log.size());
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(static_cast<int>(i) + 1, log[i].number);
        EXPECT_EQ(std::string(expected[i][0]) + " " + expected[i][1], log[i].status + " " + log[i].command);
        if (i > 0) {
            EXPECT_LE(log[i - 1].ms, log[i].ms);
        }
    }
    // The faulted stop was not taken: the zoom ran on until the next stop.
    const Values state = PtzState(port);
    EXPECT_EQ("3", state.at("taken"));
    EXPECT_EQ("7", state.at("logged"));
    EXPECT_NEAR(1000 + (log[5].ms - log[0].ms) * kZoomPerSecond / 1000, std::stoi(state.at("zoom")), 1.0);
    EXPECT_EQ("31 -31 0",
              state.at("pan_speed") + " " + state.at("tilt_speed") + " " + state.at("zoom_speed"));

    ASSERT_EQ(3u, PtzLog(port, "since=4").size());
    EXPECT_EQ(5, PtzLog(port, "since=4")[0].number);
    // A wait that no command ends answers after its time-out with what there is.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(7u, PtzLog(port, "until=8&timeout=200").size());
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(200));
    EXPECT_EQ(400, Get(port, "/camsim/ptz?until=x").status);
    EXPECT_EQ(400, Get(port, "/camsim/ptz?bogus").status);
    EXPECT_TRUE(PtzLog(port, "clear").empty());
    Command(port, "A000000000");
    EXPECT_EQ(1, PtzLog(port).at(0).number);

    // The other vendor's camera has no head of this family: NS, still logged.
    const uint16_t vendor = DevicePort("cam-vendor-61441");
    EXPECT_EQ("NS qk310output=A000123F3F\r\n",
              Body(vendor, "/axis-cgi/admin/getparam.cgi?qk310output=A000123F3F"));
    EXPECT_EQ("NS A000123F3F", PtzLog(vendor).at(0).status + " " + PtzLog(vendor).at(0).command);
    EXPECT_EQ("0", PtzState(vendor).at("taken"));
    Get(port, "/camsim/device?reset");
    Get(vendor, "/camsim/device?reset");
}

// The next pictures a stream sends from now on: a fresh connection, so that
// none of them was drawn before the caller's last command. Each is the coded
// picture behind the JPEG device header.
std::vector<std::string> Pictures(uint16_t port, size_t count) {
    StreamClient stream(port, "/ipcam/sjpeg.cgi?language=1&ch=1");
    std::vector<std::string> pictures;
    for (const Part& p : stream.Read(count, true))
        pictures.push_back(p.data.size() > kDeviceHeaderEnd ? p.data.substr(kDeviceHeaderEnd) : "");
    return pictures;
}

// A still scene: two pictures in a row are the same until the view moves;
// while it moves each differs from the last; once stopped they are the same
// again, and what they show is the home picture looked at through the view
// the head reports (pan and tilt shift it, zoom magnifies it).
TEST(CamsimPtzTest, PicturesShowTheViewAndHoldWhenItStops) {
    const uint16_t port = DevicePort("cam-jpeg-4608", {"--still"});
    Get(port, "/camsim/device?reset");
    const std::vector<std::string> home = Pictures(port, 2);
    ASSERT_EQ(2u, home.size());
    ASSERT_FALSE(home[0].empty());
    EXPECT_TRUE(home[0] == home[1]) << "a still scene changed by itself";

    Command(port, "A000123F3F");
    const std::vector<std::string> moving = Pictures(port, 2);
    ASSERT_EQ(2u, moving.size());
    EXPECT_TRUE(moving[0] != moving[1]) << "the picture stood still while the head moved";
    EXPECT_TRUE(home[0] != moving[1]);
    Command(port, "A000000000");
    const std::vector<std::string> stopped = Pictures(port, 2);
    ASSERT_EQ(2u, stopped.size());
    EXPECT_TRUE(stopped[0] == stopped[1]) << "the picture moved on after the stop";
    EXPECT_TRUE(home[0] != stopped[0]);

    const Values d = Describe("cam-jpeg-4608");
    const int w = std::stoi(d.at("width"));
    const int h = std::stoi(d.at("height"));
    const Gray homeGray = Decode("\xFF\xD8" + home[0], w, h);
    ASSERT_EQ(w, homeGray.width);
    Values s = PtzState(port);
    const Gray stoppedGray = Decode("\xFF\xD8" + stopped[0], w, h);
    const int pan = std::stoi(s.at("pan"));
    const int tilt = std::stoi(s.at("tilt"));
    EXPECT_GT(pan, 0);
    EXPECT_EQ(pan, tilt);
    EXPECT_LT(ViewError(homeGray, stoppedGray, pan, tilt, 1000), 6.0);
    EXPECT_GT(ViewError(homeGray, stoppedGray, 0, 0, 1000), 12.0);

    // Zoom in from there for a moment: the picture is magnified about its centre.
    Command(port, "A0002000FF");
    std::this_thread::sleep_for(kRun);
    Command(port, "A000000000");
    const std::vector<std::string> zoomed = Pictures(port, 1);
    ASSERT_EQ(1u, zoomed.size());
    s = PtzState(port);
    const int zoom = std::stoi(s.at("zoom"));
    EXPECT_GT(zoom, 1200);
    const Gray zoomedGray = Decode("\xFF\xD8" + zoomed[0], w, h);
    EXPECT_LT(ViewError(homeGray, zoomedGray, pan, tilt, zoom), 6.0);
    EXPECT_GT(ViewError(homeGray, zoomedGray, pan, tilt, 1000), 12.0);

    // Home again: the home picture, byte for byte.
    Get(port, "/camsim/ptz?home");
    const std::vector<std::string> back = Pictures(port, 1);
    ASSERT_EQ(1u, back.size());
    EXPECT_TRUE(home[0] == back[0]);
    Get(port, "/camsim/device?reset");
}

// A replayed stream (--preencode) leaves its clip while the view is away and
// comes back to it at home; each switch lands on a key frame with its
// configuration, so FFmpeg decodes the whole captured stream without an error
// and every part's frame, H.264 and MPEG-4 alike.
TEST(CamsimPtzTest, ReplayedStreamsSwitchToLiveAndBackAtKeyFrames) {
    for (const char* codec : {"h264", "mpeg4"}) {
        SCOPED_TRACE(codec);
        const uint16_t port =
            DevicePort("cam-jpeg-4608", {"--codec", codec, "--preencode", "12", "--fps", "25"});
        Get(port, "/camsim/device?reset");
        const bool h264 = std::string(codec) == "h264";
        StreamClient stream(port, h264 ? "/avc.cgi?language=1&ch=1" : "/ipcam/mpeg4.cgi?language=1&ch=1");
        std::string elementary;
        size_t parts = 0;
        auto take = [&](size_t count) {
            for (const Part& p : stream.Read(count, true)) {
                ++parts;
                if (!h264) {
                    elementary += p.data;
                    continue;
                }
                for (const Box& b : Boxes(p.data))
                    elementary += b.payload;
            }
        };
        take(7); // into the clip's loop, off its first frame
        Command(port, "A000043F00");
        take(6);
        Command(port, "A000000000");
        take(3);
        Get(port, "/camsim/ptz?home");
        take(8);
        ASSERT_EQ(24u, parts);
        const std::string file = WriteFile(std::string("switch.") + codec, elementary);
        const std::string format = h264 ? "h264" : "m4v";
        EXPECT_EQ("", Shell("ffmpeg -v error -f " + format + " -i '" + file + "' -f null - 2>&1"));
        EXPECT_EQ(std::to_string(parts), Probe(file, format).substr(Probe(file, format).rfind(',') + 1));
        Get(port, "/camsim/device?reset");
    }
}

// Privacy masks: an item written through "maskarea" replaces its mask in the
// list that "paratest=maskarealist.all" reads back, items outside the mask
// grid or the mask count are refused, and the device blanks every enabled
// mask in grey in its pictures.
TEST(CamsimPtzTest, MasksAreKeptReadBackAndBlankedInThePicture) {
    const uint16_t port = DevicePort("cam-jpeg-4608", {"--still"});
    Get(port, "/camsim/device?reset");
    const struct {
        const char* item;
        const char* status;
    } writes[] = {
        {"102010008020018", "OK"},  // mask 3 at (16, 8)-(32, 24), enabled
        {"000000000000000", "OK"},  // mask 1 cleared
        {"10300000001D013", "OK"},  // mask 4 (0, 0)-(29, 19): grid 44 x 30, inside
        {"1040000000000000", "NG"}, // 16 characters
        {"104000000000000", "NG"},  // index 4 of 4 masks
        {"2020000000000000", "NG"}, // enable digit 2
        {"10200000002C000", "NG"},  // x2 = 44, the grid's width
        {"10200000000001E", "NG"},  // y2 = 30
        {"102010000000000", "NG"},  // x1 > x2
        {"10200000000G000", "NG"},  // not hexadecimal
        {"1x2000000000000", "NG"},  // index not decimal
    };
    for (const auto& w : writes) {
        SCOPED_TRACE(w.item);
        EXPECT_EQ(std::string(w.status) + " maskarea=" + w.item + "\r\n",
                  Body(port, std::string("/vb.htm?maskarea=") + w.item));
    }
    // Another connection reads what was kept, in the devices' list form.
    EXPECT_EQ("OK supportmaskarea=1\r\nOK maxmaskarea=4\r\nOK maskareaxlimit=44\r\nOK maskareaylimit=30\r\n"
              "OK maskarealist.all=000000000000000;001000000000000;102010008020018;10300000001D013;\r\n",
              Body(port, "/vb.htm?supportmaskarea&paratest=maxmaskarea&paratest=maskareaxlimit&"
                         "paratest=maskareaylimit&paratest=maskarealist.all"));

    // Mask 3 covers cells 16..32 x 8..24 of 44 x 30: pixels 232..480 x 128..400
    // of 640 x 480; mask 4 cells 0..29 x 0..19: 0..436 x 0..320. Inside
    // either the picture is flat grey; outside them it keeps its pattern.
    const Values d = Describe("cam-jpeg-4608");
    const int w = std::stoi(d.at("width"));
    const int h = std::stoi(d.at("height"));
    StreamClient stream(port, "/ipcam/sjpeg.cgi?language=1&ch=1");
    std::vector<Part> parts = stream.Read(1, true);
    ASSERT_EQ(1u, parts.size());
    const Gray g = Decode(parts[0].data, w, h);
    ASSERT_EQ(w, g.width);
    // JPEG rings for a few pixels at a mask's edge: the counts keep 12
    // pixels away from them.
    auto near = [](int v, int lo, int hi) { return v > lo - 12 && v < hi + 12; };
    auto within = [](int v, int lo, int hi) { return v > lo + 12 && v < hi - 12; };
    int flat = 0, inside = 0, grey = 0, outside = 0;
    for (int y = 4; y < h - 4; y += 4)
        for (int x = 4; x < w - 4; x += 4) {
            const bool isGrey = std::abs(g.At(x, y) - 96) <= 3;
            if ((within(x, 232, 480) && within(y, 128, 400)) ||
                (within(x, -100, 436) && within(y, -100, 320))) {
                ++inside;
                flat += isGrey;
            } else if (!(near(x, 232, 480) && near(y, 128, 400)) && !(near(x, 0, 436) && near(y, 0, 320))) {
                ++outside;
                grey += isGrey;
            }
        }
    EXPECT_GT(inside, 1000);
    EXPECT_EQ(inside, flat);
    // The pattern passes through the masks' grey now and then, nowhere near
    // everywhere.
    EXPECT_GT(outside, 1000);
    EXPECT_LT(grey, outside / 5);
    Get(port, "/camsim/device?reset");
}

// A polled recorder shows the view too: its pictures move with the head.
TEST(CamsimPtzTest, PolledPicturesShowTheView) {
    const uint16_t port = DevicePort("dvr-jpeg-5124", {"--still", "--preencode", "2"});
    Get(port, "/camsim/device?reset");
    const std::string target = "/api.htm?op.liveimage=1";
    const std::string home = Body(port, target).substr(kDeviceHeaderEnd);
    ASSERT_FALSE(home.empty());
    Command(port, "A0000C3F3F");
    std::this_thread::sleep_for(kRun);
    Command(port, "A000000000");
    const std::string moved = Body(port, target).substr(kDeviceHeaderEnd);
    EXPECT_NE(home, moved);
    EXPECT_EQ(moved, Body(port, target).substr(kDeviceHeaderEnd));
    Get(port, "/camsim/ptz?home");
    EXPECT_EQ(home, Body(port, target).substr(kDeviceHeaderEnd));
    Get(port, "/camsim/device?reset");
}

} // namespace
