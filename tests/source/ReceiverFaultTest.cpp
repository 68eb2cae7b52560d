// The receivers on their own worker threads against misbehaving devices on
// loopback, through both HTTP clients: a device that refuses, one that is no
// camera at all, one that trickles, one that drops every connection. What is
// checked is what the device and the user notice: how often the device is
// asked, whether the owner hears of the failure, how long a stop takes.
// Every device and both transports run at the same time, so the table costs
// the run time of one row.
#include "fakes/ScriptedHttpServer.h"
#include "platform/CMediaQueue.h"
#include "source/CMultipartSource.h"
#include "source/CSnapshotSource.h"

#include "device/FakeDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using httptest::Conn;
using httptest::HttpRequest;
using Clock = std::chrono::steady_clock;

// How long the receivers run against each device.
constexpr DWORD kRunMs = 3000;
// The part deadline of the trickling device that is left running.
constexpr DWORD kShortPartDeadlineMs = 1000;

constexpr const char* kStreamHead =
    "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=myboundary\r\n\r\n";

std::string Part(const std::string& data) {
    return "--myboundary\r\nContent-Type: image/mpeg4\r\nContent-Length: " + std::to_string(data.size()) +
           "\r\n\r\n" + data + "\r\n";
}

// Devices, as the scripted server's handler of every request. `quit` ends
// the ones that go on sending.
using Device = std::function<void(const HttpRequest&, Conn&, media_util::CManualEvent& quit)>;

void Answer(Conn& conn, const std::string& bytes, bool close) {
    conn.Send(bytes);
    if (close)
        conn.CloseAfter();
}

const Device kUnauthorized = [](const HttpRequest&, Conn& conn, media_util::CManualEvent&) {
    Answer(conn,
           "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\nContent-Length: 0\r\n\r\n",
           true);
};
const Device kNotFound = [](const HttpRequest&, Conn& conn, media_util::CManualEvent&) {
    Answer(conn, httptest::Response(404, "Not Found", "<html>no such page</html>"), false);
};
const Device kWebPage = [](const HttpRequest&, Conn& conn, media_util::CManualEvent&) {
    Answer(conn, httptest::Response(200, "OK", "<html><body>Welcome</body></html>"), false);
};
// 200, then bytes without a boundary line for as long as anyone reads.
const Device kEndlessGarbage = [](const HttpRequest&, Conn& conn, media_util::CManualEvent& quit) {
    const std::string piece(64 * 1024, 'g');
    if (conn.Send("HTTP/1.1 200 OK\r\n\r\n"))
        while (!quit.IsSignalled() && conn.Send(piece)) {
        }
    conn.CloseAfter();
};
const Device kOnePartThenClose = [](const HttpRequest&, Conn& conn, media_util::CManualEvent&) {
    Answer(conn, kStreamHead + Part("one"), true);
};
// A part head announcing 100000 bytes, then one byte a second.
const Device kTrickle = [](const HttpRequest&, Conn& conn, media_util::CManualEvent& quit) {
    bool sending = conn.Send(std::string(kStreamHead) +
                             "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: 100000\r\n\r\n");
    while (sending && !quit.Wait(1000))
        sending = conn.Send("x");
    conn.CloseAfter();
};
const Device kPicture = [](const HttpRequest&, Conn& conn, media_util::CManualEvent&) {
    SDeviceJpeg jpeg;
    jpeg.totalBytes = 6000;
    Answer(conn, httptest::Response(200, "OK", jpeg.Build(), "Content-Type: image/jpeg\r\n"), false);
};

struct SRow {
    const char* name;
    int receiveType; // 1 multipart, 2 polling
    const Device* device;
    // Requests the device may see in kRunMs, at least and at most.
    size_t minRequests, maxRequests;
    bool limitEvent; // the owner hears of the failure (event 5) exactly once
    bool delivers;
    DWORD partDeadlineMs = CMultipartSource::kPartDeadlineMs;
};

