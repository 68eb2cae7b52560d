// The recorder functions of include/ipcamview/reckit.h for modules that load
// libreckit.so on first use instead of at start-up.
//
// libreckit pulls in libavformat and libavcodec with their hundred-odd shared
// libraries. Most viewers never record, so the viewer links this import
// library: the first CreateCMSRecorder loads libreckit.so (searched in the
// run path of the module this file is linked into, which the build points at
// the library) and binds its functions; later calls go straight through. The
// other functions all take a handle, which only a loaded library can have
// made, so they never load it: before the first recorder they fail as a bad
// handle would. If the library cannot be loaded every call fails the same
// way and the reason is traced once. The library stays loaded for the life of
// the process, so handles never outlive their code.
//
// IPCAM_RECKIT_LIBRARY in the environment names another file to load (a
// recorder built elsewhere, or a path that does not exist to run a host
// without recording).
#include "ipcamview/reckit.h"

#include "os/kernel/Kernel.h"
#include "platform/Trace.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace {

constexpr const char* kReckitLibrary = "libreckit.so";

struct ReckitEntryPoints {
    decltype(&CreateCMSRecorder) create = nullptr;
    decltype(&SetCMSRecorderFileInfo) setFileInfo = nullptr;
    decltype(&StartCMSRecorder) start = nullptr;
    decltype(&JoinVideoToCMSRecorder) joinVideo = nullptr;
    decltype(&JoinAudioToCMSRecorder) joinAudio = nullptr;
    decltype(&StopCMSRecorder) stop = nullptr;
    decltype(&ReleaseCMSRecorder) release = nullptr;
    decltype(&GetCMSRecorderFileName) fileName = nullptr;
};

ReckitEntryPoints gEntries;
std::once_flag gLoadOnce;
// Set once the load was tried, whatever came of it.
std::atomic<bool> gLoadTried{false};

template <typename Fn> bool Bind(HMODULE module, const char* name, Fn* slot) {
    *slot = reinterpret_cast<Fn>(GetProcAddress(module, name));
    return *slot != nullptr;
}

const ReckitEntryPoints& Load() {
    std::call_once(gLoadOnce, [] {
        struct MarkTried {
            ~MarkTried() { gLoadTried.store(true, std::memory_order_release); }
        } markTried;
        const char* name = std::getenv("IPCAM_RECKIT_LIBRARY");
        if (name == nullptr || *name == '\0')
            name = kReckitLibrary;
        HMODULE module = LoadLibraryA(name);
        if (module == nullptr) {
            media_util::Trace("reckit: cannot load %s: %s\n", name, os::LastLoadError().c_str());
            return;
        }
        ReckitEntryPoints found;
        const bool all = Bind(module, "CreateCMSRecorder", &found.create) &&
                         Bind(module, "SetCMSRecorderFileInfo", &found.setFileInfo) &&
                         Bind(module, "StartCMSRecorder", &found.start) &&
                         Bind(module, "JoinVideoToCMSRecorder", &found.joinVideo) &&
                         Bind(module, "JoinAudioToCMSRecorder", &found.joinAudio) &&
                         Bind(module, "StopCMSRecorder", &found.stop) &&
                         Bind(module, "ReleaseCMSRecorder", &found.release) &&
                         Bind(module, "GetCMSRecorderFileName", &found.fileName);
        if (!all) {
            media_util::Trace("reckit: %s lacks a recorder function: %s\n", name,
                              os::LastLoadError().c_str());
            FreeLibrary(module);
            return;
        }
        gEntries = found;
    });
    return gEntries;
}

// The entry points when a recorder may exist: a handle only comes from a
// loaded library.
const ReckitEntryPoints* Loaded() {
    if (!gLoadTried.load(std::memory_order_acquire))
        return nullptr;
    return &Load();
}

} // namespace

// The build gives these definitions hidden visibility: they serve the module
// they are linked into and never interpose on libreckit's own exports of the
// same names.
extern "C" {

int32_t CreateCMSRecorder(int32_t kind, int32_t first, int32_t second) {
    const ReckitEntryPoints& reckit = Load();
    return reckit.create != nullptr ? reckit.create(kind, first, second) : -1;
}

int32_t SetCMSRecorderFileInfo(int32_t handle, const wchar_t* info, const wchar_t* thrd) {
    const ReckitEntryPoints* reckit = handle >= 0 ? Loaded() : nullptr;
    return reckit != nullptr && reckit->setFileInfo != nullptr ? reckit->setFileInfo(handle, info, thrd) : 0;
}

int32_t StartCMSRecorder(int32_t handle) {
    const ReckitEntryPoints* reckit = handle >= 0 ? Loaded() : nullptr;
    return reckit != nullptr && reckit->start != nullptr ? reckit->start(handle) : 0;
}

int32_t JoinVideoToCMSRecorder(int32_t handle, const CmsVideoFrame* frame) {
    const ReckitEntryPoints* reckit = handle >= 0 ? Loaded() : nullptr;
    return reckit != nullptr && reckit->joinVideo != nullptr ? reckit->joinVideo(handle, frame) : 0;
}

int32_t JoinAudioToCMSRecorder(int32_t handle, const CmsAudioFrame* frame) {
    const ReckitEntryPoints* reckit = handle >= 0 ? Loaded() : nullptr;
    return reckit != nullptr && reckit->joinAudio != nullptr ? reckit->joinAudio(handle, frame) : 0;
}

int32_t StopCMSRecorder(int32_t handle) {
    const ReckitEntryPoints* reckit = handle >= 0 ? Loaded() : nullptr;
    return reckit != nullptr && reckit->stop != nullptr ? reckit->stop(handle) : 0;
}

int32_t ReleaseCMSRecorder(int32_t handle) {
    const ReckitEntryPoints* reckit = handle >= 0 ? Loaded() : nullptr;
    return reckit != nullptr && reckit->release != nullptr ? reckit->release(handle) : 0;
}

int32_t GetCMSRecorderFileName(int32_t handle, char* buffer, int32_t capacity) {
    const ReckitEntryPoints* reckit = handle >= 0 ? Loaded() : nullptr;
    return reckit != nullptr && reckit->fileName != nullptr ? reckit->fileName(handle, buffer, capacity) : 0;
}

} // extern "C"
