// A minimal HTTP/1.1 client on one kept-alive TCP connection: it sends one
// request per call, parses the status line and headers itself, follows 302
// redirects, removes chunked transfer coding, limits the body to
// Content-Length and can throttle reading to a byte rate. docs/http.md has
// the rules in full; the ones a caller meets:
//
// - Every wait for the peer (the response head, body reads, the rest of an
//   answer drained before the next request) waits in slices of kWaitSliceMs,
//   so it notices the owner's cancel event and the exchange deadline
//   (IHttpClient::SetDeadline) within a slice; the socket's receive time-out
//   (SetTimeout, 3000 ms) still bounds each receive. A call that runs into the
//   deadline or a cancel fails like a time-out, but a read that already
//   delivered bytes returns them.
// - State that belongs to one answer (headers, status, length, chunking,
//   the body bytes that came with the head) is made fresh for every answer,
//   a 302 included. An answer without Transfer-Encoding is not chunked.
// - A body ends where its framing says: its Content-Length, its last chunk
//   and trailer, or (with neither) the peer's close. So a kept-alive
//   connection never waits out its time-out after a complete answer. Quirks
//   kept on purpose: a 200 with Content-Length 0 is read until the peer
//   stops (devices send that on endless streams; any other status with
//   Content-Length 0 has an empty body), and the status line must arrive
//   complete in the first receive of a response (otherwise it reads as 0).
// - Before the next request on the connection the rest of the last answer is
//   read and dropped when its end is known and near (kMaxDrainBytes);
//   otherwise, or when the connection cannot carry another request (a body
//   read until close, bytes beyond an answer's end, a failed read, a streamed
//   POST whose answer is never read), the request goes out on a fresh
//   connection to the same host and port. A 302's body is thus consumed
//   before the redirect is followed, never taken for the next answer.
// - Paths are decoded text (as CUrl gives them); the request line carries
//   them escaped by os::EscapeRequestTarget, the same function the WinINet
//   layer uses, so both transports send the same well-formed line and no path
//   can add a header line.
//
// Threads: one thread drives a client at a time. Nothing here takes a lock;
// the cancel event may be signalled from any thread.
#pragma once

#include "net/CHttpChunkedDecoder.h"
#include "net/CTcpClientSocket.h"
#include "net/IHttpClient.h"
#include "platform/CSlowHash.h"

#include <string>
#include <vector>

class CHttpSocketClient : public IHttpClient {
public:
    // The response head is parsed in place in a buffer of this size.
    static constexpr int kHeadBufferSize = 2048;
    // A header line (without its CR LF) longer than this fails the head.
    static constexpr int kMaxHeaderLine = 1024;
    // Characters of a chunk-size line that are kept (leading zeros, chunk
    // extensions after ';' and blanks are skipped before this limit applies).
    static constexpr int kChunkSizeTextMax = CHttpChunkedDecoder::kSizeTextMax;
    // 302 answers followed for one request. A device never chains more than
    // a couple; a loop between two paths would otherwise never end. After
    // this many the request returns with the last 302 as its answer.
    static constexpr int kMaxRedirects = 10;
    // Chunk framing bytes one Read may take in without finding a data byte.
    // A peer that sends nothing but framing (or garbage that reads as an
    // endless chunk-size line or trailer) ends the call here instead of
    // holding it for as long as it keeps sending.
    static constexpr DWORD kMaxFramingOnlyBytes = 64 * 1024;
    // Longest wait for the peer before the cancel event and the deadline are
    // looked at again: a stop takes at most about this long.
    static constexpr DWORD kWaitSliceMs = 50;
    // Body bytes of an unfinished answer that are read and dropped so that
    // the next request can use the connection (a 302's page, an error page).
    // A longer rest is cheaper to leave behind with the connection.
    static constexpr DWORD kMaxDrainBytes = 64 * 1024;

