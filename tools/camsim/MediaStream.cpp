#include "MediaStream.h"

#include "Device.h"
#include "HttpConnection.h"
#include "HttpServer.h"
#include "Picture.h"
#include "StreamWriter.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace camsim {

namespace {

const char* ContentType(VideoCodec codec) {
    switch (codec) {
    case VideoCodec::Mpeg4:
        return "image/mpeg4";
    case VideoCodec::H264:
        return "image/avc";
    default:
        return "image/jpeg";
    }
}

// Longest single wait of the frame schedule, so that a stopping server is
// noticed promptly even at low frame rates.
const auto kWaitSlice = std::chrono::milliseconds(50);

} // namespace

WallClock WallClock::Now() {
    auto now = std::chrono::system_clock::now();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    WallClock c;
    c.year = static_cast<uint16_t>(local.tm_year + 1900);
    c.month = static_cast<uint16_t>(local.tm_mon + 1);
    c.day = static_cast<uint16_t>(local.tm_mday);
    c.hour = static_cast<uint16_t>(local.tm_hour);
    c.minute = static_cast<uint16_t>(local.tm_min);
    c.second = static_cast<uint16_t>(std::min(local.tm_sec, 59));
    c.milliseconds = static_cast<uint16_t>(ms % 1000);
    return c;
}

std::string WallClock::Picture() const {
    char text[32];
    std::snprintf(text, sizeof(text), "%02u:%02u:%02u.%03u", hour, minute, second, milliseconds);
    return text;
}

std::string WallClock::Header() const {
    char text[48];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%03u", year, month, day, hour, minute,
                  second, milliseconds);
    return text;
}

void WallClock::Fill(DeviceHeader* h) const {
    h->year = year;
    h->month = static_cast<uint8_t>(month);
    h->day = static_cast<uint8_t>(day);
    h->hour = static_cast<uint8_t>(hour);
    h->minute = static_cast<uint8_t>(minute);
    h->second = static_cast<uint8_t>(second);
    h->milliseconds = milliseconds;
}

MediaStream::MediaStream(const StreamPlan& plan, const FaultSettings& faults) : mPlan(plan), mFaults(faults) {
    mPlan.fps = std::clamp(mPlan.fps, 1, 60);
    for (const StreamSource& s : mPlan.sources) {
        Channel c;
        c.source = s;
        mChannels.push_back(std::move(c));
    }
}

ClipKey MediaStream::KeyFor(const StreamPlan& plan, const StreamSource& source) {
    ClipKey key;
    key.codec = plan.codec;
    key.width = plan.width;
    key.height = plan.height;
    if (plan.codec != VideoCodec::Jpeg) {
        key.fps = std::clamp(plan.fps, 1, 60);
        key.keyInterval = plan.keyFramesOnly ? 1 : key.fps * kKeyIntervalSeconds;
    }
    key.channel = source.channel;
    key.dual = source.dual;
    key.deviceHeader = plan.codec == VideoCodec::Jpeg && plan.deviceHeader;
    key.still = plan.still;
    return key;
}

void MediaStream::Restamp(std::string* frame, uint32_t cts) {
    std::string& f = *frame;
    for (size_t at = 0; at + EncoderVideo::kQBoxHeader <= f.size();) {
        const uint32_t size = static_cast<uint32_t>(static_cast<uint8_t>(f[at])) << 24 |
                              static_cast<uint32_t>(static_cast<uint8_t>(f[at + 1])) << 16 |
                              static_cast<uint32_t>(static_cast<uint8_t>(f[at + 2])) << 8 |
                              static_cast<uint8_t>(f[at + 3]);
        if (size < EncoderVideo::kQBoxHeader || size > f.size() - at)
            return;
        for (int i = 0; i < 4; ++i)
            f[at + 20 + i] = static_cast<char>((cts >> (24 - 8 * i)) & 0xFF);
        at += size;
    }
}

bool MediaStream::OpenEncoders() {
    for (Channel& c : mChannels) {
        c.video.reset();
        c.clip = mPlan.clips ? mPlan.clips->Get(KeyFor(mPlan, c.source)) : nullptr;
        c.replaying = !c.clip;
        if (!Replay(c, c.clip != nullptr))
            return false;
        if (c.source.audio && mPlan.audio != AudioCodec::None && !c.audio)
            c.audio = EncoderAudio::Create(mPlan.audio);
    }
    return true;
}

