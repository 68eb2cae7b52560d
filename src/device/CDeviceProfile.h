// One device's stream parameters and the dialect it is spoken to in.
//
// Each family of devices has its own CGI paths and parameter keys; each is a
// subclass with its own SetUp, which asks the device (or assumes) what it
// sends: video codec, picture size, frame rate, audio and, for some models,
// the stream profile. ComposeStreamPath then turns these into the path and
// query of the live stream. QueryParam and SetParam read and write single
// parameters for the viewer's layout text and the on-video editors.
//
// The viewer creates the dialect that the machine code's device type calls
// for (CProfileQueryDialect for types 1 and 5, CMultiChannelDialect for 2,
// CVideoStandardDialect for 3, CFixedDialect for 100), copies the channel,
// I-frame-only flag and playback channel list into it and calls SetUp. When
// SetUp fails it calls Reset and opens no stream.
//
// Ownership: the viewer owns the dialect; links and URLs passed in are
// borrowed for the call (the embedded parser keeps the control link, which
// the viewer keeps alive as long as the dialect). Threads: the host's thread
// during open. Afterwards the members are only read, and the overlay
// controls call QueryParam and SetParam (from the host's thread or their
// command worker); each call builds its own parser, but the link they pass
// carries one exchange at a time, so its owner serialises them.
#pragma once

#include "device/CReplyParser.h"
#include "platform/CMediaObj.h"

#include <cstdint>
#include <string>

class CHttpLink;
class CUrl;
namespace media_util {
class CMemoryStream;
}

class CDeviceProfile {
public:
    // Video codec codes.
    static constexpr int32_t kCodecJpeg = media_util::kVideoJpeg;
    static constexpr int32_t kCodecMpeg4 = media_util::kVideoMpeg4;
    static constexpr int32_t kCodecH264 = media_util::kVideoH264QBox;
    // Audio codec codes.
    static constexpr int32_t kAudioUlaw = media_util::kAudioUlaw;
    static constexpr int32_t kAudioAac = media_util::kAudio2010;
    static constexpr int32_t kAudioG726 = media_util::kAudio2020;
    // Frame rates, thousandths of a frame per second.
    static constexpr int32_t kFrameRateNtsc = 30000;
    static constexpr int32_t kFrameRatePal = 25000;
    // Audio format before any set-up: 8 kHz, 8 bits, mono.
    static constexpr int32_t kDefaultSampleRate = 8000;
    static constexpr int32_t kDefaultBitsPerSample = 8;
    static constexpr int32_t kDefaultAudioChannels = 1;
    // Channel masks ("1" followed by channel - 1 zeros) are built in a buffer
    // of this many characters: channels and channel counts of 20 or more
    // compose no multi-channel stream path.
    static constexpr int32_t kChannelMaskBufferSize = 20;

    // Models the stream path and set-up treat specially.
    static constexpr int32_t kChannelOneModel = 4752;    // a host's channel 0 means channel 1
    static constexpr int32_t kFixedSetUpModel = 36865;   // 0x9001: codec, size and profile from the host
    static constexpr int32_t kG726ProfileModel = 8192;   // profile camera with G.726 audio
    static constexpr int32_t kDualStreamRecorder = 5138; // 0x1412: two H.264 streams of two channels each
    static constexpr int32_t kH264RecorderFirst = 8775;  // 8775 to 8777: one H.264 stream per channel mask
    static constexpr int32_t kH264RecorderLast = 8777;

    // True for the camera models whose streams are chosen by profile
    // ("/ipcam/multiprofile.cgi", "/ipcam/stream.cgi?nowprofileid=").
    static bool UsesStreamProfiles(int32_t machineCode);

    CDeviceProfile(int32_t machineCode, std::string cgiPath);
    virtual ~CDeviceProfile() = default;
    CDeviceProfile(const CDeviceProfile&) = delete;
    CDeviceProfile& operator=(const CDeviceProfile&) = delete;

