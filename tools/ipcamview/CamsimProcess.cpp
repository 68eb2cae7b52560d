#include "CamsimProcess.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

CamsimProcess::~CamsimProcess() {
    Stop();
}

std::string CamsimProcess::DefaultPath() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string dir(self);
        dir.erase(dir.rfind('/'));
        std::string candidate = dir + "/../camsim/camsim";
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        candidate = dir + "/camsim";
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "camsim";
}

bool CamsimProcess::Start(const std::string& path, const std::vector<std::string>& args, std::string& error) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<std::string> all = {path};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"--port", "0", "--exit-on-stdin-eof"});
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    int rc = posix_spawnp(&mPid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        mPid = -1;
        error = "cannot run " + path + ": " + std::strerror(rc);
        return false;
    }
    mStdin = in[1];

    // The first line is "port=N".
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (line.find('\n') == std::string::npos) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count());
        pollfd p{out[0], POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0)
            break;
        char c[64];
        ssize_t got = read(out[0], c, sizeof c);
        if (got <= 0)
            break;
        line.append(c, static_cast<size_t>(got));
    }
    close(out[0]); // camsim prints nothing else we need
    if (line.rfind("port=", 0) != 0) {
        error = "camsim printed no port (got \"" + line.substr(0, line.find('\n')) + "\")";
        Stop();
        return false;
    }
    mPort = std::atoi(line.c_str() + 5);
    return mPort > 0;
}

void CamsimProcess::Stop() {
    if (mStdin >= 0) {
        close(mStdin);
        mStdin = -1;
    }
    if (mPid > 0) {
        kill(mPid, SIGTERM);
        int status;
        waitpid(mPid, &status, 0);
        mPid = -1;
    }
}
