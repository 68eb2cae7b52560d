// camsim's HTTP core checked by a client nobody here wrote, the curl
// command-line tool: authentication, chunked framing, redirects, keep-alive
// and the fault switches must look to curl as HTTP/1.1 says they should.
#include "CamsimClient.h"

#include <gtest/gtest.h>

namespace {

using namespace camsimtest;

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 251);
    return s;
}

std::string Curl(const std::string& options, const std::string& url) {
    return Shell("curl -s --max-time 10 " + options + " '" + url + "'");
}

std::string Code(const std::string& options, const std::string& url) {
    return Curl(options + " -o /dev/null -w '%{http_code}'", url);
}

// What camsim prints on standard error (then "rc=N"), its standard output gone.
std::string Errors(const std::string& args) {
    return Camsim(args + " 2>&1 >/dev/null; echo rc=$?");
}

// Bad usage: one line naming what is wrong, a usage line, exit code 2.
TEST(CamsimTest, BadOptionsAreNamedAndExitWithUsageError) {
    const char* usage = "usage: camsim [--device NAME] [--port N] [--fault NAME=VALUE]... [options]; camsim "
                        "--help lists them\nrc=2\n";
    const struct {
        const char* args;
        const char* error;
    } cases[] = {
        {"--what", "unknown option --what"},
        {"--what=1", "unknown option --what"},
        {"--list --what --port", "unknown option --what"},
        {"-x", "unknown option -x"},
        {"cam-jpeg-4608", "unexpected argument cam-jpeg-4608"},
        {"--list=1", "--list takes no value"},
        {"--device", "--device needs a value"},
        {"--port 70000", "bad port: 70000"},
        {"--port=70000", "bad port: 70000"},
        {"--port=", "bad port: "},
        {"--user nocolon", "--user takes NAME:PASSWORD"},
        {"--bind 10.0.0.5", "--bind takes 127.0.0.1 or ::1"},
        {"--device nosuch", "unknown device: nosuch (camsim --list names them)"},
        {"--fault nosuchfault", "unknown fault or bad value: nosuchfault"},
        {"--fault reply=NG", "bad value: reply=NG"},
        {"--fault=body=loud", "bad value: body=loud"},
        {"--size 641x480", "bad size: 641x480 (WxH, even, 16 to 4096)"},
        {"--size=1920", "bad size: 1920 (WxH, even, 16 to 4096)"},
        {"--size 4098x2160", "bad size: 4098x2160 (WxH, even, 16 to 4096)"},
        {"--fps 0", "bad frame rate: 0 (1 to 60)"},
        {"--fps=61", "bad frame rate: 61 (1 to 60)"},
        {"--codec vp8", "--codec takes jpeg, mpeg4 or h264"},
        {"--preencode 301", "bad picture count: 301 (1 to 300)"},
        // What a model's protocol cannot report.
        {"--device dvr-h264-8777 --codec jpeg",
         "--codec: dvr-h264-8777 sends H.264 only (its machine code says so)"},
        {"--codec=h264 --device=cam-vendor-61441",
         "--codec: cam-vendor-61441 sends JPEG only (its machine code says so)"},
        {"--device dvr-jpeg-5136 --fps 25",
         "--fps: dvr-jpeg-5136 is polled: a viewer takes 30 fps from it and asks for each picture"},
        {"--device vs-jpeg-12292 --fps 20",
         "--fps: vs-jpeg-12292 is polled and can only report 25 (PAL) or 30 (NTSC)"},
        {"--device dvr-h264-8776 --size 704x504",
         "--size: dvr-h264-8776 cannot report a height of 504 (a viewer reads it as a padded 480)"},
        {"--size 720x624",
         "--size: cam-jpeg-4608 cannot report a height of 624 (a viewer reads it as a padded 576)"},
        {"--device dvr-h264-5138 --size 64x40",
         "--size: dvr-h264-5138 puts two channels and a 10-row band in a picture: at least 42 rows"},
        {"--device io-box-20481 --fps 5",
         "io-box-20481 has no video: --size, --fps and --codec do not apply"},
        {"--device enc-noview-16385 --preencode 3",
         "enc-noview-16385 has no video: --preencode does not apply"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ("camsim: " + std::string(c.error) + "\n" + usage, Errors(c.args));
    }
}

// "--name=value" says what "--name value" says, a value may hold "=", and
// --help puts the fault switches of both kinds under --fault, deeper than the
// options.
TEST(CamsimTest, OptionsTakeTheirValueEitherWay) {
    EXPECT_EQ(Camsim("--device cam-profile-8192 --describe"), Camsim("--device=cam-profile-8192 --describe"));
    EXPECT_EQ("rc=0\n",
              Errors("--fault=reply=NG:getformat --fault=body=junk --fault=dropafter=3 --port=0 --list"));
    const std::string help = Camsim("--help");
    const size_t faults = help.find("\n  --fault ");
    const size_t end = help.find("\n  --help");
    ASSERT_LT(faults, end) << help;
    for (const char* name : {"redirect=N ", "videomask=MASK ", "reply=WORD:KEY ", "body=MODE "}) {
        SCOPED_TRACE(name);
        const size_t at = help.find(std::string("\n      ") + name);
        EXPECT_TRUE(at > faults && at < end) << "listed under --fault";
    }
}

TEST(CamsimTest, BadRequestsGetAnErrorAndTheServerGoesOn) {
    CamsimProcess camsim({});
    ASSERT_TRUE(camsim.Ok());
    const struct {
        std::string request;
        const char* statusLine;
    } cases[] = {
        {"garbage\r\n\r\n", "400 Bad Request"},
        {"GET /\r\n\r\n", "400 Bad Request"},
        {"GET / HTTP/1.1\r\nnocolon\r\n\r\n", "400 Bad Request"},
        {"GET / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", "400 Bad Request"},
        {"POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", "413 Payload Too Large"},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "400 Bad Request"},
        {"GET / HTTP/1.1\r\nX: " + std::string(40000, 'a'), "431 Request Header Fields Too Large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.substr(0, 40));
        const std::string answer = Exchange(camsim.Port(), c.request);
        EXPECT_EQ(0u, answer.find("HTTP/1.1 " + std::string(c.statusLine) + "\r\n")) << answer.substr(0, 80);
    }
    EXPECT_EQ("camsim\r\n", Curl("", camsim.Url("/")));
}

TEST(CamsimTest, BasicAuthentication) {
    CamsimProcess camsim({"--user", "admin:secret", "--user", "guest:"});
    ASSERT_TRUE(camsim.Ok());
    const struct {
        const char* options;
        const char* code;
    } cases[] = {
        {"", "401"},          {"-u admin:secret", "200"},  {"-u admin:wrong", "401"},
        {"-u guest:", "200"}, {"-u nobody:secret", "401"}, {"-H 'Authorization: Basic !!!!'", "401"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        EXPECT_EQ(c.code, Code(c.options, camsim.Url("/")));
    }
    // The test-control CGI stays open whatever the accounts.
    EXPECT_EQ("200", Code("", camsim.Url("/camsim/control")));
}

TEST(CamsimTest, BodiesAsCurlDecodesThemAndChunksOnTheWire) {
    CamsimProcess camsim({});
    ASSERT_TRUE(camsim.Ok());
    const struct {
        const char* path;
        std::string body;
    } cases[] = {
        {"/bytes?n=70000", Pattern(70000)},
        {"/chunked?n=9000&sizes=1,7,300,4096", Pattern(9000)},
        {"/chunked?n=3000&sizes=5&ext=1&pieces=1", Pattern(3000)},
        {"/chunked?n=3000&sizes=255&upper=1&zeros=10", Pattern(3000)},
        {"/nolength?n=5000", Pattern(5000)},
        {"/trickle?n=20&step=7&delay=1", Pattern(20)},
        {"/redirect?n=4", "redirected\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string body = Curl("-L", camsim.Url(c.path));
        EXPECT_EQ(c.body.size(), body.size());
        EXPECT_TRUE(c.body == body);
    }
    EXPECT_EQ(std::string("4\r\n\x00\x01\x02\x03\r\n4\r\n\x04\x05\x06\x07\r\n2\r\n\x08\x09\r\n0\r\n\r\n", 30),
              Curl("--raw", camsim.Url("/chunked?n=10&sizes=4")));
    EXPECT_EQ("302 " + camsim.Url("/redirect?n=1"),
              Curl("-o /dev/null -w '%{http_code} %{redirect_url}'", camsim.Url("/redirect?n=2")));
    // Keep-alive: three requests, one connection.
    const std::string url = camsim.Url("/connection");
    const std::string out = Shell("curl -s --max-time 10 '" + url + "' '" + url + "' '" + url + "'");
    const std::string first = out.substr(0, out.find('\n') + 1);
    EXPECT_EQ(0u, first.find("connection "));
    EXPECT_EQ(first + first + first, out);
}

// Sends `request` on a fresh connection and reads until camsim closes it;
// *closed is false when the deadline came first.
std::string ReadToClose(uint16_t port, const std::string& request, bool* closed) {
    std::string data;
    *closed = false;
    const int fd = Connect(port);
    if (fd < 0)
        return data;
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[4096];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, kDeadlineMs) > 0) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            *closed = n == 0;
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

// A status that has no body gets none, whatever it claims: the next answer
// on the connection starts right behind the head. After a 1xx camsim closes
// the connection, though the client asked to keep it.
TEST(CamsimTest, StatusesWithoutBodySendNone) {
    // Idle connections are kept longer than a read waits, so only camsim's
    // own decision closes them.
    CamsimProcess camsim({"--idle-timeout", std::to_string(2 * kDeadlineMs)});
    ASSERT_TRUE(camsim.Ok());
    const std::string next = "GET /connection HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    const struct {
        const char* query;
        std::string head; // the whole first answer
        bool followed;    // a second request is sent and answered on the same connection
    } cases[] = {
        {"code=204", "HTTP/1.1 204 No Content\r\nServer: camsim\r\n\r\n", true},
        {"code=304&length=1000",
         "HTTP/1.1 304 Not Modified\r\nServer: camsim\r\nContent-Length: 1000\r\n\r\n", true},
        {"code=100", "HTTP/1.1 100 Continue\r\nServer: camsim\r\nConnection: close\r\n\r\n", false},
        {"code=103&length=5",
         "HTTP/1.1 103 Status\r\nServer: camsim\r\nContent-Length: 5\r\nConnection: close\r\n\r\n", false},
        {"code=404",
         "HTTP/1.1 404 Status\r\nServer: camsim\r\nContent-Type: text/plain\r\nContent-Length: "
         "12\r\n\r\nstatus "
         "404\r\n",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        bool closed = false;
        const std::string answer = ReadToClose(camsim.Port(),
                                               "GET /status?" + std::string(c.query) +
                                                   " HTTP/1.1\r\nHost: x\r\n\r\n" + (c.followed ? next : ""),
                                               &closed);
        EXPECT_TRUE(closed);
        EXPECT_EQ(c.head, answer.substr(0, c.head.size()));
        EXPECT_EQ(c.followed ? "HTTP/1.1 200 OK\r\n" : "",
                  answer.substr(c.head.size(), c.followed ? 17 : 100));
    }
}

TEST(CamsimTest, FaultSwitches) {
    CamsimProcess camsim({"--fault", "redirect=2", "--idle-timeout", "5000"});
    ASSERT_TRUE(camsim.Ok());
    EXPECT_EQ("302", Code("", camsim.Url("/")));
    EXPECT_EQ("camsim\r\n", Curl("-L", camsim.Url("/")));
    EXPECT_EQ(0u, Curl("", camsim.Url("/camsim/control?nosuch=1")).find("NG "));
    const struct {
        const char* fault;
        const char* options;
        std::string expected;
    } cases[] = {
        {"unauthorized=1", "-o /dev/null -w '%{http_code}'", "401"},
        {"silence=1", "--max-time 1 -o /dev/null -w '%{http_code}'", "000"},
        {"chunked=1", "-D - -o /dev/null", "Transfer-Encoding: chunked\r\n"},
        {"bigheader=3000", "-D - -o /dev/null", "X-Camsim-Padding: " + std::string(3000, 'x') + "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_EQ(0u, Curl("", camsim.Url(std::string("/camsim/control?reset&") + c.fault)).find("OK "));
        const std::string got = Curl(c.options, camsim.Url("/"));
        EXPECT_NE(std::string::npos, got.find(c.expected)) << got.substr(0, 200);
    }
    // Half a head, then the end of the connection: curl forgives that, so
    // the bytes are read raw.
    Curl("", camsim.Url("/camsim/control?reset&closehead=1"));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Ty", Exchange(camsim.Port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(0, camsim.Stop()); // exits cleanly once its input ends

    // One connection held open by a silent client; the next is turned away.
    // A camsim of its own: with a limit of one, a connection of the checks
    // above that camsim has not yet seen closed would turn away the next one.
    CamsimProcess limited({"--max-connections", "1"});
    ASSERT_TRUE(limited.Ok());
    const int held = Connect(limited.Port());
    ASSERT_GE(held, 0);
    EXPECT_EQ("503", Code("", limited.Url("/")));
    ::close(held);
    EXPECT_EQ(0, limited.Stop());
}

} // namespace
