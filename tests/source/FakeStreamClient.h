// A device for the receivers as a script, without sockets. Each Connect+Get
// takes the next scripted connection (or asks a handler by path); Read hands
// out the connection's body in pieces whose sizes the test picks (whole, one
// byte, random), so a stream can be split at any byte. The end of a body
// reads like a peer that closed (Read fails). A script with no connection
// left refuses to connect.
#pragma once

#include "net/CHttpLink.h"
#include "net/IHttpClient.h"
#include "source/CHttpMediaSource.h"
#include "source/ISourceClock.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

struct SStreamConnection {
    bool refuse = false; // the connect (or the request) fails
    std::string body;    // what the device sends after its response head
};

struct SStreamScript {
    std::deque<SStreamConnection> connections;
    // By path, instead of the queue (polling devices).
    std::function<SStreamConnection(const std::string& path)> handler;
    // Bytes one Read hands out at most (given the requested size); null = all asked.
    std::function<size_t(size_t requested)> piece;
    // What happened.
    std::vector<std::string> paths; // every GET
    int connects = 0;
    int clientsMade = 0;
    std::vector<std::string> users;
    std::vector<std::string> passwords;

    void SplitEvery(size_t bytes) {
        piece = [bytes](size_t) { return bytes; };
    }
    // Random piece sizes from 1 to maxPiece, from seed.
    void SplitRandomly(unsigned seed, size_t maxPiece) {
        auto rng = std::make_shared<std::mt19937>(seed);
        piece = [rng, maxPiece](size_t) { return std::uniform_int_distribution<size_t>(1, maxPiece)(*rng); };
    }
};

class CFakeStreamClient : public IHttpClient {
public:
    explicit CFakeStreamClient(SStreamScript& script) : mScript(script) {}

    bool Connect(const std::string&, uint16_t, bool) override {
        ++mScript.connects;
        mConnected = mScript.handler || !mScript.connections.empty();
        if (mConnected && !mScript.handler && mScript.connections.front().refuse) {
            mScript.connections.pop_front();
            mConnected = false;
        }
        return mConnected;
    }
    bool Get(const std::string& path) override {
        if (!mConnected)
            return false;
        mScript.paths.push_back(path);
        SStreamConnection next;
        if (mScript.handler) {
            next = mScript.handler(path);
        } else {
            next = mScript.connections.front();
            mScript.connections.pop_front();
        }
        if (next.refuse)
            return false;
        mBody = next.body;
        mPosition = 0;
        return true;
    }
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
            if (mScript.piece)
                n = std::min(n, std::max<size_t>(1, mScript.piece(n)));
            std::memcpy(static_cast<char*>(buffer) + delivered, mBody.data() + mPosition, n);
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
    void SetCredentials(const CHttpCredential& credential) override { credential.CopyTo(mCredential); }
    CHttpCredential* GetCredentials() override { return &mCredential; }

private:
    SStreamScript& mScript;
    CHttpCredential mCredential;
    bool mConnected = false;
    std::string mBody;
    size_t mPosition = 0;
};

// A client factory for the sources that makes scripted clients.
inline CHttpMediaSource::ClientFactory MakeScriptedFactory(SStreamScript& script) {
    return [&script](int, const std::string& user, const std::string& password,
                     media_util::CManualEvent* cancel, CHttpLink** link, IHttpClient** client) {
        auto* made = new CFakeStreamClient(script);
        if (!user.empty())
            made->SetCredentials(CHttpCredential(CHttpCredential::kKindServer, 0, user, password));
        made->SetCancelEvent(cancel);
        ++script.clientsMade;
        script.users.push_back(user);
        script.passwords.push_back(password);
        *client = made;
        *link = new CHttpLink(made);
        return true;
    };
}

// Time that only moves when a source waits (or the test moves it). Waits
// return at once: true when an event is already signalled, else the time
// advances by the wait and the result is a time-out.
class CFakeSourceClock : public ISourceClock {
public:
    DWORD Now() override { return mNow; }
    bool WaitEvents(const media_util::CManualEvent* stop, const media_util::CManualEvent* owner,
                    DWORD milliseconds) override {
        mWaits.push_back(milliseconds);
        if ((stop != nullptr && stop->IsSignalled()) || (owner != nullptr && owner->IsSignalled()))
            return true;
        mNow += milliseconds;
        return false;
    }
    void Advance(DWORD milliseconds) { mNow += milliseconds; }

    std::atomic<DWORD> mNow{100000};
    std::vector<DWORD> mWaits;
};
