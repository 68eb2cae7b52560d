// The host program's commands. Each returns the process exit code.
#pragma once

#include <string>
#include <vector>

using Args = std::vector<std::string>;

// ipcamview fetch URL [--user U] [--password P] [--transport socket|inet]
// Body to standard output, "status=N" to standard error. 0 for a 2xx answer,
// 1 for any other answer, 2 for no answer (or bad arguments).
int RunFetch(const Args& args);

// ipcamview --demo [--camsim PATH]: starts camsim on a free loopback port and
// shows what the library does with it so far.
int RunDemo(const Args& args);

// Looks for "--name VALUE" in args; removes both and returns true when found.
bool TakeOption(Args& args, const std::string& name, std::string& value);
// Looks for "--name"; removes it and returns true when found.
bool TakeFlag(Args& args, const std::string& name);
