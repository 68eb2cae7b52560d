// How many media connections camsim serves: multipart streams and picture
// polls, each counted per request path as the number open now and the total
// since the process started. Tests read them through the control CGI
// ("/camsim/control?streams") to see how many connections a viewer holds, for
// instance that two channels of one camera share one stream.
//
// A stream counts as open from the moment its response head went out until
// its handler returns (the client went, a write failed, a fault ended it);
// a refused stream ("NS") is no stream. A poll is open while its one picture
// is being answered.
//
// Threads: any connection thread opens and closes; the control CGI reads and
// waits. All members lock internally.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace camsim {

class StreamCounts {
public:
    enum class Kind { Stream, Poll };
    // Longest wait a control request may ask for, so that a test cannot hold
    // a connection thread (and camsim's shutdown) for long.
    static constexpr uint32_t kMaxWaitMs = 30000;
    // Paths counted apart; beyond this many, further paths are counted under
    // kOtherPath so that odd request paths cannot grow the table.
    static constexpr size_t kMaxPaths = 64;
    static constexpr const char* kOtherPath = "(other)";

    struct Count {
        uint64_t open = 0;
        uint64_t total = 0;
    };

    // Counts one stream or poll on `path` as open for the token's life.
    class Token {
    public:
        Token() = default;
        Token(Token&& other) noexcept { *this = std::move(other); }
        Token& operator=(Token&& other) noexcept;
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;
        ~Token() { Close(); }
        void Close();

    private:
        friend class StreamCounts;
        StreamCounts* mpCounts = nullptr;
        Kind mKind = Kind::Stream;
        std::string mPath;
    };

    Token Open(Kind kind, const std::string& path);

    // All streams (or polls) together, or those of one path.
    Count Total(Kind kind) const;
    Count Of(Kind kind, const std::string& path) const;

    // Waits until exactly `open` streams are open (on `path`, or on all paths
    // when it is empty), at most `timeout` (capped at kMaxWaitMs) and while
    // `stopping` says false. True when the number was reached.
    bool WaitOpen(const std::string& path, uint64_t open, std::chrono::milliseconds timeout,
                  const std::function<bool()>& stopping);

    // The control CGI's lines, overall first, then one per path in path order:
    //
    //     streams open=1 total=3
    //     polls open=0 total=12
    //     stream /avc.cgi open=1 total=3
    //     poll /api.htm open=0 total=12
    std::string Describe() const;

private:
    void Close(Kind kind, const std::string& path);
    std::map<std::string, Count>& Table(Kind kind) { return kind == Kind::Stream ? mStreams : mPolls; }
    const std::map<std::string, Count>& Table(Kind kind) const {
        return kind == Kind::Stream ? mStreams : mPolls;
    }
    uint64_t OpenNow(const std::string& path) const; // caller holds mLock

    mutable std::mutex mLock;
    std::condition_variable mChanged;      // notified on every open and close
    std::map<std::string, Count> mStreams; // guarded by mLock
    std::map<std::string, Count> mPolls;   // guarded by mLock
    Count mStreamTotal;                    // guarded by mLock
    Count mPollTotal;                      // guarded by mLock
};

} // namespace camsim
