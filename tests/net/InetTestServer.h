// A scripted HTTP/1.1 server on 127.0.0.1 for the tests of the WinINet layer
// and the asynchronous client.
//
// It listens on a port the system picks (bind port 0, read it back), serves
// each connection on its own thread, reads request after request on a kept-
// alive connection and hands each one (head parsed, a Content-Length body
// read) to the test's handler, which answers by writing raw bytes. So a test
// can send anything a device might: split heads, odd chunking, garbage, a
// close in the middle. The destructor shuts every socket down and joins every
// thread; a handler that waits for the test must wait with a deadline.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace inettest {

struct HttpRequest {
    std::string method;
    std::string target;
    std::string head; // request line and header lines, CR LF each, blank line included
    std::map<std::string, std::string> headers; // lower-case name -> value (last one wins)
    int headerCount(const std::string& lowerName) const {
        int n = 0;
        size_t pos = 0;
        std::string lowerHead = head;
        for (char& c : lowerHead)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        while ((pos = lowerHead.find("\r\n" + lowerName + ":", pos)) != std::string::npos) {
            ++n;
            ++pos;
        }
        return n;
    }
    // A header's value by lower-case name; "" when absent.
    std::string Header(const std::string& lowerName) const {
        auto it = headers.find(lowerName);
        return it == headers.end() ? "" : it->second;
    }
    std::string body;
    int connection = 0; // 1-based number of the connection it came on
};

// One accepted connection, as the handler sees it.
class Conn {
public:
    explicit Conn(int fd) : mFd(fd) {}
    bool Send(const std::string& bytes) { return Send(bytes.data(), bytes.size()); }
    bool Send(const void* data, size_t length) {
        const char* p = static_cast<const char*>(data);
        while (length > 0) {
            ssize_t n = ::send(mFd, p, length, MSG_NOSIGNAL);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                return false;
            }
            p += n;
            length -= static_cast<size_t>(n);
        }
        return true;
    }
    // Reads up to `length` bytes; 0 when the peer closed or the server stops.
    size_t Recv(void* data, size_t length) {
        for (;;) {
            ssize_t n = ::recv(mFd, data, length, 0);
            if (n < 0 && errno == EINTR)
                continue;
            return n > 0 ? static_cast<size_t>(n) : 0;
        }
    }
    // The handler wants the connection closed after its answer.
    void CloseAfter() { mClose = true; }
    bool WantsClose() const { return mClose; }
    int Fd() const { return mFd; }

private:
    int mFd;
    bool mClose = false;
};

class InetTestServer {
public:
    using Handler = std::function<void(const HttpRequest&, Conn&)>;

    // Request heads longer than this are refused (the test clients send small ones).
    static constexpr size_t kMaxRequestHead = 64 * 1024;

    explicit InetTestServer(Handler handler) : mHandler(std::move(handler)) {
        mListen = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(mListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (::bind(mListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            ::listen(mListen, 16) != 0)
            return;
        socklen_t len = sizeof(addr);
        ::getsockname(mListen, reinterpret_cast<sockaddr*>(&addr), &len);
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
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            threads.swap(mConnThreads);
        }
        for (std::thread& t : threads)
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
    // Waits until `count` requests arrived; false when the deadline passed.
    bool WaitForRequests(size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mChanged.wait_for(lock, deadline, [&] { return mRequests.size() >= count; });
    }

private:
    void AcceptLoop() {
        for (;;) {
            int fd = ::accept(mListen, nullptr, nullptr);
            if (fd < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            std::lock_guard<std::mutex> lock(mMutex);
            if (mStopping) {
                ::close(fd);
                return;
            }
            int number = ++mConnections;
            mOpenFds.push_back(fd);
            mConnThreads.emplace_back([this, fd, number] { Serve(fd, number); });
        }
    }

    void Serve(int fd, int number) {
        Conn conn(fd);
        std::string pending;
        char buf[8192];
        while (!mStopping) {
            size_t end;
            while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
                if (pending.size() > kMaxRequestHead)
                    goto done;
                size_t n = conn.Recv(buf, sizeof(buf));
                if (n == 0)
                    goto done;
                pending.append(buf, n);
            }
            {
                HttpRequest req;
                req.connection = number;
                req.head = pending.substr(0, end + 4);
                pending.erase(0, end + 4);
                ParseHead(req);
                auto cl = req.headers.find("content-length");
                if (cl != req.headers.end()) {
                    size_t want = std::strtoul(cl->second.c_str(), nullptr, 10);
                    while (pending.size() < want) {
                        size_t n = conn.Recv(buf, sizeof(buf));
                        if (n == 0)
                            goto done;
                        pending.append(buf, n);
                    }
                    req.body = pending.substr(0, want);
                    pending.erase(0, want);
                }
                {
                    std::lock_guard<std::mutex> lock(mMutex);
                    mRequests.push_back(req);
                }
                mChanged.notify_all();
                mHandler(req, conn);
                if (conn.WantsClose())
                    break;
            }
        }
    done:
        std::lock_guard<std::mutex> lock(mMutex);
        mOpenFds.erase(std::remove(mOpenFds.begin(), mOpenFds.end(), fd), mOpenFds.end());
        ::close(fd);
    }

    static void ParseHead(HttpRequest& req) {
        size_t lineEnd = req.head.find("\r\n");
        std::string line = req.head.substr(0, lineEnd);
        size_t sp1 = line.find(' ');
        size_t sp2 = line.find(' ', sp1 + 1);
        req.method = line.substr(0, sp1);
        req.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
        size_t pos = lineEnd + 2;
        while (pos < req.head.size()) {
            size_t e = req.head.find("\r\n", pos);
            if (e == pos || e == std::string::npos)
                break;
            std::string h = req.head.substr(pos, e - pos);
            size_t colon = h.find(':');
            if (colon != std::string::npos) {
                std::string name = h.substr(0, colon);
                for (char& c : name)
                    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
                size_t v = h.find_first_not_of(' ', colon + 1);
                req.headers[name] = v == std::string::npos ? "" : h.substr(v);
            }
            pos = e + 2;
        }
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
    bool Wait(std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mCv.wait_for(lock, deadline, [&] { return mOpen; });
    }

private:
    std::mutex mMutex;
    std::condition_variable mCv;
    bool mOpen = false;
};

} // namespace inettest
