// An HTTP client whose "device" is a captured multipart stream in a file:
// each Connect + Get replays the file from its start, as a device would
// answer a new stream request, and Read hands out its bytes as fast as the
// disk allows (or at the rate limit, when one is set). A capture that begins
// with an HTTP response head ("HTTP/...", up to its blank line) has the head
// read and skipped, and its status code reported; one without a head reads
// as a 200 response whose body is the whole file.
//
// The end of the file reads like a peer that closed the connection (Read
// fails), so a multipart source reconnects; SetMaxOpens bounds the replays,
// after which Connect fails. The path "-" reads standard input, once: a pipe
// cannot be replayed. Nothing relies on seeking, so no byte of a pipe is lost.
//
// Used to split captures offline (receive --file, benchmarks). Threads: one
// thread drives a client, as with every IHttpClient.
#pragma once

#include "net/CHttpLink.h"
#include "net/IHttpClient.h"

#include <cstdio>
#include <string>

class CFileHttpClient : public IHttpClient {
public:
    // Longest HTTP head read from the start of a capture; a capture that
    // starts like a head but has no blank line within it is refused.
    static constexpr size_t kMaxHeadBytes = 8192;
    // stdio buffer of the capture file. The small head reads are served from
    // it; a frame's data (larger, at high resolutions) is read straight into
    // the frame's block, so those bytes are copied once.
    static constexpr size_t kFileBufferBytes = 64 * 1024;

    explicit CFileHttpClient(std::string path);
    ~CFileHttpClient() override;

    // Opens the capture (the host and port are ignored). False when the file
    // cannot be opened or the replays are used up.
    bool Connect(const std::string& host, uint16_t port, bool bounded) override;
    // Starts the replay at the file's start and skips an HTTP head. False
    // when not connected or a head is not terminated within kMaxHeadBytes.
    bool Get(const std::string& path) override;
    bool Post(const std::string& path, const std::string& body) override { return false; }
    bool BeginPost(const std::string& path) override { return false; }
    bool Write(const void* data, DWORD length) override { return false; }
    bool EndPost() override { return true; }
    bool Disconnect() override;
    // File bytes; false with *length 0 at the end of the file.
    bool Read(void* buffer, DWORD* length, bool fill) override;
    bool QueryStatusCode(int* status) override;
    int GetStatusCode() override { return mStatus; }
    bool IsConnected() override { return mpFile != nullptr; }
    DWORD GetLastErrorCode() override { return mLastError; }
    void SetTimeout(DWORD milliseconds) override {}
    void SetCredentials(const CHttpCredential& credential) override { credential.CopyTo(mCredential); }
    CHttpCredential* GetCredentials() override { return &mCredential; }

    // Replays allowed (Connects that succeed); 0 = unlimited. Default 1.
    void SetMaxOpens(int opens) { mMaxOpens = opens; }
    int GetOpenCount() const { return mOpens; }
    // True once a replay reached the end of the file.
    bool IsAtEnd() const { return mAtEnd; }
    // Bytes handed out by Read since the last Get.
    uint64_t GetBodyBytes() const { return mBodyBytes; }

    // A client for the capture (kind, user and password are ignored) with the
    // cancel event, and a link around it, as CreateHttpClient makes them.
    static bool Create(const std::string& path, media_util::CManualEvent* cancelEvent, CHttpLink** link,
                       IHttpClient** client);

private:
    // The path that stands for standard input.
    static constexpr const char* kStandardInput = "-";

    bool IsStandardInput() const { return mPath == kStandardInput; }

    std::string mPath;
    std::FILE* mpFile = nullptr;
    // Bytes read while looking for an HTTP head that turned out to be body:
    // handed out before the file's next bytes.
    std::string mPending;
    size_t mPendingPos = 0;
    char* mpFileBuffer = nullptr;
    CHttpCredential mCredential;
    int mStatus = 0;
    int mMaxOpens = 1;
    int mOpens = 0;
    bool mAtEnd = false;
    DWORD mLastError = 0;
    uint64_t mBodyBytes = 0;
};
