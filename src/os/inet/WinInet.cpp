#include "os/inet/WinInet.h"

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

namespace {

thread_local DWORD tLastError = 0;

// Fails the calling API function with a WinINet error code.
BOOL Fail(DWORD error) {
    tLastError = error;
    return FALSE;
}

std::atomic<int> gLiveSessions{0};

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

enum class Kind { Root, Connection, Request };

struct Session;

struct Handle {
    explicit Handle(Kind kind) : mKind(kind) {}
    virtual ~Handle() = default;

    const Kind mKind;
    uintptr_t mId = 0;
    uintptr_t mParentId = 0;
    DWORD_PTR mContext = 0;
    std::atomic<INTERNET_STATUS_CALLBACK> mCallback{nullptr};
    std::shared_ptr<Session> mpSession; // null for the root itself
};

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

struct Connection : Handle {
    Connection() : Handle(Kind::Connection) {}
    std::string mHost;
    INTERNET_PORT mPort = INTERNET_DEFAULT_HTTP_PORT;
    std::mutex mMutex; // guards the credentials
    std::string mUser;
    std::string mPassword;
};

enum class Op { None, Send, End, Query, Read };

struct Request : Handle {
    Request() : Handle(Kind::Request) {}

    // Fixed when the handle is opened.
    std::string mUrlBase; // "http://host:port"
    std::string mVerb;
    std::string mPath;
    DWORD mFlags = 0;

    std::mutex mMutex; // guards everything below except the worker-only part
    std::condition_variable mWriteDone;
    bool mClosed = false;
    std::vector<std::string> mHeaders; // "Name: value"
    std::string mUser, mPassword, mProxyUser, mProxyPassword;

    // The exchange; a new send bumps the generation, and whatever the
    // previous transfer still delivers is dropped.
    uint64_t mGeneration = 0;
    bool mHasBody = false;
    std::string mBody;
    bool mStreamedBody = false;
    long long mStreamedTotal = -1;

    bool mConnected = false;
    bool mConnectedNotified = false;
    int mIntermediatePending = 0;
    std::string mHeadBuilding;
    std::string mFinalHead;
    DWORD mStatus = 0;
    bool mHeadComplete = false;
    // The head is the caller's once HttpEndRequestA (or a body read) has
    // completed, as WinINet reads it there; before that, header queries fail
    // even when libcurl already has it.
    bool mHeadVisible = false;
    bool mHeadTooLong = false;
    std::vector<char> mBodyBuffer;
    size_t mBodyStart = 0;
    bool mFinished = false;
    DWORD mFinishError = 0;
    bool mPaused = false;
    DWORD mPeakBuffered = 0;
    DWORD mPauseCount = 0;

    Op mOp = Op::None;
    DWORD_PTR mOpContext = 0;
    DWORD* mpOpAvailable = nullptr;
    INTERNET_BUFFERSA* mpOpBuffers = nullptr;

    // InternetWriteFile's bytes, read in place by the transfer.
    const char* mpWriteData = nullptr;
    size_t mWriteLeft = 0;
    bool mWriterBusy = false;
    bool mUploadPaused = false;

    // Worker thread only.
    CURL* mpEasy = nullptr;
    curl_slist* mpHeaderList = nullptr;
    uint64_t mEasyGeneration = 0;

    size_t Buffered() const { return mBodyBuffer.size() - mBodyStart; }
};

struct Notice {
    DWORD status;
    DWORD_PTR context;
    INTERNET_ASYNC_RESULT result;
};

struct Command {
    enum class Type { Start, CloseRequest, NotifyClosing };
    Command(Type t, std::shared_ptr<Handle> h, uint64_t g = 0)
        : type(t), handle(std::move(h)), generation(g) {}
    Type type;
    std::shared_ptr<Handle> handle;
    uint64_t generation;
    std::shared_ptr<std::promise<void>> done; // set when the poster waits for it
};

// One root handle: a curl multi handle and the worker thread that drives it.
struct Session : Handle {
    Session() : Handle(Kind::Root) {}
    ~Session() override {
        if (mpMulti != nullptr)
            curl_multi_cleanup(mpMulti);
    }

    std::string mAgent;
    DWORD mAccessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string mProxy;
    CURLM* mpMulti = nullptr;
    std::thread mThread;
    std::atomic<std::thread::id> mWorkerId{};

    std::mutex mMutex; // guards mCommands, mStop, mExited
    std::vector<Command> mCommands;
    bool mStop = false;
    bool mExited = false;

    std::vector<std::shared_ptr<Request>> mActive; // worker only

