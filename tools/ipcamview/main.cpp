// ipcamview: the host program of the viewer library.
#include "Commands.h"

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "usage:\n"
    "  ipcamview --demo [--camsim PATH]\n"
    "      start the simulated device camsim on a free loopback port and show what the\n"
    "      library does with it\n"
    "  ipcamview fetch URL [--user U] [--password P] [--transport socket|inet]\n"
    "      GET a URL through the library's HTTP client; body to standard output, status\n"
    "      to standard error; exit 0 for 2xx, 1 for another answer, 2 for none\n"
    "  ipcamview probe ADDRESS [--user U --password P] [--channel N] [--codec jpeg|mpeg4|h264]\n"
    "                [--profile N] [--width W --height H] [--audio] [--transport socket|inet]\n"
    "      open a viewer on the device and print what it learned (name=value lines); exit 0\n"
    "      when a stream URL was composed, 1 otherwise\n"
    "  ipcamview receive ADDRESS [probe's options] [--duration S]\n"
    "  ipcamview receive --url STREAM_URL [--user U --password P] [--transport T] [--duration S]\n"
    "  ipcamview receive --file CAPTURE\n"
    "      receive the live stream (of the device, of a stream URL, or a captured multipart\n"
    "      stream as fast as it reads); progress each second on standard error, a summary\n"
    "      (frames, video_frames, audio_frames, bytes, events, reconnects, key_frames, width,\n"
    "      height) on standard output; exit 0 when frames arrived\n";

} // namespace

int main(int argc, char** argv) {
    Args args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "fetch")
        return RunFetch(Args(args.begin() + 1, args.end()));
    if (args[0] == "probe")
        return RunProbe(Args(args.begin() + 1, args.end()));
    if (args[0] == "receive")
        return RunReceive(Args(args.begin() + 1, args.end()));
    if (TakeFlag(args, "--demo"))
        return RunDemo(args);
    std::fprintf(stderr, "ipcamview: unknown command \"%s\"\n%s", args[0].c_str(), kUsage);
    return 2;
}
