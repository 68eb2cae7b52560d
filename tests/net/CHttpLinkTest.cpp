// Both transports as the viewer creates them (CreateHttpClient: kind 1 the
// socket client, kind 2 the asynchronous client) against the scripted
// loopback server playing devices that misbehave: one that trickles a byte
// at a time, one that never ends its body, one that sends its redirect page
// late, one whose answers end where their framing says on a kept-alive
// connection, one that breaks off an error page, and the request lines both
// put on the wire. Each table runs on both transports; rules of one
// transport alone live in its own test.
#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "platform/CMemoryStream.h"

#include "fakes/ScriptedHttpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace httptest;
using media_util::CManualEvent;
using media_util::CMemoryStream;

namespace {

const int kTransports[] = {kHttpClientSocket, kHttpClientWinINet};

// Upper bound for a call to end after its cancel event or deadline; the
// clients aim at a slice of 50 ms, the rest is slack for loaded sanitizer
// runs. Before the fixes these calls took seconds.
constexpr DWORD kPromptMs = 1000;

// Milliseconds from `from` to now (negative when `from` lies ahead).
int32_t Since(DWORD from) {
    return static_cast<int32_t>(timeGetTime() - from);
}

// A client pair from the factory, as a viewer holds it.
struct Pair {
    explicit Pair(int kind) {
        CHttpLink* rawLink = nullptr;
        IHttpClient* rawClient = nullptr;
        EXPECT_TRUE(CreateHttpClient(kind, "", "", &cancel, &rawLink, &rawClient));
        link.reset(rawLink);
        client.reset(rawClient);
    }
    static void Crack(CUrl* url, uint16_t port, const std::string& path) {
        ASSERT_TRUE(url->Crack("http://127.0.0.1:" + std::to_string(port) + path)) << path;
    }
    bool Open(uint16_t port, const std::string& path) {
        CUrl url;
        Crack(&url, port, path);
        return link->Open(url);
    }
    bool Fetch(uint16_t port, const std::string& path, std::string* body) {
        CUrl url;
        Crack(&url, port, path);
        CMemoryStream stream;
        const bool ok = link->FetchInto(url, stream);
        body->assign(reinterpret_cast<const char*>(stream.GetBuffer()), stream.GetLength());
        return ok;
    }
    CManualEvent cancel;
    std::unique_ptr<CHttpLink> link;
    std::unique_ptr<IHttpClient> client;
};

std::string Chunked(const std::string& data, size_t size) {
    std::string out = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (size_t at = 0; at < data.size(); at += size) {
        const std::string piece = data.substr(at, size);
        char hex[16];
        std::snprintf(hex, sizeof(hex), "%zx", piece.size());
        out += std::string(hex) + "\r\n" + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
}

// A part head that promises 100000 bytes, then one byte every 200 ms: each
// wait of the reader ends quickly, only the whole read never does. A reader
// stopped by its owner or its deadline must end within kPromptMs, keeping
// the bytes it had. (The trickle gives up after 40 bytes, so that a reader
// that never stops still ends the test.)
TEST(CHttpLinkTest, TricklingPeerStopsOnCancelAndDeadline) {
    const struct Case {
        const char* name;
        bool cancel; // else a deadline 500 ms ahead
    } cases[] = {{"cancel_from_another_thread", true}, {"deadline", false}};
    for (int kind : kTransports) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " " << c.name);
            CManualEvent stop, trickling;
            CScriptedHttpServer server([&](const HttpRequest&, Conn& conn) {
                conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
                for (int i = 0; i < 40 && !stop.Wait(200) && conn.Send("x"); ++i)
                    if (i == 2)
                        trickling.Set();
                conn.CloseAfter();
            });
            Pair pair(kind);
            ASSERT_TRUE(pair.Open(server.Port(), "/part"));
            std::atomic<DWORD> stopAt{timeGetTime() + 500};
            std::thread canceller;
            if (c.cancel) {
                canceller = std::thread([&] {
                    if (trickling.Wait(kWaitMs)) {
                        stopAt = timeGetTime();
                        pair.cancel.Set();
                    }
                });
            } else {
                pair.client->SetDeadline(stopAt);
            }
            std::string buffer(100000, '\0');
            DWORD length = static_cast<DWORD>(buffer.size());
            const bool ok = pair.client->Read(buffer.data(), &length, true);
            const int32_t late = Since(stopAt);
            if (canceller.joinable())
                canceller.join();
            stop.Set();
            EXPECT_LT(late, static_cast<int32_t>(kPromptMs));
            EXPECT_TRUE(ok);
            EXPECT_GT(length, 0u);
            EXPECT_EQ(std::string(length, 'x'), buffer.substr(0, length));
            EXPECT_TRUE(pair.client->IsBodyCut());
            // And the next read refuses at once.
            length = 16;
            const DWORD before = timeGetTime();
            EXPECT_FALSE(pair.client->Read(buffer.data(), &length, true));
            EXPECT_LT(Since(before), static_cast<int32_t>(kPromptMs));
        }
    }
}