    bool OnWorker() const { return std::this_thread::get_id() == mWorkerId.load(); }
    void Wake() { curl_multi_wakeup(mpMulti); }
    void Post(Command cmd);
    void RunAndWait(Command cmd);
    void Execute(const Command& cmd);
    void Run();
    void StartTransfer(const std::shared_ptr<Request>& r, uint64_t generation);
    void RemoveTransfer(Request& r);
    void ResumeTransfers();
    void Deliver(const std::shared_ptr<Request>& r);
    void Shutdown();
};

void Fire(Handle& h, HINTERNET id, const Notice& n) {
    INTERNET_STATUS_CALLBACK callback = h.mCallback.load();
    if (callback == nullptr)
        return;
    INTERNET_ASYNC_RESULT result = n.result;
    callback(id, n.context, n.status, &result, sizeof(result));
}

void FireClosing(Handle& h) {
    INTERNET_STATUS_CALLBACK callback = h.mCallback.load();
    if (callback == nullptr)
        return;
    HINTERNET id = reinterpret_cast<HINTERNET>(h.mId);
    callback(id, h.mContext, INTERNET_STATUS_HANDLE_CLOSING, &id, sizeof(id));
}

// ---------------------------------------------------------------------------
// What the transfer tells us (worker thread, inside libcurl).

DWORD ParseStatus(const std::string& head) {
    // "HTTP/1.1 200 OK": the digits after the first blank.
    size_t sp = head.find(' ');
    if (sp == std::string::npos)
        return 0;
    DWORD code = 0;
    for (size_t i = sp + 1; i < head.size() && i < sp + 4; ++i) {
        if (head[i] < '0' || head[i] > '9')
            return 0;
        code = code * 10 + static_cast<DWORD>(head[i] - '0');
    }
    return code;
}

bool HasLocation(const std::string& head) {
    size_t pos = 0;
    while ((pos = head.find('\n', pos)) != std::string::npos) {
        ++pos;
        if (head.size() - pos >= 9 && strncasecmp(head.c_str() + pos, "location:", 9) == 0)
            return true;
    }
    return false;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* r = static_cast<Request*>(user);
    size_t len = size * count;
    std::lock_guard<std::mutex> lock(r->mMutex);
    if (r->mEasyGeneration != r->mGeneration || r->mClosed)
        return 0;
    if (len >= 5 && std::memcmp(data, "HTTP/", 5) == 0)
        r->mHeadBuilding.clear();
    // Keep CR LF line ends whatever the peer sent, as WinINet reports them.
    size_t lineLen = len;
    while (lineLen > 0 && (data[lineLen - 1] == '\n' || data[lineLen - 1] == '\r'))
        --lineLen;
    if (r->mHeadBuilding.size() + lineLen + 2 > kMaxResponseHeadBytes) {
        r->mHeadTooLong = true;
        return 0;
    }
    r->mHeadBuilding.append(data, lineLen);
    r->mHeadBuilding.append("\r\n");
    if (lineLen != 0)
        return len;

    DWORD status = ParseStatus(r->mHeadBuilding);
    bool following = (r->mFlags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
    if (status >= 100 && status < 200) {
        ++r->mIntermediatePending;
    } else if (following && status >= 300 && status < 400 && HasLocation(r->mHeadBuilding)) {
        // libcurl follows it; the next head is the one the caller sees.
    } else {
        r->mFinalHead = r->mHeadBuilding;
        r->mStatus = status;
        r->mHeadComplete = true;
    }
    r->mHeadBuilding.clear();
    return len;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* r = static_cast<Request*>(user);
    size_t len = size * count;
    std::lock_guard<std::mutex> lock(r->mMutex);
    if (r->mEasyGeneration != r->mGeneration || r->mClosed)
        return 0;
    size_t buffered = r->Buffered();
    if (buffered > 0 && buffered + len > kMaxBufferedBodyBytes) {
        // A slow reader: stop taking bytes from the socket until it made room.
        r->mPaused = true;
        ++r->mPauseCount;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (r->mBodyStart == r->mBodyBuffer.size()) {
        r->mBodyBuffer.clear();
        r->mBodyStart = 0;
    } else if (r->mBodyStart > 0 && r->mBodyBuffer.size() + len > kMaxBufferedBodyBytes) {
        r->mBodyBuffer.erase(r->mBodyBuffer.begin(), r->mBodyBuffer.begin() + r->mBodyStart);
        r->mBodyStart = 0;
    }
    r->mBodyBuffer.insert(r->mBodyBuffer.end(), data, data + len);
    r->mPeakBuffered = std::max<DWORD>(r->mPeakBuffered, static_cast<DWORD>(r->Buffered()));
    return len;
}

size_t OnUpload(char* buffer, size_t size, size_t count, void* user) {
    auto* r = static_cast<Request*>(user);
    size_t room = size * count;
    std::lock_guard<std::mutex> lock(r->mMutex);
    if (r->mEasyGeneration != r->mGeneration || r->mClosed)
        return CURL_READFUNC_ABORT;
    if (r->mWriteLeft == 0) {
        r->mUploadPaused = true;
        return CURL_READFUNC_PAUSE;
    }
    size_t n = std::min(room, r->mWriteLeft);
    std::memcpy(buffer, r->mpWriteData, n);
    r->mpWriteData += n;
    r->mWriteLeft -= n;
    if (r->mWriteLeft == 0)
        r->mWriteDone.notify_all();
    return n;
}

int OnConnected(void* user, char*, char*, int, int) {
    auto* r = static_cast<Request*>(user);
    std::lock_guard<std::mutex> lock(r->mMutex);
    if (r->mEasyGeneration == r->mGeneration)
        r->mConnected = true;
    return CURL_PREREQFUNC_OK;
}

// The WinINet code for how a transfer ended. `redirected`: it had followed a
// redirect; `headComplete`: the final head had arrived.
DWORD MapCurlError(CURLcode code, bool headTooLong, bool redirected, bool headComplete) {
    if (code == CURLE_OK)
        return 0;
    if (code == CURLE_UNSUPPORTED_PROTOCOL)
        return redirected ? ERROR_HTTP_REDIRECT_FAILED : ERROR_HTTP_INVALID_SERVER_RESPONSE;
    // The peer went away or spoke something else before a whole head came:
    // it did not answer as an HTTP server.
    if (!headComplete && (code == CURLE_RECV_ERROR || code == CURLE_PARTIAL_FILE ||
                          code == CURLE_GOT_NOTHING || code == CURLE_WEIRD_SERVER_REPLY))
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    switch (code) {
    case CURLE_OK:
        return 0;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_COULDNT_RESOLVE_HOST:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_TOO_MANY_REDIRECTS:
        return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_URL_MALFORMAT:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_WRITE_ERROR:
        return headTooLong ? ERROR_HTTP_INVALID_SERVER_RESPONSE : ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
        return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_OUT_OF_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    }
}

// Whether the pending (or asked-for) operation can finish now; r locked.
bool Ready(const Request& r, Op op) {
    switch (op) {
    case Op::Send:
        return r.mConnected || r.mFinished;
    case Op::End:
        return r.mHeadComplete || r.mFinished;
    case Op::Query:
    case Op::Read:
        return r.Buffered() > 0 || r.mFinished;
    case Op::None:
        break;
    }
    return false;
}

// Finishes op with its outputs; r locked. Returns the async result.
INTERNET_ASYNC_RESULT Complete(Request& r, Op op, DWORD* available, INTERNET_BUFFERSA* buffers) {
    INTERNET_ASYNC_RESULT result{TRUE, 0};
    auto failWith = [&](DWORD fallback) {
        result.dwResult = FALSE;
        result.dwError = r.mFinishError != 0 ? r.mFinishError : fallback;
    };
    switch (op) {
    case Op::Send:
        if (!r.mConnected)
            failWith(ERROR_INTERNET_CANNOT_CONNECT);
        break;
    case Op::End:
        r.mHeadVisible = r.mHeadComplete;
        if (!r.mHeadComplete)
            failWith(ERROR_HTTP_INVALID_SERVER_RESPONSE);
        break;
    case Op::Query:
        r.mHeadVisible = r.mHeadComplete;
        *available = static_cast<DWORD>(r.Buffered());
        if (r.Buffered() == 0 && r.mFinishError != 0)
            failWith(0);
        break;
    case Op::Read: {
        r.mHeadVisible = r.mHeadComplete;
        size_t n = std::min<size_t>(buffers->dwBufferLength, r.Buffered());
        if (n > 0)
            std::memcpy(buffers->lpvBuffer, r.mBodyBuffer.data() + r.mBodyStart, n);
        r.mBodyStart += n;
        buffers->dwBufferLength = static_cast<DWORD>(n);
        if (n == 0 && r.mFinishError != 0)
            failWith(0);
        break;
    }
    case Op::None:
        break;
    }
    return result;
}

// ---------------------------------------------------------------------------
// The worker.

void Session::Post(Command cmd) {
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (!mExited) {
            mCommands.push_back(cmd);
            queued = true;
        }
    }
    if (!queued) {
        Execute(cmd);
        return;
    }
    Wake();
}

void Session::RunAndWait(Command cmd) {
    if (OnWorker()) {
        Execute(cmd);
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    cmd.done = done;
    bool inline_ = false;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mExited)
            inline_ = true;
        else
            mCommands.push_back(cmd);
    }
    if (inline_) {
        // The worker has gone: nothing else touches this session's transfers.
        cmd.done = nullptr;
        Execute(cmd);
        return;
    }
    Wake();
    finished.wait();
}

std::string EscapePath(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    if (path.empty() || path[0] != '/')
        out.push_back('/');
    for (unsigned char c : path) {
        if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}#", c) != nullptr) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

void Session::RemoveTransfer(Request& r) {
    if (r.mpEasy != nullptr) {
        curl_multi_remove_handle(mpMulti, r.mpEasy);
        curl_easy_cleanup(r.mpEasy);
        r.mpEasy = nullptr;
    }
    if (r.mpHeaderList != nullptr) {
        curl_slist_free_all(r.mpHeaderList);
        r.mpHeaderList = nullptr;
    }
}

void Session::StartTransfer(const std::shared_ptr<Request>& r, uint64_t generation) {
    std::string url, verb, user, password, proxyUser, proxyPassword, body;
    std::vector<std::string> headers;
    bool hasBody, streamed;
    long long streamedTotal;
    {
        std::lock_guard<std::mutex> lock(r->mMutex);
        if (generation != r->mGeneration || r->mClosed)
            return; // a newer send follows, or the handle went away
        url = r->mUrlBase + EscapePath(r->mPath);
        verb = r->mVerb;
        user = r->mUser;
        password = r->mPassword;
        proxyUser = r->mProxyUser;
        proxyPassword = r->mProxyPassword;
        headers = r->mHeaders;
        hasBody = r->mHasBody;
        body = r->mBody;
        streamed = r->mStreamedBody;
        streamedTotal = r->mStreamedTotal;
        r->mEasyGeneration = generation;
    }
    RemoveTransfer(*r);
    if (std::find(mActive.begin(), mActive.end(), r) == mActive.end())
        mActive.push_back(r);

    CURL* easy = curl_easy_init();
    auto failStart = [&](DWORD error) {
        if (easy != nullptr)
            curl_easy_cleanup(easy);
        std::lock_guard<std::mutex> lock(r->mMutex);
        r->mFinished = true;
        r->mFinishError = error;
    };
    if (easy == nullptr) {
        failStart(ERROR_NOT_ENOUGH_MEMORY);
        return;
    }
    Request* raw = r.get();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, raw);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // Devices get the path exactly as the caller wrote it.
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, raw);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, raw);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, raw);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(kReceiveChunkBytes));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    if ((r->mFlags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0) {
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    }
    if (!mAgent.empty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, mAgent.c_str());
    // Devices sit on the local network; a proxy from the environment is never
    // right for loopback.
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    if (mAccessType == INTERNET_OPEN_TYPE_DIRECT)
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    else if (!mProxy.empty())
        curl_easy_setopt(easy, CURLOPT_PROXY, mProxy.c_str());
    if (!proxyUser.empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxyUser.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxyPassword.c_str());
    }
    if (!user.empty()) {
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
    }
    curl_slist* list = nullptr;
    for (const std::string& h : headers)
        list = curl_slist_append(list, h.c_str());
    // No "Expect: 100-continue" round trip: devices do not answer it.
    list = curl_slist_append(list, "Expect:");
    r->mpHeaderList = list;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    if (verb == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (verb == "POST") {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        if (streamed) {
            curl_easy_setopt(easy, CURLOPT_READFUNCTION, OnUpload);
            curl_easy_setopt(easy, CURLOPT_READDATA, raw);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(streamedTotal));
        } else {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(hasBody ? body.size() : 0));
            curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, hasBody ? body.c_str() : "");
        }
    } else if (verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }
    if (curl_multi_add_handle(mpMulti, easy) != CURLM_OK) {
        failStart(ERROR_INTERNET_INTERNAL_ERROR);
        return;
    }
    r->mpEasy = easy;
}

