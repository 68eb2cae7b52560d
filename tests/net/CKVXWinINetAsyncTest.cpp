// The asynchronous client against a scripted loopback server: authentication
// retries, the owner's cancel event, time-outs, reads, POSTs and error answers.
#include "net/CKVXWinINetAsync.h"

#include "fakes/ScriptedHttpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace httptest;
using media_util::CManualEvent;

namespace {

class CKVXWinINetAsyncTest : public ::testing::Test {
public:
    std::unique_ptr<CKVXWinINetAsync> NewClient(uint16_t port, const std::string& user = "",
                                                const std::string& password = "") {
        auto client = std::make_unique<CKVXWinINetAsync>();
        client->SetCancelEvent(&mCancel);
        if (!user.empty())
            client->SetCredentials(CHttpCredential(CHttpCredential::kKindServer, 0, user, password));
        EXPECT_TRUE(client->Connect("127.0.0.1", port, true));
        return client;
    }
    // Reads until the end of the body (true) or a failure (false).
    static bool ReadAll(IHttpClient& client, std::string* body, DWORD piece = 8192, bool fill = false) {
        std::string buffer(piece, '\0');
        for (DWORD length = piece; client.Read(buffer.data(), &length, fill); length = piece) {
            if (length == 0)
                return true;
            EXPECT_LE(length, piece);
            body->append(buffer.data(), length);
        }
        return false;
    }
    static std::string Body(IHttpClient& client) {
        std::string body;
        EXPECT_TRUE(ReadAll(client, &body));
        return body;
    }

    CManualEvent mCancel;
};

// Credentials go out with the first request; a 401 to them is final: the
// same credentials again cannot succeed and would count against the device's
// failed-login limit, so a wrong password costs one request per Get.
TEST_F(CKVXWinINetAsyncTest, AuthenticationRetries) {
    std::atomic<int> onceAnswered{0};
    CScriptedHttpServer server([&](const HttpRequest& r, Conn& c) {
        bool good = r.Header("authorization") == "Basic dXNlcjpwYXNz"; // user:pass
        if (r.target == "/open" || (good && r.target == "/private") ||
            (r.target == "/once" && onceAnswered++ > 0))
            c.Send(Response(200, "OK", "in"));
        else
            c.Send(Response(401, "Unauthorized", "no", "WWW-Authenticate: Basic realm=\"cam\"\r\n"));
    });
    struct Case {
        const char* path;
        const char* user;
        const char* password;
        bool result;
        int status;
        size_t requests; // how many reached the device
    } cases[] = {
        {"/open", "", "", true, 200, 1},          {"/private", "user", "pass", true, 200, 1},
        {"/private", "", "", false, 401, 1},      {"/private", "user", "wrong", false, 401, 1},
        {"/once", "user", "pass", false, 401, 1},
    };
    size_t before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.user + ":" + c.password);
        auto client = NewClient(server.Port(), c.user, c.password);
        EXPECT_EQ(client->Get(c.path), c.result);
        EXPECT_EQ(client->GetStatusCode(), c.status);
        std::vector<HttpRequest> requests = server.Requests();
        ASSERT_EQ(requests.size(), before + c.requests);
        for (; before < requests.size(); ++before) {
            EXPECT_EQ(requests[before].Header("user-agent"), "CKVXWinINetAsync");
            EXPECT_EQ(requests[before].HeaderCount("authorization"), *c.user ? 1 : 0)
                << requests[before].head;
        }
        if (c.result) {
            EXPECT_EQ(Body(*client), "in");
        }
    }
}

