#include "Commands.h"

#include "CamsimProcess.h"
#include "ProbeOptions.h"

#include "ipcamview/ipcamview.h"
#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "net/IHttpClient.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CManualEvent.h"
#include "platform/CMemoryStream.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

bool TakeOption(Args& args, const std::string& name, std::string& value) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == name) {
            value = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
            return true;
        }
    }
    return false;
}

bool TakeFlag(Args& args, const std::string& name) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name) {
            args.erase(args.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

namespace {

int TransportKind(const std::string& name) {
    if (name.empty() || name == "socket")
        return kHttpClientSocket;
    if (name == "inet")
        return kHttpClientWinINet;
    return -1;
}

struct FetchResult {
    int status = 0; // 0: no answer
    std::string body;
};

// One whole GET through the library's HTTP link on the chosen transport.
FetchResult Fetch(const std::string& address, int kind, const std::string& user,
                  const std::string& password) {
    FetchResult result;
    media_util::CManualEvent cancel;
    CHttpLink* link = nullptr;
    IHttpClient* client = nullptr;
    if (!CreateHttpClient(kind, user, password, &cancel, &link, &client))
        return result;
    std::unique_ptr<CHttpLink> linkOwner(link);
    std::unique_ptr<IHttpClient> clientOwner(client);
    CUrl url;
    if (!url.Crack(address))
        return result;
    media_util::CMemoryStream stream;
    link->FetchInto(url, stream);
    result.status = client->GetStatusCode();
    if (stream.GetLength() > 0) {
        BYTE* bytes = stream.ToByteArray();
        result.body.assign(reinterpret_cast<const char*>(bytes), stream.GetLength());
        delete[] bytes;
    }
    return result;
}

} // namespace

int RunFetch(const Args& input) {
    Args args = input;
    std::string user, password, transport;
    TakeOption(args, "--user", user);
    TakeOption(args, "--password", password);
    TakeOption(args, "--transport", transport);
    int kind = TransportKind(transport);
    if (args.size() != 1 || kind < 0) {
        std::fprintf(stderr,
                     "usage: ipcamview fetch URL [--user U] [--password P] [--transport socket|inet]\n");
        return 2;
    }
    FetchResult r = Fetch(args[0], kind, user, password);
    if (!r.body.empty())
        std::fwrite(r.body.data(), 1, r.body.size(), stdout);
    std::fflush(stdout);
    std::fprintf(stderr, "status=%d\n", r.status);
    if (r.status == 0)
        return 2;
    return r.status >= 200 && r.status < 300 ? 0 : 1;
}

int RunDemo(const Args& input) {
    Args args = input;
    std::string camsimPath = CamsimProcess::DefaultPath();
    TakeOption(args, "--camsim", camsimPath);

    std::printf("ipcamview demo\n\n");
    std::printf("Device models the library knows (machine code -> type, channels, receive type):\n");
    for (int code : {0x1200, 0x1290, 0x1412, 0x1677, 0x2247, 0x3004, 0x9001, 0xF001, 0x10004, 0x7777}) {
        std::printf("  0x%05X  type %3d  channels %2d  receive %d\n", code, GetDeviceType(code),
                    GetMaxChannel(code), GetMediaReceiveType(code));
    }

    CamsimProcess camsim;
    std::string error;
    if (!camsim.Start(camsimPath, {"--device", "cam-jpeg-4608", "--user", "admin:demo"}, error)) {
        std::fprintf(stderr, "demo: %s\n", error.c_str());
        return 1;
    }
    std::string base = "http://127.0.0.1:" + std::to_string(camsim.Port());
    std::printf("\ncamsim (the simulated device) listens on %s\n", base.c_str());

    for (const char* transport : {"socket", "inet"}) {
        int kind = TransportKind(transport);
        FetchResult ok = Fetch(base + "/", kind, "admin", "demo");
        FetchResult refused = Fetch(base + "/", kind, "admin", "wrong");
        FetchResult chunked = Fetch(base + "/chunked?n=100000&sizes=1,7,300,2,4096", kind, "admin", "demo");
        std::printf(
            "  %-6s transport: GET / -> %d (%zu bytes); wrong password -> %d; chunked body -> %d (%zu "
            "bytes)\n",
            transport, ok.status, ok.body.size(), refused.status, chunked.status, chunked.body.size());
    }

    int32_t audio = 1;
    std::string address = "127.0.0.1:" + std::to_string(camsim.Port());
    int32_t handle = Start(0, IPCAMVIEW_TRANSPORT_SOCKET, address.c_str(), 0, "admin", "demo", &audio, 1,
                           IPCAMVIEW_CODEC_NONE);
    std::printf("\nStart(\"%s\") -> handle %d, audio flag %d\n", address.c_str(), handle, audio);
    int32_t bad = Start(0, IPCAMVIEW_TRANSPORT_SOCKET, "http://", 0, "", "", &audio, 1, IPCAMVIEW_CODEC_NONE);
    std::printf("Start(\"http://\") -> handle %d (the address does not parse)\n", bad);
    std::printf("Stop(%d) -> %s\n", handle, Stop(handle) ? "true" : "false");

    // What a viewer learns from the device, as `ipcamview probe` prints it.
    ProbeOptions options;
    options.address = address;
    options.user = "admin";
    options.password = "demo";
    options.audio = true;
    CViewer viewer;
    const ProbeResult probed = OpenViewer(viewer, options);
    std::printf("\nipcamview probe %s --user admin --password demo --audio\n", address.c_str());
    std::fflush(stdout);
    PrintProbe(stdout, viewer, probed);

    std::printf("\nipcamview receive %s --user admin --password demo --audio --duration 2\n",
                address.c_str());
    std::fflush(stdout);
    RunReceive({address, "--user", "admin", "--password", "demo", "--audio", "--duration", "2"});
    std::printf("\nStill to come: live video in a window, recording, editors.\n");
    return 0;
}
