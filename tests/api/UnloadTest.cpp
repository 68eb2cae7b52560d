// Loading and unloading libipcamview.so at run time, as a plug-in host does:
// unloading with live instances must destroy them (the leak check of the
// sanitizer build sees any instance or table left behind once the library's
// memory is gone), and a new load starts from an empty table.
#include "ipcamview/ipcamview.h"
#include "ipcamview/vcodec.h"
#include "viewer/ClosedPort.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

// A reference into vcodec, so that the linker keeps it (and the codec
// libraries beneath it) loaded for the whole run; see CMakeLists.txt.
[[maybe_unused]] auto* const kKeepCodecLoaded = &ReleaseCodec;

bool IsLoaded() {
    void* handle = dlopen(IPCAMVIEW_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        dlclose(handle);
    return handle != nullptr;
}

// Also catches a worker thread (the bounded connect's watchdog of open's
// access check) still running library code after Stop waited for it: the
// unload would unmap that code under it.
TEST(UnloadTest, UnloadDestroysLiveInstancesAndReloadStartsAfresh) {
    ASSERT_FALSE(IsLoaded());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        void* library = dlopen(IPCAMVIEW_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, library) << dlerror();
        auto* start = reinterpret_cast<decltype(&Start)>(dlsym(library, "Start"));
        auto* stop = reinterpret_cast<decltype(&Stop)>(dlsym(library, "Stop"));
        ASSERT_TRUE(start != nullptr && stop != nullptr);
        for (int32_t expected = 0; expected < 3; ++expected) {
            int32_t audio = 1;
            EXPECT_EQ(expected, start(0, IPCAMVIEW_TRANSPORT_SOCKET, ClosedLoopbackAddress().c_str(), 0, "",
                                      "", &audio, 1, 0));
        }
        EXPECT_TRUE(stop(1));
        // Handles 0 and 2 are still alive when the library goes.
        ASSERT_EQ(0, dlclose(library));
        EXPECT_FALSE(IsLoaded()) << "the library must really unload, or its clean-up never runs";
    }
}

} // namespace
