#include "CCmsRecorder.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "CQBoxReader.h"
#include "os/kernel/Kernel.h"

namespace ipcam {

namespace {
// WAVEFORMATEX format tags the viewer writes.
constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagAlaw = 6;
constexpr uint16_t kTagMulaw = 7;
constexpr uint16_t kTagAac = 0x00FF;
constexpr int kAacFrameSamples = 1024;
constexpr int kMaxAudioChannels = 8;
constexpr uint32_t kMinSampleRate = 1000;
constexpr uint32_t kMaxSampleRate = 192000;
const int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                         22050, 16000, 12000, 11025, 8000,  7350};

std::vector<uint8_t> AacConfig(int objectType, int rateIndex, int channels) {
    return {uint8_t(objectType << 3 | rateIndex >> 1), uint8_t((rateIndex & 1) << 7 | channels << 3)};
}
} // namespace

CCmsRecorder::CCmsRecorder(int32_t kind) {
    switch (kind) {
    case CMS_KIND_JPEG:
        mCodec = CFrameParser::Codec::Jpeg;
        mVideoFormatByte = 0;
        break;
    case CMS_KIND_MPEG4:
        mCodec = CFrameParser::Codec::Mpeg4;
        mVideoFormatByte = 1;
        break;
    default:
        mCodec = CFrameParser::Codec::H264;
        mVideoFormatByte = 2;
        break;
    }
}

bool CCmsRecorder::IsKnownKind(int32_t kind) {
    return kind == CMS_KIND_JPEG || kind == CMS_KIND_MPEG4 || kind == CMS_KIND_H264 ||
           kind == CMS_KIND_H264_DUAL;
}

std::string CCmsRecorder::ToUtf8(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) {
        uint32_t c = uint32_t(*text);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18);
            out += char(0x80 | (c >> 12 & 0x3F));
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int64_t CCmsRecorder::CalendarMs(const SYSTEMTIME& t) {
    if (t.wYear < 1970 || t.wYear > 9999 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 || t.wDay > 31 ||
        t.wHour > 23 || t.wMinute > 59 || t.wSecond > 60 || t.wMilliseconds > 999)
        return -1;
    // Days from 1970-01-01 of a proleptic Gregorian date.
    int64_t y = int64_t(t.wYear) - (t.wMonth <= 2 ? 1 : 0);
    int64_t era = y / 400;
    int64_t yoe = y - era * 400;
    int64_t m = t.wMonth;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + t.wDay - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = era * 146097 + doe - 719468;
    return ((days * 24 + t.wHour) * 60 + t.wMinute) * 60000 + int64_t(t.wSecond) * 1000 + t.wMilliseconds;
}

std::string CCmsRecorder::DefaultName(int channel, const SYSTEMTIME& time) {
    SYSTEMTIME t = time;
    if (CalendarMs(t) < 0) {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        t.wYear = uint16_t(local.tm_year + 1900);
        t.wMonth = uint16_t(local.tm_mon + 1);
        t.wDay = uint16_t(local.tm_mday);
        t.wHour = uint16_t(local.tm_hour);
        t.wMinute = uint16_t(local.tm_min);
        t.wSecond = uint16_t(local.tm_sec);
    }
    char name[64];
    snprintf(name, sizeof name, "rec-%d-%04u%02u%02u-%02u%02u%02u.mkv", channel, unsigned(t.wYear),
             unsigned(t.wMonth), unsigned(t.wDay), unsigned(t.wHour), unsigned(t.wMinute),
             unsigned(std::min<uint16_t>(t.wSecond, 59)));
    return name;
}

bool CCmsRecorder::SetFileInfo(const wchar_t* info) {
    std::lock_guard<std::mutex> lock(mLock);
    if (mState != State::Created)
        return false;
    if (info && wcslen(info) > kMaxPathChars)
        return false;
    mPath = ToUtf8(info);
    return true;
}

bool CCmsRecorder::Start() {
    std::lock_guard<std::mutex> lock(mLock);
    if (mState != State::Created)
        return false;
    if (!mPath.empty()) {
        if (!mWriter.Open(mPath))
            return false;
        mFileName = mPath;
    } else {
        const DWORD directory = GetFileAttributesA(".");
        if (directory == INVALID_FILE_ATTRIBUTES || (directory & FILE_ATTRIBUTE_READONLY) != 0)
            return false;
    }
    mState = State::Started;
    return true;
}

