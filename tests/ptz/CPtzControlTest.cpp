// The PTZ control against a scripted camera: the command texts for presses
// at the centre and the corners, a drag, releases and the wheel, sent one at
// a time in order with the wheel's pause kept; the bounded queue when the
// camera is slow; the steering line.
#include "ptz/CPtzControl.h"

#include "editors/FakeParamDevice.h"
#include "os/window/OffscreenWindow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// A camera that records every "qk310output" it is sent, with its arrival,
// and can be held up (a camera that answers slowly).
struct SCamera {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> commands;
    std::vector<Clock::time_point> arrivals;
    bool held = false;
    int entered = 0; // requests that reached the camera, answered or not

    SAnswer operator()(const std::string& path) {
        const std::string prefix = "/vb.htm?qk310output=";
        std::unique_lock<std::mutex> guard(lock);
        ++entered;
        changed.notify_all();
        changed.wait(guard, [&] { return !held; });
        if (path.compare(0, prefix.size(), prefix) != 0)
            return Refused();
        commands.push_back(path.substr(prefix.size()));
        arrivals.push_back(Clock::now());
        changed.notify_all();
        return Ok("OK qk310output=" + commands.back() + "\r\n");
    }
    // Waits until n commands arrived (at most 10 s); what arrived.
    std::vector<std::string> Wait(size_t n) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, std::chrono::seconds(10), [&] { return commands.size() >= n; });
        return commands;
    }
    // Waits until a request is with the camera (at most 10 s).
    bool WaitEntered(int n) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(10), [&] { return entered >= n; });
    }
    void Hold(bool on) {
        std::lock_guard<std::mutex> guard(lock);
        held = on;
        changed.notify_all();
    }
};

struct SRig {
    SCamera camera;
    SHttpScript script;
    CFakeHttpClient client{script};
    CHttpLink link{&client};
    CProfileQueryDialect dialect{0x1200};
    os::OffscreenWindow window{640, 480};
    SMemoryBitmap bitmap{320, 240};
    std::unique_ptr<CPtzControl> control; // goes before the bitmap it paints into

    explicit SRig(bool withDialect = true) {
        script.handler = [this](const std::string& path) { return camera(path); };
        HDC dc = bitmap.dc;
        const int32_t client[2] = {640, 480};
        const int32_t video[4] = {0, 0, 320, 240};
        control = std::make_unique<CPtzControl>(withDialect ? &dialect : nullptr, &link,
                                                "http://127.0.0.1:8081/", client, video, &window, dc, 1);
    }
    ~SRig() {
        camera.Hold(false);
        control.reset();
    }
    HDC Dc() const { return bitmap.dc; }
};

