#include "CoreResources.h"

#include "Decimal.h"
#include "HttpConnection.h"
#include "HttpServer.h"
#include "Router.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace camsim {

namespace {

using Headers = HttpConnection::Headers;

// Writes `count` pattern bytes starting at pattern index `offset`, in pieces
// of at most `piece` bytes (each one SendBody call).
bool SendPattern(HttpConnection& out, uint64_t offset, uint64_t count, size_t piece) {
    std::vector<char> buffer(std::max<size_t>(piece, 1));
    while (count > 0) {
        if (out.Stopping())
            return false;
        size_t n = static_cast<size_t>(std::min<uint64_t>(count, buffer.size()));
        for (size_t i = 0; i < n; ++i)
            buffer[i] = CoreResources::PatternByte(offset + i);
        if (!out.SendBody(buffer.data(), n))
            return false;
        offset += n;
        count -= n;
    }
    return true;
}

uint64_t Length(const HttpRequest& request, uint64_t fallback) {
    return std::min(request.ParamNumber("n", fallback), CoreResources::kMaxGeneratedBytes);
}

void Root(const HttpRequest&, HttpConnection& out) {
    out.SendText(200, "OK", "text/plain", "camsim\r\n");
}

void Bytes(const HttpRequest& request, HttpConnection& out) {
    uint64_t n = Length(request, 1024);
    if (!out.SendHead(200, "OK", {{"Content-Type", "application/octet-stream"}}, static_cast<int64_t>(n)))
        return;
    if (SendPattern(out, 0, n, 64 * 1024))
        out.FinishBody();
}

void NoLength(const HttpRequest& request, HttpConnection& out) {
    uint64_t n = Length(request, 1024);
    out.CloseAfterAnswer();
    Headers headers = {{"Content-Type", "application/octet-stream"}};
    if (request.Param("zero") == "1")
        headers.emplace_back("Content-Length", "0");
    if (!out.SendHead(200, "OK", headers, HttpConnection::kNoLength))
        return;
    SendPattern(out, 0, n, 64 * 1024);
}

void Redirect(const HttpRequest& request, HttpConnection& out) {
    uint64_t n = std::min(request.ParamNumber("n", 1), CoreResources::kMaxRedirects);
    if (n == 0) {
        out.SendText(200, "OK", "text/plain", "redirected\r\n");
        return;
    }
    std::string location = "/redirect?n=" + std::to_string(n - 1);
    // A 302 carries no body, so a client that does not read it keeps its
    // connection in step.
    out.SendHead(302, "Found", {{"Location", location}}, 0);
}

void Chunked(const HttpRequest& request, HttpConnection& out) {
    uint64_t n = Length(request, 4096);
    std::vector<uint64_t> sizes;
    std::string list = request.Param("sizes", "1,2,3,5,8,13,100,1000");
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        uint64_t size = 0;
        bool ok = !item.empty() && item.size() < 12;
        for (char c : item)
            ok = ok && c >= '0' && c <= '9';
        if (ok)
            size = std::stoull(item);
        if (size > 0)
            sizes.push_back(std::min<uint64_t>(size, 1 << 20));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (sizes.empty())
        sizes.push_back(1000);
    const bool extension = request.Param("ext") == "1";
    const bool pieces = request.Param("pieces") == "1";
    const bool upper = request.Param("upper") == "1";
    const size_t zeros = static_cast<size_t>(std::min<uint64_t>(request.ParamNumber("zeros", 0), 64));
    std::string encoding = request.Param("te", "chunked");
    // The chunk framing is written by hand (SendRaw) so that extensions,
    // padding zeros and the split into separate writes are under control.
    if (!out.SendHead(200, "OK",
                      {{"Content-Type", "application/octet-stream"}, {"Transfer-Encoding", encoding}},
                      HttpConnection::kNoLength))
        return;
    uint64_t offset = 0;
    size_t index = 0;
    std::vector<char> data;
    while (offset < n) {
        if (out.Stopping())
            return;
        uint64_t size = std::min(sizes[index++ % sizes.size()], n - offset);
        char hex[32];
        std::snprintf(hex, sizeof(hex), upper ? "%llX" : "%llx", static_cast<unsigned long long>(size));
        std::string line = std::string(zeros, '0') + hex;
        if (extension)
            line += ";camsim-ext=\"a long chunk extension\"";
        line += "\r\n";
        data.resize(static_cast<size_t>(size));
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = CoreResources::PatternByte(offset + i);
        if (pieces) {
            // Each element its own write: with TCP_NODELAY the reader sees
            // the framing split at many different points.
            size_t half = line.size() / 2;
            if (!out.SendRaw(line.data(), half) || !out.SendRaw(line.data() + half, line.size() - half) ||
                !out.SendRaw(data.data(), data.size()) || !out.SendRaw("\r", 1) || !out.SendRaw("\n", 1))
                return;
        } else {
            std::string frame = line + std::string(data.begin(), data.end()) + "\r\n";
            if (!out.SendRaw(frame))
                return;
        }
        offset += size;
    }
    out.SendRaw(std::string(zeros, '0') + "0\r\n\r\n");
}

void Trickle(const HttpRequest& request, HttpConnection& out) {
    uint64_t n = Length(request, 64);
    uint64_t step = std::max<uint64_t>(1, std::min<uint64_t>(request.ParamNumber("step", 1), 1 << 20));
    uint64_t delay = std::min<uint64_t>(request.ParamNumber("delay", 1), 5000);
    if (!out.SendHead(200, "OK", {{"Content-Type", "application/octet-stream"}}, static_cast<int64_t>(n)))
        return;
    for (uint64_t offset = 0; offset < n; offset += step) {
        if (!SendPattern(out, offset, std::min(step, n - offset), static_cast<size_t>(step)))
            return;
        if (offset + step < n && delay > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    out.FinishBody();
}

void Silence(const HttpRequest& request, HttpConnection& out) {
    if (request.Param("head") == "1") {
        // A head that promises a body which never comes.
        std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
        out.SendRaw(head);
    }
    out.HoldSilent();
}

void CloseHead(const HttpRequest& request, HttpConnection& out) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\n";
    size_t at =
        static_cast<size_t>(std::min<uint64_t>(request.ParamNumber("at", head.size() / 2), head.size() - 1));
    out.SendRaw(head.data(), at);
    out.CloseAfterAnswer();
}

void BigHeader(const HttpRequest& request, HttpConnection& out) {
    uint64_t length = std::min(request.ParamNumber("len", 2000), CoreResources::kMaxHeaderLine);
    out.SendText(200, "OK", "text/plain", "big header\r\n", {{"X-Camsim-Big", std::string(length, 'b')}});
}

void AuthUntil(const HttpRequest& request, HttpConnection& out) {
    uint64_t n = request.ParamNumber("n", 1);
    uint64_t count = out.Server().CountRequest("auth-until:" + request.Param("key"));
    if (count <= n) {
        out.SendText(401, "Unauthorized", "text/plain", "401 Unauthorized\r\n",
                     {{"WWW-Authenticate", "Basic realm=\"camsim\""}});
        return;
    }
    out.SendText(200, "OK", "text/plain", "granted\r\n");
}

void Echo(const HttpRequest& request, HttpConnection& out) {
    out.SendText(200, "OK", "application/octet-stream", request.mHead + request.mBody);
}

void Connection(const HttpRequest&, HttpConnection& out) {
    out.SendText(200, "OK", "text/plain", "connection " + std::to_string(out.Serial()) + "\r\n");
}

// A status that HTTP forbids a body (1xx, 204, 304) gets its head alone:
// a body there would be read by the client as the start of the next answer.
// `length=N` adds the Content-Length a careless device still sends with
// such a status; a client must not wait for those N bytes. After a 1xx
// nothing follows and the connection closes, so a client that waits for a
// final answer sees the end at once instead of the idle time-out.
bool StatusHasNoBody(uint64_t code) {
    return (code >= 100 && code < 200) || code == 204 || code == 304;
}

const char* ReasonFor(uint64_t code) {
    switch (code) {
    case 100:
        return "Continue";
    case 204:
        return "No Content";
    case 304:
        return "Not Modified";
    default:
        return "Status";
    }
}

void Status(const HttpRequest& request, HttpConnection& out) {
    uint64_t code = request.ParamNumber("code", 200);
    if (code < 100 || code > 999)
        code = 500;
    if (!StatusHasNoBody(code)) {
        out.SendText(static_cast<int>(code), ReasonFor(code), "text/plain",
                     "status " + std::to_string(code) + "\r\n");
        return;
    }
    Headers headers;
    if (request.HasParam("length"))
        headers.emplace_back("Content-Length", std::to_string(request.ParamNumber("length", 0)));
    if (code < 200)
        out.CloseAfterAnswer();
    out.SendHead(static_cast<int>(code), ReasonFor(code), headers, HttpConnection::kNoLength);
}

// The words of the stream count query, which are no fault switches.
bool IsCountWord(const std::string& name) {
    return name == "streams" || name == "until" || name == "path" || name == "timeout" || name == "kick";
}

void Control(const HttpRequest& request, HttpConnection& out) {
    bool ok = true;
    // "reset" first, wherever it stands, so that "?reset&chunked=1" means
    // "only chunked".
    if (request.HasParam("reset"))
        out.Server().FaultSwitches().Apply("reset", "");
    for (const auto& p : request.mParams)
        if (p.first != "reset" && !IsCountWord(p.first))
            ok = out.Server().FaultSwitches().Apply(p.first, p.second) && ok;
    // "kick" ends every media stream open now, after the switches of the
    // same request are in force: the viewers reconnect and meet them, as
    // after a device's restart (a stream keeps the switches it began with).
    if (request.HasParam("kick"))
        out.Server().KickStreams();
    // "until=N" first waits (within "timeout=MS") for N streams to be open,
    // of "path=P" or of all paths, so that a test needs no sleep to see a
    // viewer connect or go.
    const bool counts = request.HasParam("streams") || request.HasParam("until");
    uint64_t until = 0;
    uint64_t timeout = CoreResources::kDefaultWaitMs;
    if (request.HasParam("until")) {
        const bool valid = ParseDecimal(request.Param("until"), UINT32_MAX, &until) &&
                           (!request.HasParam("timeout") ||
                            ParseDecimal(request.Param("timeout"), StreamCounts::kMaxWaitMs, &timeout));
        if (valid)
            out.Server().Streams().WaitOpen(request.Param("path"), until, std::chrono::milliseconds(timeout),
                                            [&out] { return out.Stopping(); });
        ok = valid && ok;
    }
    std::string body = (ok ? "OK " : "NG ") + out.Server().FaultSwitches().Describe() + "\r\n";
    if (counts && ok)
        body += out.Server().Streams().Describe();
    out.SendText(ok ? 200 : 400, ok ? "OK" : "Bad Request", "text/plain", body);
}

} // namespace

void CoreResources::Register(Router& router) {
    router.Add("/", Router::Match::Exact, Root);
    router.Add("/bytes", Router::Match::Exact, Bytes);
    router.Add("/nolength", Router::Match::Exact, NoLength);
    router.Add("/redirect", Router::Match::Exact, Redirect);
    router.Add("/chunked", Router::Match::Exact, Chunked);
    router.Add("/trickle", Router::Match::Exact, Trickle);
    router.Add("/silence", Router::Match::Exact, Silence);
    router.Add("/closehead", Router::Match::Exact, CloseHead);
    router.Add("/bigheader", Router::Match::Exact, BigHeader);
    router.Add("/auth-until", Router::Match::Exact, AuthUntil);
    router.Add("/echo", Router::Match::Exact, Echo);
    router.Add("/connection", Router::Match::Exact, Connection);
    router.Add("/status", Router::Match::Exact, Status);
    router.Add("/camsim/control", Router::Match::Exact, Control);
}

const char* CoreResources::Help() {
    return "  /                       200, body \"camsim\\r\\n\"\n"
           "  /bytes?n=N              N generated bytes with Content-Length (byte i = i mod 251)\n"
           "  /nolength?n=N[&zero=1]  N generated bytes, no Content-Length (or \"Content-Length: 0\"),\n"
           "                          connection closed after the body\n"
           "  /redirect?n=N           a chain of N 302 answers (Location a path, no body), then 200\n"
           "  /chunked?n=N&sizes=A,B  N generated bytes chunked in sizes A, B, ... (repeating);\n"
           "           [&ext=1]       with chunk extensions; [&zeros=K] K leading zeros on sizes;\n"
           "           [&upper=1]     upper-case hex; [&pieces=1] framing written in separate pieces;\n"
           "           [&te=VALUE]    the Transfer-Encoding value sent (default chunked)\n"
           "  /trickle?n=N&step=S&delay=MS  N bytes, S bytes per write, MS ms apart\n"
           "  /silence[?head=1]       never answer (or send a head and never the body)\n"
           "  /closehead[?at=K]       send K bytes of a head, then close\n"
           "  /bigheader?len=N        a header line with an N-byte value\n"
           "  /auth-until?n=N&key=K   401 to the first N requests with key K (server-wide), then 200\n"
           "  /echo                   the request head and body as they arrived\n"
           "  /connection             which connection this is (\"connection N\", counting from 1)\n"
           "  /status?code=N          answers with that status code; 1xx, 204 and 304 with no body\n"
           "           [&length=K]    (and \"Content-Length: K\" all the same); after a 1xx it closes\n"
           "  /camsim/control?NAME=VALUE&...  sets fault switches (no authentication, no faults)\n"
           "           [&kick]        and ends every media stream open now (its viewers reconnect)\n"
           "  /camsim/control?streams  the media connections: \"streams open=N total=M\", \"polls ...\",\n"
           "                          then \"stream PATH open=N total=M\" and \"poll PATH ...\" per path\n"
           "           [&until=N[&path=P][&timeout=MS]]  first wait (at most MS ms, default 5000) until\n"
           "                          N streams (of path P) are open\n";
}

} // namespace camsim