// Heads and bodies as devices send them, on one kept-alive connection: 302
// answers are followed, chunked and byte-by-byte answers arrive whole, a
// status line never becomes a header, and a path goes out with only what
// cannot stand on a request line escaped.
TEST_F(CKVXWinINetAsyncTest, HeadersBodiesAndKeepAlive) {
    const std::string big = Pattern(300000);
    CScriptedHttpServer server([&](const HttpRequest& r, Conn& c) {
        const std::string& t = r.target;
        if (t == "/moved")
            c.Send(Response(302, "Found", "", "Location: /here\r\n"));
        else if (t == "/here" || t == "/x%20y")
            c.Send(Response(200, "OK", "here", "X-Frame: 7\r\n"));
        else if (t == "/big")
            c.Send(Response(200, "OK", big, "X-Big: 1\r\n"));
        else if (t == "/chunked") // both cases of hex, an extension, pieces cut inside a size line
            for (const char* p : {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", "A",
                                  ";ext=1\r\n0123456789\r\n", "a\r\n", "ABCDEFGHIJ\r\n0\r\n\r\n"})
                c.Send(p);
        else if (t == "/split-head")
            for (char ch : Response(200, "OK", "xyz", "X-A: 1\r\n"))
                c.Send(std::string(1, ch));
        else
            c.Send(Response(404, "Not Found", "gone", "X-Why: missing\r\n"));
    });
    struct Case {
        const char* path;
        int status;
        const char* header;
        const char* value;
        DWORD piece;
        bool fill; // a fill read waits until the buffer is full
        std::string body;
    } cases[] = {
        {"/moved", 200, "X-Frame", "7", 8192, false, "here"},
        {"/x y", 200, "X-Frame", "7", 8192, false, "here"},
        {"/elsewhere", 404, "X-Why", "missing", 8192, false, "gone"},
        {"/chunked", 200, "Transfer-Encoding", "chunked", 5, false, "abc0123456789ABCDEFGHIJ"},
        {"/split-head", 200, "X-A", "1", 8192, false, "xyz"},
        {"/big", 200, "X-Big", "1", 100, true, big},
        {"/big", 200, "X-Big", "1", 65536, false, big},
        {"/big", 200, "X-Big", "1", 1000000, true, big},
    };
    auto client = NewClient(server.Port());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.piece));
        ASSERT_TRUE(client->Get(c.path));
        EXPECT_EQ(client->GetStatusCode(), c.status);
        EXPECT_EQ(client->GetResponseHeader(c.header), c.value);
        EXPECT_EQ(client->GetResponseHeader("HTTP/1.1 200 OK"), "");
        std::string body(c.fill ? c.piece : 0, '\0');
        DWORD length = c.piece;
        if (c.fill) {
            ASSERT_TRUE(client->Read(body.data(), &length, true));
            ASSERT_EQ(length, std::min<size_t>(c.piece, c.body.size()));
            body.resize(length);
        }
        EXPECT_TRUE(ReadAll(*client, &body, c.piece, c.fill));
        EXPECT_EQ(body.size(), c.body.size());
        EXPECT_TRUE(body == c.body);
    }
    EXPECT_EQ(server.ConnectionCount(), 1);
}

// A call that waits for the device ends when the owner signals the cancel
// event (during the request or a read), when the device breaks the body off,
// or after the time-out. Under 200 a broken body reads as its end (and as a
// cut body); under an error answer the read fails. Only the owner ever
// signals its cancel event: a cancelled client refuses everything until the
// owner resets it, and after any other end the next request on the same
// client works.
TEST_F(CKVXWinINetAsyncTest, PendingCallsEnd) {
    enum class End { OwnerCancels, DeviceCloses, TimesOut };
    struct Case {
        const char* path;
        bool duringRead;
        End end;
        bool ok; // of the waiting call
        bool cancelled;
    } cases[] = {
        {"/hold", false, End::OwnerCancels, false, true},
        {"/body?200", true, End::OwnerCancels, false, true},
        {"/body?200", true, End::DeviceCloses, true, false},
        {"/body?404", true, End::DeviceCloses, false, false},
        {"/body?500", true, End::DeviceCloses, false, false},
        {"/hold", false, End::TimesOut, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path << " end " << static_cast<int>(c.end));
        mCancel.Reset();
        CManualEvent release;
        CScriptedHttpServer server([&](const HttpRequest& r, Conn& conn) {
            if (r.target == "/hold")
                release.Wait(kWaitMs);
            if (r.target.rfind("/body?", 0) == 0) {
                conn.Send("HTTP/1.1 " + r.target.substr(6) + " X\r\nContent-Length: 100\r\n\r\n");
                release.Wait(kWaitMs);
                conn.CloseAfter();
                return;
            }
            conn.Send(Response(200, "OK", "late"));
        });
        auto client = NewClient(server.Port());
        // Only the cancel event or the device can end the wait, but for the time-out.
        client->SetTimeout(c.end == End::TimesOut ? 100 : 120000);
        ASSERT_TRUE(!c.duringRead || client->Get(c.path));
        os::inet::WaitForPendingCallForTest(0); // forget the request's pending calls
        std::thread ender([&] {
            bool waiting =
                c.duringRead ? os::inet::WaitForPendingCallForTest(kWaitMs) : server.WaitForRequests(1);
            if (waiting && c.end == End::OwnerCancels)
                mCancel.Set();
            else if (c.end != End::TimesOut)
                release.Set();
        });
        char buffer[16];
        DWORD length = sizeof(buffer);
        EXPECT_EQ(c.ok, c.duringRead ? client->Read(buffer, &length, false) : client->Get(c.path));
        ender.join();
        release.Set();
        EXPECT_EQ(c.cancelled, mCancel.IsSignalled() != 0);
        EXPECT_EQ(c.cancelled, !client->IsUsable());
        if (c.end == End::DeviceCloses) {
            EXPECT_EQ(client->GetLastErrorCode(), ERROR_INTERNET_CONNECTION_RESET);
            EXPECT_TRUE(client->IsBodyCut());
        }
        EXPECT_TRUE(c.end != End::TimesOut || !client->IsConnected());
        if (c.cancelled) {
            EXPECT_FALSE(client->Get("/next"));
            EXPECT_EQ(server.CountTarget("/next"), 0u);
            mCancel.Reset();
        }
        // The abandoned request is gone; a new one works.
        length = sizeof(buffer);
        EXPECT_FALSE(client->Read(buffer, &length, false) && length > 0);
        ASSERT_TRUE(client->Get("/next"));
        EXPECT_EQ(Body(*client), "late");
    }
}