bool MediaStream::Replay(Channel& c, bool replay) {
    if (replay == c.replaying)
        return true;
    c.replaying = replay;
    c.video.reset();
    c.next = 0;
    if (replay || mPlan.codec == VideoCodec::Jpeg)
        return true;
    const int keyInterval = mPlan.keyFramesOnly ? 1 : mPlan.fps * kKeyIntervalSeconds;
    c.video = EncoderVideo::Create(mPlan.codec, mPlan.width, mPlan.height, mPlan.fps, keyInterval);
    return c.video != nullptr;
}

bool MediaStream::BeforePart(StreamWriter& writer, HttpConnection& out) {
    if (mFaults.dropAfterParts > 0 && mParts >= mFaults.dropAfterParts)
        return false;
    if (mFaults.stallAfterParts > 0 && mParts >= mFaults.stallAfterParts) {
        // The device hangs: the connection stays open, nothing more comes.
        out.HoldSilent();
        return false;
    }
    if (mParts > 0 && mFaults.garbageBytes > 0 && !writer.Garbage(mFaults.garbageBytes))
        return false;
    ++mParts;
    if (mFaults.waitEveryParts > 0 && mParts % mFaults.waitEveryParts == 0 && !writer.WaitPart())
        return false;
    return true;
}

bool MediaStream::SendVideo(StreamWriter& writer, Channel& c, const WallClock& clock) {
    ++c.sequence;
    const uint32_t alarm =
        mFaults.alarmEveryFrames > 0 && c.sequence % mFaults.alarmEveryFrames == 0 ? mFaults.alarmBits : 0;
    Scene scene = mPlan.device ? mPlan.device->SceneAt(std::chrono::steady_clock::now()) : Scene();
    scene.still = mPlan.still;
    // A clip shows the plain scene; while the view is away or a mask is on,
    // the pictures are drawn and encoded live.
    if (!Replay(c, c.clip && scene.Plain()))
        return false;
    if (c.replaying)
        return SendReplayed(writer, c, clock, alarm);
    Picture picture(mPlan.width, mPlan.height);
    if (c.source.dual)
        picture.DrawDual(c.source.channel, c.sequence, clock.Picture(), scene);
    else
        picture.Draw(c.source.channel, c.sequence, clock.Picture(), scene);
    std::string data;
    if (mPlan.codec == VideoCodec::Jpeg) {
        DeviceHeader header;
        header.machineCode = mPlan.machineCode;
        clock.Fill(&header);
        header.channel = c.source.channel;
        header.alarm = static_cast<uint8_t>(alarm);
        header.sequence = c.sequence;
        if (mPlan.headerCarriesSize) {
            header.width = static_cast<uint16_t>(picture.Width());
            header.height = static_cast<uint16_t>(picture.Height());
        }
        header.channelMask = mPlan.channelMask;
        if (!mJpeg.Encode(picture, mPlan.deviceHeader ? &header : nullptr, &data))
            return false;
    } else {
        EncoderVideo::Frame frame;
        if (!c.video || !c.video->Encode(picture, &frame))
            return false;
        if (frame.data.empty())
            return true; // held back by the encoder
        data = std::move(frame.data);
        if (mPlan.codec == VideoCodec::H264) {
            // One 90 kHz clock for the whole stream, across clips and encoders.
            Restamp(&data,
                    static_cast<uint32_t>(uint64_t(c.coded) * 90000 / static_cast<uint32_t>(mPlan.fps)));
            ++c.coded;
        }
    }
    return SendPart(writer, c, data, picture.Width(), picture.Height(), alarm, clock);
}

bool MediaStream::SendReplayed(StreamWriter& writer, Channel& c, const WallClock& clock, uint32_t alarm) {
    const Clip& clip = *c.clip;
    std::string data = clip.frames[c.next];
    c.next = (c.next + 1) % clip.frames.size();
    if (mPlan.codec == VideoCodec::Jpeg && mPlan.deviceHeader && data.size() >= EncoderJpeg::kHeaderEnd) {
        DeviceHeader header;
        header.machineCode = mPlan.machineCode;
        clock.Fill(&header);
        header.channel = c.source.channel;
        header.alarm = static_cast<uint8_t>(alarm);
        header.sequence = c.sequence;
        if (mPlan.headerCarriesSize) {
            header.width = static_cast<uint16_t>(clip.width);
            header.height = static_cast<uint16_t>(clip.height);
        }
        header.channelMask = mPlan.channelMask;
        data.replace(0, EncoderJpeg::kHeaderEnd, EncoderJpeg::HeaderBytes(header));
    } else if (mPlan.codec == VideoCodec::H264) {
        // The 90 kHz clock of the stream goes on across the loop.
        Restamp(&data, static_cast<uint32_t>(uint64_t(c.coded) * 90000 / static_cast<uint32_t>(mPlan.fps)));
        ++c.coded;
    }
    return SendPart(writer, c, data, clip.width, clip.height, alarm, clock);
}

