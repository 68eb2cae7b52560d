// The parameter CGI through the real socket client to a device on 127.0.0.1:
// what goes on the wire, byte for byte, and replies framed either way.
#include "device/CReplyParser.h"
#include "device/FakeDevice.h"
#include "fakes/ScriptedHttpServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

TEST(CReplyParserLoopbackTest, BatchedQueryOnTheWire) {
    for (bool noLength : {false, true}) {
        SCOPED_TRACE(noLength ? "replies ended by the close" : "replies with Content-Length");
        SParamDevice script;
        script.mPaths["/vb.htm?key3"] = Refused();
        media_util::CSlowHash params;
        for (int i = 0; i < 10; ++i) {
            const std::string key = "key" + std::to_string(i);
            script.mLines[key] = "OK " + key + "=" + std::to_string(i * 11);
            params.Add(key, "");
        }
        // One request per connection; a refused answer is a close without a response.
        std::mutex scriptLock;
        httptest::CScriptedHttpServer device([&](const httptest::HttpRequest& request, httptest::Conn& conn) {
            conn.CloseAfter();
            std::lock_guard<std::mutex> lock(scriptLock);
            const SAnswer answer = script(request.target);
            if (answer.refused)
                return;
            const std::string length = "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
            conn.Send("HTTP/1.1 200 X\r\n" + (noLength ? "" : length) + "Connection: close\r\n\r\n" +
                      answer.body);
        });
        ASSERT_NE(device.Port(), 0);
        media_util::CManualEvent cancel;
        CHttpLink* link = nullptr;
        IHttpClient* client = nullptr;
        ASSERT_TRUE(CreateHttpClient(kHttpClientSocket, "user", "pw", &cancel, &link, &client));
        const std::unique_ptr<IHttpClient> clientOwner(client);
        const std::unique_ptr<CHttpLink> linkOwner(link);
        CUrl url;
        ASSERT_NE(url.Crack("http://127.0.0.1:" + std::to_string(device.Port()) + "/"), 0);
        CReplyParser parser(link, &url, "/vb.htm?");

        EXPECT_EQ(parser.Query(params), 1);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(params.GetValueAt(static_cast<size_t>(i)),
                      "OK key" + std::to_string(i) + "=" + std::to_string(i * 11));
        // This request is closed without an answer.
        std::string out = "old";
        EXPECT_EQ(parser.QueryOne("key3", out), 0);
        EXPECT_EQ(out, "");

        const std::vector<httptest::HttpRequest> requests = device.Requests();
        ASSERT_EQ(requests.size(), 3u);
        // "user:pw" in Base64 is "dXNlcjpwdw==".
        EXPECT_EQ(requests[0].head, "GET /vb.htm?key0&key1&key2&key3&key4&key5&key6&key7 HTTP/1.1\r\n"
                                    "Authorization: Basic dXNlcjpwdw==\r\n"
                                    "User-Agent: Vantor Agent\r\n"
                                    "Host: 127.0.0.1\r\n"
                                    "Connection: Keep-Alive\r\n"
                                    "Cache-Control: no-cache\r\n\r\n");
        EXPECT_EQ(requests[1].target, "/vb.htm?key8&key9");
        EXPECT_EQ(requests[2].target, "/vb.htm?key3");
    }
}

} // namespace
