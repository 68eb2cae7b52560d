#include "DeviceRoutes.h"

#include "Decimal.h"
#include "Device.h"
#include "DeviceFaults.h"
#include "HttpConnection.h"
#include "HttpRequest.h"
#include "ParameterCgi.h"
#include "Router.h"

#include <algorithm>

namespace camsim {

namespace {

// How long "/camsim/ptz?until=N" waits unless told.
constexpr uint64_t kDefaultWaitMs = 5000;

// Lines that no parser may take for reply lines: no status word of the
// family at their start, binary bytes, NULs, lower-case words, blanks alone,
// a line without any blank and one far longer than any reply.
std::string JunkBody() {
    std::string body = "garbage\r\nok getformat=1\r\nOk getmachinecode=1200\r\n \t \r\n";
    body += std::string("\0\0\0\x01\xff\xfe", 6) + "\r\n";
    body += "OK\r\nNG\r\nXX getformat=1\r\n=\r\n\r\n\n\r\r\n";
    body += std::string(3000, 'j') + "\r\n";
    body += "<html><body>404</body></html>\r\n";
    return body;
}

void SendLines(const HttpRequest& request, HttpConnection& out, const std::vector<ReplyLine>& lines,
               BodyFault fault) {
    static const HttpConnection::Headers kText = {{"Content-Type", "text/plain"}};
    std::string body;
    const char* eol = fault == BodyFault::BareLf ? "\n" : "\r\n";
    for (const ReplyLine& l : lines) {
        if (fault != BodyFault::NoStatus)
            body += l.status + " ";
        body += l.name + "=" + l.value + eol;
    }
    switch (fault) {
    case BodyFault::Drop:
        out.CloseAfterAnswer();
        return;
    case BodyFault::Silent:
        out.HoldSilent();
        return;
    case BodyFault::Empty:
        body.clear();
        break;
    case BodyFault::Junk:
        body = JunkBody();
        break;
    case BodyFault::Extra:
        body += "OK camsimextra1=1\r\nNG camsimextra2=2\r\nOK camsimextra3=3\r\n";
        break;
    case BodyFault::Huge: {
        if (!out.SendHead(200, "OK", kText, static_cast<int64_t>(DeviceFaults::kHugeBodyBytes)))
            return;
        const std::string junk = JunkBody();
        std::string piece;
        while (piece.size() < 64 * 1024)
            piece += junk;
        size_t left = DeviceFaults::kHugeBodyBytes;
        while (left > 0 && !out.Stopping()) {
            const size_t n = std::min(left, piece.size());
            if (!out.SendBody(piece.data(), n))
                return;
            left -= n;
        }
        out.FinishBody();
        return;
    }
    default:
        break;
    }
    (void)request;
    out.SendText(200, "OK", "text/plain", body);
}

// Parameter requests over the CGI's length get an empty answer: the device
// reads no entry of them.
bool TooLong(const HttpRequest& request, HttpConnection& out) {
    if (ParameterCgi::Fits(request.mPath, request.mQuery))
        return false;
    out.SendText(414, "URI Too Long", "text/plain", "");
    return true;
}

void Control(const HttpRequest& request, HttpConnection& out, DeviceState& state, DeviceFaults& faults) {
    bool ok = true;
    std::string reset = request.Param("reset", "-");
    if (reset == "" || reset == "faults")
        faults.Reset();
    if (reset == "" || reset == "params")
        state.Reset();
    if (reset != "-" && reset != "" && reset != "faults" && reset != "params")
        ok = false;
    for (const auto& p : request.mParams) {
        if (p.first == "reset" || p.first == "describe")
            continue;
        if (p.first.compare(0, 4, "set.") == 0)
            ok = state.Set(p.first.substr(4), p.second) && ok;
        else
            ok = faults.Apply(p.first, p.second) && ok;
    }
    std::string body = (ok ? "OK " : "NG ") + faults.Describe() + "\r\n";
    if (request.HasParam("describe"))
        body += state.Describe();
    out.SendText(ok ? 200 : 400, ok ? "OK" : "Bad Request", "text/plain", body);
}

// "/camsim/ptz": where the PTZ head stands and the commands that arrived.
// "home" stops it and puts the view back, "clear" empties the log (first,
// wherever they stand); "until=N" waits (within "timeout=MS") until N
// commands are logged; "since=K" lists only those numbered above K.
void PtzControl(const HttpRequest& request, HttpConnection& out, DeviceState& state) {
    PtzHead& head = state.Ptz();
    if (request.HasParam("home"))
        head.Home();
    if (request.HasParam("clear"))
        head.ClearLog();
    uint64_t since = 0;
    uint64_t until = 0;
    uint64_t timeout = kDefaultWaitMs;
    bool ok = (!request.HasParam("since") || ParseDecimal(request.Param("since"), UINT64_MAX, &since)) &&
              (!request.HasParam("until") || ParseDecimal(request.Param("until"), UINT32_MAX, &until)) &&
              (!request.HasParam("timeout") ||
               ParseDecimal(request.Param("timeout"), PtzHead::kMaxWaitMs, &timeout));
    for (const auto& p : request.mParams)
        if (p.first != "home" && p.first != "clear" && p.first != "since" && p.first != "until" &&
            p.first != "timeout")
            ok = false;
    if (!ok) {
        out.SendText(400, "Bad Request", "text/plain", "NG\r\n");
        return;
    }
    if (request.HasParam("until"))
        head.WaitLogged(until, std::chrono::milliseconds(timeout), [&out] { return out.Stopping(); });
    const PtzHead::State s = head.At(PtzHead::Clock::now());
    std::string body = "OK pan=" + std::to_string(s.pan) + " tilt=" + std::to_string(s.tilt) +
                       " zoom=" + std::to_string(s.zoom) + " pan_speed=" + std::to_string(s.panSpeed) +
                       " tilt_speed=" + std::to_string(s.tiltSpeed) +
                       " zoom_speed=" + std::to_string(s.zoomSpeed) + " taken=" + std::to_string(s.taken) +
                       " logged=" + std::to_string(head.Logged()) + "\r\n";
    for (const PtzHead::Entry& e : head.Log(since))
        body += PtzHead::Line(e) + "\r\n";
    out.SendText(200, "OK", "text/plain", body);
}

} // namespace

void DeviceRoutes::Register(Router& router, DeviceState& state, DeviceFaults& faults,
                            PictureHandler pictures) {
    const Dialect dialect = state.Config().dialect;
    auto parameters = [&state, &faults](const HttpRequest& request, HttpConnection& out) {
        if (TooLong(request, out))
            return;
        ParameterCgi cgi(state, faults);
        SendLines(request, out, cgi.Answer(request.mQuery), faults.Body());
    };
    router.Add("/vb.htm", Router::Match::Exact, parameters);
    router.Add("/camsim/device", Router::Match::Exact,
               [&state, &faults](const HttpRequest& request, HttpConnection& out) {
                   Control(request, out, state, faults);
               });
    router.Add(
        "/camsim/ptz", Router::Match::Exact,
        [&state](const HttpRequest& request, HttpConnection& out) { PtzControl(request, out, state); });

    if (dialect == Dialect::MultiChannel) {
        router.Add("/api.htm", Router::Match::Exact,
                   [parameters, pictures](const HttpRequest& request, HttpConnection& out) {
                       if (pictures && pictures(request, out))
                           return;
                       parameters(request, out);
                   });
    }
    if (dialect == Dialect::ProfileCamera) {
        router.Add("/ipcam/multiprofile.cgi", Router::Match::Exact,
                   [&state, &faults](const HttpRequest& request, HttpConnection& out) {
                       if (TooLong(request, out))
                           return;
                       ParameterCgi cgi(state, faults);
                       SendLines(request, out, cgi.AnswerProfile(request.mQuery), faults.Body());
                   });
    }
    if (dialect == Dialect::VideoStandard) {
        router.Add("/getstate", Router::Match::Exact,
                   [&state, &faults](const HttpRequest& request, HttpConnection& out) {
                       const BodyFault fault = faults.Body();
                       if (fault != BodyFault::None && fault != BodyFault::BareLf &&
                           fault != BodyFault::NoStatus && fault != BodyFault::Extra) {
                           SendLines(request, out, {}, fault);
                           return;
                       }
                       // The answer is the bare flag: its first character
                       // says PAL ("1") or NTSC ("0").
                       std::string mode;
                       state.Get("videomode", &mode);
                       if (request.mQuery != "value=ntsc") {
                           out.SendText(200, "OK", "text/plain", "NS " + request.mQuery + "\r\n");
                           return;
                       }
                       out.SendText(200, "OK", "text/plain", (mode == "0" ? "0" : "1") + std::string("\r\n"));
                   });
    }
    if (dialect == Dialect::OtherVendor)
        router.Add("/axis-cgi/admin/getparam.cgi", Router::Match::Exact, parameters);
}

const char* DeviceRoutes::Help() {
    return "  /vb.htm?KEY&NAME=VALUE  the parameter CGI: reads and writes, one reply line each\n"
           "  /api.htm?...            recorders: parameter keys, or a picture (op.liveimage=MASK)\n"
           "  /ipcam/multiprofile.cgi?nowprofileid=P&streamvalid|getformat|getxsize|getysize\n"
           "  /getstate?value=ntsc    video-standard servers: \"1\" PAL, \"0\" NTSC\n"
           "  /axis-cgi/admin/getparam.cgi?KEY  the other vendor's camera\n"
           "  "
           "/camsim/device?[describe][&reset[=faults|params]][&set.NAME=VALUE][&reply=WORD:KEY][&body=MODE]\n"
           "                          the device's state and reply faults (no authentication, no faults)\n"
           "  /camsim/ptz?[home][&clear][&since=K][&until=N[&timeout=MS]]\n"
           "                          the PTZ head (\"OK pan=.. tilt=.. zoom=.. ...\") and one line per\n"
           "                          qk310output command: \"NUMBER MS STATUS COMMAND\", MS since start\n";
}

} // namespace camsim
