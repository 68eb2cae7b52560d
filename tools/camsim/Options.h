// camsim's command line.
#pragma once

#include "HttpServer.h"

#include <string>
#include <vector>

namespace camsim {

class Options {
public:
    // Longest --lifetime accepted (a day): camsim is a test peer, not a service.
    static constexpr uint32_t kMaxLifetimeSeconds = 24 * 3600;

    enum class Result { Run, Help, Error };
    // --list and --describe are answered with Run; main prints and exits.
    Result Parse(int argc, char** argv, std::string* error);
    static std::string Usage();

    ServerConfig mServer;
    std::vector<std::string> mFaults;       // the media and HTTP fault switches
    std::vector<std::string> mDeviceFaults; // the parameter CGIs' reply faults
    std::string mDevice;                    // --device; the default model when empty
    bool mList = false;                     // --list: print the model names and exit
    bool mDescribe = false;                 // --describe: print the model's configuration and exit
    uint32_t mLifetimeSeconds = 0;          // 0 = until stopped
    bool mExitOnStdinEof = false;
};

} // namespace camsim
