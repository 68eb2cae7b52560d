// The simulated camera's microphone: a steady tone, encoded in the device's
// audio format and cut into the blocks that travel as audio parts.
//
// - u-law (G.711, "U-LAW"): 8000 Hz mono, 8 bits a sample, encoded here.
// - G.726 ("G726"): 8000 Hz mono at 32 kbit/s (4 bits a sample), libavcodec.
// - AAC ("AAC"): 44100 Hz stereo, libavcodec's encoder, each 1024-sample
//   frame behind an ADTS header (7 bytes), one frame a block.
//
// One encoder per stream, used by one connection thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace camsim {

enum class AudioCodec { None, Ulaw, G726, Aac };

class EncoderAudio {
public:
    // Samples in one u-law or G.726 block (40 ms at 8000 Hz).
    static constexpr int kNarrowBlockSamples = 320;
    static constexpr int kToneHz = 1000;

    // Null for AudioCodec::None or when libavcodec lacks the encoder.
    static std::unique_ptr<EncoderAudio> Create(AudioCodec codec);
    ~EncoderAudio();
    EncoderAudio(const EncoderAudio&) = delete;
    EncoderAudio& operator=(const EncoderAudio&) = delete;

    // The next block; false on an encoder error.
    bool Next(std::string* block);
    // Milliseconds of sound from the start to the end of the blocks handed
    // out so far (the stream interleaves audio by it).
    double EndMs() const;
    // The X-Codec value of the format.
    const char* CodecName() const;

    // G.711 u-law of one 16-bit sample.
    static uint8_t Ulaw(int16_t sample);
    // The 7-byte ADTS header of an AAC-LC frame of `payload` bytes.
    static std::string Adts(size_t payload, int sampleRate, int channels);

private:
    EncoderAudio() = default;
    struct Impl;
    Impl* mpImpl = nullptr;
};

} // namespace camsim
