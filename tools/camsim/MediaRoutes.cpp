#include "MediaRoutes.h"

#include "Device.h"
#include "EncoderJpeg.h"
#include "Faults.h"
#include "HttpConnection.h"
#include "HttpRequest.h"
#include "HttpServer.h"
#include "MediaStream.h"
#include "Picture.h"
#include "Router.h"
#include "StreamWriter.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace camsim {

namespace {

// A recorder streams all its channels on one connection when asked for
// several; their frame rates are shared out so that one connection costs at
// most this many encoded pictures a second.
constexpr int kMaxPicturesPerSecond = 60;
// The header's channel mask has room for channels 1 to 8.
constexpr int kHeaderMaskChannels = 8;

struct MediaContext {
    DeviceState* device = nullptr;
    ClipCache* clips = nullptr; // null: everything encoded live
    // Sequence numbers of the polled pictures, per channel (index 0 unused).
    std::array<std::atomic<uint32_t>, kMaxChannels + 1> sequences{};
    // Turn of the next channel when one request names several.
    std::atomic<uint32_t> rotation{0};
};

// Set once by RegisterMediaRoutes before the server runs, read by the
// connection threads afterwards.
MediaContext* gContext = nullptr;

VideoCodec ToVideo(uint32_t code) {
    if (code == kCodecMpeg4)
        return VideoCodec::Mpeg4;
    if (code == kCodecH264)
        return VideoCodec::H264;
    return VideoCodec::Jpeg;
}

AudioCodec ToAudio(uint32_t code) {
    switch (code) {
    case kAudioUlaw:
        return AudioCodec::Ulaw;
    case kAudioAac:
        return AudioCodec::Aac;
    case kAudioG726:
        return AudioCodec::G726;
    default:
        return AudioCodec::None;
    }
}

int Fps(uint32_t frameRate) {
    return std::clamp(static_cast<int>(frameRate / 1000), 1, 60);
}

// The channels a mask text names: the last character is channel 1, the one
// before it channel 2, and so on ("100" = channel 3). A text naming none
// ("0", empty) means every channel of the device.
std::vector<int> MaskChannels(const std::string& text, int maxChannel) {
    std::vector<int> channels;
    const int length = static_cast<int>(text.size());
    for (int n = 1; n <= maxChannel && n <= length; ++n)
        if (text[length - n] == '1')
            channels.push_back(n);
    if (channels.empty())
        for (int n = 1; n <= maxChannel; ++n)
            channels.push_back(n);
    return channels;
}

// Channels 1..8 that have video, as the recorders' header byte 40 says.
uint8_t VideoMask(const DeviceConfig& config, const FaultSettings& faults) {
    const int channels = std::min<int>(static_cast<int>(config.maxChannel), kHeaderMaskChannels);
    uint32_t mask = (1u << channels) - 1;
    if (faults.videoMask != 0)
        mask &= faults.videoMask;
    return static_cast<uint8_t>(mask);
}

bool HasVideo(int channel, const DeviceConfig& config, const FaultSettings& faults) {
    if (faults.videoMask == 0)
        return true;
    if (channel > kHeaderMaskChannels)
        return true;
    return (VideoMask(config, faults) >> (channel - 1)) & 1;
}

StreamPlan BasePlan(const DeviceConfig& config, const VideoSettings& video) {
    StreamPlan plan;
    plan.codec = ToVideo(video.codec);
    plan.width = static_cast<int>(video.width);
    plan.height = static_cast<int>(video.height);
    plan.fps = Fps(video.frameRate);
    plan.machineCode = config.machineCode;
    plan.deviceHeader = config.jpegDeviceHeader;
    plan.headerCarriesSize = config.headerCarriesSize;
    plan.still = config.still;
    return plan;
}

void Run(StreamPlan plan, const HttpRequest& request, HttpConnection& out) {
    plan.path = request.mPath;
    plan.clips = gContext->clips;
    plan.device = gContext->device;
    MediaStream stream(plan, out.ActiveFaults());
    stream.Run(out);
}

bool NoVideo(const DeviceConfig& config, HttpConnection& out) {
    if (config.dialect != Dialect::NoVideo && config.videoCodec != kCodecNone)
        return false;
    out.SendText(404, "Not Found", "text/plain", "404 Not Found\r\n");
    return true;
}

// The camera families' stream CGIs: the codec is the one the path names, the
// size and rate what the device's parameters say now.
Handler CameraStream(VideoCodec codec, bool cif) {
    return [codec, cif](const HttpRequest& request, HttpConnection& out) {
        DeviceState& device = *gContext->device;
        const DeviceConfig& config = device.Config();
        if (NoVideo(config, out))
            return;
        const uint32_t channel = static_cast<uint32_t>(std::max<uint64_t>(request.ParamNumber("ch", 1), 1));
        VideoSettings video = device.Video(channel);
        StreamPlan plan = BasePlan(config, video);
        plan.codec = codec;
        if (cif) {
            plan.width = static_cast<int>(kCifWidth);
            plan.height = static_cast<int>(kCifHeight);
        }
        plan.keyFramesOnly = request.Param("ifrmonly") == "1";
        if (request.Param("audiostream") == "1")
            plan.audio = ToAudio(video.audioCodec);
        StreamSource source;
        source.channel = static_cast<int>(std::min<uint32_t>(channel, kMaxChannels));
        source.audio = plan.audio != AudioCodec::None;
        plan.sources.push_back(source);
        Run(plan, request, out);
    };
}

void ProfileStream(const HttpRequest& request, HttpConnection& out) {
    DeviceState& device = *gContext->device;
    const DeviceConfig& config = device.Config();
    if (NoVideo(config, out))
        return;
    const uint64_t profile = request.ParamNumber("nowprofileid", 0);
    VideoSettings video = device.ProfileVideo(static_cast<uint32_t>(std::min<uint64_t>(profile, 1000)));
    if (profile < 1 || video.codec == kCodecNone || video.width == 0 || video.height == 0) {
        StreamWriter(out).Refuse();
        return;
    }
    StreamPlan plan = BasePlan(config, video);
    if (request.Param("audiostream") == "1")
        plan.audio = ToAudio(config.audioCodec);
    StreamSource source;
    source.audio = plan.audio != AudioCodec::None;
    plan.sources.push_back(source);
    plan.keyFramesOnly = request.Param("ifrmonly") == "1";
    Run(plan, request, out);
}

// A recorder's stream of the channels in `maskText`, each part with X-CH.
void RecorderStream(const HttpRequest& request, HttpConnection& out, const std::string& maskText) {
    DeviceState& device = *gContext->device;
    const DeviceConfig& config = device.Config();
    const int maxChannel = static_cast<int>(std::min<uint32_t>(config.maxChannel, kMaxChannels));
    std::vector<int> channels = MaskChannels(maskText, maxChannel);
    const bool audioAsked = request.HasParam("audio");
    std::vector<int> audioChannels = MaskChannels(request.Param("audio"), maxChannel);
    auto wantsAudio = [&](int channel) {
        return audioAsked &&
               std::find(audioChannels.begin(), audioChannels.end(), channel) != audioChannels.end();
    };
    VideoSettings video = device.Video(static_cast<uint32_t>(channels.front()));
    StreamPlan plan = BasePlan(config, video);
    plan.codec = ToVideo(config.videoCodec);
    plan.keyFramesOnly = request.Param("ifrmonly") == "1";
    if (video.audio)
        plan.audio = ToAudio(config.audioCodec);
    plan.channelMask = VideoMask(config, out.ActiveFaults());
    if (config.dualPicture) {
        // Two channels a picture: pair A is channels 1 and 2, pair B 3 and 4.
        bool pairA = false;
        bool pairB = false;
        for (int c : channels)
            (c <= 2 ? pairA : pairB) = true;
        if (channels.size() == static_cast<size_t>(maxChannel) && maskText.find('1') == std::string::npos)
            pairB = false; // "0": the first pair
        for (int pair = 0; pair < 2; ++pair) {
            if (!(pair == 0 ? pairA : pairB))
                continue;
            StreamSource source;
            source.channel = 1 + 2 * pair;
            source.dual = true;
            source.xch = pair == 0 ? "A" : "B";
            source.audio = wantsAudio(source.channel) || wantsAudio(source.channel + 1);
            plan.sources.push_back(source);
        }
    } else {
        for (int c : channels) {
            StreamSource source;
            source.channel = c;
            source.xch = std::to_string(c);
            source.audio = wantsAudio(c);
            plan.sources.push_back(source);
        }
    }
    if (std::none_of(plan.sources.begin(), plan.sources.end(), [](const StreamSource& s) { return s.audio; }))
        plan.audio = AudioCodec::None;
    // --fps fixes every channel's rate, however many share the connection.
    if (!config.forcedFrameRate)
        plan.fps =
            std::max(1, std::min(plan.fps, kMaxPicturesPerSecond / static_cast<int>(plan.sources.size())));
    Run(plan, request, out);
}

// The text after the ':' of a playback selector ("S:1001").
std::string PlaybackMask(const std::string& selector) {
    size_t colon = selector.rfind(':');
    return colon == std::string::npos ? selector : selector.substr(colon + 1);
}

void AvcStream(const HttpRequest& request, HttpConnection& out) {
    const DeviceConfig& config = gContext->device->Config();
    if (config.dialect == Dialect::MultiChannel) {
        RecorderStream(request, out, request.Param("op.liveimage", "0"));
        return;
    }
    CameraStream(VideoCodec::H264, false)(request, out);
}

void AvcPlayback(const HttpRequest& request, HttpConnection& out) {
    const DeviceConfig& config = gContext->device->Config();
    if (config.dialect != Dialect::MultiChannel) {
        out.SendText(404, "Not Found", "text/plain", "404 Not Found\r\n");
        return;
    }
    RecorderStream(request, out, PlaybackMask(request.Param("op.playimage")));
}

void VendorStream(const HttpRequest& request, HttpConnection& out) {
    DeviceState& device = *gContext->device;
    const DeviceConfig& config = device.Config();
    if (NoVideo(config, out))
        return;
    StreamPlan plan = BasePlan(config, device.Video(1));
    plan.codec = VideoCodec::Jpeg;
    const std::string resolution = request.Param("resolution");
    const size_t x = resolution.find('x');
    // A size fixed by --size is the camera's only one, whatever the path asks.
    if (x != std::string::npos && !config.fixedSize) {
        const int width = std::atoi(resolution.substr(0, x).c_str());
        const int height = std::atoi(resolution.substr(x + 1).c_str());
        if (width > 0 && height > 0) {
            plan.width = width;
            plan.height = height;
        }
    }
    plan.sources.push_back(StreamSource());
    Run(plan, request, out);
}

// The clip a polled channel's pictures come from.
ClipKey PollKey(const DeviceConfig& config, const VideoSettings& video, int channel, bool dual) {
    ClipKey key;
    key.codec = VideoCodec::Jpeg;
    key.width = static_cast<int>(video.width);
    key.height = static_cast<int>(video.height);
    key.channel = channel;
    key.dual = dual;
    key.deviceHeader = config.jpegDeviceHeader;
    key.still = config.still;
    return key;
}

// One JPEG picture of `channel` with the device header, as the polling
// families serve it, counted as a poll of `path`.
void Picture1(HttpConnection& out, const std::string& path, int channel, bool dual) {
    DeviceState& device = *gContext->device;
    const DeviceConfig& config = device.Config();
    const FaultSettings& faults = out.ActiveFaults();
    if (faults.refuse) {
        StreamWriter(out).Refuse();
        return;
    }
    if (!HasVideo(channel, config, faults)) {
        // A channel without a camera: a few bytes, which a viewer does not
        // take for a picture.
        out.SendText(200, "OK", "text/plain", "no video\r\n");
        return;
    }
    const StreamCounts::Token counted = out.Server().Streams().Open(StreamCounts::Kind::Poll, path);
    VideoSettings video = device.Video(static_cast<uint32_t>(channel));
    const uint32_t sequence = ++gContext->sequences[static_cast<size_t>(channel)];
    const WallClock clock = WallClock::Now();
    DeviceHeader header;
    header.machineCode = config.machineCode;
    clock.Fill(&header);
    header.channel = channel;
    header.sequence = sequence;
    if (faults.alarmEveryFrames > 0 && sequence % faults.alarmEveryFrames == 0)
        header.alarm = static_cast<uint8_t>(faults.alarmBits);
    uint32_t width = 0;
    uint32_t height = 0;
    device.HeaderSize(static_cast<uint32_t>(channel), &width, &height);
    header.channelMask = VideoMask(config, faults);
    std::string image;
    const Scene scene = device.SceneAt(std::chrono::steady_clock::now());
    // Clips hold the plain scene: a moved view or a mask is drawn live.
    const std::shared_ptr<const Clip> clip = gContext->clips && scene.Plain()
                                                 ? gContext->clips->Get(PollKey(config, video, channel, dual))
                                                 : nullptr;
    if (clip) {
        // A channel's polls walk its clip as its stream would.
        image = clip->frames[(sequence - 1) % clip->frames.size()];
        header.width = static_cast<uint16_t>(width ? clip->width : 0);
        header.height = static_cast<uint16_t>(height ? clip->height : 0);
        if (config.jpegDeviceHeader)
            image.replace(0, EncoderJpeg::kHeaderEnd, EncoderJpeg::HeaderBytes(header));
    } else {
        Picture picture(static_cast<int>(video.width), static_cast<int>(video.height));
        if (dual)
            picture.DrawDual(channel, sequence, clock.Picture(), scene);
        else
            picture.Draw(channel, sequence, clock.Picture(), scene);
        header.width = static_cast<uint16_t>(width ? picture.Width() : 0);
        header.height = static_cast<uint16_t>(height ? picture.Height() : 0);
        EncoderJpeg encoder;
        if (!encoder.Encode(picture, config.jpegDeviceHeader ? &header : nullptr, &image)) {
            out.SendText(500, "Internal Server Error", "text/plain", "encoder failed\r\n");
            return;
        }
    }
    out.SendText(200, "OK", "image/jpeg", image);
}

// "/dms01" .. "/dms16": the video-standard servers' picture of one channel.
// A viewer puts the two digits between the stream path and a suffix of the
// host's ("/dms02skip_pn"), so whatever follows the digits is not looked at.
void ServerPicture(const HttpRequest& request, HttpConnection& out) {
    const DeviceConfig& config = gContext->device->Config();
    const std::string rest = request.mPath.substr(4);
    const size_t digits = std::min(rest.find_first_not_of("0123456789"), rest.size());
    const int channel = rest.empty()                 ? 1
                        : digits >= 1 && digits <= 2 ? std::atoi(rest.substr(0, digits).c_str())
                                                     : 0;
    if (config.dialect != Dialect::VideoStandard || channel < 1 ||
        channel > static_cast<int>(std::min<uint32_t>(config.maxChannel, kMaxChannels))) {
        out.SendText(404, "Not Found", "text/plain", "404 Not Found\r\n");
        return;
    }
    char path[8];
    std::snprintf(path, sizeof(path), "/dms%02d", channel);
    Picture1(out, path, channel, false);
}

} // namespace

