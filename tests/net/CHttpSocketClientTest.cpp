// The socket HTTP client against a scripted peer: request bytes, response
// head parsing, body framing (Content-Length, chunked, until close), leftover
// bytes, redirects and the throttle, with every input also split byte by byte
// and at random points.
#include "net/CHttpSocketClient.h"

#include "fakes/ScriptedSocket.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct Outcome {
    bool headOk = false;
    int status = 0;
    std::string body;
    bool lastReadOk = false;
};

// Gets "/x" through a scripted socket holding `answer` and reads the body
// with `readSize`-byte reads until Read fails or reports the end.
Outcome Fetch(const std::string& answer, CScriptedSocket::Cut cut, DWORD readSize = 4096, bool fill = false) {
    CScriptedSocket socket;
    socket.mAnswers.push_back(answer);
    socket.mCut = std::move(cut);
    CHttpSocketClient client(&socket);
    Outcome out;
    EXPECT_TRUE(client.Connect("127.0.0.1", 80, true));
    out.headOk = client.Get("/x");
    out.status = client.GetStatusCode();
    if (!out.headOk)
        return out;
    std::vector<BYTE> buffer(readSize);
    for (int guard = 0; guard < 1000000; ++guard) {
        DWORD length = readSize;
        out.lastReadOk = client.Read(buffer.data(), &length, fill);
        if (!out.lastReadOk || length == 0)
            break;
        EXPECT_LE(length, readSize);
        out.body.append(reinterpret_cast<char*>(buffer.data()), length);
    }
    return out;
}

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 251);
    return s;
}

// Chunked framing of `data` in the given sizes, with an optional suffix on
// each size line.
std::string Chunk(const std::string& data, std::vector<size_t> sizes, const std::string& sizeSuffix = "",
                  const char* format = "%zx") {
    std::string out;
    size_t pos = 0;
    size_t k = 0;
    while (pos < data.size()) {
        size_t n = std::min(sizes[k++ % sizes.size()], data.size() - pos);
        char hex[32];
        std::snprintf(hex, sizeof(hex), format, n);
        out += std::string(hex) + sizeSuffix + "\r\n" + data.substr(pos, n) + "\r\n";
        pos += n;
    }
    return out + "0\r\n\r\n";
}

const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

struct ResponseCase {
    const char* name;
    std::string answer;
    bool headOk;
    int status;
    std::string body;
};

