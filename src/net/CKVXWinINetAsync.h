// The asynchronous HTTP client: IHttpClient on the WinINet layer (os/inet),
// which runs the transfers on its own worker thread.
//
// Every call that WinINet leaves pending is completed by waiting on manual
// events that the status callback signals, always together with the owner's
// cancel event and the exchange's failure event, and with a time-out
// (kDefaultTimeoutMs unless SetTimeout says otherwise) cut to what is left
// before the exchange deadline (IHttpClient::SetDeadline). So another thread
// abandons a request by signalling the cancel event, a device that stops
// answering costs at most one time-out per wait, a refused connection fails
// as soon as the layer reports it, and a Read whose bytes trickle in stops at
// the deadline even though each of its waits succeeds. A 401 or 407 answer is
// retried only with credentials the refused request did not carry (the layer
// sends the server credentials with the first request already), at most
// kMaxAttempts times per request: a wrong password costs the device one
// refused request per Get, not five.
//
// Threads: one owner thread drives the client (as for every IHttpClient). The
// status callback runs on the layer's worker thread; it only sets fields and
// signals events, and (through QueryStatusCode and the header parsing) asks the
// layer about the response. Handles are closed under mHandleLock; the layer's
// close returns only after the last callback for the handle, so the client
// may be destroyed as soon as its destructor returns.
//
// Failing an exchange: a request that completes with an error while its
// status is neither 200 nor an authentication request (an error page the
// device broke off, a refused connection) fails the rest of that exchange
// through the client's own failure event, which every wait includes. The
// owner's cancel event is the owner's alone: the client never signals it, so a
// wrong password or a 404 never leaves a shared event set that would refuse
// the owner's next request. The next Get, Post or BeginPost starts clean.
#pragma once

#include "net/CHttpCredential.h"
#include "net/IHttpClient.h"
#include "os/inet/WinInet.h"
#include "platform/CCritSection.h"
#include "platform/CManualEvent.h"
#include "platform/CSlowHash.h"

#include <atomic>
#include <string>

class CKVXWinINetAsync : public IHttpClient {
public:
    // The agent name the client gives the layer (sent as User-Agent).
    static constexpr const char* kAgent = "CKVXWinINetAsync";
    // Default bound of every wait for the device, in milliseconds.
    static constexpr DWORD kDefaultTimeoutMs = 5000;
    // Attempts per request when the device asks for authentication.
    static constexpr int kMaxAttempts = 5;
    // How long closing a request waits for its last completion notice.
    static constexpr DWORD kRequestFinishWaitMs = 1000;
    // How long closing a handle waits for its closing notice.
    static constexpr DWORD kHandleClosingWaitMs = 3000;
    // Room for the raw response head; a longer head is not parsed into the
    // header dictionary.
    static constexpr DWORD kRawHeadBufferSize = 8192;
    // Authentication states after an answer.
    static constexpr int kAuthNone = 0;
    static constexpr int kAuthServer = 10; // 401
    static constexpr int kAuthProxy = 20;  // 407
    // Flags of the connection and of the requests: keep the connection, never
    // cache; GET and POST always reload, POST submits a form.
    static constexpr DWORD kConnectFlags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE;
    static constexpr DWORD kGetFlags =
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
    static constexpr DWORD kPostFlags = kGetFlags | INTERNET_FLAG_FORMS_SUBMIT;
    static constexpr const char* kFormContentType = "Content-Type: application/x-www-form-urlencoded";

    // A proxy credential: user, password and a third text. Nothing in the
    // system fills it; a 407 answer is retried with it only when it has a user.
    class CProxyCredential : public CHttpCredential {
    public:
        CProxyCredential() : CHttpCredential(kKindProxy, 0, "", "") {}
        std::string mDomain;
    };

    // Opens the client's root handle in asynchronous mode and installs the
    // status callback. When the layer refuses, every later request fails.
    CKVXWinINetAsync();
    // Closes the request, then the connection, removes the callback and closes
    // the root. No callback runs after it returns.
    ~CKVXWinINetAsync() override;

