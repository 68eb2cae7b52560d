#include "net/CHttpLink.h"

#include "net/CHttpSocketClient.h"
#include "net/CUrl.h"
#include "platform/CMemoryStream.h"
#include "platform/CStrUtil.h"

#if __has_include("net/CKVXWinINetAsync.h")
#include "net/CKVXWinINetAsync.h"
#define IPCAM_HAVE_WININET_CLIENT 1
#endif

#include <memory>

namespace {
// a is earlier than b on the wrapping millisecond clock.
bool Earlier(DWORD a, DWORD b) {
    return static_cast<int32_t>(a - b) < 0;
}
} // namespace

class CHttpLink::CScopedDeadline {
public:
    CScopedDeadline(const CHttpLink& link, DWORD milliseconds)
        : mpClient(link.mpClient), mHad(mpClient->HasDeadline()), mOld(mpClient->GetDeadline()) {
        DWORD deadline = timeGetTime() + milliseconds;
        if (mHad && Earlier(mOld, deadline))
            deadline = mOld;
        if (link.mHasDeadline && Earlier(link.mDeadline, deadline))
            deadline = link.mDeadline;
        mpClient->SetDeadline(deadline);
    }
    ~CScopedDeadline() {
        if (mHad)
            mpClient->SetDeadline(mOld);
        else
            mpClient->ClearDeadline();
    }
    CScopedDeadline(const CScopedDeadline&) = delete;
    CScopedDeadline& operator=(const CScopedDeadline&) = delete;

private:
    IHttpClient* mpClient;
    const bool mHad;
    const DWORD mOld;
};

bool CHttpLink::OpenUrl(const std::string& url) {
    CUrl parsed;
    if (!parsed.Crack(url))
        return false;
    return Open(parsed);
}

bool CHttpLink::Open(const CUrl& url) {
    if (!mpClient || !mpClient->IsUsable())
        return false;
    CScopedDeadline deadline(*this, kOpenDeadlineMs);
    if (!mpClient->Connect(url.mHostName, url.mPort, mBounded) || !mpClient->Get(url.mRequestPath)) {
        Close();
        return false;
    }
    mOpened = true;
    return true;
}

bool CHttpLink::Read(void* buffer, DWORD* length, bool fill) {
    if (!mOpened || !mpClient || !mpClient->IsUsable())
        return false;
    if (!mpClient->Read(buffer, length, fill))
        return false;
    return *length > 0;
}

void CHttpLink::Close() {
    mOpened = false;
    if (mpClient)
        mpClient->Disconnect();
}

bool CHttpLink::FetchInto(const CUrl& url, media_util::CMemoryStream& stream) {
    if (mOpened || !mpClient || !mpClient->IsUsable())
        return false;
    CScopedDeadline deadline(*this, kFetchDeadlineMs);
    if (!Open(url))
        return false;
    std::unique_ptr<BYTE[]> piece(new BYTE[kFetchPieceBytes]);
    bool whole = true;
    for (;;) {
        DWORD length = kFetchPieceBytes;
        if (!Read(piece.get(), &length, false))
            break;
        if (!stream.Write(piece.get(), length)) {
            whole = false; // larger than any answer we take: stop reading it
            break;
        }
    }
    // Read also ends on a cancel between two reads, and on the deadline.
    if (!mpClient->IsUsable() || mpClient->IsBodyCut())
        whole = false;
    Close();
    return whole;
}

bool CHttpLink::FetchText(const CUrl& url, std::string& text) {
    media_util::CMemoryStream stream;
    if (!FetchInto(url, stream) || stream.IsEmpty())
        return false;
    BYTE* bytes = stream.ToByteArray();
    int result =
        media_util::CStrUtil::AppendANSIStr(text, reinterpret_cast<const char*>(bytes), stream.GetLength());
    delete[] bytes;
    return result != 0;
}

int CHttpLink::FetchStatus(const CUrl& url) {
    media_util::CMemoryStream scratch;
    FetchInto(url, scratch);
    return mpClient ? mpClient->GetStatusCode() : 0;
}

bool CreateHttpClient(int kind, const std::string& user, const std::string& password,
                      media_util::CManualEvent* cancelEvent, CHttpLink** link, IHttpClient** client) {
    if (!link || !client)
        return false;
    *link = nullptr;
    *client = nullptr;
    IHttpClient* created = nullptr;
    if (kind == kHttpClientSocket) {
        created = new CHttpSocketClient();
    } else {
#ifdef IPCAM_HAVE_WININET_CLIENT
        created = new CKVXWinINetAsync();
#else
        return false;
#endif
    }
    if (!user.empty())
        created->SetCredentials(CHttpCredential(CHttpCredential::kKindServer, 0, user, password));
    created->SetCancelEvent(cancelEvent);
    *client = created;
    *link = new CHttpLink(created);
    return true;
}