void Session::Execute(const Command& cmd) {
    switch (cmd.type) {
    case Command::Type::Start:
        if (!mExited)
            StartTransfer(std::static_pointer_cast<Request>(cmd.handle), cmd.generation);
        break;
    case Command::Type::CloseRequest: {
        auto r = std::static_pointer_cast<Request>(cmd.handle);
        RemoveTransfer(*r);
        mActive.erase(std::remove(mActive.begin(), mActive.end(), r), mActive.end());
        FireClosing(*r);
        break;
    }
    case Command::Type::NotifyClosing:
        FireClosing(*cmd.handle);
        break;
    }
    if (cmd.done != nullptr)
        cmd.done->set_value();
}

void Session::ResumeTransfers() {
    for (const auto& r : mActive) {
        bool resume = false;
        {
            std::lock_guard<std::mutex> lock(r->mMutex);
            if (r->mPaused && r->Buffered() + kReceiveChunkBytes <= kMaxBufferedBodyBytes) {
                r->mPaused = false;
                resume = true;
            }
            if (r->mUploadPaused && r->mWriteLeft > 0) {
                r->mUploadPaused = false;
                resume = true;
            }
        }
        // May call the write callback at once, which takes the request's lock.
        if (resume && r->mpEasy != nullptr)
            curl_easy_pause(r->mpEasy, CURLPAUSE_CONT);
    }
}

