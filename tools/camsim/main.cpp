// camsim: a simulated IP camera for the viewer's tests and demo. See
// `camsim --help`.
#include "CoreResources.h"
#include "Device.h"
#include "DeviceFaults.h"
#include "DeviceRoutes.h"
#include "Faults.h"
#include "HttpServer.h"
#include "MediaRoutes.h"
#include "Options.h"
#include "Router.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

using namespace camsim;

int main(int argc, char** argv) {
    Options options;
    std::string error;
    switch (options.Parse(argc, argv, &error)) {
    case Options::Result::Help:
        std::fputs(Options::Usage().c_str(), stdout);
        return 0;
    case Options::Result::Error:
        std::fprintf(stderr, "camsim: %s\n%s", error.c_str(), Options::UsageHint());
        return 2;
    case Options::Result::Run:
        break;
    }
    if (options.mList) {
        for (const DeviceConfig& c : DeviceTable())
            std::printf("%s\n", c.name.c_str());
        return 0;
    }
    const DeviceConfig* model = FindDevice(options.mDevice.empty() ? kDefaultDeviceName : options.mDevice);
    if (!model) {
        std::fprintf(stderr, "camsim: no device model\n");
        return 2;
    }
    DeviceConfig config;
    if (!ApplyOverrides(*model, options.mOverrides, &config, &error)) {
        std::fprintf(stderr, "camsim: %s\n%s", error.c_str(), Options::UsageHint());
        return 2;
    }
    config.still = options.mStill;
    if (options.mPreencode && (config.dialect == Dialect::NoVideo || config.videoCodec == kCodecNone)) {
        std::fprintf(stderr, "camsim: %s has no video: --preencode does not apply\n%s", config.name.c_str(),
                     Options::UsageHint());
        return 2;
    }
    DeviceState device(config);
    if (options.mDescribe) {
        std::fputs(device.Describe().c_str(), stdout);
        return 0;
    }

    // Termination signals are taken by a thread of their own (sigwait), so
    // every other thread runs with them blocked.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Faults faults;
    for (const std::string& f : options.mFaults)
        faults.ApplyText(f);
    DeviceFaults deviceFaults;
    for (const std::string& f : options.mDeviceFaults)
        deviceFaults.ApplyText(f);
    Router router;
    CoreResources::Register(router);
    DeviceRoutes::Register(router, device, deviceFaults, ServeRecorderImage);
    ClipCache clips(options.mPreencode);
    RegisterMediaRoutes(router, device, faults, &clips);
    // Encoded before the port is announced, so that a benchmark's first
    // frame does not wait for an encoder.
    clips.Prepare(PlainOpenClips(device));
    HttpServer server(options.mServer, router, faults);
    if (!server.Listen(&error)) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("port=%u\n", static_cast<unsigned>(server.Port()));
    std::fflush(stdout);

    std::thread([&server, signals] {
        int signal = 0;
        sigwait(&signals, &signal);
        server.Stop();
    }).detach();

    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::thread lifetime;
    if (options.mLifetimeSeconds > 0) {
        lifetime = std::thread([&] {
            std::unique_lock<std::mutex> guard(lock);
            if (!done.wait_for(guard, std::chrono::seconds(options.mLifetimeSeconds),
                               [&] { return finished; }))
                server.Stop();
        });
    }
    if (options.mExitOnStdinEof) {
        std::thread([&server] {
            char buffer[256];
            while (::read(STDIN_FILENO, buffer, sizeof(buffer)) > 0) {
            }
            server.Stop();
        }).detach();
    }

    server.Run();
    {
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
    }
    done.notify_all();
    if (lifetime.joinable())
        lifetime.join();
    std::fflush(stdout);
    // The signal and stdin watchers may still be blocked; _exit ends them
    // without running destructors of objects they reference.
    std::_Exit(0);
}
