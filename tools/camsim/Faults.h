// Fault switches: misbehaviours camsim can be told to show, from the command
// line (--fault NAME=VALUE) or at run time through the control CGI
// ("/camsim/control?NAME=VALUE&..."). They apply to every request except
// those to the control CGI itself, so a test can always switch them off.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace camsim {

struct FaultSettings {
    uint32_t redirectHops = 0;   // answer the first N requests of a connection with 302 to themselves
    bool chunked = false;        // send bodies chunked in awkward sizes instead of with Content-Length
    uint32_t trickleBytes = 0;   // send at most this many bytes per write ...
    uint32_t trickleDelayMs = 0; // ... and wait this long between writes
    bool silence = false;        // read the request, never answer
    bool closeHead = false;      // send half a response head, then close
    bool unauthorized = false;   // answer 401 whatever the credentials
    uint32_t bigHeaderBytes = 0; // add a header line this long to every answer
    // Live media (streams and polled pictures):
    bool refuse = false;           // answer with the device's refusal "NS stream" instead of media
    uint32_t dropAfterParts = 0;   // close a stream after N parts
    uint32_t stallAfterParts = 0;  // after N parts send nothing more, keep the connection open
    uint32_t garbageBytes = 0;     // write N bytes of junk (with a broken boundary line) between parts
    uint32_t jumpBackAtPart = 0;   // at part N step the frame numbers back (a device that restarted)
    uint32_t resizeAtPart = 0;     // at part N change the picture size (half each side)
    uint32_t waitEveryParts = 0;   // put an "X-Wait: 1" part before every N-th part
    uint32_t alarmEveryFrames = 0; // alarm schedule: every N-th frame of a channel carries ...
    uint32_t alarmBits = 0;        // ... these alarm bits (X-Alarm and the JPEG header)
    uint32_t videoMask = 0;        // recorders: channels with video (bit n-1 = channel n); 0 = all
};

class Faults {
public:
    // Longest delay a trickle may ask for, so that a typo cannot stall the
    // simulator for hours.
    static constexpr uint32_t kMaxTrickleDelayMs = 5000;
    // Longest padding header, to keep answers bounded.
    static constexpr uint32_t kMaxBigHeaderBytes = 1024 * 1024;
    static constexpr uint32_t kMaxRedirectHops = 1000;
    // Junk between parts is bounded like any other answer piece.
    static constexpr uint32_t kMaxGarbageBytes = 64 * 1024;
    static constexpr uint32_t kMaxPartCount = 1u << 30;

    // Applies "name" with "value" (see Help). False for an unknown name or a
    // bad value; "reset" clears every switch.
    bool Apply(const std::string& name, const std::string& value);
    // Applies "name=value" (or "name" alone for a switch).
    bool ApplyText(const std::string& text);
    FaultSettings Snapshot() const;
    std::string Describe() const;
    // One entry per switch: the switch in the first 19 columns, its meaning
    // after it, continuation lines blank there. --help indents the entries
    // under --fault.
    static const char* Help();

private:
    mutable std::mutex mLock;
    FaultSettings mSettings; // guarded by mLock
};

} // namespace camsim