bool CCmsRecorder::OpenDefaultFile(int channel, const SYSTEMTIME& time) {
    // Recorders of the same channel started together (two viewers of one
    // camera) reach this at the same moment with the same name: one at a
    // time, so that the second sees the first one's file and takes a suffix.
    static std::mutex namingLock;
    std::lock_guard<std::mutex> naming(namingLock);
    std::string base = DefaultName(channel, time);
    std::string name = base;
    for (int n = 1; GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; ++n) {
        if (n > kMaxNameSuffix)
            return false;
        name = base.substr(0, base.size() - 4) + "-" + std::to_string(n) + ".mkv";
    }
    if (!mWriter.Open(name))
        return false;
    mFileName = name;
    return true;
}

std::string CCmsRecorder::FilePath() {
    std::lock_guard<std::mutex> lock(mLock);
    return mFileName;
}

int64_t CCmsRecorder::RecordTime(const SYSTEMTIME& time) {
    int64_t ms = CalendarMs(time);
    if (ms < 0)
        return -1;
    if (mOriginMs < 0)
        mOriginMs = ms;
    return ms - mOriginMs;
}

bool CCmsRecorder::SplitVideo(const CmsVideoFrame& frame, CFrameParser::Parts* parts) {
    if (mCodec != CFrameParser::Codec::H264 || !CQBoxReader::IsQBox(frame.pData, frame.dataLength))
        return CFrameParser::Split(mCodec, frame.pData, frame.dataLength, parts);
    mAnnexB.clear();
    uint32_t flags = 0;
    if (!CQBoxReader::Unwrap(frame.pData, frame.dataLength, &mAnnexB, &flags))
        return false;
    return CFrameParser::Split(mCodec, mAnnexB.data(), mAnnexB.size(), parts);
}

bool CCmsRecorder::JoinVideo(const CmsVideoFrame& frame) {
    std::lock_guard<std::mutex> lock(mLock);
    if (mState != State::Started || mFailed || !frame.pData || frame.dataLength == 0 ||
        frame.dataLength > kMaxVideoFrameBytes || frame.videoFormat != mVideoFormatByte)
        return false;
    CFrameParser::Parts& parts = mParts;
    if (!SplitVideo(frame, &parts))
        return false;
    if (!parts.mConfiguration.empty()) {
        // Until the track is laid out the newest configuration is the track's;
        // afterwards a different one goes in-band before the next picture (the
        // viewer repeats the same one before every key frame: that is dropped).
        if (!mHaveVideo)
            mConfiguration = parts.mConfiguration;
        else if (parts.mConfiguration != mConfiguration)
            mNewConfiguration = parts.mConfiguration;
    }
    if (parts.mPicture.empty())
        return true;

    if (!mHaveVideo) {
        // A recording starts at a key frame that a decoder can set up for.
        if (!parts.mKey || (mCodec != CFrameParser::Codec::Jpeg && mConfiguration.empty()))
            return false;
        int width = frame.width;
        int height = frame.height < 0 ? -frame.height : frame.height;
        if ((width <= 0 || height <= 0) && mCodec == CFrameParser::Codec::Jpeg)
            CFrameParser::JpegSize(parts.mPicture.data(), parts.mPicture.size(), &width, &height);
        if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension)
            return false;
        mWidth = width;
        mHeight = height;
        if (frame.frameRate > 0 && frame.frameRate < 1000)
            mFrameUs = std::max<int64_t>(1000, 1000000 / frame.frameRate);
        else if (frame.frameRate >= 1000)
            mFrameUs = std::clamp<int64_t>(int64_t(1000000000) / frame.frameRate, 1000, 10000000);
        mFirstChannel = frame.channel;
        mFirstTime = frame.time;
        mHaveVideo = true;
    }

    // Frames go on the slots of the stream's frame rate counted from the
    // first frame, each on the free slot nearest its record's time: a player
    // (and ffmpeg, which rounds every time to its guess of the frame rate)
    // sees a steady rate, where times taken from the clock would put two
    // frames on one slot now and then. Worked out in microseconds, since a
    // 30 fps period is no whole number of milliseconds.
    int64_t wallMs = RecordTime(frame.time);
    int64_t us;
    if (mLastVideoUs < 0) {
        us = std::max<int64_t>(0, wallMs) * 1000;
        mLastVideoSlot = (us + mFrameUs / 2) / mFrameUs;
        us = mLastVideoSlot * mFrameUs;
    } else {
        int64_t wall = wallMs * 1000;
        int64_t slot = mLastVideoSlot + 1;
        if (wallMs >= 0)
            slot = std::max(slot, (wall + mFrameUs / 2) / mFrameUs);
        us = slot * mFrameUs;
        if (wallMs >= 0 && us > wall + kMaxLeadMs * 1000) {
            // A burst that has run a whole lead ahead of its records' clock
            // goes on 1 ms apart, off the slots, until the clock catches up.
            us = std::max(mLastVideoUs + 1000, wall + kMaxLeadMs * 1000);
            slot = us / mFrameUs;
        }
        mLastVideoSlot = slot;
    }
    int64_t pts = (us + 500) / 1000;
    if (mWriter.HeaderWritten() && mNewConfiguration.empty()) {
        // The common case once the file is laid out: straight from the split
        // picture, padded in place, without a packet or a copy of its own.
        const size_t size = parts.mPicture.size();
        parts.mPicture.resize(size + CMkvWriter::kPadding, 0);
        if (!mWriter.WritePadded(mVideoTrack, parts.mPicture.data(), size, pts, (mFrameUs + 500) / 1000,
                                 parts.mKey))
            return false;
        mLastVideoUs = us;
        mLastVideoPts = pts;
        return true;
    }
    Packet packet{true, std::move(mNewConfiguration), pts, (mFrameUs + 500) / 1000, parts.mKey};
    mNewConfiguration.clear();
    packet.mData.insert(packet.mData.end(), parts.mPicture.begin(), parts.mPicture.end());
    if (!Queue(std::move(packet)))
        return false;
    mLastVideoUs = us;
    mLastVideoPts = pts;
    return true;
}

