// Pictures encoded once and replayed (--preencode N): for each channel and
// stream kind, N pictures are drawn and encoded when first asked for (camsim
// asks for those of a plain open before it listens) and then sent in a loop
// by every stream and poll that wants them, so that a 1080p stream costs
// camsim a copy and a write per frame instead of a draw and an encode. What
// makes a frame fresh is written per send by the stream: the part headers,
// the JPEG device header (the first EncoderJpeg::kHeaderEnd bytes of each
// stored JPEG, a placeholder here) and the QBox CTS fields.
//
// A clip of H.264 or MPEG-4 begins with a key frame that carries the
// configuration (SPS and PPS, or the VOL), so a decoder that joins at any
// turn of the loop can start there; inside the clip key frames follow the
// stream's key interval. The pictures drawn into a clip show the frame
// number and time of their encoding, which repeat with the loop. Clips are
// drawn with the view at home and no privacy mask: while the PTZ view is
// away or a mask is on, streams draw and encode live.
//
// Threads: Get and Prepare from any thread. Different clips are encoded in
// parallel; callers asking for a clip being encoded wait for it.
#pragma once

#include "EncoderVideo.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace camsim {

// What tells one clip from another. For JPEG, rate and key interval make no
// difference and are 0.
struct ClipKey {
    VideoCodec codec = VideoCodec::Jpeg;
    int width = 0; // as asked; the clip says the size its pictures have
    int height = 0;
    int fps = 0;
    int keyInterval = 0;
    int channel = 1;
    bool dual = false;         // a dual-picture device's pair (channel = the odd one)
    bool deviceHeader = false; // JPEG: the device header's bytes lead each picture
    bool still = false;        // --still: the pictures are drawn without motion and text

    bool operator<(const ClipKey& o) const {
        return std::tie(codec, width, height, fps, keyInterval, channel, dual, deviceHeader, still) <
               std::tie(o.codec, o.width, o.height, o.fps, o.keyInterval, o.channel, o.dual, o.deviceHeader,
                        o.still);
    }
};

struct Clip {
    int width = 0; // of the pictures, as Picture made them (even, within its bounds)
    int height = 0;
    std::vector<std::string> frames; // in order; frames[0] a key frame with its configuration
    size_t bytes = 0;
};

class ClipCache {
public:
    // Most pictures a clip may hold: 10 s at 30 fps.
    static constexpr uint32_t kMaxFrames = 300;
    // All clips together stay below this; a clip that would pass it is not
    // kept, and the streams that wanted it encode live.
    static constexpr size_t kMaxBytes = size_t(1) << 30;

    // `frames` pictures per clip; 0 turns replay off (Get gives null).
    explicit ClipCache(uint32_t frames) : mFrames(frames) {}
    ClipCache(const ClipCache&) = delete;
    ClipCache& operator=(const ClipCache&) = delete;

    uint32_t Frames() const { return mFrames; }
    // The clip for `key`, encoded on first use. Null when replay is off, the
    // encoder failed or the clip would not fit in kMaxBytes.
    std::shared_ptr<const Clip> Get(const ClipKey& key);
    // Encodes these clips now, on as many threads as there are processors.
    void Prepare(const std::vector<ClipKey>& keys);

    // Encodes one clip of `frames` pictures (for Get, and for tests of the
    // framing). Null when the encoder fails or its first frame is no key frame.
    static std::shared_ptr<const Clip> Encode(const ClipKey& key, uint32_t frames);

private:
    struct Entry {
        std::once_flag once;
        std::shared_ptr<const Clip> clip; // set once, inside `once`
    };

    const uint32_t mFrames;
    std::mutex mLock;
    std::map<ClipKey, std::shared_ptr<Entry>> mEntries; // guarded by mLock
    size_t mBytes = 0;                                  // guarded by mLock
};

} // namespace camsim
