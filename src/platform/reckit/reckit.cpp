// The C entry points of libreckit.
#include "ipcamview/reckit.h"

#include "CCmsRecorder.h"
#include "platform/vcodec/CHandleTable.h"

#include <cstring>
#include <string>

namespace {
ipcam::CHandleTable<ipcam::CCmsRecorder>& Recorders() {
    // Never destroyed: hosts may stop recordings from their own static
    // destructors after ours would have run.
    static auto* table = new ipcam::CHandleTable<ipcam::CCmsRecorder>;
    return *table;
}
} // namespace

extern "C" {

int32_t CreateCMSRecorder(int32_t kind, int32_t first, int32_t second) {
    if (!ipcam::CCmsRecorder::IsKnownKind(kind))
        return -1;
    return Recorders().Add(std::make_shared<ipcam::CCmsRecorder>(kind));
}

int32_t SetCMSRecorderFileInfo(int32_t handle, const wchar_t* info, const wchar_t* thrd) {
    auto recorder = Recorders().Find(handle);
    return recorder && recorder->SetFileInfo(info) ? 1 : 0;
}

int32_t StartCMSRecorder(int32_t handle) {
    auto recorder = Recorders().Find(handle);
    return recorder && recorder->Start() ? 1 : 0;
}

int32_t JoinVideoToCMSRecorder(int32_t handle, const CmsVideoFrame* frame) {
    auto recorder = Recorders().Find(handle);
    return recorder && frame && recorder->JoinVideo(*frame) ? 1 : 0;
}

int32_t JoinAudioToCMSRecorder(int32_t handle, const CmsAudioFrame* frame) {
    auto recorder = Recorders().Find(handle);
    return recorder && frame && recorder->JoinAudio(*frame) ? 1 : 0;
}

int32_t StopCMSRecorder(int32_t handle) {
    auto recorder = Recorders().Find(handle);
    return recorder && recorder->Stop() ? 1 : 0;
}

int32_t ReleaseCMSRecorder(int32_t handle) {
    auto recorder = Recorders().Remove(handle);
    if (!recorder)
        return 0;
    recorder->Stop(); // a no-op when already stopped
    return 1;
}

int32_t GetCMSRecorderFileName(int32_t handle, char* buffer, int32_t capacity) {
    auto recorder = Recorders().Find(handle);
    if (!recorder)
        return 0;
    const std::string name = recorder->FilePath();
    const int32_t length = static_cast<int32_t>(name.size());
    if (buffer != nullptr && length < capacity)
        std::memcpy(buffer, name.c_str(), name.size() + 1);
    return length;
}

} // extern "C"
