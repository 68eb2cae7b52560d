// The asynchronous client against a scripted loopback server (authentication
// retries, the owner's cancel event, reads, POSTs, error answers) and, where
// it is built, against camsim.
#include "net/CKVXWinINetAsync.h"

#include "fakes/CamsimProcess.h"
#include "fakes/NginxProcess.h"
#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "net/InetTestServer.h"
#include "platform/CManualEvent.h"
#include "platform/CMemoryStream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

using namespace inettest;
using media_util::CManualEvent;

namespace {

struct ReadResult {
    bool ok;          // the last Read did not fail
    std::string body; // everything delivered
};

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
    // Reads until the end of the body (true, length 0) or a failure.
    static ReadResult ReadAll(IHttpClient& client, DWORD piece = 8192, bool fill = false) {
        ReadResult result{true, ""};
        std::string buffer(piece, '\0');
        for (;;) {
            DWORD length = piece;
            if (!client.Read(buffer.data(), &length, fill)) {
                result.ok = false;
                return result;
            }
            if (length == 0)
                return result;
            EXPECT_LE(length, piece);
            result.body.append(buffer.data(), length);
        }
    }
    static size_t CountTarget(InetTestServer& server, const std::string& target) {
        size_t n = 0;
        for (const HttpRequest& r : server.Requests())
            n += r.target == target;
        return n;
    }

    CManualEvent mCancel;
};

// Basic authentication as devices ask for it: credentials go out with the
// first request; a 401 is retried with them up to the attempt limit.
TEST_F(CKVXWinINetAsyncTest, AuthenticationRetries) {
    InetTestServer server([](const HttpRequest& r, Conn& c) {
        static const std::string kGood = "Basic dXNlcjpwYXNz"; // user:pass
        if (r.target == "/open") {
            c.Send(Response(200, "OK", "open"));
            return;
        }
        if (r.Header("authorization") == kGood && r.target != "/never") {
            c.Send(Response(200, "OK", "granted", "Content-Type: text/plain\r\n"));
            return;
        }
        c.Send(Response(401, "Unauthorized", "no", "WWW-Authenticate: Basic realm=\"cam\"\r\n"));
    });
    struct Case {
        const char* path;
        const char* user;
        const char* password;
        bool result;
        int status;
        size_t requests; // how many reached the device
        const char* body;
    } cases[] = {
        {"/open", "", "", true, 200, 1, "open"},
        {"/private", "user", "pass", true, 200, 1, "granted"},
        // No credentials: one retry, then the client gives up.
        {"/private", "", "", false, 401, 2, nullptr},
        // Wrong credentials: the whole attempt limit.
        {"/private", "user", "wrong", false, 401, CKVXWinINetAsync::kMaxAttempts, nullptr},
        {"/never", "user", "pass", false, 401, CKVXWinINetAsync::kMaxAttempts, nullptr},
    };
    size_t before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.user + ":" + c.password);
        auto client = NewClient(server.Port(), c.user, c.password);
        EXPECT_EQ(client->Get(c.path), c.result);
        EXPECT_EQ(client->GetStatusCode(), c.status);
        ASSERT_TRUE(server.WaitForRequests(before + c.requests));
        std::vector<HttpRequest> requests = server.Requests();
        EXPECT_EQ(requests.size(), before + c.requests);
        for (size_t i = before; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i].Header("user-agent"), "CKVXWinINetAsync");
            EXPECT_EQ(requests[i].headerCount("authorization"), *c.user ? 1 : 0) << requests[i].head;
        }
        before = requests.size();
        if (c.body != nullptr) {
            ReadResult read = ReadAll(*client);
            EXPECT_TRUE(read.ok);
            EXPECT_EQ(read.body, c.body);
        }
    }
}

