// The five functions of libipcamview.so and the clean-up at unload.
//
// Nothing but a return value reaches the host: an exception (memory running
// out inside a viewer, say) ends as Start's -1 or Stop's false instead of
// unwinding into C code.
#include "api/CInstanceTable.h"
#include "ipcamview/ipcamview.h"
#include "os/gdi/Gdi.h"
#include "pipeline/CSourceTable.h"
#include "platform/CMachineCodeConvert.h"
#include "viewer/CMachineCodeCache.h"
#include "viewer/CViewer.h"

#include <new>

using media_util::CMachineCodeConvert;

static_assert(IPCAMVIEW_INVALID_HANDLE == CInstanceTable::kInvalidHandle, "Start's failure value");
static_assert(IPCAMVIEW_TRANSPORT_SOCKET == CViewer::kTransportSocket, "socket transport kind");
static_assert(IPCAMVIEW_DEVICE_UNKNOWN == CMachineCodeConvert::kTypeUnknown &&
                  IPCAMVIEW_DEVICE_PROFILE_CAMERA == CMachineCodeConvert::kTypeProfileCamera &&
                  IPCAMVIEW_DEVICE_MULTI_CHANNEL == CMachineCodeConvert::kTypeMultiChannel &&
                  IPCAMVIEW_DEVICE_VIDEO_STANDARD == CMachineCodeConvert::kTypeVideoStandard &&
                  IPCAMVIEW_DEVICE_NO_STREAM == CMachineCodeConvert::kTypeNoStream &&
                  IPCAMVIEW_DEVICE_PROFILE_CAMERA2 == CMachineCodeConvert::kTypeProfileCamera2 &&
                  IPCAMVIEW_DEVICE_OTHER_VENDOR == CMachineCodeConvert::kTypeOtherVendor,
              "device types of the public header");
static_assert(IPCAMVIEW_RECEIVE_NONE == CMachineCodeConvert::kReceiveNone &&
                  IPCAMVIEW_RECEIVE_MULTIPART == CMachineCodeConvert::kReceiveMultipart &&
                  IPCAMVIEW_RECEIVE_JPEG_POLLING == CMachineCodeConvert::kReceiveJpegPolling,
              "receive types of the public header");
static_assert(IPCAMVIEW_CODEC_JPEG == media_util::kVideoJpeg &&
                  IPCAMVIEW_CODEC_MPEG4 == media_util::kVideoMpeg4 &&
                  IPCAMVIEW_CODEC_H264 == media_util::kVideoH264QBox,
              "codec codes of the public header");

namespace {

// Created with the library's load, before any export can be called, and
// destroyed by the unload hook below after the last instance, followed by the
// process-wide objects the viewers shared. A heap object
// rather than a static one: the C++ static destructors of a shared object may
// run before its destructor functions, and the clean-up needs the table.
CInstanceTable* gpInstances = new CInstanceTable();

__attribute__((destructor)) void UnloadLibrary() {
    if (gpInstances == nullptr)
        return;
    gpInstances->ClearAllInstances();
    delete gpInstances;
    gpInstances = nullptr;
    CMachineCodeCache::DestroyProcessCache();
    CSourceTable::DestroyInstance();
    os::ReleaseGdiState();
}

} // namespace

extern "C" {

IPCAMVIEW_API int32_t Start(int32_t reserved1, int32_t transportKind, const char* address, int32_t reserved2,
                            const char* userName, const char* password, int32_t* audioFlag, int32_t channel,
                            int32_t preferredCodec) {
    try {
        return gpInstances->Start(reserved1, transportKind, address, reserved2, userName, password, audioFlag,
                                  channel, preferredCodec);
    } catch (...) {
        return IPCAMVIEW_INVALID_HANDLE;
    }
}

IPCAMVIEW_API bool Stop(int32_t handle) {
    try {
        return gpInstances->Stop(handle);
    } catch (...) {
        return false;
    }
}

IPCAMVIEW_API int32_t GetDeviceType(int32_t machineCode) {
    return CMachineCodeConvert::GetDeviceType(machineCode);
}

IPCAMVIEW_API int32_t GetMaxChannel(int32_t machineCode) {
    return CMachineCodeConvert::GetMaxChannel(machineCode);
}

IPCAMVIEW_API int32_t GetMediaReceiveType(int32_t machineCode) {
    return CMachineCodeConvert::GetMediaReceiveType(machineCode);
}

} // extern "C"
