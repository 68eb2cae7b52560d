// Inside the WinINet layer: the handle objects and the worker that runs a
// root handle's transfers on libcurl. Only WinInet*.cpp include this.
//
// Locking: Request::mMutex guards a request's exchange state and is taken by
// the API functions (any thread) and by libcurl's callbacks (the worker);
// Session::mMutex guards the command queue. No lock is held while a status
// callback runs or while libcurl is entered from the worker, except inside
// libcurl's own callbacks, which take only their request's lock.
#pragma once

#include "os/inet/WinInet.h"

#include <curl/curl.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace os::inet::detail {

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

// Root handles whose worker runs (test hook).
extern std::atomic<int> gLiveSessions;

// Calls the handle's status callback, if any, with a completion notice.
void Fire(Handle& h, HINTERNET id, const Notice& n);
// Calls the handle's status callback, if any, with its closing notice.
void FireClosing(Handle& h);
// Whether `op` can finish now (r locked).
bool Ready(const Request& r, Op op);
// Finishes `op` with its outputs (r locked); the result for the notice.
INTERNET_ASYNC_RESULT Complete(Request& r, Op op, DWORD* available, INTERNET_BUFFERSA* buffers);

} // namespace os::inet::detail