// A device that refuses once and then accepts gives a successful Get after
// two attempts on the same request.
TEST_F(CKVXWinINetAsyncTest, RefusedOnceThenAccepted) {
    int answered = 0; // only the server's connection thread touches it
    InetTestServer server([&](const HttpRequest&, Conn& c) {
        if (answered++ == 0) {
            c.Send(Response(401, "Unauthorized", "", "WWW-Authenticate: Basic realm=\"cam\"\r\n"));
            return;
        }
        c.Send(Response(200, "OK", "in"));
    });
    auto client = NewClient(server.Port(), "admin", "");
    EXPECT_TRUE(client->Get("/vb.htm?getmachinecode"));
    EXPECT_EQ(client->GetStatusCode(), 200);
    ASSERT_EQ(server.Requests().size(), 2u);
    for (const HttpRequest& r : server.Requests()) {
        EXPECT_EQ(r.target, "/vb.htm?getmachinecode");
        EXPECT_EQ(r.Header("authorization"), "Basic YWRtaW46"); // "admin:"
    }
    EXPECT_EQ(client->GetAuthorizationToken(), "YWRtaW46");
    EXPECT_EQ(ReadAll(*client).body, "in");
}

// The response head lands in the header dictionary, the status line does not.
TEST_F(CKVXWinINetAsyncTest, HeadersAndStatus) {
    InetTestServer server([](const HttpRequest& r, Conn& c) {
        if (r.target == "/moved")
            c.Send(Response(302, "Found", "", "Location: /here\r\n"));
        else if (r.target == "/empty")
            c.Send(Response(200, "OK", "", "X-Empty: yes\r\n"));
        else if (r.target == "/here")
            c.Send(Response(200, "OK", "here", "Content-Type: image/jpeg\r\nX-Frame: 7\r\n"));
        else
            c.Send(Response(404, "Not Found", "gone", "X-Why: missing\r\n"));
    });
    struct Case {
        const char* path;
        int status;
        const char* header;
        const char* value;
        const char* body;
    } cases[] = {
        {"/moved", 200, "X-Frame", "7", "here"},
        {"/here", 200, "Content-Type", "image/jpeg", "here"},
        {"/elsewhere", 404, "X-Why", "missing", "gone"},
        // Nothing available at once: the read is true with length 0.
        {"/empty", 200, "X-Empty", "yes", ""},
    };
    auto client = NewClient(server.Port());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_TRUE(client->Get(c.path));
        EXPECT_EQ(client->GetStatusCode(), c.status);
        int status = 0;
        EXPECT_TRUE(client->QueryStatusCode(&status));
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(client->GetResponseHeader(c.header), c.value);
        EXPECT_EQ(client->GetResponseHeader("HTTP/1.1 200 OK"), "");
        EXPECT_TRUE(client->IsConnected());
        ReadResult read = ReadAll(*client);
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.body, c.body);
    }
    // Four requests, one kept-alive connection.
    EXPECT_EQ(server.ConnectionCount(), 1);
}

// Reads honour the caller's sizes: fill reads fill the buffer, plain reads
// may deliver less, and the end of the body is true with length 0.
TEST_F(CKVXWinINetAsyncTest, ReadSizes) {
    const size_t kSize = 300000;
    auto pattern = [](size_t i) { return static_cast<char>(i % 251); };
    InetTestServer server([&](const HttpRequest&, Conn& c) {
        std::string body(kSize, '\0');
        for (size_t i = 0; i < kSize; ++i)
            body[i] = pattern(i);
        c.Send(Response(200, "OK", body));
    });
    struct Case {
        DWORD piece;
        bool fill;
    } cases[] = {{1, false}, {100, true}, {8192, false}, {65536, true}, {1000000, true}};
    auto client = NewClient(server.Port());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.piece) + (c.fill ? " fill" : ""));
        ASSERT_TRUE(client->Get("/data"));
        if (c.piece == 1) {
            // One byte at a time is slow: check the first bytes and drop the rest.
            for (size_t i = 0; i < 1000; ++i) {
                char b = 0;
                DWORD length = 1;
                ASSERT_TRUE(client->Read(&b, &length, false));
                ASSERT_EQ(length, 1u);
                ASSERT_EQ(b, pattern(i));
            }
            continue;
        }
        if (c.fill) {
            std::string buffer(c.piece, '\0');
            DWORD length = c.piece;
            ASSERT_TRUE(client->Read(buffer.data(), &length, true));
            EXPECT_EQ(length, std::min<size_t>(c.piece, kSize));
        }
        ReadResult rest = ReadAll(*client, c.piece, c.fill);
        EXPECT_TRUE(rest.ok);
        DWORD zero = 0;
        char dummy;
        EXPECT_TRUE(client->Read(&dummy, &zero, true));
        DWORD one = 1;
        EXPECT_TRUE(client->Read(&dummy, &one, true));
        EXPECT_EQ(one, 0u);
    }
    ReadResult whole;
    ASSERT_TRUE(client->Get("/data"));
    whole = ReadAll(*client, 4096);
    ASSERT_EQ(whole.body.size(), kSize);
    for (size_t i = 0; i < kSize; ++i)
        ASSERT_EQ(whole.body[i], pattern(i)) << i;
}

