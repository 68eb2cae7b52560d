// The C entry points of libvcodec.
#include "ipcamview/vcodec.h"

#include "CCodec.h"
#include "CHandleTable.h"

namespace {
ipcam::CHandleTable<ipcam::CCodec>& Codecs() {
    // Never destroyed: hosts may release codecs from their own static
    // destructors after ours would have run.
    static auto* table = new ipcam::CHandleTable<ipcam::CCodec>;
    return *table;
}
} // namespace

extern "C" {

int32_t CreateCodec(int32_t inFormat, int32_t outPixelFormat, int32_t width, int32_t height, int32_t fps) {
    std::unique_ptr<ipcam::CCodec> codec = ipcam::CCodec::Create(inFormat, outPixelFormat, width, height);
    if (!codec)
        return -1;
    return Codecs().Add(std::shared_ptr<ipcam::CCodec>(std::move(codec)));
}

int32_t Decode(int32_t handle, const uint8_t* in, int32_t* inOutLength, uint8_t* out, int32_t* inOutSize) {
    if (!inOutLength || !inOutSize)
        return 0;
    std::shared_ptr<ipcam::CCodec> codec = Codecs().Find(handle);
    if (!codec)
        return 0;
    return codec->Decode(in, inOutLength, out, inOutSize);
}

int32_t ReleaseCodec(int32_t handle) {
    return Codecs().Remove(handle) ? 1 : 0;
}

} // extern "C"
