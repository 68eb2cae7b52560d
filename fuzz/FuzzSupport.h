// Shared by the fuzz targets: a broken rule traps so that libFuzzer reports
// it, hostile text is cut at separators, and an HTTP client answers each
// request with the next of the input's hostile bodies in reads of sizes the
// input chooses.
#pragma once

#include "net/IHttpClient.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace fuzz {

inline void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// Calls f on each piece of text between separators, the last one (maybe empty) included.
template <class F> void ForEachPiece(std::string_view text, std::string_view separator, F f) {
    for (size_t start = 0;;) {
        const size_t end = text.find(separator, start);
        f(std::string(text.substr(start, end == text.npos ? text.npos : end - start)));
        if (end == text.npos)
            return;
        start = end + separator.size();
    }
}

// Request n is answered with bodies[n], the last body answering every request
// beyond (so a single body answers them all). Each read delivers at most the
// next of `pieces` (cycled; none: no limit) and a filling read goes on to the
// next piece. Connects succeed while *connectsLeft lasts (always without one);
// a request path longer than maxPath traps.
class CPieceClient : public IHttpClient {
public:
    CPieceClient(std::string_view body, std::vector<size_t> pieces, int* connectsLeft = nullptr,
                 size_t maxPath = SIZE_MAX)
        : CPieceClient(std::vector<std::string_view>{body}, std::move(pieces), connectsLeft, maxPath) {}
    CPieceClient(std::vector<std::string_view> bodies, std::vector<size_t> pieces,
                 int* connectsLeft = nullptr, size_t maxPath = SIZE_MAX)
        : mBodies(std::move(bodies)), mPieces(std::move(pieces)), mConnectsLeft(connectsLeft),
          mMaxPath(maxPath) {
        if (mBodies.empty())
            mBodies.emplace_back();
        mBody = mBodies.front();
        SetCancelEvent(&mOwnCancel);
    }
    bool Connect(const std::string&, uint16_t, bool) override {
        mConnected = !mConnectsLeft || (*mConnectsLeft)-- > 0;
        return mConnected;
    }
    bool Get(const std::string& path) override {
        Check(path.size() <= mMaxPath);
        mBody = mBodies[std::min(mRequests++, mBodies.size() - 1)];
        mPosition = 0;
        return mConnected;
    }
    // Requests made so far.
    size_t GetRequestCount() const { return mRequests; }
    bool Post(const std::string&, const std::string&) override { return false; }
    bool BeginPost(const std::string&) override { return false; }
    bool Write(const void*, DWORD) override { return false; }
    bool EndPost() override { return true; }
    bool Disconnect() override {
        mConnected = false;
        return true;
    }
    bool Read(void* buffer, DWORD* length, bool fill) override {
        size_t delivered = 0;
        while (mConnected && delivered < *length && mPosition < mBody.size()) {
            size_t n = std::min<size_t>(*length - delivered, mBody.size() - mPosition);
            if (!mPieces.empty())
                n = std::min(n, mPieces[mReads++ % mPieces.size()]);
            std::memcpy(static_cast<uint8_t*>(buffer) + delivered, mBody.data() + mPosition, n);
            mPosition += n;
            delivered += n;
            if (!fill)
                break;
        }
        *length = static_cast<DWORD>(delivered);
        return delivered > 0;
    }
    bool QueryStatusCode(int* status) override {
        *status = 200;
        return true;
    }
    int GetStatusCode() override { return 200; }
    bool IsConnected() override { return mConnected; }
    DWORD GetLastErrorCode() override { return 0; }
    void SetTimeout(DWORD) override {}
    void SetCredentials(const CHttpCredential& c) override { c.CopyTo(mCredential); }
    CHttpCredential* GetCredentials() override { return &mCredential; }

private:
    std::vector<std::string_view> mBodies;
    std::string_view mBody; // the answer being read
    size_t mRequests = 0;
    std::vector<size_t> mPieces;
    int* mConnectsLeft;
    size_t mMaxPath;
    media_util::CManualEvent mOwnCancel;
    CHttpCredential mCredential;
    bool mConnected = false;
    size_t mPosition = 0, mReads = 0;
};

// True, every 64th call, when the process holds more than 1 GiB: for
// targets that keep decoders (their reference pictures grow with the sizes
// inputs name) to let them go before libFuzzer's memory limit is met.
inline bool OverMemoryBudget() {
    static unsigned calls = 0;
    if (++calls % 64 != 0)
        return false;
    long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return false;
    const bool read = std::fscanf(statm, "%ld %ld", &pages, &resident) == 2;
    std::fclose(statm);
    return read && resident * sysconf(_SC_PAGESIZE) > (1L << 30);
}

} // namespace fuzz