TEST_F(CKVXWinINetAsyncTest, CallsWithoutRequestOrHostFail) {
    CKVXWinINetAsync client;
    client.SetCancelEvent(&mCancel);
    char buffer[8];
    DWORD length = sizeof(buffer);
    int status = 0;
    EXPECT_FALSE(client.Read(buffer, &length, false));
    EXPECT_FALSE(client.QueryStatusCode(&status));
    EXPECT_FALSE(client.Connect("", 80, true));
    EXPECT_FALSE(client.Get("/")); // no connection handle
    EXPECT_TRUE(client.Disconnect());
    EXPECT_FALSE(client.IsConnected());
    // A host text that is not a host is refused by the layer.
    EXPECT_FALSE(client.Connect("10.0.0.5/x", 80, true));
    EXPECT_EQ(client.GetLastErrorCode(), ERROR_INTERNET_INVALID_URL);
    // Without a cancel event the client is not usable at all.
    CKVXWinINetAsync orphan;
    EXPECT_FALSE(orphan.IsUsable());
}

// The owner abandons a request that waits for a silent device by signalling
// the cancel event; the client refuses further requests until it is reset.
TEST_F(CKVXWinINetAsyncTest, CancelEventAbandonsPendingRequest) {
    Gate release;
    InetTestServer server([&](const HttpRequest& r, Conn& c) {
        if (r.target == "/hold")
            release.Wait();
        c.Send(Response(200, "OK", "late"));
    });
    auto client = NewClient(server.Port());
    // Only the cancel event can end this wait within the test's run.
    client->SetTimeout(120000);
    std::thread canceller([&] {
        if (server.WaitForRequests(1))
            mCancel.Set();
    });
    EXPECT_FALSE(client->Get("/hold"));
    canceller.join();
    EXPECT_FALSE(client->IsUsable());
    EXPECT_FALSE(client->IsConnected());

    // While it stays signalled nothing reaches the device.
    EXPECT_FALSE(client->Get("/next"));
    char buffer[4];
    DWORD length = sizeof(buffer);
    EXPECT_FALSE(client->Read(buffer, &length, false));
    EXPECT_EQ(CountTarget(server, "/next"), 0u);

    release.Open();
    mCancel.Reset();
    ASSERT_TRUE(client->Get("/next"));
    EXPECT_EQ(ReadAll(*client).body, "late");
}

// The cancel event also ends a read that waits for body bytes.
TEST_F(CKVXWinINetAsyncTest, CancelEventAbandonsPendingRead) {
    Gate release;
    InetTestServer server([&](const HttpRequest&, Conn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");
        release.Wait();
    });
    auto client = NewClient(server.Port());
    client->SetTimeout(120000);
    ASSERT_TRUE(client->Get("/stream"));
    os::inet::WaitForPendingCallForTest(0); // forget earlier pending calls
    std::thread canceller([&] {
        if (os::inet::WaitForPendingCallForTest(10000))
            mCancel.Set();
    });
    char buffer[16];
    DWORD length = sizeof(buffer);
    EXPECT_FALSE(client->Read(buffer, &length, false));
    canceller.join();
    release.Open();
    // The request was given up: even with the event reset there is nothing to read.
    mCancel.Reset();
    length = sizeof(buffer);
    EXPECT_FALSE(client->Read(buffer, &length, false));
}

