#include "CAvDecoder.h"

#include "CH264Sps.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "CMpeg4Vol.h"
#include "ipcamview/vcodec.h"

namespace ipcam {

namespace {
// Turns the decoder's errors into debug messages (below the default level).
constexpr int kQuietLogOffset = AV_LOG_DEBUG - AV_LOG_ERROR;

// VCODEC_MAX_PIXELS, or the smaller bound the environment variable of that
// name gives (a host short of memory, a fuzzer that wants hostile sizes
// fast); read once, when the first decoder is made.
int64_t MaxPixels() {
    static const int64_t bound = [] {
        const char* text = std::getenv("VCODEC_MAX_PIXELS");
        if (text == nullptr)
            return int64_t(VCODEC_MAX_PIXELS);
        char* end = nullptr;
        const long long value = std::strtoll(text, &end, 10);
        return end != text && *end == '\0' && value > 0 && value < VCODEC_MAX_PIXELS ? int64_t(value)
                                                                                     : int64_t(VCODEC_MAX_PIXELS);
    }();
    return bound;
}
} // namespace

CAvDecoder::CAvDecoder(int32_t inFormat, int32_t pixelCode, bool bottomUp)
    : mPixelCode(pixelCode), mBottomUp(bottomUp), mUsesParser(inFormat == VCODEC_FORMAT_H264),
      mCodecId(inFormat == VCODEC_FORMAT_H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4) {
    const AVCodec* codec = avcodec_find_decoder(AVCodecID(mCodecId));
    if (!codec)
        return;
    mpContext = avcodec_alloc_context3(codec);
    if (!mpContext)
        return;
    // One thread per handle: the viewer runs a decoder per channel and relies
    // on channels, not frames, to spread over the cores. It also keeps the
    // decoder free of frame-thread delay.
    mpContext->thread_count = 1;
    mpContext->thread_type = 0;
    // Cameras send no reordered frames; show each picture as soon as its
    // access unit is in, so one unit in gives one picture out.
    mpContext->flags |= AV_CODEC_FLAG_LOW_DELAY;
    mpContext->flags &= ~AV_CODEC_FLAG_OUTPUT_CORRUPT;
    // A damaged frame is reported as no picture rather than concealed.
    mpContext->err_recognition = AV_EF_CRCCHECK | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_EXPLODE;
    // The stream's own headers size every picture the decoder allocates,
    // and H.264 keeps up to sixteen for reference: one decoder of a 6144 x
    // 4096 stream with sixteen references held 947 MB (docs/codecs.md).
    mpContext->max_pixels = MaxPixels();
    // What the decoder says about a damaged stream (a line or more per
    // frame of a camera that sends noise) is for someone who asks for
    // libavcodec's debug output, not for the host's stderr: Decode's result
    // already tells the caller, and the host's own libavcodec logging keeps
    // its levels (the offset is this context's only).
    mpContext->log_level_offset = kQuietLogOffset;
    if (avcodec_open2(mpContext, codec, nullptr) < 0) {
        avcodec_free_context(&mpContext);
        return;
    }
    mpFrame = av_frame_alloc();
    mpReceived = av_frame_alloc();
    mpPacket = av_packet_alloc();
    if (mUsesParser) {
        mpParser = av_parser_init(mCodecId);
        mpParserContext = avcodec_alloc_context3(codec);
        if (mpParserContext)
            mpParserContext->log_level_offset = kQuietLogOffset;
    }
}

CAvDecoder::~CAvDecoder() {
    if (mpParser)
        av_parser_close(mpParser);
    av_packet_free(&mpPacket);
    av_frame_free(&mpReceived);
    av_frame_free(&mpFrame);
    avcodec_free_context(&mpParserContext);
    avcodec_free_context(&mpContext);
}

void CAvDecoder::ResetParser() {
    av_parser_close(mpParser);
    mpParser = av_parser_init(mCodecId);
}

bool CAvDecoder::DecodePacket(const uint8_t* data, int size) {
    av_packet_unref(mpPacket);
    mpPacket->data = const_cast<uint8_t*>(data);
    mpPacket->size = size;
    if (avcodec_send_packet(mpContext, mpPacket) < 0)
        return false;
    bool got = false;
    // receive_frame empties its frame when it has nothing, so pictures land in
    // a second frame first and the newest whole one is kept.
    while (avcodec_receive_frame(mpContext, mpReceived) >= 0) {
        bool whole = !(mpReceived->flags & AV_FRAME_FLAG_CORRUPT) && mpReceived->decode_error_flags == 0;
        if (whole) {
            av_frame_unref(mpFrame);
            av_frame_move_ref(mpFrame, mpReceived);
            got = true;
        }
        av_frame_unref(mpReceived);
    }
    return got;
}

bool CAvDecoder::WritePicture(uint8_t* out, int64_t outSize, int64_t* pictureSize) {
    int width = mpFrame->width;
    int height = mpFrame->height;
    if (width <= 0 || height <= 0 || width > VCODEC_MAX_DIMENSION || height > VCODEC_MAX_DIMENSION)
        return false;
    int64_t size = CPictureLayout::PictureSize(mPixelCode, width, height);
    if (mPixelCode == CPictureLayout::kNone || size > outSize)
        return false;
    CPictureLayout layout(mPixelCode, width, height, mBottomUp, out);
    SourcePicture src;
    for (int p = 0; p < 4; ++p) {
        src.mpPlanes[p] = mpFrame->data[p];
        src.mStrides[p] = mpFrame->linesize[p];
    }
    src.mWidth = width;
    src.mHeight = height;
    src.mFormat = AVPixelFormat(mpFrame->format);
    src.mFullRange = mpFrame->color_range == AVCOL_RANGE_JPEG;
    if (!mConverter.Convert(src, layout, outSize - size))
        return false;
    *pictureSize = size;
    return true;
}

bool CAvDecoder::Decode(const uint8_t* in, int32_t length, int32_t* consumed, uint8_t* out, int64_t outSize,
                        int64_t* pictureSize) {
    *consumed = 0;
    if (length <= 0)
        return false;

    if (!mUsesParser) {
        *consumed = length;
        if (!Mpeg4SizeAllowed(in, length))
            return false;
        CopyPadded(in, length);
        return DecodePacket(mInput.data(), length) && WritePicture(out, outSize, pictureSize);
    }

    // The parser reads its input in windows copied here with padding, so a
    // caller that hands a long stream pays for the bytes used, not for all.
    // H.264 parameter sets the decoder would refuse with a line on the
    // process's log are made to be refused quietly (CH264ParamScreen): SPSs
    // in the copy, before the parser reads them (a change past a window's
    // end waits for the next window), PPSs in each unit as it is handed to
    // the decoder, judged by the SPSs the decoder was handed before.
    mPatches.clear();
    size_t patched = 0;
    int32_t pos = 0;
    while (pos < length) {
        int32_t window = std::min(length - pos, kParseWindow);
        if (mCodecId == AV_CODEC_ID_H264)
            mScreen.Screen(in, length, pos, pos + window, &mPatches);
        CopyPadded(in + pos, window);
        for (; patched < mPatches.size() && mPatches[patched].at < pos + window; ++patched)
            mInput[size_t(mPatches[patched].at - pos)] = mPatches[patched].value;
        int32_t offset = 0;
        while (offset < window) {
            uint8_t* unit = nullptr;
            int unitSize = 0;
            int used = av_parser_parse2(mpParser, mpParserContext, &unit, &unitSize, mInput.data() + offset,
                                        window - offset, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0 || (used == 0 && unitSize == 0)) {
                offset = window; // the parser takes no more: give up on this input
                pos = length;
                break;
            }
            offset += used;
            // A unit of a picture above the bound is not decoded: the
            // decoder would refuse it anyway, with a line on the host's
            // stderr for every frame. (The picture's shown size, as the
            // decoder counts it: 1080p is 1920 x 1080, not 1088 coded rows.)
            // The parser's size and the decoder's can differ on a hostile
            // stream: the unit's own SPSs are read too (CH264Sps).
            const bool tooLarge = !WithinBound(mpParser->width, mpParser->height) ||
                                  (mCodecId == AV_CODEC_ID_H264 && unitSize > 0 &&
                                   CH264Sps::LargestPixels(unit, unitSize, kRowAlign) > mpContext->max_pixels);
            if (unitSize == 0 || tooLarge)
                continue;
            if (mCodecId == AV_CODEC_ID_H264)
                mScreen.Follow(unit, unitSize);
            if (DecodePacket(unit, unitSize) && WritePicture(out, outSize, pictureSize)) {
                *consumed = pos + offset;
                return true;
            }
        }
        pos += window;
    }
    // Nothing came out: forget what the parser holds, the caller hands it again.
    ResetParser();
    return false;
}

bool CAvDecoder::Mpeg4SizeAllowed(const uint8_t* in, int32_t length) {
    // A frame without a VOL is decoded at the size the decoder holds. That is
    // the size of the last VOL whose frame's picture header decoded: the
    // decoder takes a VOL's size back when the header fails or says the
    // picture is not coded, and before any it has none (it would guess the
    // rest of the VOL from a picture and ask for a 0 x 0 frame, with a line on
    // the host's stderr; there would be no picture either way).
    int64_t width = mpContext->coded_width, height = mpContext->coded_height;
    const SMpeg4Vol vol = CMpeg4Vol::Find(in, length);
    if (vol.taken && vol.vop && vol.width > 0 && vol.height > 0) {
        width = vol.width;
        height = vol.height;
    }
    return width > 0 && height > 0 && WithinBound(width, height) && Mpeg4ScratchWithinBound(width);
}

bool CAvDecoder::Mpeg4ScratchWithinBound(int64_t width) const {
    const int64_t line = (width + 2 * kRowAlign - 1) / (2 * kRowAlign) * (2 * kRowAlign);
    return (line + 64) * kMpeg4ScratchRows <= mpContext->max_pixels;
}

bool CAvDecoder::WithinBound(int64_t width, int64_t height) const {
    return (width + kRowAlign - 1) / kRowAlign * kRowAlign * height <= mpContext->max_pixels;
}

void CAvDecoder::CopyPadded(const uint8_t* data, int32_t size) {
    if (mInput.size() < size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE)
        mInput.resize(size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE);
    memcpy(mInput.data(), data, size_t(size));
    memset(mInput.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
}

} // namespace ipcam
