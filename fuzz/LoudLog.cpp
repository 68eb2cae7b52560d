// Lines libavcodec writes to the process's log are as unwelcome as a crash in
// a host's stderr, but libFuzzer does not see them. With FUZZ_TRAP_LOUD set
// in the environment, the decoding targets abort on the first line that the
// default log callback would print, so libFuzzer keeps the input that made it
// (run with -fork or a loop to collect several); a value other than 1 traps
// only on lines that contain it. Off by default: a campaign counts the lines
// in its log instead of stopping at the first.
#include "LoudLog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

namespace fuzz {
void (*gBeforeLoudTrap)() = nullptr;
} // namespace fuzz

namespace {

const char* gOnly = nullptr; // trap only on lines containing this

void TrapLoud(void* context, int level, const char* format, va_list args) {
    if (level > av_log_get_level())
        return;
    char line[1024];
    int prefix = 1;
    va_list copy;
    va_copy(copy, args);
    av_log_format_line(context, level, format, copy, line, sizeof line, &prefix);
    va_end(copy);
    if (gOnly != nullptr && std::strstr(line, gOnly) == nullptr) {
        std::fputs(line, stderr);
        return;
    }
    std::fprintf(stderr, "loud line from the codec library: %s", line);
    if (fuzz::gBeforeLoudTrap != nullptr)
        fuzz::gBeforeLoudTrap();
    std::abort();
}

const bool kInstalled = [] {
    const char* trap = std::getenv("FUZZ_TRAP_LOUD");
    if (trap == nullptr)
        return true;
    if (std::strcmp(trap, "1") != 0)
        gOnly = trap;
    av_log_set_callback(TrapLoud);
    return true;
}();

} // namespace
