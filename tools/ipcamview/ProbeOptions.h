// What `probe` and `receive` take to open a viewer on a device, and the open
// itself through the viewer's class interface.
#pragma once

#include "Commands.h"

#include "ipcamview/Viewer.h"

#include <cstdint>
#include <cstdio>
#include <string>

struct ProbeOptions {
    // A plain open asks for the first channel and the first stream profile
    // that can stream (profile 0 of a profile camera cannot).
    static constexpr int32_t kDefaultChannel = 1;
    static constexpr int32_t kDefaultProfile = 1;

    std::string address;
    std::string user;
    std::string password;
    int32_t channel = kDefaultChannel;
    int32_t codec = 0; // 0: the device's choice; else 1000, 1005, 1010
    int32_t profile = kDefaultProfile;
    int32_t width = 0; // only cameras with a fixed set-up take them from the host
    int32_t height = 0;
    bool audio = false;
    int32_t transport = CViewer::kTransportSocket;
};

// Takes the probe options out of args (leaving what it does not know). False
// with a message in error for a bad value.
bool TakeProbeOptions(Args& args, ProbeOptions& options, std::string& error);

// What open did with the device.
struct ProbeResult {
    int opened = 0;        // Open's result: 0 only when the address did not parse
    int32_t audioFlag = 0; // the host's audio flag after open
};

// Opens viewer on the device the options name.
ProbeResult OpenViewer(CViewer& viewer, const ProbeOptions& options);

// The class name of the viewer's dialect, "none" without one.
const char* DialectName(const CViewer& viewer);

// Prints what the open learned as name=value lines.
void PrintProbe(std::FILE* out, const CViewer& viewer, const ProbeResult& result);
