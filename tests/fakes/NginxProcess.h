// Runs nginx as a child process for a test, on a free loopback port, with a
// configuration generated from the test's own locations. nginx cannot report
// a port it picked itself, so the port comes from binding port 0 and reading
// it back; when nginx loses the race for it, the start is retried.
#pragma once

#include "fakes/Loopback.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utility>
#include <vector>

class NginxProcess {
public:
    static constexpr const char* kBinary = "/usr/sbin/nginx";
    static constexpr int kStartDeadlineMs = 10000;
    static constexpr int kAttempts = 5;

    static bool Available() { return ::access(kBinary, X_OK) == 0; }

    // `serverBody` goes inside the server block; "ROOT" in it is replaced by
    // the document root. `files` are written under the root first.
    NginxProcess(const std::string& serverBody,
                 const std::vector<std::pair<std::string, std::string>>& files) {
        const char* base = std::getenv("IPCAM_TEST_TMP");
        std::string dir = std::string(base && *base ? base : "/tmp") + "/nginx-XXXXXX";
        if (!::mkdtemp(&dir[0]))
            return;
        mDir = dir;
        const std::string root = mDir + "/www";
        ::mkdir(root.c_str(), 0755);
        ::mkdir((mDir + "/tmp").c_str(), 0755);
        for (const auto& f : files) {
            const std::string path = root + "/" + f.first;
            ::mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
            std::ofstream(path, std::ios::binary) << f.second;
        }
        std::string body = serverBody;
        for (size_t at; (at = body.find("ROOT")) != std::string::npos;)
            body.replace(at, 4, root);
        for (int attempt = 0; attempt < kAttempts && mPort == 0; ++attempt)
            Start(body);
    }
    ~NginxProcess() {
        Stop();
        if (!mDir.empty())
            std::system(("rm -rf '" + mDir + "'").c_str());
    }
    NginxProcess(const NginxProcess&) = delete;
    NginxProcess& operator=(const NginxProcess&) = delete;

    bool Ok() const { return mPort != 0; }
    uint16_t Port() const { return mPort; }
    const std::string& Dir() const { return mDir; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(mPort) + path;
    }

private:
    static bool Accepts(uint16_t port) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        ::close(fd);
        return ok;
    }

    void Start(const std::string& body) {
        uint16_t port = 0;
        ::close(ListenOnLoopback(1, &port));
        const std::string conf = mDir + "/nginx.conf", tmp = mDir + "/tmp";
        std::ofstream(conf) << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << mDir
                            << "/nginx.pid;\nerror_log " << mDir << "/error.log;\n"
                            << "events { worker_connections 64; }\nhttp {\n  access_log off;\n"
                            << "  client_body_temp_path " << tmp << ";\n  proxy_temp_path " << tmp << ";\n"
                            << "  fastcgi_temp_path " << tmp << ";\n  uwsgi_temp_path " << tmp << ";\n"
                            << "  scgi_temp_path " << tmp << ";\n  default_type application/octet-stream;\n"
                            << "  server {\n    listen 127.0.0.1:" << port << ";\n"
                            << body << "\n  }\n}\n";
        mPid = port == 0 ? -1 : ::fork();
        if (mPid == 0) {
            ::execl(kBinary, kBinary, "-p", mDir.c_str(), "-c", conf.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Ready once it accepts; gone when it could not bind (then retry).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartDeadlineMs);
        while (mPid > 0 && std::chrono::steady_clock::now() < deadline) {
            int status;
            if (::waitpid(mPid, &status, WNOHANG) == mPid) {
                mPid = -1;
                return;
            }
            if (Accepts(port)) {
                mPort = port;
                return;
            }
            ::poll(nullptr, 0, 10);
        }
        Stop();
    }
    void Stop() {
        if (mPid <= 0)
            return;
        ::kill(mPid, SIGTERM);
        int status;
        while (::waitpid(mPid, &status, 0) < 0 && errno == EINTR) {
        }
        mPid = -1;
    }

    std::string mDir;
    pid_t mPid = -1;
    uint16_t mPort = 0;
};
