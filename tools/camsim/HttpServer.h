// camsim's listener: accepts connections on a loopback address and serves
// each on a thread of its own, within a bound on simultaneous connections.
//
// Threads: Run is called by the main thread and returns after Stop; Stop may
// be called from any thread (a signal watcher, the lifetime timer).
#pragma once

#include "Faults.h"
#include "Router.h"
#include "StreamCounts.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace camsim {

struct ServerConfig {
    std::string bindAddress = "127.0.0.1"; // loopback only: 127.0.0.1 or ::1
    uint16_t port = 0;                     // 0 = pick a free port
    uint32_t maxConnections = 64;
    uint32_t idleTimeoutMs = 10000; // a connection waiting longer for a request is closed
    std::vector<std::pair<std::string, std::string>> users; // none = no authentication
};

class HttpServer {
public:
    static constexpr uint32_t kMaxConnectionsLimit = 4096;
    // Closing a connection waits at most this long between pieces, and for
    // at most this many bytes, for the client's side to end.
    static constexpr uint32_t kLingerMs = 500;
    static constexpr size_t kLingerBytes = 1024 * 1024;

    HttpServer(const ServerConfig& config, Router& router, Faults& faults);
    ~HttpServer();

    // Binds and listens. False with a message on failure.
    bool Listen(std::string* error);
    uint16_t Port() const { return mPort; }
    // Accepts until Stop, then closes every connection and waits for their
    // threads to end.
    void Run();
    void Stop();
    bool Stopping() const { return mStopping.load(); }

    const ServerConfig& Config() const { return mConfig; }
    Router& Routes() { return mRouter; }
    Faults& FaultSwitches() { return mFaults; }
    // The media streams and polls served, for the control CGI.
    StreamCounts& Streams() { return mStreamCounts; }
    // Ends every media stream open now: each stream compares the count it
    // began with to this one between its parts.
    void KickStreams() { ++mKicks; }
    uint64_t Kicks() const { return mKicks.load(); }
    // Counts requests per key, server-wide (for answers that change after
    // the N-th request). Returns the count including this one.
    uint64_t CountRequest(const std::string& key);

private:
    void ConnectionThread(int fd, uint64_t serial);

    ServerConfig mConfig;
    Router& mRouter;
    Faults& mFaults;
    int mListenFd = -1;
    uint16_t mPort = 0;
    std::atomic<bool> mStopping{false};
    std::atomic<uint64_t> mKicks{0};
    StreamCounts mStreamCounts; // locks itself

    std::mutex mLock;
    std::condition_variable mAllGone;
    std::set<int> mOpenFds;                  // guarded by mLock
    uint32_t mThreads = 0;                   // guarded by mLock
    uint64_t mAccepted = 0;                  // guarded by mLock
    std::map<std::string, uint64_t> mCounts; // guarded by mLock
};

} // namespace camsim
