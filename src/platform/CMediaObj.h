// One media frame, audio block, decoded picture or format description.
//
// The fields are public: receivers fill them from stream headers, the
// dispatcher, pacer, decoder and recorder read and write them directly.
//
// Data buffers: mpData/mDataLength hold the video bytes (a compressed frame
// or a decoded picture); mpData2/mDataLength2 hold the bytes of an audio
// block. mDataSize is the number of content bytes. When mOwnsData is 1 the
// object frees both buffers when destroyed or when new data replaces them;
// a buffer that an object owns must come from AllocData (the helpers below
// take care of that). With mOwnsData 0 the pointers are borrowed.
//
// Frame buffers are recycled through a bounded process-wide pool and placed
// at the same offset within a 4 KiB page: copying a frame from one buffer to
// another every frame is the hot path of fan-out to several channels, and on
// this hardware memcpy between buffers whose distance modulo 4096 is 1 to 31
// bytes runs an order of magnitude slower.
//
// Threads: an object is used by one thread at a time; it changes hands
// through the media queues.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "os/kernel/Kernel.h"

namespace media_util {

// Video format codes (mVideoFormat).
constexpr int32_t kVideoNone = 0;
constexpr int32_t kVideoJpeg = 1000;
constexpr int32_t kVideoMpeg4 = 1005;
constexpr int32_t kVideoH264QBox = 1010;
// Pixel format codes of decoded pictures (also mVideoFormat).
constexpr int32_t kPixelRgb24 = 100;
constexpr int32_t kPixelRgb16 = 120;
constexpr int32_t kPixelI420 = 130;
// Audio format codes (mAudioFormat).
constexpr int32_t kAudioNone = 0;
constexpr int32_t kAudioUlaw = 2005;
constexpr int32_t kAudio2010 = 2010;
constexpr int32_t kAudio2020 = 2020;
// Frame kinds (mFrameKind).
constexpr int32_t kFrameUnknown = 0;
constexpr int32_t kFrameKeyWithConfig = 1;
constexpr int32_t kFrameKey = 2;
constexpr int32_t kFramePredicted = 4;

class CMediaObj {
public:
    // Largest buffer AllocData hands out (64 MiB): far above any frame a
    // device sends, low enough that a bogus length from the network cannot
    // exhaust memory.
    static constexpr int32_t kMaxDataSize = 64 * 1024 * 1024;
    // Channels that objects may carry: 0 (none given) to 16.
    static constexpr int32_t kMaxChannel = 16;
    // Upper bound of GetFrameTime (one frame a minute).
    static constexpr int32_t kMaxFrameTimeMs = 60000;
    // CloneMe flags.
    static constexpr int kCloneHeader = 0;
    static constexpr int kCloneAll = 1;
    // The fixed part of one QBox box before its payload.
    static constexpr int32_t kQBoxHeaderSize = 24;
    // QBox sample flags (big-endian at offset 16 of a box).
    static constexpr uint32_t kQBoxFlagConfig = 0x01;
    static constexpr uint32_t kQBoxFlagCtsValid = 0x02;
    static constexpr uint32_t kQBoxFlagSync = 0x04;
    // QBox stream type of H.264.
    static constexpr uint16_t kQBoxStreamH264 = 2;

    CMediaObj();
    virtual ~CMediaObj();
    // Copies are deep: the new object owns its own copy of the data.
    CMediaObj(const CMediaObj& other);
    CMediaObj& operator=(const CMediaObj& other);

    // --- Fields, in this order. 32-bit unless said. ---
    int32_t mWidth = 0;
    int32_t mHeight = 0;      // negative: a decoded picture with top-down rows
    int32_t mFrameRate = 0;   // thousandths of a frame per second; 0 = not given
    int32_t mVideoFormat = 0; // kVideo*/kPixel* codes; in Start's parameter object the wanted codec
    int32_t mAudioFormat = 0; // kAudio* codes
    int32_t mAudioChannels = 0;
    int32_t mSampleRate = 0; // audio samples per second; for video the bit rate
    int32_t mBitsPerSample = 0;
    int32_t mDataSize = 0;         // content bytes
    std::vector<int32_t> mTagList; // alarm tags 1, 2, 3
    int32_t mChannel = 0;          // 0 to 16; 0 = none given
    int32_t mFrameKind = 0;        // kFrame* kinds
    SYSTEMTIME mTime{};            // local time of the frame; year 0 = not set
    int32_t mFrameNumber = 0;
    int32_t mWait = 0;        // device's wait value: positive = the part's data is not sent yet
    int32_t mCovert = 0;      // device's covert value, passed through
    int32_t mChannelMask = 0; // bit n-1 = channel n (1 to 16); 0 = use mChannel
    int32_t mByteCount = 0;   // bytes counted for statistics
    int32_t mProfileId = 0;
    uint8_t* mpData = nullptr;  // video / picture bytes
    uint8_t* mpData2 = nullptr; // audio bytes
    int32_t mDataLength = 0;
    int32_t mDataLength2 = 0;
    int32_t mOwnsData = 0; // 1: the object frees mpData and mpData2

