// The host program's commands. Each takes its arguments (the command's name
// left out) and returns the process exit code (CommandLine.h lists them).
#pragma once

#include "CommandLine.h"

int RunFetch(const Args& args);
int RunProbe(const Args& args);
int RunReceive(const Args& args);
int RunView(const Args& args);
int RunDemo(const Args& args);
int RunAudioDevices(const Args& args);
