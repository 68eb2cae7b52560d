// Both HTTP transports, as the viewer creates them, against real servers on
// loopback: camsim (written here from the wire format) and nginx (written by
// nobody here; every body must equal what the curl tool fetches).
#include "net/CHttpLink.h"
#include "net/CHttpSocketClient.h"
#include "net/CUrl.h"
#include "platform/CMemoryStream.h"

#include "fakes/CamsimProcess.h"
#include "fakes/Loopback.h"
#include "fakes/NginxProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

std::string Curl(const std::string& arguments) {
    std::string out;
    if (FILE* pipe = ::popen(("curl -s -L --max-time 30 " + arguments).c_str(), "r")) {
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

const int kTransports[] = {kHttpClientSocket, kHttpClientWinINet};

// A client pair from the factory, as a viewer holds it.
struct Pair {
    Pair(int kind, const std::string& user, const std::string& password) {
        CHttpLink* rawLink = nullptr;
        IHttpClient* rawClient = nullptr;
        EXPECT_TRUE(CreateHttpClient(kind, user, password, &cancel, &rawLink, &rawClient));
        link.reset(rawLink);
        client.reset(rawClient);
    }
    std::string Fetch(const std::string& url, bool* ok) {
        CUrl parsed;
        EXPECT_TRUE(parsed.Crack(url));
        media_util::CMemoryStream stream;
        *ok = link->FetchInto(parsed, stream);
        return std::string(reinterpret_cast<const char*>(stream.GetBuffer()), stream.GetLength());
    }
    // Connect, Get and the whole body straight through the client, for a host
    // that a URL cannot carry as it is (a bare IPv6 literal).
    std::string Exchange(const std::string& host, uint16_t port, const std::string& target, bool* ok) {
        *ok = client->Connect(host, port, true) && client->Get(target);
        std::string body;
        char buffer[8192];
        for (DWORD length = sizeof(buffer); *ok && client->Read(buffer, &length, false) && length > 0;
             length = sizeof(buffer))
            body.append(buffer, length);
        client->Disconnect();
        return body;
    }
    // Two requests on one connection: the server's connection ids must match.
    void ExpectKeepAlive(uint16_t port, const char* path) {
        ASSERT_TRUE(client->Connect("127.0.0.1", port, true));
        std::string ids[2];
        for (std::string& id : ids) {
            ASSERT_TRUE(client->Get(path));
            ASSERT_EQ(200, client->GetStatusCode());
            char buffer[64];
            DWORD length = sizeof(buffer);
            ASSERT_TRUE(client->Read(buffer, &length, true));
            id.assign(buffer, length);
        }
        EXPECT_FALSE(ids[0].empty());
        EXPECT_EQ(ids[0], ids[1]);
    }
    media_util::CManualEvent cancel;
    std::unique_ptr<CHttpLink> link;
    std::unique_ptr<IHttpClient> client;
};

TEST(LoopbackTest, CamsimAnswersThroughBothTransports) {
    CamsimProcess camsim({"--user", "admin:secret"});
    ASSERT_TRUE(camsim.Ok());
    const struct Case {
        std::string path;
        const char* password;
        bool ok;
        int status; // 0: no answer
        std::string body;
        bool socketOnly; // a rule of the socket client alone
    } cases[] = {
        {"/", "secret", true, 200, "camsim\r\n", false},
        {"/", "wrong", false, 401, "", false},
        {"/redirect?n=3", "secret", true, 200, "redirected\r\n", false},
        {"/chunked?n=5000&sizes=1,7,300,4096&ext=1&pieces=1", "secret", true, 200, Pattern(5000), false},
        {"/chunked?n=3000&sizes=17&upper=1&zeros=3&pieces=1", "secret", true, 200, Pattern(3000), false},
        {"/bytes?n=300000", "secret", true, 200, Pattern(300000), false},
        {"/bigheader?len=1000", "secret", true, 200, "big header\r\n", false},
        {"/status?code=404", "secret", false, 404, "", false},
        {"/nolength?n=7000&zero=1", "secret", true, 200, Pattern(7000), true}, // Content-Length 0: unknown
        {"/closehead?at=5", "secret", false, 0, "", false},
        {"/silence", "secret", false, 0, "", false},
    };
    for (int kind : kTransports) {
        for (const Case& c : cases) {
            if (c.socketOnly && kind != kHttpClientSocket)
                continue;
            SCOPED_TRACE(std::to_string(kind) + " " + c.path + " " + c.password);
            Pair pair(kind, "admin", c.password);
            pair.client->SetTimeout(500);
            bool ok = false;
            std::string body = pair.Fetch(camsim.Url(c.path), &ok);
            EXPECT_EQ(c.status, pair.client->GetStatusCode());
            if (c.ok) {
                EXPECT_TRUE(ok);
                EXPECT_EQ(c.body.size(), body.size());
                EXPECT_TRUE(c.body == body);
            } else if (c.status != 401 && c.status != 404) { // a refusal's page is a whole body too
                EXPECT_FALSE(ok);
            }
        }
        SCOPED_TRACE(kind);
        Pair(kind, "admin", "secret").ExpectKeepAlive(camsim.Port(), "/connection");
    }
}

// Devices given by an IPv6 address, as users write them ("[::1]:8080",
// "http://[::1]:8080/"), on both transports against camsim on ::1. camsim's
// /echo sends back the request head as it arrived, so the request line and
// the Host line are checked on the wire: bracketed on both; without port from
// the socket client (as devices expect), with it from libcurl.
TEST(LoopbackTest, BothTransportsReachAnIPv6Device) {
    if (!HasIPv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    CamsimProcess camsim({"--bind", "::1", "--user", "admin:secret"});
    ASSERT_TRUE(camsim.Ok());
    ASSERT_EQ("[::1]", camsim.Host());
    const std::string port = std::to_string(camsim.Port());
    // A name with only an IPv6 address, as a hosts entry gives it. Only the
    // socket transport resolves through the socket layer; libcurl resolves
    // names itself.
    os::SetHostsForTest({{"cam6.test", {"::1"}}});
    const struct Case {
        int transport;
        std::string host;   // in a URL, except a bare literal, which goes to Connect
        std::string target; // decoded, as CUrl yields it
        std::string requestLine;
        std::string hostLine;
    } cases[] = {
        {kHttpClientSocket, "[::1]", "/echo?a=b%20c", "GET /echo?a=b%20c HTTP/1.1", "[::1]"},
        {kHttpClientWinINet, "[::1]", "/echo?a=b%20c", "GET /echo?a=b%20c HTTP/1.1", "[::1]:" + port},
        {kHttpClientSocket, "::1", "/echo?a=b c", "GET /echo?a=b%20c HTTP/1.1", "[::1]"},
        {kHttpClientWinINet, "::1", "/echo?a=b c", "GET /echo?a=b%20c HTTP/1.1", "[::1]:" + port},
        {kHttpClientSocket, "cam6.test", "/echo", "GET /echo HTTP/1.1", "cam6.test"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.transport) + " " + c.host + " " + c.target);
        Pair pair(c.transport, "admin", "secret");
        bool ok = false;
        const std::string head = c.host.find(':') != std::string::npos && c.host.front() != '['
                                     ? pair.Exchange(c.host, camsim.Port(), c.target, &ok)
                                     : pair.Fetch("http://" + c.host + ":" + port + c.target, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(200, pair.client->GetStatusCode());
        EXPECT_EQ(c.requestLine, head.substr(0, head.find("\r\n"))) << head;
        EXPECT_NE(std::string::npos, head.find("\r\nHost: " + c.hostLine + "\r\n")) << head;
        EXPECT_NE(std::string::npos, head.find("\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n")) << head;
    }
    os::SetHostsForTest({});

    // A whole body, and a body that never comes: the deadline ends the read
    // over IPv6 as over IPv4.
    for (int kind : kTransports) {
        SCOPED_TRACE(kind);
        Pair pair(kind, "admin", "secret");
        bool ok = false;
        const std::string body = pair.Fetch(camsim.Url("/bytes?n=300000"), &ok);
        EXPECT_TRUE(ok);
        EXPECT_TRUE(Pattern(300000) == body);
        CUrl silent;
        ASSERT_TRUE(silent.Crack(camsim.Url("/silence?head=1")));
        ASSERT_TRUE(pair.link->Open(silent));
        const DWORD start = timeGetTime();
        pair.client->SetDeadline(start + 300);
        char buffer[64];
        DWORD length = sizeof(buffer);
        EXPECT_FALSE(pair.link->Read(buffer, &length, true));
        const DWORD took = timeGetTime() - start;
        EXPECT_GE(took, 250u);
        EXPECT_LT(took, 1500u);
        pair.client->ClearDeadline();
        pair.link->Close();
    }
}

TEST(LoopbackTest, NginxBodiesMatchCurl) {
    if (!NginxProcess::Available())
        GTEST_SKIP() << "nginx is not installed (Debian package nginx-light)";
    const char* server = R"(
        root ROOT;
        types { text/plain txt; text/html html; }
        absolute_redirect off;
        keepalive_requests 1000;
        location / { }
        location /secret/ { auth_basic "camera"; auth_basic_user_file ROOT/htpasswd; }
        location = /r1 { return 302 /r2; }
        location = /r2 { return 302 /big.bin; }
        location = /conn { return 200 "$connection\n"; }
        location /ssi/ { ssi on; ssi_types text/plain; }
    )";
    NginxProcess nginx(server, {
                                   {"index.html", "hello from nginx\n"},
                                   {"big.bin", Pattern(300000)},
                                   {"htpasswd", "admin:{PLAIN}secret\n"},
                                   {"secret/index.html", "secret page\n"},
                                   {"ssi/part.txt", Pattern(3000)},
                                   {"ssi/page.txt", "head<!--# include file=\"part.txt\" -->middle"
                                                    "<!--# include file=\"part.txt\" -->tail\n"},
                               });
    ASSERT_TRUE(nginx.Ok()) << "nginx did not start in " << nginx.Dir();
    const struct Case {
        const char* path;
        const char* user;
        const char* password;
        int status;
    } cases[] = {
        {"/", "", "", 200},
        {"/big.bin", "", "", 200},
        {"/r1", "", "", 200}, // two 302 answers, then the file
        {"/secret/", "admin", "secret", 200},
        {"/ssi/page.txt", "", "", 200}, // SSI output is sent chunked
        {"/secret/", "", "", 401},
        {"/secret/", "admin", "wrong", 401},
    };
    for (int kind : kTransports) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(kind) + " " + c.path + " " + c.user + ":" + c.password);
            Pair pair(kind, c.user, c.password);
            bool ok = false;
            std::string body = pair.Fetch(nginx.Url(c.path), &ok);
            EXPECT_EQ(c.status, pair.client->GetStatusCode());
            if (c.status != 200)
                continue;
            EXPECT_TRUE(ok);
            std::string credentials = *c.user ? std::string("-u ") + c.user + ":" + c.password + " " : "";
            std::string expected = Curl(credentials + "'" + nginx.Url(c.path) + "'");
            EXPECT_FALSE(expected.empty());
            EXPECT_EQ(expected.size(), body.size());
            EXPECT_TRUE(expected == body);
        }
        SCOPED_TRACE(kind);
        Pair(kind, "", "").ExpectKeepAlive(nginx.Port(), "/conn");
    }
}

} // namespace
