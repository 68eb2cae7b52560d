#include "os/compose/SwscaleLibrary.h"

#include "os/kernel/Kernel.h"

#include <mutex>

extern "C" {
#include <libavutil/macros.h>
}

namespace os::compose {

namespace {

template <typename T> bool Bind(HMODULE module, const char* name, T* slot) {
    *slot = reinterpret_cast<T>(GetProcAddress(module, name));
    return *slot != nullptr;
}

SSwscaleApi gApi;
bool gReady = false;
std::once_flag gOnce;

} // namespace

const SSwscaleApi* Swscale() {
    std::call_once(gOnce, [] {
        HMODULE library = LoadLibraryA("libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR));
        if (library == nullptr)
            return;
        gReady = Bind(library, "sws_getContext", &gApi.getContext) &&
                 Bind(library, "sws_freeContext", &gApi.freeContext) && Bind(library, "sws_scale", &gApi.scale);
    });
    return gReady ? &gApi : nullptr;
}

} // namespace os::compose
