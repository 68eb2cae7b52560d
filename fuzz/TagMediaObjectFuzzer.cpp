// Frame tagging on a stream of arbitrary frames: MPEG-4 start codes, QBox
// boxes and JPEG images with or without a device header, from every kind of
// device, one after another on one source, as a receiver tags them. The
// tagger writes into JPEG images (the checksum, and the size for some
// models), so it must stay inside the given length whatever the header
// claims; and it compares each frame with the last of its channel, so frames
// that differ in sequence number and size reach the frame-rate estimate from
// sequence gaps and the stop on a size change.
//
// Input: byte 0 picks the model. Then frames, each: a control byte (codec in
// bits 0-1, channel - 1 in bits 4-7; bits 2-3 pick the size the part's head
// gave: none, 704x576, 352x288 or 1x1), a 16-bit little-endian length (cut to
// what is left) and the frame's bytes.
#include "FuzzSupport.h"
#include "platform/CJpegHeader.h"
#include "platform/CMediaObj.h"
#include "source/CMediaSource.h"

#include <vector>

using fuzz::Check;

namespace {

class CTagSource : public CMediaSource {
public:
    void SetMachineCode(int code) { mMachineCode = code; }
};

constexpr int32_t kCodecs[] = {media_util::kVideoJpeg, media_util::kVideoMpeg4, media_util::kVideoH264QBox,
                               0};
constexpr int kModels[] = {0, 0x1200, 0x1404, 0x3004, 0x2000, 0x9001, 0x1412, 0x0010};
constexpr int32_t kSizes[][2] = {{0, 0}, {704, 576}, {352, 288}, {1, 1}};
// Frames per input at most: enough for every channel to change twice.
constexpr int kMaxFrames = 64;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const int model = kModels[data[0] % (sizeof kModels / sizeof kModels[0])];
    CTagSource source;
    source.SetMachineCode(model);
    size_t position = 1;
    size_t stops = 0;
    for (int frames = 0; frames < kMaxFrames && position + 3 <= size; ++frames) {
        const uint8_t control = data[position];
        const size_t length =
            std::min<size_t>(data[position + 1] | size_t(data[position + 2]) << 8, size - position - 3);
        position += 3;
        const int32_t codec = kCodecs[control & 3];
        const int channel = (control >> 4) + 1; // 1 to 16
        media_util::CMediaObj object;
        object.mVideoFormat = codec;
        object.mWidth = kSizes[(control >> 2) & 3][0];
        object.mHeight = kSizes[(control >> 2) & 3][1];
        // An exact-size copy, so that the sanitizer sees any access past it.
        std::vector<uint8_t> frame(data + position, data + position + length);
        position += length;
        if (frame.empty())
            continue;
        object.mpData = frame.data();
        object.mDataLength = static_cast<int32_t>(frame.size());
        const media_util::CMediaObj& last = source.GetLastMedia(channel);
        const int32_t lastFormat = last.mVideoFormat, lastWidth = last.mWidth, lastHeight = last.mHeight;
        source.TagMediaObject(&object, frame.data(), object.mDataLength, channel);
        Check(object.mChannel == channel);
        if (codec == media_util::kVideoJpeg && model != CMediaSource::kMachineCodePlainJpeg) {
            // Every JPEG frame gets a rate: the nominal one, or less after a
            // gap in the device's sequence numbers.
            Check(object.mFrameRate > 0 && object.mFrameRate <= CMediaSource::kDefaultJpegFrameRate);
            Check(object.mFrameKind == media_util::kFrameKey);
            const media_util::CJpegHeader header(frame.data(), frame.size(), 0);
            if (header.HasHeader())
                Check(frame[media_util::CJpegHeader::kOffsetChecksum] == 0 &&
                      frame[media_util::CJpegHeader::kOffsetChecksum + 1] == 0);
            // The channel's last object describes this frame now; a frame of
            // another size than the last described one stops the source.
            Check(last.mVideoFormat == object.mVideoFormat && last.mWidth == object.mWidth &&
                  last.mHeight == object.mHeight);
            if (lastFormat == object.mVideoFormat && (lastWidth != 0 || lastHeight != 0) &&
                (lastWidth != object.mWidth || lastHeight != object.mHeight))
                ++stops;
        }
        object.mpData = nullptr; // not the object's to free
        object.mDataLength = 0;
    }
    std::vector<uint32_t> events;
    source.TakeEvents(events);
    Check(events.size() <= CMediaSource::kMaxEvents);
    size_t stopped = 0;
    for (uint32_t e : events)
        stopped += (e & 0xFFFFFF) == (uint32_t(CMediaSource::kEventStopped) & 0xFFFFFF);
    Check(stopped == std::min(stops, CMediaSource::kMaxEvents) || events.size() == CMediaSource::kMaxEvents);
    return 0;
}
