#include "CMkvWriter.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace ipcam {

CMkvWriter::~CMkvWriter() {
    Close();
    av_packet_free(&mpPacket);
}

void CMkvWriter::Close() {
    if (!mpContext)
        return;
    avio_closep(&mpContext->pb);
    avformat_free_context(mpContext);
    mpContext = nullptr;
    mHeaderWritten = false;
}

bool CMkvWriter::Open(const std::string& path) {
    Close();
    if (avformat_alloc_output_context2(&mpContext, nullptr, "matroska", path.c_str()) < 0 || !mpContext)
        return false;
    if (avio_open(&mpContext->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
        avformat_free_context(mpContext);
        mpContext = nullptr;
        return false;
    }
    mPath = path;
    return true;
}

namespace {
bool SetExtradata(AVCodecParameters* par, const std::vector<uint8_t>& extradata) {
    if (extradata.empty())
        return true;
    par->extradata = static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        return false;
    memcpy(par->extradata, extradata.data(), extradata.size());
    par->extradata_size = int(extradata.size());
    return true;
}
} // namespace

AVStream* CMkvWriter::NewStream(int mediaType, int codecId) {
    if (!mpContext || mHeaderWritten)
        return nullptr;
    AVStream* stream = avformat_new_stream(mpContext, nullptr);
    if (!stream)
        return nullptr;
    stream->codecpar->codec_type = AVMediaType(mediaType);
    stream->codecpar->codec_id = AVCodecID(codecId);
    stream->time_base = AVRational{1, kTimeBase};
    return stream;
}

int CMkvWriter::AddVideo(int codecId, int width, int height, const std::vector<uint8_t>& extradata) {
    AVStream* stream = NewStream(AVMEDIA_TYPE_VIDEO, codecId);
    if (!stream)
        return -1;
    AVCodecParameters* par = stream->codecpar;
    par->width = width;
    par->height = height;
    par->format = codecId == AV_CODEC_ID_MJPEG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    return SetExtradata(par, extradata) ? stream->index : -1;
}

int CMkvWriter::AddAudio(int codecId, int sampleRate, int channels, int bitsPerSample,
                         const std::vector<uint8_t>& extradata) {
    AVStream* stream = NewStream(AVMEDIA_TYPE_AUDIO, codecId);
    if (!stream)
        return -1;
    AVCodecParameters* par = stream->codecpar;
    par->sample_rate = sampleRate;
    av_channel_layout_default(&par->ch_layout, channels);
    par->bits_per_coded_sample = bitsPerSample;
    if (codecId == AV_CODEC_ID_AAC)
        par->frame_size = 1024;
    return SetExtradata(par, extradata) ? stream->index : -1;
}

bool CMkvWriter::WriteHeader() {
    if (!mpContext || mHeaderWritten || mpContext->nb_streams == 0)
        return false;
    // Each packet goes to the file when the muxer lets go of it, so the file
    // holds every closed cluster whatever happens to this process later.
    mpContext->flush_packets = 1;
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "cluster_time_limit", kClusterTimeLimitMs, 0);
    av_dict_set_int(&options, "cluster_size_limit", kClusterSizeLimit, 0);
    // No CRC-32 elements: summing every cluster cost a 1080p MJPEG recording
    // a fifth of its CPU, and readers need none (a cut-off cluster is found
    // by its size, not its sum).
    av_dict_set_int(&options, "write_crc32", 0, 0);
    int rc = avformat_write_header(mpContext, &options);
    av_dict_free(&options);
    if (rc < 0)
        return false;
    avio_flush(mpContext->pb);
    mHeaderWritten = true;
    return true;
}

static_assert(CMkvWriter::kPadding == AV_INPUT_BUFFER_PADDING_SIZE, "the padding libavcodec expects");

bool CMkvWriter::Write(int track, const uint8_t* data, size_t size, int64_t pts, int64_t duration, bool key) {
    if (size == 0 || size > size_t(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
        return false;
    // The muxer only reads the packet during the call (av_write_frame keeps
    // no reference to data that is not reference-counted), so the bytes go in
    // from a buffer kept for the next packet, padded as libavcodec expects.
    if (mScratch.size() < size + AV_INPUT_BUFFER_PADDING_SIZE)
        mScratch.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
    memcpy(mScratch.data(), data, size);
    memset(mScratch.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    return WritePacket(track, mScratch.data(), size, pts, duration, key);
}

bool CMkvWriter::WritePadded(int track, const uint8_t* data, size_t size, int64_t pts, int64_t duration,
                             bool key) {
    if (size == 0 || size > size_t(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
        return false;
    return WritePacket(track, data, size, pts, duration, key);
}

bool CMkvWriter::WritePacket(int track, const uint8_t* data, size_t size, int64_t pts, int64_t duration,
                             bool key) {
    if (!mHeaderWritten || track < 0 || unsigned(track) >= mpContext->nb_streams)
        return false;
    if (!mpPacket && !(mpPacket = av_packet_alloc()))
        return false;
    AVPacket* packet = mpPacket;
    av_packet_unref(packet);
    packet->data = const_cast<uint8_t*>(data);
    packet->size = int(size);
    packet->stream_index = track;
    // The muxer may have changed the track's time base in the header.
    AVRational ms{1, kTimeBase};
    AVRational tb = mpContext->streams[track]->time_base;
    packet->pts = packet->dts = av_rescale_q(pts, ms, tb);
    packet->duration = av_rescale_q(duration, ms, tb);
    if (key)
        packet->flags |= AV_PKT_FLAG_KEY;
    bool ok = av_write_frame(mpContext, packet) >= 0;
    avio_flush(mpContext->pb);
    av_packet_unref(packet);
    return ok;
}

bool CMkvWriter::Finish() {
    if (!mpContext)
        return false;
    bool ok = mHeaderWritten && av_write_trailer(mpContext) == 0;
    Close();
    return ok;
}

void CMkvWriter::Abort() {
    if (!mpContext)
        return;
    std::string path = mPath;
    Close();
    std::remove(path.c_str());
}

} // namespace ipcam
