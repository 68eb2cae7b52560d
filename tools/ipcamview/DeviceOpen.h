// Opening a viewer on a device, as `probe` and `receive` do, and telling
// the user what went wrong when it did not work out.
#pragma once

#include "CommandLine.h"

#include "ipcamview/Viewer.h"

#include <cstdint>
#include <string>

// The transports of --transport.
constexpr int32_t kTransportSocket = CViewer::kTransportSocket;
constexpr int32_t kTransportInet = CViewer::kTransportSocket + 1;
// The longest wait each transport makes for one answer, for messages.
DWORD TransportTimeoutMs(int32_t transport);
// "socket" or "inet" into a transport kind; false for anything else.
bool ParseTransport(const std::string& name, int32_t& transport);

// Why a request got no answer, in words ("connection refused", "no answer
// within 3 s", "unknown host"), from the client's system error code.
std::string NoAnswerText(DWORD systemError, int32_t transport);

// A device address as the user gave it, completed and checked: "http://"
// in front of anything without a scheme (HOST, HOST:PORT, HOST:PORT/PATH),
// credentials taken out of the URL, any scheme but http refused.
struct SDeviceAddress {
    std::string url;      // completed
    std::string hostPort; // "127.0.0.1:8080", "[::1]:8080": how messages name the device
    std::string user, password;
    bool hasCredentials = false;
};
// False with a message in error (bad usage).
bool ParseDeviceAddress(const std::string& address, SDeviceAddress& parsed, std::string& error);

struct ProbeOptions {
    // A plain open asks for the first channel and the first stream profile
    // that can stream (profile 0 of a profile camera cannot).
    static constexpr int32_t kDefaultChannel = 1;
    static constexpr int32_t kDefaultProfile = 1;

    SDeviceAddress device;
    std::string user;
    std::string password;
    int32_t channel = kDefaultChannel;
    int32_t codec = 0; // 0: the device's choice; else 1000, 1005, 1010
    int32_t profile = kDefaultProfile;
    int32_t width = 0; // only cameras with a fixed set-up take them from the host
    int32_t height = 0;
    bool audio = false;
    int32_t transport = kTransportSocket;
    // The time the open may take (a --duration shorter than the viewer's own
    // budget cuts it).
    DWORD openBudgetMs = CViewer::kOpenBudgetMs;
};

// The options of a device open, for commands that take them.
extern const std::vector<SOption> kProbeOptions;
// The credential and transport options alone.
extern const std::vector<SOption> kConnectOptions;

// Takes the credentials and the transport: --user needs --password and
// the other way round; credentials in the URL count when no --user is
// given. False with a message (bad usage).
bool TakeConnectOptions(const CCommandLine& line, std::string& user, std::string& password,
                        int32_t& transport, std::string& error);
// Takes every probe option from the parsed line, and the device address.
bool TakeProbeOptions(const CCommandLine& line, const std::string& address, ProbeOptions& options,
                      std::string& error);

// What open did with the device.
struct ProbeResult {
    int opened = 0;        // Open's result: 0 only when the address did not parse
    int32_t audioFlag = 0; // the host's audio flag after open
};

// Opens viewer on the device the options name.
ProbeResult OpenViewer(CViewer& viewer, const ProbeOptions& options);

// When the open did not give a usable channel, prints the one-line reason
// on standard error and returns the exit code; kExitOk when it did.
int ExplainOpen(const CViewer& viewer, const ProbeOptions& options);

// The dialect's family as camsim and docs/devices.md name it
// ("parameter-camera", "multi-channel", ...); "no-video" for a device the
// library knows but cannot stream from, "none" when no machine code came.
const char* DialectName(const CViewer& viewer);

// What the open learned. `verbose` adds the library's own names (the
// dialect's class, the handle a host's Start would have got).
void AddProbe(CReport& report, const CViewer& viewer, const ProbeResult& result, bool verbose);
