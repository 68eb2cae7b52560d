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
};

class Faults {
public:
    // Longest delay a trickle may ask for, so that a typo cannot stall the
    // simulator for hours.
    static constexpr uint32_t kMaxTrickleDelayMs = 5000;
    // Longest padding header, to keep answers bounded.
    static constexpr uint32_t kMaxBigHeaderBytes = 1024 * 1024;
    static constexpr uint32_t kMaxRedirectHops = 1000;

    // Applies "name" with "value" (see Help). False for an unknown name or a
    // bad value; "reset" clears every switch.
    bool Apply(const std::string& name, const std::string& value);
    // Applies "name=value" (or "name" alone for a switch).
    bool ApplyText(const std::string& text);
    FaultSettings Snapshot() const;
    std::string Describe() const;
    static const char* Help();

private:
    mutable std::mutex mLock;
    FaultSettings mSettings; // guarded by mLock
};

} // namespace camsim