void Session::Deliver(const std::shared_ptr<Request>& r) {
    std::vector<Notice> notices;
    {
        std::lock_guard<std::mutex> lock(r->mMutex);
        if (r->mClosed)
            return;
        if (r->mConnected && !r->mConnectedNotified) {
            r->mConnectedNotified = true;
            notices.push_back({INTERNET_STATUS_CONNECTED_TO_SERVER, r->mContext, {TRUE, 0}});
        }
        for (; r->mIntermediatePending > 0; --r->mIntermediatePending)
            notices.push_back({INTERNET_STATUS_INTERMEDIATE_RESPONSE, r->mContext, {TRUE, 0}});
        if (r->mOp != Op::None && Ready(*r, r->mOp)) {
            INTERNET_ASYNC_RESULT result = Complete(*r, r->mOp, r->mpOpAvailable, r->mpOpBuffers);
            notices.push_back({INTERNET_STATUS_REQUEST_COMPLETE, r->mOpContext, result});
            r->mOp = Op::None;
            r->mpOpAvailable = nullptr;
            r->mpOpBuffers = nullptr;
        }
    }
    HINTERNET id = reinterpret_cast<HINTERNET>(r->mId);
    for (const Notice& n : notices) {
        // A callback may have closed the handle (from here or another
        // thread): what was collected for it is dropped.
        {
            std::lock_guard<std::mutex> lock(r->mMutex);
            if (r->mClosed)
                return;
        }
        Fire(*r, id, n);
    }
}

