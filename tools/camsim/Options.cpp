#include "Options.h"

#include "ClipCache.h"
#include "CoreResources.h"
#include "Decimal.h"
#include "Device.h"
#include "DeviceFaults.h"
#include "DeviceRoutes.h"
#include "Faults.h"
#include "MediaRoutes.h"

namespace camsim {

namespace {

// The fault switches are values of --fault: their lines sit under it, deeper
// than the options, with their descriptions in the options' column.
std::string IndentFaultLines(const char* text) {
    std::string out;
    for (const char* line = text; *line;) {
        const char* end = line;
        while (*end && *end != '\n')
            ++end;
        out += "      ";
        out.append(line, end);
        out += '\n';
        line = *end ? end + 1 : end;
    }
    return out;
}

} // namespace

std::string Options::Usage() {
    std::string text =
        "usage: camsim [options]\n"
        "A simulated IP camera on loopback. Prints \"port=N\" as its first line once it listens.\n"
        "Options take their value as \"--name value\" or \"--name=value\".\n"
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
        "  --size WxH             benchmarks: every picture W x H (even, 16 to 4096; a dual-picture\n"
        "                         recorder's whole picture), in what the model reports and sends\n"
        "  --fps N                benchmarks: every stream at N frames a second (1 to 60), however\n"
        "                         many channels share a connection; polled models: only the rate\n"
        "                         they can report (30; the video-standard server 25 or 30)\n"
        "  --codec NAME           benchmarks: jpeg, mpeg4 or h264 for the cameras; recorders, servers\n"
        "                         and the other vendor's camera take only their own\n"
        "  --preencode N          benchmarks: encode N pictures per channel once (1 to 300) and\n"
        "                         replay them with fresh headers, times and frame numbers\n"
        "  --still                a scene that does not move by itself, without text: pictures\n"
        "                         change only when the PTZ view moves or a privacy mask changes\n"
        "  --fault NAME[=VALUE]   switch a fault on from the start (repeatable); the same names\n"
        "                         work in the control CGIs, /camsim/control and /camsim/device:\n";
    text += IndentFaultLines(Faults::Help());
    text += IndentFaultLines(DeviceFaults::Help());
    text += "  --help, -h             this text\n\nresources:\n";
    text += CoreResources::Help();
    text += DeviceRoutes::Help();
    text += MediaRoutesHelp();
    text += "\nExit: 0 after --help, --list, --describe or a clean stop; 1 when it cannot listen;\n"
            "2 for bad usage.\n";
    return text;
}

const char* Options::UsageHint() {
    return "usage: camsim [--device NAME] [--port N] [--fault NAME=VALUE]... [options]; camsim --help "
           "lists them\n";
}

Options::Result Options::Parse(int argc, char** argv, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h")
            return Result::Help;
        if (word.compare(0, 2, "--") != 0) {
            *error = (word[0] == '-' ? "unknown option " : "unexpected argument ") + word;
            return Result::Error;
        }
        // "--name=value" and "--name value" say the same; a value may itself
        // hold "=" ("--fault=reply=NG:getformat").
        const size_t eq = word.find('=');
        const std::string name = word.substr(0, eq);
        const KnownOption* option = Find(name);
        if (!option) {
            *error = "unknown option " + name;
            return Result::Error;
        }
        std::string value;
        if (!option->takesValue) {
            if (eq != std::string::npos) {
                *error = name + " takes no value";
                return Result::Error;
            }
        } else if (eq != std::string::npos) {
            value = word.substr(eq + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            *error = name + " needs a value";
            return Result::Error;
        }
        if (!Take(name, value, error))
            return Result::Error;
    }
    return Result::Run;
}

const Options::KnownOption* Options::Find(const std::string& name) {
    for (const KnownOption& option : kKnownOptions)
        if (name == option.name)
            return &option;
    return nullptr;
}

bool Options::Take(const std::string& name, const std::string& v, std::string* error) {
    uint64_t number = 0;
    if (name == "--list") {
        mList = true;
    } else if (name == "--describe") {
        mDescribe = true;
    } else if (name == "--exit-on-stdin-eof") {
        mExitOnStdinEof = true;
    } else if (name == "--still") {
        mStill = true;
    } else if (name == "--port") {
        if (!ParseDecimal(v, 65535, &number)) {
            *error = "bad port: " + v;
            return false;
        }
        mServer.port = static_cast<uint16_t>(number);
    } else if (name == "--bind") {
        if (v != "127.0.0.1" && v != "::1") {
            *error = "--bind takes 127.0.0.1 or ::1";
            return false;
        }
        mServer.bindAddress = v;
    } else if (name == "--user") {
        size_t colon = v.find(':');
        if (colon == std::string::npos || colon == 0) {
            *error = "--user takes NAME:PASSWORD";
            return false;
        }
        mServer.users.emplace_back(v.substr(0, colon), v.substr(colon + 1));
    } else if (name == "--max-connections") {
        if (!ParseDecimal(v, HttpServer::kMaxConnectionsLimit, &number) || number == 0) {
            *error = "bad connection count: " + v;
            return false;
        }
        mServer.maxConnections = static_cast<uint32_t>(number);
    } else if (name == "--idle-timeout") {
        if (!ParseDecimal(v, 3600 * 1000, &number) || number == 0) {
            *error = "bad idle time-out: " + v;
            return false;
        }
        mServer.idleTimeoutMs = static_cast<uint32_t>(number);
    } else if (name == "--lifetime") {
        if (!ParseDecimal(v, kMaxLifetimeSeconds, &number) || number == 0) {
            *error = "bad lifetime: " + v;
            return false;
        }
        mLifetimeSeconds = static_cast<uint32_t>(number);
    } else if (name == "--device") {
        if (!FindDevice(v)) {
            *error = "unknown device: " + v + " (camsim --list names them)";
            return false;
        }
        mDevice = v;
    } else if (name == "--size") {
        const size_t x = v.find('x');
        uint64_t width = 0;
        uint64_t height = 0;
        if (x == std::string::npos || !ParseDecimal(v.substr(0, x), kMaxOverrideSide, &width) ||
            !ParseDecimal(v.substr(x + 1), kMaxOverrideSide, &height) || width < kMinOverrideSide ||
            height < kMinOverrideSide || width % 2 || height % 2) {
            *error = "bad size: " + v + " (WxH, even, " + std::to_string(kMinOverrideSide) + " to " +
                     std::to_string(kMaxOverrideSide) + ")";
            return false;
        }
        mOverrides.width = static_cast<uint32_t>(width);
        mOverrides.height = static_cast<uint32_t>(height);
    } else if (name == "--fps") {
        if (!ParseDecimal(v, kMaxOverrideFps, &number) || number == 0) {
            *error = "bad frame rate: " + v + " (1 to " + std::to_string(kMaxOverrideFps) + ")";
            return false;
        }
        mOverrides.fps = static_cast<uint32_t>(number);
    } else if (name == "--codec") {
        if (v == "jpeg")
            mOverrides.codec = kCodecJpeg;
        else if (v == "mpeg4")
            mOverrides.codec = kCodecMpeg4;
        else if (v == "h264")
            mOverrides.codec = kCodecH264;
        else {
            *error = "--codec takes jpeg, mpeg4 or h264";
            return false;
        }
    } else if (name == "--preencode") {
        if (!ParseDecimal(v, ClipCache::kMaxFrames, &number) || number == 0) {
            *error = "bad picture count: " + v + " (1 to " + std::to_string(ClipCache::kMaxFrames) + ")";
            return false;
        }
        mPreencode = static_cast<uint32_t>(number);
    } else if (name == "--fault" && DeviceFaults::Knows(v.substr(0, v.find('=')))) {
        DeviceFaults probe;
        if (!probe.ApplyText(v)) {
            *error = "bad value: " + v;
            return false;
        }
        mDeviceFaults.push_back(v);
    } else if (name == "--fault") {
        Faults probe;
        if (!probe.ApplyText(v)) {
            *error = "unknown fault or bad value: " + v;
            return false;
        }
        mFaults.push_back(v);
    }
    return true;
}

} // namespace camsim
