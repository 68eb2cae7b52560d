// Writes a device's multipart media stream onto a connection: the response
// head (multipart/x-mixed-replace, boundary "myboundary", no length, closed
// at the end), then one part per video frame or audio block:
//
//     --myboundary CRLF
//     Content-Type: image/jpeg CRLF        (image/mpeg4, image/avc; audio/wav for audio)
//     Content-Length: N CRLF
//     X-...: value CRLF                    (the device's own headers)
//     CRLF
//     N bytes of data CRLF
//
// and the faults that break this framing on purpose: junk between parts,
// waiting parts ("X-Wait: 1" with no data), the "NS" refusal.
//
// Used by one connection thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace camsim {

class HttpConnection;

class StreamWriter {
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;
    static constexpr const char* kBoundary = "myboundary";
    // The body of a refused stream: "NS", a blank and a word, short enough
    // (3 to 14 bytes) that a viewer takes it for the refusal.
    static constexpr const char* kRefusal = "NS stream\r\n";

    explicit StreamWriter(HttpConnection& out) : mOut(out) {}

    // Sends the response head of the stream; the connection closes after it.
    bool Begin();
    // The refusal answer instead of a stream.
    bool Refuse();
    // One part. `type` is the Content-Type value.
    bool Part(const std::string& type, const Headers& headers, const std::string& data);
    // A part that says "wait": X-Wait 1, Content-Length 0, no data.
    bool WaitPart();
    // `bytes` of junk that a reader must skip: a line that looks almost like
    // the boundary, then bytes that are no line at all, then CR LF.
    bool Garbage(uint32_t bytes);
    // The text of a part's head (for tests and the writer itself).
    static std::string PartHead(const std::string& type, const Headers& headers, size_t length);
    static std::string GarbageBytes(uint32_t bytes, uint32_t seed);

    uint64_t PartsWritten() const { return mParts; }

private:
    HttpConnection& mOut;
    uint64_t mParts = 0;
    uint32_t mGarbageSeed = 1;
};

} // namespace camsim
