// The decoder functions of include/ipcamview/vcodec.h for modules that load
// libvcodec.so on first use instead of at start-up.
//
// libvcodec pulls in libavcodec and its hundred-odd shared libraries, which
// take most of a program's start-up to map and relocate. A host that only
// receives, probes or records never decodes, so the viewer links this import
// library: the first call loads libvcodec.so (searched in the run path of the
// module this file is linked into, which the build points at the library) and
// binds its three functions; later calls go straight through. If the library
// cannot be loaded every call fails as a bad handle would, and the reason is
// traced once. The library stays loaded for the life of the process, so
// handles never outlive their code.
//
// IPCAM_VCODEC_LIBRARY in the environment names another file to load (a
// decoder built elsewhere, or a path that does not exist to run a host
// without decoding).
#include "ipcamview/vcodec.h"

#include "os/kernel/Kernel.h"
#include "platform/Trace.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace {

constexpr const char* kVcodecLibrary = "libvcodec.so";

struct VcodecEntryPoints {
    decltype(&CreateCodec) create = nullptr;
    decltype(&Decode) decode = nullptr;
    decltype(&ReleaseCodec) release = nullptr;
};

VcodecEntryPoints gEntries;
std::once_flag gLoadOnce;
// Set once the load was tried, whatever came of it.
std::atomic<bool> gLoadTried{false};

const VcodecEntryPoints& EntryPoints() {
    std::call_once(gLoadOnce, [] {
        struct MarkTried {
            ~MarkTried() { gLoadTried.store(true, std::memory_order_release); }
        } markTried;
        const char* name = std::getenv("IPCAM_VCODEC_LIBRARY");
        if (name == nullptr || *name == '\0')
            name = kVcodecLibrary;
        HMODULE module = LoadLibraryA(name);
        if (module == nullptr) {
            media_util::Trace("vcodec: cannot load %s: %s\n", name, os::LastLoadError().c_str());
            return;
        }
        VcodecEntryPoints found;
        found.create = reinterpret_cast<decltype(&CreateCodec)>(GetProcAddress(module, "CreateCodec"));
        found.decode = reinterpret_cast<decltype(&Decode)>(GetProcAddress(module, "Decode"));
        found.release = reinterpret_cast<decltype(&ReleaseCodec)>(GetProcAddress(module, "ReleaseCodec"));
        if (found.create == nullptr || found.decode == nullptr || found.release == nullptr) {
            media_util::Trace("vcodec: %s lacks a decoder function: %s\n", name, os::LastLoadError().c_str());
            FreeLibrary(module);
            return;
        }
        gEntries = found;
    });
    return gEntries;
}

} // namespace

// The build gives these definitions hidden visibility: they serve the module
// they are linked into and never interpose on libvcodec's own exports of the
// same names.
extern "C" {

int32_t CreateCodec(int32_t inFormat, int32_t outPixelFormat, int32_t width, int32_t height, int32_t fps) {
    const VcodecEntryPoints& vcodec = EntryPoints();
    return vcodec.create != nullptr ? vcodec.create(inFormat, outPixelFormat, width, height, fps) : -1;
}

int32_t Decode(int32_t handle, const uint8_t* in, int32_t* inOutLength, uint8_t* out, int32_t* inOutSize) {
    const VcodecEntryPoints& vcodec = EntryPoints();
    return vcodec.decode != nullptr ? vcodec.decode(handle, in, inOutLength, out, inOutSize) : 0;
}

// A handle can only come from a loaded library, so releasing never loads it.
int32_t ReleaseCodec(int32_t handle) {
    if (handle < 0 || !gLoadTried.load(std::memory_order_acquire))
        return 0;
    const VcodecEntryPoints& vcodec = EntryPoints();
    return vcodec.release != nullptr ? vcodec.release(handle) : 0;
}

} // extern "C"
