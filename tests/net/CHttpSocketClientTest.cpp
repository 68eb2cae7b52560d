// The socket HTTP client and the HTTP link over a scripted peer: request
// bytes, response head parsing, body framing (Content-Length, chunked, until
// close), leftover bytes, redirects and the throttle, with every answer also
// split byte by byte and at random points.
#include "net/CHttpSocketClient.h"
#include "net/CHttpLink.h"
#include "net/CUrl.h"

#include "fakes/Loopback.h"
#include "fakes/ScriptedSocket.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// A socket client connected through a scripted peer.
struct Scripted {
    explicit Scripted(std::deque<std::string> answers, CScriptedSocket::Cut cut = nullptr) : client(&socket) {
        socket.mAnswers = std::move(answers);
        socket.mCut = std::move(cut);
        EXPECT_TRUE(client.Connect("127.0.0.1", 8080, true));
    }
    CScriptedSocket socket;
    CHttpSocketClient client;
};

// Receives cut at `first` bytes for the first one and `rest` after it.
CScriptedSocket::Cut FirstThen(size_t first, int rest) {
    return [first, rest](int index, int, int) { return index == 0 ? static_cast<int>(first) : rest; };
}

struct Outcome {
    bool headOk = false;
    int status = 0;
    std::string body;
};

// Gets "/x" and reads the body with `readSize`-byte reads until Read fails
// or reports the end.
Outcome Fetch(const std::string& answer, CScriptedSocket::Cut cut, DWORD readSize = 4096) {
    Scripted s({answer}, std::move(cut));
    Outcome out;
    out.headOk = s.client.Get("/x");
    out.status = s.client.GetStatusCode();
    std::vector<char> buffer(readSize);
    for (DWORD length = readSize; out.headOk && s.client.Read(buffer.data(), &length, false) && length > 0;
         length = readSize) {
        EXPECT_LE(length, readSize);
        out.body.append(buffer.data(), length);
    }
    return out;
}

// Chunked framing of `data` in the given sizes, each size line printed with
// `format` and followed by `sizeSuffix`.
std::string Chunk(const std::string& data, std::vector<size_t> sizes, const std::string& sizeSuffix = "",
                  const char* format = "%zx") {
    std::string out;
    for (size_t pos = 0, k = 0; pos < data.size(); ++k) {
        size_t n = std::min(sizes[k % sizes.size()], data.size() - pos);
        char hex[32];
        std::snprintf(hex, sizeof(hex), format, n);
        out += std::string(hex) + sizeSuffix + "\r\n" + data.substr(pos, n) + "\r\n";
        pos += n;
    }
    return out + "0\r\n\r\n";
}

const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

