// The WinINet layer on libcurl against a scripted loopback server: pending
// calls and their notices, heads and bodies as devices send them, credentials
// on the wire, bounded buffering for slow readers, and handles closed while
// their transfers run.
#include "os/inet/WinInet.h"

#include "net/InetTestServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

using namespace inettest;
using namespace std::chrono_literals;

namespace {

struct Notice {
    HINTERNET handle;
    DWORD status;
    DWORD_PTR result;
    DWORD error;
    std::thread::id thread;
};

// Collects the status notices; its address is the context of every handle.
class NoticeLog {
public:
    static void Callback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) {
        auto* log = reinterpret_cast<NoticeLog*>(context);
        Notice n{handle, status, 0, 0, std::this_thread::get_id()};
        if ((status == INTERNET_STATUS_REQUEST_COMPLETE || status == INTERNET_STATUS_INTERMEDIATE_RESPONSE) &&
            infoLength == sizeof(INTERNET_ASYNC_RESULT)) {
            auto* r = static_cast<INTERNET_ASYNC_RESULT*>(info);
            n.result = r->dwResult;
            n.error = r->dwError;
        }
        {
            std::lock_guard<std::mutex> lock(log->mMutex);
            log->mNotices.push_back(n);
        }
        log->mCv.notify_all();
    }
    DWORD_PTR Context() { return reinterpret_cast<DWORD_PTR>(this); }

    std::vector<Notice> For(HINTERNET handle) {
        std::lock_guard<std::mutex> lock(mMutex);
        std::vector<Notice> out;
        for (const Notice& n : mNotices)
            if (n.handle == handle)
                out.push_back(n);
        return out;
    }
    size_t Count(HINTERNET handle, DWORD status) {
        size_t c = 0;
        for (const Notice& n : For(handle))
            c += n.status == status;
        return c;
    }
    bool WaitCount(HINTERNET handle, DWORD status, size_t count, std::chrono::milliseconds deadline = 10s) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mCv.wait_for(lock, deadline, [&] {
            size_t c = 0;
            for (const Notice& n : mNotices)
                c += n.handle == handle && n.status == status;
            return c >= count;
        });
    }
    // The index-th notice of that status on that handle.
    Notice Nth(HINTERNET handle, DWORD status, size_t index) {
        for (const Notice& n : For(handle))
            if (n.status == status && index-- == 0)
                return n;
        return {};
    }

private:
    std::mutex mMutex;
    std::condition_variable mCv;
    std::vector<Notice> mNotices;
};

struct Outcome {
    bool ok;
    bool pended;
    DWORD error;
};

class WinInetTest : public ::testing::Test {
protected:
    void Open(uint16_t port) {
        mRoot =
            InternetOpenA("inet-test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
        ASSERT_NE(mRoot, nullptr);
        InternetSetStatusCallback(mRoot, &NoticeLog::Callback);
        mConnect = InternetConnectA(mRoot, "127.0.0.1", port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0,
                                    mLog.Context());
        ASSERT_NE(mConnect, nullptr);
    }
    void TearDown() override {
        if (mRoot != nullptr) {
            EXPECT_TRUE(InternetCloseHandle(mRoot));
        }
    }
    HINTERNET OpenRequest(const char* verb, const char* path, DWORD flags = 0) {
        return HttpOpenRequestA(mConnect, verb, path, nullptr, nullptr, nullptr, flags, mLog.Context());
    }

    // Runs a call that may pend and waits for its completion notice.
    Outcome Await(HINTERNET request, const std::function<BOOL()>& call) {
        size_t before = mLog.Count(request, INTERNET_STATUS_REQUEST_COMPLETE);
        if (call())
            return {true, false, 0};
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
            return {false, false, error};
        if (!mLog.WaitCount(request, INTERNET_STATUS_REQUEST_COMPLETE, before + 1)) {
            ADD_FAILURE() << "no completion notice";
            return {false, true, 0};
        }
        Notice n = mLog.Nth(request, INTERNET_STATUS_REQUEST_COMPLETE, before);
        return {n.result != FALSE, true, n.error};
    }
    Outcome Send(HINTERNET request) {
        return Await(request, [&] {
            return HttpSendRequestExA(request, nullptr, nullptr, HSR_ASYNC | HSR_INITIATE, mLog.Context());
        });
    }
    Outcome End(HINTERNET request) {
        return Await(request, [&] { return HttpEndRequestA(request, nullptr, HSR_ASYNC, mLog.Context()); });
    }
    // Sends and waits for the head; true when both steps succeeded.
    bool Exchange(HINTERNET request) {
        Outcome s = Send(request);
        if (!s.ok)
            return false;
        return End(request).ok;
    }
    // Reads the whole body in pieces of at most `piece` bytes.
    bool ReadBody(HINTERNET request, std::string* body, DWORD piece = 8192) {
        std::vector<char> buffer(piece);
        for (;;) {
            DWORD available = 0;
            Outcome q = Await(
                request, [&] { return InternetQueryDataAvailable(request, &available, 0, mLog.Context()); });
            if (!q.ok)
                return false;
            if (available == 0)
                return true;
            INTERNET_BUFFERSA b{};
            b.dwStructSize = sizeof(b);
            b.lpvBuffer = buffer.data();
            b.dwBufferLength = std::min(available, piece);
            Outcome r =
                Await(request, [&] { return InternetReadFileExA(request, &b, IRF_ASYNC, mLog.Context()); });
            if (!r.ok)
                return false;
            body->append(buffer.data(), b.dwBufferLength);
        }
    }
    DWORD Status(HINTERNET request) {
        DWORD status = 0;
        DWORD length = sizeof(status);
        if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                            nullptr))
            return 0;
        return status;
    }
    std::string RawHeaders(HINTERNET request) {
        char buffer[8192] = {};
        DWORD length = sizeof(buffer);
        if (!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer, &length, nullptr))
            return "";
        return std::string(buffer, length);
    }

    NoticeLog mLog;
    HINTERNET mRoot = nullptr;
    HINTERNET mConnect = nullptr;
};

