// camsim's command line.
#pragma once

#include "Device.h"
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
    // Every option is "--name value" or "--name=value". Error sets *error to
    // one line naming the option at fault ("unknown option --foo").
    Result Parse(int argc, char** argv, std::string* error);
    // The whole --help text.
    static std::string Usage();
    // The one line that follows an error on standard error.
    static const char* UsageHint();

    ServerConfig mServer;
    std::vector<std::string> mFaults;       // the media and HTTP fault switches
    std::vector<std::string> mDeviceFaults; // the parameter CGIs' reply faults
    std::string mDevice;                    // --device; the default model when empty
    bool mList = false;                     // --list: print the model names and exit
    bool mDescribe = false;                 // --describe: print the model's configuration and exit
    uint32_t mLifetimeSeconds = 0;          // 0 = until stopped
    bool mExitOnStdinEof = false;
    // The benchmark options --size, --fps and --codec; checked against the
    // model by ApplyOverrides once the whole line is read.
    ModelOverrides mOverrides;
    uint32_t mPreencode = 0; // --preencode N: pictures per clip; 0 = encode live
    bool mStill = false;     // --still: pictures change only with the PTZ view and the masks

private:
    struct KnownOption {
        const char* name;
        bool takesValue;
    };
    static constexpr KnownOption kKnownOptions[] = {
        {"--device", true},
        {"--list", false},
        {"--describe", false},
        {"--port", true},
        {"--bind", true},
        {"--user", true},
        {"--max-connections", true},
        {"--idle-timeout", true},
        {"--lifetime", true},
        {"--exit-on-stdin-eof", false},
        {"--fault", true},
        {"--size", true},
        {"--fps", true},
        {"--codec", true},
        {"--preencode", true},
        {"--still", false},
    };
    static const KnownOption* Find(const std::string& name);
    // Applies one known option and its value (empty for a switch).
    bool Take(const std::string& name, const std::string& value, std::string* error);
};

} // namespace camsim
