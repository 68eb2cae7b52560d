// camsim checked by a client nobody here wrote: the curl command-line tool.
// Authentication, chunked framing, redirects, keep-alive and the fault
// switches must look to curl as HTTP/1.1 says they should.
#include "fakes/CamsimProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Runs a shell command and returns its standard output.
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

std::string Curl(const std::string& options, const std::string& url) {
    return Shell("curl -s --max-time 10 " + options + " '" + url + "'");
}

TEST(CamsimTest, FirstLineIsThePort) {
    CamsimProcess camsim({});
    ASSERT_TRUE(camsim.Ok()) << camsim.FirstLine();
    EXPECT_EQ("port=" + std::to_string(camsim.Port()), camsim.FirstLine());
    EXPECT_EQ(0, camsim.Stop()); // exits cleanly once its input ends
}

TEST(CamsimTest, HelpAndBadOptions) {
    std::string help = Shell(std::string(CAMSIM_PATH) + " --help");
    EXPECT_NE(std::string::npos, help.find("--user NAME:PASSWORD"));
    EXPECT_NE(std::string::npos, help.find("/chunked"));
    for (const char* bad :
         {"--port 70000", "--user nocolon", "--fault nosuchfault", "--bind 10.0.0.5", "--what"}) {
        SCOPED_TRACE(bad);
        std::string status = Shell(std::string(CAMSIM_PATH) + " " + bad + " >/dev/null 2>&1; echo $?");
        EXPECT_EQ("2\n", status);
    }
}

TEST(CamsimTest, BadRequestsGetAnErrorAndTheServerGoesOn) {
    CamsimProcess camsim({});
    ASSERT_TRUE(camsim.Ok());
    struct Case {
        const char* name;
        std::string request;
        std::string statusLine;
    };
    const Case cases[] = {
        {"garbage", "garbage\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"no_version", "GET /\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"header_without_colon", "GET / HTTP/1.1\r\nnocolon\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"bad_length", "GET / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"huge_body", "POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n",
         "HTTP/1.1 413 Payload Too Large"},
        {"chunked_request", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
         "HTTP/1.1 400 Bad Request"},
        {"endless_head", "GET / HTTP/1.1\r\nX: " + std::string(40000, 'a'),
         "HTTP/1.1 431 Request Header Fields Too Large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(camsim.Port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
        ASSERT_EQ(static_cast<ssize_t>(c.request.size()),
                  ::send(fd, c.request.data(), c.request.size(), MSG_NOSIGNAL));
        std::string answer;
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0)
            answer.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        EXPECT_EQ(0u, answer.find(c.statusLine + "\r\n")) << answer.substr(0, 80);
    }
    EXPECT_EQ("camsim\r\n", Curl("", camsim.Url("/")));
}

TEST(CamsimTest, LifetimeEndsTheProcess) {
    // Without --exit-on-stdin-eof and with its input left open, only the
    // lifetime can end it.
    std::string out = Shell(std::string(CAMSIM_PATH) + " --port 0 --lifetime 1 </dev/zero; echo rc=$?");
    EXPECT_EQ(0u, out.find("port="));
    EXPECT_NE(std::string::npos, out.find("rc=0\n"));
}