std::vector<ClipKey> PlainOpenClips(const DeviceState& device) {
    const DeviceConfig& config = device.Config();
    std::vector<ClipKey> keys;
    if (config.dialect == Dialect::NoVideo || config.videoCodec == kCodecNone)
        return keys;
    const int channels = static_cast<int>(std::min<uint32_t>(config.maxChannel, kMaxChannels));
    if (config.receiveType == 2) {
        for (int ch = 1; ch <= channels; ++ch) {
            if (config.dualPicture && ch % 2 == 0)
                continue;
            keys.push_back(PollKey(config, device.Video(static_cast<uint32_t>(ch)), ch, config.dualPicture));
        }
        return keys;
    }
    auto add = [&](const VideoSettings& video, int channel, bool dual) {
        StreamPlan plan = BasePlan(config, video);
        plan.codec = ToVideo(video.codec);
        StreamSource source;
        source.channel = channel;
        source.dual = dual;
        keys.push_back(MediaStream::KeyFor(plan, source));
    };
    if (config.dialect == Dialect::ProfileCamera) {
        for (size_t p = 1; p < config.profiles.size(); ++p) {
            const VideoSettings video = device.ProfileVideo(static_cast<uint32_t>(p));
            if (video.codec != kCodecNone)
                add(video, 1, false);
        }
    } else if (config.dialect == Dialect::MultiChannel) {
        // One channel (or pair) per connection, as a viewer's channels open
        // them; a connection carrying several channels at a shared rate
        // finds its clips encoded when it first asks, unless --fps fixed the
        // rate.
        for (int ch = 1; ch <= channels; ch += config.dualPicture ? 2 : 1)
            add(device.Video(static_cast<uint32_t>(ch)), ch, config.dualPicture);
    } else {
        add(device.Video(1), 1, false);
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end(),
                           [](const ClipKey& a, const ClipKey& b) { return !(a < b) && !(b < a); }),
               keys.end());
    return keys;
}

