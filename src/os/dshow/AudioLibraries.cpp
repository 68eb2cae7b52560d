#include "os/dshow/AudioLibraries.h"

#include "os/kernel/Kernel.h"

#include <mutex>

namespace os::dshow {

namespace {

template <typename T> bool Bind(HMODULE module, const char* name, T* slot) {
    *slot = reinterpret_cast<T>(GetProcAddress(module, name));
    return *slot != nullptr;
}

SAvCodecApi gAv;
bool gAvReady = false;
std::once_flag gAvOnce;

SSdlAudioApi gSdl;
bool gSdlReady = false;
std::once_flag gSdlOnce;

} // namespace

const SAvCodecApi* AvCodec() {
    std::call_once(gAvOnce, [] {
        HMODULE codec = LoadLibraryA("libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR));
        HMODULE util = LoadLibraryA("libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR));
        if (codec == nullptr || util == nullptr)
            return;
        gAvReady = Bind(codec, "avcodec_find_decoder", &gAv.find_decoder) &&
                   Bind(codec, "avcodec_alloc_context3", &gAv.alloc_context3) &&
                   Bind(codec, "avcodec_open2", &gAv.open2) &&
                   Bind(codec, "avcodec_free_context", &gAv.free_context) &&
                   Bind(codec, "avcodec_send_packet", &gAv.send_packet) &&
                   Bind(codec, "avcodec_receive_frame", &gAv.receive_frame) &&
                   Bind(codec, "av_packet_alloc", &gAv.packet_alloc) &&
                   Bind(codec, "av_packet_free", &gAv.packet_free) &&
                   Bind(util, "av_frame_alloc", &gAv.frame_alloc) &&
                   Bind(util, "av_frame_free", &gAv.frame_free) &&
                   Bind(util, "av_channel_layout_default", &gAv.channel_layout_default);
    });
    return gAvReady ? &gAv : nullptr;
}

const SSdlAudioApi* SdlAudio() {
    std::call_once(gSdlOnce, [] {
        HMODULE sdl = LoadLibraryA("libSDL2-2.0.so.0");
        if (sdl == nullptr)
            return;
        gSdlReady = Bind(sdl, "SDL_InitSubSystem", &gSdl.InitSubSystem) &&
                    Bind(sdl, "SDL_QuitSubSystem", &gSdl.QuitSubSystem) &&
                    Bind(sdl, "SDL_OpenAudioDevice", &gSdl.OpenAudioDevice) &&
                    Bind(sdl, "SDL_QueueAudio", &gSdl.QueueAudio) &&
                    Bind(sdl, "SDL_GetQueuedAudioSize", &gSdl.GetQueuedAudioSize) &&
                    Bind(sdl, "SDL_PauseAudioDevice", &gSdl.PauseAudioDevice) &&
                    Bind(sdl, "SDL_CloseAudioDevice", &gSdl.CloseAudioDevice) &&
                    Bind(sdl, "SDL_GetError", &gSdl.GetError);
    });
    return gSdlReady ? &gSdl : nullptr;
}

} // namespace os::dshow
