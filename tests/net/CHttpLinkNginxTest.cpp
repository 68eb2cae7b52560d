// The socket client and the HTTP link against nginx on loopback: a server
// nobody here wrote. Each body is also fetched with the curl tool and must
// match byte for byte.
#include "net/CHttpLink.h"
#include "net/CHttpSocketClient.h"
#include "net/CUrl.h"
#include "platform/CMemoryStream.h"

#include "fakes/NginxProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 251);
    return s;
}

const char* kServer = R"(
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

class CHttpLinkNginxTest : public testing::Test {
protected:
    void SetUp() override {
        if (!NginxProcess::Available())
            GTEST_SKIP() << "nginx is not installed (Debian package nginx-light)";
        std::string part = Pattern(3000);
        mNginx = std::make_unique<NginxProcess>(
            kServer, std::vector<std::pair<std::string, std::string>>{
                         {"index.html", "hello from nginx\n"},
                         {"big.bin", Pattern(300000)},
                         {"secret/index.html", "secret page\n"},
                         {"ssi/part.txt", part},
                         {"ssi/page.txt", "head<!--# include file=\"part.txt\" -->middle"
                                          "<!--# include file=\"part.txt\" -->tail\n"},
                     });
        ASSERT_TRUE(mNginx->Ok()) << "nginx did not start in " << mNginx->Dir();
        std::FILE* f = std::fopen((mNginx->Dir() + "/htpasswd").c_str(), "w");
        ASSERT_TRUE(f);
        std::fputs("admin:{PLAIN}secret\n", f);
        std::fclose(f);
    }

    // Fetches through a fresh socket client pair; returns the body.
    std::string Fetch(const std::string& path, const std::string& user, const std::string& password,
                      int* status, bool* ok) {
        media_util::CManualEvent cancel;
        CHttpLink* link = nullptr;
        IHttpClient* client = nullptr;
        EXPECT_TRUE(CreateHttpClient(kHttpClientSocket, user, password, &cancel, &link, &client));
        std::unique_ptr<CHttpLink> linkOwner(link);
        std::unique_ptr<IHttpClient> clientOwner(client);
        client->SetTimeout(500); // a kept-alive chunked body ends with nginx's silence
        CUrl url;
        EXPECT_TRUE(url.Crack(mNginx->Url(path)));
        media_util::CMemoryStream stream;
        *ok = link->FetchInto(url, stream);
        *status = client->GetStatusCode();
        return std::string(reinterpret_cast<const char*>(stream.GetBuffer()), stream.GetLength());
    }

    std::unique_ptr<NginxProcess> mNginx;
};

TEST_F(CHttpLinkNginxTest, BodiesMatchCurl) {
    struct Case {
        const char* path;
        const char* user;
        const char* password;
        int status;
    };
    const Case cases[] = {
        {"/", "", "", 200},
        {"/big.bin", "", "", 200},
        {"/r1", "", "", 200}, // two 302 answers, then the file
        {"/secret/", "admin", "secret", 200},
        {"/ssi/page.txt", "", "", 200}, // SSI output is sent chunked
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        int status = 0;
        bool ok = false;
        std::string body = Fetch(c.path, c.user, c.password, &status, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(c.status, status);
        std::string credentials = *c.user ? std::string("-u ") + c.user + ":" + c.password + " " : "";
        std::string expected =
            Shell("curl -s -L --max-time 10 " + credentials + "'" + mNginx->Url(c.path) + "'");
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(expected.size(), body.size());
        EXPECT_TRUE(expected == body);
    }
}

TEST_F(CHttpLinkNginxTest, SsiOutputIsChunkedAndDecoded) {
    CHttpSocketClient client;
    client.SetTimeout(500);
    ASSERT_TRUE(client.Connect("127.0.0.1", mNginx->Port(), true));
    ASSERT_TRUE(client.Get("/ssi/page.txt"));
    EXPECT_EQ(200, client.GetStatusCode());
    EXPECT_TRUE(client.IsChunked());
    std::string body;
    char buffer[1000];
    DWORD length = sizeof(buffer);
    while (client.Read(buffer, &length, false) && length > 0) {
        body.append(buffer, length);
        length = sizeof(buffer);
    }
    const std::string expected = "head" + Pattern(3000) + "middle" + Pattern(3000) + "tail\n";
    EXPECT_EQ(expected.size(), body.size());
    EXPECT_TRUE(expected == body);
}

TEST_F(CHttpLinkNginxTest, BasicAuthenticationRefused) {
    struct Case {
        const char* user;
        const char* password;
    };
    for (const Case& c : {Case{"", ""}, Case{"admin", "wrong"}, Case{"admin", ""}}) {
        SCOPED_TRACE(std::string(c.user) + ":" + c.password);
        int status = 0;
        bool ok = false;
        Fetch("/secret/", c.user, c.password, &status, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(401, status);
    }
}

TEST_F(CHttpLinkNginxTest, KeepAliveReusesTheConnection) {
    CHttpSocketClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", mNginx->Port(), true));
    std::string first;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(client.Get("/conn"));
        ASSERT_EQ(200, client.GetStatusCode());
        char buffer[64];
        DWORD length = sizeof(buffer);
        ASSERT_TRUE(client.Read(buffer, &length, true));
        std::string body(buffer, length);
        if (i == 0)
            first = body;
        EXPECT_EQ(first, body);
    }
    EXPECT_FALSE(first.empty());
}

} // namespace
