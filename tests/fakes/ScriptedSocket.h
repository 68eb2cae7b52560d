// A TCP client socket whose peer is a script, for testing HTTP code without a
// network: each request sent releases the next scripted answer, and a cut
// function decides how many bytes each receive returns, so a test can split
// the incoming bytes at any point.
#pragma once

#include "net/CSocketAddress.h"
#include "net/CTcpClientSocket.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class CScriptedSocket : public CTcpClientSocket {
public:
    // How many bytes receive number `recvIndex` (from 0) may return; below 1 counts as 1.
    using Cut = std::function<int(int recvIndex, int asked, int waiting)>;

    // What a receive returns once everything released has been read.
    enum class AtEnd { PeerClosed, Error };

    // Answers, released one per Send: as with a real peer, an answer's bytes
    // come only after its request went out.
    std::deque<std::string> mAnswers;
    Cut mCut;
    AtEnd mAtEnd = AtEnd::PeerClosed;
    bool mConnectResult = true;
    // Send returns -1 from this call on (0-based; -1 = never).
    int mFailSendFrom = -1;

    // What happened.
    std::string mSent; // every Send's bytes, in order
    std::vector<std::string> mSends;
    int mConnectCalls = 0;
    int mCloseCalls = 0;
    int mRecvCalls = 0;
    bool mLastBounded = false;
    // The address of the last Connect: family, numeric text, port (host order).
    int mLastFamily = 0;
    std::string mLastAddress;
    uint16_t mLastPort = 0;

    bool Connect(const CSocketAddress& address, bool bounded) override {
        ++mConnectCalls;
        mLastBounded = bounded;
        mLastFamily = address.GetFamily();
        mLastAddress = address.ToText();
        mLastPort = ntohs(address.GetPort());
        mConnected.store(mConnectResult);
        return mConnectResult;
    }
    int Close() override {
        ++mCloseCalls;
        mConnected.store(false);
        return 0;
    }
    int Send(const void* data, int length) override {
        if (!mConnected.load())
            return -1;
        int index = static_cast<int>(mSends.size());
        if (mFailSendFrom >= 0 && index >= mFailSendFrom)
            return -1;
        mSends.emplace_back(static_cast<const char*>(data), static_cast<size_t>(length));
        mSent += mSends.back();
        if (!mAnswers.empty()) {
            mWaiting += mAnswers.front();
            mAnswers.pop_front();
        }
        return length;
    }
    int Recv(void* buffer, int length) override {
        if (!mConnected.load())
            return -1;
        int index = mRecvCalls++;
        int waiting = static_cast<int>(mWaiting.size() - mPos);
        if (waiting <= 0)
            return mAtEnd == AtEnd::PeerClosed ? 0 : -1;
        int n = std::min(length, waiting);
        if (mCut)
            n = std::min(n, std::max(1, mCut(index, length, waiting)));
        std::memcpy(buffer, mWaiting.data() + mPos, static_cast<size_t>(n));
        mPos += static_cast<size_t>(n);
        return n;
    }
    // The script never blocks: whatever a receive would return (bytes, the
    // end) is there at once.
    int WaitReadable(DWORD) override { return mConnected.load() ? 1 : -1; }
    int RecvWaiting(void* buffer, int length) override { return Recv(buffer, length); }
    // Bytes released but not yet received.
    size_t Unread() const { return mWaiting.size() - mPos; }

private:
    std::string mWaiting;
    size_t mPos = 0;
};
