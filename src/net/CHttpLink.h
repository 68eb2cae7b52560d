// The open/read/close sequence every HTTP exchange of the viewer uses, on top
// of an IHttpClient: connect and GET a URL, read its body, close. Also the
// one-shot fetches of whole small answers (parameter replies, snapshots).
//
// Bounded in time and size: an Open (connect, request, response head) ends
// within kOpenDeadlineMs and a fetch (all of it) within kFetchDeadlineMs,
// both cut further by the link's own budget (SetDeadline) and by a deadline
// the caller has set on the client; a fetch stops at the stream's size limit.
// A device that trickles, stalls or never ends its body thus ends the call,
// not the caller's ability to go on. The client's deadline is put back as the
// caller left it when the call returns.
//
// Ownership: the link does not own its client; whoever created the pair
// (CreateHttpClient's caller) deletes both. One link carries one exchange at
// a time. Threads: the thread that drives the client.
#pragma once

#include "net/IHttpClient.h"

#include <string>

class CUrl;
namespace media_util {
class CMemoryStream;
}

class CHttpLink {
public:
    // Piece size of FetchInto's reads.
    static constexpr DWORD kFetchPieceBytes = 8192;
    // Longest a whole fetch (connect, head, body) may take. Parameter replies
    // and snapshots arrive in well under a second; a device still sending
    // after this is broken or streaming.
    static constexpr DWORD kFetchDeadlineMs = 5000;
    // Longest an Open (connect, request, response head) may take.
    static constexpr DWORD kOpenDeadlineMs = 5000;

    explicit CHttpLink(IHttpClient* client) : mpClient(client) {}
    virtual ~CHttpLink() = default;
    CHttpLink(const CHttpLink&) = delete;
    CHttpLink& operator=(const CHttpLink&) = delete;

    // Parses the URL and opens it; false when it does not parse.
    bool OpenUrl(const std::string& url);
    // Connects (bounded unless SetBounded(false)) and sends a GET for the
    // URL's path and query. False, and closed, when either fails or the
    // client is not usable.
    bool Open(const CUrl& url);
    // Body bytes: false unless open and usable, when the client's read fails,
    // and when it delivered nothing (end of the body).
    bool Read(void* buffer, DWORD* length, bool fill);
    void Close();
    // Opens the URL, appends its whole body to `stream`, closes. True when
    // the open succeeded and the body arrived whole: false when it was cut
    // (the deadline, a cancel, a broken connection before its end) or is
    // larger than the stream takes (CMemoryStream::kMaxLength); the stream
    // then holds what came before. Refused (false) while the link is open.
    bool FetchInto(const CUrl& url, media_util::CMemoryStream& stream);
    // FetchInto a fresh stream, then appends its bytes to `text`. True when
    // the fetch succeeded and the body was not empty.
    bool FetchText(const CUrl& url, std::string& text);
    // Fetches the URL and returns the client's status code, whatever the
    // fetch returned (0 when no answer came).
    int FetchStatus(const CUrl& url);

    IHttpClient* GetClient() const { return mpClient; }
    bool IsOpened() const { return mOpened; }
    void SetBounded(bool bounded) { mBounded = bounded; }

    // A budget for every Open and fetch of this link until ClearDeadline:
    // each of them ends by `deadline` (a timeGetTime value) as well. The
    // viewer sets it around its whole open so that no device can hold the
    // open for longer, however many requests it takes.
    void SetDeadline(DWORD deadline) {
        mDeadline = deadline;
        mHasDeadline = true;
    }
    void ClearDeadline() { mHasDeadline = false; }
    bool HasDeadline() const { return mHasDeadline; }

private:
    // Sets the client's deadline for one call, the earliest of now +
    // `milliseconds`, the link's budget and the client's own deadline, and
    // puts the client's own back when it goes out of scope.
    class CScopedDeadline;

    IHttpClient* mpClient; // not owned
    bool mOpened = false;
    bool mBounded = true;
    DWORD mDeadline = 0; // timeGetTime; valid while mHasDeadline
    bool mHasDeadline = false;
};

// Transport kinds of CreateHttpClient.
constexpr int kHttpClientSocket = 1;
constexpr int kHttpClientWinINet = 2;

// Creates a client (kind 1: CHttpSocketClient; any other kind: the
// asynchronous WinINet client) with the user's credentials (when the user
// name is not empty) and the cancel event, and a link around it. The caller
// deletes both. Returns true.
bool CreateHttpClient(int kind, const std::string& user, const std::string& password,
                      media_util::CManualEvent* cancelEvent, CHttpLink** link, IHttpClient** client);