TEST(CamsimTest, BasicAuthentication) {
    CamsimProcess camsim({"--user", "admin:secret", "--user", "guest:"});
    ASSERT_TRUE(camsim.Ok());
    struct Case {
        const char* options;
        const char* expected;
    };
    const Case cases[] = {
        {"", "401"},          {"-u admin:secret", "200"},  {"-u admin:wrong", "401"},
        {"-u guest:", "200"}, {"-u nobody:secret", "401"}, {"-H 'Authorization: Basic !!!!'", "401"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        EXPECT_EQ(c.expected,
                  Curl(std::string(c.options) + " -o /dev/null -w '%{http_code}'", camsim.Url("/")));
    }
    EXPECT_EQ("200", Curl("-o /dev/null -w '%{http_code}'", camsim.Url("/camsim/control")));
    EXPECT_EQ("camsim\r\n", Curl("-u admin:secret", camsim.Url("/")));
}

TEST(CamsimTest, GeneratedBodiesAsCurlDecodesThem) {
    CamsimProcess camsim({});
    ASSERT_TRUE(camsim.Ok());
    struct Case {
        const char* path;
        std::string body;
    };
    const Case cases[] = {
        {"/bytes?n=70000", Pattern(70000)},
        {"/chunked?n=9000&sizes=1,7,300,4096", Pattern(9000)},
        {"/chunked?n=3000&sizes=5&ext=1&pieces=1", Pattern(3000)},
        {"/chunked?n=3000&sizes=255&upper=1&zeros=10", Pattern(3000)},
        {"/nolength?n=5000", Pattern(5000)},
        {"/trickle?n=20&step=7&delay=1", Pattern(20)},
        {"/redirect?n=4", "redirected\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string body = Curl("-L", camsim.Url(c.path));
        EXPECT_EQ(c.body.size(), body.size());
        EXPECT_TRUE(c.body == body);
    }
    // The chunked answer really is chunked on the wire.
    std::string raw = Curl("--raw", camsim.Url("/chunked?n=10&sizes=4"));
    EXPECT_EQ(std::string("4\r\n\x00\x01\x02\x03\r\n4\r\n\x04\x05\x06\x07\r\n2\r\n\x08\x09\r\n0\r\n\r\n", 30),
              raw);
    EXPECT_EQ("302 " + camsim.Url("/redirect?n=1"),
              Curl("-o /dev/null -w '%{http_code} %{redirect_url}'", camsim.Url("/redirect?n=2")));
}

TEST(CamsimTest, KeepAliveServesSeveralRequestsOnOneConnection) {
    CamsimProcess camsim({});
    ASSERT_TRUE(camsim.Ok());
    std::string url = camsim.Url("/connection");
    std::string out = Shell("curl -s --max-time 10 '" + url + "' '" + url + "' '" + url + "'");
    EXPECT_EQ("connection 1\r\nconnection 1\r\nconnection 1\r\n", out);
}

TEST(CamsimTest, FaultSwitchesFromTheControlCgi) {
    CamsimProcess camsim({"--fault", "redirect=2"});
    ASSERT_TRUE(camsim.Ok());
    EXPECT_EQ("302", Curl("-o /dev/null -w '%{http_code}'", camsim.Url("/")));
    EXPECT_EQ("camsim\r\n", Curl("-L", camsim.Url("/")));
    std::string answer = Curl("", camsim.Url("/camsim/control?reset&chunked=1&bigheader=3000"));
    EXPECT_EQ(0u, answer.find("OK "));
    std::string head = Curl("-D - -o /dev/null", camsim.Url("/"));
    EXPECT_NE(std::string::npos, head.find("Transfer-Encoding: chunked"));
    EXPECT_NE(std::string::npos, head.find("X-Camsim-Padding: " + std::string(3000, 'x')));
    EXPECT_EQ(Pattern(5000), Curl("", camsim.Url("/bytes?n=5000")));
    EXPECT_EQ(0u, Curl("", camsim.Url("/camsim/control?nosuch=1")).find("NG "));
    Curl("", camsim.Url("/camsim/control?reset&unauthorized=1"));
    EXPECT_EQ("401", Curl("-o /dev/null -w '%{http_code}'", camsim.Url("/")));
    Curl("", camsim.Url("/camsim/control?reset&closehead=1"));
    // Half a head, then the end of the connection (curl itself forgives
    // that, so the raw bytes are read with bash's /dev/tcp).
    EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Ty",
              Shell("bash -c 'exec 5<>/dev/tcp/127.0.0.1/" + std::to_string(camsim.Port()) +
                    "; printf \"GET / HTTP/1.1\\r\\nHost: x\\r\\n\\r\\n\" >&5; timeout 5 cat <&5'"));
    Curl("", camsim.Url("/camsim/control?reset&silence=1"));
    EXPECT_EQ("000", Curl("--max-time 1 -o /dev/null -w '%{http_code}'", camsim.Url("/")));
    Curl("", camsim.Url("/camsim/control?reset"));
    EXPECT_EQ("camsim\r\n", Curl("", camsim.Url("/")));
}

TEST(CamsimTest, BoundedInConnectionsAndHeadSize) {
    CamsimProcess camsim({"--max-connections", "1", "--idle-timeout", "5000"});
    ASSERT_TRUE(camsim.Ok());
    // One connection held open by a silent client; the next is turned away.
    // Connections are accepted in the order they were made, so once the
    // first connect has returned, the second arrives after it.
    int held = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(camsim.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::connect(held, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    EXPECT_EQ("503", Curl("-o /dev/null -w '%{http_code}'", camsim.Url("/")));
    ::close(held);
    CamsimProcess big({});
    ASSERT_TRUE(big.Ok());
    EXPECT_EQ("431", Curl("-o /dev/null -w '%{http_code}' -H 'X-Long: " + std::string(20000, 'a') + "'",
                          big.Url("/")));
}

} // namespace
