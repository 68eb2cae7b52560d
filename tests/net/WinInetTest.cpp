// The WinINet layer on libcurl against a scripted loopback server: pending
// calls and their notices, broken answers, bounded buffering for slow
// readers, and handles closed while their transfers run. Also the request
// target escaping that both HTTP clients share.
#include "os/inet/WinInet.h"

#include "fakes/ScriptedHttpServer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>

using namespace httptest;

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
        std::lock_guard<std::mutex> lock(log->mMutex);
        log->mNotices.push_back(n);
        log->mCv.notify_all();
    }
    DWORD_PTR Context() { return reinterpret_cast<DWORD_PTR>(this); }
    // The notices for `handle` (of one status, unless 0), once there are at
    // least `count` of them or kWaitMs has passed.
    std::vector<Notice> For(HINTERNET handle, DWORD status = 0, size_t count = 0) {
        std::unique_lock<std::mutex> lock(mMutex);
        std::vector<Notice> out;
        mCv.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] {
            out.clear();
            for (const Notice& n : mNotices)
                if (n.handle == handle && (status == 0 || n.status == status))
                    out.push_back(n);
            return out.size() >= count;
        });
        return out;
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
    HINTERNET OpenRequest(const char* path) {
        return HttpOpenRequestA(mConnect, "GET", path, nullptr, nullptr, nullptr, 0, mLog.Context());
    }
    // Runs a call that may pend and waits for its completion notice.
    Outcome Await(HINTERNET request, const std::function<BOOL()>& call) {
        const size_t before = mLog.For(request, INTERNET_STATUS_REQUEST_COMPLETE).size();
        if (call())
            return {true, false, 0};
        if (GetLastError() != ERROR_IO_PENDING)
            return {false, false, GetLastError()};
        std::vector<Notice> done = mLog.For(request, INTERNET_STATUS_REQUEST_COMPLETE, before + 1);
        if (done.size() <= before) {
            ADD_FAILURE() << "no completion notice";
            return {false, true, 0};
        }
        return {done[before].result != FALSE, true, done[before].error};
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
    Outcome QueryAvailable(HINTERNET request, DWORD* available) {
        return Await(request,
                     [&] { return InternetQueryDataAvailable(request, available, 0, mLog.Context()); });
    }
    // Reads the whole body in pieces of at most `piece` bytes.
    bool ReadBody(HINTERNET request, std::string* body, DWORD piece = 8192) {
        std::vector<char> buffer(piece);
        for (DWORD available = 0; QueryAvailable(request, &available).ok;) {
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
        return false;
    }
    // The status code, or 0 with the error left in GetLastError.
    DWORD Status(HINTERNET request) {
        DWORD status = 0, length = sizeof(status);
        if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                            nullptr))
            return 0;
        return status;
    }

    NoticeLog mLog;
    HINTERNET mRoot = nullptr;
    HINTERNET mConnect = nullptr;
};

