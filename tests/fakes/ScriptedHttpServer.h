// A scripted HTTP/1.1 server on 127.0.0.1: the misbehaving device of the
// tests of both HTTP clients, the WinINet layer and the receivers. Each
// connection is served on its own thread, request after request while it is
// kept alive; the test's handler gets each request (head parsed, a
// Content-Length body read) and answers with raw bytes: split heads, odd
// chunking, garbage, a trickle, a close in the middle. The destructor shuts
// every socket down and joins every thread, so a handler that waits for the
// test must wait with a deadline (kWaitMs).
#pragma once

#include "fakes/Loopback.h"
#include "platform/CManualEvent.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httptest {

// How long a handler or a test waits for the other side before giving up.
constexpr DWORD kWaitMs = 30000;

struct HttpRequest {
    std::string method, target;
    std::string head; // request line and header lines, blank line included
    std::string body;
    // The value of the last header of that lower-case name ("" when absent);
    // *count gets how many there are.
    std::string Header(const std::string& lowerName, int* count = nullptr) const {
        std::string lower = head, value;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string key = "\r\n" + lowerName + ":";
        for (size_t at = 0; (at = lower.find(key, at)) != std::string::npos; ++at) {
            size_t from = head.find_first_not_of(' ', at + key.size());
            value = head.substr(from, head.find("\r\n", from) - from);
            if (count)
                ++*count;
        }
        return value;
    }
    int HeaderCount(const std::string& lowerName) const {
        int n = 0;
        Header(lowerName, &n);
        return n;
    }
};

// One accepted connection as the handler sees it.
class Conn {
public:
    explicit Conn(int fd) : mFd(fd) {}
    bool Send(const std::string& bytes) {
        for (size_t at = 0; at < bytes.size();) {
            ssize_t n = ::send(mFd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            at += static_cast<size_t>(n);
        }
        return true;
    }
    // The bytes that came in behind the request (a streamed body may share a
    // segment with the head), else the next ones; "" once the peer closed.
    std::string Recv() {
        if (mPending.empty())
            More();
        return std::exchange(mPending, std::string());
    }
    void CloseAfter() { mClose = true; }
    bool WantsClose() const { return mClose; }
    // The next request; false when the peer went away first.
    bool ReadRequest(HttpRequest* r) {
        size_t end;
        while ((end = mPending.find("\r\n\r\n")) == std::string::npos)
            if (!More())
                return false;
        r->head = mPending.substr(0, end + 4);
        size_t sp = r->head.find(' ');
        r->method = r->head.substr(0, sp);
        r->target = r->head.substr(sp + 1, r->head.find(' ', sp + 1) - sp - 1);
        const size_t size = end + 4 + std::strtoul(r->Header("content-length").c_str(), nullptr, 10);
        while (mPending.size() < size)
            if (!More())
                return false;
        r->body = mPending.substr(end + 4, size - end - 4);
        mPending.erase(0, size);
        return true;
    }

private:
    bool More() {
        char buf[8192];
        ssize_t n;
        while ((n = ::recv(mFd, buf, sizeof(buf), 0)) < 0 && errno == EINTR) {
        }
        if (n > 0)
            mPending.append(buf, static_cast<size_t>(n));
        return n > 0;
    }
    int mFd;
    std::string mPending;
    bool mClose = false;
};

class CScriptedHttpServer {
public:
    using Handler = std::function<void(const HttpRequest&, Conn&)>;

    explicit CScriptedHttpServer(Handler handler) : mHandler(std::move(handler)) {
        mListen = ListenOnLoopback(16, &mPort);
        if (mListen >= 0)
            mAcceptThread = std::thread([this] { AcceptLoop(); });
    }
    ~CScriptedHttpServer() {
        mStopping = true;
        ::shutdown(mListen, SHUT_RDWR);
        {
            std::lock_guard<std::mutex> lock(mMutex);
            for (int fd : mOpenFds)
                ::shutdown(fd, SHUT_RDWR);
        }
        if (mAcceptThread.joinable())
            mAcceptThread.join();
        for (std::thread& t : mConnThreads) // no new ones once the accept loop ended
            t.join();
        ::close(mListen);
    }

    uint16_t Port() const { return mPort; }
    int ConnectionCount() {
        std::lock_guard<std::mutex> lock(mMutex);
        return static_cast<int>(mConnThreads.size());
    }
    std::vector<HttpRequest> Requests() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mRequests;
    }
    size_t CountTarget(const std::string& target) {
        std::vector<HttpRequest> requests = Requests();
        return std::count_if(requests.begin(), requests.end(), [&](auto& r) { return r.target == target; });
    }
    // False when fewer than `count` requests arrived within kWaitMs.
    bool WaitForRequests(size_t count) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mChanged.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                                 [&] { return mRequests.size() >= count; });
    }

private:
    void AcceptLoop() {
        for (;;) {
            int fd = ::accept(mListen, nullptr, nullptr);
            if (fd < 0 && errno == EINTR)
                continue;
            if (fd < 0)
                return;
            std::lock_guard<std::mutex> lock(mMutex);
            if (mStopping) {
                ::close(fd);
                return;
            }
            mOpenFds.push_back(fd);
            mConnThreads.emplace_back([this, fd] { Serve(fd); });
        }
    }
    void Serve(int fd) {
        Conn conn(fd);
        for (HttpRequest req; !mStopping && !conn.WantsClose() && conn.ReadRequest(&req);) {
            {
                std::lock_guard<std::mutex> lock(mMutex);
                mRequests.push_back(req);
            }
            mChanged.notify_all();
            mHandler(req, conn);
        }
        std::lock_guard<std::mutex> lock(mMutex);
        mOpenFds.erase(std::remove(mOpenFds.begin(), mOpenFds.end(), fd), mOpenFds.end());
        ::close(fd);
    }

    Handler mHandler;
    int mListen = -1;
    uint16_t mPort = 0;
    std::atomic<bool> mStopping{false};
    std::thread mAcceptThread;
    std::mutex mMutex; // guards everything below
    std::condition_variable mChanged;
    std::vector<std::thread> mConnThreads; // one per accepted connection
    std::vector<int> mOpenFds;
    std::vector<HttpRequest> mRequests;
};

// A plain answer with a Content-Length body.
inline std::string Response(int status, const std::string& reason, const std::string& body,
                            const std::string& extraHeaders = "") {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + extraHeaders +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace httptest
