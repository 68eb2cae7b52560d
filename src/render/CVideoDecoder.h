// Turns the compressed video of a camera (JPEG, MPEG-4 Visual, H.264 in QBox
// boxes) into pictures of one pixel format, through a vcodec handle.
//
// A decoder is set up for a pair of formats: the input format (video and
// audio format codes, width and height of what the device sends) and the
// output format (the pixel code of the pictures). DecodeObj decodes one
// media object and queues the picture it gives; TakePicture hands the oldest
// queued picture to the caller. A display channel keeps one as the format
// pair from which a decoded source builds its own (CreateDecoderFrom); the
// decoded source's dispatcher feeds that one with DecodeAndTake.
//
// Pictures are media objects with the header of the input they came from
// (time, frame number, channel, size ...), the output format's codes, frame
// kind 2 and an owned buffer laid out as follows (docs/decoding.md):
// - stride = ceil(width x bits per pixel / 8) rounded up to 4 bytes, with
//   bits per pixel 0 for code 0, 24 for 100, 16 for 120, 12 for 130 and 32
//   for any other code; picture size = stride x |height|;
// - the buffer is picture size + kPictureSlack bytes. When the buffer's
//   address is not a multiple of 16 its first 8 bytes are kAlignMarker and
//   the picture starts 8 bytes in; vcodec's Decode recognises the marker
//   and writes after it. Readers find the picture with PictureBytes.
// Row order follows the sign of the input format's height, which the codec
// is created with: positive bottom-up, negative top-down.
//
// H.264 arrives as QBox objects whose access units the codec only finishes
// once the next one has begun, and may come in any slicing. The decoder
// therefore keeps the extracted stream in a QBox buffer of kQBoxBufferSize
// bytes across objects, and a pending list with the header of every input
// whose bytes the codec has not used up: each picture takes the header of
// the oldest input still waiting, the one in which its access unit began,
// so the codec's hold on the stream does not shift time stamps and frame
// numbers. An input that would overflow the buffer is handled by the rule at
// AdmitQBoxInput.
//
// Threads: not locked. One thread at a time calls a decoder (the decoded
// source's dispatcher holds its own lock around every call); a decoder's
// vcodec handle is used by no one else.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/CMediaObj.h"
#include "platform/CMediaQueue.h"

class CVideoDecoder {
public:
    // Pictures the output queue holds before it refuses the newest. The
    // queue also keeps CMediaQueue's byte limit, so 1080p pictures stop
    // earlier; a consumer that takes its picture after every decode never
    // comes near either.
    static constexpr int32_t kOutputQueueLimit = 60;
    // Extracted H.264 bytes held across inputs: a few seconds of a VGA
    // stream, a key frame and more at 1080p.
    static constexpr int32_t kQBoxBufferSize = 1024000;
    // Bytes a picture buffer has beyond the picture, so that the picture
    // can start on a kPictureAlignment boundary behind the marker.
    static constexpr int32_t kPictureSlack = 16;
    static constexpr int32_t kPictureAlignment = 16;
    static constexpr int32_t kAlignMarkerSize = 8;
    static const uint8_t kAlignMarker[kAlignMarkerSize];
    // The frame rate given to CreateCodec; vcodec does not depend on it.
    static constexpr int32_t kCodecFrameRate = 30;
    static constexpr int32_t kNoCodec = -1;
    // After a picture, the codec is asked for another one at once while the
    // last call consumed fewer than kCatchUpMaxConsumed bytes and more than
    // kCatchUpMinRemaining bytes remain: a run of tiny predicted frames in
    // front of a large backlog is skipped through rather than shown late.
    static constexpr int32_t kCatchUpMaxConsumed = 1000;
    static constexpr int32_t kCatchUpMinRemaining = 50000;

    CVideoDecoder();
    virtual ~CVideoDecoder();
    CVideoDecoder(const CVideoDecoder&) = delete;
    CVideoDecoder& operator=(const CVideoDecoder&) = delete;

    // Empties the output queue and the pending list, releases the codec,
    // then, when input's video format code is not 0, creates a codec for
    // (input video code, output pixel code, input width, input height) and
    // keeps its handle, negative on failure. For H.264 (1010) a fresh, empty
    // QBox buffer is allocated; for other formats none is kept. Both formats
    // are copied (header fields only); null means an empty format.
    void Setup(const media_util::CMediaObj* input, const media_util::CMediaObj* output);

