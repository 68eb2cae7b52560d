// Runs camsim as a child process for a test: starts it with --port 0 and
// --exit-on-stdin-eof (so it cannot outlive the test), reads the port from
// its first line within a deadline, and stops it on destruction.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class CamsimProcess {
public:
    // How long camsim may take to print its port.
    static constexpr int kStartDeadlineMs = 10000;

    explicit CamsimProcess(const std::vector<std::string>& args, const char* path = nullptr) {
#ifdef CAMSIM_PATH
        if (!path)
            path = CAMSIM_PATH;
#endif
        if (!path)
            return;
        int out[2];
        int in[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        if (::pipe2(in, O_CLOEXEC) != 0) {
            ::close(out[0]);
            ::close(out[1]);
            return;
        }
        std::vector<std::string> argv = {path, "--port", "0", "--exit-on-stdin-eof"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : argv)
            cargv.push_back(const_cast<char*>(a.c_str()));
        cargv.push_back(nullptr);
        mPid = ::fork();
        if (mPid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(in[0], STDIN_FILENO);
            ::execv(path, cargv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(in[0]);
        mStdout = out[0];
        mStdin = in[1];
        if (mPid < 0)
            return;
        std::string line;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartDeadlineMs);
        while (line.find('\n') == std::string::npos) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            if (left <= 0)
                return;
            pollfd p{mStdout, POLLIN, 0};
            int rc = ::poll(&p, 1, left);
            if (rc < 0 && errno == EINTR)
                continue;
            if (rc <= 0)
                return;
            char c;
            ssize_t n = ::read(mStdout, &c, 1);
            if (n <= 0)
                return;
            line.push_back(c);
        }
        mFirstLine = line.substr(0, line.size() - 1);
        if (mFirstLine.rfind("port=", 0) == 0)
            mPort = static_cast<uint16_t>(std::atoi(mFirstLine.c_str() + 5));
    }
    ~CamsimProcess() {
        Stop();
    }
    CamsimProcess(const CamsimProcess&) = delete;
    CamsimProcess& operator=(const CamsimProcess&) = delete;

    // Closes camsim's input (it exits) and waits for it; returns its exit
    // status as waitpid gives it, or -1.
    int Stop() {
        if (mStdin >= 0) {
            ::close(mStdin);
            mStdin = -1;
        }
        int status = -1;
        if (mPid > 0) {
            while (::waitpid(mPid, &status, 0) < 0 && errno == EINTR) {
            }
            mPid = -1;
        }
        if (mStdout >= 0) {
            ::close(mStdout);
            mStdout = -1;
        }
        return status;
    }

    bool Ok() const {
        return mPort != 0;
    }
    uint16_t Port() const {
        return mPort;
    }
    const std::string& FirstLine() const {
        return mFirstLine;
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(mPort) + path;
    }

private:
    pid_t mPid = -1;
    int mStdout = -1;
    int mStdin = -1;
    uint16_t mPort = 0;
    std::string mFirstLine;
};
