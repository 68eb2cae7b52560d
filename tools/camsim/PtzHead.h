// The simulated camera's motorised head: pan, tilt and zoom driven by the
// "qk310output" commands of the parameter CGI, and the log of every command
// that arrived, so that a test can check their order and pacing.
//
// A command is "A000" and three bytes in hexadecimal: direction flags, pan
// speed, tilt speed. The flags say which motors run: 0x02 right, 0x04 left,
// 0x08 up, 0x10 down, 0x20 zoom in, 0x40 zoom out; one without any of them
// (the stop, "A000000000") stops every motor. As on the devices of this
// family, each command states the whole motion: the head runs at the speeds
// of the last command until the next one comes. So a move command keeps the
// view moving until a stop, and a wheel step (zoom, a pause of 50 ms, stop)
// zooms for as long as the pause lasts.
//
// Pan and tilt move the view by kPixelsPerSecondPerStep scene pixels a second
// per step of speed (0 to kMaxSpeed; a higher byte runs at kMaxSpeed), so a
// full-speed pan crosses a VGA picture in about a second. Zoom runs at
// kZoomPerSecond thousandths a second between kZoomHome (the wide end, as the
// camera starts) and kMaxZoom. Pan and tilt stop at kMaxTravel either way.
//
// Threads: commands come on connection threads, the view is read by every
// stream's thread once a frame, the log by the control CGI. All members lock
// internally.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace camsim {

class PtzHead {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kMaxSpeed = 0x3F;
    static constexpr int kPixelsPerSecondPerStep = 10;
    static constexpr int kZoomHome = 1000; // thousandths: the picture as drawn
    static constexpr int kMaxZoom = 4000;
    static constexpr int kZoomPerSecond = 2000;
    static constexpr int kMaxTravel = 1000000;
    // Entries the log keeps; older ones are dropped (their numbers stay
    // taken), so a viewer steering for hours cannot grow camsim.
    static constexpr size_t kMaxLogEntries = 4096;
    // Longest wait a control request may ask for.
    static constexpr uint32_t kMaxWaitMs = 30000;

    // Where the head stands at one moment and how it moves. Speeds are
    // signed command steps: pan > 0 right, tilt > 0 down, zoom +1 in, -1 out.
    struct State {
        int pan = 0;  // scene pixels right of home
        int tilt = 0; // scene pixels below home
        int zoom = kZoomHome;
        int panSpeed = 0;
        int tiltSpeed = 0;
        int zoomSpeed = 0;
        uint64_t taken = 0; // commands taken (answered OK)
    };

    // One command as it arrived.
    struct Entry {
        uint64_t number = 0; // 1, 2, ... since start or the last ClearLog
        double ms = 0;       // arrival, milliseconds since camsim started
        std::string status;  // the reply's status word ("OK", "NG", or a faulted word)
        std::string command; // the value as sent, cut at kMaxCommandBytes
    };
    static constexpr size_t kMaxCommandBytes = 64;

    explicit PtzHead(Clock::time_point epoch = Clock::now()) : mEpoch(epoch) {}
    PtzHead(const PtzHead&) = delete;
    PtzHead& operator=(const PtzHead&) = delete;

    // Takes one command that arrived at `now` and logs it: true (status OK)
    // when it is a command, false (NG, the head unchanged) when not.
    bool Command(const std::string& text, Clock::time_point now);
    // Logs a command that the parameter CGI answered with `status` without
    // giving it to the head (a reply fault).
    void LogUnanswered(const std::string& text, const std::string& status, Clock::time_point now);

    State At(Clock::time_point now) const;
    // Stops every motor, puts the view back home and the count of commands
    // taken to 0.
    void Home();
    // Empties the log; numbering starts again at 1.
    void ClearLog();

    // Log entries numbered above `since`, oldest first.
    std::vector<Entry> Log(uint64_t since) const;
    // Number of the last command logged (0: none yet).
    uint64_t Logged() const;
    // Waits until at least `count` commands are logged, at most `timeout`
    // (capped at kMaxWaitMs), checking `stopping` every slice. True when
    // they were.
    bool WaitLogged(uint64_t count, std::chrono::milliseconds timeout, const std::function<bool()>& stopping);

    // One log line: "NUMBER MS STATUS COMMAND", MS with three decimals.
    static std::string Line(const Entry& entry);

private:
    struct Motion {
        double pan = 0, tilt = 0, zoom = kZoomHome; // at mSince
        int panSpeed = 0, tiltSpeed = 0, zoomSpeed = 0;
    };
    Motion Advance(Clock::time_point now) const; // caller holds mLock
    void Append(const std::string& text, const std::string& status, Clock::time_point now);

    const Clock::time_point mEpoch;
    mutable std::mutex mLock;
    std::condition_variable mLogged; // notified on every entry
    Motion mMotion;                  // guarded by mLock
    Clock::time_point mSince;        // guarded by mLock: when mMotion's position held
    uint64_t mTaken = 0;             // guarded by mLock
    uint64_t mNumber = 0;            // guarded by mLock
    std::deque<Entry> mLog;          // guarded by mLock
};

} // namespace camsim
