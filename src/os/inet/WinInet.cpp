#include "os/inet/WinInet.h"

#include "os/inet/WinInetSession.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace os::inet;
using namespace os::inet::detail;

namespace {

thread_local DWORD tLastError = 0;

// Fails the calling API function with a WinINet error code.
BOOL Fail(DWORD error) {
    tLastError = error;
    return FALSE;
}

// Test hook: counts calls left pending.
struct PendingCalls {
    std::mutex mMutex;
    std::condition_variable mCv;
    uint64_t mCount = 0;
    uint64_t mSeen = 0;
};
PendingCalls& Pending() {
    static PendingCalls* pending = new PendingCalls; // outlives every worker, as the table
    return *pending;
}
void NotePendingCall() {
    PendingCalls& p = Pending();
    {
        std::lock_guard<std::mutex> lock(p.mMutex);
        ++p.mCount;
    }
    p.mCv.notify_all();
}

// ---------------------------------------------------------------------------
// The handle table. Handles are numbers, so a stale or invented handle can
// only miss the table.

struct Registry {
    std::mutex mMutex;
    std::map<uintptr_t, std::shared_ptr<Handle>> mHandles;
    std::map<uintptr_t, std::vector<uintptr_t>> mChildren;
    uintptr_t mNextId = 0x1000;
};

// Never destroyed: a root handle a program leaves open at exit keeps its
// worker thread running, and a status callback it runs may still call in here
// while static destructors run.
Registry& Handles() {
    static Registry* registry = new Registry;
    return *registry;
}

HINTERNET Register(const std::shared_ptr<Handle>& handle, uintptr_t parentId) {
    Registry& r = Handles();
    std::lock_guard<std::mutex> lock(r.mMutex);
    handle->mId = r.mNextId++;
    handle->mParentId = parentId;
    r.mHandles[handle->mId] = handle;
    if (parentId != 0)
        r.mChildren[parentId].push_back(handle->mId);
    return reinterpret_cast<HINTERNET>(handle->mId);
}

template <typename T> std::shared_ptr<T> Find(HINTERNET h, Kind kind) {
    Registry& r = Handles();
    std::lock_guard<std::mutex> lock(r.mMutex);
    auto it = r.mHandles.find(reinterpret_cast<uintptr_t>(h));
    if (it == r.mHandles.end()) {
        tLastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (it->second->mKind != kind) {
        tLastError = ERROR_INTERNET_INCORRECT_HANDLE_TYPE;
        return nullptr;
    }
    return std::static_pointer_cast<T>(it->second);
}

// ---------------------------------------------------------------------------

void CloseTree(uintptr_t id);

void CloseHandleObject(const std::shared_ptr<Handle>& h) {
    switch (h->mKind) {
    case Kind::Request: {
        auto r = std::static_pointer_cast<Request>(h);
        {
            std::lock_guard<std::mutex> lock(r->mMutex);
            // From here on nothing writes into the caller's memory.
            r->mClosed = true;
            r->mOp = Op::None;
            r->mpOpAvailable = nullptr;
            r->mpOpBuffers = nullptr;
            r->mpWriteData = nullptr;
            r->mWriteLeft = 0;
            r->mWriteDone.notify_all();
        }
        r->mpSession->RunAndWait({Command::Type::CloseRequest, r});
        break;
    }
    case Kind::Connection:
        h->mpSession->RunAndWait({Command::Type::NotifyClosing, h});
        break;
    case Kind::Root:
        std::static_pointer_cast<Session>(h)->Shutdown();
        break;
    }
}

void CloseTree(uintptr_t id) {
    std::shared_ptr<Handle> h;
    std::vector<uintptr_t> children;
    {
        Registry& reg = Handles();
        std::lock_guard<std::mutex> lock(reg.mMutex);
        auto it = reg.mHandles.find(id);
        if (it == reg.mHandles.end())
            return;
        h = it->second;
        reg.mHandles.erase(it);
        auto c = reg.mChildren.find(id);
        if (c != reg.mChildren.end()) {
            children = std::move(c->second);
            reg.mChildren.erase(c);
        }
        auto p = reg.mChildren.find(h->mParentId);
        if (p != reg.mChildren.end())
            p->second.erase(std::remove(p->second.begin(), p->second.end(), id), p->second.end());
    }
    for (uintptr_t child : children)
        CloseTree(child);
    CloseHandleObject(h);
}

std::string TextOption(LPVOID buffer, DWORD length) {
    if (buffer == nullptr)
        return {};
    const char* text = static_cast<const char*>(buffer);
    return std::string(text, strnlen(text, length));
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

// Adds "Name: value" lines to the request (r locked); false for a line
// without a name.
bool AddHeaders(Request& r, const char* text, size_t length) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < length) {
        size_t end = start;
        while (end < length && text[end] != '\r' && text[end] != '\n')
            ++end;
        if (end > start)
            lines.emplace_back(text + start, end - start);
        start = end + 1;
    }
    for (const std::string& line : lines) {
        size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos)
            return false;
    }
    for (const std::string& line : lines) {
        std::string name = Lower(line.substr(0, line.find(':')));
        auto same = [&](const std::string& h) { return Lower(h.substr(0, h.find(':'))) == name; };
        auto it = std::find_if(r.mHeaders.begin(), r.mHeaders.end(), same);
        if (it != r.mHeaders.end())
            *it = line;
        else
            r.mHeaders.push_back(line);
    }
    return true;
}