    // Decodes one object and queues the picture it gives. Returns the
    // picture's size in bytes as the codec reported it (the buffer is
    // kPictureSlack bytes longer), or 0 when no picture came out: a null
    // object, one without data, one whose video or audio format code is not
    // the input format's, a picture size of 0 (pixel code 0, no width or
    // height), an H.264 input dropped by the overflow rule, or a failed
    // decode. A full output queue drops the new picture, but the size is
    // still returned.
    uint32_t DecodeObj(const media_util::CMediaObj* in);
    // 1 and the oldest queued picture in *out (the caller owns it), or 0
    // when none is queued (or out is null).
    int TakePicture(media_util::CMediaObj** out);
    // DecodeObj, then TakePicture when it gave a picture; 0 (and *out null)
    // otherwise.
    int DecodeAndTake(const media_util::CMediaObj* in, media_util::CMediaObj** out);
    // A new decoder (owned by the caller) set up with decoder's input and
    // output formats; null for a null decoder.
    static CVideoDecoder* CreateDecoderFrom(const CVideoDecoder* decoder);

    // --- Picture layout ---
    // Bits per pixel of an output pixel code.
    static int BitsPerPixel(int32_t pixelCode);
    // Row length in bytes; 0 for a width of 0 or less.
    static int64_t Stride(int32_t pixelCode, int32_t width);
    // stride x |height|.
    static int64_t PictureSize(int32_t pixelCode, int32_t width, int32_t height);
    // Prepares a picture buffer of picture size + kPictureSlack bytes: when
    // buffer is off a kPictureAlignment boundary, writes the marker into its
    // first bytes. Returns where the picture starts.
    static uint8_t* LayOutPictureBuffer(uint8_t* buffer);
    // Where the picture starts in a buffer of length bytes: after a leading
    // marker when the buffer is off a boundary and begins with one, else at
    // the start. Null for a null buffer.
    static const uint8_t* PictureBytes(const uint8_t* buffer, int32_t length);

    // --- State, for the owner and tests ---
    const media_util::CMediaObj& GetInputFormat() const { return mInputFormat; }
    const media_util::CMediaObj& GetOutputFormat() const { return mOutputFormat; }
    int32_t GetCodecHandle() const { return mCodecHandle; }
    int32_t GetQueuedPictures() { return mOutputQueue.GetCount(); }
    // Extracted H.264 bytes not yet consumed by the codec; they start at
    // GetQBoxBuffer() (null unless set up for H.264).
    int32_t GetQBoxFill() const { return mQBoxFill; }
    const uint8_t* GetQBoxBuffer() const { return mpQBoxBuffer; }
    // Inputs whose headers wait for a picture.
    size_t GetPendingCount() const { return mPending.size(); }
    // H.264 inputs not given to the codec because of the overflow rule, and
    // the times the QBox buffer was emptied by it, since Setup.
    int32_t GetDroppedInputs() const { return mDroppedInputs; }
    int32_t GetQBoxOverflows() const { return mQBoxOverflows; }
    // True from an overflow until the next key frame.
    bool IsWaitingForKeyFrame() const { return mWaitForKeyFrame; }

private:
    // One input whose bytes are in the QBox buffer: its header, for the
    // picture it will give, and where its bytes end in the buffer.
    struct SPending {
        media_util::CMediaObj* mpHeader; // owned
        int32_t mEnd;
    };

    // The overflow rule. An input fits when its bytes (extraction never
    // makes them longer) fit behind the fill count. One that does not fit
    // empties the buffer and the pending list, whose contents the codec
    // could not turn into pictures; a key frame (kind 1 or 2) that fits the
    // empty buffer is then taken, anything else is dropped and so is every
    // input after it up to the next key frame, from which decoding goes on.
    // Returns false for a dropped input.
    bool AdmitQBoxInput(const media_util::CMediaObj& in);
    void DiscardQBoxContent();
    // After the codec gave a picture from the first consumed bytes of the
    // QBox buffer: the picture takes the header of the oldest input that
    // still has bytes in the buffer, inputs whose bytes are all consumed
    // leave the list, and the other ends move to where their bytes will be
    // once the consumed ones are gone.
    void MatchPending(int32_t consumed, media_util::CMediaObj* picture);
    void ClearPending();
    void ReleaseCodecHandle();

    media_util::CMediaObj mInputFormat;  // header fields only
    media_util::CMediaObj mOutputFormat; // header fields only
    media_util::CMediaQueue mOutputQueue{kOutputQueueLimit};
    int32_t mCodecHandle = kNoCodec;
    uint8_t* mpQBoxBuffer = nullptr; // kQBoxBufferSize bytes, owned; H.264 only
    int32_t mQBoxFill = 0;
    std::vector<SPending> mPending; // oldest first
    int32_t mDroppedInputs = 0;
    int32_t mQBoxOverflows = 0;
    bool mWaitForKeyFrame = false;
};