// Connected, sent, head, body, end of body, closed: the notices a client
// waits for arrive in that order, from the worker thread, with the context.
TEST_F(WinInetTest, GetPendsAndNotifiesInOrder) {
    InetTestServer server(
        [](const HttpRequest&, Conn& c) { c.Send(Response(200, "OK", "hello", "X-Test: 1\r\n")); });
    Open(server.Port());
    HINTERNET req = OpenRequest("GET", "/index.html");
    ASSERT_NE(req, nullptr);

    EXPECT_FALSE(HttpSendRequestExA(req, nullptr, nullptr, HSR_ASYNC | HSR_INITIATE, mLog.Context()));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(mLog.WaitCount(req, INTERNET_STATUS_REQUEST_COMPLETE, 1));
    Outcome end = End(req);
    EXPECT_TRUE(end.ok);
    EXPECT_TRUE(end.pended);
    EXPECT_EQ(Status(req), 200u);
    std::string raw = RawHeaders(req);
    EXPECT_EQ(raw.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << raw;
    EXPECT_NE(raw.find("\r\nX-Test: 1\r\n"), std::string::npos) << raw;
    EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n");
    std::string body;
    ASSERT_TRUE(ReadBody(req, &body));
    EXPECT_EQ(body, "hello");

    ASSERT_TRUE(InternetCloseHandle(req));
    std::vector<Notice> notices = mLog.For(req);
    std::vector<DWORD> statuses;
    for (const Notice& n : notices) {
        statuses.push_back(n.status);
        EXPECT_NE(n.thread, std::this_thread::get_id());
    }
    ASSERT_GE(statuses.size(), 4u);
    EXPECT_EQ(statuses.front(), INTERNET_STATUS_CONNECTED_TO_SERVER);
    EXPECT_EQ(statuses[1], INTERNET_STATUS_REQUEST_COMPLETE);
    EXPECT_EQ(statuses.back(), INTERNET_STATUS_HANDLE_CLOSING);
    EXPECT_EQ(server.Requests().at(0).target, "/index.html");
    EXPECT_EQ(server.Requests().at(0).headers["user-agent"], "inet-test");
}

// What the device answers decides status, head and which path was served.
TEST_F(WinInetTest, StatusAndRedirects) {
    InetTestServer server([](const HttpRequest& r, Conn& c) {
        if (r.target == "/ok")
            c.Send(Response(200, "OK", "fine"));
        else if (r.target == "/missing")
            c.Send(Response(404, "Not Found", "none"));
        else if (r.target == "/auth")
            c.Send(Response(401, "Unauthorized", "", "WWW-Authenticate: Basic realm=\"cam\"\r\n"));
        else if (r.target == "/hop")
            c.Send(Response(302, "Found", "moved", "Location: /hop2\r\n"));
        else if (r.target == "/hop2")
            c.Send(Response(302, "Found", "", "Location: /ok\r\n"));
        else if (r.target == "/loop")
            c.Send(Response(302, "Found", "", "Location: /loop\r\n"));
        else
            c.Send(Response(500, "Oops", ""));
    });
    Open(server.Port());
    struct Case {
        const char* path;
        DWORD flags;
        bool ok;
        DWORD status;
        const char* body;
        DWORD error;
    } cases[] = {
        {"/ok", 0, true, 200, "fine", 0},
        {"/missing", 0, true, 404, "none", 0},
        {"/auth", 0, true, 401, "", 0},
        {"/hop", 0, true, 200, "fine", 0},
        {"/hop", INTERNET_FLAG_NO_AUTO_REDIRECT, true, 302, "moved", 0},
        {"/loop", 0, false, 0, "", ERROR_HTTP_REDIRECT_FAILED},
        {"/other", 0, true, 500, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        HINTERNET req = OpenRequest("GET", c.path, c.flags);
        ASSERT_TRUE(Send(req).ok);
        Outcome end = End(req);
        EXPECT_EQ(end.ok, c.ok);
        if (!c.ok) {
            EXPECT_EQ(end.error, c.error);
            InternetCloseHandle(req);
            continue;
        }
        EXPECT_EQ(Status(req), c.status);
        std::string body;
        EXPECT_TRUE(ReadBody(req, &body));
        EXPECT_EQ(body, c.body);
        InternetCloseHandle(req);
    }
    // The redirect loop stops at the cap: the first request and kMaxRedirects more.
    size_t loops = 0;
    for (const HttpRequest& r : server.Requests())
        loops += r.target == "/loop";
    EXPECT_EQ(loops, static_cast<size_t>(os::inet::kMaxRedirects) + 1);
}

// Bodies arrive whole however the device cuts them.
TEST_F(WinInetTest, BodyFramings) {
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    InetTestServer server([&](const HttpRequest& r, Conn& c) {
        if (r.target == "/chunked") {
            // Chunk sizes in both cases, an extension, each piece a separate write.
            const char* pieces[] = {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                                    "3\r\nabc\r\n",
                                    "A",
                                    ";ext=1\r\n0123456789\r\n",
                                    "a\r\n",
                                    "ABCDEFGHIJ\r\n0\r\n\r\n"};
            for (const char* p : pieces)
                c.Send(p);
        } else if (r.target == "/close-delimited") {
            c.Send("HTTP/1.0 200 OK\r\n\r\n" + big);
            c.CloseAfter();
        } else if (r.target == "/split-head") {
            std::string answer = Response(200, "OK", "xyz", "X-A: 1\r\n");
            for (char ch : answer)
                c.Send(&ch, 1);
        } else if (r.target == "/bare-lf") {
            c.Send("HTTP/1.1 200 OK\nContent-Length: 2\nX-B: 2\n\nhi");
        } else {
            c.Send(Response(200, "OK", ""));
        }
    });
    Open(server.Port());
    struct Case {
        const char* path;
        std::string body;
        const char* header;
    } cases[] = {
        {"/chunked", "abc0123456789ABCDEFGHIJ", "Transfer-Encoding: chunked\r\n"},
        {"/close-delimited", big, "HTTP/1.0 200 OK\r\n"},
        {"/split-head", "xyz", "X-A: 1\r\n"},
        {"/bare-lf", "hi", "X-B: 2\r\n"},
        {"/empty", "", "Content-Length: 0\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        HINTERNET req = OpenRequest("GET", c.path);
        ASSERT_TRUE(Exchange(req));
        EXPECT_NE(RawHeaders(req).find(c.header), std::string::npos) << RawHeaders(req);
        std::string body;
        EXPECT_TRUE(ReadBody(req, &body, 1000));
        EXPECT_EQ(body, c.body);
        InternetCloseHandle(req);
    }
}

// Credentials reach the device as exactly one Basic line, whichever way they
// were given.
TEST_F(WinInetTest, CredentialsOnTheWire) {
    InetTestServer server([](const HttpRequest&, Conn& c) { c.Send(Response(200, "OK", "")); });
    enum class How { None, RequestOptions, ConnectArguments, HeaderTwice };
    struct Case {
        How how;
        const char* expected; // Authorization value, null = none
    } cases[] = {
        {How::None, nullptr},
        {How::RequestOptions, "Basic dXNlcjpwYXNz"}, // user:pass
        {How::ConnectArguments, "Basic YWRtaW46"},   // admin: (empty password)
        {How::HeaderTwice, "Basic c2Vjb25kOnRva2Vu"},
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        HINTERNET root = InternetOpenA("t", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_ASYNC);
        InternetSetStatusCallback(root, &NoticeLog::Callback);
        const char* user = c.how == How::ConnectArguments ? "admin" : nullptr;
        HINTERNET conn = InternetConnectA(root, "127.0.0.1", server.Port(), user, "", INTERNET_SERVICE_HTTP,
                                          0, mLog.Context());
        mConnect = conn;
        HINTERNET req = OpenRequest("GET", "/");
        if (c.how == How::RequestOptions) {
            char u[] = "user", p[] = "pass";
            ASSERT_TRUE(InternetSetOptionA(req, INTERNET_OPTION_USERNAME, u, 4));
            ASSERT_TRUE(InternetSetOptionA(req, INTERNET_OPTION_PASSWORD, p, 4));
        }
        if (c.how == How::HeaderTwice) {
            ASSERT_TRUE(HttpAddRequestHeadersA(
                req, "Authorization: Basic Zmlyc3Q6dG9rZW4=", static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD));
            ASSERT_TRUE(HttpAddRequestHeadersA(req, "Authorization: Basic c2Vjb25kOnRva2Vu",
                                               static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD));
        }
        ASSERT_TRUE(Exchange(req));
        ASSERT_TRUE(server.WaitForRequests(++seen));
        HttpRequest got = server.Requests().back();
        if (c.expected == nullptr) {
            EXPECT_EQ(got.headerCount("authorization"), 0);
        } else {
            EXPECT_EQ(got.headerCount("authorization"), 1) << got.head;
            EXPECT_EQ(got.headers["authorization"], c.expected);
        }
        EXPECT_TRUE(InternetCloseHandle(root));
    }
    mConnect = nullptr;
}

// A reader that takes 100 bytes at a time never makes the layer hold more
// than its bound: the transfer pauses and resumes, and every byte arrives once.
TEST_F(WinInetTest, SlowReaderPausesTransferWithBoundedBuffer) {
    const size_t kSize = 4 * 1024 * 1024;
    auto pattern = [](size_t i) { return static_cast<char>((i * 7 + i / 251) & 0xFF); };
    InetTestServer server([&](const HttpRequest&, Conn& c) {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kSize) + "\r\n\r\n";
        c.Send(head);
        std::string block(64 * 1024, '\0');
        for (size_t sent = 0; sent < kSize; sent += block.size()) {
            for (size_t i = 0; i < block.size(); ++i)
                block[i] = pattern(sent + i);
            if (!c.Send(block))
                return;
        }
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("GET", "/big");
    ASSERT_TRUE(Exchange(req));
    std::string body;
    ASSERT_TRUE(ReadBody(req, &body, 100));
    ASSERT_EQ(body.size(), kSize);
    for (size_t i = 0; i < kSize; ++i)
        ASSERT_EQ(body[i], pattern(i)) << "at " << i;
    DWORD peak = 0, pauses = 0;
    ASSERT_TRUE(os::inet::GetBodyBufferStatsForTest(req, &peak, &pauses));
    EXPECT_LE(peak, os::inet::kMaxBufferedBodyBytes);
    EXPECT_GT(pauses, 0u);
    InternetCloseHandle(req);
}

// Closing a request while its read waits for bytes: the closing notice comes
// before the close returns, nothing after it, and the read's output is never
// written. The session goes on serving other requests.
TEST_F(WinInetTest, CloseWhileReadPendingIsFinal) {
    Gate release;
    InetTestServer server([&](const HttpRequest& r, Conn& c) {
        if (r.target == "/stall") {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst");
            release.Wait();
            std::string more(50000, 'x');
            c.Send(more);
            return;
        }
        c.Send(Response(200, "OK", "after"));
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("GET", "/stall");
    ASSERT_TRUE(Exchange(req));
    std::string first;
    {
        DWORD available = 0;
        ASSERT_TRUE(
            Await(req, [&] { return InternetQueryDataAvailable(req, &available, 0, mLog.Context()); }).ok);
        char buf[16];
        INTERNET_BUFFERSA b{};
        b.dwStructSize = sizeof(b);
        b.lpvBuffer = buf;
        b.dwBufferLength = available;
        ASSERT_TRUE(Await(req, [&] { return InternetReadFileExA(req, &b, IRF_ASYNC, mLog.Context()); }).ok);
        first.assign(buf, b.dwBufferLength);
    }
    EXPECT_EQ(first, "first");
    DWORD sentinel = 0xDEADBEEF;
    ASSERT_FALSE(InternetQueryDataAvailable(req, &sentinel, 0, mLog.Context()));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(InternetCloseHandle(req));
    size_t noticesAtClose = mLog.For(req).size();
    EXPECT_EQ(mLog.Count(req, INTERNET_STATUS_HANDLE_CLOSING), 1u);
    release.Open();

    // More traffic through the same worker; the closed request stays silent.
    HINTERNET next = OpenRequest("GET", "/next");
    ASSERT_TRUE(Exchange(next));
    std::string body;
    ASSERT_TRUE(ReadBody(next, &body));
    EXPECT_EQ(body, "after");
    EXPECT_EQ(mLog.For(req).size(), noticesAtClose);
    EXPECT_EQ(sentinel, 0xDEADBEEFu);
    DWORD available = 0;
    EXPECT_FALSE(InternetQueryDataAvailable(req, &available, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    InternetCloseHandle(next);
}

// Requests closed at every stage of an endless transfer, over and over: no
// use after free, no notice after the close (checked by the sanitizer builds
// and by the notice count).
TEST_F(WinInetTest, CloseAtAnyStageOfEndlessTransfer) {
    InetTestServer server([](const HttpRequest&, Conn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace\r\n\r\n");
        std::string part(4096, 'p');
        while (c.Send(part)) {
        }
        c.CloseAfter();
    });
    Open(server.Port());
    for (int stage = 0; stage < 4; ++stage) {
        for (int round = 0; round < 5; ++round) {
            HINTERNET req = OpenRequest("GET", "/stream");
            ASSERT_NE(req, nullptr);
            if (stage >= 1) {
                ASSERT_TRUE(Send(req).ok);
            }
            if (stage >= 2) {
                ASSERT_TRUE(End(req).ok);
            }
            DWORD available = 0;
            if (stage >= 3) {
                InternetQueryDataAvailable(req, &available, 0, mLog.Context());
            } else if (stage == 0) {
                // Closed while the send is still pending.
                HttpSendRequestExA(req, nullptr, nullptr, HSR_ASYNC | HSR_INITIATE, mLog.Context());
            }
            ASSERT_TRUE(InternetCloseHandle(req));
            std::vector<Notice> notices = mLog.For(req);
            ASSERT_FALSE(notices.empty());
            EXPECT_EQ(notices.back().status, INTERNET_STATUS_HANDLE_CLOSING);
        }
    }
}

// A callback that closes its own request when the connection is reported:
// the send's completion, collected at the same moment, is not delivered.
std::atomic<HINTERNET> gCloseOnConnect{nullptr};
void CloseOnConnectCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    NoticeLog::Callback(handle, context, status, info, length);
    if (status == INTERNET_STATUS_CONNECTED_TO_SERVER && handle == gCloseOnConnect.load()) {
        EXPECT_TRUE(InternetCloseHandle(handle));
    }
}

TEST_F(WinInetTest, CloseFromOwnCallbackIsFinal) {
    InetTestServer server([](const HttpRequest&, Conn& c) { c.Send(Response(200, "OK", "x")); });
    Open(server.Port());
    InternetSetStatusCallback(mConnect, &CloseOnConnectCallback);
    HINTERNET req = OpenRequest("GET", "/");
    gCloseOnConnect = req;
    EXPECT_FALSE(HttpSendRequestExA(req, nullptr, nullptr, HSR_ASYNC | HSR_INITIATE, mLog.Context()));
    ASSERT_TRUE(mLog.WaitCount(req, INTERNET_STATUS_HANDLE_CLOSING, 1));
    // Another exchange through the same worker, so anything still queued
    // for the closed request would have come out by now.
    gCloseOnConnect = nullptr;
    HINTERNET next = OpenRequest("GET", "/");
    ASSERT_TRUE(Exchange(next));
    std::vector<Notice> notices = mLog.For(req);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].status, INTERNET_STATUS_CONNECTED_TO_SERVER);
    EXPECT_EQ(notices[1].status, INTERNET_STATUS_HANDLE_CLOSING);
    InternetCloseHandle(next);
}

// Closing the root closes what hangs below it and ends its worker thread.
TEST_F(WinInetTest, ClosingRootClosesChildrenAndEndsWorker) {
    Gate release;
    InetTestServer server([&](const HttpRequest&, Conn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n12");
        release.Wait();
    });
    int before = os::inet::GetLiveSessionCountForTest();
    Open(server.Port());
    EXPECT_EQ(os::inet::GetLiveSessionCountForTest(), before + 1);
    HINTERNET req = OpenRequest("GET", "/");
    ASSERT_TRUE(Exchange(req));
    ASSERT_TRUE(InternetCloseHandle(mRoot));
    mRoot = nullptr;
    release.Open();
    EXPECT_EQ(os::inet::GetLiveSessionCountForTest(), before);
    EXPECT_EQ(mLog.Count(req, INTERNET_STATUS_HANDLE_CLOSING), 1u);
    EXPECT_EQ(mLog.Count(mConnect, INTERNET_STATUS_HANDLE_CLOSING), 1u);
    DWORD status = 0, length = sizeof(status);
    EXPECT_FALSE(
        HttpQueryInfoA(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// Devices that answer badly or not at all give the documented errors.
TEST_F(WinInetTest, BrokenAnswersFail) {
    InetTestServer server([](const HttpRequest& r, Conn& c) {
        if (r.target == "/garbage") {
            c.Send("this is not http\r\n\r\n");
        } else if (r.target == "/close-mid-head") {
            c.Send("HTTP/1.1 200 OK\r\nContent-Le");
        } else if (r.target == "/endless-head") {
            c.Send("HTTP/1.1 200 OK\r\n");
            std::string line = "X-Pad: " + std::string(1000, 'h') + "\r\n";
            for (int i = 0; i < 200 && c.Send(line); ++i) {
            }
        } else if (r.target == "/nothing") {
        }
        c.CloseAfter();
    });
    Open(server.Port());
    struct Case {
        const char* path;
        DWORD error;
    } cases[] = {
        {"/garbage", ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/close-mid-head", ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/endless-head", ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/nothing", ERROR_HTTP_INVALID_SERVER_RESPONSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        HINTERNET req = OpenRequest("GET", c.path);
        Outcome s = Send(req);
        Outcome e = s.ok ? End(req) : s;
        EXPECT_FALSE(e.ok);
        EXPECT_EQ(e.error, c.error);
        DWORD status = 0, length = sizeof(status);
        EXPECT_FALSE(
            HttpQueryInfoA(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
        InternetCloseHandle(req);
    }
}

// Mangled answers, cut at random points and sent in random pieces, always
// end: the head step completes or fails with a WinINet code, and a body read
// reaches its end or fails. Never a hang, whatever the bytes.
TEST_F(WinInetTest, MangledAnswersAlwaysEnd) {
    const uint32_t kFirstSeed = static_cast<uint32_t>(std::random_device{}());
    std::mutex scriptLock;
    std::string script; // the answer of the current round
    uint32_t pieceSeed = 0;
    InetTestServer server([&](const HttpRequest&, Conn& c) {
        std::string answer;
        uint32_t seed;
        {
            std::lock_guard<std::mutex> lock(scriptLock);
            answer = script;
            seed = pieceSeed;
        }
        std::mt19937 pieces(seed);
        for (size_t at = 0; at < answer.size();) {
            size_t n = std::min<size_t>(answer.size() - at, 1 + pieces() % 300);
            if (!c.Send(answer.data() + at, n))
                break;
            at += n;
        }
        c.CloseAfter();
    });
    Open(server.Port());
    const std::string heads[] = {
        "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nffffffffffffffffff\r\nx",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
        "HTTP/1.1 302 Found\r\nLocation: \r\n\r\n",
        "HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1/x\r\n\r\n",
        "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\nContent-Length: -5\r\n\r\n",
        "HTTP/1.0 999 Whatever\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Length: 20\r\n\r\n",
        "\r\n\r\n",
        "",
    };
    for (uint32_t round = 0; round < 60; ++round) {
        uint32_t seed = kFirstSeed + round;
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        std::string answer = heads[rng() % (sizeof(heads) / sizeof(heads[0]))];
        size_t tail = rng() % 200;
        for (size_t i = 0; i < tail; ++i)
            answer.push_back(static_cast<char>(rng() % 4 == 0 ? "\r\n:0"[rng() % 4] : rng() & 0xFF));
        // Flip a few bytes anywhere, then cut the answer short.
        for (int flips = rng() % 4; flips > 0 && !answer.empty(); --flips)
            answer[rng() % answer.size()] = static_cast<char>(rng() & 0xFF);
        answer.resize(answer.size() - (answer.empty() ? 0 : rng() % (answer.size() + 1) / 2));
        {
            std::lock_guard<std::mutex> lock(scriptLock);
            script = answer;
            pieceSeed = seed;
        }
        HINTERNET req = OpenRequest("GET", "/mangled");
        ASSERT_NE(req, nullptr);
        Outcome send = Send(req);
        Outcome end = send.ok ? End(req) : send;
        if (!end.ok) {
            EXPECT_GE(end.error, 12000u) << end.error;
        } else {
            std::string body;
            ReadBody(req, &body, 1 + rng() % 64);
        }
        EXPECT_TRUE(InternetCloseHandle(req));
    }
}

// A body cut short: the bytes that came are delivered, then the read fails.
TEST_F(WinInetTest, TruncatedBodyDeliversThenFails) {
    InetTestServer server([](const HttpRequest&, Conn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial");
        c.CloseAfter();
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("GET", "/");
    ASSERT_TRUE(Exchange(req));
    std::string body;
    EXPECT_FALSE(ReadBody(req, &body));
    EXPECT_EQ(body, "partial");
    InternetCloseHandle(req);
}

TEST_F(WinInetTest, ConnectionRefusedFailsTheSend) {
    uint16_t port;
    {
        InetTestServer closed([](const HttpRequest&, Conn&) {});
        port = closed.Port();
    }
    Open(port);
    HINTERNET req = OpenRequest("GET", "/");
    Outcome s = Send(req);
    EXPECT_TRUE(s.pended);
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.error, ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_EQ(mLog.Count(req, INTERNET_STATUS_CONNECTED_TO_SERVER), 0u);
    InternetCloseHandle(req);
}

// Calls made wrongly fail at once with WinINet's codes, never pend.
TEST_F(WinInetTest, MisuseFailsAtOnce) {
    Gate hold;
    InetTestServer server([&](const HttpRequest& r, Conn& c) {
        if (r.target == "/hold")
            hold.Wait();
        c.Send(Response(200, "OK", "0123456789"));
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("GET", "/");
    DWORD n = 0;
    char small[4];
    DWORD smallLength = sizeof(small);
    struct Case {
        const char* what;
        std::function<BOOL()> call;
        DWORD error;
    } cases[] = {
        {"end before send", [&] { return HttpEndRequestA(req, nullptr, 0, 0); },
         ERROR_INTERNET_INCORRECT_HANDLE_STATE},
        {"query before send", [&] { return InternetQueryDataAvailable(req, &n, 0, 0); },
         ERROR_INTERNET_INCORRECT_HANDLE_STATE},
        {"head before send",
         [&] { return HttpQueryInfoA(req, HTTP_QUERY_RAW_HEADERS_CRLF, small, &smallLength, nullptr); },
         ERROR_HTTP_HEADER_NOT_FOUND},
        {"request call on connection", [&] { return InternetQueryDataAvailable(mConnect, &n, 0, 0); },
         ERROR_INTERNET_INCORRECT_HANDLE_TYPE},
        {"invented handle", [&] { return InternetCloseHandle(reinterpret_cast<HINTERNET>(0x7)); },
         ERROR_INVALID_HANDLE},
        {"null handle", [&] { return HttpSendRequestA(nullptr, nullptr, 0, nullptr, 0); },
         ERROR_INVALID_HANDLE},
        {"unknown option", [&] { return InternetSetOptionA(req, 9999, small, 4); },
         ERROR_INTERNET_INVALID_OPTION},
        {"header without name", [&] { return HttpAddRequestHeadersA(req, ": x", static_cast<DWORD>(-1), 0); },
         ERROR_INVALID_PARAMETER},
        {"query without output", [&] { return InternetQueryDataAvailable(req, nullptr, 0, 0); },
         ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_FALSE(c.call());
        EXPECT_EQ(GetLastError(), c.error);
    }
    // A head that does not fit says how much room it needs.
    ASSERT_TRUE(Exchange(req));
    smallLength = sizeof(small);
    EXPECT_FALSE(HttpQueryInfoA(req, HTTP_QUERY_RAW_HEADERS_CRLF, small, &smallLength, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(smallLength, RawHeaders(req).size() + 1);
    InternetCloseHandle(req);

    // A second send while the head is awaited is refused.
    HINTERNET held = OpenRequest("GET", "/hold");
    ASSERT_TRUE(Send(held).ok);
    ASSERT_FALSE(HttpEndRequestA(held, nullptr, 0, mLog.Context()));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_FALSE(HttpSendRequestExA(held, nullptr, nullptr, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    hold.Open();
    InternetCloseHandle(held);
}

TEST(WinInetOpenTest, RefusesWhatItCannotServe) {
    EXPECT_EQ(InternetOpenA("t", 0, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    HINTERNET root = InternetOpenA("t", 0, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    ASSERT_NE(root, nullptr);
    // Host texts that would turn into another URL.
    for (const char* host : {"10.0.0.5/evil", "user@10.0.0.5", "a b", "h?x", "h#x", ""}) {
        SCOPED_TRACE(host);
        EXPECT_EQ(InternetConnectA(root, host, 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0), nullptr);
    }
    EXPECT_TRUE(InternetCloseHandle(root));
    EXPECT_FALSE(InternetCloseHandle(root));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// Two requests one after the other share one kept-alive connection; a 401
// answered on the same request handle with credentials is a new exchange.
TEST_F(WinInetTest, KeepAliveAndResendOnSameHandle) {
    InetTestServer server([](const HttpRequest& r, Conn& c) {
        if (r.headers.count("authorization") == 0)
            c.Send(Response(401, "Unauthorized", "denied", "WWW-Authenticate: Basic realm=\"x\"\r\n"));
        else
            c.Send(Response(200, "OK", "welcome"));
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("GET", "/private");
    ASSERT_TRUE(Exchange(req));
    EXPECT_EQ(Status(req), 401u);
    std::string body;
    ASSERT_TRUE(ReadBody(req, &body));
    EXPECT_EQ(body, "denied");
    ASSERT_TRUE(HttpAddRequestHeadersA(req, "Authorization: Basic YTpi", static_cast<DWORD>(-1),
                                       HTTP_ADDREQ_FLAG_ADD));
    ASSERT_TRUE(Exchange(req));
    EXPECT_EQ(Status(req), 200u);
    body.clear();
    ASSERT_TRUE(ReadBody(req, &body));
    EXPECT_EQ(body, "welcome");
    InternetCloseHandle(req);

    HINTERNET again = OpenRequest("GET", "/private");
    ASSERT_TRUE(HttpAddRequestHeadersA(again, "Authorization: Basic YTpi", static_cast<DWORD>(-1), 0));
    ASSERT_TRUE(Exchange(again));
    EXPECT_EQ(Status(again), 200u);
    InternetCloseHandle(again);
    EXPECT_EQ(server.ConnectionCount(), 1);
    EXPECT_EQ(server.Requests().size(), 3u);
}

// POST with a body, and a streamed POST whose body follows with
// InternetWriteFile (chunked, as its length is not known).
TEST_F(WinInetTest, PostBodies) {
    Gate gotChunk;
    std::string streamed; // written by the handler before gotChunk opens
    InetTestServer server([&](const HttpRequest& r, Conn& c) {
        if (r.Header("transfer-encoding") == "chunked") {
            char buf[256];
            while (streamed.find("audio\r\n") == std::string::npos) {
                size_t n = c.Recv(buf, sizeof(buf));
                if (n == 0)
                    break;
                streamed.append(buf, n);
            }
            gotChunk.Open();
            c.CloseAfter();
            return;
        }
        c.Send(Response(200, "OK", r.Header("content-type") + "|" + r.body));
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("POST", "/cgi", INTERNET_FLAG_FORMS_SUBMIT);
    std::string form = "a=1&b=two";
    const char* header = "Content-Type: application/x-www-form-urlencoded";
    Outcome s = Await(req, [&] {
        return HttpSendRequestA(req, header, static_cast<DWORD>(-1), form.data(),
                                static_cast<DWORD>(form.size()));
    });
    ASSERT_TRUE(s.ok);
    ASSERT_TRUE(End(req).ok);
    std::string body;
    ASSERT_TRUE(ReadBody(req, &body));
    EXPECT_EQ(body, "application/x-www-form-urlencoded|a=1&b=two");
    InternetCloseHandle(req);

    HINTERNET stream = OpenRequest("POST", "/upload");
    INTERNET_BUFFERSA in{};
    in.dwStructSize = sizeof(in);
    ASSERT_TRUE(Await(stream, [&] {
                    return HttpSendRequestExA(stream, &in, nullptr, HSR_INITIATE, mLog.Context());
                }).ok);
    DWORD written = 0;
    ASSERT_TRUE(InternetWriteFile(stream, "audio", 5, &written));
    EXPECT_EQ(written, 5u);
    ASSERT_TRUE(gotChunk.Wait());
    EXPECT_EQ(streamed, "5\r\naudio\r\n");
    // The streamed body never ends; closing the request mid-upload is safe.
    EXPECT_TRUE(InternetCloseHandle(stream));
}

// An answer that arrives with the request is not shown before the end of the
// request completed: a caller judging the send's completion by the status
// must not see a 401 there.
TEST_F(WinInetTest, HeadIsHiddenUntilEndCompletes) {
    Gate answered;
    InetTestServer server([&](const HttpRequest&, Conn& c) {
        c.Send(Response(401, "Unauthorized", "", "WWW-Authenticate: Basic realm=\"x\"\r\n"));
        answered.Open();
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("GET", "/");
    ASSERT_TRUE(Send(req).ok);
    ASSERT_TRUE(answered.Wait());
    DWORD status = 0, length = sizeof(status);
    EXPECT_FALSE(
        HttpQueryInfoA(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    ASSERT_TRUE(End(req).ok);
    EXPECT_EQ(Status(req), 401u);
    InternetCloseHandle(req);
}

// A 1xx head before the answer is announced as an intermediate response.
TEST_F(WinInetTest, IntermediateResponseIsAnnounced) {
    InetTestServer server([](const HttpRequest&, Conn& c) {
        c.Send("HTTP/1.1 100 Continue\r\n\r\n");
        c.Send(Response(200, "OK", "done"));
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("GET", "/");
    ASSERT_TRUE(Exchange(req));
    std::string body;
    ASSERT_TRUE(ReadBody(req, &body));
    EXPECT_EQ(body, "done");
    EXPECT_EQ(Status(req), 200u);
    EXPECT_EQ(mLog.Count(req, INTERNET_STATUS_INTERMEDIATE_RESPONSE), 1u);
    InternetCloseHandle(req);
}

// Paths go out as written, with only what cannot stand on a request line
// escaped.
TEST_F(WinInetTest, PathsGoOutAsWritten) {
    InetTestServer server([](const HttpRequest&, Conn& c) { c.Send(Response(200, "OK", "")); });
    Open(server.Port());
    struct Case {
        const char* path;
        const char* target;
    } cases[] = {
        {"/vb.htm?getmachinecode", "/vb.htm?getmachinecode"},
        {"/a/../b/./c", "/a/../b/./c"},
        {"/x y", "/x%20y"},
        {"/q?a=%41&b=c", "/q?a=%41&b=c"},
        {"noslash", "/noslash"},
    };
    size_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        HINTERNET req = OpenRequest("GET", c.path);
        ASSERT_TRUE(Exchange(req));
        ASSERT_TRUE(server.WaitForRequests(++n));
        EXPECT_EQ(server.Requests().back().target, c.target);
        InternetCloseHandle(req);
    }
}

} // namespace
