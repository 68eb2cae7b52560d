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
#include <string>
#include <vector>

using namespace inettest;

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
        if (status == INTERNET_STATUS_REQUEST_COMPLETE && infoLength == sizeof(INTERNET_ASYNC_RESULT)) {
            n.result = static_cast<INTERNET_ASYNC_RESULT*>(info)->dwResult;
            n.error = static_cast<INTERNET_ASYNC_RESULT*>(info)->dwError;
        }
        {
            std::lock_guard<std::mutex> lock(log->mMutex);
            log->mNotices.push_back(n);
        }
        log->mCv.notify_all();
    }
    DWORD_PTR Context() { return reinterpret_cast<DWORD_PTR>(this); }
    std::vector<Notice> For(HINTERNET handle, DWORD status = 0) {
        std::lock_guard<std::mutex> lock(mMutex);
        std::vector<Notice> out;
        for (const Notice& n : mNotices)
            if (n.handle == handle && (status == 0 || n.status == status))
                out.push_back(n);
        return out;
    }
    bool WaitCount(HINTERNET handle, DWORD status, size_t count) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mCv.wait_for(lock, std::chrono::seconds(30), [&] {
            size_t c = 0;
            for (const Notice& n : mNotices)
                c += n.handle == handle && n.status == status;
            return c >= count;
        });
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
    void Open(uint16_t port, const char* user = nullptr) {
        mRoot =
            InternetOpenA("inet-test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
        ASSERT_NE(mRoot, nullptr);
        InternetSetStatusCallback(mRoot, &NoticeLog::Callback);
        mConnect =
            InternetConnectA(mRoot, "127.0.0.1", port, user, "", INTERNET_SERVICE_HTTP, 0, mLog.Context());
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
        size_t before = mLog.For(request, INTERNET_STATUS_REQUEST_COMPLETE).size();
        if (call())
            return {true, false, 0};
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
            return {false, false, error};
        if (!mLog.WaitCount(request, INTERNET_STATUS_REQUEST_COMPLETE, before + 1)) {
            ADD_FAILURE() << "no completion notice";
            return {false, true, 0};
        }
        Notice n = mLog.For(request, INTERNET_STATUS_REQUEST_COMPLETE)[before];
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
    // Sends and waits for the head: the first failing step's outcome.
    Outcome Exchange(HINTERNET request) {
        Outcome s = Send(request);
        return s.ok ? End(request) : s;
    }
    // Reads the whole body in pieces of at most `piece` bytes.
    bool ReadBody(HINTERNET request, std::string* body, DWORD piece = 8192) {
        std::vector<char> buffer(piece);
        for (;;) {
            DWORD available = 0;
            if (!Await(request, [&] {
                     return InternetQueryDataAvailable(request, &available, 0, mLog.Context());
                 }).ok)
                return false;
            if (available == 0)
                return true;
            INTERNET_BUFFERSA b{};
            b.dwStructSize = sizeof(b);
            b.lpvBuffer = buffer.data();
            b.dwBufferLength = std::min(available, piece);
            if (!Await(request, [&] {
                     return InternetReadFileExA(request, &b, IRF_ASYNC, mLog.Context());
                 }).ok)
                return false;
            body->append(buffer.data(), b.dwBufferLength);
        }
    }
    // The status code, or 0 with the error left in GetLastError.
    DWORD Status(HINTERNET request) {
        DWORD status = 0, length = sizeof(status);
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

// Connected, sent, head, body, closed: the notices a client waits for arrive
// in that order, from the worker thread; the head is hidden until the end
// step completed, so a caller judging the send by the status never sees it.
TEST_F(WinInetTest, GetPendsAndNotifiesInOrder) {
    Gate answered;
    InetTestServer server([&](const HttpRequest&, Conn& c) {
        c.Send(Response(200, "OK", "hello", "X-Test: 1\r\n"));
        answered.Open();
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("GET", "/index.html");
    Outcome send = Send(req);
    EXPECT_TRUE(send.ok);
    EXPECT_TRUE(send.pended);
    ASSERT_TRUE(answered.Wait());
    EXPECT_EQ(Status(req), 0u);
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    EXPECT_TRUE(End(req).ok);
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
    ASSERT_GE(notices.size(), 4u);
    EXPECT_EQ(notices[0].status, INTERNET_STATUS_CONNECTED_TO_SERVER);
    EXPECT_EQ(notices[1].status, INTERNET_STATUS_REQUEST_COMPLETE);
    EXPECT_EQ(notices.back().status, INTERNET_STATUS_HANDLE_CLOSING);
    for (const Notice& n : notices)
        EXPECT_NE(n.thread, std::this_thread::get_id());
    EXPECT_EQ(server.Requests().at(0).Header("user-agent"), "inet-test");
}

// What the device answers decides status, head, body and which path was
// served; bodies arrive whole however the device cuts them.
TEST_F(WinInetTest, AnswersAsDevicesSendThem) {
    const std::string big(100000, 'b');
    InetTestServer server([&](const HttpRequest& r, Conn& c) {
        const std::string& t = r.target;
        if (t == "/ok")
            c.Send(Response(200, "OK", "fine"));
        else if (t == "/missing")
            c.Send(Response(404, "Not Found", "none"));
        else if (t == "/hop")
            c.Send(Response(302, "Found", "moved", "Location: /hop2\r\n"));
        else if (t == "/hop2")
            c.Send(Response(302, "Found", "", "Location: /ok\r\n"));
        else if (t == "/loop")
            c.Send(Response(302, "Found", "", "Location: /loop\r\n"));
        else if (t == "/chunked") // both cases of hex, an extension, pieces cut inside a size line
            for (const char* p : {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", "A",
                                  ";ext=1\r\n0123456789\r\n", "a\r\n", "ABCDEFGHIJ\r\n0\r\n\r\n"})
                c.Send(p);
        else if (t == "/close-delimited") {
            c.Send("HTTP/1.0 200 OK\r\n\r\n" + big);
            c.CloseAfter();
        } else if (t == "/split-head")
            for (char ch : Response(200, "OK", "xyz", "X-A: 1\r\n"))
                c.Send(&ch, 1);
        else if (t == "/bare-lf")
            c.Send("HTTP/1.1 200 OK\nContent-Length: 2\nX-B: 2\n\nhi");
        else if (t == "/x%20y")
            c.Send(Response(200, "OK", ""));
    });
    Open(server.Port());
    struct Case {
        const char* path;
        DWORD flags;
        DWORD error; // of the head step, 0 = success
        DWORD status;
        std::string body;
        const char* header;
    } cases[] = {
        {"/ok", 0, 0, 200, "fine", "Content-Length: 4\r\n"},
        {"/missing", 0, 0, 404, "none", "Not Found\r\n"},
        {"/hop", 0, 0, 200, "fine", "Content-Length: 4\r\n"},
        {"/hop", INTERNET_FLAG_NO_AUTO_REDIRECT, 0, 302, "moved", "Location: /hop2\r\n"},
        {"/loop", 0, ERROR_HTTP_REDIRECT_FAILED, 0, "", ""},
        {"/chunked", 0, 0, 200, "abc0123456789ABCDEFGHIJ", "Transfer-Encoding: chunked\r\n"},
        {"/close-delimited", 0, 0, 200, big, "HTTP/1.0 200 OK\r\n"},
        {"/split-head", 0, 0, 200, "xyz", "X-A: 1\r\n"},
        {"/bare-lf", 0, 0, 200, "hi", "X-B: 2\r\n"},
        {"/x y", 0, 0, 200, "", "Content-Length: 0\r\n"}, // a space cannot stand on the request line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        HINTERNET req = OpenRequest("GET", c.path, c.flags);
        Outcome head = Exchange(req);
        EXPECT_EQ(head.ok, c.error == 0);
        EXPECT_EQ(head.error, c.error);
        EXPECT_EQ(Status(req), c.status);
        if (head.ok) {
            EXPECT_NE(RawHeaders(req).find(c.header), std::string::npos) << RawHeaders(req);
            std::string body;
            EXPECT_TRUE(ReadBody(req, &body, 1000));
            EXPECT_TRUE(body == c.body);
        }
        InternetCloseHandle(req);
    }
    EXPECT_EQ(server.CountTarget("/loop"), static_cast<size_t>(os::inet::kMaxRedirects) + 1);
}

// Devices that answer badly, not at all, or cut the body give WinINet's codes.
TEST_F(WinInetTest, BrokenAnswersFail) {
    InetTestServer server([](const HttpRequest& r, Conn& c) {
        if (r.target == "/garbage")
            c.Send("this is not http\r\n\r\n");
        else if (r.target == "/close-mid-head")
            c.Send("HTTP/1.1 200 OK\r\nContent-Le");
        else if (r.target == "/endless-head")
            for (int i = 0; i < 200 && c.Send("X-Pad: " + std::string(1000, 'h') + "\r\n"); ++i) {
            }
        else if (r.target == "/cut-body")
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial");
        c.CloseAfter();
    });
    uint16_t closedPort;
    {
        InetTestServer closed([](const HttpRequest&, Conn&) {});
        closedPort = closed.Port();
    }
    struct Case {
        const char* path;
        uint16_t port;
        DWORD error; // of the head step; 0: the head comes, the body read fails
    } cases[] = {
        {"/garbage", server.Port(), ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/close-mid-head", server.Port(), ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/endless-head", server.Port(), ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/nothing", server.Port(), ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/refused", closedPort, ERROR_INTERNET_CANNOT_CONNECT},
        {"/cut-body", server.Port(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Open(c.port);
        HINTERNET req = OpenRequest("GET", c.path);
        Outcome head = Exchange(req);
        EXPECT_EQ(head.ok, c.error == 0);
        EXPECT_EQ(head.error, c.error);
        if (head.ok) {
            std::string body;
            EXPECT_FALSE(ReadBody(req, &body));
            EXPECT_EQ(body, "partial");
        } else {
            EXPECT_EQ(Status(req), 0u);
            EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
        }
        EXPECT_TRUE(InternetCloseHandle(mRoot));
        mRoot = nullptr;
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
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.how));
        Open(server.Port(), c.how == How::ConnectArguments ? "admin" : nullptr);
        HINTERNET req = OpenRequest("GET", "/");
        if (c.how == How::RequestOptions) {
            char u[] = "user", p[] = "pass";
            ASSERT_TRUE(InternetSetOptionA(req, INTERNET_OPTION_USERNAME, u, 4));
            ASSERT_TRUE(InternetSetOptionA(req, INTERNET_OPTION_PASSWORD, p, 4));
        }
        for (const char* line :
             {"Authorization: Basic Zmlyc3Q6dG9rZW4=", "Authorization: Basic c2Vjb25kOnRva2Vu"})
            if (c.how == How::HeaderTwice) {
                ASSERT_TRUE(HttpAddRequestHeadersA(req, line, static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD));
            }
        ASSERT_TRUE(Exchange(req).ok);
        HttpRequest got = server.Requests().back();
        EXPECT_EQ(got.HeaderCount("authorization"), c.expected ? 1 : 0) << got.head;
        EXPECT_EQ(got.Header("authorization"), c.expected ? c.expected : "");
        EXPECT_TRUE(InternetCloseHandle(mRoot));
        mRoot = nullptr;
    }
}

// A reader that takes 100 bytes at a time never makes the layer hold more
// than its bound: the transfer pauses and resumes, and every byte arrives once.
TEST_F(WinInetTest, SlowReaderPausesTransferWithBoundedBuffer) {
    const size_t kSize = 4 * 1024 * 1024;
    auto pattern = [](size_t i) { return static_cast<char>((i * 7 + i / 251) & 0xFF); };
    InetTestServer server([&](const HttpRequest&, Conn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kSize) + "\r\n\r\n");
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
    ASSERT_TRUE(Exchange(req).ok);
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

// Closing a request while a call on it pends: the closing notice comes before
// the close returns, nothing after it, and the pending call's output is never
// written. The session goes on serving other requests.
TEST_F(WinInetTest, CloseWhileReadPendingIsFinal) {
    Gate release;
    InetTestServer server([&](const HttpRequest& r, Conn& c) {
        if (r.target != "/stall") {
            c.Send(Response(200, "OK", "after"));
            return;
        }
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        release.Wait();
        c.Send(std::string(50000, 'x'));
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("GET", "/stall");
    ASSERT_TRUE(Exchange(req).ok);
    DWORD sentinel = 0xDEADBEEF;
    ASSERT_FALSE(InternetQueryDataAvailable(req, &sentinel, 0, mLog.Context()));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(InternetCloseHandle(req));
    size_t noticesAtClose = mLog.For(req).size();
    EXPECT_EQ(mLog.For(req, INTERNET_STATUS_HANDLE_CLOSING).size(), 1u);
    release.Open();

    // More traffic through the same worker; the closed request stays silent.
    HINTERNET next = OpenRequest("GET", "/next");
    ASSERT_TRUE(Exchange(next).ok);
    std::string body;
    ASSERT_TRUE(ReadBody(next, &body));
    EXPECT_EQ(body, "after");
    EXPECT_EQ(mLog.For(req).size(), noticesAtClose);
    EXPECT_EQ(sentinel, 0xDEADBEEFu);
    EXPECT_FALSE(InternetQueryDataAvailable(req, &sentinel, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    InternetCloseHandle(next);
}

// Requests closed at every stage of an endless transfer, and the root closed
// under a running one: no use after free (the sanitizer builds), the closing
// notice last, and the worker ends with the root.
TEST_F(WinInetTest, CloseAtAnyStageOfEndlessTransfer) {
    InetTestServer server([](const HttpRequest&, Conn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace\r\n\r\n");
        std::string part(4096, 'p');
        while (c.Send(part)) {
        }
        c.CloseAfter();
    });
    int before = os::inet::GetLiveSessionCountForTest();
    Open(server.Port());
    EXPECT_EQ(os::inet::GetLiveSessionCountForTest(), before + 1);
    for (int stage = 0; stage < 4; ++stage) {
        SCOPED_TRACE(stage);
        HINTERNET req = OpenRequest("GET", "/stream");
        DWORD available = 0;
        if (stage == 0) // closed while the send pends
            HttpSendRequestExA(req, nullptr, nullptr, HSR_ASYNC | HSR_INITIATE, mLog.Context());
        if (stage >= 1) {
            ASSERT_TRUE(Send(req).ok);
        }
        if (stage >= 2) {
            ASSERT_TRUE(End(req).ok);
        }
        if (stage == 3)
            InternetQueryDataAvailable(req, &available, 0, mLog.Context());
        ASSERT_TRUE(InternetCloseHandle(req));
        ASSERT_FALSE(mLog.For(req).empty());
        EXPECT_EQ(mLog.For(req).back().status, INTERNET_STATUS_HANDLE_CLOSING);
    }
    HINTERNET running = OpenRequest("GET", "/stream");
    ASSERT_TRUE(Exchange(running).ok);
    ASSERT_TRUE(InternetCloseHandle(mRoot));
    mRoot = nullptr;
    EXPECT_EQ(os::inet::GetLiveSessionCountForTest(), before);
    EXPECT_EQ(mLog.For(running, INTERNET_STATUS_HANDLE_CLOSING).size(), 1u);
    EXPECT_EQ(mLog.For(mConnect, INTERNET_STATUS_HANDLE_CLOSING).size(), 1u);
    EXPECT_EQ(Status(running), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
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
    // Another exchange through the same worker flushes anything still queued.
    gCloseOnConnect = nullptr;
    HINTERNET next = OpenRequest("GET", "/");
    ASSERT_TRUE(Exchange(next).ok);
    std::vector<Notice> notices = mLog.For(req);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].status, INTERNET_STATUS_CONNECTED_TO_SERVER);
    EXPECT_EQ(notices[1].status, INTERNET_STATUS_HANDLE_CLOSING);
    InternetCloseHandle(next);
}

// A form POST carries its body; a streamed POST's bytes follow with
// InternetWriteFile as chunks (its length is not known).
TEST_F(WinInetTest, PostBodies) {
    Gate gotChunk;
    std::string streamed; // written by the handler before gotChunk opens
    InetTestServer server([&](const HttpRequest& r, Conn& c) {
        if (r.Header("transfer-encoding") != "chunked") {
            c.Send(Response(200, "OK", r.Header("content-type") + "|" + r.body));
            return;
        }
        char buf[256];
        for (size_t n; streamed.find("audio\r\n") == std::string::npos && (n = c.Recv(buf, sizeof(buf))) > 0;)
            streamed.append(buf, n);
        gotChunk.Open();
        c.CloseAfter();
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("POST", "/cgi", INTERNET_FLAG_FORMS_SUBMIT);
    std::string form = "a=1&b=two";
    const char* header = "Content-Type: application/x-www-form-urlencoded";
    ASSERT_TRUE(Await(req, [&] {
                    return HttpSendRequestA(req, header, static_cast<DWORD>(-1), form.data(),
                                            static_cast<DWORD>(form.size()));
                }).ok);
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

} // namespace
