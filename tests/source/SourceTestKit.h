// What the receiver tests share: a device as a script without sockets, a
// clock that only moves when a source waits, JPEG images carrying the
// cameras' device header, and a one-line description of a media object.
//
// The scripted client: each Connect+Get takes the next scripted connection
// (or asks a handler by path); Read hands out the body in pieces whose sizes
// the test picks, so a stream can be split at any byte. The end of a body
// reads like a peer that closed (Read fails); a script with no connection
// left refuses to connect.
#pragma once

#include "net/CHttpLink.h"
#include "net/IHttpClient.h"
#include "platform/CMediaQueue.h"
#include "source/CHttpMediaSource.h"
#include "source/ISourceClock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

using media_util::CMediaObj;

struct SStreamConnection {
    bool refuse = false; // the connect (or the request) fails
    std::string body;    // what the device sends after its response head
};

struct SStreamScript {
    std::deque<SStreamConnection> connections;
    std::function<SStreamConnection(const std::string& path)> handler; // by path, instead of the queue
    std::function<size_t()> piece;  // bytes one Read hands out at most; null = all asked
    std::vector<std::string> paths; // every GET
    int connects = 0;
    int clientsMade = 0;

    void SplitRandomly(unsigned seed, size_t maxPiece) {
        auto rng = std::make_shared<std::mt19937>(seed);
        piece = [rng, maxPiece] { return std::uniform_int_distribution<size_t>(1, maxPiece)(*rng); };
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
        SStreamConnection next = mScript.handler ? mScript.handler(path) : mScript.connections.front();
        if (!mScript.handler)
            mScript.connections.pop_front();
        mBody = next.body;
        mPosition = 0;
        return !next.refuse;
    }
    bool Post(const std::string&, const std::string&) override { return false; }
    bool BeginPost(const std::string&) override { return false; }
    bool Write(const void*, DWORD) override { return false; }
    bool EndPost() override { return true; }
    bool Disconnect() override { return !(mConnected = false); }
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
    bool QueryStatusCode(int* status) override { return (*status = 200) != 0; }
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

inline CHttpMediaSource::ClientFactory MakeScriptedFactory(SStreamScript& script) {
    return [&script](int, const std::string& user, const std::string& password,
                     media_util::CManualEvent* cancel, CHttpLink** link, IHttpClient** client) {
        auto* made = new CFakeStreamClient(script);
        made->SetCredentials(CHttpCredential(CHttpCredential::kKindServer, 0, user, password));
        made->SetCancelEvent(cancel);
        ++script.clientsMade;
        *client = made;
        *link = new CHttpLink(made);
        return true;
    };
}

// Waits return at once: true when an event is already signalled, else the
// time advances by the wait and the result is a time-out.
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
    std::atomic<DWORD> mNow{100000};
    std::vector<DWORD> mWaits;
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

// The object's non-zero header fields and tags, in a fixed order, so that a
// table row states everything a part set and nothing else may differ.
inline std::string Describe(const CMediaObj& o) {
    static const std::pair<const char*, int32_t CMediaObj::*> kFields[] = {
        {"video", &CMediaObj::mVideoFormat},  {"audio", &CMediaObj::mAudioFormat},
        {"ach", &CMediaObj::mAudioChannels},  {"rate", &CMediaObj::mSampleRate},
        {"bits", &CMediaObj::mBitsPerSample}, {"ch", &CMediaObj::mChannel},
        {"mask", &CMediaObj::mChannelMask},   {"w", &CMediaObj::mWidth},
        {"h", &CMediaObj::mHeight},           {"fps", &CMediaObj::mFrameRate},
        {"kind", &CMediaObj::mFrameKind},     {"n", &CMediaObj::mFrameNumber},
        {"covert", &CMediaObj::mCovert},      {"wait", &CMediaObj::mWait}};
    std::string s;
    for (const auto& [name, member] : kFields)
        if (o.*member != 0)
            s += std::string(s.empty() ? "" : " ") + name + "=" + std::to_string(o.*member);
    for (int32_t tag : o.mTagList)
        s += " tag" + std::to_string(tag);
    return s;
}

inline std::string DataOf(const CMediaObj& o) {
    if (o.mpData2 != nullptr)
        return std::string(reinterpret_cast<const char*>(o.mpData2), o.mDataLength2);
    return std::string(reinterpret_cast<const char*>(o.mpData), o.mDataLength);
}

inline std::vector<std::unique_ptr<CMediaObj>> Drain(media_util::CMediaQueue& queue) {
    std::vector<std::unique_ptr<CMediaObj>> out;
    while (CMediaObj* o = queue.Deque())
        out.emplace_back(o);
    return out;
}

// A source wired to a scripted device and the fake clock, as its owner
// would wire it; Start runs what the worker thread runs first.
template <class TSource> struct SSourceRig {
    SStreamScript script;
    CFakeSourceClock clock;
    media_util::CMediaQueue queue{1000};
    media_util::CManualEvent listener;
    CSourceDesc desc;
    TSource source;

    SSourceRig(const std::string& url, int receiveType, const std::string& password) {
        desc.SetUrlSource(url, receiveType, "admin", password);
        desc.mClientKind = 1;
        desc.mpListener = &listener;
        source.SetClientFactory(MakeScriptedFactory(script));
        source.SetClock(&clock);
        source.SetOutputQueue(&queue);
    }
    void Start() {
        ASSERT_TRUE(source.ApplySettings(&desc));
        source.Init();
    }
};

inline std::vector<uint32_t> TakeEvents(CMediaSource& source) {
    std::vector<uint32_t> events;
    source.TakeEvents(events);
    return events;
}
