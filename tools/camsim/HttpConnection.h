// One client connection of camsim: reads requests (HTTP/1.1 keep-alive, with
// pipelined bytes kept for the next request), checks Basic authentication,
// applies the fault switches, hands each request to its handler and offers
// the handler the means to write its answer.
//
// Runs entirely on the connection's own thread.
#pragma once

#include "Faults.h"
#include "HttpRequest.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

class HttpServer;

class HttpConnection {
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;
    // A Content-Length of this value means: no Content-Length; the body is
    // chunked or ends when the connection closes.
    static constexpr int64_t kNoLength = -1;

    HttpConnection(HttpServer& server, int fd, uint64_t serial);
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Serves requests until the client closes, the idle time-out passes, an
    // answer asks to close, or the server stops.
    void Serve();

    // --- for handlers ---
    // Sends the status line and headers. With `chunked` the body is sent in
    // chunks (Transfer-Encoding header added); otherwise a non-negative
    // `contentLength` adds Content-Length. The fault switches may turn a
    // Content-Length answer into a chunked one. False when the write failed.
    bool SendHead(int status, const std::string& reason, const Headers& headers, int64_t contentLength,
                  bool chunked = false);
    // Body bytes: as they are, or as one chunk (or several, under the chunked
    // fault) when the answer is chunked.
    bool SendBody(const char* data, size_t size);
    bool SendBody(const std::string& data) { return SendBody(data.data(), data.size()); }
    // Ends a chunked body with the last-chunk line.
    bool FinishBody();
    // Writes raw bytes, head framing and all (for handlers that write broken
    // answers on purpose). Honours the trickle fault.
    bool SendRaw(const char* data, size_t size);
    bool SendRaw(const std::string& data) { return SendRaw(data.data(), data.size()); }
    // A whole small answer with Content-Length.
    bool SendText(int status, const std::string& reason, const std::string& contentType,
                  const std::string& body, const Headers& extra = {});
    // Closes the connection after the current answer.
    void CloseAfterAnswer() { mCloseAfter = true; }
    // Waits without answering until the client closes or the server stops
    // (the connection is closed afterwards).
    void HoldSilent();
    bool Stopping() const;
    // Waits up to `duration` for the client to go (its end of the
    // connection closed) and says whether it went. A stream's handler waits
    // here between frames, so that a stream ends, and is no longer counted
    // as open, as soon as its viewer disconnects rather than at the next
    // failing write. Bytes the client sends meanwhile are read and dropped:
    // a stream's connection takes no further request.
    bool WaitPeerGone(std::chrono::milliseconds duration);
    const FaultSettings& ActiveFaults() const { return mFaults; }
    HttpServer& Server() { return mServer; }
    // Number of this connection since the server started (1, 2, ...).
    uint64_t Serial() const { return mSerial; }

private:
    enum class ReadResult { Request, Closed, TooLarge, BodyTooLarge, Malformed, TimedOut };
    ReadResult ReadRequest(HttpRequest* request);
    // Receives more bytes into mInput; false on close, error or time-out.
    bool Fill(bool* timedOut);
    bool WriteAll(const char* data, size_t size);
    bool Authorized(const HttpRequest& request) const;
    void Answer(const HttpRequest& request);

    HttpServer& mServer;
    int mFd;
    uint64_t mSerial;
    std::string mInput; // received bytes not yet consumed (pipelined requests)
    FaultSettings mFaults;
    bool mCloseAfter = false;
    bool mChunked = false;
    bool mSplitChunks = false; // the chunked fault cuts bodies into awkward pieces
    uint32_t mRedirectsSent = 0;
    size_t mChunkCycle = 0;
};

} // namespace camsim