// A fetch takes the whole answer or fails: it ends by the link's budget or
// its own deadline against a body that never ends, stops at the stream's
// limit against a huge one, and fails on a body cut short. The status is
// reported whatever the fetch returned.
TEST(CHttpLinkTest, FetchIsBoundedInTimeAndSize) {
    const size_t kHuge = 50u * 1000 * 1000;
    const std::string whole = Pattern(1000);
    const struct Case {
        const char* name;
        DWORD budgetMs; // of the link; 0 = none
        DWORD withinMs; // the fetch must end within this
        bool ok;
        size_t minLength;
        size_t maxLength;
    } cases[] = {
        {"/endless?budget", 800, 800 + kPromptMs, false, 1, CMemoryStream::kMaxLength},
        {"/endless", 0, CHttpLink::kFetchDeadlineMs + kPromptMs, false, 1, CMemoryStream::kMaxLength},
        {"/huge", 0, CHttpLink::kFetchDeadlineMs + kPromptMs, false, CMemoryStream::kMaxLength / 2,
         CMemoryStream::kMaxLength},
        {"/cut", 0, kPromptMs, false, 500, 500},
        {"/whole", 0, kPromptMs, true, whole.size(), whole.size()},
    };
    for (int kind : kTransports) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " " << c.name);
            CManualEvent stop;
            CScriptedHttpServer server([&](const HttpRequest& r, Conn& conn) {
                conn.CloseAfter();
                if (r.target == "/whole") {
                    conn.Send(Response(200, "OK", whole));
                } else if (r.target == "/cut") {
                    conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + whole.substr(0, 500));
                } else if (r.target == "/huge") {
                    conn.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kHuge) + "\r\n\r\n");
                    const std::string piece(65536, 'h');
                    for (size_t sent = 0; sent < kHuge && conn.Send(piece); sent += piece.size()) {
                    }
                } else {
                    // A body without end, 1 KiB every 20 ms (given up after 20 s,
                    // so that a fetch that never stops still ends the test).
                    conn.Send("HTTP/1.1 200 OK\r\n\r\n");
                    for (int i = 0; i < 1000 && !stop.Wait(20) && conn.Send(std::string(1024, 'e')); ++i) {
                    }
                }
            });
            Pair pair(kind);
            if (c.budgetMs != 0)
                pair.link->SetDeadline(timeGetTime() + c.budgetMs);
            const DWORD start = timeGetTime();
            std::string body;
            const bool ok = pair.Fetch(server.Port(), c.name, &body);
            const int32_t took = Since(start);
            stop.Set();
            EXPECT_EQ(c.ok, ok);
            EXPECT_LT(took, static_cast<int32_t>(c.withinMs));
            EXPECT_GE(body.size(), c.minLength);
            EXPECT_LE(body.size(), c.maxLength);
            EXPECT_EQ(200, pair.client->GetStatusCode());
            EXPECT_FALSE(pair.link->IsOpened());
            if (c.ok) {
                EXPECT_TRUE(body == whole);
            }
        }
    }
}

