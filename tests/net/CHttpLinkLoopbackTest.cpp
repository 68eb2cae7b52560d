// The socket client and the HTTP link against camsim on loopback: real
// sockets, a peer written from the wire format alone.
#include "net/CHttpLink.h"
#include "net/CHttpSocketClient.h"
#include "net/CUrl.h"
#include "platform/CMemoryStream.h"

#include "fakes/CamsimProcess.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 251);
    return s;
}

struct Pair {
    Pair(const std::string& user, const std::string& password) {
        EXPECT_TRUE(CreateHttpClient(kHttpClientSocket, user, password, &cancel, &rawLink, &rawClient));
        link.reset(rawLink);
        client.reset(rawClient);
        // A chunked body on a kept-alive connection ends with the peer's
        // silence; a short receive time-out keeps that wait small.
        client->SetTimeout(500);
    }
    media_util::CManualEvent cancel;
    CHttpLink* rawLink = nullptr;
    IHttpClient* rawClient = nullptr;
    std::unique_ptr<CHttpLink> link;
    std::unique_ptr<IHttpClient> client;

    std::string Fetch(const std::string& url, bool* ok = nullptr) {
        CUrl parsed;
        EXPECT_TRUE(parsed.Crack(url));
        media_util::CMemoryStream stream;
        bool result = link->FetchInto(parsed, stream);
        if (ok)
            *ok = result;
        return std::string(reinterpret_cast<const char*>(stream.GetBuffer()), stream.GetLength());
    }
};

TEST(CHttpLinkLoopbackTest, BasicAuthenticationAcceptedAndRefused) {
    CamsimProcess camsim({"--user", "admin:secret"});
    ASSERT_TRUE(camsim.Ok()) << camsim.FirstLine();
    struct Case {
        const char* user;
        const char* password;
        int status;
        std::string body;
    };
    const Case cases[] = {
        {"admin", "secret", 200, "camsim\r\n"},
        {"admin", "wrong", 401, ""},
        {"admin", "", 401, ""},
        {"", "", 401, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user + std::string(":") + c.password);
        Pair pair(c.user, c.password);
        // The body of a refusal is read like any other, until the peer
        // stops; a short time-out keeps that wait small.
        pair.client->SetTimeout(300);
        bool ok = false;
        std::string body = pair.Fetch(camsim.Url("/"), &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(c.status, pair.client->GetStatusCode());
        if (c.status == 200) {
            EXPECT_EQ(c.body, body);
        }
    }
}

TEST(CHttpLinkLoopbackTest, BodiesArriveByteExact) {
    CamsimProcess camsim({});
    ASSERT_TRUE(camsim.Ok());
    struct Case {
        std::string path;
        std::string body;
    };
    const Case cases[] = {
        {"/bytes?n=100000", Pattern(100000)},
        {"/redirect?n=3", "redirected\r\n"},
        {"/chunked?n=20000&sizes=1,7,300,4096", Pattern(20000)},
        {"/chunked?n=5000&sizes=3,100&ext=1&zeros=20&pieces=1", Pattern(5000)},
        {"/chunked?n=3000&sizes=17&upper=1&pieces=1", Pattern(3000)},
        {"/trickle?n=50&step=3&delay=1", Pattern(50)},
        {"/nolength?n=7000", Pattern(7000)},
        {"/nolength?n=7000&zero=1", Pattern(7000)},
        {"/bigheader?len=1000", "big header\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Pair pair("", "");
        bool ok = false;
        std::string body = pair.Fetch(camsim.Url(c.path), &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(200, pair.client->GetStatusCode());
        EXPECT_EQ(c.body.size(), body.size());
        EXPECT_TRUE(c.body == body);
    }
}

TEST(CHttpLinkLoopbackTest, BadAnswersFailWithoutHanging) {
    CamsimProcess camsim({});
    ASSERT_TRUE(camsim.Ok());
    const char* paths[] = {"/closehead", "/closehead?at=5", "/bigheader?len=5000", "/silence"};
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        Pair pair("", "");
        pair.client->SetTimeout(300);
        bool ok = true;
        pair.Fetch(camsim.Url(path), &ok);
        EXPECT_FALSE(ok);
    }
}

TEST(CHttpLinkLoopbackTest, KeepAliveReusesTheConnectionAndRedirectsStayOnIt) {
    CamsimProcess camsim({"--fault", "redirect=2"});
    ASSERT_TRUE(camsim.Ok());
    CHttpSocketClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", camsim.Port(), true));
    std::string first;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(client.Get("/connection"));
        EXPECT_EQ(200, client.GetStatusCode());
        char buffer[64];
        DWORD length = sizeof(buffer);
        ASSERT_TRUE(client.Read(buffer, &length, true));
        std::string body(buffer, length);
        if (i == 0)
            first = body;
        EXPECT_EQ(first, body);
    }
    EXPECT_EQ("connection 1\r\n", first);
}

TEST(CHttpLinkLoopbackTest, CancelledClientRefusesToOpen) {
    CamsimProcess camsim({});
    ASSERT_TRUE(camsim.Ok());
    Pair pair("", "");
    pair.cancel.Set();
    bool ok = true;
    pair.Fetch(camsim.Url("/"), &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(0, pair.client->GetStatusCode());
    pair.cancel.Reset();
    std::string text;
    CUrl url;
    ASSERT_TRUE(url.Crack(camsim.Url("/")));
    EXPECT_TRUE(pair.link->FetchText(url, text));
    EXPECT_EQ("camsim\r\n", text);
    CUrl missing;
    ASSERT_TRUE(missing.Crack(camsim.Url("/no-such-resource")));
    pair.client->SetTimeout(300);
    EXPECT_EQ(404, pair.link->FetchStatus(missing));
}

TEST(CHttpLinkLoopbackTest, RateLimitedReadStillDeliversEverything) {
    CamsimProcess camsim({});
    ASSERT_TRUE(camsim.Ok());
    Pair pair("", "");
    pair.client->SetRateLimit(400000); // 20000 bytes: about 50 ms
    EXPECT_EQ(Pattern(20000), pair.Fetch(camsim.Url("/bytes?n=20000")));
}

} // namespace
