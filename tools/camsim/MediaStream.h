// One live multipart stream on one connection: pictures drawn, encoded and
// sent at the stream's frame rate, audio blocks interleaved by their time,
// every part with the headers a device sends, and the media fault switches
// applied as the parts go out.
//
// Headers of a video part: Content-Type, Content-Length, X-Framerate (frames
// per second), X-Resolution ("W*H"), X-Tag (the frame's sequence number),
// X-Alarm (alarm bits, 0 when quiet), X-Bitrate (kbit/s of the stream),
// X-Time ("YYYY-MM-DD hh:mm:ss.mmm", local time), X-Covert (0), and X-CH when
// the device streams several channels on one connection ("A"/"B" for the
// pairs of a dual-picture recorder, else the channel number). An audio part
// has Content-Type "audio/wav", X-Codec ("U-LAW", "AAC", "G726"), X-Time and
// X-CH as its video.
//
// Runs on the connection's thread; returns when the client goes, a write
// fails, a fault ends the stream or the server stops.
#pragma once

#include "ClipCache.h"
#include "EncoderAudio.h"
#include "EncoderJpeg.h"
#include "EncoderVideo.h"
#include "Faults.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

class DeviceState;
class HttpConnection;

// One picture source of a stream: a channel, or a pair of channels in one
// picture on dual-picture recorders.
struct StreamSource {
    int channel = 1; // the channel drawn (the odd one of a dual pair)
    bool dual = false;
    std::string xch; // X-CH value; empty = no X-CH header
    bool audio = false;
};

struct StreamPlan {
    VideoCodec codec = VideoCodec::Jpeg;
    int width = 320;
    int height = 240;
    int fps = 10;
    bool keyFramesOnly = false;
    AudioCodec audio = AudioCodec::None;
    uint32_t machineCode = 0;
    bool deviceHeader = true;      // JPEG: put the device header in
    bool headerCarriesSize = true; // ... with the size at 36/38
    uint8_t channelMask = 0;       // JPEG header byte 40
    std::vector<StreamSource> sources;
    // Where the stream counts it (the request path, bounded by the routes).
    std::string path;
    // Replays pre-encoded pictures when set and on (--preencode); encodes
    // live otherwise, or when the cache has no clip for the stream.
    ClipCache* clips = nullptr;
    // The device whose PTZ view and privacy masks each picture shows; null:
    // the view at home, no masks.
    const DeviceState* device = nullptr;
    bool still = false; // --still
};

// Local time with milliseconds, as the devices stamp their frames.
struct WallClock {
    uint16_t year, month, day, hour, minute, second, milliseconds;
    static WallClock Now();
    std::string Picture() const; // "hh:mm:ss.mmm"
    std::string Header() const;  // "YYYY-MM-DD hh:mm:ss.mmm"
    void Fill(DeviceHeader* header) const;
};

class MediaStream {
public:
    // Frames from one key frame to the next, in seconds of stream.
    static constexpr int kKeyIntervalSeconds = 2;
    // The frame numbers step back by this much under the jumpback fault.
    static constexpr uint32_t kJumpBackFrames = 5;
    // A stream that falls this far behind its schedule starts it afresh
    // instead of sending a burst.
    static constexpr int kMaxLagMs = 1000;

    MediaStream(const StreamPlan& plan, const FaultSettings& faults);
    void Run(HttpConnection& out);

    // The clip a stream of this plan replays for `source`.
    static ClipKey KeyFor(const StreamPlan& plan, const StreamSource& source);
    // Writes fresh CTS values into every QBox of an H.264 frame.
    static void Restamp(std::string* frame, uint32_t cts);

private:
    struct Channel {
        StreamSource source;
        uint32_t sequence = 0;
        std::unique_ptr<EncoderVideo> video;
        std::unique_ptr<EncoderAudio> audio;
        std::shared_ptr<const Clip> clip; // replayed instead of `video` when set
        bool replaying = false;           // the clip is being replayed (the scene is plain)
        size_t next = 0;                  // the clip's next frame
        uint32_t coded = 0;               // H.264 frames sent, for their CTS
    };
    bool SendReplayed(class StreamWriter& writer, Channel& channel, const WallClock& clock, uint32_t alarm);
    bool SendPart(class StreamWriter& writer, const Channel& channel, const std::string& data, int width,
                  int height, uint32_t alarm, const WallClock& clock);
    bool OpenEncoders();
    // Switches a channel between its clip and the live encoder, each time at
    // a key frame with its configuration: the clip from its start, the
    // encoder made afresh. False when no encoder could be made.
    bool Replay(Channel& channel, bool replay);
    bool SendVideo(class StreamWriter& writer, Channel& channel, const WallClock& clock);
    // Applies the part-counting faults before a part; false ends the stream.
    bool BeforePart(class StreamWriter& writer, HttpConnection& out);

    StreamPlan mPlan;
    FaultSettings mFaults;
    std::vector<Channel> mChannels;
    EncoderJpeg mJpeg;
    uint64_t mParts = 0;
    uint64_t mBytes = 0;
    bool mResized = false;
    bool mJumped = false;
    std::chrono::steady_clock::time_point mStart;
};

} // namespace camsim
