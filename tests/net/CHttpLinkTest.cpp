// The HTTP link's open/read/close sequence and the client factory, over the
// socket client with a scripted peer.
#include "net/CHttpLink.h"
#include "net/CHttpSocketClient.h"
#include "net/CUrl.h"
#include "platform/CMemoryStream.h"

#include "fakes/ScriptedSocket.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Rig {
    Rig() : client(&socket), link(&client) { client.SetCancelEvent(&cancel); }
    // A URL that lives as long as the rig (CUrl cannot be copied).
    const CUrl& Url(const std::string& text) {
        mUrls.push_back(std::make_unique<CUrl>());
        EXPECT_TRUE(mUrls.back()->Crack(text));
        return *mUrls.back();
    }
    std::vector<std::unique_ptr<CUrl>> mUrls;
    media_util::CManualEvent cancel;
    CScriptedSocket socket;
    CHttpSocketClient client;
    CHttpLink link;
};

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello world";

TEST(CHttpLinkTest, OpenConnectsAndRequestsPathAndQuery) {
    Rig rig;
    rig.socket.mAnswers.push_back(kOk);
    CUrl url;
    ASSERT_TRUE(url.Crack("http://cam.example:8080/vb.htm?getmachinecode"));
    ASSERT_TRUE(rig.link.Open(url));
    EXPECT_TRUE(rig.link.IsOpened());
    EXPECT_TRUE(rig.socket.mLastBounded);
    EXPECT_EQ(0u, rig.socket.mSent.find("GET /vb.htm?getmachinecode HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, rig.socket.mSent.find("\r\nHost: cam.example\r\n"));
    char buffer[64];
    DWORD length = sizeof(buffer);
    ASSERT_TRUE(rig.link.Read(buffer, &length, true));
    EXPECT_EQ("hello world", std::string(buffer, length));
    // The body is complete: the client says so with length 0, the link with false.
    length = sizeof(buffer);
    EXPECT_FALSE(rig.link.Read(buffer, &length, true));
    rig.link.Close();
    EXPECT_FALSE(rig.link.IsOpened());
    EXPECT_EQ(1, rig.socket.mCloseCalls);
}

TEST(CHttpLinkTest, OpenRefusals) {
    struct Case {
        const char* name;
        bool setCancel;
        bool signalled;
        bool connects;
        std::string answer;
        int connectCalls;
        int closeCalls;
    };
    const Case cases[] = {
        {"no_cancel_event", false, false, true, kOk, 0, 0},
        {"cancelled", true, true, true, kOk, 0, 0},
        {"connect_fails", true, false, false, kOk, 1, 0},
        {"head_fails", true, false, true, "garbage", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedSocket socket;
        socket.mAnswers.push_back(c.answer);
        socket.mConnectResult = c.connects;
        CHttpSocketClient client(&socket);
        media_util::CManualEvent cancel;
        if (c.setCancel)
            client.SetCancelEvent(&cancel);
        if (c.signalled)
            cancel.Set();
        CHttpLink link(&client);
        CUrl url;
        ASSERT_TRUE(url.Crack("http://127.0.0.1/"));
        EXPECT_FALSE(link.Open(url));
        EXPECT_FALSE(link.IsOpened());
        EXPECT_EQ(c.connectCalls, socket.mConnectCalls);
        EXPECT_EQ(c.closeCalls, socket.mCloseCalls);
        char buffer[8];
        DWORD length = sizeof(buffer);
        EXPECT_FALSE(link.Read(buffer, &length, false));
    }
}

TEST(CHttpLinkTest, OpenUrlRefusesWhatDoesNotParse) {
    Rig rig;
    EXPECT_FALSE(rig.link.OpenUrl(""));
    EXPECT_FALSE(rig.link.OpenUrl("not a url"));
    EXPECT_EQ(0, rig.socket.mConnectCalls);
}

TEST(CHttpLinkTest, FetchIntoCollectsTheBodyInPieces) {
    Rig rig;
    std::string body(20000, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7);
    rig.socket.mAnswers.push_back("HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n" + body);
    std::vector<int> asked;
    rig.socket.mCut = [&asked](int, int ask, int) {
        asked.push_back(ask);
        return ask;
    };
    media_util::CMemoryStream stream;
    ASSERT_TRUE(rig.link.FetchInto(rig.Url("http://h/big"), stream));
    ASSERT_EQ(body.size(), stream.GetLength());
    EXPECT_TRUE(std::equal(body.begin(), body.end(), reinterpret_cast<const char*>(stream.GetBuffer())));
    EXPECT_FALSE(rig.link.IsOpened());
    for (size_t i = 1; i < asked.size(); ++i) // after the head read
        EXPECT_LE(asked[i], static_cast<int>(CHttpLink::kFetchPieceBytes));
}

TEST(CHttpLinkTest, FetchRefusedWhileOpen) {
    Rig rig;
    rig.socket.mAnswers = {kOk, kOk};
    ASSERT_TRUE(rig.link.Open(rig.Url("http://h/")));
    media_util::CMemoryStream stream;
    EXPECT_FALSE(rig.link.FetchInto(rig.Url("http://h/"), stream));
    EXPECT_TRUE(stream.IsEmpty());
}

TEST(CHttpLinkTest, FetchTextAndStatus) {
    struct Case {
        const char* name;
        std::string answer;
        bool textOk;
        std::string text;
        int status;
    };
    const Case cases[] = {
        {"ok", kOk, true, "prefix:hello world", 200},
        {"empty_body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, "prefix:", 200},
        {"not_found", "HTTP/1.1 404 Not Found\r\n\r\n", false, "prefix:", 404},
        {"no_answer", "", false, "prefix:", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            Rig rig;
            rig.socket.mAnswers.push_back(c.answer);
            std::string text = "prefix:";
            EXPECT_EQ(c.textOk, rig.link.FetchText(rig.Url("http://h/"), text));
            EXPECT_EQ(c.text, text);
        }
        {
            Rig rig;
            rig.socket.mAnswers.push_back(c.answer);
            EXPECT_EQ(c.status, rig.link.FetchStatus(rig.Url("http://h/")));
        }
    }
}

TEST(CHttpLinkTest, CreateHttpClientBuildsTheSocketPair) {
    struct Case {
        const char* user;
        const char* password;
        std::string token;
    };
    for (const Case& c : {Case{"admin", "1234", "YWRtaW46MTIzNA=="}, Case{"", "1234", ""}}) {
        SCOPED_TRACE(c.user);
        media_util::CManualEvent cancel;
        CHttpLink* link = nullptr;
        IHttpClient* client = nullptr;
        ASSERT_TRUE(CreateHttpClient(kHttpClientSocket, c.user, c.password, &cancel, &link, &client));
        std::unique_ptr<CHttpLink> linkOwner(link);
        std::unique_ptr<IHttpClient> clientOwner(client);
        auto* socketClient = dynamic_cast<CHttpSocketClient*>(client);
        ASSERT_NE(nullptr, socketClient);
        EXPECT_EQ(client, link->GetClient());
        EXPECT_FALSE(link->IsOpened());
        EXPECT_EQ(c.token, socketClient->GetAuthorization());
        EXPECT_EQ(*c.user ? CHttpCredential::kKindServer : 0, client->GetCredentials()->mKind);
        EXPECT_EQ(std::string(c.user), client->GetCredentials()->mUser);
        EXPECT_TRUE(client->IsUsable());
        cancel.Set();
        EXPECT_FALSE(client->IsUsable());
    }
}

TEST(CHttpLinkTest, CreateHttpClientOtherKindIsNotTheSocketClient) {
    media_util::CManualEvent cancel;
    CHttpLink* link = nullptr;
    IHttpClient* client = nullptr;
    if (!CreateHttpClient(kHttpClientWinINet, "u", "p", &cancel, &link, &client)) {
        EXPECT_EQ(nullptr, link);
        EXPECT_EQ(nullptr, client);
        GTEST_SKIP() << "the asynchronous client is not built";
    }
    std::unique_ptr<CHttpLink> linkOwner(link);
    std::unique_ptr<IHttpClient> clientOwner(client);
    EXPECT_EQ(nullptr, dynamic_cast<CHttpSocketClient*>(client));
    EXPECT_EQ("u", client->GetCredentials()->mUser);
    EXPECT_TRUE(client->IsUsable());
}

} // namespace
