#include "HttpConnection.h"

#include "HttpServer.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace camsim {

namespace {

// Chunk sizes of the chunked fault: a single byte, odd sizes and one larger
// than a typical read, so that chunk framing lands anywhere in a client's
// reads.
const size_t kFaultChunkSizes[] = {1, 7, 300, 2, 4096};

std::string StatusLine(int status, const std::string& reason) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
}

std::string Hex(size_t value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%zx", value);
    return text;
}

} // namespace

HttpConnection::HttpConnection(HttpServer& server, int fd, uint64_t serial)
    : mServer(server), mFd(fd), mSerial(serial) {}

bool HttpConnection::Stopping() const {
    return mServer.Stopping();
}

bool HttpConnection::WaitPeerGone(std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    char sink[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{mFd, POLLIN | POLLRDHUP, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left.count()));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            return true;
        if (rc == 0)
            return false;
        if (p.revents & (POLLRDHUP | POLLHUP | POLLERR))
            return true;
        const ssize_t n = ::recv(mFd, sink, sizeof(sink), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return true;
    }
}

bool HttpConnection::Fill(bool* timedOut) {
    *timedOut = false;
    pollfd p{mFd, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, static_cast<int>(mServer.Config().idleTimeoutMs));
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) {
        *timedOut = true;
        return false;
    }
    if (rc < 0 || Stopping())
        return false;
    char buffer[16 * 1024];
    ssize_t n;
    do {
        n = ::recv(mFd, buffer, sizeof(buffer), 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return false;
    mInput.append(buffer, static_cast<size_t>(n));
    return true;
}

HttpConnection::ReadResult HttpConnection::ReadRequest(HttpRequest* request) {
    size_t headEnd;
    bool timedOut = false;
    while ((headEnd = mInput.find("\r\n\r\n")) == std::string::npos) {
        if (mInput.size() > HttpRequest::kMaxHeadBytes)
            return ReadResult::TooLarge;
        if (!Fill(&timedOut))
            return timedOut ? ReadResult::TimedOut : ReadResult::Closed;
    }
    if (headEnd + 4 > HttpRequest::kMaxHeadBytes)
        return ReadResult::TooLarge;
    std::string head = mInput.substr(0, headEnd + 4);
    mInput.erase(0, headEnd + 4);
    if (request->ParseHead(head) != HttpRequest::ParseResult::Ok)
        return ReadResult::Malformed;
    if (request->HasHeader("Transfer-Encoding"))
        return ReadResult::Malformed; // no device client streams request bodies chunked
    std::string lengthText = request->Header("Content-Length");
    size_t length = 0;
    if (!lengthText.empty()) {
        for (char c : lengthText) {
            if (c < '0' || c > '9')
                return ReadResult::Malformed;
            length = length * 10 + static_cast<size_t>(c - '0');
            if (length > HttpRequest::kMaxBodyBytes)
                return ReadResult::BodyTooLarge;
        }
    }
    while (mInput.size() < length) {
        if (!Fill(&timedOut))
            return ReadResult::Closed;
    }
    request->mBody = mInput.substr(0, length);
    mInput.erase(0, length);
    return ReadResult::Request;
}

bool HttpConnection::WriteAll(const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(mFd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool HttpConnection::SendRaw(const char* data, size_t size) {
    if (mFaults.trickleBytes == 0)
        return WriteAll(data, size);
    while (size > 0) {
        if (Stopping())
            return false;
        size_t piece = std::min<size_t>(size, mFaults.trickleBytes);
        if (!WriteAll(data, piece))
            return false;
        data += piece;
        size -= piece;
        if (size > 0 && mFaults.trickleDelayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(mFaults.trickleDelayMs));
    }
    return true;
}

bool HttpConnection::SendHead(int status, const std::string& reason, const Headers& headers,
                              int64_t contentLength, bool chunked) {
    mChunked = chunked;
    mSplitChunks = false;
    if (!chunked && contentLength >= 0 && mFaults.chunked) {
        mChunked = true;
        mSplitChunks = true;
    }
    std::string head = StatusLine(status, reason);
    head += "Server: camsim\r\n";
    for (const auto& h : headers)
        head += h.first + ": " + h.second + "\r\n";
    if (mChunked) {
        bool hasEncoding = false;
        for (const auto& h : headers)
            hasEncoding |= ToLower(h.first) == "transfer-encoding";
        if (!hasEncoding)
            head += "Transfer-Encoding: chunked\r\n";
    } else if (contentLength >= 0) {
        head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    }
    if (mFaults.bigHeaderBytes > 0)
        head += "X-Camsim-Padding: " + std::string(mFaults.bigHeaderBytes, 'x') + "\r\n";
    if (mCloseAfter)
        head += "Connection: close\r\n";
    head += "\r\n";
    return SendRaw(head);
}

bool HttpConnection::SendBody(const char* data, size_t size) {
    if (!mChunked)
        return SendRaw(data, size);
    while (size > 0) {
        size_t piece = size;
        if (mSplitChunks) {
            piece =
                std::min(size, kFaultChunkSizes[mChunkCycle % (sizeof(kFaultChunkSizes) / sizeof(size_t))]);
            ++mChunkCycle;
        }
        std::string frame = Hex(piece) + "\r\n";
        if (!SendRaw(frame) || !SendRaw(data, piece) || !SendRaw("\r\n", 2))
            return false;
        data += piece;
        size -= piece;
    }
    return true;
}

bool HttpConnection::FinishBody() {
    if (!mChunked)
        return true;
    return SendRaw("0\r\n\r\n", 5);
}

bool HttpConnection::SendText(int status, const std::string& reason, const std::string& contentType,
                              const std::string& body, const Headers& extra) {
    Headers headers = extra;
    if (!contentType.empty())
        headers.emplace_back("Content-Type", contentType);
    return SendHead(status, reason, headers, static_cast<int64_t>(body.size())) && SendBody(body) &&
           FinishBody();
}

void HttpConnection::HoldSilent() {
    mCloseAfter = true;
    char buffer[4096];
    while (!Stopping()) {
        pollfd p{mFd, POLLIN, 0};
        int rc = ::poll(&p, 1, static_cast<int>(mServer.Config().idleTimeoutMs));
        if (rc == 0)
            return;
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            return;
        ssize_t n = ::recv(mFd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            return;
    }
}

bool HttpConnection::Authorized(const HttpRequest& request) const {
    const auto& users = mServer.Config().users;
    if (users.empty())
        return true;
    std::string value = request.Header("Authorization");
    const std::string scheme = "basic ";
    if (value.size() <= scheme.size() || ToLower(value.substr(0, scheme.size())) != scheme)
        return false;
    std::string decoded;
    if (!Base64Decode(value.substr(scheme.size()), &decoded))
        return false;
    size_t colon = decoded.find(':');
    if (colon == std::string::npos)
        return false;
    std::string user = decoded.substr(0, colon);
    std::string password = decoded.substr(colon + 1);
    for (const auto& u : users)
        if (u.first == user && u.second == password)
            return true;
    return false;
}

void HttpConnection::Answer(const HttpRequest& request) {
    const Headers challenge = {{"WWW-Authenticate", "Basic realm=\"camsim\""}};
    // Everything under "/camsim/" steers the simulator itself (fault switches,
    // the device's state): it needs no credentials and no fault touches it,
    // so a test can always switch a fault off again.
    const bool control = request.mPath.compare(0, 8, "/camsim/") == 0;
    mFaults = control ? FaultSettings() : mServer.FaultSwitches().Snapshot();
    if (!control) {
        if (mFaults.silence) {
            HoldSilent();
            return;
        }
        if (mFaults.closeHead) {
            SendRaw(std::string("HTTP/1.1 200 OK\r\nContent-Ty"));
            mCloseAfter = true;
            return;
        }
        if (mFaults.unauthorized) {
            SendText(401, "Unauthorized", "text/plain", "401 Unauthorized\r\n", challenge);
            return;
        }
    }
    if (!control && !Authorized(request)) {
        SendText(401, "Unauthorized", "text/plain", "401 Unauthorized\r\n", challenge);
        return;
    }
    if (!control && mRedirectsSent < mFaults.redirectHops) {
        ++mRedirectsSent;
        SendHead(302, "Found", {{"Location", request.mTarget}}, 0);
        return;
    }
    mRedirectsSent = 0;
    const Handler* handler = mServer.Routes().Find(request.mPath);
    if (!handler) {
        SendText(404, "Not Found", "text/plain", "404 Not Found\r\n");
        return;
    }
    (*handler)(request, *this);
}

void HttpConnection::Serve() {
    while (!Stopping()) {
        HttpRequest request;
        ReadResult result = ReadRequest(&request);
        if (result == ReadResult::TooLarge) {
            mCloseAfter = true;
            SendText(431, "Request Header Fields Too Large", "text/plain", "431\r\n");
            return;
        }
        if (result == ReadResult::BodyTooLarge) {
            mCloseAfter = true;
            SendText(413, "Payload Too Large", "text/plain", "413\r\n");
            return;
        }
        if (result == ReadResult::Malformed) {
            mCloseAfter = true;
            SendText(400, "Bad Request", "text/plain", "400 Bad Request\r\n");
            return;
        }
        if (result != ReadResult::Request)
            return;
        mCloseAfter = !request.KeepAlive();
        Answer(request);
        if (mCloseAfter)
            return;
    }
}

} // namespace camsim