void RegisterMediaRoutes(Router& router, DeviceState& device, Faults& faults, ClipCache* clips) {
    static MediaContext context;
    context.device = &device;
    context.clips = clips;
    gContext = &context;
    (void)faults; // the switches reach each request through its connection
    // The encoders' statistics and notices would flood camsim's output, which
    // carries its port line and device description.
    av_log_set_level(AV_LOG_ERROR);
    router.Add("/ipcam/sjpeg.cgi", Router::Match::Exact, CameraStream(VideoCodec::Jpeg, false));
    router.Add("/ipcam/mpeg4.cgi", Router::Match::Exact, CameraStream(VideoCodec::Mpeg4, false));
    router.Add("/ipcam/mjpeg.cgi", Router::Match::Exact, CameraStream(VideoCodec::Jpeg, false));
    router.Add("/ipcam/avc.cgi", Router::Match::Exact, CameraStream(VideoCodec::H264, false));
    router.Add("/ipcam/mjpegcif.cgi", Router::Match::Exact, CameraStream(VideoCodec::Jpeg, true));
    router.Add("/ipcam/mpeg4cif.cgi", Router::Match::Exact, CameraStream(VideoCodec::Mpeg4, true));
    router.Add("/ipcam/avccif.cgi", Router::Match::Exact, CameraStream(VideoCodec::H264, true));
    router.Add("/ipcam/stream.cgi", Router::Match::Exact, ProfileStream);
    router.Add("/avc.cgi", Router::Match::Exact, AvcStream);
    router.Add("/avcplay.cgi", Router::Match::Exact, AvcPlayback);
    router.Add("/axis-cgi/mjpg/video.cgi", Router::Match::Exact, VendorStream);
    router.Add("/dms", Router::Match::Prefix, ServerPicture);
}

