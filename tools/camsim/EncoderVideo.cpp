#include "EncoderVideo.h"

#include "Picture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <cstring>
#include <vector>

namespace camsim {

struct EncoderVideo::Impl {
    VideoCodec codec = VideoCodec::Mpeg4;
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int64_t pts = 0;
    int fps = 10;

    ~Impl() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

namespace {

// Positions of the start codes (00 00 01) in `data`.
std::vector<size_t> StartCodes(const std::string& data) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 3 <= data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            at.push_back(i);
            i += 2;
        }
    }
    return at;
}

} // namespace

std::unique_ptr<EncoderVideo> EncoderVideo::Create(VideoCodec codec, int width, int height, int fps,
                                                   int keyInterval) {
    if (codec == VideoCodec::Jpeg)
        return nullptr;
    const AVCodec* encoder = codec == VideoCodec::H264 ? avcodec_find_encoder_by_name("libx264")
                                                       : avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!encoder)
        return nullptr;
    std::unique_ptr<EncoderVideo> self(new EncoderVideo());
    self->mpImpl = new Impl();
    Impl& m = *self->mpImpl;
    m.codec = codec;
    m.fps = fps > 0 ? fps : 10;
    m.context = avcodec_alloc_context3(encoder);
    m.frame = av_frame_alloc();
    m.packet = av_packet_alloc();
    if (!m.context || !m.frame || !m.packet)
        return nullptr;
    m.context->width = width;
    m.context->height = height;
    m.context->pix_fmt = AV_PIX_FMT_YUV420P;
    m.context->time_base = AVRational{1, m.fps};
    m.context->framerate = AVRational{m.fps, 1};
    m.context->gop_size = keyInterval > 0 ? keyInterval : 1;
    m.context->max_b_frames = 0;
    m.context->thread_count = 1;
    m.context->bit_rate = static_cast<int64_t>(width) * height * m.fps / 8;
    if (codec == VideoCodec::H264) {
        av_opt_set(m.context->priv_data, "preset", "ultrafast", 0);
        av_opt_set(m.context->priv_data, "tune", "zerolatency", 0);
        av_opt_set(m.context->priv_data, "profile", "baseline", 0);
        // Every key frame repeats SPS and PPS, so a viewer that joins late can
        // start at any key frame; no in-band version text.
        av_opt_set(m.context->priv_data, "x264-params", "repeat-headers=1:scenecut=0", 0);
    }
    if (avcodec_open2(m.context, encoder, nullptr) < 0)
        return nullptr;
    m.frame->format = AV_PIX_FMT_YUV420P;
    m.frame->width = width;
    m.frame->height = height;
    if (av_frame_get_buffer(m.frame, 0) < 0)
        return nullptr;
    return self;
}

EncoderVideo::~EncoderVideo() {
    delete mpImpl;
}

std::string EncoderVideo::QBox(uint32_t sampleFlags, uint32_t cts, const std::string& payload) {
    const uint32_t size = static_cast<uint32_t>(kQBoxHeader + payload.size());
    std::string box(kQBoxHeader, '\0');
    auto put32 = [&box](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            box[at + i] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
    };
    put32(0, size);
    box.replace(4, 4, "qbox");
    // 8: version 0 and three flag bytes, all zero.
    box[12] = static_cast<char>(kQBoxStreamH264 >> 8);
    box[13] = static_cast<char>(kQBoxStreamH264 & 0xFF);
    // 14: stream id 0.
    put32(16, sampleFlags);
    put32(20, cts);
    return box + payload;
}

std::string EncoderVideo::ReframeMpeg4(const std::string& frame) {
    for (size_t at : StartCodes(frame)) {
        if (at + 3 >= frame.size())
            break;
        const unsigned char code = static_cast<unsigned char>(frame[at + 3]);
        if (code <= 0x1F) { // video object start code
            std::string out = frame.substr(at);
            out[3] = 0x01;
            return out;
        }
        if (code == 0xB6 || code == 0xB3)
            break; // a picture without configuration in front
    }
    return frame;
}

bool EncoderVideo::Encode(const Picture& picture, Frame* out) {
    Impl& m = *mpImpl;
    out->data.clear();
    out->key = false;
    if (picture.Width() != m.context->width || picture.Height() != m.context->height)
        return false;
    if (av_frame_make_writable(m.frame) < 0)
        return false;
    for (int p = 0; p < 3; ++p) {
        const int rows = p == 0 ? picture.Height() : picture.Height() / 2;
        const int bytes = picture.Stride(p);
        for (int r = 0; r < rows; ++r)
            std::memcpy(m.frame->data[p] + static_cast<size_t>(r) * m.frame->linesize[p],
                        picture.Plane(p) + static_cast<size_t>(r) * bytes, bytes);
    }
    m.frame->pts = m.pts++;
    if (avcodec_send_frame(m.context, m.frame) < 0)
        return false;
    int rc = avcodec_receive_packet(m.context, m.packet);
    if (rc == AVERROR(EAGAIN))
        return true;
    if (rc < 0)
        return false;
    std::string data(reinterpret_cast<const char*>(m.packet->data), m.packet->size);
    out->key = (m.packet->flags & AV_PKT_FLAG_KEY) != 0;
    const uint32_t cts = static_cast<uint32_t>(m.packet->pts * 90000 / m.fps);
    av_packet_unref(m.packet);
    if (m.codec == VideoCodec::Mpeg4) {
        out->data = out->key ? ReframeMpeg4(data) : data;
        return true;
    }
    // Split the access unit into parameter sets and the rest.
    std::string config;
    std::string picturePart;
    std::vector<size_t> codes = StartCodes(data);
    for (size_t i = 0; i < codes.size(); ++i) {
        size_t begin = codes[i];
        // A four-byte start code (00 00 00 01) belongs to the unit it opens.
        if (begin > 0 && data[begin - 1] == 0)
            --begin;
        size_t end = i + 1 < codes.size() ? codes[i + 1] : data.size();
        if (i + 1 < codes.size() && end > 0 && data[end - 1] == 0)
            --end;
        if (codes[i] + 3 >= data.size())
            continue;
        const int type = data[codes[i] + 3] & 0x1F;
        if (type == 5)
            out->key = true;
        if (type == 7 || type == 8)
            config += data.substr(begin, end - begin);
        else
            picturePart += data.substr(begin, end - begin);
    }
    if (out->key && !config.empty())
        out->data = QBox(kQBoxConfig, cts, config) + QBox(kQBoxSync, cts, picturePart);
    else
        out->data = QBox(out->key ? kQBoxSync : kQBoxPredicted, cts, picturePart);
    return true;
}

} // namespace camsim