// The link's budget and its Open deadline bound an Open against a device
// that takes the request and never answers; the deadline the caller had set
// on the client is back when the call returns.
TEST(CHttpLinkTest, OpenIsBoundedAndLeavesTheClientsDeadline) {
    CScriptedHttpServer server([](const HttpRequest& r, Conn& conn) {
        if (r.target == "/ok")
            conn.Send(Response(200, "OK", "fine"));
        // anything else: no answer at all
    });
    const struct Case {
        const char* path;
        bool callerDeadline; // the caller's own, far ahead
        bool ok;
    } cases[] = {
        {"/ok", false, true}, {"/ok", true, true}, {"/silent", false, false}, {"/silent", true, false}};
    for (int kind : kTransports) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " " << c.path << " " << c.callerDeadline);
            Pair pair(kind);
            const DWORD own = timeGetTime() + 60000;
            if (c.callerDeadline)
                pair.client->SetDeadline(own);
            pair.link->SetDeadline(timeGetTime() + 300);
            const DWORD start = timeGetTime();
            EXPECT_EQ(c.ok, pair.Open(server.Port(), c.path));
            EXPECT_LT(Since(start), static_cast<int32_t>(300 + kPromptMs));
            EXPECT_EQ(c.callerDeadline, pair.client->HasDeadline());
            if (c.callerDeadline) {
                EXPECT_EQ(own, pair.client->GetDeadline());
            }
            pair.link->Close();
        }
    }
}

// A 302 whose page comes after a pause: the page is read (by its length or
// its chunks) before the redirect is followed, or, when its length is not
// known, the redirect goes out on a fresh connection. Either way the bytes
// the caller gets are exactly the target's body.
TEST(CHttpLinkTest, RedirectWithALatePage) {
    const std::string page = "<html>moved</html>\r\n";
    const std::string target = "the target's body";
    const struct Case {
        const char* name;
        std::string head; // after the Location line
        std::string late; // sent 300 ms after the head
        bool closes;
    } cases[] = {
        {"length", "Content-Length: " + std::to_string(page.size()) + "\r\n\r\n", page, false},
        {"chunked", "Transfer-Encoding: chunked\r\n\r\n",
         Chunked(page, 7).substr(Chunked(page, 7).find("\r\n\r\n") + 4), false},
        {"unknown_length", "\r\n", page, true},
    };
    for (int kind : kTransports) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " " << c.name);
            CManualEvent never;
            CScriptedHttpServer server([&](const HttpRequest& r, Conn& conn) {
                if (r.target != "/from") {
                    conn.Send(Response(200, "OK", target));
                    return;
                }
                conn.Send("HTTP/1.1 302 Found\r\nLocation: /to\r\n" + c.head);
                never.Wait(300); // the device is slow to send its page
                conn.Send(c.late);
                if (c.closes)
                    conn.CloseAfter();
            });
            Pair pair(kind);
            std::string body;
            EXPECT_TRUE(pair.Fetch(server.Port(), "/from", &body));
            EXPECT_EQ(200, pair.client->GetStatusCode());
            EXPECT_EQ(target, body);
            EXPECT_EQ(1u, server.CountTarget("/to"));
        }
    }
}