TEST(CPtzControlTest, MoveCommandsSteerTowardsThePointer) {
    struct Case {
        int x, y;
        const char* text;
    } cases[] = {
        {320, 240, "A0000C0000"}, // the centre: left-up flags, no speed
        {0, 0, "A0000C3F3F"},     {640, 480, "A000123F3F"}, {480, 120, "A0000A1F1F"},
        {160, 360, "A000141F1F"}, {640, 240, "A0000A3F00"}, {321, 241, "A000120000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, CPtzControl::MoveCommand(c.x, c.y, 640, 480)) << c.x << "," << c.y;
    // A window too small to have a centre steers at speed 0.
    EXPECT_EQ("A000120000", CPtzControl::MoveCommand(1, 1, 1, 1));
}

TEST(CPtzControlTest, PressDragReleaseAndWheelGoOutInOrderWithThePause) {
    SRig rig;
    rig.control->OnMouseMove(100, 100, 0, 0); // no button: nothing
    rig.control->OnButtonDown(320, 240, MK_LBUTTON, 0);
    rig.control->OnMouseMove(480, 120, MK_LBUTTON, 0);
    rig.control->OnMouseMove(9000, 9000, MK_LBUTTON, 0); // beyond the window: its corner
    rig.control->OnButtonUp(640, 480, 0, 0);
    rig.control->OnButtonUp(640, 480, 0, 0); // a second release: nothing
    rig.control->OnWheel(10, 10, 120, 0, 0);
    rig.control->OnWheel(10, 10, -120, 0, 0);
    rig.control->OnWheel(10, 10, 0, 0, 0);
    const std::vector<std::string> expected = {"A0000C0000", "A0000A1F1F", "A000123F3F", "A000000000",
                                               "A0002000FF", "A000000000", "A00040FF00", "A000000000",
                                               "A00040FF00", "A000000000"};
    EXPECT_EQ(expected, rig.camera.Wait(expected.size()));
    std::lock_guard<std::mutex> guard(rig.camera.lock);
    ASSERT_EQ(expected.size(), rig.camera.arrivals.size());
    for (size_t zoom : {4u, 6u, 8u}) {
        const auto pause = rig.camera.arrivals[zoom + 1] - rig.camera.arrivals[zoom];
        EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(pause).count(), 50)
            << "the zoom runs at least 50 ms before its stop";
    }
}

TEST(CPtzControlTest, WithoutADialectCommandsAreTakenAndDropped) {
    SRig rig(false);
    rig.control->OnButtonDown(0, 0, MK_LBUTTON, 0);
    rig.control->OnButtonUp(0, 0, 0, 0);
    rig.control->OnWheel(0, 0, 120, 0, 0);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (rig.control->Worker().TakenCount() < 5 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(5u, rig.control->Worker().TakenCount());
    EXPECT_TRUE(rig.camera.Wait(0).empty());
}

// Waits until the worker has taken n commands (sent, or pauses made).
bool WaitTaken(CPtzControl& control, uint64_t n) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (control.Worker().TakenCount() < n && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return control.Worker().TakenCount() == n;
}

// A camera that does not answer for a while: moves beyond the bound merge
// into the newest, which still goes out, and the release's stop last.
TEST(CPtzControlTest, ASlowCameraGetsTheNewestMoveAndTheStop) {
    SRig rig;
    rig.camera.Hold(true);
    rig.control->OnButtonDown(0, 0, MK_LBUTTON, 0);
    ASSERT_TRUE(rig.camera.WaitEntered(1)) << "the first move is with the camera";
    for (int i = 1; i <= 1000; ++i)
        rig.control->OnMouseMove(i % 640, i % 480, MK_LBUTTON, 0);
    const size_t moves = rig.control->Worker().Queued().size();
    EXPECT_LE(moves, CPtzCommandWorker::kMaxQueuedMoves);
    EXPECT_GE(moves, CPtzCommandWorker::kMaxQueuedMoves - 1);
    rig.control->OnButtonUp(0, 0, 0, 0);
    rig.camera.Hold(false);
    ASSERT_TRUE(WaitTaken(*rig.control, moves + 2)) << "the first move, the queued ones, the stop";
    const std::vector<std::string> sent = rig.camera.Wait(moves + 2);
    ASSERT_EQ(moves + 2, sent.size());
    EXPECT_EQ("A0000C3F3F", sent.front());
    EXPECT_EQ(CPtzControl::MoveCommand(1000 % 640, 1000 % 480, 640, 480), sent[sent.size() - 2]);
    EXPECT_EQ("A000000000", sent.back());
}

// A flood of wheel steps to a camera that does not answer: the queue stays
// bounded, the waiting moves give way, and what goes out ends in a stop.
TEST(CPtzControlTest, AWheelFloodKeepsTheQueueBounded) {
    SRig rig;
    rig.camera.Hold(true);
    rig.control->OnButtonDown(0, 0, MK_LBUTTON, 0);
    ASSERT_TRUE(rig.camera.WaitEntered(1)) << "the first move is with the camera";
    for (int i = 1; i <= 40; ++i)
        rig.control->OnMouseMove(i, i, MK_LBUTTON, 0);
    for (int i = 0; i < 100; ++i)
        rig.control->OnWheel(0, 0, i % 2 == 0 ? 120 : -120, 0, 0);
    const std::vector<std::string> queued = rig.control->Worker().Queued();
    EXPECT_LE(queued.size(), CPtzCommandWorker::kMaxQueued);
    for (const std::string& command : queued)
        EXPECT_TRUE(command.compare(0, 4, "A000") != 0 || command == "A000000000" ||
                    command == "A0002000FF" || command == "A00040FF00")
            << "a move outlived the stops: " << command;
    rig.camera.Hold(false);
    ASSERT_TRUE(WaitTaken(*rig.control, queued.size() + 1));
    EXPECT_EQ("A000000000", rig.camera.Wait(0).back());
}

TEST(CPtzControlTest, WhileSteeringALineRunsFromTheCentreToThePointer) {
    SRig rig;
    rig.control->Paint();
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(rig.Dc(), 200, 120));
    rig.control->OnMouseMove(560, 240, 0, 0);
    rig.control->OnButtonDown(560, 240, MK_LBUTTON, 0);
    rig.control->Paint();
    // The pointer in the 320 x 240 video: (280, 120); the line from (160, 120).
    for (int x = 160; x < 280; x += 20)
        EXPECT_EQ(CPtzControl::kLineColour, GetPixel(rig.Dc(), x, 120)) << x;
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(rig.Dc(), 290, 120));
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(rig.Dc(), 200, 130));
    rig.control->OnButtonUp(560, 240, 0, 0);
    rig.control->Paint();
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(rig.Dc(), 200, 120)) << "released: no line";
    EXPECT_EQ(1.0f, rig.control->OverlayAlpha());
}

} // namespace
