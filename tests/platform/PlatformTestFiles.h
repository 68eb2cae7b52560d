// File and tool helpers shared by the utility library's tests that work on
// real encoder output (ffmpeg), real images (ffprobe) and coreutils.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace platform_test {

using Bytes = std::vector<uint8_t>;

// A path in the test's scratch directory (IPCAM_TEST_TMP under ctest), unique
// to this process so parallel test binaries do not collide.
inline std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("IPCAM_TEST_TMP");
    const std::string base = (dir != nullptr && *dir) ? dir : "/tmp";
    return base + "/platform-" + std::to_string(getpid()) + "-" + name;
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <typename Container> void WriteFile(const std::string& path, const Container& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// Runs a shell command; its standard output, and its exit status in *status.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
        out.append(buffer, n);
    const int result = pipe != nullptr ? pclose(pipe) : -1;
    if (status != nullptr)
        *status = result;
    return out;
}

} // namespace platform_test
