// One recording: the state behind a RecKit handle. Turns the viewer's frame
// records into Matroska tracks and packets (stream copy).
//
// Thread-safety: every public member takes the recorder's lock, so the
// viewer's threads (start on the display channel's thread, joins on the
// recorder worker, stop on whichever thread closes it) may call it in turn.
//
// Layout of the file: the tracks must all be declared before the first
// packet, but the viewer only learns about audio when the first audio block
// arrives after the first key frame. So the first packets are held back until
// audio has been seen, or kHeaderHoldFrames video frames or kHeaderHoldMs of
// video have gone by, whichever comes first; audio that turns up later than
// that is refused (the file has no audio track).
//
// Time stamps (milliseconds from the first record): a video frame is placed
// on the slot of the stream's frame rate (kDefaultFrameRate when none is
// given; slots counted from the first frame) nearest its record's time, but
// always on a later slot than the previous frame, unless that would put it
// more than kMaxLeadMs ahead of its record's time (then 1 ms after the
// previous frame): records made in a burst (a backlog drained at once) play
// at the stream's rate, and a stream whose real rate exceeds its nominal one
// cannot drift away from the clock. Audio records carry no time: audio runs on its sample
// count from the video time at its first block, and is moved up to the video
// time when it falls behind by more than kAudioResyncMs (a gap in the audio).
#pragma once
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "CFrameParser.h"
#include "CMkvWriter.h"
#include "ipcamview/reckit.h"

namespace ipcam {

class CCmsRecorder {
public:
    static constexpr int kHeaderHoldFrames = 15;
    static constexpr int64_t kHeaderHoldMs = 1000;
    // Bound on what waits for the header, whatever the stream does.
    static constexpr size_t kMaxHeldPackets = 256;
    static constexpr size_t kMaxHeldBytes = 64 * 1024 * 1024;
    static constexpr uint32_t kMaxVideoFrameBytes = 16 * 1024 * 1024;
    static constexpr uint32_t kMaxAudioBlockBytes = 1024 * 1024;
    static constexpr int kMaxDimension = 8192;
    static constexpr int kDefaultFrameRate = 30;
    static constexpr int64_t kMaxLeadMs = 1000;
    static constexpr int64_t kAudioResyncMs = 1000;
    static constexpr size_t kMaxPathChars = 4096;
    // Tries with a "-N" suffix when the default name is taken.
    static constexpr int kMaxNameSuffix = 99;

    // kind: 65, 66, 67 or 200 (check with IsKnownKind first).
    explicit CCmsRecorder(int32_t kind);
    static bool IsKnownKind(int32_t kind);

    bool SetFileInfo(const wchar_t* info);
    bool Start();
    bool JoinVideo(const CmsVideoFrame& frame);
    bool JoinAudio(const CmsAudioFrame& frame);
    // 1 when a started recording was finished, 0 otherwise.
    bool Stop();

    // The path of the recording's file (UTF-8): "" until the file is created,
    // kept after Stop, "" again when Stop removed a file that got nothing.
    std::string FilePath();

    // UTF-8 of a wide string (UTF-32 here); invalid code points become U+FFFD.
    static std::string ToUtf8(const wchar_t* text);
    // The default file name for a channel and a local time.
    static std::string DefaultName(int channel, const SYSTEMTIME& time);
    // Milliseconds since 1970 of a calendar time taken as UTC, or -1 when a
    // field is out of range.
    static int64_t CalendarMs(const SYSTEMTIME& time);

private:
    enum class State { Created, Started, Stopped };
    struct Packet {
        bool mVideo;
        std::vector<uint8_t> mData;
        int64_t mPts;
        int64_t mDuration;
        bool mKey;
    };

    bool OpenDefaultFile(int channel, const SYSTEMTIME& time);
    bool Queue(Packet packet);
    bool LayOut(); // declares the tracks, writes the header and what was held
    bool WritePacket(const Packet& packet);
    int64_t RecordTime(const SYSTEMTIME& time);
    bool SplitVideo(const CmsVideoFrame& frame, CFrameParser::Parts* parts);
    bool TakeAudio(const CmsAudioFrame& frame, std::vector<std::vector<uint8_t>>* packets, int64_t* samples);

    std::mutex mLock; // guards every member below
    State mState = State::Created;
    CFrameParser::Codec mCodec;
    int mVideoFormatByte;  // the record's video format for this kind
    std::string mPath;     // empty: the default name
    std::string mFileName; // the file created for the recording; see FilePath
    CMkvWriter mWriter;

    // Video track, fixed by the first picture.
    bool mHaveVideo = false;
    int mWidth = 0;
    int mHeight = 0;
    std::vector<uint8_t> mConfiguration;    // the track's codec private data
    std::vector<uint8_t> mNewConfiguration; // a changed one, sent in-band with the next picture
    int mVideoTrack = -1;
    int64_t mLastVideoPts = -1; // milliseconds, as written
    int64_t mLastVideoUs = -1;  // the same, unrounded (microseconds)
    int64_t mLastVideoSlot = 0; // frame slot of the last frame, mFrameUs each
    int64_t mFrameUs = 1000000 / kDefaultFrameRate;
    int64_t mFirstHeldPts = -1;
    int mHeldFrames = 0;

    // Audio track, fixed by the first block.
    bool mHaveAudio = false;
    bool mAudioRefused = false; // laid out without audio
    uint16_t mAudioTag = 0;
    int mSampleRate = 0;
    int mChannels = 0;
    int mBitsPerSample = 0;
    std::vector<uint8_t> mAudioConfiguration;
    int mAudioTrack = -1;
    int64_t mAudioAnchorMs = 0;
    int64_t mAudioSamples = 0; // since the anchor
    int64_t mLastAudioPts = -1;

    int64_t mOriginMs = -1; // calendar time of the first video record
    int mFirstChannel = 0;
    SYSTEMTIME mFirstTime = {};
    bool mFailed = false; // the file could not be laid out or written: joins fail
    std::deque<Packet> mHeld;
    size_t mHeldBytes = 0;
    // Reused frame after frame, so that a recording does not allocate (and
    // the C library return to the system) a frame-sized buffer per frame.
    CFrameParser::Parts mParts;
    std::vector<uint8_t> mAnnexB;
};

} // namespace ipcam