// One row on one transport: a device and a receiver on its worker thread.
struct SRun {
    SRun(const SRow& r, int transport)
        : row(r), kind(transport),
          server([this](const HttpRequest& request, Conn& conn) { (*row.device)(request, conn, quit); }) {
        CSourceDesc desc;
        desc.SetUrlSource("http://127.0.0.1:" + std::to_string(server.Port()) + "/stream", row.receiveType,
                          "admin", "pw");
        desc.mClientKind = kind;
        desc.mRequestMode = CSourceDesc::kRequestContinuous;
        desc.mTemplate.mFrameRate = 10000; // a poller asks ten times a second
        if (row.receiveType == CSourceDesc::kReceiveJpegPolling) {
            source = std::make_unique<CSnapshotSource>();
        } else {
            auto multipart = std::make_unique<CMultipartSource>();
            multipart->SetPartDeadline(row.partDeadlineMs);
            source = std::move(multipart);
        }
        source->SetOutputQueue(&queue);
        EXPECT_TRUE(source->ApplySettings(&desc));
        source->Start();
    }
    ~SRun() {
        quit.Set();
        source->Stop();
    }
    // Stops the receiver; how long that took.
    std::chrono::milliseconds Stop() {
        const auto before = Clock::now();
        source->Stop();
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
    }

    const SRow& row;
    const int kind;
    media_util::CManualEvent quit;
    httptest::CScriptedHttpServer server;
    media_util::CMediaQueue queue{1000};
    std::unique_ptr<CHttpMediaSource> source;
};

TEST(ReceiverFaultTest, MisbehavingDevicesAreNeitherStormedNorWaitedOn) {
    const SRow rows[] = {
        // Attempts back off 500, 1000, 1500 ms: about four in three seconds.
        {"401 and close", 1, &kUnauthorized, 2, 6, true, false},
        {"404 page", 1, &kNotFound, 2, 6, true, false},
        {"web page", 1, &kWebPage, 2, 6, true, false},
        {"endless garbage", 1, &kEndlessGarbage, 2, 6, true, false},
        // Delivers, so no failure; asked again every 500 ms.
        {"one part and close", 1, &kOnePartThenClose, 3, 8, false, true},
        // Still inside its first part when stopped.
        {"trickle", 1, &kTrickle, 1, 1, false, false},
        // Its part deadline passes: the part is given up and the stream asked again.
        {"trickle past the deadline", 1, &kTrickle, 2, 4, false, false, kShortPartDeadlineMs},
        // Polling: the first failure waits the interval, then 500, 1000, 1500 ms.
        {"poll 401", 2, &kUnauthorized, 3, 6, true, false},
        {"poll 404", 2, &kNotFound, 3, 6, true, false},
        // Paced at the template's 10 fps.
        {"poll pictures", 2, &kPicture, 15, 36, false, true},
    };
    std::vector<std::unique_ptr<SRun>> runs;
    for (const SRow& row : rows)
        for (int kind : {1, 2})
            runs.push_back(std::make_unique<SRun>(row, kind));
    media_util::CManualEvent().Wait(kRunMs); // the devices have their time

    for (auto& run : runs) {
        SCOPED_TRACE(std::string(run->row.name) + (run->kind == 1 ? " (socket client)" : " (async client)"));
        const auto stopTook = run->Stop();
        // A stop ends whatever the receiver is doing, a read from a device
        // that trickles included.
        EXPECT_LT(stopTook.count(), 1000);
        const size_t requests = run->server.Requests().size();
        EXPECT_GE(requests, run->row.minRequests);
        EXPECT_LE(requests, run->row.maxRequests);
        std::vector<uint32_t> events;
        run->source->TakeEvents(events);
        EXPECT_EQ(std::count(events.begin(), events.end(), CMediaSource::PackEvent(5, 0)),
                  run->row.limitEvent ? 1 : 0);
        EXPECT_EQ(run->queue.GetCount() > 0, run->row.delivers);
    }
}

} // namespace
