// An HTTP client whose device is a script, for testing the parameter CGI and
// the dialects without sockets. Every GET's path is recorded byte for byte;
// the answer comes from a handler (by path) or, without one, from a queue of
// answers in request order. Body reads hand out at most mMaxPiece bytes per
// call, so a test can split a body at any byte.
#pragma once

#include "net/CHttpLink.h"
#include "net/IHttpClient.h"
#include "platform/CManualEvent.h"

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

    // Answers by path; when unset, mAnswers is used in order and a request
    // beyond it is refused.
    Handler mHandler;
    std::deque<SAnswer> mAnswers;
    // Largest number of body bytes one Read without fill hands out; when
    // mCut is set, it decides per read instead (results below 1 count as 1).
    size_t mMaxPiece = 8192;
    std::function<size_t()> mCut;
    // Connect fails for every request.
    bool mRefuseConnect = false;

    // What happened.
    std::vector<std::string> mRequests; // path and query of every GET
    std::vector<std::string> mHosts;    // host of every Connect
    std::vector<uint16_t> mPorts;       // port of every Connect

    CFakeHttpClient() { SetCancelEvent(&mCancel); }

    bool Connect(const std::string& host, uint16_t port, bool) override {
        mHosts.push_back(host);
        mPorts.push_back(port);
        mConnected = !mRefuseConnect;
        return mConnected;
    }
    bool Get(const std::string& path) override {
        if (!mConnected)
            return false;
        mRequests.push_back(path);
        SAnswer answer;
        if (mHandler) {
            answer = mHandler(path);
        } else if (!mAnswers.empty()) {
            answer = mAnswers.front();
            mAnswers.pop_front();
        } else {
            answer = Refused();
        }
        if (answer.refused)
            return false;
        mStatus = answer.status;
        mBody = answer.body;
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
        const size_t waiting = mBody.size() - mPosition;
        if (waiting == 0) {
            // As the socket client does once Content-Length bytes came.
            *length = 0;
            return true;
        }
        size_t n = std::min<size_t>(*length, waiting);
        if (!fill)
            n = std::min(n, std::max<size_t>(1, mCut ? mCut() : mMaxPiece));
        std::memcpy(buffer, mBody.data() + mPosition, n);
        mPosition += n;
        *length = static_cast<DWORD>(n);
        return true;
    }
    bool QueryStatusCode(int* status) override {
        *status = mStatus;
        return true;
    }
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

// A device's parameter CGI as a table: a request "<cgi>k1&k2&..." is
// answered with the scripted line of each key (the key as it was sent,
// "getjpegxsize=1" included), one per line in request order, CR LF
// terminated. Keys without a line get none. Paths that do not start with
// the CGI path are looked up whole in mPaths; anything else is refused.
struct SParamDevice {
    std::string mCgiPath = "/vb.htm?";
    std::map<std::string, std::string> mLines;
    std::map<std::string, CFakeHttpClient::SAnswer> mPaths;
    // Requests (0-based, counting every path) that are refused.
    std::vector<int> mRefuseRequests;
    int mRequestCount = 0;

    CFakeHttpClient::SAnswer operator()(const std::string& path) {
        const int index = mRequestCount++;
        if (std::find(mRefuseRequests.begin(), mRefuseRequests.end(), index) != mRefuseRequests.end())
            return CFakeHttpClient::Refused();
        auto whole = mPaths.find(path);
        if (whole != mPaths.end())
            return whole->second;
        if (path.compare(0, mCgiPath.size(), mCgiPath) != 0)
            return CFakeHttpClient::Refused();
        std::string body;
        size_t start = mCgiPath.size();
        while (start <= path.size()) {
            size_t end = path.find('&', start);
            if (end == std::string::npos)
                end = path.size();
            auto line = mLines.find(path.substr(start, end - start));
            if (line != mLines.end())
                body += line->second + "\r\n";
            start = end + 1;
        }
        return CFakeHttpClient::Ok(body);
    }
};
