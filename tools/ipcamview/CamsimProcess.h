// A camsim child process for the demo: started with --port 0 on loopback, its
// port read from the first line it prints. Its standard input is a pipe that
// this object holds, so camsim (started with --exit-on-stdin-eof) ends with
// us even when we are killed.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class CamsimProcess {
public:
    // How long Start waits for camsim's "port=N" line.
    static constexpr int kStartTimeoutMs = 10000;

    CamsimProcess() = default;
    ~CamsimProcess();
    CamsimProcess(const CamsimProcess&) = delete;
    CamsimProcess& operator=(const CamsimProcess&) = delete;

    // Starts `path` with `args` plus --port 0 --exit-on-stdin-eof. False with
    // a message in `error` when it cannot be run or prints no port in time.
    bool Start(const std::string& path, const std::vector<std::string>& args, std::string& error);
    void Stop();
    int Port() const { return mPort; }

    // camsim next to this program in the build tree (../camsim/camsim), or
    // "camsim" on the PATH.
    static std::string DefaultPath();

private:
    pid_t mPid = -1;
    int mStdin = -1;
    int mPort = 0;
};
