// ipcamview: the host program of the viewer library.
#include "Commands.h"

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] = "usage:\n"
                      "  ipcamview --demo [--camsim PATH]\n"
                      "      start the simulated device camsim on a free loopback port and show what the\n"
                      "      library does with it\n"
                      "  ipcamview fetch URL [--user U] [--password P] [--transport socket|inet]\n"
                      "      GET a URL through the library's HTTP client; body to standard output, status\n"
                      "      to standard error; exit 0 for 2xx, 1 for another answer, 2 for none\n";

} // namespace

int main(int argc, char** argv) {
    Args args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "fetch")
        return RunFetch(Args(args.begin() + 1, args.end()));
    if (TakeFlag(args, "--demo"))
        return RunDemo(args);
    std::fprintf(stderr, "ipcamview: unknown command \"%s\"\n%s", args[0].c_str(), kUsage);
    return 2;
}
