// A minimal HTTP/1.1 client on one kept-alive TCP connection: it sends one
// request per call, parses the status line and headers itself, follows 302
// redirects on the same connection, removes chunked transfer coding, limits
// the body to Content-Length and can throttle reading to a byte rate.
//
// Quirks kept on purpose, because devices and the code above rely on them:
// - the status line must arrive complete in the first receive of a response
//   (otherwise the status reads as 0);
// - a Content-Length of 0 means "length not given": the body is read until
//   the peer stops, as some devices send 0 on endless streams;
// - the body of a 302 is not read, and an answer other than 200 or 302 keeps
//   the previous body length and leftover bytes;
// - Transfer-Encoding switches chunked decoding on only for the exact value
//   "chunked"; an answer without the header keeps the previous setting;
// - a chunk of size 0 does not end the body: reading goes on until the peer
//   stops or the caller stops reading.
//
// Threads: one thread drives a client at a time. Nothing here takes a lock;
// the cancel event is only looked at through IsUsable.
#pragma once

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
    static constexpr int kChunkSizeTextMax = 16;
    // 302 answers followed for one request. A device never chains more than
    // a couple; a loop between two paths would otherwise never end. After
    // this many the request returns with the last 302 as its answer.
    static constexpr int kMaxRedirects = 10;
    // Chunk framing bytes one Read may take in without finding a data byte.
    // A peer that sends nothing but framing (or garbage that reads as an
    // endless chunk-size line) ends the call here instead of holding it for
    // as long as it keeps sending.
    static constexpr DWORD kMaxFramingOnlyBytes = 64 * 1024;

    CHttpSocketClient();
    // Sends and receives through `transport` (not owned, must outlive the
    // client) instead of the client's own socket: lets tests script the peer.
    explicit CHttpSocketClient(CTcpClientSocket* transport);
    ~CHttpSocketClient() override;

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
    bool IsConnected() override { return mConnected; }
    DWORD GetLastErrorCode() override { return static_cast<DWORD>(WSAGetLastError()); }
    void SetTimeout(DWORD milliseconds) override { mpSocket->SetTimeout(milliseconds); }
    void SetCredentials(const CHttpCredential& credential) override;
    CHttpCredential* GetCredentials() override { return &mCredential; }

    // The request head Get (or, with a body, Post; with `begin`, BeginPost)
    // sends for `path`, byte for byte.
    std::string BuildRequest(const char* method, const std::string& path, const std::string* body) const;
    // Headers of the last response head, in arrival order.
    const media_util::CSlowHash& GetHeaders() const { return mHeaders; }
    // Base64 of "user:password"; empty when no user name is set.
    const std::string& GetAuthorization() const { return mAuthorization; }
    // Body bytes still expected: -1 = not known (read until the peer stops),
    // 0 = complete.
    int GetContentRemaining() const { return mContentRemaining; }
    bool IsChunked() const { return mChunked; }

private:
    enum class ChunkState {
        Size,      // collecting the hex digits of a chunk-size line
        Extension, // past the digits (';' extension or blanks), skipping to CR
        SizeLF,    // CR seen, LF expected
        Data,      // mChunkRemaining data bytes to go
        DataCR,    // after the data, CR expected
        DataLF,    // after the data, LF expected
    };

    bool Exchange(const char* method, const std::string& path, const std::string* body);
    bool ReadResponseHead(bool* redirect, std::string* newPath);
    // Removes chunk framing from raw[0, length) and writes the data bytes to
    // out (at most length of them). Returns the number written.
    // *sawLastChunk is set when a chunk-size line of 0 was completed.
    DWORD DeChunk(const BYTE* raw, DWORD length, BYTE* out, bool* sawLastChunk);
    void FinishChunkSize();
    void ResetChunking();
    void DropLeftover();

    CTcpClientSocket mSocket;
    CTcpClientSocket* mpSocket; // mSocket, or the transport given for tests
    bool mConnected = false;
    media_util::CSlowHash mHeaders;
    CHttpCredential mCredential;
    std::string mAuthorization;
    std::string mHost;
    std::vector<BYTE> mLeftover; // body bytes that came with the head
    size_t mLeftoverPos = 0;     // next byte of mLeftover to hand out
    int mStatusCode = 0;
    int mContentRemaining = -1;
    bool mChunked = false;
    DWORD mChunkRemaining = 0;
    ChunkState mChunkState = ChunkState::Size;
    char mChunkSizeText[kChunkSizeTextMax + 1] = {};
    int mChunkSizeLength = 0;
};
