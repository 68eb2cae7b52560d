// `ipcamview fetch`: one GET through the library's HTTP client, the body
// streamed to standard output as it arrives.
#include "Commands.h"

#include "DeviceOpen.h"
#include "Interrupt.h"

#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "net/IHttpClient.h"
#include "platform/CManualEvent.h"

#include <memory>

namespace {

const char kUsage[] =
    "usage: ipcamview fetch URL [options]\n"
    "\n"
    "One GET through the library's HTTP client. The body goes to standard output as it\n"
    "arrives, however long it is.\n"
    "\n"
    "URL is an http:// URL (credentials in it are used) or HOST[:PORT][/PATH].\n"
    "\n"
    "options:\n"
    "  --user U --password P    credentials (both or neither)\n"
    "  --transport socket|inet  the socket HTTP client (default) or the asynchronous client\n"
    "  --duration S             give up after S seconds (default: when the body ends)\n"
    "  --verbose                print the status (status=N) on standard error\n"
    "\n"
    "Exit: 0 a 2xx answer, received whole; 1 another answer, or a body cut short;\n"
    "2 no answer, or bad usage.\n";

// Pieces of the body written at once.
constexpr DWORD kPieceBytes = 64 * 1024;
// Longest --duration accepted (a day).
constexpr int64_t kMaxDurationS = 86400;

} // namespace

int RunFetch(const Args& args) {
    std::vector<SOption> known = kConnectOptions;
    known.insert(known.end(), {{"--duration", true, "S"}, {"--verbose", false, ""}});
    CCommandLine line;
    int exitCode = kExitOk;
    if (!ParseCommand("fetch", kUsage, args, known, line, exitCode))
        return exitCode;
    std::string error;
    if (line.Positional().size() != 1)
        return Fail(kExitUsage, "fetch takes one URL (see ipcamview fetch --help)");
    SDeviceAddress address;
    int32_t transport = kTransportSocket;
    int64_t durationS = 0;
    std::string user, password;
    if (!ParseDeviceAddress(line.Positional()[0], address, error) ||
        !line.Number("--duration", 1, kMaxDurationS, durationS, error))
        return Fail(kExitUsage, "%s", error.c_str());
    user = address.user;
    password = address.password;
    if (!TakeConnectOptions(line, user, password, transport, error))
        return Fail(kExitUsage, "%s", error.c_str());

    media_util::CManualEvent cancel;
    CHttpLink* linkMade = nullptr;
    IHttpClient* clientMade = nullptr;
    CreateHttpClient(transport, user, password, &cancel, &linkMade, &clientMade);
    std::unique_ptr<CHttpLink> link(linkMade);
    std::unique_ptr<IHttpClient> client(clientMade);
    CUrl url;
    if (link == nullptr || !url.Crack(address.url))
        return Fail(kExitUsage, "cannot read the URL \"%s\"", address.url.c_str());

    CInterrupt& end = CInterrupt::Get();
    end.OnEnd([&cancel] { cancel.Set(); });
    if (durationS > 0)
        end.SetDeadline(static_cast<DWORD>(durationS) * 1000);
    const char* name = line.Positional()[0].c_str();
    int result = kExitOk;
    auto refused = [&](int status) {
        if (status == 401 || status == 407)
            return Fail(kExitFailed, "%s: authentication failed (%d)", name, status);
        return Fail(kExitFailed, "%s: answered %d", name, status);
    };
    if (!link->Open(url)) {
        // An answer that ended the request (the asynchronous client gives a
        // refused password up at once) is still an answer.
        if (client->GetStatusCode() != 0 && !end.Ended())
            result = refused(client->GetStatusCode());
        else if (end.Ended())
            result = Fail(kExitNoAnswer, "%s: %s before an answer came", name,
                          end.Interrupted() ? "interrupted" : "the duration ended");
        else
            result = Fail(kExitNoAnswer, "%s: %s", name,
                          NoAnswerText(client->GetLastErrorCode(), transport).c_str());
    } else {
        std::unique_ptr<char[]> piece(new char[kPieceBytes]);
        uint64_t bytes = 0;
        for (;;) {
            DWORD length = kPieceBytes;
            if (!link->Read(piece.get(), &length, false))
                break;
            bytes += length;
            if (std::fwrite(piece.get(), 1, length, stdout) != length || std::fflush(stdout) != 0) {
                result = Fail(kExitFailed, "standard output: cannot write");
                break;
            }
        }
        const int status = client->GetStatusCode();
        if (line.Has("--verbose"))
            std::fprintf(stderr, "status=%d\n", status);
        if (result != kExitOk) {
            // The output broke; said already.
        } else if (end.Ended()) {
            result = Fail(kExitFailed, "%s: %s after %llu bytes of the body", name,
                          end.Interrupted() ? "interrupted" : "the duration ended",
                          static_cast<unsigned long long>(bytes));
        } else if (client->IsBodyCut()) {
            result = Fail(kExitFailed, "%s: the body was cut short after %llu bytes", name,
                          static_cast<unsigned long long>(bytes));
        } else if (status < 200 || status > 299) {
            result = refused(status);
        }
    }
    end.OnEnd(nullptr);
    link->Close();
    return result;
}