bool CCmsRecorder::TakeAudio(const CmsAudioFrame& frame, std::vector<std::vector<uint8_t>>* packets,
                             int64_t* samples) {
    const uint8_t* d = frame.pData;
    size_t length = frame.dataLength;
    const WAVEFORMATEX& f = frame.format;
    if (f.wFormatTag != kTagAac) {
        size_t bytesPerSample = size_t(f.nChannels) * (f.wFormatTag == kTagPcm ? 2 : 1);
        if (length % bytesPerSample != 0)
            return false;
        packets->emplace_back(d, d + length);
        *samples = int64_t(length / bytesPerSample);
        return true;
    }
    // AAC arrives as ADTS frames (as encoders stream it) or as one raw frame.
    if (length >= 7 && d[0] == 0xFF && (d[1] & 0xF6) == 0xF0) {
        size_t pos = 0;
        while (pos < length) {
            if (length - pos < 7 || d[pos] != 0xFF || (d[pos + 1] & 0xF6) != 0xF0)
                return false;
            const uint8_t* h = d + pos;
            size_t header = (h[1] & 1) ? 7 : 9; // protection_absent or a CRC follows
            size_t size = size_t(h[3] & 3) << 11 | size_t(h[4]) << 3 | h[5] >> 5;
            int rawBlocks = (h[6] & 3) + 1;
            if (size <= header || size > length - pos || rawBlocks != 1)
                return false;
            if (mAudioConfiguration.empty() && packets->empty()) {
                int objectType = (h[2] >> 6) + 1;
                int rateIndex = (h[2] >> 2) & 0xF;
                int channels = (h[2] & 1) << 2 | h[3] >> 6;
                if (rateIndex > 12 || channels == 0)
                    return false;
                mAudioConfiguration = AacConfig(objectType, rateIndex, channels);
            }
            packets->emplace_back(h + header, h + size);
            pos += size;
        }
        *samples = int64_t(packets->size()) * kAacFrameSamples;
        return true;
    }
    if (mAudioConfiguration.empty()) {
        const int* rate = std::find(std::begin(kAacRates), std::end(kAacRates), int(f.nSamplesPerSec));
        if (rate == std::end(kAacRates) || f.nChannels > 7)
            return false;
        mAudioConfiguration = AacConfig(2, int(rate - std::begin(kAacRates)), f.nChannels); // AAC-LC
    }
    packets->emplace_back(d, d + length);
    *samples = kAacFrameSamples;
    return true;
}