bool MediaStream::SendPart(StreamWriter& writer, const Channel& c, const std::string& data, int width,
                           int height, uint32_t alarm, const WallClock& clock) {
    mBytes += data.size();
    // Bits over the stream's time so far, counted from one frame period on so
    // that the first frame does not claim a huge rate.
    const auto elapsed = std::max<int64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - mStart)
            .count(),
        1000 / mPlan.fps);
    const uint64_t kbits = mBytes * 8 / static_cast<uint64_t>(elapsed);
    StreamWriter::Headers headers = {
        {"X-Framerate", std::to_string(mPlan.fps)},
        {"X-Resolution", std::to_string(width) + "*" + std::to_string(height)},
        {"X-Tag", std::to_string(c.sequence)},
        {"X-Alarm", std::to_string(alarm)},
        {"X-Bitrate", std::to_string(kbits)},
        {"X-Time", clock.Header()},
        {"X-Covert", "0"},
    };
    if (!c.source.xch.empty())
        headers.emplace_back("X-CH", c.source.xch);
    return writer.Part(ContentType(mPlan.codec), headers, data);
}

void MediaStream::Run(HttpConnection& out) {
    StreamWriter writer(out);
    if (mFaults.refuse) {
        writer.Refuse();
        return;
    }
    if (mChannels.empty() || !OpenEncoders()) {
        out.SendText(500, "Internal Server Error", "text/plain", "no encoder\r\n");
        return;
    }
    if (!writer.Begin())
        return;
    const StreamCounts::Token counted = out.Server().Streams().Open(StreamCounts::Kind::Stream, mPlan.path);
    const uint64_t kicks = out.Server().Kicks();
    mStart = std::chrono::steady_clock::now();
    auto scheduleStart = mStart;
    uint64_t frame = 0;
    const auto period = std::chrono::microseconds(1000000 / mPlan.fps);
    while (!out.Stopping() && out.Server().Kicks() == kicks) {
        const auto due = scheduleStart + period * frame;
        for (auto now = std::chrono::steady_clock::now(); now < due; now = std::chrono::steady_clock::now()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
                std::min<std::chrono::steady_clock::duration>(due - now, kWaitSlice));
            if (out.Stopping() || out.WaitPeerGone(wait) || out.Server().Kicks() != kicks)
                return;
        }
        if (std::chrono::steady_clock::now() - due > std::chrono::milliseconds(kMaxLagMs)) {
            scheduleStart = std::chrono::steady_clock::now();
            frame = 0;
        }
        ++frame;
        if (mFaults.resizeAtPart > 0 && !mResized && mParts >= mFaults.resizeAtPart) {
            mResized = true;
            mPlan.width = std::max(mPlan.width / 2, 32) & ~1;
            mPlan.height = std::max(mPlan.height / 2, 32) & ~1;
            if (!OpenEncoders())
                return;
        }
        if (mFaults.jumpBackAtPart > 0 && !mJumped && mParts >= mFaults.jumpBackAtPart) {
            mJumped = true;
            for (Channel& c : mChannels)
                c.sequence = c.sequence > kJumpBackFrames ? c.sequence - kJumpBackFrames : 0;
        }
        const WallClock clock = WallClock::Now();
        const double streamMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - mStart).count();
        for (Channel& c : mChannels) {
            if (!BeforePart(writer, out) || !SendVideo(writer, c, clock))
                return;
            while (c.audio && c.audio->EndMs() <= streamMs + 1000.0 / mPlan.fps) {
                std::string block;
                if (!c.audio->Next(&block))
                    break;
                StreamWriter::Headers headers = {{"X-Codec", c.audio->CodecName()},
                                                 {"X-Time", clock.Header()}};
                if (!c.source.xch.empty())
                    headers.emplace_back("X-CH", c.source.xch);
                if (!BeforePart(writer, out) || !writer.Part("audio/wav", headers, block))
                    return;
            }
        }
    }
}

} // namespace camsim
