// `ipcamview demo` (also `--demo`): camsim on a free loopback port, and what
// the library does with it so far.
#include "Commands.h"

#include "CamsimProcess.h"
#include "DeviceOpen.h"
#include "Interrupt.h"

#include "ipcamview/ipcamview.h"
#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "net/IHttpClient.h"
#include "platform/CManualEvent.h"
#include "platform/CMemoryStream.h"

#include <memory>

namespace {

const char kUsage[] = "usage: ipcamview demo [--camsim PATH] [--duration S] [--snapshot FILE.png]\n"
                      "\n"
                      "Starts the simulated device camsim on a free loopback port and shows what the\n"
                      "library does with it: fetches through both HTTP clients, the C exports, a probe of\n"
                      "the camera, two seconds of its raw stream, then its live video for S seconds\n"
                      "(default 10) in a window, or headless where no display opens, with a snapshot of\n"
                      "the window at the end (default: ipcamview-demo.png in the working folder).\n"
                      "--camsim names the camsim program (default: the one built beside this program,\n"
                      "else camsim on the PATH).\n";

constexpr int64_t kDefaultViewS = 10;

struct SFetched {
    int status = 0; // 0: no answer
    size_t bytes = 0;
};

SFetched Fetch(const std::string& address, int32_t transport, const std::string& user,
               const std::string& password) {
    SFetched result;
    media_util::CManualEvent cancel;
    CHttpLink* link = nullptr;
    IHttpClient* client = nullptr;
    CreateHttpClient(transport, user, password, &cancel, &link, &client);
    std::unique_ptr<CHttpLink> linkOwner(link);
    std::unique_ptr<IHttpClient> clientOwner(client);
    CUrl url;
    if (link == nullptr || !url.Crack(address))
        return result;
    media_util::CMemoryStream stream;
    link->FetchInto(url, stream);
    result.status = client->GetStatusCode();
    result.bytes = stream.GetLength();
    return result;
}

} // namespace

int RunDemo(const Args& args) {
    CCommandLine line;
    int exitCode = kExitOk;
    if (!ParseCommand("demo", kUsage, args,
                      std::vector<SOption>{{"--camsim", true, "PATH"},
                                           {"--duration", true, "S"},
                                           {"--snapshot", true, "FILE"}},
                      line, exitCode))
        return exitCode;
    std::string error;
    if (!line.Positional().empty())
        return Fail(kExitUsage, "demo takes no arguments (see ipcamview demo --help)");
    int64_t viewS = kDefaultViewS;
    if (line.Has("--duration") && !line.Number("--duration", 1, 3600, viewS, error))
        return Fail(kExitUsage, "%s", error.c_str());
    const std::string snapshot = line.Has("--snapshot") ? line.Value("--snapshot") : "ipcamview-demo.png";
    const std::string camsimPath =
        line.Has("--camsim") ? line.Value("--camsim") : CamsimProcess::DefaultPath();

    std::printf("ipcamview demo\n\n");
    std::printf("Device models the library knows (machine code -> type, channels, receive type):\n");
    for (int code : {0x1200, 0x1290, 0x1412, 0x1677, 0x2247, 0x3004, 0x9001, 0xF001, 0x10004, 0x7777}) {
        std::printf("  0x%05X  type %3d  channels %2d  receive %d\n", code, GetDeviceType(code),
                    GetMaxChannel(code), GetMediaReceiveType(code));
    }

    CamsimProcess camsim;
    if (!camsim.Start(camsimPath, {"--device", "cam-jpeg-4608", "--user", "admin:demo"}, error))
        return Fail(kExitFailed, "demo: %s", error.c_str());
    const std::string base = "http://127.0.0.1:" + std::to_string(camsim.Port());
    std::printf("\ncamsim (the simulated device) listens on %s\n", base.c_str());

    for (const char* transport : {"socket", "inet"}) {
        int32_t kind = kTransportSocket;
        ParseTransport(transport, kind);
        const SFetched ok = Fetch(base + "/", kind, "admin", "demo");
        const SFetched refused = Fetch(base + "/", kind, "admin", "wrong");
        const SFetched chunked =
            Fetch(base + "/chunked?n=100000&sizes=1,7,300,2,4096", kind, "admin", "demo");
        std::printf(
            "  %-6s transport: GET / -> %d (%zu bytes); wrong password -> %d; chunked body -> %d (%zu "
            "bytes)\n",
            transport, ok.status, ok.bytes, refused.status, chunked.status, chunked.bytes);
    }

    int32_t audio = 1;
    const std::string address = "127.0.0.1:" + std::to_string(camsim.Port());
    const int32_t handle = Start(0, IPCAMVIEW_TRANSPORT_SOCKET, address.c_str(), 0, "admin", "demo", &audio,
                                 1, IPCAMVIEW_CODEC_NONE);
    std::printf("\nStart(\"%s\") -> handle %d, audio flag %d\n", address.c_str(), handle, audio);
    const int32_t bad =
        Start(0, IPCAMVIEW_TRANSPORT_SOCKET, "http://", 0, "", "", &audio, 1, IPCAMVIEW_CODEC_NONE);
    std::printf("Start(\"http://\") -> handle %d (the address does not parse)\n", bad);
    std::printf("Stop(%d) -> %s\n", handle, Stop(handle) ? "true" : "false");

    std::printf("\nipcamview probe %s --user admin --password demo --audio\n", address.c_str());
    std::fflush(stdout);
    RunProbe({address, "--user", "admin", "--password", "demo", "--audio"});
    std::printf("\nipcamview receive %s --user admin --password demo --audio --duration 2\n",
                address.c_str());
    std::fflush(stdout);
    const int received =
        RunReceive({address, "--user", "admin", "--password", "demo", "--audio", "--duration", "2"});
    if (received != kExitOk)
        return received;
    // The receive's --duration has passed; the view gets a time of its own.
    CInterrupt::Get().NextCommand();
    const std::string duration = std::to_string(viewS);
    std::printf("\nipcamview view %s --user admin --password demo --duration %s --snapshot %s\n",
                address.c_str(), duration.c_str(), snapshot.c_str());
    std::fflush(stdout);
    const int viewed = RunView(
        {address, "--user", "admin", "--password", "demo", "--duration", duration, "--snapshot", snapshot});
    std::printf(
        "\nOver the video: the motion area, motion grid and privacy mask editors and pan/tilt/zoom, "
        "ipcamview view ADDRESS --overlay motion|grid|mask|ptz (README, \"Controls over the video\").\n");
    return viewed;
}
