#include "HttpServer.h"

#include "HttpConnection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace camsim {

HttpServer::HttpServer(const ServerConfig& config, Router& router, Faults& faults)
    : mConfig(config), mRouter(router), mFaults(faults) {}

HttpServer::~HttpServer() {
    if (mListenFd >= 0)
        ::close(mListenFd);
}

bool HttpServer::Listen(std::string* error) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family;
    if (mConfig.bindAddress == "127.0.0.1") {
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(mConfig.port);
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(*in);
        family = AF_INET;
    } else if (mConfig.bindAddress == "::1") {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(mConfig.port);
        in6->sin6_addr = in6addr_loopback;
        length = sizeof(*in6);
        family = AF_INET6;
    } else {
        *error = "only the loopback addresses 127.0.0.1 and ::1 may be bound";
        return false;
    }
    mListenFd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (mListenFd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(mListenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (::bind(mListenFd, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(mListenFd, 64) != 0) {
        *error = std::string("bind/listen: ") + std::strerror(errno);
        return false;
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof(bound);
    ::getsockname(mListenFd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    mPort = family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port)
                              : ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
    return true;
}

uint64_t HttpServer::CountRequest(const std::string& key) {
    std::lock_guard<std::mutex> guard(mLock);
    return ++mCounts[key];
}

void HttpServer::Run() {
    static const char kBusy[] =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    while (!mStopping.load()) {
        int fd = ::accept4(mListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (mStopping.load())
                break;
            if (errno == EMFILE || errno == ENFILE) {
                // Out of descriptors: stop accepting for a moment instead of spinning.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            break;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        std::unique_lock<std::mutex> guard(mLock);
        if (mStopping.load() || mThreads >= mConfig.maxConnections) {
            guard.unlock();
            ::send(fd, kBusy, sizeof(kBusy) - 1, MSG_NOSIGNAL);
            ::close(fd);
            continue;
        }
        ++mThreads;
        uint64_t serial = ++mAccepted;
        mOpenFds.insert(fd);
        guard.unlock();
        std::thread(&HttpServer::ConnectionThread, this, fd, serial).detach();
    }
    std::unique_lock<std::mutex> guard(mLock);
    for (int fd : mOpenFds)
        ::shutdown(fd, SHUT_RDWR);
    mAllGone.wait(guard, [this] { return mThreads == 0; });
}

void HttpServer::Stop() {
    if (mStopping.exchange(true))
        return;
    // Wakes the accept and every connection thread blocked in poll or recv.
    ::shutdown(mListenFd, SHUT_RDWR);
    std::lock_guard<std::mutex> guard(mLock);
    for (int fd : mOpenFds)
        ::shutdown(fd, SHUT_RDWR);
}

void HttpServer::ConnectionThread(int fd, uint64_t serial) {
    {
        HttpConnection connection(*this, fd, serial);
        connection.Serve();
    }
    // A lingering close: closing with unread request bytes would send a
    // reset, which can make the client lose the answer just sent (a 431 for
    // an endless head, say). Send the end, then drain what is still coming,
    // within bounds.
    ::shutdown(fd, SHUT_WR);
    char sink[16 * 1024];
    size_t drained = 0;
    while (!mStopping.load() && drained < kLingerBytes) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(kLingerMs)) <= 0)
            break;
        ssize_t n = ::recv(fd, sink, sizeof(sink), 0);
        if (n <= 0)
            break;
        drained += static_cast<size_t>(n);
    }
    std::lock_guard<std::mutex> guard(mLock);
    mOpenFds.erase(fd);
    ::close(fd);
    --mThreads;
    mAllGone.notify_all();
}

} // namespace camsim
