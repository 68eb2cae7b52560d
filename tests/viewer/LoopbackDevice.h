// A device on a free loopback port for the viewer's open: answers each HTTP
// request with what the test's handler says and remembers every request line
// and Authorization header. One connection at a time, "Connection: close"
// after every answer. Stops (and joins its thread) on destruction; the thread
// waits on poll with a wake pipe, never on a sleep.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackDevice {
public:
    struct Reply {
        int status = 200;
        std::string body;
    };
    struct Request {
        std::string path; // path and query of the request line
        std::string authorization;
    };
    using Handler = std::function<Reply(const Request&)>;

    // Longest request head read; a longer one is answered 400.
    static constexpr size_t kMaxHeadBytes = 8192;
    // Milliseconds a connection may take to send its head.
    static constexpr int kHeadTimeoutMs = 5000;

    explicit LoopbackDevice(Handler handler) : mHandler(std::move(handler)) {
        mListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (mListen < 0 || ::bind(mListen, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(mListen, 8) != 0 || ::pipe(mWake) != 0)
            return;
        socklen_t length = sizeof(address);
        ::getsockname(mListen, reinterpret_cast<sockaddr*>(&address), &length);
        mPort = ntohs(address.sin_port);
        mThread = std::thread([this] { Serve(); });
    }

    ~LoopbackDevice() {
        if (mThread.joinable()) {
            char byte = 0;
            (void)!::write(mWake[1], &byte, 1);
            mThread.join();
        }
        for (int fd : {mListen, mWake[0], mWake[1]}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    uint16_t Port() const { return mPort; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(mPort); }

    std::vector<Request> Requests() {
        std::lock_guard<std::mutex> guard(mLock);
        return mRequests;
    }
    size_t CountRequests(const std::string& prefix) {
        std::lock_guard<std::mutex> guard(mLock);
        size_t count = 0;
        for (const Request& request : mRequests)
            count += request.path.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
        return count;
    }

private:
    void Serve() {
        for (;;) {
            pollfd fds[2] = {{mListen, POLLIN, 0}, {mWake[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN))
                return;
            int connection = ::accept4(mListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            Answer(connection);
            ::close(connection);
        }
    }

    void Answer(int connection) {
        std::string head;
        char buffer[1024];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHeadBytes) {
            pollfd fds[2] = {{connection, POLLIN, 0}, {mWake[0], POLLIN, 0}};
            if (::poll(fds, 2, kHeadTimeoutMs) <= 0 || (fds[1].revents & POLLIN))
                return;
            ssize_t got = ::recv(connection, buffer, sizeof(buffer), 0);
            if (got <= 0)
                return;
            head.append(buffer, static_cast<size_t>(got));
        }
        Request request;
        const size_t firstSpace = head.find(' ');
        const size_t secondSpace = head.find(' ', firstSpace + 1);
        if (firstSpace != std::string::npos && secondSpace != std::string::npos)
            request.path = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
        const std::string kAuth = "\r\nAuthorization: ";
        const size_t auth = head.find(kAuth);
        if (auth != std::string::npos) {
            const size_t start = auth + kAuth.size();
            request.authorization = head.substr(start, head.find("\r\n", start) - start);
        }
        {
            std::lock_guard<std::mutex> guard(mLock);
            mRequests.push_back(request);
        }
        Reply reply = head.size() >= kMaxHeadBytes ? Reply{400, ""} : mHandler(request);
        std::string response = "HTTP/1.1 " + std::to_string(reply.status) + " Device\r\n";
        if (reply.status == 401)
            response += "WWW-Authenticate: Basic realm=\"device\"\r\n";
        response += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(reply.body.size()) +
                    "\r\nConnection: close\r\n\r\n" + reply.body;
        size_t sent = 0;
        while (sent < response.size()) {
            ssize_t n = ::send(connection, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<size_t>(n);
        }
    }

    Handler mHandler;
    int mListen = -1;
    int mWake[2] = {-1, -1};
    uint16_t mPort = 0;
    std::thread mThread;
    std::mutex mLock;
    std::vector<Request> mRequests; // guarded by mLock
};
