// A scripted HTTP/1.1 server on 127.0.0.1 for the tests of the WinINet layer
// and the asynchronous client. It listens on a port the system picks, serves
// each connection on its own thread, reads request after request on a kept-
// alive connection and hands each one (head parsed, a Content-Length body
// read) to the test's handler, which answers with raw bytes: split heads,
// odd chunking, garbage, a close in the middle. The destructor shuts every
// socket down and joins every thread; a handler that waits for the test must
// wait with a deadline (Gate).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace inettest {

struct HttpRequest {
    std::string method, target;
    std::string head; // request line and header lines, blank line included
    std::string body;
    // The value of the last header of that lower-case name ("" when absent),
    // and how many there are.
    std::string Header(const std::string& lowerName) const { return Find(lowerName, nullptr); }
    int HeaderCount(const std::string& lowerName) const {
        int n = 0;
        Find(lowerName, &n);
        return n;
    }

private:
    std::string Find(const std::string& lowerName, int* count) const {
        std::string lower = head, value;
        for (char& c : lower)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        const std::string key = "\r\n" + lowerName + ":";
        for (size_t at = 0; (at = lower.find(key, at)) != std::string::npos; ++at) {
            size_t from = head.find_first_not_of(' ', at + key.size());
            value = head.substr(from, head.find("\r\n", from) - from);
            if (count)
                ++*count;
        }
        return value;
    }
};

// One accepted connection as the handler sees it. Bytes that came in behind
// the request (a client may send a streamed body in the same segment as the
// head) are returned by Recv before the socket is read again.
class Conn {
public:
    Conn(int fd, std::string& pending) : mFd(fd), mPending(pending) {}
    bool Send(const std::string& bytes) { return Send(bytes.data(), bytes.size()); }
    bool Send(const void* data, size_t length) {
        const char* p = static_cast<const char*>(data);
        while (length > 0) {
            ssize_t n = ::send(mFd, p, length, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            p += n;
            length -= static_cast<size_t>(n);
        }
        return true;
    }
    // Up to `length` bytes; 0 when the peer closed or the server stops.
    size_t Recv(void* data, size_t length) {
        if (!mPending.empty()) {
            size_t n = std::min(length, mPending.size());
            std::memcpy(data, mPending.data(), n);
            mPending.erase(0, n);
            return n;
        }
        for (;;) {
            ssize_t n = ::recv(mFd, data, length, 0);
            if (n < 0 && errno == EINTR)
                continue;
            return n > 0 ? static_cast<size_t>(n) : 0;
        }
    }
    void CloseAfter() { mClose = true; }
    bool WantsClose() const { return mClose; }

private:
    int mFd;
    std::string& mPending;
    bool mClose = false;
};

class InetTestServer {
public:
    using Handler = std::function<void(const HttpRequest&, Conn&)>;
    // Longer request heads end the connection (the clients send small ones).
    static constexpr size_t kMaxRequestHead = 64 * 1024;

    explicit InetTestServer(Handler handler) : mHandler(std::move(handler)) {
        mListen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (::bind(mListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            ::listen(mListen, 16) != 0 ||
            ::getsockname(mListen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        mPort = ntohs(addr.sin_port);
        mAcceptThread = std::thread([this] { AcceptLoop(); });
    }
    ~InetTestServer() {
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
        return mConnections;
    }
    std::vector<HttpRequest> Requests() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mRequests;
    }
    size_t CountTarget(const std::string& target) {
        size_t n = 0;
        for (const HttpRequest& r : Requests())
            n += r.target == target;
        return n;
    }
    // False when fewer than `count` requests arrived within the deadline.
    bool WaitForRequests(size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mChanged.wait_for(lock, deadline, [&] { return mRequests.size() >= count; });
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
            ++mConnections;
            mOpenFds.push_back(fd);
            mConnThreads.emplace_back([this, fd] { Serve(fd); });
        }
    }
    // Reads into `pending` until it holds `size` bytes or, with `until`, that
    // text; false when the peer went away.
    static bool Need(int fd, std::string& pending, size_t size, const std::string& until) {
        char buf[8192];
        while (until.empty() ? pending.size() < size : pending.find(until) == std::string::npos) {
            if (pending.size() > kMaxRequestHead && !until.empty())
                return false;
            ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            pending.append(buf, static_cast<size_t>(n));
        }
        return true;
    }
    void Serve(int fd) {
        std::string pending;
        Conn conn(fd, pending);
        while (!mStopping && Need(fd, pending, 0, "\r\n\r\n")) {
            HttpRequest req;
            size_t end = pending.find("\r\n\r\n") + 4;
            req.head = pending.substr(0, end);
            pending.erase(0, end);
            size_t sp = req.head.find(' ');
            req.method = req.head.substr(0, sp);
            req.target = req.head.substr(sp + 1, req.head.find(' ', sp + 1) - sp - 1);
            size_t want = std::strtoul(req.Header("content-length").c_str(), nullptr, 10);
            if (!Need(fd, pending, want, ""))
                break;
            req.body = pending.substr(0, want);
            pending.erase(0, want);
            {
                std::lock_guard<std::mutex> lock(mMutex);
                mRequests.push_back(req);
            }
            mChanged.notify_all();
            mHandler(req, conn);
            if (conn.WantsClose())
                break;
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
    std::vector<std::thread> mConnThreads;
    std::vector<int> mOpenFds;
    std::vector<HttpRequest> mRequests;
    int mConnections = 0;
};

// A plain answer with a Content-Length body.
inline std::string Response(int status, const std::string& reason, const std::string& body,
                            const std::string& extraHeaders = "") {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + extraHeaders +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A latch the test opens for a handler that must hold its answer; the handler
// gives up after the deadline so that a failing test still ends.
class Gate {
public:
    void Open() {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mOpen = true;
        }
        mCv.notify_all();
    }
    bool Wait(std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mCv.wait_for(lock, deadline, [&] { return mOpen; });
    }

private:
    std::mutex mMutex;
    std::condition_variable mCv;
    bool mOpen = false;
};

} // namespace inettest
