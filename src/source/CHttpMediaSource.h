// The HTTP layer of the live sources (the multipart stream parser and the
// JPEG poller): owns the source's HTTP client and the CHttpLink its Step
// reads through, keeps copies of the description's connection fields (stream
// URL, client kind, user name, password) and rebuilds the client whenever a
// new description changes any of them. Also owns the cancel event that every
// client it creates watches: signalling it from any thread makes the client
// refuse further requests (and so breaks a blocking fetch).
//
// Clients come from a factory, CreateHttpClient unless one is set: the tool
// that replays captured streams and the tests put in their own clients.
//
// Every stop request (the owner's Stop or NotifyStop, the source stopping
// itself) signals the cancel event as well, so that a worker blocked in a read
// from a device that trickles returns within a fraction of a second instead
// of when the device lets it; Init re-arms it.
//
// Threads: ApplySettings runs on the owner's thread before the worker starts
// and on the worker afterwards (through CopySettings, under the settings
// lock). The link and the client are used only by the worker while it runs.
#pragma once

#include "net/CHttpLink.h"
#include "net/IHttpClient.h"
#include "source/CMediaSource.h"

#include <atomic>
#include <functional>
#include <string>

class CHttpMediaSource : public CMediaSource {
public:
    // Makes a client and a link around it; both are owned by the source from
    // then on. Same contract as CreateHttpClient.
    using ClientFactory =
        std::function<bool(int kind, const std::string& user, const std::string& password,
                           media_util::CManualEvent* cancelEvent, CHttpLink** link, IHttpClient** client)>;

    CHttpMediaSource();
    // Stops the worker, then destroys the link and the client.
    ~CHttpMediaSource() override;

    // Refuses (0, nothing changes) what the base refuses; otherwise builds a
    // new client and link from the description and returns the factory's
    // result. With pacing mode 2 the client's reads are limited to the
    // description's rate (bytes per second).
    bool ApplySettings(const CSourceDesc* desc) override;
    // Re-arms the cancel event (a previous stop left it signalled).
    int Init() override;
    // Applies the pending description; rebuilds the client only when the
    // URL, user, password or client kind changed, so that a change of other
    // fields keeps the running connection.
    int CopySettings() override;

    // Set before the first ApplySettings; an empty factory restores
    // CreateHttpClient.
    void SetClientFactory(ClientFactory factory) { mClientFactory = std::move(factory); }

    // The status of the last answer the device gave (0 before any), and the
    // client's error code of the last request that got none. A request in
    // progress when the source is stopped does not wipe out what the device
    // said before. Any thread may ask.
    int GetLastAnswerStatus() const { return mLastAnswerStatus.load(); }
    DWORD GetLastRequestError() const { return mLastRequestError.load(); }

    CHttpLink* GetLink() const { return mpLink; }
    IHttpClient* GetClient() const { return mpClient; }
    media_util::CManualEvent& GetCancelEvent() { return mCancelEvent; }
    const std::string& GetStreamUrl() const { return mStreamUrl; }

protected:
    void OnStopRequested() override { mCancelEvent.Set(); }
    // The HTTP status of the answer the link opened: a stream or a picture
    // comes only with 200.
    static constexpr int kStatusOk = 200;
    bool AnsweredOk() const { return mpClient != nullptr && mpClient->GetStatusCode() == kStatusOk; }
    // Notes what the last request got (see GetLastAnswerStatus).
    void NoteAnswer();
    // Destroys the pair and makes a new one from the kept kind and
    // credentials. The factory's result.
    bool RebuildClient();

    CHttpLink* mpLink = nullptr;     // owned
    IHttpClient* mpClient = nullptr; // owned
    std::string mStreamUrl;
    std::string mUser;
    std::string mPassword;
    media_util::CManualEvent mCancelEvent;
    int32_t mClientKind = 0;
    ClientFactory mClientFactory;
    std::atomic<int> mLastAnswerStatus{0};
    std::atomic<DWORD> mLastRequestError{0};

private:
    void DestroyClient();
};
