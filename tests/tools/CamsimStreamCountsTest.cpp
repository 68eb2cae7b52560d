// camsim's count of the media connections it serves, read through its control
// CGI ("/camsim/control?streams"): what the viewer's tests rely on to see how
// many streams a viewer holds open. Each case runs its own camsim, so that the
// totals start at zero and every line of the answer is known.
#include "CamsimClient.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace camsimtest;

// The count lines of a control answer as "WHAT" -> "OPEN/TOTAL" ("streams",
// "polls", "stream /avc.cgi", "poll /dms02"); the status line left out.
std::map<std::string, std::string> Counts(uint16_t port, const std::string& query) {
    std::map<std::string, std::string> counts;
    std::istringstream lines(Body(port, "/camsim/control?" + query));
    for (std::string line; std::getline(lines, line);) {
        const size_t open = line.find(" open=");
        const size_t total = line.find(" total=");
        if (open == std::string::npos || total == std::string::npos || line.compare(0, 3, "OK ") == 0)
            continue;
        counts[line.substr(0, open)] = line.substr(open + 6, total - open - 6) + "/" +
                                       line.substr(total + 7, line.find('\r') - total - 7);
    }
    return counts;
}

// A stream counts from its head until its client goes, whatever the stream
// is doing then: sending, waiting a second for its next frame, or stalled. A
// poll counts once it is answered. Refused requests are no streams or polls.
TEST(CamsimStreamCountsTest, OpenAndTotalFollowClients) {
    const struct {
        const char* device;
        std::vector<std::string> options;
        const char* target;
        std::string counted; // the line of the path
    } cases[] = {
        {"cam-jpeg-4608", {}, "/ipcam/sjpeg.cgi?language=1&ch=1", "stream /ipcam/sjpeg.cgi"},
        // At 1 fps a client that goes right after a frame is seen going
        // while the stream waits, not at the next frame's write a second later.
        {"dvr-h264-8777", {"--fps", "1"}, "/avc.cgi?op.liveimage=11", "stream /avc.cgi"},
        {"dvr-h264-5138", {}, "/api.htm?op.liveimage=0011", "stream /api.htm"},
        {"cam-vendor-61441",
         {"--fault", "stallafter=1"},
         "/axis-cgi/mjpg/video.cgi?resolution=160x120",
         "stream /axis-cgi/mjpg/video.cgi"},
        {"dvr-jpeg-5136", {}, "/api.htm?op.liveimage=1", "poll /api.htm"},
        {"vs-jpeg-12292", {}, "/dms02skip_pn", "poll /dms02"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.target);
        std::vector<std::string> args = {"--device", c.device};
        args.insert(args.end(), c.options.begin(), c.options.end());
        CamsimProcess camsim(args);
        ASSERT_TRUE(camsim.Ok());
        const uint16_t port = camsim.Port();
        using Map = std::map<std::string, std::string>;
        EXPECT_EQ((Map{{"streams", "0/0"}, {"polls", "0/0"}}), Counts(port, "streams"));
        const std::string path = c.counted.substr(c.counted.find(' ') + 1);
        if (c.counted.compare(0, 5, "poll ") == 0) {
            for (int i = 0; i < 3; ++i)
                ASSERT_EQ(200, Get(port, c.target).status);
            EXPECT_EQ((Map{{"streams", "0/0"}, {"polls", "0/3"}, {c.counted, "0/3"}}),
                      Counts(port, "streams"));
        } else {
            auto a = std::make_unique<StreamClient>(port, c.target);
            ASSERT_EQ(1u, a->Read(1).size());
            EXPECT_EQ((Map{{"streams", "1/1"}, {"polls", "0/0"}, {c.counted, "1/1"}}),
                      Counts(port, "streams"));
            auto b = std::make_unique<StreamClient>(port, c.target);
            ASSERT_EQ(1u, b->Read(1).size());
            EXPECT_EQ((Map{{"streams", "2/2"}, {"polls", "0/0"}, {c.counted, "2/2"}}),
                      Counts(port, "streams"));
            a.reset();
            EXPECT_EQ((Map{{"streams", "1/2"}, {"polls", "0/0"}, {c.counted, "1/2"}}),
                      Counts(port, "until=1&timeout=500"));
            b.reset();
            EXPECT_EQ((Map{{"streams", "0/2"}, {"polls", "0/0"}, {c.counted, "0/2"}}),
                      Counts(port, "until=0&path=" + path + "&timeout=500"));
        }
        const Map before = Counts(port, "streams");
        ASSERT_EQ(200, Get(port, "/camsim/control?refuse").status);
        EXPECT_EQ("NS stream\r\n", Body(port, c.target));
        EXPECT_EQ(before, Counts(port, "reset&streams"));
    }
}

// A wait names a number and at most 30 s; one that is not met answers when
// its time is up, with the counts as they are.
TEST(CamsimStreamCountsTest, WaitsAreBoundedAndCheckedForSense) {
    CamsimProcess camsim({});
    ASSERT_TRUE(camsim.Ok());
    const struct {
        const char* query;
        int status;
        int atLeastMs; // the answer comes no sooner
    } cases[] = {
        {"streams", 200, 0},
        {"until=0", 200, 0},
        {"until=1&timeout=300", 200, 300},
        {"until=1&path=/avc.cgi&timeout=200", 200, 200},
        {"until=x", 400, 0},
        {"until=-1", 400, 0},
        {"until=1&timeout=30001", 400, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        const auto start = std::chrono::steady_clock::now();
        const Answer a = Get(camsim.Port(), std::string("/camsim/control?") + c.query);
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        EXPECT_EQ(c.status, a.status);
        EXPECT_GE(took.count(), c.atLeastMs);
        EXPECT_LT(took.count(), c.atLeastMs + 5000);
        EXPECT_EQ(c.status == 200,
                  a.body.find("\r\nstreams open=0 total=0\r\npolls open=0 total=0\r\n") != std::string::npos)
            << a.body;
    }
}

} // namespace

namespace {

// "kick" ends the streams open now once the same request's switches are in
// force: a reconnecting client meets them, a stream opened afterwards is not
// ended by the kick before it.
TEST(CamsimStreamCountsTest, KickEndsOpenStreamsUnderNewSwitches) {
    CamsimProcess camsim({"--device", "cam-jpeg-4608"});
    ASSERT_TRUE(camsim.Ok());
    const uint16_t port = camsim.Port();
    const std::string target = "/ipcam/sjpeg.cgi?language=1&ch=1";
    StreamClient before(port, target);
    ASSERT_EQ(2u, before.Read(2).size());
    ASSERT_EQ(0u, Body(port, "/camsim/control?dropafter=3&kick").find("OK "));
    before.Read(1000);
    EXPECT_TRUE(before.Closed());
    StreamClient after(port, target);
    EXPECT_EQ(3u, after.Read(10).size());
    EXPECT_TRUE(after.Closed());
    ASSERT_EQ(0u, Body(port, "/camsim/control?reset").find("OK "));
    StreamClient again(port, target);
    EXPECT_EQ(5u, again.Read(5).size());
    EXPECT_FALSE(again.Closed());
    EXPECT_NE(std::string::npos,
              Body(port, "/camsim/control?streams").find("stream /ipcam/sjpeg.cgi open=1 total=3"));
}

} // namespace