std::vector<ResponseCase> ResponseCases() {
    std::string pattern = Pattern(3000);
    return {
        {"content_length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", true, 200, "hello"},
        {"extra_bytes_after_length_are_not_body", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", true,
         200, "abc"},
        {"zero_length_means_unknown", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nuntil close", true, 200,
         "until close"},
        {"no_length_reads_until_close", "HTTP/1.1 200 OK\r\n\r\n" + pattern, true, 200, pattern},
        {"not_found_still_a_head", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\n", true, 404, ""},
        {"bare_lf_lines", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", true, 200, "ok"},
        {"chunked", kChunkedHead + Chunk(pattern, {1, 2, 3, 100, 1000}), true, 200, pattern},
        {"chunked_with_extensions",
         kChunkedHead + Chunk(pattern, {7, 300}, ";name=\"a long extension value\""), true, 200, pattern},
        {"chunked_zero_padded_sizes", kChunkedHead + Chunk(pattern, {5, 999}, "", "%020zx"), true, 200,
         pattern},
        {"chunked_upper_case_hex", kChunkedHead + Chunk(pattern, {0xAB, 0xCD}, "", "%zX"), true, 200,
         pattern},
        {"transfer_encoding_other_case_is_not_chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n" + Chunk("abc", {3}), true, 200,
         Chunk("abc", {3})},
        {"garbage", "this is not http at all", false, 0, ""},
        {"truncated_head", "HTTP/1.1 200 OK\r\nContent-Len", false, 200, ""},
        {"empty", "", false, 0, ""},
        {"header_line_of_1024_bytes", "HTTP/1.1 200 OK\r\nX: " + std::string(1021, 'a') + "\r\n\r\nok", true,
         200, "ok"},
        {"header_line_over_1024_bytes", "HTTP/1.1 200 OK\r\nX: " + std::string(1022, 'a') + "\r\n\r\nok",
         false, 200, ""},
        {"endless_header", "HTTP/1.1 200 OK\r\n" + std::string(100000, 'h'), false, 200, ""},
    };
}

// The status line must come whole in the first receive: let the first one
// carry it (and one more byte), cut the rest as the test asks.
CScriptedSocket::Cut AfterStatusLine(const std::string& answer, std::function<int(int)> rest) {
    size_t lineEnd = answer.find('\n');
    int first =
        lineEnd == std::string::npos ? static_cast<int>(answer.size()) : static_cast<int>(lineEnd) + 2;
    return [first, rest](int index, int, int) { return index == 0 ? first : rest(index); };
}

TEST(CHttpSocketClientTest, ResponsesWholeSplitByteByByteAndAtRandom) {
    unsigned seed = std::random_device{}();
    std::printf("random split seed %u\n", seed);
    std::mt19937 random(seed);
    for (const ResponseCase& c : ResponseCases()) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<std::string, CScriptedSocket::Cut>> cuts = {
            {"whole", nullptr},
            {"byte_by_byte", AfterStatusLine(c.answer, [](int) { return 1; })},
            {"random",
             AfterStatusLine(c.answer, [&random](int) { return 1 + static_cast<int>(random() % 97); })},
        };
        for (auto& cut : cuts) {
            SCOPED_TRACE(cut.first);
            for (DWORD readSize : {1u, 3u, 8192u}) {
                Outcome out = Fetch(c.answer, cut.second, readSize);
                EXPECT_EQ(c.headOk, out.headOk);
                EXPECT_EQ(c.status, out.status);
                EXPECT_EQ(c.body, out.body);
            }
        }
    }
}

TEST(CHttpSocketClientTest, ChunkedBodySplitAtEveryPoint) {
    const std::string data = Pattern(600);
    const std::string body = Chunk(data, {1, 17, 200}, ";ext=\"0123456789abcdef\"", "%08zx");
    for (size_t at = 1; at < body.size(); ++at) {
        SCOPED_TRACE(at);
        // First receive: the head alone; then the body cut at `at`.
        size_t headSize = kChunkedHead.size();
        Outcome out = Fetch(kChunkedHead + body, [headSize, at](int index, int, int) {
            if (index == 0)
                return static_cast<int>(headSize);
            return index == 1 ? static_cast<int>(at) : 1 << 20;
        });
        ASSERT_EQ(data, out.body);
    }
}

TEST(CHttpSocketClientTest, EndlessFramingEndsTheRead) {
    struct Case {
        const char* name;
        std::string body;
    };
    const Case cases[] = {
        {"endless_size_line", std::string(1 << 20, 'z')},
        {"endless_extension", "5;" + std::string(1 << 20, 'e')},
        {"endless_empty_chunks",
         [] {
             std::string s;
             while (s.size() < (1u << 20))
                 s += "0\r\n";
             return s;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedSocket socket;
        socket.mAnswers.push_back(kChunkedHead + c.body);
        socket.mCut = [](int index, int, int) {
            return index == 0 ? static_cast<int>(kChunkedHead.size()) : 1000;
        };
        CHttpSocketClient client(&socket);
        ASSERT_TRUE(client.Connect("h", 80, true));
        ASSERT_TRUE(client.Get("/"));
        char buffer[100];
        DWORD length = sizeof(buffer);
        EXPECT_FALSE(client.Read(buffer, &length, true));
        EXPECT_EQ(0u, length);
        // It gave up within the bound, long before the peer stopped sending.
        EXPECT_GT(socket.Unread(), c.body.size() / 2);
    }
}

TEST(CHttpSocketClientTest, StatusLineOnlyFromTheFirstReceive) {
    Outcome out = Fetch("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", [](int index, int, int) {
        return index == 0 ? 5 : 100; // "HTTP/" first
    });
    EXPECT_TRUE(out.headOk);
    EXPECT_EQ(0, out.status);
}

TEST(CHttpSocketClientTest, RequestHeadsByteForByte) {
    struct Case {
        const char* name;
        std::string user, password;
        std::string method;
        std::string expected;
    };
    const std::string tail = "\r\nUser-Agent: Vantor Agent\r\nHost: cam.example\r\nConnection: Keep-Alive\r\n"
                             "Cache-Control: no-cache\r\n";
    const Case cases[] = {
        {"get_no_user", "", "", "GET", "GET /vb.htm?a=1 HTTP/1.1" + tail + "\r\n"},
        {"get_empty_user_with_password", "", "secret", "GET", "GET /vb.htm?a=1 HTTP/1.1" + tail + "\r\n"},
        {"get_with_user", "admin", "1234", "GET",
         "GET /vb.htm?a=1 HTTP/1.1\r\nAuthorization: Basic YWRtaW46MTIzNA==" + tail + "\r\n"},
        {"get_empty_password", "admin", "", "GET",
         "GET /vb.htm?a=1 HTTP/1.1\r\nAuthorization: Basic YWRtaW46" + tail + "\r\n"},
        {"post", "admin", "1234", "POST",
         "POST /vb.htm?a=1 HTTP/1.1\r\nAuthorization: Basic YWRtaW46MTIzNA==" + tail +
             "Content-Length: 9\r\n\r\nkey=value"},
        {"begin_post", "", "", "BEGIN", "POST /vb.htm?a=1 HTTP/1.1" + tail + "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedSocket socket;
        socket.mAnswers.push_back("HTTP/1.1 200 OK\r\n\r\n");
        CHttpSocketClient client(&socket);
        client.SetCredentials(CHttpCredential(CHttpCredential::kKindServer, 0, c.user, c.password));
        ASSERT_TRUE(client.Connect("cam.example", 8080, true));
        if (c.method == "GET")
            EXPECT_TRUE(client.Get("/vb.htm?a=1"));
        else if (c.method == "POST")
            EXPECT_TRUE(client.Post("/vb.htm?a=1", "key=value"));
        else
            EXPECT_TRUE(client.BeginPost("/vb.htm?a=1"));
        EXPECT_EQ(c.expected, socket.mSent);
        EXPECT_TRUE(socket.mLastBounded);
    }
}

TEST(CHttpSocketClientTest, RedirectsFollowedOnTheSameConnection) {
    CScriptedSocket socket;
    socket.mAnswers = {"HTTP/1.1 302 Found\r\nLocation: /second?x=%20y\r\n\r\n",
                       "HTTP/1.1 302 Found\r\nLocation: /third\r\n\r\n",
                       "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone"};
    CHttpSocketClient client(&socket);
    ASSERT_TRUE(client.Connect("h", 80, true));
    ASSERT_TRUE(client.Get("/first"));
    EXPECT_EQ(200, client.GetStatusCode());
    ASSERT_EQ(3u, socket.mSends.size());
    EXPECT_EQ(0u, socket.mSends[1].find("GET /second?x=%20y HTTP/1.1\r\n"));
    EXPECT_EQ(0u, socket.mSends[2].find("GET /third HTTP/1.1\r\n"));
    EXPECT_EQ(1, socket.mConnectCalls);
    EXPECT_EQ(0, socket.mCloseCalls);
    char buffer[16];
    DWORD length = sizeof(buffer);
    ASSERT_TRUE(client.Read(buffer, &length, true));
    EXPECT_EQ("done", std::string(buffer, length));
}

TEST(CHttpSocketClientTest, RedirectLoopStopsAtTheCap) {
    CScriptedSocket socket;
    for (int i = 0; i < 100; ++i)
        socket.mAnswers.push_back("HTTP/1.1 302 Found\r\nLocation: /loop\r\n\r\n");
    CHttpSocketClient client(&socket);
    ASSERT_TRUE(client.Connect("h", 80, true));
    EXPECT_TRUE(client.Get("/loop"));
    EXPECT_EQ(302, client.GetStatusCode());
    EXPECT_EQ(static_cast<size_t>(CHttpSocketClient::kMaxRedirects + 1), socket.mSends.size());
}

TEST(CHttpSocketClientTest, SendFailures) {
    struct Case {
        const char* name;
        int failFrom;
        bool expected;
    };
    // A failing first send fails the request; a failing resend after a 302
    // returns the result of that 302's head.
    for (const Case& c : {Case{"first_send", 0, false}, Case{"after_redirect", 1, true}}) {
        SCOPED_TRACE(c.name);
        CScriptedSocket socket;
        socket.mAnswers = {"HTTP/1.1 302 Found\r\nLocation: /b\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\n"};
        socket.mFailSendFrom = c.failFrom;
        CHttpSocketClient client(&socket);
        ASSERT_TRUE(client.Connect("h", 80, true));
        EXPECT_EQ(c.expected, client.Get("/a"));
    }
}

TEST(CHttpSocketClientTest, LeftoverBytesComeFirstAndWithoutFillNoSocketRead) {
    CScriptedSocket socket;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";
    socket.mAnswers.push_back(head + "0123456789");
    // Head and the first 4 body bytes in the first receive.
    const int first = static_cast<int>(head.size()) + 4;
    socket.mCut = [first](int index, int, int) { return index == 0 ? first : 100; };
    CHttpSocketClient client(&socket);
    ASSERT_TRUE(client.Connect("h", 80, true));
    ASSERT_TRUE(client.Get("/"));
    int recvsAfterHead = socket.mRecvCalls;
    char buffer[32];
    DWORD length = 3;
    ASSERT_TRUE(client.Read(buffer, &length, false));
    EXPECT_EQ("012", std::string(buffer, length));
    length = 32;
    ASSERT_TRUE(client.Read(buffer, &length, false));
    EXPECT_EQ("3", std::string(buffer, length));
    EXPECT_EQ(recvsAfterHead, socket.mRecvCalls);
    length = 32;
    ASSERT_TRUE(client.Read(buffer, &length, true));
    EXPECT_EQ("456789", std::string(buffer, length));
    EXPECT_EQ(0, client.GetContentRemaining());
    // The body is complete: true with nothing, and no further receive.
    int recvs = socket.mRecvCalls;
    length = 32;
    EXPECT_TRUE(client.Read(buffer, &length, true));
    EXPECT_EQ(0u, length);
    EXPECT_EQ(recvs, socket.mRecvCalls);
}

TEST(CHttpSocketClientTest, ReadResults) {
    struct Case {
        const char* name;
        std::string answer;
        CScriptedSocket::AtEnd atEnd;
        DWORD ask;
        bool fill;
        bool expectOk;
        std::string expectBody;
    };
    const Case cases[] = {
        {"nothing_then_error", "HTTP/1.1 200 OK\r\n\r\n", CScriptedSocket::AtEnd::Error, 8, true, false, ""},
        {"nothing_then_close", "HTTP/1.1 200 OK\r\n\r\n", CScriptedSocket::AtEnd::PeerClosed, 8, true, false,
         ""},
        {"short_then_close", "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nabc",
         CScriptedSocket::AtEnd::PeerClosed, 8, true, true, "abc"},
        {"request_cut_to_length", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabcdef",
         CScriptedSocket::AtEnd::Error, 8, true, true, "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedSocket socket;
        socket.mAnswers.push_back(c.answer);
        socket.mAtEnd = c.atEnd;
        // The head alone in the first receive, so the body comes from Recv.
        size_t headEnd = c.answer.find("\r\n\r\n") + 4;
        socket.mCut = [headEnd](int index, int, int) {
            return index == 0 ? static_cast<int>(headEnd) : 1 << 20;
        };
        CHttpSocketClient client(&socket);
        ASSERT_TRUE(client.Connect("h", 80, true));
        ASSERT_TRUE(client.Get("/"));
        char buffer[64];
        DWORD length = c.ask;
        EXPECT_EQ(c.expectOk, client.Read(buffer, &length, c.fill));
        EXPECT_EQ(c.expectBody, std::string(buffer, length));
    }
}

TEST(CHttpSocketClientTest, DisconnectDropsLeftoverAndChunkedState) {
    CScriptedSocket socket;
    socket.mAnswers = {kChunkedHead + "5\r\nhel", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"};
    CHttpSocketClient client(&socket);
    ASSERT_TRUE(client.Connect("h", 80, true));
    ASSERT_TRUE(client.Get("/"));
    EXPECT_TRUE(client.IsChunked());
    EXPECT_TRUE(client.Disconnect());
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(client.IsChunked());
    EXPECT_EQ(200, client.GetStatusCode()); // kept
    ASSERT_TRUE(client.Connect("h", 80, true));
    ASSERT_TRUE(client.Get("/"));
    char buffer[8];
    DWORD length = sizeof(buffer);
    ASSERT_TRUE(client.Read(buffer, &length, true));
    EXPECT_EQ("ok", std::string(buffer, length));
}

TEST(CHttpSocketClientTest, ConnectRefusesEmptyHostAndReportsFailure) {
    CScriptedSocket socket;
    CHttpSocketClient client(&socket);
    EXPECT_FALSE(client.Connect("", 80, true));
    EXPECT_EQ(0, socket.mConnectCalls);
    socket.mConnectResult = false;
    EXPECT_FALSE(client.Connect("h", 80, false));
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(socket.mLastBounded);
    EXPECT_FALSE(client.Get("/"));
}

TEST(CHttpSocketClientTest, ThrottleShortfall) {
    struct Case {
        DWORD rate, mark, now, bytes, expected;
    };
    const Case cases[] = {
        {0, 0, 0, 8000, 0},                   // no limit
        {8000, 1000, 1000, 8000, 1000},       // a second's worth, no time spent
        {8000, 1000, 1400, 8000, 600},        // part of it already spent
        {8000, 1000, 2500, 8000, 0},          // more than enough spent
        {8000, 1000, 1000, 0, 0},             // nothing read
        {3000, 0, 0, 1000, 333},              // integer milliseconds
        {8000, 0xFFFFFF00u, 0x10, 8000, 728}, // across the clock's wrap: 272 ms spent
        {8000, 5000, 4000, 8000, 0},          // clock before the mark: no wait
        {1, 0, 0, 0xFFFFFFFFu, 0},            // would be 49 days: saturates to none via the sign check
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " " << c.mark << " " << c.now << " " << c.bytes);
        if (c.rate == 1) {
            // 4294967295000 ms does not fit; the result must at least not wrap to a small number.
            EXPECT_GT(IHttpClient::ThrottleShortfall(c.rate, c.mark, c.now, c.bytes), 1000000u);
            continue;
        }
        EXPECT_EQ(c.expected, IHttpClient::ThrottleShortfall(c.rate, c.mark, c.now, c.bytes));
    }
}

TEST(CHttpSocketClientTest, ThrottledReadDeliversEveryByte) {
    const std::string data = Pattern(300);
    CScriptedSocket socket;
    socket.mAnswers.push_back("HTTP/1.1 200 OK\r\nContent-Length: 300\r\n\r\n" + data);
    socket.mCut = [](int index, int, int) { return index == 0 ? 40 : 50; };
    CHttpSocketClient client(&socket);
    client.SetRateLimit(100000); // 50 bytes = 0.5 ms: the throttle runs but costs nothing
    ASSERT_TRUE(client.Connect("h", 80, true));
    ASSERT_TRUE(client.Get("/"));
    std::string body;
    char buffer[300];
    DWORD length = sizeof(buffer);
    while (client.Read(buffer, &length, true) && length > 0) {
        body.append(buffer, length);
        length = sizeof(buffer);
    }
    EXPECT_EQ(data, body);
}

} // namespace