// Starts a new exchange on the request; the send completes asynchronously.
BOOL BeginExchange(const std::shared_ptr<Request>& r, DWORD_PTR context) {
    uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(r->mMutex);
        r->mGeneration++;
        generation = r->mGeneration;
        r->mConnected = false;
        r->mConnectedNotified = false;
        r->mIntermediatePending = 0;
        r->mHeadBuilding.clear();
        r->mFinalHead.clear();
        r->mStatus = 0;
        r->mHeadComplete = false;
        r->mHeadVisible = false;
        r->mHeadTooLong = false;
        r->mBodyBuffer.clear();
        r->mBodyBuffer.shrink_to_fit();
        r->mBodyStart = 0;
        r->mFinished = false;
        r->mFinishError = 0;
        r->mPaused = false;
        r->mPeakBuffered = 0;
        r->mPauseCount = 0;
        r->mUploadPaused = false;
        r->mOp = Op::Send;
        r->mOpContext = context;
    }
    NotePendingCall();
    r->mpSession->Post({Command::Type::Start, r, generation});
    return Fail(ERROR_IO_PENDING);
}

} // namespace

// ---------------------------------------------------------------------------

DWORD GetLastError() {
    return tLastError;
}
void SetLastError(DWORD error) {
    tLastError = error;
}

