#include "Faults.h"

#include "Decimal.h"

#include <cstdio>
#include <cstdlib>

namespace camsim {

namespace {

bool ParseNumber(const std::string& text, uint32_t limit, uint32_t* out) {
    uint64_t value = 0;
    if (!ParseDecimal(text, limit, &value))
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
    if (name == "refuse")
        return ParseSwitch(value, &s.refuse);
    if (name == "dropafter")
        return ParseNumber(value, kMaxPartCount, &s.dropAfterParts);
    if (name == "stallafter")
        return ParseNumber(value, kMaxPartCount, &s.stallAfterParts);
    if (name == "garbage")
        return ParseNumber(value, kMaxGarbageBytes, &s.garbageBytes);
    if (name == "jumpback")
        return ParseNumber(value, kMaxPartCount, &s.jumpBackAtPart);
    if (name == "resize")
        return ParseNumber(value, kMaxPartCount, &s.resizeAtPart);
    if (name == "wait")
        return ParseNumber(value, kMaxPartCount, &s.waitEveryParts);
    if (name == "videomask")
        return ParseNumber(value, 0xFFFF, &s.videoMask);
    if (name == "alarm") {
        // "EVERY:BITS"
        size_t colon = value.find(':');
        uint32_t every = 0;
        uint32_t bits = 0;
        if (colon == std::string::npos || !ParseNumber(value.substr(0, colon), kMaxPartCount, &every) ||
            !ParseNumber(value.substr(colon + 1), 255, &bits))
            return false;
        s.alarmEveryFrames = every;
        s.alarmBits = bits;
        return true;
    }
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
    std::string out = text;
    std::snprintf(text, sizeof(text),
                  " refuse=%d dropafter=%u stallafter=%u garbage=%u jumpback=%u resize=%u wait=%u alarm=%u:%u"
                  " videomask=%u",
                  s.refuse ? 1 : 0, s.dropAfterParts, s.stallAfterParts, s.garbageBytes, s.jumpBackAtPart,
                  s.resizeAtPart, s.waitEveryParts, s.alarmEveryFrames, s.alarmBits, s.videoMask);
    out += text;
    return out;
}

const char* Faults::Help() {
    return "redirect=N         answer the first N requests of each connection with a 302 to the\n"
           "                   same path (the 302 carries Content-Length: 0)\n"
           "chunked[=0|1]      send bodies with Transfer-Encoding: chunked in sizes 1, 7, 300, 2, 4096\n"
           "trickle=BYTES:MS   write at most BYTES bytes at a time, MS milliseconds apart\n"
           "silence[=0|1]      read each request and never answer it\n"
           "closehead[=0|1]    send half a response head, then close the connection\n"
           "unauthorized[=0|1] answer 401 to every request\n"
           "bigheader=N        add a header line of N bytes to every answer\n"
           "refuse[=0|1]       answer streams and pictures with the device's refusal \"NS stream\"\n"
           "dropafter=N        close a media stream after N parts\n"
           "stallafter=N       after N parts of a stream send nothing more, keep the connection\n"
           "garbage=N          write N junk bytes (and a broken boundary line) between parts\n"
           "jumpback=N         at part N step the stream's frame numbers back by 5\n"
           "resize=N           at part N halve the picture's width and height\n"
           "wait=N             put an \"X-Wait: 1\" part (no data) before every N-th part\n"
           "alarm=EVERY:BITS   every EVERY-th frame of a channel carries alarm BITS\n"
           "videomask=MASK     recorders: channels with video (bit n-1 = channel n), 0 = all\n"
           "reset              clear every fault\n";
}

} // namespace camsim
