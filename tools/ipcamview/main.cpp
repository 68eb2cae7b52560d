// ipcamview: the host program of the viewer library.
#include "Commands.h"
#include "Interrupt.h"

#include "platform/Trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef IPCAMVIEW_VERSION
#define IPCAMVIEW_VERSION "unknown"
#endif

namespace {

const char kUsage[] =
    "usage: ipcamview COMMAND [ARGS...]    (ipcamview COMMAND --help for each)\n"
    "\n"
    "commands:\n"
    "  audio-devices\n"
    "             the audio capture devices a viewer sees, the one it would capture from\n"
    "             and the formats that one takes\n"
    "  demo       start the simulated device camsim on a free loopback port and show what\n"
    "             the library does with it (also: ipcamview --demo)\n"
    "  fetch      GET a URL through the library's HTTP client; the body to standard output\n"
    "  probe      open a viewer on a device and print what it learned\n"
    "  receive    run the live receiver of a device, a stream URL or a captured stream and\n"
    "             count what arrives\n"
    "  view       viewers of one or more channels on the shared pipeline (headless for now)\n"
    "\n"
    "options:\n"
    "  --help     this text\n"
    "  --version  the program's version\n"
    "  --trace FILE  before the command: append the library's diagnostic traces to FILE,\n"
    "             one per line (the shipped library traces nothing on its own)\n"
    "\n"
    "Errors are one line on standard error, \"ipcamview: \" and the reason.\n"
    "Exit codes, the same for every command:\n"
    "  0  success\n"
    "  1  the device answered but refused or failed (wrong password, not a camera, no such\n"
    "     channel, no stream, no frames)\n"
    "  2  no answer (refused connection, silence, unknown host), or bad usage\n"
    "  130  a second Ctrl-C ended the program at once\n";

// The library calls the sink one trace at a time, from whichever thread
// traced; each text is written at once, so a crash loses none.
void WriteTrace(const char* text, void* context) {
    FILE* file = static_cast<FILE*>(context);
    std::fputs(text, file);
    if (text[0] == '\0' || text[std::strlen(text) - 1] != '\n')
        std::fputc('\n', file);
    std::fflush(file);
}

} // namespace

int main(int argc, char** argv) {
    // Before any thread exists: every thread inherits the blocked signals,
    // and only the signal thread takes them.
    CInterrupt::Get();
    Args args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--trace" || args[0].compare(0, 8, "--trace=") == 0)) {
        const bool joined = args[0].size() > 7;
        if (!joined && args.size() < 2)
            return Fail(kExitUsage, "--trace needs a file");
        const std::string path = joined ? args[0].substr(8) : args[1];
        // Kept open to the end of the process: traces may come until the
        // last worker has stopped.
        FILE* file = std::fopen(path.c_str(), "a");
        if (file == nullptr)
            return Fail(kExitUsage, "cannot write the trace file %s: %s", path.c_str(), std::strerror(errno));
        media_util::SetTraceSink(WriteTrace, file);
        args.erase(args.begin(), args.begin() + (joined ? 1 : 2));
    }
    if (args.empty())
        return Fail(kExitUsage, "a command is needed (see ipcamview --help)");
    const std::string command = args[0];
    const Args rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "--version") {
        std::printf("ipcamview %s\n", IPCAMVIEW_VERSION);
        return kExitOk;
    }
    if (command == "fetch")
        return RunFetch(rest);
    if (command == "probe")
        return RunProbe(rest);
    if (command == "receive")
        return RunReceive(rest);
    if (command == "view")
        return RunView(rest);
    if (command == "audio-devices")
        return RunAudioDevices(rest);
    if (command == "demo" || command == "--demo")
        return RunDemo(rest);
    if (command.compare(0, 1, "-") == 0)
        return Fail(kExitUsage, "unknown option %s (see ipcamview --help)", command.c_str());
    return Fail(kExitUsage, "unknown command \"%s\" (see ipcamview --help)", command.c_str());
}
