#include "EncoderAudio.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <deque>

namespace camsim {

namespace {

const double kPi = 3.14159265358979323846;
const int kG726BlockBytes = EncoderAudio::kNarrowBlockSamples / 2; // 4 bits a sample

} // namespace

struct EncoderAudio::Impl {
    AudioCodec codec = AudioCodec::None;
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int sampleRate = 8000;
    uint64_t samplesGenerated = 0; // tone samples made so far (phase)
    uint64_t samplesOut = 0;       // samples covered by the blocks handed out
    std::string pending;           // G.726 bytes not yet cut into blocks
    std::deque<std::string> ready; // AAC blocks not yet handed out

    ~Impl() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }

    int16_t Tone() {
        double t = static_cast<double>(samplesGenerated++) / sampleRate;
        return static_cast<int16_t>(8000.0 * std::sin(2 * kPi * kToneHz * t));
    }
};

uint8_t EncoderAudio::Ulaw(int16_t sample) {
    const int kBias = 0x84;
    const int kClip = 32635;
    int value = sample;
    int sign = 0;
    if (value < 0) {
        value = -value;
        sign = 0x80;
    }
    if (value > kClip)
        value = kClip;
    value += kBias;
    int exponent = 7;
    for (int mask = 0x4000; (value & mask) == 0 && exponent > 0; mask >>= 1)
        --exponent;
    int mantissa = (value >> (exponent + 3)) & 0x0F;
    return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

std::string EncoderAudio::Adts(size_t payload, int sampleRate, int channels) {
    static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000,
                                 24000, 22050, 16000, 12000, 11025, 8000};
    int index = 4;
    for (int i = 0; i < 12; ++i)
        if (kRates[i] == sampleRate)
            index = i;
    const size_t length = payload + 7;
    std::string h(7, '\0');
    h[0] = static_cast<char>(0xFF);
    h[1] = static_cast<char>(0xF1);                                            // MPEG-4, layer 0, no CRC
    h[2] = static_cast<char>((1 << 6) | (index << 2) | ((channels >> 2) & 1)); // profile LC (1)
    h[3] = static_cast<char>(((channels & 3) << 6) | ((length >> 11) & 3));
    h[4] = static_cast<char>((length >> 3) & 0xFF);
    h[5] = static_cast<char>(((length & 7) << 5) | 0x1F);
    h[6] = static_cast<char>(0xFC);
    return h;
}

std::unique_ptr<EncoderAudio> EncoderAudio::Create(AudioCodec codec) {
    if (codec == AudioCodec::None)
        return nullptr;
    std::unique_ptr<EncoderAudio> self(new EncoderAudio());
    self->mpImpl = new Impl();
    Impl& m = *self->mpImpl;
    m.codec = codec;
    if (codec == AudioCodec::Ulaw)
        return self;
    const AVCodec* encoder =
        avcodec_find_encoder(codec == AudioCodec::Aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ADPCM_G726);
    if (!encoder)
        return nullptr;
    m.context = avcodec_alloc_context3(encoder);
    m.frame = av_frame_alloc();
    m.packet = av_packet_alloc();
    if (!m.context || !m.frame || !m.packet)
        return nullptr;
    if (codec == AudioCodec::Aac) {
        m.sampleRate = 44100;
        m.context->sample_fmt = AV_SAMPLE_FMT_FLTP;
        m.context->bit_rate = 64000;
        av_channel_layout_default(&m.context->ch_layout, 2);
    } else {
        m.context->sample_fmt = AV_SAMPLE_FMT_S16;
        m.context->bit_rate = 32000;
        av_channel_layout_default(&m.context->ch_layout, 1);
    }
    m.context->sample_rate = m.sampleRate;
    m.context->time_base = AVRational{1, m.sampleRate};
    if (avcodec_open2(m.context, encoder, nullptr) < 0)
        return nullptr;
    m.frame->format = m.context->sample_fmt;
    m.frame->nb_samples = m.context->frame_size > 0 ? m.context->frame_size : 1024;
    m.frame->sample_rate = m.sampleRate;
    if (av_channel_layout_copy(&m.frame->ch_layout, &m.context->ch_layout) < 0 ||
        av_frame_get_buffer(m.frame, 0) < 0)
        return nullptr;
    return self;
}

EncoderAudio::~EncoderAudio() {
    delete mpImpl;
}

const char* EncoderAudio::CodecName() const {
    switch (mpImpl->codec) {
    case AudioCodec::Aac:
        return "AAC";
    case AudioCodec::G726:
        return "G726";
    default:
        return "U-LAW";
    }
}

double EncoderAudio::EndMs() const {
    return static_cast<double>(mpImpl->samplesOut) * 1000.0 / mpImpl->sampleRate;
}

bool EncoderAudio::Next(std::string* block) {
    Impl& m = *mpImpl;
    block->clear();
    if (m.codec == AudioCodec::Ulaw) {
        block->resize(kNarrowBlockSamples);
        for (int i = 0; i < kNarrowBlockSamples; ++i)
            (*block)[i] = static_cast<char>(Ulaw(m.Tone()));
        m.samplesOut += kNarrowBlockSamples;
        return true;
    }
    // Feed the encoder until a block is ready; bounded so that an encoder
    // that never answers cannot hold the stream.
    for (int round = 0; round < 64; ++round) {
        if (m.codec == AudioCodec::G726 && m.pending.size() >= static_cast<size_t>(kG726BlockBytes)) {
            *block = m.pending.substr(0, kG726BlockBytes);
            m.pending.erase(0, kG726BlockBytes);
            m.samplesOut += kNarrowBlockSamples;
            return true;
        }
        if (m.codec == AudioCodec::Aac && !m.ready.empty()) {
            *block = std::move(m.ready.front());
            m.ready.pop_front();
            m.samplesOut += 1024;
            return true;
        }
        if (av_frame_make_writable(m.frame) < 0)
            return false;
        const int n = m.frame->nb_samples;
        if (m.codec == AudioCodec::Aac) {
            float* left = reinterpret_cast<float*>(m.frame->data[0]);
            float* right = reinterpret_cast<float*>(m.frame->data[1]);
            for (int i = 0; i < n; ++i)
                left[i] = right[i] = static_cast<float>(m.Tone()) / 32768.0f;
        } else {
            int16_t* samples = reinterpret_cast<int16_t*>(m.frame->data[0]);
            for (int i = 0; i < n; ++i)
                samples[i] = m.Tone();
        }
        m.frame->pts = static_cast<int64_t>(m.samplesGenerated) - n;
        if (avcodec_send_frame(m.context, m.frame) < 0)
            return false;
        while (avcodec_receive_packet(m.context, m.packet) == 0) {
            std::string data(reinterpret_cast<const char*>(m.packet->data), m.packet->size);
            av_packet_unref(m.packet);
            if (m.codec == AudioCodec::Aac)
                m.ready.push_back(Adts(data.size(), m.sampleRate, 2) + data);
            else
                m.pending += data;
        }
    }
    return false;
}

} // namespace camsim
