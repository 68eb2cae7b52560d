#include "Faults.h"

#include <cstdio>
#include <cstdlib>

namespace camsim {

namespace {

bool ParseNumber(const std::string& text, uint32_t limit, uint32_t* out) {
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > limit)
        return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseSwitch(const std::string& text, bool* out) {
    if (text.empty() || text == "1" || text == "on") {
        *out = true;
        return true;
    }
    if (text == "0" || text == "off") {
        *out = false;
        return true;
    }
    return false;
}

} // namespace

bool Faults::Apply(const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> guard(mLock);
    FaultSettings& s = mSettings;
    if (name == "reset") {
        s = FaultSettings();
        return true;
    }
    if (name == "redirect")
        return ParseNumber(value, kMaxRedirectHops, &s.redirectHops);
    if (name == "chunked")
        return ParseSwitch(value, &s.chunked);
    if (name == "silence")
        return ParseSwitch(value, &s.silence);
    if (name == "closehead")
        return ParseSwitch(value, &s.closeHead);
    if (name == "unauthorized")
        return ParseSwitch(value, &s.unauthorized);
    if (name == "bigheader")
        return ParseNumber(value, kMaxBigHeaderBytes, &s.bigHeaderBytes);
    if (name == "trickle") {
        // "BYTES:MS"
        size_t colon = value.find(':');
        uint32_t bytes = 0;
        uint32_t delay = 0;
        if (colon == std::string::npos || !ParseNumber(value.substr(0, colon), 1u << 30, &bytes) ||
            !ParseNumber(value.substr(colon + 1), kMaxTrickleDelayMs, &delay))
            return false;
        s.trickleBytes = bytes;
        s.trickleDelayMs = delay;
        return true;
    }
    return false;
}

bool Faults::ApplyText(const std::string& text) {
    size_t eq = text.find('=');
    if (eq == std::string::npos)
        return Apply(text, "");
    return Apply(text.substr(0, eq), text.substr(eq + 1));
}

FaultSettings Faults::Snapshot() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mSettings;
}

std::string Faults::Describe() const {
    FaultSettings s = Snapshot();
    char text[256];
    std::snprintf(text, sizeof(text),
                  "redirect=%u chunked=%d trickle=%u:%u silence=%d closehead=%d unauthorized=%d bigheader=%u",
                  s.redirectHops, s.chunked ? 1 : 0, s.trickleBytes, s.trickleDelayMs, s.silence ? 1 : 0,
                  s.closeHead ? 1 : 0, s.unauthorized ? 1 : 0, s.bigHeaderBytes);
    return text;
}

const char* Faults::Help() {
    return "  redirect=N         answer the first N requests of each connection with a 302 to the\n"
           "                     same path (the 302 carries Content-Length: 0)\n"
           "  chunked[=0|1]      send bodies with Transfer-Encoding: chunked in sizes 1, 7, 300, 2, 4096\n"
           "  trickle=BYTES:MS   write at most BYTES bytes at a time, MS milliseconds apart\n"
           "  silence[=0|1]      read each request and never answer it\n"
           "  closehead[=0|1]    send half a response head, then close the connection\n"
           "  unauthorized[=0|1] answer 401 to every request\n"
           "  bigheader=N        add a header line of N bytes to every answer\n"
           "  reset              clear every fault\n";
}

} // namespace camsim
