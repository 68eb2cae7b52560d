#include "platform/Trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/CCritSection.h"
#include "platform/CLockWrap.h"

namespace media_util {

namespace {

// Never destroyed: traces may come from threads that outlive static
// destruction at exit.
CCritSection& SinkLock() {
    static CCritSection* lock = new CCritSection;
    return *lock;
}

std::atomic<TraceSink> gSink{nullptr};
void* gContext = nullptr; // guarded by SinkLock

} // namespace

TraceSink SetTraceSink(TraceSink sink, void* context) {
    CLockWrap lock(SinkLock());
    TraceSink previous = gSink.exchange(sink);
    gContext = context;
    return previous;
}

void Trace(const char* format, ...) {
    if (gSink.load(std::memory_order_acquire) == nullptr || format == nullptr)
        return;
    char text[kTraceBufferSize];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    if (n < 0)
        return;
    CLockWrap lock(SinkLock());
    TraceSink sink = gSink.load();
    if (sink != nullptr)
        sink(text, gContext);
}

} // namespace media_util
