#include "StreamCounts.h"

#include <algorithm>

namespace camsim {

StreamCounts::Token& StreamCounts::Token::operator=(Token&& other) noexcept {
    if (this != &other) {
        Close();
        mpCounts = other.mpCounts;
        mKind = other.mKind;
        mPath = std::move(other.mPath);
        other.mpCounts = nullptr;
    }
    return *this;
}

void StreamCounts::Token::Close() {
    if (mpCounts)
        mpCounts->Close(mKind, mPath);
    mpCounts = nullptr;
}

StreamCounts::Token StreamCounts::Open(Kind kind, const std::string& path) {
    Token token;
    {
        std::lock_guard<std::mutex> guard(mLock);
        std::map<std::string, Count>& table = Table(kind);
        const bool known = table.count(path) != 0;
        token.mPath = known || table.size() < kMaxPaths ? path : kOtherPath;
        Count& count = table[token.mPath];
        ++count.open;
        ++count.total;
        Count& all = kind == Kind::Stream ? mStreamTotal : mPollTotal;
        ++all.open;
        ++all.total;
    }
    token.mpCounts = this;
    token.mKind = kind;
    mChanged.notify_all();
    return token;
}

void StreamCounts::Close(Kind kind, const std::string& path) {
    {
        std::lock_guard<std::mutex> guard(mLock);
        --Table(kind)[path].open;
        --(kind == Kind::Stream ? mStreamTotal : mPollTotal).open;
    }
    mChanged.notify_all();
}

StreamCounts::Count StreamCounts::Total(Kind kind) const {
    std::lock_guard<std::mutex> guard(mLock);
    return kind == Kind::Stream ? mStreamTotal : mPollTotal;
}

StreamCounts::Count StreamCounts::Of(Kind kind, const std::string& path) const {
    std::lock_guard<std::mutex> guard(mLock);
    const auto& table = Table(kind);
    auto it = table.find(path);
    return it == table.end() ? Count() : it->second;
}

uint64_t StreamCounts::OpenNow(const std::string& path) const {
    if (path.empty())
        return mStreamTotal.open;
    auto it = mStreams.find(path);
    return it == mStreams.end() ? 0 : it->second.open;
}

bool StreamCounts::WaitOpen(const std::string& path, uint64_t open, std::chrono::milliseconds timeout,
                            const std::function<bool()>& stopping) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::min(timeout, std::chrono::milliseconds(kMaxWaitMs));
    // Slices, so that a stopping server is noticed while nothing changes.
    const auto slice = std::chrono::milliseconds(100);
    std::unique_lock<std::mutex> guard(mLock);
    while (OpenNow(path) != open) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline || (stopping && stopping()))
            return false;
        mChanged.wait_for(guard, std::min<std::chrono::steady_clock::duration>(deadline - now, slice));
    }
    return true;
}

std::string StreamCounts::Describe() const {
    std::lock_guard<std::mutex> guard(mLock);
    auto line = [](const std::string& what, const Count& c) {
        return what + " open=" + std::to_string(c.open) + " total=" + std::to_string(c.total) + "\r\n";
    };
    std::string out = line("streams", mStreamTotal) + line("polls", mPollTotal);
    for (const auto& kv : mStreams)
        out += line("stream " + kv.first, kv.second);
    for (const auto& kv : mPolls)
        out += line("poll " + kv.first, kv.second);
    return out;
}

} // namespace camsim
