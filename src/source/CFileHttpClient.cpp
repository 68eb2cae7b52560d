#include "source/CFileHttpClient.h"

#include "platform/CStrUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

CFileHttpClient::CFileHttpClient(std::string path) : mPath(std::move(path)) {}

CFileHttpClient::~CFileHttpClient() {
    Disconnect();
    delete[] mpFileBuffer;
}

bool CFileHttpClient::Connect(const std::string&, uint16_t, bool) {
    Disconnect();
    if (mMaxOpens > 0 && mOpens >= mMaxOpens)
        return false;
    if (IsStandardInput()) {
        // Standard input is read once and never closed here.
        if (mOpens > 0)
            return false;
        mpFile = stdin;
    } else {
        mpFile = std::fopen(mPath.c_str(), "rb");
        if (mpFile == nullptr) {
            mLastError = static_cast<DWORD>(errno);
            return false;
        }
    }
    // Before any read of the stream, as setvbuf requires. Standard input
    // keeps its own buffer: it outlives this client.
    if (mpFile != stdin) {
        if (mpFileBuffer == nullptr)
            mpFileBuffer = new char[kFileBufferBytes];
        std::setvbuf(mpFile, mpFileBuffer, _IOFBF, kFileBufferBytes);
    }
    ++mOpens;
    return true;
}

bool CFileHttpClient::Disconnect() {
    if (mpFile != nullptr && mpFile != stdin)
        std::fclose(mpFile);
    mpFile = nullptr;
    return true;
}

bool CFileHttpClient::Get(const std::string&) {
    if (mpFile == nullptr)
        return false;
    mAtEnd = false;
    mBodyBytes = 0;
    mStatus = 200;
    mPending.clear();
    mPendingPos = 0;
    char start[5] = {};
    const size_t got = std::fread(start, 1, sizeof start, mpFile);
    if (got < sizeof start || std::memcmp(start, "HTTP/", 5) != 0) {
        // Body from the first byte: what was read to look comes first.
        mPending.assign(start, got);
        return true;
    }
    // A captured response head: find its blank line byte by byte (the body
    // must stay unread), then take the status from the first line.
    std::string head(start, sizeof start);
    while (head.size() < kMaxHeadBytes) {
        const int c = std::fgetc(mpFile);
        if (c == EOF)
            return false;
        head.push_back(static_cast<char>(c));
        const size_t n = head.size();
        const bool crlf = n >= 4 && head.compare(n - 4, 4, "\r\n\r\n") == 0;
        const bool lf = n >= 2 && head.compare(n - 2, 2, "\n\n") == 0;
        if (crlf || lf) {
            std::vector<std::string> parts;
            media_util::CStrUtil::Split(head.substr(0, head.find_first_of("\r\n")), " ", parts, 3);
            mStatus = parts.size() >= 2 ? media_util::CStrUtil::ParseInt(parts[1]) : 0;
            return true;
        }
    }
    return false;
}

bool CFileHttpClient::Read(void* buffer, DWORD* length, bool fill) {
    if (mpFile == nullptr || buffer == nullptr || length == nullptr) {
        if (length != nullptr)
            *length = 0;
        return false;
    }
    MarkThrottle();
    // A file has everything at once: one read fills as much as it can, so
    // `fill` needs no loop of its own.
    (void)fill;
    size_t got = 0;
    if (mPendingPos < mPending.size()) {
        got = std::min<size_t>(*length, mPending.size() - mPendingPos);
        std::memcpy(buffer, mPending.data() + mPendingPos, got);
        mPendingPos += got;
    }
    got += std::fread(static_cast<char*>(buffer) + got, 1, *length - got, mpFile);
    *length = static_cast<DWORD>(got);
    if (got == 0) {
        mAtEnd = true;
        return false;
    }
    mBodyBytes += got;
    Throttle(static_cast<DWORD>(got));
    return true;
}

bool CFileHttpClient::QueryStatusCode(int* status) {
    if (status == nullptr)
        return false;
    *status = mStatus;
    return true;
}

bool CFileHttpClient::Create(const std::string& path, media_util::CManualEvent* cancelEvent, CHttpLink** link,
                             IHttpClient** client) {
    auto* made = new CFileHttpClient(path);
    made->SetCancelEvent(cancelEvent);
    *client = made;
    *link = new CHttpLink(made);
    return true;
}
