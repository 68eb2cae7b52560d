// The viewer's one diagnostic channel.
//
// Every component reports through Trace with a printf-style format. In the
// shipped configuration no sink is installed and Trace returns before it
// formats anything. A host or a test installs a sink to see the traces.
#pragma once

namespace media_util {

// Longest trace text handed to a sink, terminator included; longer texts
// are cut.
constexpr int kTraceBufferSize = 1024;

// Receives one formatted trace text (null-terminated, possibly cut). Called
// on the thread that traced, one call at a time.
using TraceSink = void (*)(const char* text, void* context);

// Installs a sink (null removes it) and returns the previous one. The call
// returns only when no trace is inside the previous sink any more, so its
// context may be released afterwards.
TraceSink SetTraceSink(TraceSink sink, void* context);

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace media_util
