#include "PtzHead.h"

#include "Decimal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace camsim {

namespace {

constexpr uint32_t kRight = 0x02;
constexpr uint32_t kLeft = 0x04;
constexpr uint32_t kUp = 0x08;
constexpr uint32_t kDown = 0x10;
constexpr uint32_t kZoomIn = 0x20;
constexpr uint32_t kZoomOut = 0x40;

// "A000" and three hexadecimal bytes.
bool ParseCommand(const std::string& text, uint32_t bytes[3]) {
    if (text.size() != 10 || text.compare(0, 4, "A000") != 0)
        return false;
    for (int i = 0; i < 3; ++i) {
        uint64_t byte = 0;
        if (!ParseHex(text.substr(static_cast<size_t>(4 + 2 * i), 2), 0xFF, &byte))
            return false;
        bytes[i] = static_cast<uint32_t>(byte);
    }
    return true;
}

int Direction(uint32_t flags, uint32_t positive, uint32_t negative) {
    return ((flags & positive) ? 1 : 0) - ((flags & negative) ? 1 : 0);
}

} // namespace

PtzHead::Motion PtzHead::Advance(Clock::time_point now) const {
    Motion m = mMotion;
    const double seconds = std::max(0.0, std::chrono::duration<double>(now - mSince).count());
    const double travel = kMaxTravel;
    m.pan = std::clamp(m.pan + m.panSpeed * kPixelsPerSecondPerStep * seconds, -travel, travel);
    m.tilt = std::clamp(m.tilt + m.tiltSpeed * kPixelsPerSecondPerStep * seconds, -travel, travel);
    m.zoom = std::clamp(m.zoom + m.zoomSpeed * kZoomPerSecond * seconds, double(kZoomHome), double(kMaxZoom));
    return m;
}

bool PtzHead::Command(const std::string& text, Clock::time_point now) {
    uint32_t bytes[3];
    const bool valid = ParseCommand(text, bytes);
    std::lock_guard<std::mutex> guard(mLock);
    if (valid) {
        // The position reached so far is where the new motion starts.
        Motion m = Advance(now);
        const uint32_t flags = bytes[0];
        const int pan = static_cast<int>(std::min<uint32_t>(bytes[1], kMaxSpeed));
        const int tilt = static_cast<int>(std::min<uint32_t>(bytes[2], kMaxSpeed));
        m.panSpeed = Direction(flags, kRight, kLeft) * pan;
        m.tiltSpeed = Direction(flags, kDown, kUp) * tilt;
        m.zoomSpeed = Direction(flags, kZoomIn, kZoomOut);
        mMotion = m;
        mSince = now;
        ++mTaken;
    }
    Append(text, valid ? "OK" : "NG", now);
    return valid;
}

void PtzHead::LogUnanswered(const std::string& text, const std::string& status, Clock::time_point now) {
    std::lock_guard<std::mutex> guard(mLock);
    Append(text, status, now);
}

void PtzHead::Append(const std::string& text, const std::string& status, Clock::time_point now) {
    Entry e;
    e.number = ++mNumber;
    e.ms = std::chrono::duration<double, std::milli>(now - mEpoch).count();
    e.status = status.substr(0, kMaxCommandBytes);
    e.command = text.substr(0, kMaxCommandBytes);
    mLog.push_back(std::move(e));
    while (mLog.size() > kMaxLogEntries)
        mLog.pop_front();
    mLogged.notify_all();
}

PtzHead::State PtzHead::At(Clock::time_point now) const {
    std::lock_guard<std::mutex> guard(mLock);
    const Motion m = Advance(now);
    State s;
    s.pan = static_cast<int>(std::lround(m.pan));
    s.tilt = static_cast<int>(std::lround(m.tilt));
    s.zoom = static_cast<int>(std::lround(m.zoom));
    s.panSpeed = m.panSpeed;
    s.tiltSpeed = m.tiltSpeed;
    s.zoomSpeed = m.zoomSpeed;
    s.taken = mTaken;
    return s;
}

void PtzHead::Home() {
    std::lock_guard<std::mutex> guard(mLock);
    mMotion = Motion();
    mSince = Clock::now();
    mTaken = 0;
}

void PtzHead::ClearLog() {
    std::lock_guard<std::mutex> guard(mLock);
    mLog.clear();
    mNumber = 0;
}

std::vector<PtzHead::Entry> PtzHead::Log(uint64_t since) const {
    std::lock_guard<std::mutex> guard(mLock);
    std::vector<Entry> out;
    for (const Entry& e : mLog)
        if (e.number > since)
            out.push_back(e);
    return out;
}

uint64_t PtzHead::Logged() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mNumber;
}

bool PtzHead::WaitLogged(uint64_t count, std::chrono::milliseconds timeout,
                         const std::function<bool()>& stopping) {
    const auto deadline = Clock::now() + std::min(timeout, std::chrono::milliseconds(kMaxWaitMs));
    // Slices, so that a stopping server is noticed while no command comes.
    const auto slice = std::chrono::milliseconds(100);
    std::unique_lock<std::mutex> guard(mLock);
    while (mNumber < count) {
        const auto now = Clock::now();
        if (now >= deadline || (stopping && stopping()))
            return false;
        mLogged.wait_for(guard, std::min<Clock::duration>(deadline - now, slice));
    }
    return true;
}

std::string PtzHead::Line(const Entry& e) {
    char ms[48];
    std::snprintf(ms, sizeof(ms), "%.3f", e.ms);
    std::string command = e.command;
    // The log is line-based: a command with line breaks or blanks in it
    // (sent by a broken client) must not forge further lines.
    for (char& c : command)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F)
            c = '?';
    return std::to_string(e.number) + " " + ms + " " + e.status + " " + (command.empty() ? "-" : command);
}

} // namespace camsim