    // The layer connects lazily: true once a connection handle exists. `bounded`
    // is not used (every wait here is bounded anyway).
    bool Connect(const std::string& host, uint16_t port, bool bounded) override;
    bool Get(const std::string& path) override;
    bool Post(const std::string& path, const std::string& body) override;
    bool BeginPost(const std::string& path) override;
    bool Write(const void* data, DWORD length) override;
    // Does not finish a streamed POST: the request stays open until the next
    // request or Disconnect replaces it.
    bool EndPost() override;
    bool Disconnect() override;
    // Each wait at most the time-out (not longer for a big buffer); the call
    // ends at the deadline with what it has. A failure after some bytes were
    // delivered returns them (true, shorter length) and closes the request.
    bool Read(void* buffer, DWORD* length, bool fill) override;
    // Called on the owner's thread and from the status callback.
    bool QueryStatusCode(int* status) override;
    int GetStatusCode() override { return mStatusCode.load(); }
    // Set when the layer reports a connection for the request; cleared when
    // the request handle is closed.
    bool IsConnected() override { return mConnected.load(); }
    DWORD GetLastErrorCode() override { return mLastError.load(); }
    void SetTimeout(DWORD milliseconds) override { mTimeout = milliseconds; }
    void SetCredentials(const CHttpCredential& credential) override;
    CHttpCredential* GetCredentials() override { return &mServerCredential; }
    bool IsBodyCut() override { return mBodyCut || mBodyBroken.load(); }

    // A header of the last response ("" when absent); names as the device
    // wrote them.
    std::string GetResponseHeader(const std::string& name);
    // The Basic token formed from the server credentials (Base64 of
    // "user:password"); empty before credentials were applied.
    const std::string& GetAuthorizationToken() const { return mAuthToken; }

    // The layer's status callback; context is the client.
    static void StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                               DWORD infoLength);

private:
    void OnStatus(DWORD status, LPVOID info, DWORD infoLength);
    DWORD_PTR Context() { return reinterpret_cast<DWORD_PTR>(this); }
    // Closes the current request handle (see the .cpp); safe without one.
    void CloseRequestHandle();
    void CloseConnectionHandle();
    // Closes any request and opens a new one; false for an empty path or
    // without connection handle.
    bool OpenRequest(const char* verb, const std::string& path, DWORD flags);
    bool ApplyServerCredentials();
    void AddAuthorizationHeader();
    void ParseHeaders();
    // The send step of a request started with HttpSendRequestExA, and the end
    // step that waits for the head; each false on failure.
    bool SendStep();
    bool EndStep();
    // Waits (at most `milliseconds`, cut to the deadline) for completion-OK,
    // the exchange's failure or the cancel event; true for completion-OK.
    bool WaitCompletion(DWORD milliseconds);
    // A new exchange begins (a request handle was opened): no failure yet.
    void BeginExchange();
    // The end of an asynchronous call that returned `returned` (reset
    // completion-OK before making it): true when it succeeded at once, or went
    // pending and completed within `milliseconds` without a cancel. A call that
    // failed outright has its error stored.
    bool Finished(bool returned, DWORD milliseconds);
    void StoreError(DWORD error) { mLastError = error; }

    std::atomic<bool> mConnected{false};
    HINTERNET m_hRoot = nullptr;
    HINTERNET m_hConnect = nullptr;             // guarded by mHandleLock for closing
    std::atomic<HINTERNET> m_hRequest{nullptr}; // read by the callback
    DWORD mTimeout = kDefaultTimeoutMs;
    std::atomic<DWORD> mLastError{0};
    media_util::CManualEvent mCompletionOk;
    media_util::CManualEvent mAuthRequired;
    // The third event: set by the callback when the current exchange failed
    // (see the file comment); reset when the next exchange begins.
    media_util::CManualEvent mExchangeFailed;
    media_util::CManualEvent mHandleClosing;
    media_util::CManualEvent mRequestFinished;
    // The callback saw the body of a 200 answer end with an error.
    std::atomic<bool> mBodyBroken{false};
    bool mBodyCut = false;          // owner's thread: a Read failed before the end
    media_util::CSlowHash mHeaders; // guarded by mHeaderLock
    CProxyCredential mProxyCredential;
    CHttpCredential mServerCredential{CHttpCredential::kKindServer, 0, "", ""};
    std::atomic<int> mAuthState{kAuthNone};
    std::string mAuthToken;
    media_util::CCritSection mHandleLock;
    // The callback fills the dictionary while the owner may clear or read it.
    media_util::CCritSection mHeaderLock;
    std::atomic<bool> mHeadersPending{false};
    std::atomic<int> mStatusCode{0};
};