    // Settles codec, sizes, frame rate and audio for the channel in
    // mChannel. link: the viewer's control link; deviceUrl: the device's
    // parsed address (its path is not used); params: the host's wishes
    // (mVideoFormat = preferred codec, mProfileId = stream profile, mWidth /
    // mHeight for the fixed set-up), may be null (no wishes); the profile
    // set-up writes the profile's codec back into params->mVideoFormat.
    // Returns 1 on success, 0 when the device cannot be streamed from as
    // asked.
    virtual int SetUp(CHttpLink* link, CUrl* deviceUrl, media_util::CMediaObj* params) = 0;

    // Forgets what a failed set-up left: machine code, codecs, size, frame
    // rate, audio flags, channel, audio format, I-frame-only flag and profile
    // id become 0. The maximum channel count stays.
    void Reset();

    // The live (or playback) stream's path and query for this device, to be
    // put behind "http://host:port". Returns 1 with the path in out, or 0
    // (out unchanged) when the device cannot stream as set up: device types 0
    // and 4, a profile camera without a usable codec or profile, and a
    // multi-channel device whose channel or channel count do not fit its
    // mask (negative, 20 or more, or a channel above the count).
    int ComposeStreamPath(std::string& out) const;

    // Reads one parameter through this dialect's CGI path. Returns 1 only
    // when key is not empty, the request was answered and its reply line
    // says "OK"; value then holds the line's value.
    int QueryParam(CHttpLink* link, CUrl* deviceUrl, const std::string& key, std::string& value);
    // Writes key=value. Returns 1 only when key and value are not empty, the
    // request was answered and the reply line says "OK"; out then holds the
    // reply line's value.
    int SetParam(CHttpLink* link, CUrl* deviceUrl, const std::string& key, const std::string& value,
                 std::string& out);

    // --- Members, in this order. Written by SetUp and the viewer, read by
    // the viewer, the stream path and the editors. ---
    int32_t mMachineCode;
    std::string mCgiPath; // beginning of every parameter request, "" when the dialect has none
    int32_t mVideoCodec = 0;
    int32_t mAudioCodec = 0;
    int32_t mWidth = 0;
    int32_t mHeight = 0;
    int32_t mFrameRate = 0; // thousandths of a frame per second
    int32_t mAudioSupported = 0;
    int32_t mAudioWanted = 0;
    int32_t mChannel = 0; // 1-based; 0 = none given
    int32_t mMaxChannel = 0;
    int32_t mSampleRate = kDefaultSampleRate;
    int32_t mBitsPerSample = kDefaultBitsPerSample;
    int32_t mAudioChannels = kDefaultAudioChannels;
    std::string mPlaybackChannels; // comma-separated channel numbers, from the viewer
    std::string mPlaybackSelector; // empty = live; otherwise the recording to play back
    std::string mSpare;
    int32_t mIFrameOnly = 0;
    int32_t mProfileId = 0;
    // The parser the set-up queries go through: it keeps the control link,
    // a copy of the device URL and this dialect's CGI path.
    CReplyParser mReplyParser;
    // 1 when the device keeps a layout text for the video (only the profile
    // family does).
    int32_t mLayoutSupport = 0;

protected:
    // Points the embedded parser at the link, the device URL and this
    // dialect's CGI path.
    void PrepareParser(CHttpLink* link, CUrl* deviceUrl);
    // Value of the reply line a Query left for key, read as a decimal
    // number; 0 when the line gave none. The status word is not looked at:
    // callers that need "OK" ask ReplyCode.
    static int32_t ReplyNumber(const media_util::CSlowHash& params, const std::string& key);
    // Status code of the reply line a Query left for key (kReplyUnknown
    // when no line answered it).
    static int ReplyCode(const media_util::CSlowHash& params, const std::string& key);
    // One whole-body fetch of path (path and query) from the device at
    // deviceUrl's host and port, through link. True when the request was
    // answered (and, for FetchText, the body was not empty); the body is
    // appended to text / stream.
    static bool FetchText(CHttpLink* link, CUrl* deviceUrl, const std::string& path, std::string& text);
    static bool FetchInto(CHttpLink* link, CUrl* deviceUrl, const std::string& path,
                          media_util::CMemoryStream& stream);

private:
    int ComposeProfileFamily(std::string& out) const;
    int ComposeMultiChannel(std::string& out) const;
    std::string ChannelMask() const;
};
