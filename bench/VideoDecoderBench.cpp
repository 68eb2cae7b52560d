// What the decoded path costs per 1080p frame.
//
// Decode: a camera's JPEG and H.264 (in QBox boxes) through CVideoDecoder to
// the display's 16-bit pictures and to BGRA, beside the same decode straight
// into one reused buffer with vcodec (the wrapper's own cost is the difference:
// a picture buffer per frame, the header, the QBox extraction and the move of
// the unconsumed stream).
//
// Fan-out: a dispatcher gives each of its destinations its own copy of every
// frame. CloneMeWithNewContent of a 1080p JPEG frame to 4 destinations
// beside 4 plain malloc + memcpy (+ free when the consumer is done) of the
// same bytes, and beside 4 bare memcpy into buffers already there (the
// floor).
//
// Inputs are made with the ffmpeg tool into $VIDEO_DECODER_BENCH_DIR, or a
// temporary folder when it is unset. Google Benchmark's "CPU" column is this
// thread's CPU time per frame; compare ratios from one run (see
// docs/decoding.md for the command and figures).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "ipcamview/vcodec.h"
#include "platform/CMediaObj.h"
#include "render/CVideoDecoder.h"

using media_util::CMediaObj;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 50; // two groups of pictures: the stream loops at a key frame
constexpr int kFanOut = 4;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string InputDir() {
    static std::string dir = [] {
        const char* given = std::getenv("VIDEO_DECODER_BENCH_DIR");
        if (given && *given)
            return std::string(given);
        char pattern[] = "/tmp/video-decoder-bench-XXXXXX";
        if (!mkdtemp(pattern))
            throw std::runtime_error("mkdtemp");
        std::string d = pattern;
        std::string ffmpeg =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v " +
            std::to_string(kFrames) + " ";
        if (std::system((ffmpeg + "-c:v mjpeg -q:v 3 -f mjpeg " + d + "/in.mjpeg").c_str()) != 0 ||
            std::system((ffmpeg +
                         "-c:v libx264 -profile:v baseline -preset veryfast -g 25 -bf 0 "
                         "-x264-params aud=1:scenecut=0 -f h264 " +
                         d + "/in.h264")
                            .c_str()) != 0)
            throw std::runtime_error("ffmpeg could not make the inputs");
        return d;
    }();
    return dir;
}

// JPEG images of a stream of back-to-back images.
std::vector<Bytes> JpegFrames() {
    Bytes all = ReadFile(InputDir() + "/in.mjpeg");
    std::vector<Bytes> frames;
    size_t start = 0;
    for (size_t i = 2; i + 3 <= all.size(); ++i) {
        if (all[i] == 0xFF && all[i + 1] == 0xD8 && all[i + 2] == 0xFF && all[i - 2] == 0xFF &&
            all[i - 1] == 0xD9) {
            frames.emplace_back(all.begin() + long(start), all.begin() + long(i));
            start = i;
        }
    }
    frames.emplace_back(all.begin() + long(start), all.end());
    return frames;
}

// One QBox object per access unit (cut at the delimiters), as a camera sends
// them, with its frame kind.
struct QBoxFrame {
    Bytes mData;
    int32_t mKind;
};

Bytes Box(uint32_t flags, const uint8_t* payload, size_t length) {
    const uint32_t size = uint32_t(CMediaObj::kQBoxHeaderSize + length);
    Bytes box = {
        uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size), 'q', 'b', 'o', 'x'};
    box.resize(CMediaObj::kQBoxHeaderSize);
    box[13] = uint8_t(CMediaObj::kQBoxStreamH264);
    box[19] = uint8_t(flags);
    box.insert(box.end(), payload, payload + length);
    return box;
}

std::vector<QBoxFrame> H264Frames() {
    Bytes stream = ReadFile(InputDir() + "/in.h264");
    std::vector<size_t> cuts;
    for (size_t i = 0; i + 4 < stream.size(); ++i)
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && (stream[i + 3] & 0x1F) == 9)
            cuts.push_back(i > 0 && stream[i - 1] == 0 ? i - 1 : i);
    cuts.push_back(stream.size());
    std::vector<QBoxFrame> frames;
    for (size_t k = 0; k + 1 < cuts.size(); ++k) {
        const uint8_t* unit = stream.data() + cuts[k];
        const size_t length = cuts[k + 1] - cuts[k];
        bool key = false;
        for (size_t i = 0; i + 3 < length; ++i)
            if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1 && (unit[i + 3] & 0x1F) == 5)
                key = true;
        const uint32_t flags =
            key ? CMediaObj::kQBoxFlagCtsValid | CMediaObj::kQBoxFlagSync : CMediaObj::kQBoxFlagCtsValid;
        frames.push_back(
            {Box(flags, unit, length), key ? media_util::kFrameKey : media_util::kFramePredicted});
    }
    return frames;
}