// A form POST carries its body and the credentials once; a streamed POST
// sends what is written as chunks.
TEST_F(CKVXWinINetAsyncTest, PostsAndStreamedPost) {
    CManualEvent gotChunk;
    std::string streamed; // written by the handler before gotChunk is set
    CScriptedHttpServer server([&](const HttpRequest& r, Conn& c) {
        if (r.Header("transfer-encoding") != "chunked") {
            c.Send(Response(200, "OK", r.method + "|" + r.Header("content-type") + "|" + r.body));
            return;
        }
        for (std::string got; streamed.find("hello\r\n") == std::string::npos && !(got = c.Recv()).empty();)
            streamed += got;
        gotChunk.Set();
        c.CloseAfter();
    });
    auto client = NewClient(server.Port(), "cam", "pw");
    ASSERT_TRUE(client->Post("/setting.cgi", "motion=1&level=3"));
    EXPECT_EQ(Body(*client), "POST|application/x-www-form-urlencoded|motion=1&level=3");
    EXPECT_EQ(server.Requests().back().HeaderCount("authorization"), 1);
    EXPECT_EQ(server.Requests().back().Header("authorization"), "Basic Y2FtOnB3");

    ASSERT_TRUE(client->BeginPost("/audio.cgi"));
    ASSERT_TRUE(client->Write("hello", 5));
    EXPECT_TRUE(client->EndPost());
    ASSERT_TRUE(gotChunk.Wait(kWaitMs));
    EXPECT_EQ(streamed, "5\r\nhello\r\n");
    EXPECT_EQ(server.Requests().back().target, "/audio.cgi");
    EXPECT_TRUE(client->Disconnect());
    EXPECT_FALSE(client->Write("x", 1));
}

// Destroying clients in the middle of endless transfers ends the layer's
// workers.
TEST_F(CKVXWinINetAsyncTest, DestroyDuringTransfer) {
    CScriptedHttpServer server([](const HttpRequest&, Conn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=x\r\n\r\n");
        while (c.Send(std::string(8192, 'm'))) {
        }
        c.CloseAfter();
    });
    int before = os::inet::GetLiveSessionCountForTest();
    for (int i = 0; i < 3; ++i) {
        auto client = NewClient(server.Port());
        ASSERT_TRUE(client->Get("/stream"));
        std::string buffer(1000, '\0');
        DWORD length = static_cast<DWORD>(buffer.size());
        ASSERT_TRUE(client->Read(buffer.data(), &length, true));
        EXPECT_EQ(buffer, std::string(1000, 'm'));
    }
    EXPECT_EQ(os::inet::GetLiveSessionCountForTest(), before);
}

// A read the owner abandons just as bytes arrive: once the read has let go
// of its pending call, the layer must not complete that call into the
// reader's memory (AddressSanitizer sees the write). The device cancels for
// the owner and sends a byte a few microseconds later, the gap swept round
// by round across the few microseconds between the reader waking and its
// close.
TEST_F(CKVXWinINetAsyncTest, AbandonedReadsLeaveNoPendingOutputs) {
    constexpr int kRounds = 1000;
    CManualEvent go;
    std::atomic<int> gapUs{0};
    CScriptedHttpServer server([&](const HttpRequest&, Conn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n");
        if (!go.Wait(kWaitMs))
            return;
        go.Reset();
        mCancel.Set();
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(gapUs.load());
        while (std::chrono::steady_clock::now() < until) {
        }
        c.Send("b");
        c.CloseAfter();
    });
    auto client = NewClient(server.Port());
    client->SetTimeout(120000);
    for (int i = 0; i < kRounds; ++i) {
        SCOPED_TRACE(i);
        gapUs = i % 60;
        mCancel.Reset();
        ASSERT_TRUE(client->Get("/late"));
        os::inet::WaitForPendingCallForTest(0); // forget the request's own calls
        bool ok = true;
        DWORD length = 0;
        std::thread reader([&] {
            std::string buffer(64, '\0');
            length = static_cast<DWORD>(buffer.size());
            ok = client->Read(buffer.data(), &length, true);
        });
        // The reader's query is pending on an empty body.
        EXPECT_TRUE(os::inet::WaitForPendingCallForTest(kWaitMs));
        go.Set();
        reader.join();
        // Either the byte won the race or the cancel did: never a full buffer.
        EXPECT_TRUE(!ok || length <= 1);
        EXPECT_FALSE(client->IsUsable());
    }
}

} // namespace