    // --- Copies ---

    // Copies this object's fields into target. kCloneHeader (0) copies every
    // field except the data (pointers, lengths, data size, owns flag), which
    // target keeps. Any other flag also gives target its own copy of the
    // data (target then owns it; its old owned buffers are reused or freed).
    // A null target or target == this does nothing.
    void CloneMe(CMediaObj* target, int flag = kCloneAll) const;
    // A new object, owned by the caller, with the same fields and its own
    // copy of the data. Null only when memory runs out.
    CMediaObj* CloneMeWithNewContent() const;
    // A new object with the same fields that holds the same data buffers as
    // this one instead of a copy; each buffer is freed when the last object
    // that holds it lets go. The data is then read-only for every holder
    // (writing through AllocateData and the copies makes a buffer of the
    // object's own first). For pictures fanned out to many channels. Borrowed
    // data is copied, as by CloneMeWithNewContent.
    CMediaObj* CloneMeSharingContent() const;
    // Non-zero when other has the same header fields (data pointers and the
    // owns flag aside) and the same data bytes. 0 for null.
    int Equals(const CMediaObj* other) const;

    // --- Data buffers ---

    // An owned, uninitialised video buffer of length bytes, reusing the
    // current one when it is owned and large enough. Sets mDataLength and
    // mDataSize. Null (and no data) for a negative or oversized length or
    // when memory runs out; a length of 0 gives a valid empty buffer.
    uint8_t* AllocateData(int32_t length);
    uint8_t* AllocateData2(int32_t length);
    // AllocateData plus a copy of length bytes from source. Non-zero on success.
    int CopyData(const void* source, int32_t length);
    int CopyData2(const void* source, int32_t length);
    // Takes ownership of block (from AllocData) as the video or audio data.
    void AttachData(uint8_t* block, int32_t length);
    void AttachData2(uint8_t* block, int32_t length);
    // Frees owned buffers (or forgets borrowed ones): both pointers null,
    // lengths and data size 0.
    void ReleaseData();

    // A buffer that an object may own; at least size bytes. Null for a
    // negative size or one above kMaxDataSize, or when memory runs out.
    static uint8_t* AllocData(int32_t size);
    // Gives a buffer from AllocData back (to the pool or the system). Null is ignored.
    static void FreeData(uint8_t* block);
    // Usable bytes of a buffer from AllocData.
    static int32_t DataCapacity(const uint8_t* block);
    // True while more than one object holds the buffer (CloneMeSharingContent).
    static bool IsSharedData(const uint8_t* block);

    // --- Tags ---

    // Tag at index; throws std::out_of_range("invalid vector<T> subscript")
    // when the index is outside the list.
    int32_t TagAt(size_t index) const;

    // --- Stream helpers ---

    // Milliseconds per frame of a frame-rate code (thousandths of a frame
    // per second, sign ignored): 1,000,000 / |code|, truncated, at most
    // kMaxFrameTimeMs. 0 for code 0 (no frame rate: no spacing).
    static int32_t GetFrameTime(int32_t frameRateCode);

    // For a kind-1 frame (a key frame that carries its stream configuration)
    // of MPEG-4 or H.264 in QBox form, a new object (owned by the caller,
    // header of source, frame kind 1) that holds only the configuration:
    // for MPEG-4 the bytes before the first group-of-VOP (00 00 01 B3) or
    // VOP (00 00 01 B6) start code; for QBox the boxes flagged as
    // configuration, or, when none is, one box built from the SPS and PPS
    // NAL units found in the payloads. source is not changed. Returns 1 and
    // sets *out, or 0 with *out null when there is nothing to split
    // (another kind or format, no data, no configuration found).
    static int SplitVolAndIFrame(const CMediaObj* source, CMediaObj** out);

    // Appends the Annex-B payloads of the H.264 boxes in the QBox bytes at
    // source to target and stores their total length in *outLength. target
    // needs room for sourceLength bytes: the output is never longer than the
    // input. Boxes of other stream types are skipped. Parsing stops at the
    // first box that is malformed or runs past sourceLength; what came
    // before it is kept. Returns 1 when at least one box was read, else 0.
    static int ExtractQBox(const uint8_t* source, uint8_t* target, int32_t sourceLength, int32_t* outLength);

private:
    void CopyHeaderTo(CMediaObj* target) const;
    void UpdateDataSize();
    uint8_t* AllocateSlot(uint8_t** slot, int32_t* slotLength, int32_t length);
    void TakeOwnershipOfOther(uint8_t** keepSlot);
};

} // namespace media_util