bool ServeRecorderImage(const HttpRequest& request, HttpConnection& out) {
    if (!gContext)
        return false;
    const bool live = request.HasParam("op.liveimage");
    if (!live && !request.HasParam("op.playimage"))
        return false;
    const DeviceConfig& config = gContext->device->Config();
    if (config.dialect != Dialect::MultiChannel || config.videoCodec == kCodecNone)
        return false;
    const std::string mask =
        live ? request.Param("op.liveimage") : PlaybackMask(request.Param("op.playimage"));
    const int maxChannel = static_cast<int>(std::min<uint32_t>(config.maxChannel, kMaxChannels));
    if (config.videoCodec != kCodecJpeg) {
        // The H.264 recorders answer picture requests with their stream.
        RecorderStream(request, out, mask);
        return true;
    }
    std::vector<int> channels = MaskChannels(mask, maxChannel);
    const int channel = channels[gContext->rotation++ % channels.size()];
    if (config.dualPicture)
        Picture1(out, request.mPath, channel - (channel - 1) % 2, true);
    else
        Picture1(out, request.mPath, channel, false);
    return true;
}

const char* MediaRoutesHelp() {
    return "  /ipcam/sjpeg.cgi /ipcam/mjpeg.cgi /ipcam/mpeg4.cgi /avc.cgi /ipcam/avc.cgi\n"
           "                          live multipart stream of the camera families\n"
           "           [?ch=N&audiostream=1&ifrmonly=1]\n"
           "  /ipcam/mjpegcif.cgi /ipcam/mpeg4cif.cgi /ipcam/avccif.cgi  the same at 352x288\n"
           "  /ipcam/stream.cgi?nowprofileid=P  profile P's stream (profile cameras)\n"
           "  /avc.cgi?op.liveimage=MASK[&audio=MASK]  recorders: the channels of MASK, X-CH\n"
           "  /avcplay.cgi?op.playimage=S:TEXT  recorders: playback of the channels in TEXT\n"
           "  /api.htm?op.liveimage=MASK  JPEG recorders: one picture per request\n"
           "  /dms01 .. /dms16        video-standard servers: one picture of that channel\n"
           "  /axis-cgi/mjpg/video.cgi?resolution=WxH  the other vendor's MJPEG stream\n";
}

} // namespace camsim
