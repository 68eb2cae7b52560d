#include "Options.h"

#include "CoreResources.h"
#include "Decimal.h"
#include "Device.h"
#include "DeviceFaults.h"
#include "DeviceRoutes.h"
#include "Faults.h"
#include "MediaRoutes.h"

namespace camsim {

namespace {} // namespace

std::string Options::Usage() {
    std::string text =
        "usage: camsim [options]\n"
        "A simulated IP camera on loopback. Prints \"port=N\" as its first line once it listens.\n"
        "\n"
        "options:\n"
        "  --device NAME          the device model to play (default " +
        std::string(kDefaultDeviceName) +
        "); one of --list\n"
        "  --list                 print the model names, one per line, and exit\n"
        "  --describe             print the model's configuration and the values it serves as\n"
        "                         name=value lines, and exit\n"
        "  --port N               port to listen on; 0 (the default) picks a free one\n"
        "  --bind ADDR            127.0.0.1 (default) or ::1\n"
        "  --user NAME:PASSWORD   accept these Basic credentials (repeatable); without any\n"
        "                         --user no authentication is asked for\n"
        "  --max-connections N    simultaneous connections (default 64); more get 503 and close\n"
        "  --idle-timeout MS      close a connection that sends no request for MS ms (default 10000)\n"
        "  --lifetime S           exit after S seconds\n"
        "  --exit-on-stdin-eof    exit when standard input reaches its end (so a test's crash\n"
        "                         cannot leave camsim behind)\n"
        "  --fault NAME[=VALUE]   switch a fault on from the start (repeatable); the same names\n"
        "                         work in the control CGI:\n";
    text += Faults::Help();
    text += DeviceFaults::Help();
    text += "  --help                 this text\n\nresources:\n";
    text += CoreResources::Help();
    text += DeviceRoutes::Help();
    text += MediaRoutesHelp();
    return text;
}

Options::Result Options::Parse(int argc, char** argv, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::string v;
        uint64_t number = 0;
        if (arg == "--help" || arg == "-h")
            return Result::Help;
        if (arg == "--list") {
            mList = true;
            continue;
        }
        if (arg == "--describe") {
            mDescribe = true;
            continue;
        }
        if (arg == "--exit-on-stdin-eof") {
            mExitOnStdinEof = true;
            continue;
        }
        if (!value(&v))
            return Result::Error;
        if (arg == "--port") {
            if (!ParseDecimal(v, 65535, &number)) {
                *error = "bad port: " + v;
                return Result::Error;
            }
            mServer.port = static_cast<uint16_t>(number);
        } else if (arg == "--bind") {
            if (v != "127.0.0.1" && v != "::1") {
                *error = "--bind takes 127.0.0.1 or ::1";
                return Result::Error;
            }
            mServer.bindAddress = v;
        } else if (arg == "--user") {
            size_t colon = v.find(':');
            if (colon == std::string::npos || colon == 0) {
                *error = "--user takes NAME:PASSWORD";
                return Result::Error;
            }
            mServer.users.emplace_back(v.substr(0, colon), v.substr(colon + 1));
        } else if (arg == "--max-connections") {
            if (!ParseDecimal(v, HttpServer::kMaxConnectionsLimit, &number) || number == 0) {
                *error = "bad connection count: " + v;
                return Result::Error;
            }
            mServer.maxConnections = static_cast<uint32_t>(number);
        } else if (arg == "--idle-timeout") {
            if (!ParseDecimal(v, 3600 * 1000, &number) || number == 0) {
                *error = "bad idle time-out: " + v;
                return Result::Error;
            }
            mServer.idleTimeoutMs = static_cast<uint32_t>(number);
        } else if (arg == "--lifetime") {
            if (!ParseDecimal(v, kMaxLifetimeSeconds, &number) || number == 0) {
                *error = "bad lifetime: " + v;
                return Result::Error;
            }
            mLifetimeSeconds = static_cast<uint32_t>(number);
        } else if (arg == "--device") {
            if (!FindDevice(v)) {
                *error = "unknown device: " + v + " (camsim --list names them)";
                return Result::Error;
            }
            mDevice = v;
        } else if (arg == "--fault" && DeviceFaults::Knows(v.substr(0, v.find('=')))) {
            DeviceFaults probe;
            if (!probe.ApplyText(v)) {
                *error = "bad value: " + v;
                return Result::Error;
            }
            mDeviceFaults.push_back(v);
        } else if (arg == "--fault") {
            Faults probe;
            if (!probe.ApplyText(v)) {
                *error = "unknown fault or bad value: " + v;
                return Result::Error;
            }
            mFaults.push_back(v);
        } else {
            *error = "unknown option: " + arg;
            return Result::Error;
        }
    }
    return Result::Run;
}

} // namespace camsim