    CHttpSocketClient();
    // Sends and receives through `transport` (not owned, must outlive the
    // client) instead of the client's own socket: lets tests script the peer.
    explicit CHttpSocketClient(CTcpClientSocket* transport);
    ~CHttpSocketClient() override;

    // Fails at once (WSAETIMEDOUT) when the deadline has passed; a bounded
    // connect gives up by the deadline.
    bool Connect(const std::string& host, uint16_t port, bool bounded) override;
    bool Get(const std::string& path) override;
    bool Post(const std::string& path, const std::string& body) override;
    bool BeginPost(const std::string& path) override;
    bool Write(const void* data, DWORD length) override;
    bool EndPost() override { return true; }
    bool Disconnect() override;
    bool Read(void* buffer, DWORD* length, bool fill) override;
    bool QueryStatusCode(int* status) override;
    int GetStatusCode() override { return mStatusCode; }
    bool IsConnected() override { return mConnection != Connection::Closed; }
    DWORD GetLastErrorCode() override { return static_cast<DWORD>(WSAGetLastError()); }
    void SetTimeout(DWORD milliseconds) override { mpSocket->SetTimeout(milliseconds); }
    void SetCredentials(const CHttpCredential& credential) override;
    CHttpCredential* GetCredentials() override { return &mCredential; }
    bool IsBodyCut() override { return mBodyCut; }

    // The request head for a target as it goes on the wire (see
    // os::EscapeRequestTarget), byte for byte; with a body, a Post's.
    std::string BuildRequest(const char* method, const std::string& target, const std::string* body) const;
    // Headers of the last response head, in arrival order.
    const media_util::CSlowHash& GetHeaders() const { return mHeaders; }
    // Base64 of "user:password"; empty when no user name is set.
    const std::string& GetAuthorization() const { return mAuthorization; }
    // Body bytes still expected: -1 = not known (read until the peer stops,
    // or a chunked body before its last chunk), 0 = complete.
    int GetContentRemaining() const { return mContentRemaining; }
    bool IsChunked() const { return mChunked; }

private:
    // What the connection can do next.
    enum class Connection {
        Closed, // no connection (before Connect, after Disconnect)
        Idle,   // the last answer has ended where its framing said: ready
        InBody, // an answer's head was read; its body, of known end, is not
        Spent,  // cannot carry another request; the next one reconnects
    };

    bool OpenConnection();
    bool Exchange(const char* method, const std::string& path, const std::string* body);
    // Makes the connection ready for a request: drains or replaces it.
    bool PrepareForRequest();
    bool DrainAnswer();
    void BeginAnswer();
    bool ReadResponseHead(bool* redirect, std::string* location);
    void TakeBodyBytes(const BYTE* bytes, DWORD length);
    // Brings the body state up to date after bytes were handed out.
    void NoteBodyProgress();
    // A read that failed before the body's end: the body is cut, and when
    // bytes may have been lost or the peer is gone, the connection is spent.
    // (A time-out loses nothing: a later read or a drain may still go on.)
    void FailBody(bool connectionLost);
    // One receive, waited for in slices (see the file comment): bytes, 0 when
    // the peer closed, -1 on error, time-out, deadline or cancel.
    int Receive(void* buffer, int length);
    void DropLeftover();

    CTcpClientSocket mSocket;
    CTcpClientSocket* mpSocket; // mSocket, or the transport given for tests
    Connection mConnection = Connection::Closed;
    CHttpCredential mCredential;
    std::string mAuthorization;
    std::string mHost;
    uint16_t mPort = 0;
    bool mBounded = true;

    // The last answer; BeginAnswer makes it fresh.
    media_util::CSlowHash mHeaders;
    std::vector<BYTE> mLeftover; // body bytes that came with the head (data only)
    size_t mLeftoverPos = 0;     // next byte of mLeftover to hand out
    int mStatusCode = 0;
    int mContentRemaining = -1;
    bool mChunked = false;
    CHttpChunkedDecoder mChunks;
    bool mBodyCut = false;
    bool mBeyondEnd = false; // bytes arrived after the answer's end
};
