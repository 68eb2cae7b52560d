// A device on 127.0.0.1 for tests that go through the real socket client:
// listens on a free port (port 0, read back), serves one request per
// connection on its own thread, records every request head byte for byte and
// answers with what a handler returns for the request's path (Content-Length
// framing, or none and a close when mNoLength is set). A refused answer
// closes the connection without a response.
#pragma once

#include "device/FakeHttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CLoopbackDevice {
public:
    using Handler = std::function<CFakeHttpClient::SAnswer(const std::string& path)>;
    // Largest request head read; a longer one is dropped.
    static constexpr size_t kMaxHead = 16384;

    explicit CLoopbackDevice(Handler handler, bool noLength = false)
        : mHandler(std::move(handler)), mNoLength(noLength) {
        mListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (mListen < 0 || ::bind(mListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(mListen, 16) != 0)
            return;
        socklen_t length = sizeof address;
        ::getsockname(mListen, reinterpret_cast<sockaddr*>(&address), &length);
        mPort = ntohs(address.sin_port);
        mThread = std::thread([this] { Serve(); });
    }
    ~CLoopbackDevice() {
        // shutdown wakes the blocked accept; the serving thread then ends.
        ::shutdown(mListen, SHUT_RDWR);
        if (mThread.joinable())
            mThread.join();
        ::close(mListen);
    }
    CLoopbackDevice(const CLoopbackDevice&) = delete;
    CLoopbackDevice& operator=(const CLoopbackDevice&) = delete;

    uint16_t Port() const { return mPort; }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(mPort) + "/"; }
    std::vector<std::string> Heads() {
        std::lock_guard<std::mutex> lock(mLock);
        return mHeads;
    }
    // The request lines' paths, in order.
    std::vector<std::string> Paths() {
        std::vector<std::string> paths;
        for (const std::string& head : Heads()) {
            const size_t first = head.find(' ');
            const size_t second = head.find(' ', first + 1);
            paths.push_back(head.substr(first + 1, second - first - 1));
        }
        return paths;
    }

private:
    void Serve() {
        for (;;) {
            const int fd = ::accept(mListen, nullptr, nullptr);
            if (fd < 0)
                return;
            Answer(fd);
            ::close(fd);
        }
    }
    void Answer(int fd) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHead) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            head.append(buffer, static_cast<size_t>(n));
        }
        {
            std::lock_guard<std::mutex> lock(mLock);
            mHeads.push_back(head);
        }
        const size_t first = head.find(' ');
        const size_t second = head.find(' ', first + 1);
        const CFakeHttpClient::SAnswer answer = mHandler(head.substr(first + 1, second - first - 1));
        if (answer.refused)
            return;
        std::string response = "HTTP/1.1 " + std::to_string(answer.status) + " X\r\n";
        if (!mNoLength)
            response += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
        response += "Connection: close\r\n\r\n" + answer.body;
        size_t sent = 0;
        while (sent < response.size()) {
            const ssize_t n = ::send(fd, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<size_t>(n);
        }
    }

    Handler mHandler;
    bool mNoLength;
    int mListen = -1;
    uint16_t mPort = 0;
    std::thread mThread;
    std::mutex mLock; // guards mHeads
    std::vector<std::string> mHeads;
};