// A silent device costs one time-out, after which the request is closed.
TEST_F(CKVXWinINetAsyncTest, SilentDeviceTimesOut) {
    Gate release;
    InetTestServer server([&](const HttpRequest&, Conn&) { release.Wait(); });
    auto client = NewClient(server.Port());
    client->SetTimeout(100);
    EXPECT_FALSE(client->Get("/silence"));
    EXPECT_TRUE(client->IsUsable()); // a time-out is not a cancel
    EXPECT_FALSE(client->IsConnected());
    char buffer[4];
    DWORD length = sizeof(buffer);
    EXPECT_FALSE(client->Read(buffer, &length, false));
    release.Open();
}

// A body that breaks off: under an error answer the client cancels itself
// (the owner must look at the device); under 200 the read just ends.
TEST_F(CKVXWinINetAsyncTest, BrokenBodyOfErrorAnswerCancels) {
    struct Case {
        int status;
        bool cancelled;
        bool readOk;
    } cases[] = {{200, false, true}, {404, true, false}, {500, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        Gate release;
        InetTestServer server([&](const HttpRequest&, Conn& conn) {
            conn.Send("HTTP/1.1 " + std::to_string(c.status) + " X\r\nContent-Length: 1000\r\n\r\n");
            release.Wait();
            conn.CloseAfter();
        });
        mCancel.Reset();
        auto client = NewClient(server.Port());
        ASSERT_TRUE(client->Get("/"));
        EXPECT_EQ(client->GetStatusCode(), c.status);
        os::inet::WaitForPendingCallForTest(0);
        std::thread breaker([&] {
            os::inet::WaitForPendingCallForTest(10000);
            release.Open();
        });
        char buffer[64];
        DWORD length = sizeof(buffer);
        bool ok = client->Read(buffer, &length, false);
        breaker.join();
        EXPECT_EQ(ok, c.readOk);
        if (ok) {
            EXPECT_EQ(length, 0u);
        }
        EXPECT_EQ(mCancel.IsSignalled() != 0, c.cancelled);
        EXPECT_EQ(client->GetLastErrorCode(), ERROR_INTERNET_CONNECTION_RESET);
    }
    mCancel.Reset();
}

TEST_F(CKVXWinINetAsyncTest, PostsAndStreamedPost) {
    Gate gotChunk;
    std::string streamed;
    InetTestServer server([&](const HttpRequest& r, Conn& c) {
        if (r.Header("transfer-encoding") == "chunked") {
            char buf[256];
            while (streamed.find("hello\r\n") == std::string::npos) {
                size_t n = c.Recv(buf, sizeof(buf));
                if (n == 0)
                    break;
                streamed.append(buf, n);
            }
            gotChunk.Open();
            c.CloseAfter();
            return;
        }
        c.Send(Response(200, "OK", r.method + "|" + r.Header("content-type") + "|" + r.body));
    });
    auto client = NewClient(server.Port(), "cam", "pw");
    ASSERT_TRUE(client->Post("/setting.cgi", "motion=1&level=3"));
    EXPECT_EQ(client->GetStatusCode(), 200);
    EXPECT_EQ(ReadAll(*client).body, "POST|application/x-www-form-urlencoded|motion=1&level=3");
    // The form POST adds no header of its own; the connection's credentials
    // go out once.
    EXPECT_EQ(server.Requests().back().headerCount("authorization"), 1);
    EXPECT_EQ(server.Requests().back().Header("authorization"), "Basic Y2FtOnB3");

    ASSERT_TRUE(client->BeginPost("/audio.cgi"));
    ASSERT_TRUE(client->Write("hello", 5));
    EXPECT_TRUE(client->EndPost());
    ASSERT_TRUE(gotChunk.Wait());
    EXPECT_EQ(streamed, "5\r\nhello\r\n");
    HttpRequest upload = server.Requests().back();
    EXPECT_EQ(upload.target, "/audio.cgi");
    EXPECT_EQ(upload.Header("authorization"), "Basic Y2FtOnB3");
    EXPECT_TRUE(client->Disconnect());
    EXPECT_FALSE(client->Write("x", 1));
}

// Destroying a client in the middle of an endless transfer is safe and ends
// the layer's worker.
TEST_F(CKVXWinINetAsyncTest, DestroyDuringTransfer) {
    InetTestServer server([](const HttpRequest&, Conn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=x\r\n\r\n");
        std::string part(8192, 'm');
        while (c.Send(part)) {
        }
        c.CloseAfter();
    });
    int before = os::inet::GetLiveSessionCountForTest();
    for (int i = 0; i < 5; ++i) {
        auto client = NewClient(server.Port());
        ASSERT_TRUE(client->Get("/stream"));
        std::string buffer(1000, '\0');
        DWORD length = static_cast<DWORD>(buffer.size());
        ASSERT_TRUE(client->Read(buffer.data(), &length, true));
        EXPECT_EQ(buffer, std::string(1000, 'm'));
    }
    EXPECT_EQ(os::inet::GetLiveSessionCountForTest(), before);
}

// Against nginx, a server nobody here wrote, through the link as the viewer
// uses it; every body must equal what the curl tool fetches.
std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 251);
    return s;
}

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