TEST(CHttpSocketClientTest, ResponsesWholeSplitByteByByteAndAtRandom) {
    const std::string p = Pattern(3000);
    const struct Case {
        const char* name;
        std::string answer;
        bool headOk;
        int status;
        std::string body;
    } cases[] = {
        {"content_length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", true, 200, "hello"},
        {"bytes_after_length_are_not_body", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", true, 200,
         "abc"},
        {"zero_length_means_unknown", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nuntil close", true, 200,
         "until close"},
        {"no_length_reads_until_close", "HTTP/1.1 200 OK\r\n\r\n" + p, true, 200, p},
        {"not_found_still_a_head", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\n", true, 404, ""},
        {"bare_lf_lines", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", true, 200, "ok"},
        {"chunked", kChunkedHead + Chunk(p, {1, 2, 3, 100, 1000}), true, 200, p},
        {"chunk_extensions", kChunkedHead + Chunk(p, {7, 300}, ";name=\"a long extension value\""), true, 200,
         p},
        {"chunk_sizes_zero_padded", kChunkedHead + Chunk(p, {5, 999}, "", "%020zx"), true, 200, p},
        {"chunk_sizes_upper_case", kChunkedHead + Chunk(p, {0xAB, 0xCD}, "", "%zX"), true, 200, p},
        {"transfer_encoding_is_matched_exactly",
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
    unsigned seed = std::random_device{}();
    SCOPED_TRACE("random split seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The status line must come whole in the first receive: let that one
        // carry it (and one more byte), cut the rest.
        const size_t lineEnd = c.answer.find('\n');
        const int first = static_cast<int>(lineEnd == std::string::npos ? c.answer.size() : lineEnd + 2);
        const std::pair<const char*, CScriptedSocket::Cut> cuts[] = {
            {"whole", nullptr},
            {"byte_by_byte", FirstThen(first, 1)},
            {"random",
             [&](int index, int, int) { return index == 0 ? first : 1 + static_cast<int>(random() % 97); }},
        };
        for (const auto& cut : cuts) {
            SCOPED_TRACE(cut.first);
            for (DWORD readSize : {1u, 8192u}) {
                Outcome out = Fetch(c.answer, cut.second, readSize);
                EXPECT_EQ(c.headOk, out.headOk);
                EXPECT_EQ(c.status, out.status);
                EXPECT_TRUE(c.body == out.body) << out.body.size();
            }
        }
    }
    // A status line split across receives is not taken from the second one.
    Outcome split = Fetch("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", FirstThen(5, 100));
    EXPECT_TRUE(split.headOk);
    EXPECT_EQ(0, split.status);
}

// Size lines longer than a small buffer (padding and an extension), cut at
// every byte of the body: no stall, and no framing byte in the data.
TEST(CHttpSocketClientTest, ChunkedBodySplitAtEveryPoint) {
    const std::string data = Pattern(600);
    const std::string body = Chunk(data, {1, 17, 200}, ";ext=\"0123456789abcdef\"", "%08zx");
    const int headSize = static_cast<int>(kChunkedHead.size());
    for (int at = 1; at < static_cast<int>(body.size()); ++at) {
        SCOPED_TRACE(at);
        Outcome out = Fetch(kChunkedHead + body, [headSize, at](int index, int, int) {
            return index == 0 ? headSize : index == 1 ? at : 1 << 20;
        });
        ASSERT_TRUE(data == out.body);
    }
}

TEST(CHttpSocketClientTest, RequestHeadsByteForByte) {
    const std::string tail = "\r\nUser-Agent: Vantor Agent\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\n"
                             "Cache-Control: no-cache\r\n";
    const std::string auth = "\r\nAuthorization: Basic YWRtaW46MTIzNA==";
    const struct Case {
        const char* user;
        const char* password;
        const char* method;
        std::string expected;
    } cases[] = {
        {"", "", "GET", "GET /vb.htm?a=1 HTTP/1.1" + tail + "\r\n"},
        {"", "secret", "GET", "GET /vb.htm?a=1 HTTP/1.1" + tail + "\r\n"},
        {"admin", "1234", "GET", "GET /vb.htm?a=1 HTTP/1.1" + auth + tail + "\r\n"},
        {"admin", "", "GET", "GET /vb.htm?a=1 HTTP/1.1\r\nAuthorization: Basic YWRtaW46" + tail + "\r\n"},
        {"admin", "1234", "POST",
         "POST /vb.htm?a=1 HTTP/1.1" + auth + tail + "Content-Length: 9\r\n\r\nkey=value"},
        {"", "", "BEGIN", "POST /vb.htm?a=1 HTTP/1.1" + tail + "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.user + ":" + c.password);
        Scripted s({"HTTP/1.1 200 OK\r\n\r\n"});
        s.client.SetCredentials(CHttpCredential(CHttpCredential::kKindServer, 0, c.user, c.password));
        const std::string method = c.method;
        EXPECT_TRUE(method == "GET"    ? s.client.Get("/vb.htm?a=1")
                    : method == "POST" ? s.client.Post("/vb.htm?a=1", "key=value")
                                       : s.client.BeginPost("/vb.htm?a=1"));
        EXPECT_EQ(c.expected, s.socket.mSent);
        EXPECT_TRUE(s.socket.mLastBounded);
    }
}

// The host as Connect gets it, or as a URL names it, decides the address the
// socket connects to and the Host line: an IPv6 literal, bare or bracketed,
// goes out bracketed and without port; a name goes out as it is, whichever
// family it resolved to.
TEST(CHttpSocketClientTest, HostLineAndAddressFollowTheHost) {
    os::SetHostsForTest({{"cam6.test", {"::1"}}, {"dual.test", {"::1", "127.0.0.2"}}});
    const struct Case {
        std::string host; // given to Connect, or a URL when it has "://"
        int family;
        const char* address;
        uint16_t port;
        const char* hostLine;
    } cases[] = {
        {"10.0.0.5", AF_INET, "10.0.0.5", 8080, "10.0.0.5"},
        {"[::1]", AF_INET6, "::1", 8080, "[::1]"},
        {"::1", AF_INET6, "::1", 8080, "[::1]"},
        {"2001:db8::5", AF_INET6, "2001:db8::5", 8080, "[2001:db8::5]"},
        {"cam6.test", AF_INET6, "::1", 8080, "cam6.test"},
        {"dual.test", AF_INET, "127.0.0.2", 8080, "dual.test"},
        {"http://[::1]:8081/x", AF_INET6, "::1", 8081, "[::1]"},
        {"http://[2001:db8::5]/x", AF_INET6, "2001:db8::5", 80, "[2001:db8::5]"},
        {"http://10.0.0.5:8081/x", AF_INET, "10.0.0.5", 8081, "10.0.0.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        CScriptedSocket socket;
        socket.mAnswers = {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"};
        CHttpSocketClient client(&socket);
        media_util::CManualEvent cancel;
        client.SetCancelEvent(&cancel);
        if (c.host.find("://") != std::string::npos) {
            CHttpLink link(&client);
            EXPECT_TRUE(link.OpenUrl(c.host));
        } else {
            EXPECT_TRUE(client.Connect(c.host, 8080, true));
            EXPECT_TRUE(client.Get("/x"));
        }
        EXPECT_EQ(c.family, socket.mLastFamily);
        EXPECT_EQ(c.address, socket.mLastAddress);
        EXPECT_EQ(c.port, socket.mLastPort);
        EXPECT_EQ("GET /x HTTP/1.1", socket.mSent.substr(0, socket.mSent.find("\r\n")));
        EXPECT_NE(std::string::npos, socket.mSent.find("\r\nHost: " + std::string(c.hostLine) + "\r\n"))
            << socket.mSent;
    }
    os::SetHostsForTest({});
}

// 302 answers are followed up to the cap: on the same connection once the
// 302's body has been read (by its length or its chunks), on a fresh one to
// the same host and port when its length is unknown. A resend that fails
// leaves the result of the 302's head.
TEST(CHttpSocketClientTest, Redirects) {
    const std::string withLength = "Content-Length: 4\r\n\r\nmove";
    const std::string chunked = "Transfer-Encoding: chunked\r\n\r\n4\r\nmove\r\n0\r\n\r\n";
    const std::string unknownLength = "\r\nmove";
    const struct Case {
        const char* name;
        std::string framing; // of every 302
        int redirects;
        int failSendFrom;
        bool result;
        int status;
        int sends;
        int connects;
    } cases[] = {
        {"chain_of_two", withLength, 2, -1, true, 200, 3, 1},
        {"chunked_302s", chunked, 2, -1, true, 200, 3, 1},
        {"302s_without_length_reconnect", unknownLength, 2, -1, true, 200, 3, 3},
        {"endless_loop_stops_at_cap", withLength, 100, -1, true, 302, CHttpSocketClient::kMaxRedirects + 1,
         1},
        {"first_send_fails", withLength, 1, 0, false, 0, 0, 1},
        {"resend_fails", withLength, 1, 1, true, 302, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted s({});
        for (int i = 1; i <= c.redirects; ++i)
            s.socket.mAnswers.push_back("HTTP/1.1 302 Found\r\nLocation: /hop" + std::to_string(i) +
                                        "?x=%20y\r\n" + c.framing);
        s.socket.mAnswers.push_back("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone");
        s.socket.mFailSendFrom = c.failSendFrom;
        EXPECT_EQ(c.result, s.client.Get("/hop0"));
        EXPECT_EQ(c.status, s.client.GetStatusCode());
        ASSERT_EQ(static_cast<size_t>(c.sends), s.socket.mSends.size());
        for (int i = 0; i < c.sends; ++i)
            EXPECT_EQ(0u, s.socket.mSends[i].find("GET /hop" + std::to_string(i) + (i ? "?x=%20y" : "") +
                                                  " HTTP/1.1\r\n"));
        EXPECT_EQ(c.connects, s.socket.mConnectCalls);
        EXPECT_EQ(c.connects - 1, s.socket.mCloseCalls);
        if (c.status == 200) {
            char buffer[16];
            DWORD length = sizeof(buffer);
            ASSERT_TRUE(s.client.Read(buffer, &length, true));
            EXPECT_EQ("done", std::string(buffer, length));
        }
    }
}

// Nothing of one answer leaks into the next: a 302's length or chunking
// does not frame the page it redirects to, a chunked answer does not de-chunk
// the next one, and a body the caller left unread is either drained (short)
// or left behind with its connection (long, or with bytes beyond its end).
TEST(CHttpSocketClientTest, EachAnswerStandsAlone) {
    const std::string body = Pattern(3000);
    const std::string plain = "HTTP/1.1 200 OK\r\n\r\n" + body; // until close
    const struct Case {
        const char* name;
        std::vector<std::string> answers;
        std::vector<const char*> gets; // the body of the last one is read
        int connects;
    } cases[] = {
        {"length_of_a_302",
         {"HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 4\r\n\r\nmove", plain},
         {"/a"},
         1},
        {"chunking_of_a_302",
         {"HTTP/1.1 302 Found\r\nLocation: /b\r\n" + kChunkedHead.substr(17) + "0\r\n\r\n", plain},
         {"/a"},
         1},
        {"chunked_then_plain", {kChunkedHead + Chunk("abc", {3}), plain}, {"/a", "/b"}, 1},
        {"long_unread_body_replaced",
         {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(CHttpSocketClient::kMaxDrainBytes + 1) +
              "\r\n\r\nxyz",
          plain},
         {"/a", "/b"},
         2},
        {"bytes_beyond_the_end_replaced",
         {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabEXTRA", plain},
         {"/a", "/b"},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted s(std::deque<std::string>(c.answers.begin(), c.answers.end()));
        for (const char* path : c.gets)
            ASSERT_TRUE(s.client.Get(path));
        EXPECT_EQ(200, s.client.GetStatusCode());
        std::string got;
        char buffer[1024];
        for (DWORD length = sizeof(buffer); s.client.Read(buffer, &length, false) && length > 0;
             length = sizeof(buffer))
            got.append(buffer, length);
        EXPECT_EQ(body.size(), got.size());
        EXPECT_TRUE(body == got);
        EXPECT_EQ(c.connects, s.socket.mConnectCalls);
    }
}

// Body bytes that came with the head are delivered first, without a receive
// when the caller does not ask to fill.
TEST(CHttpSocketClientTest, LeftoverBytesComeFirst) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";
    Scripted s({head + "0123456789"}, FirstThen(head.size() + 4, 100));
    ASSERT_TRUE(s.client.Get("/"));
    const int recvsAfterHead = s.socket.mRecvCalls;
    const struct Step {
        DWORD ask;
        bool fill;
        const char* expected;
        int recvs; // receives made so far after the head
    } steps[] = {{3, false, "012", 0}, {32, false, "3", 0}, {32, true, "456789", 1}, {32, true, "", 1}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.expected);
        char buffer[32];
        DWORD length = step.ask;
        ASSERT_TRUE(s.client.Read(buffer, &length, step.fill));
        EXPECT_EQ(step.expected, std::string(buffer, length));
        EXPECT_EQ(recvsAfterHead + step.recvs, s.socket.mRecvCalls);
    }
}

// How a fill Read ends: at the socket's end (error or close) with or without
// bytes, at the body's length, and on framing that never ends, given up long
// before the peer stops. A body whose end is known (its length, its last
// chunk, an error page's length) is over once read: the next Read says so
// without a receive, where waiting would cost a whole time-out on a
// kept-alive connection.
TEST(CHttpSocketClientTest, ReadEndings) {
    using AtEnd = CScriptedSocket::AtEnd;
    const size_t kEndless = 1 << 20;
    std::string emptyChunks;
    while (emptyChunks.size() < kEndless)
        emptyChunks += "0\r\n";
    const struct Case {
        const char* name;
        std::string answer;
        AtEnd atEnd;
        bool ok;
        std::string body;
        bool endKnown;
    } cases[] = {
        {"nothing_then_error", "HTTP/1.1 200 OK\r\n\r\n", AtEnd::Error, false, "", false},
        {"nothing_then_close", "HTTP/1.1 200 OK\r\n\r\n", AtEnd::PeerClosed, false, "", true},
        {"short_then_close", "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nabc", AtEnd::PeerClosed, true,
         "abc", false},
        {"cut_to_length", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabcdef", AtEnd::Error, true, "ab",
         true},
        {"last_chunk", kChunkedHead + Chunk("abcdefghij", {4}) + "X-Trailer: 1\r\n\r\n", AtEnd::Error, true,
         "abcdefgh", true},
        {"error_page", "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nabc", AtEnd::Error, true, "abc",
         true},
        {"empty_error_page", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", AtEnd::Error, true, "",
         true},
        {"endless_size_line", kChunkedHead + std::string(kEndless, 'z'), AtEnd::PeerClosed, false, "", false},
        {"endless_extension", kChunkedHead + "5;" + std::string(kEndless, 'e'), AtEnd::PeerClosed, false, "",
         false},
        {"endless_trailer", kChunkedHead + emptyChunks, AtEnd::PeerClosed, false, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted s({c.answer}, FirstThen(c.answer.find("\r\n\r\n") + 4, 1000));
        s.socket.mAtEnd = c.atEnd;
        ASSERT_TRUE(s.client.Get("/"));
        char buffer[8];
        DWORD length = sizeof(buffer);
        EXPECT_EQ(c.ok, s.client.Read(buffer, &length, true));
        EXPECT_EQ(c.body, std::string(buffer, length));
        EXPECT_EQ(c.answer.size() > kEndless, s.socket.Unread() > kEndless / 2);
        if (c.endKnown) {
            while (length == sizeof(buffer) && s.client.Read(buffer, &length, true)) {
            }
            const int receives = s.socket.mRecvCalls;
            length = sizeof(buffer);
            EXPECT_TRUE(s.client.Read(buffer, &length, true));
            EXPECT_EQ(0u, length);
            EXPECT_EQ(receives, s.socket.mRecvCalls);
        }
    }
}

TEST(CHttpSocketClientTest, ThrottleShortfall) {
    const struct Case {
        DWORD rate, mark, now, bytes, expected;
    } cases[] = {
        {0, 0, 0, 8000, 0},                   // no limit
        {8000, 1000, 1000, 8000, 1000},       // a second's worth, no time spent
        {8000, 1000, 1400, 8000, 600},        // part of it already spent
        {8000, 1000, 2500, 8000, 0},          // more than enough spent
        {3000, 0, 0, 1000, 333},              // integer milliseconds
        {8000, 0xFFFFFF00u, 0x10, 8000, 728}, // across the clock's wrap: 272 ms spent
        {8000, 5000, 4000, 8000, 0},          // clock before the mark: no wait
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " " << c.mark << " " << c.now << " " << c.bytes);
        EXPECT_EQ(c.expected, IHttpClient::ThrottleShortfall(c.rate, c.mark, c.now, c.bytes));
    }
    // 4294967295000 ms does not fit: the result must not wrap to a small wait.
    EXPECT_GT(IHttpClient::ThrottleShortfall(1, 0, 0, 0xFFFFFFFFu), 1000000u);
}

// The link over the socket client: when it refuses to open, and what the
// fetch helpers make of the answers.
TEST(CHttpLinkTest, FetchHelpers) {
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello world";
    const struct Case {
        const char* name;
        bool setCancel, signalled, connects;
        std::string answer;
        bool textOk;
        int status;
        int connectCalls;
    } cases[] = {
        {"ok", true, false, true, ok, true, 200, 1},
        {"empty_body", true, false, true, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, 200, 1},
        {"not_found", true, false, true, "HTTP/1.1 404 Not Found\r\n\r\n", false, 404, 1},
        {"no_answer", true, false, true, "", false, 0, 1},
        {"no_cancel_event", false, false, true, ok, false, 0, 0},
        {"cancelled", true, true, true, ok, false, 0, 0},
        {"connect_fails", true, false, false, ok, false, 0, 1},
    };
    CUrl url;
    ASSERT_TRUE(url.Crack("http://cam.example:8080/vb.htm?getmachinecode"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool text : {true, false}) {
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
            std::string got = "prefix:";
            if (text) {
                EXPECT_EQ(c.textOk, link.FetchText(url, got));
                EXPECT_EQ(c.textOk ? "prefix:hello world" : "prefix:", got);
            } else {
                EXPECT_EQ(c.status, link.FetchStatus(url));
            }
            EXPECT_FALSE(link.IsOpened());
            EXPECT_EQ(c.connectCalls, socket.mConnectCalls);
            EXPECT_EQ(c.connects && c.connectCalls > 0,
                      socket.mSent.rfind("GET /vb.htm?getmachinecode HTTP/1.1\r\n", 0) == 0);
        }
    }
}

} // namespace
