#include "StreamWriter.h"

#include "HttpConnection.h"

namespace camsim {

bool StreamWriter::Begin() {
    mOut.CloseAfterAnswer();
    return mOut.SendHead(200, "OK",
                         {{"Content-Type", std::string("multipart/x-mixed-replace;boundary=") + kBoundary},
                          {"Cache-Control", "no-cache"},
                          {"Pragma", "no-cache"}},
                         HttpConnection::kNoLength);
}

bool StreamWriter::Refuse() {
    mOut.CloseAfterAnswer();
    return mOut.SendText(200, "OK", "text/plain", kRefusal);
}

std::string StreamWriter::PartHead(const std::string& type, const Headers& headers, size_t length) {
    std::string head = std::string("--") + kBoundary + "\r\nContent-Type: " + type +
                       "\r\nContent-Length: " + std::to_string(length) + "\r\n";
    for (const auto& h : headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "\r\n";
    return head;
}

bool StreamWriter::Part(const std::string& type, const Headers& headers, const std::string& data) {
    ++mParts;
    // Head, data and the closing CR LF in one write where the trickle fault
    // allows, so that a reader sees whole parts arrive together.
    std::string part = PartHead(type, headers, data.size());
    part.reserve(part.size() + data.size() + 2);
    part += data;
    part += "\r\n";
    return mOut.SendRaw(part);
}

bool StreamWriter::WaitPart() {
    return mOut.SendRaw(PartHead("image/jpeg", {{"X-Wait", "1"}}, 0));
}

std::string StreamWriter::GarbageBytes(uint32_t bytes, uint32_t seed) {
    // A boundary cut short and one with a tail: a reader that compares
    // boundary lines by prefix, or by length only, takes them for parts.
    const std::string lookalikes = std::string("--") + "myboundar\r\n--" + kBoundary + "-not\r\n";
    std::string junk = bytes >= lookalikes.size() ? lookalikes : std::string();
    uint32_t state = seed * 2654435761u + 1;
    while (junk.size() < bytes) {
        state = state * 1664525u + 1013904223u;
        char c = static_cast<char>(state >> 24);
        // Line breaks only every 100 bytes, as a device's debug output would.
        if (c == '\r' || c == '\n' || c == '-')
            c = '.';
        junk.push_back(junk.size() % 100 == 99 ? '\n' : c);
    }
    junk += "\r\n";
    return junk;
}

bool StreamWriter::Garbage(uint32_t bytes) {
    if (bytes == 0)
        return true;
    return mOut.SendRaw(GarbageBytes(bytes, mGarbageSeed++));
}

} // namespace camsim