std::vector<CMediaObj*> Objects(int32_t format) {
    std::vector<CMediaObj*> objects;
    auto add = [&](const Bytes& data, int32_t kind) {
        auto* object = new CMediaObj;
        object->mVideoFormat = format;
        object->mWidth = kWidth;
        object->mHeight = kHeight;
        object->mFrameKind = kind;
        object->CopyData(data.data(), int32_t(data.size()));
        objects.push_back(object);
    };
    if (format == media_util::kVideoJpeg)
        for (const Bytes& frame : JpegFrames())
            add(frame, media_util::kFrameKey);
    else
        for (const QBoxFrame& frame : H264Frames())
            add(frame.mData, frame.mKind);
    return objects;
}

// Through the wrapper, as the decoded source's dispatcher calls it: decode,
// take the picture, and (the consumer's part) drop it.
void BM_Decoder1080p(benchmark::State& state) {
    const int32_t format = int32_t(state.range(0));
    const int32_t pixelCode = int32_t(state.range(1));
    std::vector<CMediaObj*> objects = Objects(format);
    CVideoDecoder decoder;
    CMediaObj input;
    input.mVideoFormat = format;
    input.mWidth = kWidth;
    input.mHeight = -kHeight;
    CMediaObj output;
    output.mVideoFormat = pixelCode;
    decoder.Setup(&input, &output);
    for (CMediaObj* object : objects)
        object->mHeight = -kHeight;
    size_t i = 0;
    // The first H.264 unit gives no picture (the codec waits for the next one).
    CMediaObj* picture = nullptr;
    decoder.DecodeAndTake(objects[i++], &picture);
    delete picture;
    for (auto _ : state) {
        if (!decoder.DecodeAndTake(objects[i++ % objects.size()], &picture)) {
            state.SkipWithError("a frame gave no picture");
            break;
        }
        benchmark::DoNotOptimize(picture->mpData);
        delete picture;
    }
    for (CMediaObj* object : objects)
        delete object;
    state.SetItemsProcessed(state.iterations());
}

