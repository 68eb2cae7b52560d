// The host program against misbehaving devices on loopback, run as a user
// runs it: how long a command with a deadline takes when the device trickles,
// how long a probe takes when the device never ends its answers, and how much
// memory a receiver needs when a device announces a part far larger than any
// frame. Both transports.
#include "fakes/ScriptedHttpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using httptest::Conn;
using httptest::HttpRequest;

// A run that takes longer than this is killed: it counts as hanging.
constexpr int kKillAfterMs = 30000;

struct SExit {
    bool finished = false; // false: killed at kKillAfterMs
    int status = -1;
    long wallMs = 0;
    long maxRssKb = 0;
};

// The environment of the host program: this one, except that in a
// sanitizer build freed memory is given back at once rather than held in
// quarantine, so that the program's peak memory is its own.
std::vector<std::string> HostEnvironment() {
    std::vector<std::string> environment;
    std::string asan = "ASAN_OPTIONS=";
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "ASAN_OPTIONS=", 13) == 0)
            asan = std::string(*entry) + ":";
        else
            environment.emplace_back(*entry);
    }
    environment.push_back(asan + "quarantine_size_mb=0");
    return environment;
}

// Runs the host program with args, output discarded.
SExit RunHost(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {IPCAMVIEW_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    std::vector<std::string> environment = HostEnvironment();
    std::vector<char*> cenv;
    for (auto& e : environment)
        cenv.push_back(const_cast<char*>(e.c_str()));
    cenv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    SExit result;
    const int spawned = posix_spawn(&pid, IPCAMVIEW_PATH, &actions, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return result;
    std::mutex mutex;
    std::condition_variable done;
    bool exited = false;
    std::thread reaper([&] {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        std::lock_guard<std::mutex> lock(mutex);
        result.status = status;
        result.maxRssKb = usage.ru_maxrss;
        exited = true;
        done.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        result.finished =
            done.wait_for(lock, std::chrono::milliseconds(kKillAfterMs), [&] { return exited; });
    }
    if (!result.finished)
        kill(pid, SIGKILL);
    reaper.join();
    result.wallMs = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
    return result;
}

const char kStreamHead[] =
    "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=myboundary\r\n\r\n";

std::string Part(const std::string& data) {
    return "--myboundary\r\nContent-Type: image/mpeg4\r\nContent-Length: " + std::to_string(data.size()) +
           "\r\n\r\n" + data + "\r\n";
}

std::string Url(const httptest::CScriptedHttpServer& server) {
    return "http://127.0.0.1:" + std::to_string(server.Port()) + "/stream";
}

TEST(HostFaultTest, ReceiveEndsOnTimeWhileADeviceTrickles) {
    // A part head of 100000 bytes, then a byte a second: a two-second
    // receive must not wait for the part.
    media_util::CManualEvent quit;
    httptest::CScriptedHttpServer device([&](const HttpRequest&, Conn& conn) {
        bool sending =
            conn.Send(std::string(kStreamHead) +
                      "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: 100000\r\n\r\n");
        while (sending && !quit.Wait(1000))
            sending = conn.Send("x");
        conn.CloseAfter();
    });
    for (const char* transport : {"socket", "inet"}) {
        SCOPED_TRACE(transport);
        const SExit run =
            RunHost({"receive", "--url", Url(device), "--transport", transport, "--duration", "2"});
        EXPECT_TRUE(run.finished);
        EXPECT_LT(run.wallMs, 4000);
    }
    quit.Set();
}

TEST(HostFaultTest, ProbeEndsWhenTheDeviceNeverEndsItsAnswers) {
    // Every answer is a 200 whose body never ends: the open's requests have
    // deadlines and a size limit, so the probe ends (as a failure) on its own.
    media_util::CManualEvent quit;
    httptest::CScriptedHttpServer device([&](const HttpRequest&, Conn& conn) {
        const std::string piece(64 * 1024, 'a');
        bool sending = conn.Send("HTTP/1.1 200 OK\r\n\r\n");
        while (sending && !quit.IsSignalled())
            sending = conn.Send(piece);
        conn.CloseAfter();
    });
    httptest::CScriptedHttpServer trickle([&](const HttpRequest&, Conn& conn) {
        bool sending = conn.Send("HTTP/1.1 200 OK\r\n\r\n");
        while (sending && !quit.Wait(500))
            sending = conn.Send("OK x\r\n");
        conn.CloseAfter();
    });
    // All four at once: the trickling device costs each request its whole
    // deadline.
    struct SProbe {
        std::string name, address, transport;
        SExit run;
    };
    std::vector<SProbe> probes;
    for (const httptest::CScriptedHttpServer* server : {&device, &trickle})
        for (const char* transport : {"socket", "inet"})
            probes.push_back({std::string(server == &device ? "endless " : "trickle ") + transport,
                              "127.0.0.1:" + std::to_string(server->Port()),
                              transport,
                              {}});
    std::vector<std::thread> threads;
    for (SProbe& probe : probes)
        threads.emplace_back([&probe] {
            probe.run = RunHost({"probe", probe.address, "--transport", probe.transport});
        });
    for (std::thread& thread : threads)
        thread.join();
    for (const SProbe& probe : probes) {
        SCOPED_TRACE(probe.name);
        EXPECT_TRUE(probe.run.finished);
        EXPECT_LT(probe.run.wallMs, 25000);
    }
    quit.Set();
}

TEST(HostFaultTest, AHugePartIsNotHeldInMemory) {
    // 60 MiB announced and sent, between two small parts. The receiver needs
    // no more memory for it than for a plain stream.
    constexpr size_t kHuge = 60u * 1024 * 1024;
    auto stream = [](size_t hugeBytes) {
        return [hugeBytes](const HttpRequest&, Conn& conn) {
            bool sending = conn.Send(kStreamHead + Part("before"));
            if (hugeBytes > 0) {
                sending =
                    sending && conn.Send("--myboundary\r\nContent-Type: image/mpeg4\r\nContent-Length: " +
                                         std::to_string(hugeBytes) + "\r\n\r\n");
                const std::string piece(1024 * 1024, 'h');
                for (size_t sent = 0; sending && sent < hugeBytes; sent += piece.size())
                    sending = conn.Send(piece);
                sending = sending && conn.Send("\r\n");
            }
            for (int i = 0; sending && i < 50; ++i)
                sending = conn.Send(Part("after"));
            conn.CloseAfter();
        };
    };
    httptest::CScriptedHttpServer plain(stream(0));
    httptest::CScriptedHttpServer huge(stream(kHuge));
    for (const char* transport : {"socket", "inet"}) {
        SCOPED_TRACE(transport);
        const SExit base =
            RunHost({"receive", "--url", Url(plain), "--transport", transport, "--duration", "2"});
        const SExit run =
            RunHost({"receive", "--url", Url(huge), "--transport", transport, "--duration", "2"});
        ASSERT_TRUE(base.finished && run.finished);
        EXPECT_LT(run.maxRssKb - base.maxRssKb, 16 * 1024) << "base " << base.maxRssKb << " KiB";
    }
}

} // namespace
