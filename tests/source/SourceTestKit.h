// What the receiver tests share besides the scripted device: a clock that
// only moves when a source waits, a source wired to both, and a one-line
// description of a media object.
#pragma once

#include "device/FakeDevice.h"
#include "platform/CMediaQueue.h"
#include "source/CHttpMediaSource.h"
#include "source/ISourceClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

using media_util::CMediaObj;

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

inline std::vector<uint32_t> TakeEvents(CMediaSource& source) {
    std::vector<uint32_t> events;
    source.TakeEvents(events);
    return events;
}

// A source wired to a scripted device and the fake clock, as its owner
// would wire it; every client it builds reads the one script. Start runs
// what the worker thread runs first.
template <class TSource> struct SSourceRig {
    SHttpScript script;
    int clientsMade = 0;
    CFakeSourceClock clock;
    media_util::CMediaQueue queue{1000};
    media_util::CManualEvent listener;
    CSourceDesc desc;
    TSource source;

    SSourceRig(const std::string& url, int receiveType, const std::string& password) {
        desc.SetUrlSource(url, receiveType, "admin", password);
        desc.mClientKind = 1;
        desc.mpListener = &listener;
        source.SetClientFactory([this](int, const std::string& user, const std::string& pass,
                                       media_util::CManualEvent* cancel, CHttpLink** link,
                                       IHttpClient** client) {
            auto* made = new CFakeHttpClient(script);
            made->SetCredentials(CHttpCredential(CHttpCredential::kKindServer, 0, user, pass));
            made->SetCancelEvent(cancel);
            ++clientsMade;
            *client = made;
            *link = new CHttpLink(made);
            return true;
        });
        source.SetClock(&clock);
        source.SetOutputQueue(&queue);
    }
    void Start() {
        ASSERT_TRUE(source.ApplySettings(&desc));
        source.Init();
    }
};