// The same decode with vcodec alone, into one buffer reused every frame.
void BM_Vcodec1080p(benchmark::State& state) {
    const int32_t format = int32_t(state.range(0));
    const int32_t pixelCode = int32_t(state.range(1));
    Bytes stream;
    std::vector<Bytes> frames;
    if (format == media_util::kVideoJpeg) {
        frames = JpegFrames();
    } else {
        stream = ReadFile(InputDir() + "/in.h264");
        stream.insert(stream.end(), {0, 0, 0, 1, 9, 0xF0});
    }
    const int64_t size = CVideoDecoder::PictureSize(pixelCode, kWidth, kHeight);
    Bytes out(size_t(size) + CVideoDecoder::kPictureSlack);
    int32_t handle = CreateCodec(format, pixelCode, kWidth, -kHeight, 30);
    size_t i = 0;
    size_t pos = 0;
    for (auto _ : state) {
        int32_t outSize = int32_t(out.size());
        int32_t length = 0;
        int32_t ok = 0;
        if (format == media_util::kVideoJpeg) {
            const Bytes& frame = frames[i++ % frames.size()];
            length = int32_t(frame.size());
            ok = Decode(handle, frame.data(), &length, out.data(), &outSize);
        } else {
            length = int32_t(stream.size() - pos);
            ok = Decode(handle, stream.data() + pos, &length, out.data(), &outSize);
            pos += size_t(length);
            if (!ok) {
                // End of the stream: the first key frame again, on the same codec.
                pos = 0;
                length = int32_t(stream.size());
                outSize = int32_t(out.size());
                ok = Decode(handle, stream.data(), &length, out.data(), &outSize);
                pos = size_t(length);
            }
        }
        if (!ok) {
            state.SkipWithError("a frame gave no picture");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    ReleaseCodec(handle);
    state.SetItemsProcessed(state.iterations());
}

void DecodeArgs(benchmark::internal::Benchmark* b) {
    for (int format : {media_util::kVideoJpeg, media_util::kVideoH264QBox})
        for (int code : {media_util::kPixelRgb16, VCODEC_PIXEL_BGRA32})
            b->Args({format, code});
    b->ArgNames({"format", "pixel"})->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_Decoder1080p)->Apply(DecodeArgs);
BENCHMARK(BM_Vcodec1080p)->Apply(DecodeArgs);

// --- Fan-out of one compressed frame ---

const CMediaObj& JpegFrame() {
    static CMediaObj* frame = [] {
        auto* f = new CMediaObj;
        Bytes jpeg = JpegFrames().front();
        f->mVideoFormat = media_util::kVideoJpeg;
        f->mWidth = kWidth;
        f->mHeight = kHeight;
        f->mFrameKind = media_util::kFrameKey;
        f->mTagList = {1};
        f->CopyData(jpeg.data(), int32_t(jpeg.size()));
        return f;
    }();
    return *frame;
}

// state.range(0): frames whose copies are alive at once. 1: each consumer
// drops its copy before the next frame; 30: the channels' queues hold about
// a second of frames, so the copies leave the cache and the allocator holds
// many buffers.
void BM_FanOutClone(benchmark::State& state) {
    const CMediaObj& frame = JpegFrame();
    std::vector<CMediaObj*> ring(size_t(state.range(0)) * kFanOut, nullptr);
    size_t slot = 0;
    for (auto _ : state) {
        for (int i = 0; i < kFanOut; ++i, slot = (slot + 1) % ring.size()) {
            delete ring[slot];
            ring[slot] = frame.CloneMeWithNewContent();
            benchmark::DoNotOptimize(ring[slot]->mpData);
        }
    }
    for (CMediaObj* clone : ring)
        delete clone;
    state.SetBytesProcessed(int64_t(state.iterations()) * kFanOut * frame.mDataLength);
    state.counters["frame_bytes"] = frame.mDataLength;
}

void BM_FanOutMallocMemcpy(benchmark::State& state) {
    const CMediaObj& frame = JpegFrame();
    const size_t length = size_t(frame.mDataLength);
    std::vector<void*> ring(size_t(state.range(0)) * kFanOut, nullptr);
    size_t slot = 0;
    for (auto _ : state) {
        for (int i = 0; i < kFanOut; ++i, slot = (slot + 1) % ring.size()) {
            free(ring[slot]);
            ring[slot] = malloc(length);
            memcpy(ring[slot], frame.mpData, length);
            benchmark::DoNotOptimize(ring[slot]);
        }
    }
    for (void* copy : ring)
        free(copy);
    state.SetBytesProcessed(int64_t(state.iterations()) * kFanOut * int64_t(length));
}

// The floor: the bytes copied into page-aligned buffers that stay.
void BM_FanOutMemcpyOnly(benchmark::State& state) {
    const CMediaObj& frame = JpegFrame();
    const size_t length = size_t(frame.mDataLength);
    std::vector<void*> ring(size_t(state.range(0)) * kFanOut, nullptr);
    for (void*& copy : ring)
        if (posix_memalign(&copy, 4096, length) != 0)
            state.SkipWithError("out of memory");
    size_t slot = 0;
    for (auto _ : state) {
        for (int i = 0; i < kFanOut; ++i, slot = (slot + 1) % ring.size()) {
            memcpy(ring[slot], frame.mpData, length);
            benchmark::DoNotOptimize(ring[slot]);
        }
        benchmark::ClobberMemory();
    }
    for (void* copy : ring)
        free(copy);
    state.SetBytesProcessed(int64_t(state.iterations()) * kFanOut * int64_t(length));
}

void FanOutArgs(benchmark::internal::Benchmark* b) {
    b->ArgName("frames_alive")->Arg(1)->Arg(30)->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_FanOutClone)->Apply(FanOutArgs);
BENCHMARK(BM_FanOutMallocMemcpy)->Apply(FanOutArgs);
BENCHMARK(BM_FanOutMemcpyOnly)->Apply(FanOutArgs);

} // namespace

BENCHMARK_MAIN();
