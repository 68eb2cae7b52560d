// The audio libraries the ACM wrapper and the DirectSound renderer use,
// loaded on first use rather than linked: libavcodec brings a hundred-odd
// shared libraries and SDL2 a display stack, which a viewer that never plays
// sound should not pay for at start-up. Each loads once per process and stays.
//
// Threads: the first call of either function loads; later calls only read.
#pragma once

extern "C" {
#include <SDL2/SDL_audio.h>
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

namespace os::dshow {

struct SAvCodecApi {
    decltype(&avcodec_find_decoder) find_decoder = nullptr;
    decltype(&avcodec_alloc_context3) alloc_context3 = nullptr;
    decltype(&avcodec_open2) open2 = nullptr;
    decltype(&avcodec_free_context) free_context = nullptr;
    decltype(&avcodec_send_packet) send_packet = nullptr;
    decltype(&avcodec_receive_frame) receive_frame = nullptr;
    decltype(&av_packet_alloc) packet_alloc = nullptr;
    decltype(&av_packet_free) packet_free = nullptr;
    decltype(&av_frame_alloc) frame_alloc = nullptr;
    decltype(&av_frame_free) frame_free = nullptr;
    decltype(&av_channel_layout_default) channel_layout_default = nullptr;
};

struct SSdlAudioApi {
    int (*InitSubSystem)(Uint32) = nullptr;
    void (*QuitSubSystem)(Uint32) = nullptr;
    SDL_AudioDeviceID (*OpenAudioDevice)(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*,
                                         int) = nullptr;
    int (*QueueAudio)(SDL_AudioDeviceID, const void*, Uint32) = nullptr;
    Uint32 (*GetQueuedAudioSize)(SDL_AudioDeviceID) = nullptr;
    void (*PauseAudioDevice)(SDL_AudioDeviceID, int) = nullptr;
    void (*CloseAudioDevice)(SDL_AudioDeviceID) = nullptr;
    const char* (*GetError)() = nullptr;
};

// Null when the library or one of its functions cannot be loaded; the
// filters then refuse to connect (ACM wrapper) or play into the null sink.
const SAvCodecApi* AvCodec();
const SSdlAudioApi* SdlAudio();

} // namespace os::dshow
