// The host program's commands. Each returns the process exit code.
#pragma once

#include <string>
#include <vector>

using Args = std::vector<std::string>;

// ipcamview fetch URL [--user U] [--password P] [--transport socket|inet]
// Body to standard output, "status=N" to standard error. 0 for a 2xx answer,
// 1 for any other answer, 2 for no answer (or bad arguments).
int RunFetch(const Args& args);

// ipcamview probe ADDRESS [--user U --password P] [--channel N]
//     [--codec jpeg|mpeg4|h264] [--profile N] [--width W --height H] [--audio]
//     [--transport socket|inet]
// Opens a viewer on the device and prints what it learned as name=value
// lines. 0 when a stream URL was composed, 1 otherwise, 2 for bad arguments.
int RunProbe(const Args& args);

// ipcamview receive ADDRESS [probe's options] [--duration S]
// ipcamview receive --url STREAM_URL [--user U --password P] [--transport ...] [--duration S]
// ipcamview receive --file CAPTURE
// Runs the receiver the device (or the URL, or the capture) calls for and
// counts what arrives: a progress line per second on standard error and a
// name=value summary on standard output. 0 when at least one frame arrived,
// 1 when none did, 2 for bad arguments.
int RunReceive(const Args& args);

// ipcamview --demo [--camsim PATH]: starts camsim on a free loopback port and
// shows what the library does with it so far.
int RunDemo(const Args& args);

// Looks for "--name VALUE" in args; removes both and returns true when found.
bool TakeOption(Args& args, const std::string& name, std::string& value);
// Looks for "--name"; removes it and returns true when found.
bool TakeFlag(Args& args, const std::string& name);
