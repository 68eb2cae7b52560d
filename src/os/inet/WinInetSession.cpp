// The worker of a root handle: libcurl's callbacks, the command queue and
// the delivery of status notices.
#include "os/inet/WinInetSession.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace os::inet::detail {

std::atomic<int> gLiveSessions{0};

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
        url = r->mUrlBase + os::EscapeRequestTarget(r->mPath);
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
    // Devices get the path exactly as EscapeRequestTarget wrote it, the same
    // request line the socket client sends ("." and ".." are not resolved).
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

} // namespace os::inet::detail