class CKVXWinINetAsyncNginxTest : public testing::Test {
protected:
    void SetUp() override {
        if (!NginxProcess::Available())
            GTEST_SKIP() << "nginx is not installed (Debian package nginx-light)";
        const char* server = R"(
            root ROOT;
            types { text/plain txt; text/html html; }
            absolute_redirect off;
            keepalive_requests 1000;
            location / { }
            location /secret/ { auth_basic "camera"; auth_basic_user_file ROOT/../htpasswd; }
            location = /r1 { return 302 /r2; }
            location = /r2 { return 302 /big.bin; }
            location = /conn { return 200 "$connection\n"; }
            location /ssi/ { ssi on; ssi_types text/plain; }
        )";
        mNginx = std::make_unique<NginxProcess>(
            server, std::vector<std::pair<std::string, std::string>>{
                        {"index.html", "hello from nginx\n"},
                        {"big.bin", Pattern(300000)},
                        {"secret/index.html", "secret page\n"},
                        {"ssi/part.txt", Pattern(3000)},
                        {"ssi/page.txt", "head<!--# include file=\"part.txt\" -->middle"
                                         "<!--# include file=\"part.txt\" -->tail\n"},
                    });
        ASSERT_TRUE(mNginx->Ok()) << "nginx did not start in " << mNginx->Dir();
        std::FILE* f = std::fopen((mNginx->Dir() + "/htpasswd").c_str(), "w");
        ASSERT_TRUE(f);
        std::fputs("admin:{PLAIN}secret\n", f);
        std::fclose(f);
    }

    // Fetches through a fresh asynchronous client pair; returns the body.
    std::string Fetch(const std::string& path, const std::string& user, const std::string& password,
                      int* status, bool* ok) {
        CManualEvent cancel;
        CHttpLink* link = nullptr;
        IHttpClient* client = nullptr;
        EXPECT_TRUE(CreateHttpClient(kHttpClientWinINet, user, password, &cancel, &link, &client));
        std::unique_ptr<CHttpLink> linkOwner(link);
        std::unique_ptr<IHttpClient> clientOwner(client);
        EXPECT_NE(dynamic_cast<CKVXWinINetAsync*>(client), nullptr);
        CUrl url;
        EXPECT_TRUE(url.Crack(mNginx->Url(path)));
        media_util::CMemoryStream stream;
        *ok = link->FetchInto(url, stream);
        *status = client->GetStatusCode();
        return std::string(reinterpret_cast<const char*>(stream.GetBuffer()), stream.GetLength());
    }

    std::unique_ptr<NginxProcess> mNginx;
};

TEST_F(CKVXWinINetAsyncNginxTest, BodiesMatchCurl) {
    struct Case {
        const char* path;
        const char* user;
        const char* password;
        bool ok;
        int status;
    } cases[] = {
        {"/", "", "", true, 200},
        {"/big.bin", "", "", true, 200},
        {"/r1", "", "", true, 200}, // two 302 answers, then the file
        {"/secret/", "admin", "secret", true, 200},
        {"/ssi/page.txt", "", "", true, 200}, // SSI output is sent chunked
        // Refused: the client gives up after its retries; the link saw no body.
        {"/secret/", "", "", false, 401},
        {"/secret/", "admin", "wrong", false, 401},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.user + ":" + c.password);
        int status = 0;
        bool ok = false;
        std::string body = Fetch(c.path, c.user, c.password, &status, &ok);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(status, c.status);
        if (!c.ok)
            continue;
        std::string credentials = *c.user ? std::string("-u ") + c.user + ":" + c.password + " " : "";
        std::string expected =
            Shell("curl -s -L --max-time 10 " + credentials + "'" + mNginx->Url(c.path) + "'");
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(expected.size(), body.size());
        EXPECT_TRUE(expected == body);
    }
}

