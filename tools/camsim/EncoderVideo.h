// Live MPEG-4 Visual and H.264 encoding with libavcodec, and the framing the
// cameras put around it:
//
// - MPEG-4: one frame per part. A key frame carries the stream configuration
//   in front of the picture and then begins 00 00 01 01 (a video-object start
//   code with id 1), followed by the VOL and the VOP. libavcodec starts each
//   key frame with a visual-object-sequence header (B0) and a visual-object
//   header (B5) before the video-object code 00: those two are dropped and the
//   video-object code is written with id 1, as the devices do.
// - H.264 (libx264): one access unit per part in QBox boxes. A key frame is a
//   configuration box (SPS + PPS, sample flags 0x03) followed by an IDR box
//   (flags 0x06); other frames are one box with flags 0x02.
//
// One encoder per stream and channel, used by one connection thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace camsim {

class Picture;

enum class VideoCodec { Jpeg, Mpeg4, H264 };

class EncoderVideo {
public:
    // QBox: box header size, and the sample flags of the three box kinds.
    static constexpr size_t kQBoxHeader = 24;
    static constexpr uint32_t kQBoxConfig = 0x03;
    static constexpr uint32_t kQBoxSync = 0x06;
    static constexpr uint32_t kQBoxPredicted = 0x02;
    static constexpr uint16_t kQBoxStreamH264 = 2;

    struct Frame {
        std::string data;
        bool key = false;
    };

    // `keyInterval` frames from one key frame to the next (1 = every frame).
    // Null when libavcodec lacks the encoder or refuses the settings.
    static std::unique_ptr<EncoderVideo> Create(VideoCodec codec, int width, int height, int fps,
                                                int keyInterval);
    ~EncoderVideo();
    EncoderVideo(const EncoderVideo&) = delete;
    EncoderVideo& operator=(const EncoderVideo&) = delete;

    // Encodes one picture of the size given to Create. False on an encoder
    // error; true with an empty frame when the encoder held the picture back.
    bool Encode(const Picture& picture, Frame* out);

    // One QBox box around `payload`.
    static std::string QBox(uint32_t sampleFlags, uint32_t cts, const std::string& payload);
    // An MPEG-4 key frame as libavcodec made it, with its configuration
    // reframed (see above); other frames are returned as they are.
    static std::string ReframeMpeg4(const std::string& frame);

private:
    EncoderVideo() = default;
    struct Impl;
    Impl* mpImpl = nullptr;
};

} // namespace camsim
