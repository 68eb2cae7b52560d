// A device as a script, for protocol code tested without sockets.
//
// CFakeHttpClient takes each GET's answer from the script's handler (by path)
// or, without one, from its queue in order; an empty queue refuses. A Read
// hands out at most piece() bytes, so a body can be split at any byte, and
// the end of a body reads like a peer that closed. SParamDevice is a device's
// parameter CGI as a table, SDeviceRig a link and device URL in front of one,
// SDeviceJpeg an image carrying the cameras' device header.
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
#include <memory>
#include <random>
#include <string>
#include <vector>

struct SAnswer {
    std::string body;
    bool refused = false; // the request fails: no response head came
    int status = 200;     // of the response head, when one came
};
inline SAnswer Ok(std::string body) {
    return SAnswer{std::move(body), false};
}
inline SAnswer Refused() {
    return SAnswer{std::string(), true};
}

struct SHttpScript {
    std::function<SAnswer(const std::string& path)> handler; // unset: answers in order
    std::deque<SAnswer> answers;
    std::function<size_t()> piece;     // most bytes one Read hands out; unset: all asked
    std::vector<std::string> requests; // path and query of every GET
    int connects = 0;
};

inline std::function<size_t()> RandomPieces(unsigned seed, size_t maxPiece) {
    auto rng = std::make_shared<std::mt19937>(seed);
    return [rng, maxPiece] { return std::uniform_int_distribution<size_t>(1, maxPiece)(*rng); };
}

class CFakeHttpClient : public IHttpClient {
public:
    explicit CFakeHttpClient(SHttpScript& script) : mScript(script) { SetCancelEvent(&mCancel); }

    bool Connect(const std::string&, uint16_t, bool) override {
        return ++mScript.connects, mConnected = true;
    }
    bool Get(const std::string& path) override {
        mScript.requests.push_back(path);
        SAnswer answer = Refused();
        if (mScript.handler) {
            answer = mScript.handler(path);
        } else if (!mScript.answers.empty()) {
            answer = mScript.answers.front();
            mScript.answers.pop_front();
        }
        mBody = answer.body;
        mPosition = 0;
        mStatus = answer.refused ? 0 : answer.status;
        return !answer.refused;
    }
    bool Read(void* buffer, DWORD* length, bool fill) override {
        size_t delivered = 0;
        while (mConnected && delivered < *length && mPosition < mBody.size()) {
            size_t n = std::min<size_t>(*length - delivered, mBody.size() - mPosition);
            if (mScript.piece)
                n = std::min(n, std::max<size_t>(1, mScript.piece()));
            std::memcpy(static_cast<char*>(buffer) + delivered, mBody.data() + mPosition, n);
            mPosition += n;
            delivered += n;
            if (!fill)
                break;
        }
        *length = static_cast<DWORD>(delivered);
        return delivered > 0;
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
    SHttpScript& mScript;
    media_util::CManualEvent mCancel;
    CHttpCredential mCredential;
    bool mConnected = false;
    std::string mBody;
    size_t mPosition = 0;
    int mStatus = 0;
};

// A request "<cgi>k1&k2&..." is answered with the scripted line of each key
// (as sent, "getjpegxsize=1" included), CR LF terminated, in request order;
// keys without a line get none. Paths in mPaths (looked up first, whole)
// get their answer; anything else is refused.
struct SParamDevice {
    std::string mCgiPath = "/vb.htm?";
    std::map<std::string, std::string> mLines;
    std::map<std::string, SAnswer> mPaths;

    SAnswer operator()(const std::string& path) {
        auto whole = mPaths.find(path);
        if (whole != mPaths.end())
            return whole->second;
        if (path.compare(0, mCgiPath.size(), mCgiPath) != 0)
            return Refused();
        std::string body;
        for (size_t start = mCgiPath.size(), end = 0; start <= path.size(); start = end + 1) {
            end = std::min(path.find('&', start), path.size());
            auto line = mLines.find(path.substr(start, end - start));
            if (line != mLines.end())
                body += line->second + "\r\n";
        }
        return Ok(body);
    }
};

// The device at 127.0.0.1:8081 behind a control link; Answer replaces the
// parameter CGI by answers in request order.
struct SDeviceRig {
    SHttpScript script;
    CFakeHttpClient client{script};
    CHttpLink link{&client};
    CUrl url;
    SParamDevice device;

    explicit SDeviceRig(size_t piece = 8192) {
        EXPECT_NE(url.Crack("http://127.0.0.1:8081/index.html"), 0);
        script.piece = [piece] { return piece; };
        script.handler = [this](const std::string& path) { return device(path); };
    }
    void Answer(std::deque<SAnswer> answers) {
        script.handler = nullptr;
        script.answers = std::move(answers);
    }
};

// A JPEG-like image with the device header right after SOI (APP12 "IPCH",
// little-endian fields at fixed offsets), written from the header's layout
// independently of the reader, filled up to totalBytes and ending FF D9.
// Aggregate order: machineCode, year, second, channel, alarm, sequence, width, height, ...
struct SDeviceJpeg {
    uint32_t machineCode = 0x1200; // a JPEG camera
    uint16_t year = 2025, second = 10;
    int channel = 1; // stored as channel - 1
    uint8_t alarm = 0;
    uint32_t sequence = 0;
    uint16_t width = 0, height = 0;
    uint8_t channelMask = 0;
    size_t totalBytes = 200;
    bool withHeader = true;

    std::string Build() const {
        std::string image(std::max<size_t>(totalBytes, 68), '\x5a');
        image.replace(0, 2, "\xFF\xD8");
        image.replace(image.size() - 2, 2, "\xFF\xD9");
        if (!withHeader)
            return image;
        image.replace(2, 8, std::string("\xFF\xEC\x00\x3EIPCH", 8));
        std::fill(image.begin() + 10, image.begin() + 66, '\0');
        // The date is 2025-06-07 08:09:SS.011.
        const struct {
            size_t at;
            uint32_t value;
            int bytes;
        } fields[] = {{10, machineCode, 4}, {14, year, 2},   {16, 6, 1},
                      {17, 7, 1},           {18, 8, 1},      {19, 9, 1},
                      {20, second, 1},      {22, 11, 2},     {24, uint32_t(channel - 1) & 0x0F, 1},
                      {25, alarm, 1},       {28, 0xBEEF, 2}, {30, sequence, 4},
                      {36, width, 2},       {38, height, 2}, {40, channelMask, 1}};
        for (const auto& f : fields)
            for (int i = 0; i < f.bytes; ++i)
                image[f.at + i] = static_cast<char>((f.value >> (8 * i)) & 0xFF);
        return image;
    }
};