TEST_F(CKVXWinINetAsyncNginxTest, ChunkedBodyAndKeepAlive) {
    CManualEvent cancel;
    CKVXWinINetAsync client;
    client.SetCancelEvent(&cancel);
    ASSERT_TRUE(client.Connect("127.0.0.1", mNginx->Port(), true));
    ASSERT_TRUE(client.Get("/ssi/page.txt"));
    EXPECT_EQ(client.GetResponseHeader("Transfer-Encoding"), "chunked");
    const std::string expected = "head" + Pattern(3000) + "middle" + Pattern(3000) + "tail\n";
    ReadResult page = CKVXWinINetAsyncTest::ReadAll(client, 1000);
    EXPECT_TRUE(page.ok);
    EXPECT_TRUE(page.body == expected);
    std::string first;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(client.Get("/conn"));
        ASSERT_EQ(client.GetStatusCode(), 200);
        std::string body = CKVXWinINetAsyncTest::ReadAll(client).body;
        if (i == 0)
            first = body;
        EXPECT_EQ(body, first);
    }
    EXPECT_FALSE(first.empty());
}

#ifdef CAMSIM_PATH
// The same client against the device simulator.
class CKVXWinINetAsyncCamsimTest : public CKVXWinINetAsyncTest {};

TEST_F(CKVXWinINetAsyncCamsimTest, AgainstCamsim) {
    CamsimProcess camsim({"--user", "admin:secret"});
    ASSERT_TRUE(camsim.Ok()) << camsim.FirstLine();
    auto pattern = [](size_t i) { return static_cast<char>(i % 251); };
    std::string chunkedBody;
    for (size_t i = 0; i < 5000; ++i)
        chunkedBody.push_back(pattern(i));
    struct Case {
        const char* path;
        const char* password;
        bool result;
        int status;
        std::string body;
    } cases[] = {
        {"/", "secret", true, 200, "camsim\r\n"},
        {"/", "wrong", false, 401, ""},
        {"/redirect?n=3", "secret", true, 200, "redirected\r\n"},
        {"/chunked?n=5000&sizes=1,7,300,4096&ext=1&pieces=1", "secret", true, 200, chunkedBody},
        {"/chunked?n=5000&sizes=13&upper=1&zeros=3", "secret", true, 200, chunkedBody},
        {"/auth-until?n=1&key=async", "secret", true, 200, "granted\r\n"},
        {"/status?code=404", "secret", true, 404, "status 404\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.password);
        auto client = NewClient(camsim.Port(), "admin", c.password);
        EXPECT_EQ(client->Get(c.path), c.result);
        EXPECT_EQ(client->GetStatusCode(), c.status);
        if (c.result) {
            EXPECT_EQ(ReadAll(*client, 1000).body, c.body);
        }
    }

    // Keep-alive: the second request comes on the same connection.
    auto client = NewClient(camsim.Port(), "admin", "secret");
    ASSERT_TRUE(client->Get("/connection"));
    std::string first = ReadAll(*client).body;
    ASSERT_TRUE(client->Get("/connection"));
    EXPECT_EQ(ReadAll(*client).body, first);
    EXPECT_FALSE(first.empty());

    // A megabyte of generated bytes, every one checked.
    ASSERT_TRUE(client->Get("/bytes?n=1000000"));
    ReadResult big = ReadAll(*client, 8192, true);
    EXPECT_TRUE(big.ok);
    ASSERT_EQ(big.body.size(), 1000000u);
    for (size_t i = 0; i < big.body.size(); ++i)
        ASSERT_EQ(big.body[i], pattern(i)) << i;
}
#endif

} // namespace
