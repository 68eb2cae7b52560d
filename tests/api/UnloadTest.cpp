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

struct Library {
    void* mpHandle = nullptr;
    decltype(&Start) mpStart = nullptr;
    decltype(&Stop) mpStop = nullptr;
    decltype(&GetDeviceType) mpGetDeviceType = nullptr;

    bool Load() {
        mpHandle = dlopen(IPCAMVIEW_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (mpHandle == nullptr)
            return false;
        mpStart = reinterpret_cast<decltype(&Start)>(dlsym(mpHandle, "Start"));
        mpStop = reinterpret_cast<decltype(&Stop)>(dlsym(mpHandle, "Stop"));
        mpGetDeviceType = reinterpret_cast<decltype(&GetDeviceType)>(dlsym(mpHandle, "GetDeviceType"));
        return mpStart != nullptr && mpStop != nullptr && mpGetDeviceType != nullptr;
    }
    int32_t StartOne() {
        int32_t audio = 1;
        return mpStart(0, IPCAMVIEW_TRANSPORT_SOCKET, ClosedLoopbackAddress().c_str(), 0, "", "", &audio, 1,
                       0);
    }
};

bool IsLoaded() {
    void* handle = dlopen(IPCAMVIEW_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return false;
    dlclose(handle);
    return true;
}

// Also catches a worker thread (the bounded connect's watchdog of open's
// access check) still running library code after Stop waited for it: the
// unload would unmap that code under it.
TEST(UnloadTest, UnloadDestroysLiveInstancesAndReloadStartsAfresh) {
    ASSERT_FALSE(IsLoaded());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Library library;
        ASSERT_TRUE(library.Load()) << dlerror();
        EXPECT_EQ(0, library.StartOne());
        EXPECT_EQ(1, library.StartOne());
        EXPECT_EQ(2, library.StartOne());
        EXPECT_TRUE(library.mpStop(1));
        // Handles 0 and 2 are still alive when the library goes.
        ASSERT_EQ(0, dlclose(library.mpHandle));
        EXPECT_FALSE(IsLoaded()) << "the library must really unload, or its clean-up never runs";
    }
}

TEST(UnloadTest, OnlyTheFiveFunctionsAreVisible) {
    Library library;
    ASSERT_TRUE(library.Load()) << dlerror();
    const char* const kExported[] = {"Start", "Stop", "GetDeviceType", "GetMaxChannel",
                                     "GetMediaReceiveType"};
    for (const char* name : kExported)
        EXPECT_NE(nullptr, dlsym(library.mpHandle, name)) << name;
    // Names of the layers inside, which a host must not be able to reach
    // (nor collide with).
    const char* const kHidden[] = {
        "InternetCrackUrlA",          "CreateEvent",       "timeGetTime", "ReleasePipeline",
        "_ZN14CInstanceTable4StopEi", "_ZN4CUrl5CrackEPKc"};
    for (const char* name : kHidden)
        EXPECT_EQ(nullptr, dlsym(library.mpHandle, name)) << name;
    EXPECT_EQ(IPCAMVIEW_DEVICE_UNKNOWN, library.mpGetDeviceType(-1));
    dlclose(library.mpHandle);
}

} // namespace
