// camsim, the simulated device, for the viewer's tests on loopback: a running
// model, what the model says of itself (--describe), and its control CGI,
// which needs no credentials and no fault touches.
#pragma once

#include "CamsimProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifndef IPCAM_CAMSIM_PATH
#error "the build gives the path of camsim"
#endif

namespace camsim {

// Non-empty lines of camsim's standard output for these arguments.
inline std::vector<std::string> Lines(const std::string& arguments) {
    std::string text;
    if (std::FILE* pipe = ::popen((std::string(IPCAM_CAMSIM_PATH) + " " + arguments).c_str(), "r")) {
        char buffer[4096];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, got);
        ::pclose(pipe);
    }
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

using Description = std::map<std::string, std::string>;

inline Description Describe(const std::string& model) {
    Description values;
    for (const std::string& line : Lines("--device " + model + " --describe")) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

inline int Number(const Description& values, const std::string& name) {
    auto found = values.find(name);
    return found == values.end() ? -999 : static_cast<int>(std::stol(found->second, nullptr, 0));
}

// Milliseconds a request to camsim's own CGIs may take.
constexpr int kControlTimeoutMs = 5000;

// One GET on a fresh connection: the whole answer, head and body.
inline std::string Get(int port, const std::string& pathAndQuery) {
    std::string answer;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const std::string request =
        "GET " + pathAndQuery + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        pollfd p{fd, POLLIN, 0};
        for (ssize_t got;
             ::poll(&p, 1, kControlTimeoutMs) > 0 && (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, static_cast<size_t>(got));
    }
    if (fd >= 0)
        ::close(fd);
    return answer;
}

// Switches device faults ("reply=NG:getmachinecode", "body=junk",
// "reset=faults"); true when camsim took them.
inline bool Control(int port, const std::string& query) {
    return Get(port, "/camsim/device?" + query).find("\r\n\r\nOK") != std::string::npos;
}

// A running model on a free loopback port; ends with the object.
class Device {
public:
    explicit Device(const std::string& model, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"--device", model, "--lifetime", "120"};
        args.insert(args.end(), extra.begin(), extra.end());
        mStarted = mProcess.Start(IPCAM_CAMSIM_PATH, args, mError);
    }
    bool Started() const { return mStarted; }
    const std::string& Error() const { return mError; }
    int Port() const { return mProcess.Port(); }
    std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }

private:
    CamsimProcess mProcess;
    std::string mError;
    bool mStarted = false;
};

} // namespace camsim