bool CCmsRecorder::JoinAudio(const CmsAudioFrame& frame) {
    std::lock_guard<std::mutex> lock(mLock);
    const WAVEFORMATEX& f = frame.format;
    if (mState != State::Started || mFailed || mAudioRefused || !frame.pData || frame.dataLength == 0 ||
        frame.dataLength > kMaxAudioBlockBytes)
        return false;
    bool knownTag = f.wFormatTag == kTagMulaw || f.wFormatTag == kTagAlaw || f.wFormatTag == kTagAac ||
                    (f.wFormatTag == kTagPcm && f.wBitsPerSample == 16);
    if (!knownTag || f.nChannels < 1 || f.nChannels > kMaxAudioChannels ||
        f.nSamplesPerSec < kMinSampleRate || f.nSamplesPerSec > kMaxSampleRate)
        return false;
    if (mHaveAudio &&
        (f.wFormatTag != mAudioTag || int(f.nChannels) != mChannels || int(f.nSamplesPerSec) != mSampleRate))
        return false;
    std::vector<std::vector<uint8_t>> packets;
    int64_t samples = 0;
    std::vector<uint8_t> configuration = mAudioConfiguration;
    if (!TakeAudio(frame, &packets, &samples)) {
        mAudioConfiguration = configuration;
        return false;
    }
    if (!mHaveAudio) {
        mHaveAudio = true;
        mAudioTag = f.wFormatTag;
        mChannels = f.nChannels;
        mSampleRate = int(f.nSamplesPerSec);
        mBitsPerSample = f.wFormatTag == kTagPcm ? 16 : f.wFormatTag == kTagAac ? 0 : 8;
        mAudioAnchorMs = std::max<int64_t>(0, mLastVideoPts);
        mAudioSamples = 0;
    }
    int64_t perPacket = samples / int64_t(packets.size());
    for (std::vector<uint8_t>& data : packets) {
        int64_t pts = mAudioAnchorMs + mAudioSamples * 1000 / mSampleRate;
        if (mLastVideoPts - pts > kAudioResyncMs) {
            mAudioAnchorMs = mLastVideoPts;
            mAudioSamples = 0;
            pts = mAudioAnchorMs;
        }
        pts = std::max(pts, mLastAudioPts + 1);
        int64_t duration = std::max<int64_t>(1, perPacket * 1000 / mSampleRate);
        if (!Queue(Packet{false, std::move(data), pts, duration, true}))
            return false;
        mLastAudioPts = pts;
        mAudioSamples += perPacket;
    }
    return true;
}

bool CCmsRecorder::Queue(Packet packet) {
    if (mWriter.HeaderWritten())
        return WritePacket(packet);
    if (mHeld.size() >= kMaxHeldPackets || mHeldBytes + packet.mData.size() > kMaxHeldBytes) {
        if (!mHaveVideo || !LayOut())
            return false;
        return WritePacket(packet);
    }
    if (packet.mVideo) {
        ++mHeldFrames;
        if (mFirstHeldPts < 0)
            mFirstHeldPts = packet.mPts;
    }
    int64_t span = packet.mVideo ? packet.mPts - mFirstHeldPts : 0;
    mHeldBytes += packet.mData.size();
    mHeld.push_back(std::move(packet));
    if (mHaveVideo && (mHaveAudio || mHeldFrames >= kHeaderHoldFrames || span >= kHeaderHoldMs))
        return LayOut();
    return true;
}

bool CCmsRecorder::LayOut() {
    bool ok = mWriter.IsOpen() || OpenDefaultFile(mFirstChannel, mFirstTime);
    if (ok && mHaveVideo) {
        int codec = mCodec == CFrameParser::Codec::Jpeg    ? AV_CODEC_ID_MJPEG
                    : mCodec == CFrameParser::Codec::Mpeg4 ? AV_CODEC_ID_MPEG4
                                                           : AV_CODEC_ID_H264;
        mVideoTrack = mWriter.AddVideo(codec, mWidth, mHeight, mConfiguration);
        ok = mVideoTrack >= 0;
    }
    if (ok && mHaveAudio) {
        int codec = mAudioTag == kTagMulaw  ? AV_CODEC_ID_PCM_MULAW
                    : mAudioTag == kTagAlaw ? AV_CODEC_ID_PCM_ALAW
                    : mAudioTag == kTagPcm  ? AV_CODEC_ID_PCM_S16LE
                                            : AV_CODEC_ID_AAC;
        mAudioTrack = mWriter.AddAudio(codec, mSampleRate, mChannels, mBitsPerSample, mAudioConfiguration);
        ok = mAudioTrack >= 0;
    }
    mAudioRefused = !mHaveAudio;
    ok = ok && mWriter.WriteHeader();
    while (ok && !mHeld.empty()) {
        ok = WritePacket(mHeld.front());
        mHeld.pop_front();
    }
    mHeld.clear();
    mHeldBytes = 0;
    if (!ok)
        mFailed = true;
    return ok;
}

bool CCmsRecorder::WritePacket(const Packet& packet) {
    int track = packet.mVideo ? mVideoTrack : mAudioTrack;
    if (track < 0)
        return false;
    return mWriter.Write(track, packet.mData.data(), packet.mData.size(), packet.mPts, packet.mDuration,
                         packet.mKey);
}

bool CCmsRecorder::Stop() {
    std::lock_guard<std::mutex> lock(mLock);
    if (mState != State::Started)
        return false;
    mState = State::Stopped;
    if (!mWriter.HeaderWritten()) {
        if (mHeld.empty() || mFailed || !LayOut()) {
            mWriter.Abort();
            mFileName.clear();
            return !mFailed;
        }
    }
    return mWriter.Finish();
}

} // namespace ipcam
