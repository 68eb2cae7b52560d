// Fakes for testing the parameter CGI and the dialects without sockets.
//
// CFakeHttpClient records every GET's path byte for byte and answers from a
// handler (by path) or, without one, from a queue in request order; body
// reads hand out at most mMaxPiece bytes, so a test can split a body at any
// byte. SParamDevice is a device's parameter CGI as a table, and SDeviceRig
// a link and device URL in front of one.
#pragma once

#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "net/IHttpClient.h"
#include "platform/CManualEvent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

class CFakeHttpClient : public IHttpClient {
public:
    struct SAnswer {
        int status = 200;
        std::string body;
        bool refused = false; // the GET fails: no response head came
    };
    using Handler = std::function<SAnswer(const std::string& path)>;
    static SAnswer Ok(std::string body) { return SAnswer{200, std::move(body), false}; }
    static SAnswer Refused() { return SAnswer{0, std::string(), true}; }

    Handler mHandler; // unset: mAnswers in order, then refusals
    std::deque<SAnswer> mAnswers;
    size_t mMaxPiece = 8192;            // largest piece one Read without fill hands out
    std::vector<std::string> mRequests; // path and query of every GET

    CFakeHttpClient() { SetCancelEvent(&mCancel); }

    bool Connect(const std::string&, uint16_t, bool) override { return mConnected = true; }
    bool Get(const std::string& path) override {
        mRequests.push_back(path);
        const SAnswer answer = mHandler ? mHandler(path) : mAnswers.empty() ? Refused() : mAnswers.front();
        if (!mHandler && !mAnswers.empty())
            mAnswers.pop_front();
        mStatus = answer.status;
        mBody = answer.body;
        mPosition = 0;
        return !answer.refused;
    }
    bool Read(void* buffer, DWORD* length, bool fill) override {
        size_t n = std::min<size_t>(*length, mBody.size() - mPosition);
        if (!fill)
            n = std::min(n, std::max<size_t>(1, mMaxPiece));
        std::memcpy(buffer, mBody.data() + mPosition, n);
        mPosition += n;
        *length = static_cast<DWORD>(n);
        return true;
    }
    bool Post(const std::string&, const std::string&) override { return false; }
    bool BeginPost(const std::string&) override { return false; }
    bool Write(const void*, DWORD) override { return false; }
    bool EndPost() override { return true; }
    bool Disconnect() override { return !(mConnected = false); }
    bool QueryStatusCode(int* status) override { return (*status = mStatus), true; }
    int GetStatusCode() override { return mStatus; }
    bool IsConnected() override { return mConnected; }
    DWORD GetLastErrorCode() override { return 0; }
    void SetTimeout(DWORD) override {}
    void SetCredentials(const CHttpCredential& credential) override { credential.CopyTo(mCredential); }
    CHttpCredential* GetCredentials() override { return &mCredential; }

private:
    media_util::CManualEvent mCancel;
    CHttpCredential mCredential;
    bool mConnected = false;
    int mStatus = 0;
    std::string mBody;
    size_t mPosition = 0;
};

// A request "<cgi>k1&k2&..." is answered with the scripted line of each key
// (as sent, "getjpegxsize=1" included), CR LF terminated, in request order;
// keys without a line get none. Paths in mPaths (looked up first, whole)
// get their answer; anything else is refused.
struct SParamDevice {
    std::string mCgiPath = "/vb.htm?";
    std::map<std::string, std::string> mLines;
    std::map<std::string, CFakeHttpClient::SAnswer> mPaths;

    CFakeHttpClient::SAnswer operator()(const std::string& path) {
        auto whole = mPaths.find(path);
        if (whole != mPaths.end())
            return whole->second;
        if (path.compare(0, mCgiPath.size(), mCgiPath) != 0)
            return CFakeHttpClient::Refused();
        std::string body;
        for (size_t start = mCgiPath.size(), end = 0; start <= path.size(); start = end + 1) {
            end = std::min(path.find('&', start), path.size());
            auto line = mLines.find(path.substr(start, end - start));
            if (line != mLines.end())
                body += line->second + "\r\n";
        }
        return CFakeHttpClient::Ok(body);
    }
};

// The device at 127.0.0.1:8081 behind a control link.
struct SDeviceRig {
    CFakeHttpClient client;
    CHttpLink link{&client};
    CUrl url;
    SParamDevice device;

    explicit SDeviceRig(size_t maxPiece = 8192) {
        EXPECT_NE(url.Crack("http://127.0.0.1:8081/index.html"), 0);
        client.mMaxPiece = maxPiece;
        client.mHandler = [this](const std::string& path) { return device(path); };
    }
};