namespace os::inet {
bool GetBodyBufferStatsForTest(HINTERNET request, DWORD* peakBufferedBytes, DWORD* pauseCount) {
    auto r = Find<Request>(request, Kind::Request);
    if (r == nullptr)
        return false;
    std::lock_guard<std::mutex> lock(r->mMutex);
    *peakBufferedBytes = r->mPeakBuffered;
    *pauseCount = r->mPauseCount;
    return true;
}

int GetLiveSessionCountForTest() {
    return gLiveSessions.load();
}

bool WaitForPendingCallForTest(DWORD timeoutMs) {
    PendingCalls& p = Pending();
    std::unique_lock<std::mutex> lock(p.mMutex);
    if (!p.mCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return p.mCount > p.mSeen; }))
        return false;
    p.mSeen = p.mCount;
    return true;
}
} // namespace os::inet

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char*, DWORD flags) {
    // The viewer only drives WinINet asynchronously; nothing here blocks a
    // caller for a transfer.
    if ((flags & INTERNET_FLAG_ASYNC) == 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    auto session = std::make_shared<Session>();
    session->mAgent = agent != nullptr ? agent : "";
    session->mAccessType = accessType;
    session->mProxy = proxy != nullptr ? proxy : "";
    session->mpMulti = curl_multi_init();
    if (session->mpMulti == nullptr) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    gLiveSessions.fetch_add(1); // given back when Run ends
    session->mThread = std::thread([session] { session->Run(); });
    session->mWorkerId.store(session->mThread.get_id());
    HINTERNET h = Register(session, 0);
    tLastError = 0;
    return h;
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET handle, INTERNET_STATUS_CALLBACK callback) {
    std::shared_ptr<Handle> h;
    {
        Registry& reg = Handles();
        std::lock_guard<std::mutex> lock(reg.mMutex);
        auto it = reg.mHandles.find(reinterpret_cast<uintptr_t>(handle));
        if (it != reg.mHandles.end())
            h = it->second;
    }
    if (h == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return INTERNET_INVALID_STATUS_CALLBACK;
    }
    return h->mCallback.exchange(callback);
}

HINTERNET InternetConnectA(HINTERNET root, const char* serverName, INTERNET_PORT port, const char* userName,
                           const char* password, DWORD service, DWORD, DWORD_PTR context) {
    auto session = Find<Session>(root, Kind::Root);
    if (session == nullptr)
        return nullptr;
    if (service != INTERNET_SERVICE_HTTP || serverName == nullptr || *serverName == '\0') {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string host = serverName;
    // The host goes into a URL: anything that would make it a different URL
    // (a path, user information, a second port) is refused here.
    for (unsigned char c : host) {
        if (c <= 0x20 || c >= 0x7F || std::strchr("/\\@?#%", c) != nullptr) {
            Fail(ERROR_INTERNET_INVALID_URL);
            return nullptr;
        }
    }
    auto conn = std::make_shared<Connection>();
    conn->mHost = host;
    conn->mPort = port == 0 ? INTERNET_DEFAULT_HTTP_PORT : port;
    conn->mUser = userName != nullptr ? userName : "";
    conn->mPassword = password != nullptr ? password : "";
    conn->mContext = context;
    conn->mCallback.store(session->mCallback.load());
    conn->mpSession = session;
    HINTERNET h = Register(conn, session->mId);
    tLastError = 0;
    return h;
}

HINTERNET HttpOpenRequestA(HINTERNET connection, const char* verb, const char* objectName, const char*,
                           const char*, const char**, DWORD flags, DWORD_PTR context) {
    auto conn = Find<Connection>(connection, Kind::Connection);
    if (conn == nullptr)
        return nullptr;
    auto r = std::make_shared<Request>();
    // An IPv6 literal goes into the URL in brackets, given bare or not;
    // libcurl sends it so in the Host header too ("[::1]:8080").
    r->mUrlBase = "http://" + os::BracketHostLiteral(conn->mHost) + ":" + std::to_string(conn->mPort);
    r->mVerb = verb != nullptr && *verb != '\0' ? verb : "GET";
    r->mPath = objectName != nullptr && *objectName != '\0' ? objectName : "/";
    r->mFlags = flags;
    {
        std::lock_guard<std::mutex> lock(conn->mMutex);
        r->mUser = conn->mUser;
        r->mPassword = conn->mPassword;
    }
    r->mContext = context;
    r->mCallback.store(conn->mCallback.load());
    r->mpSession = conn->mpSession;
    HINTERNET h = Register(r, conn->mId);
    tLastError = 0;
    return h;
}

BOOL HttpAddRequestHeadersA(HINTERNET request, const char* headers, DWORD headersLength, DWORD) {
    auto r = Find<Request>(request, Kind::Request);
    if (r == nullptr)
        return FALSE;
    if (headers == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    size_t length = headersLength == static_cast<DWORD>(-1) ? std::strlen(headers) : headersLength;
    std::lock_guard<std::mutex> lock(r->mMutex);
    if (!AddHeaders(*r, headers, length))
        return Fail(ERROR_INVALID_PARAMETER);
    return TRUE;
}

namespace {
// A new exchange may start when no call on the request is pending.
bool CanStart(Request& r) {
    return r.mOp == Op::None && !r.mWriterBusy;
}
} // namespace

BOOL HttpSendRequestA(HINTERNET request, const char* headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength) {
    auto r = Find<Request>(request, Kind::Request);
    if (r == nullptr)
        return FALSE;
    {
        std::lock_guard<std::mutex> lock(r->mMutex);
        if (!CanStart(*r))
            return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        if (headers != nullptr) {
            size_t length = headersLength == static_cast<DWORD>(-1) ? std::strlen(headers) : headersLength;
            if (!AddHeaders(*r, headers, length))
                return Fail(ERROR_INVALID_PARAMETER);
        }
        r->mHasBody = optional != nullptr && optionalLength > 0;
        r->mBody.assign(r->mHasBody ? static_cast<const char*>(optional) : "",
                        r->mHasBody ? optionalLength : 0);
        r->mStreamedBody = false;
    }
    return BeginExchange(r, r->mContext);
}

BOOL HttpSendRequestExA(HINTERNET request, INTERNET_BUFFERSA* buffersIn, INTERNET_BUFFERSA*, DWORD,
                        DWORD_PTR context) {
    auto r = Find<Request>(request, Kind::Request);
    if (r == nullptr)
        return FALSE;
    {
        std::lock_guard<std::mutex> lock(r->mMutex);
        if (!CanStart(*r))
            return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        r->mHasBody = false;
        r->mBody.clear();
        r->mStreamedBody = buffersIn != nullptr;
        r->mStreamedTotal = -1;
        if (buffersIn != nullptr) {
            if (buffersIn->lpcszHeader != nullptr && buffersIn->dwHeadersLength > 0 &&
                !AddHeaders(*r, buffersIn->lpcszHeader, buffersIn->dwHeadersLength))
                return Fail(ERROR_INVALID_PARAMETER);
            if (buffersIn->dwBufferTotal > 0)
                r->mStreamedTotal = buffersIn->dwBufferTotal;
        }
    }
    return BeginExchange(r, context);
}

BOOL HttpEndRequestA(HINTERNET request, INTERNET_BUFFERSA*, DWORD, DWORD_PTR context) {
    auto r = Find<Request>(request, Kind::Request);
    if (r == nullptr)
        return FALSE;
    {
        std::lock_guard<std::mutex> lock(r->mMutex);
        if (r->mGeneration == 0 || !CanStart(*r))
            return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        r->mOp = Op::End;
        r->mOpContext = context;
    }
    NotePendingCall();
    r->mpSession->Wake();
    return Fail(ERROR_IO_PENDING);
}

BOOL InternetWriteFile(HINTERNET request, const void* buffer, DWORD length, DWORD* written) {
    auto r = Find<Request>(request, Kind::Request);
    if (r == nullptr)
        return FALSE;
    if (written == nullptr || (buffer == nullptr && length > 0))
        return Fail(ERROR_INVALID_PARAMETER);
    *written = 0;
    std::unique_lock<std::mutex> lock(r->mMutex);
    if (!r->mStreamedBody || r->mGeneration == 0 || r->mWriterBusy)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (length == 0)
        return TRUE;
    r->mWriterBusy = true;
    r->mpWriteData = static_cast<const char*>(buffer);
    r->mWriteLeft = length;
    lock.unlock();
    r->mpSession->Wake();
    lock.lock();
    bool done = r->mWriteDone.wait_for(lock, std::chrono::milliseconds(kWriteTimeoutMs),
                                       [&] { return r->mWriteLeft == 0 || r->mFinished || r->mClosed; });
    // Whatever the transfer did not take is withdrawn: the caller's buffer is
    // not touched after this returns.
    DWORD left = static_cast<DWORD>(r->mWriteLeft);
    bool closed = r->mClosed;
    DWORD finishError = r->mFinishError;
    r->mpWriteData = nullptr;
    r->mWriteLeft = 0;
    r->mWriterBusy = false;
    *written = length - left;
    if (left == 0)
        return TRUE;
    if (closed)
        return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    if (!done)
        return Fail(ERROR_INTERNET_TIMEOUT);
    return Fail(finishError != 0 ? finishError : ERROR_INTERNET_CONNECTION_ABORTED);
}

BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    std::shared_ptr<Handle> h;
    {
        Registry& reg = Handles();
        std::lock_guard<std::mutex> lock(reg.mMutex);
        auto it = reg.mHandles.find(reinterpret_cast<uintptr_t>(handle));
        if (it != reg.mHandles.end())
            h = it->second;
    }
    if (h == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    switch (option) {
    case INTERNET_OPTION_USERNAME:
    case INTERNET_OPTION_PASSWORD:
    case INTERNET_OPTION_PROXY_USERNAME:
    case INTERNET_OPTION_PROXY_PASSWORD:
        break;
    default:
        return Fail(ERROR_INTERNET_INVALID_OPTION);
    }
    std::string text = TextOption(buffer, length);
    if (h->mKind == Kind::Connection) {
        auto c = std::static_pointer_cast<Connection>(h);
        std::lock_guard<std::mutex> lock(c->mMutex);
        if (option == INTERNET_OPTION_USERNAME)
            c->mUser = text;
        else if (option == INTERNET_OPTION_PASSWORD)
            c->mPassword = text;
        return TRUE;
    }
    if (h->mKind != Kind::Request)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    auto r = std::static_pointer_cast<Request>(h);
    std::lock_guard<std::mutex> lock(r->mMutex);
    switch (option) {
    case INTERNET_OPTION_USERNAME:
        r->mUser = text;
        break;
    case INTERNET_OPTION_PASSWORD:
        r->mPassword = text;
        break;
    case INTERNET_OPTION_PROXY_USERNAME:
        r->mProxyUser = text;
        break;
    default:
        r->mProxyPassword = text;
        break;
    }
    return TRUE;
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, DWORD* length, DWORD*) {
    auto r = Find<Request>(request, Kind::Request);
    if (r == nullptr)
        return FALSE;
    if (length == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD level = infoLevel & ~HTTP_QUERY_MODIFIER_FLAGS_MASK;
    bool number = (infoLevel & HTTP_QUERY_FLAG_NUMBER) != 0;
    std::string text;
    DWORD status;
    {
        std::lock_guard<std::mutex> lock(r->mMutex);
        if (!r->mHeadVisible)
            return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
        status = r->mStatus;
        if (level == HTTP_QUERY_RAW_HEADERS_CRLF)
            text = r->mFinalHead;
    }
    if (level == HTTP_QUERY_STATUS_CODE && number) {
        if (*length < sizeof(DWORD) || buffer == nullptr) {
            *length = sizeof(DWORD);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, &status, sizeof(status));
        *length = sizeof(DWORD);
        return TRUE;
    }
    if (level == HTTP_QUERY_STATUS_CODE)
        text = std::to_string(status);
    else if (level != HTTP_QUERY_RAW_HEADERS_CRLF || number)
        return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    if (buffer == nullptr || *length < text.size() + 1) {
        *length = static_cast<DWORD>(text.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *length = static_cast<DWORD>(text.size());
    return TRUE;
}

BOOL InternetQueryDataAvailable(HINTERNET request, DWORD* available, DWORD, DWORD_PTR context) {
    auto r = Find<Request>(request, Kind::Request);
    if (r == nullptr)
        return FALSE;
    if (available == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    {
        std::lock_guard<std::mutex> lock(r->mMutex);
        if (r->mGeneration == 0 || !CanStart(*r))
            return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        if (Ready(*r, Op::Query)) {
            INTERNET_ASYNC_RESULT result = Complete(*r, Op::Query, available, nullptr);
            if (result.dwResult == FALSE)
                return Fail(result.dwError);
            return TRUE;
        }
        r->mOp = Op::Query;
        r->mOpContext = context;
        r->mpOpAvailable = available;
    }
    NotePendingCall();
    r->mpSession->Wake();
    return Fail(ERROR_IO_PENDING);
}

BOOL InternetReadFileExA(HINTERNET request, INTERNET_BUFFERSA* buffersOut, DWORD, DWORD_PTR context) {
    auto r = Find<Request>(request, Kind::Request);
    if (r == nullptr)
        return FALSE;
    if (buffersOut == nullptr || (buffersOut->lpvBuffer == nullptr && buffersOut->dwBufferLength > 0))
        return Fail(ERROR_INVALID_PARAMETER);
    if (buffersOut->dwBufferLength == 0)
        return TRUE;
    bool pending = false;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(r->mMutex);
        if (r->mGeneration == 0 || !CanStart(*r))
            return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        if (!Ready(*r, Op::Read)) {
            r->mOp = Op::Read;
            r->mOpContext = context;
            r->mpOpBuffers = buffersOut;
            pending = true;
        } else {
            INTERNET_ASYNC_RESULT result = Complete(*r, Op::Read, nullptr, buffersOut);
            if (result.dwResult == FALSE)
                return Fail(result.dwError);
            // Wake the worker only once there is room for what it holds back.
            wake = r->mPaused && r->Buffered() + kReceiveChunkBytes <= kMaxBufferedBodyBytes;
        }
    }
    // Either the read waits for bytes, or it made room for a paused transfer.
    if (pending)
        NotePendingCall();
    if (pending || wake)
        r->mpSession->Wake();
    if (pending)
        return Fail(ERROR_IO_PENDING);
    return TRUE;
}

BOOL InternetCloseHandle(HINTERNET handle) {
    {
        Registry& reg = Handles();
        std::lock_guard<std::mutex> lock(reg.mMutex);
        if (reg.mHandles.count(reinterpret_cast<uintptr_t>(handle)) == 0)
            return Fail(ERROR_INVALID_HANDLE);
    }
    CloseTree(reinterpret_cast<uintptr_t>(handle));
    return TRUE;
}