// Paths are decoded text (CUrl decodes escapes); both transports put the
// same, well-formed request line on the wire for them: what cannot stand on a
// request line escaped, a "%" of the text as "%25", and never a raw CR or LF
// that would add a header line.
TEST(CHttpLinkTest, RequestLinesOnTheWire) {
    const struct Case {
        const char* url; // after http://127.0.0.1:PORT
        const char* target;
    } cases[] = {
        {"/vb.htm?getmachinecode", "/vb.htm?getmachinecode"},
        {"/a%20b", "/a%20b"},
        {"/a b", "/a%20b"},
        {"/%0d%0aX-Injected:%201", "/%0D%0AX-Injected:%201"},
        {"/x?k=v%0D%0AX-Injected: 1", "/x?k=v%0D%0AX-Injected:%201"},
        {"/100%25", "/100%25"},
        {"/a%zz%4", "/a%25zz%254"},
        {"/%2541", "/%2541"},
        {"/%41", "/A"},
        {"/caf%C3%A9?n=%E2%82%AC", "/caf%C3%A9?n=%E2%82%AC"},
        {"/cgi?name=a%20b&x=%22q%22", "/cgi?name=a%20b&x=%22q%22"},
        {"/p?q=1#top", "/p?q=1%23top"},
    };
    for (int kind : kTransports) {
        CScriptedHttpServer server(
            [](const HttpRequest&, Conn& conn) { conn.Send(Response(200, "OK", "ok")); });
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " " << c.url);
            Pair pair(kind);
            std::string body;
            EXPECT_TRUE(pair.Fetch(server.Port(), c.url, &body));
            const std::vector<HttpRequest> requests = server.Requests();
            ASSERT_FALSE(requests.empty());
            const HttpRequest& seen = requests.back();
            EXPECT_EQ("GET " + std::string(c.target) + " HTTP/1.1\r\n",
                      seen.head.substr(0, seen.head.find("\r\n") + 2));
            EXPECT_EQ(0, seen.HeaderCount("x-injected"));
        }
    }
}

// Answers whose end is known end there on a kept-alive connection, far
// below the 3 s receive time-out that waiting for more would cost; a refused
// connection fails as soon as it is refused.
TEST(CHttpLinkTest, KnownEndsAreNotWaitedOut) {
    const std::string data = Pattern(5000);
    const struct Case {
        const char* path;
        int status;
        bool ok;
        std::string body;
    } cases[] = {
        {"/chunked", 200, true, data},   {"/error-page", 404, true, "not here"},
        {"/empty-error", 500, true, ""}, {"/no-content", 204, true, ""},
        {"/refused", 0, false, ""},
    };
    uint16_t closedPort = 0;
    ::close(ListenOnLoopback(1, &closedPort));
    CScriptedHttpServer server([&](const HttpRequest& r, Conn& conn) {
        if (r.target == "/chunked")
            conn.Send(Chunked(data, 1000));
        else if (r.target == "/error-page")
            conn.Send(Response(404, "Not Found", "not here"));
        else if (r.target == "/empty-error")
            conn.Send(Response(500, "Oops", ""));
        else
            conn.Send("HTTP/1.1 204 No Content\r\n\r\n");
    });
    for (int kind : kTransports) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " " << c.path);
            Pair pair(kind);
            const DWORD start = timeGetTime();
            std::string body;
            const uint16_t port = c.status != 0 ? server.Port() : closedPort;
            EXPECT_EQ(c.ok, pair.Fetch(port, c.path, &body));
            EXPECT_LT(Since(start), static_cast<int32_t>(kPromptMs));
            EXPECT_EQ(c.status, pair.client->GetStatusCode());
            EXPECT_EQ(c.body.size(), body.size());
            EXPECT_TRUE(c.body == body);
        }
    }
}

// An error page the device breaks off fails that exchange, and nothing more:
// the owner's cancel event, shared with the owner's other work, stays as the
// owner left it, and the next request on the same client works.
TEST(CHttpLinkTest, BrokenErrorPageLeavesTheCancelEventAlone) {
    CScriptedHttpServer server([](const HttpRequest& r, Conn& conn) {
        if (r.target == "/broken") {
            conn.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\nnot");
            conn.CloseAfter();
            return;
        }
        conn.Send(Response(200, "OK", "camera"));
    });
    for (int kind : kTransports) {
        SCOPED_TRACE(testing::Message() << "kind " << kind);
        Pair pair(kind);
        std::string body;
        EXPECT_FALSE(pair.Fetch(server.Port(), "/broken", &body));
        EXPECT_EQ(404, pair.client->GetStatusCode());
        EXPECT_FALSE(pair.cancel.IsSignalled());
        EXPECT_TRUE(pair.client->IsUsable());
        EXPECT_TRUE(pair.Fetch(server.Port(), "/", &body));
        EXPECT_EQ("camera", body);
    }
}

} // namespace
