// Runs camsim as a child process for a test: started with --port 0 and
// --exit-on-stdin-eof (so it cannot outlive the test), its port read from its
// first line ("port=N") within a deadline, stopped on destruction. With
// "--bind ::1" among the arguments its URLs name the host "[::1]".
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class CamsimProcess {
public:
    // How long camsim may take to print its port. With --preencode it encodes
    // every clip before it listens: 16 channels of H.264 take seconds in a
    // ThreadSanitizer build on a busy machine.
    static constexpr int kStartDeadlineMs = 60000;

    explicit CamsimProcess(const std::vector<std::string>& args, const char* path = nullptr) {
#ifdef CAMSIM_PATH
        if (!path)
            path = CAMSIM_PATH;
#endif
        int out[2], in[2];
        if (!path || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        mStdout = out[0];
        if (::pipe2(in, O_CLOEXEC) != 0) {
            ::close(out[1]);
            return;
        }
        mStdin = in[1];
        for (size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == "--bind" && args[i + 1] == "::1")
                mHost = "[::1]";
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
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartDeadlineMs);
        std::string line;
        for (char c = 0; mPid > 0 && c != '\n'; line.push_back(c)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{mStdout, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
                ::read(mStdout, &c, 1) != 1)
                return;
        }
        if (line.rfind("port=", 0) == 0)
            mPort = static_cast<uint16_t>(std::atoi(line.c_str() + 5));
    }
    ~CamsimProcess() {
        Stop();
    }
    CamsimProcess(const CamsimProcess&) = delete;
    CamsimProcess& operator=(const CamsimProcess&) = delete;

    // Closes camsim's input (it exits) and waits for it; returns its exit
    // status as waitpid gives it, or -1.
    int Stop() {
        int status = -1;
        if (mStdin >= 0)
            ::close(mStdin);
        if (mPid > 0)
            while (::waitpid(mPid, &status, 0) < 0 && errno == EINTR) {
            }
        if (mStdout >= 0)
            ::close(mStdout);
        mStdin = mStdout = mPid = -1;
        return status;
    }

    bool Ok() const {
        return mPort != 0;
    }
    uint16_t Port() const {
        return mPort;
    }
    // "127.0.0.1" or "[::1]", as a URL names it.
    const std::string& Host() const {
        return mHost;
    }
    std::string Url(const std::string& path) const {
        return "http://" + mHost + ":" + std::to_string(mPort) + path;
    }

private:
    pid_t mPid = -1;
    int mStdout = -1;
    int mStdin = -1;
    uint16_t mPort = 0;
    std::string mHost = "127.0.0.1";
};