// Connected, sent, head, body, closed: the notices a client waits for arrive
// in that order, from the worker thread; the head is hidden until the end
// step completed, so a caller judging the send by the status never sees it.
TEST_F(WinInetTest, GetPendsAndNotifiesInOrder) {
    media_util::CManualEvent answered;
    CScriptedHttpServer server([&](const HttpRequest&, Conn& c) {
        c.Send(Response(200, "OK", "hello", "X-Test: 1\r\n"));
        answered.Set();
    });
    Open(server.Port());
    HINTERNET req = OpenRequest("/index.html");
    Outcome send = Send(req);
    EXPECT_TRUE(send.ok);
    EXPECT_TRUE(send.pended);
    ASSERT_TRUE(answered.Wait(kWaitMs));
    EXPECT_EQ(Status(req), 0u);
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    EXPECT_TRUE(End(req).ok);
    EXPECT_EQ(Status(req), 200u);
    char raw[8192];
    DWORD length = sizeof(raw);
    ASSERT_TRUE(HttpQueryInfoA(req, HTTP_QUERY_RAW_HEADERS_CRLF, raw, &length, nullptr));
    EXPECT_EQ(std::string(raw, length), "HTTP/1.1 200 OK\r\nX-Test: 1\r\nContent-Length: 5\r\n\r\n");
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

// Devices that answer badly, not at all, endlessly redirect or cut the body
// give WinINet's codes.
TEST_F(WinInetTest, BrokenAnswersFail) {
    CScriptedHttpServer server([](const HttpRequest& r, Conn& c) {
        if (r.target == "/loop") {
            c.Send(Response(302, "Found", "", "Location: /loop\r\n")); // on the kept-alive connection
            return;
        }
        c.CloseAfter();
        if (r.target == "/garbage")
            c.Send("this is not http\r\n\r\n");
        else if (r.target == "/close-mid-head")
            c.Send("HTTP/1.1 200 OK\r\nContent-Le");
        else if (r.target == "/cut-body")
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial");
        for (int i = 0; r.target == "/endless-head" && i < 200; ++i)
            c.Send("X-Pad: " + std::string(1000, 'h') + "\r\n");
    });
    uint16_t closedPort = 0;
    ::close(ListenOnLoopback(1, &closedPort));
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
        {"/loop", server.Port(), ERROR_HTTP_REDIRECT_FAILED},
        {"/cut-body", server.Port(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Open(c.port);
        HINTERNET req = OpenRequest(c.path);
        Outcome head = Exchange(req);
        EXPECT_EQ(head.ok, c.error == 0);
        EXPECT_EQ(head.error, c.error);
        std::string body;
        if (head.ok) {
            EXPECT_FALSE(ReadBody(req, &body));
            EXPECT_EQ(body, "partial");
        } else {
            EXPECT_EQ(Status(req), 0u);
            EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
        }
        EXPECT_TRUE(InternetCloseHandle(mRoot));
        mRoot = nullptr;
    }
    // The redirect loop stops at the cap: the first request and the followed ones.
    EXPECT_EQ(server.CountTarget("/loop"), static_cast<size_t>(os::inet::kMaxRedirects) + 1);
}

// A reader that takes 100 bytes at a time never makes the layer hold more
// than its bound: the transfer pauses and resumes, and every byte arrives once.
TEST_F(WinInetTest, SlowReaderPausesTransferWithBoundedBuffer) {
    const std::string big = Pattern(4 * 1024 * 1024);
    CScriptedHttpServer server([&](const HttpRequest&, Conn& c) { c.Send(Response(200, "OK", big)); });
    Open(server.Port());
    HINTERNET req = OpenRequest("/big");
    ASSERT_TRUE(Exchange(req).ok);
    std::string body;
    ASSERT_TRUE(ReadBody(req, &body, 100));
    ASSERT_EQ(body.size(), big.size());
    ASSERT_TRUE(body == big);
    DWORD peak = 0, pauses = 0;
    ASSERT_TRUE(os::inet::GetBodyBufferStatsForTest(req, &peak, &pauses));
    EXPECT_LE(peak, os::inet::kMaxBufferedBodyBytes);
    EXPECT_GT(pauses, 0u);
    InternetCloseHandle(req);
}

// Requests closed at every stage, the last while a call on it waits for
// bytes, then the root under a running transfer: the closing notice comes
// before the close returns and is the last, a pending call's output is never
// written, the session goes on serving, and the worker ends with the root.
TEST_F(WinInetTest, CloseAtAnyStageIsFinal) {
    media_util::CManualEvent release;
    CScriptedHttpServer server([&](const HttpRequest& r, Conn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace\r\n\r\n");
        if (r.target == "/stall")
            release.Wait(kWaitMs);
        while (r.target == "/stream" && c.Send(std::string(4096, 'p'))) {
        }
        c.CloseAfter();
    });
    int before = os::inet::GetLiveSessionCountForTest();
    Open(server.Port());
    EXPECT_EQ(os::inet::GetLiveSessionCountForTest(), before + 1);
    std::vector<std::pair<HINTERNET, size_t>> closed; // handle, notices at its close
    DWORD sentinel = 0xDEADBEEF;
    for (int stage = 0; stage < 4; ++stage) {
        SCOPED_TRACE(stage);
        HINTERNET req = OpenRequest(stage == 3 ? "/stall" : "/stream");
        if (stage == 0) // closed while the send pends
            HttpSendRequestExA(req, nullptr, nullptr, HSR_ASYNC | HSR_INITIATE, mLog.Context());
        ASSERT_TRUE(stage < 1 || Send(req).ok);
        ASSERT_TRUE(stage < 2 || End(req).ok);
        if (stage == 3) {
            ASSERT_FALSE(InternetQueryDataAvailable(req, &sentinel, 0, mLog.Context()));
            ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        }
        ASSERT_TRUE(InternetCloseHandle(req));
        closed.emplace_back(req, mLog.For(req).size());
        EXPECT_EQ(mLog.For(req, INTERNET_STATUS_HANDLE_CLOSING).size(), 1u);
        EXPECT_EQ(mLog.For(req).back().status, INTERNET_STATUS_HANDLE_CLOSING);
    }
    release.Set();
    HINTERNET running = OpenRequest("/stream");
    ASSERT_TRUE(Exchange(running).ok);
    DWORD available = 0; // bytes of the endless body are served after all
    EXPECT_TRUE(QueryAvailable(running, &available).ok);
    EXPECT_GT(available, 0u);
    for (const auto& handle : closed)
        EXPECT_EQ(mLog.For(handle.first).size(), handle.second);
    EXPECT_EQ(sentinel, 0xDEADBEEFu);
    EXPECT_FALSE(InternetQueryDataAvailable(closed.back().first, &sentinel, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    ASSERT_TRUE(InternetCloseHandle(mRoot));
    mRoot = nullptr;
    EXPECT_EQ(os::inet::GetLiveSessionCountForTest(), before);
    EXPECT_EQ(mLog.For(running, INTERNET_STATUS_HANDLE_CLOSING).size(), 1u);
    EXPECT_EQ(mLog.For(mConnect, INTERNET_STATUS_HANDLE_CLOSING).size(), 1u);
    EXPECT_EQ(Status(running), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// The request target both clients send, from decoded text (a cracked URL's
// path, a composed query) and from a device's Location (wire form).
TEST(EscapeRequestTargetTest, Table) {
    using os::TargetText;
    const struct Case {
        TargetText text;
        std::string in;
        const char* out;
    } cases[] = {
        {TargetText::Decoded, "", "/"},
        {TargetText::Decoded, "vb.htm?a=1", "/vb.htm?a=1"},
        {TargetText::Decoded, "/q?a=1&b=2;c+d:e/f", "/q?a=1&b=2;c+d:e/f"},
        {TargetText::Decoded, "/a b\t", "/a%20b%09"},
        {TargetText::Decoded, "/x\r\nHost: evil", "/x%0D%0AHost:%20evil"},
        {TargetText::Decoded, std::string("/nul\0", 5), "/nul%00"},
        {TargetText::Decoded, "/100%", "/100%25"},
        {TargetText::Decoded, "/%41%zz", "/%2541%25zz"},
        {TargetText::Decoded, "/caf\xC3\xA9\x7F", "/caf%C3%A9%7F"},
        {TargetText::Decoded, "/\"<>\\^`{|}#", "/%22%3C%3E%5C%5E%60%7B%7C%7D%23"},
        {TargetText::Decoded, "http://cam/x", "/http://cam/x"},
        {TargetText::WireForm, "/a%20b%2f", "/a%20b%2f"},
        {TargetText::WireForm, "/a%2", "/a%252"},
        {TargetText::WireForm, "/a%zz b", "/a%25zz%20b"},
        {TargetText::WireForm, "next.htm", "/next.htm"},
        {TargetText::WireForm, "http://cam:81/x y", "http://cam:81/x%20y"},
        {TargetText::WireForm, "HTTP://cam", "HTTP://cam"},
        {TargetText::WireForm, "/\r\n", "/%0D%0A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        const std::string once = os::EscapeRequestTarget(c.in, c.text);
        EXPECT_EQ(c.out, once);
        // What went out once is wire form: it goes out unchanged again.
        EXPECT_EQ(once, os::EscapeRequestTarget(once, TargetText::WireForm));
    }
}

} // namespace