void Session::Run() {
    for (;;) {
        std::vector<Command> commands;
        bool stop;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            commands.swap(mCommands);
            stop = mStop;
        }
        for (const Command& cmd : commands)
            Execute(cmd);
        if (stop)
            break;
        ResumeTransfers();
        int running = 0;
        curl_multi_perform(mpMulti, &running);
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(mpMulti, &queued)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            Request* r = nullptr;
            curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &r);
            if (r == nullptr)
                continue;
            long redirects = 0;
            curl_easy_getinfo(msg->easy_handle, CURLINFO_REDIRECT_COUNT, &redirects);
            CURLcode code = msg->data.result;
            std::lock_guard<std::mutex> lock(r->mMutex);
            if (r->mEasyGeneration != r->mGeneration)
                continue;
            r->mFinished = true;
            r->mFinishError = MapCurlError(code, r->mHeadTooLong, redirects > 0, r->mHeadComplete);
            r->mWriteDone.notify_all();
        }
        // Callbacks may close handles, which changes the list.
        std::vector<std::shared_ptr<Request>> active = mActive;
        for (const auto& r : active)
            Deliver(r);
        curl_multi_poll(mpMulti, nullptr, 0, 1000, nullptr);
    }
    for (const auto& r : mActive)
        RemoveTransfer(*r);
    mActive.clear();
    std::vector<Command> late;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mExited = true;
        late.swap(mCommands);
    }
    for (const Command& cmd : late)
        Execute(cmd);
    gLiveSessions.fetch_sub(1);
}

void Session::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStop = true;
    }
    Wake();
    if (!mThread.joinable())
        return;
    if (OnWorker())
        mThread.detach(); // closed from its own callback: it ends after the callback returns
    else
        mThread.join();
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
    std::string host = conn->mHost;
    bool ipv6 = host.find(':') != std::string::npos && host.front() != '[';
    r->mUrlBase = "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(conn->mPort);
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
