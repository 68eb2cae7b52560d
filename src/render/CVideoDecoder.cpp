#include "render/CVideoDecoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ipcamview/vcodec.h"

using media_util::CMediaObj;

const uint8_t CVideoDecoder::kAlignMarker[kAlignMarkerSize] = {0x19, 0x74, 0x10, 0x10,
                                                               0x74, 0x19, 0x01, 0x01};

static_assert(CVideoDecoder::kAlignMarkerSize == VCODEC_ALIGN_MARKER_SIZE,
              "the codec skips exactly the marker the decoder writes");
static_assert(CVideoDecoder::kPictureSlack >= CVideoDecoder::kAlignMarkerSize,
              "a buffer with the marker still holds the whole picture");

CVideoDecoder::CVideoDecoder() = default;

CVideoDecoder::~CVideoDecoder() {
    ReleaseCodecHandle();
    mOutputQueue.Clear();
    delete[] mpQBoxBuffer;
    mpQBoxBuffer = nullptr;
    ClearPending();
}

void CVideoDecoder::ReleaseCodecHandle() {
    if (mCodecHandle >= 0)
        ReleaseCodec(mCodecHandle);
    mCodecHandle = kNoCodec;
}

void CVideoDecoder::ClearPending() {
    for (SPending& entry : mPending)
        delete entry.mpHeader;
    mPending.clear();
}

void CVideoDecoder::Setup(const CMediaObj* input, const CMediaObj* output) {
    const CMediaObj none;
    if (input == nullptr)
        input = &none;
    if (output == nullptr)
        output = &none;
    mOutputQueue.Clear();
    ClearPending();
    ReleaseCodecHandle();
    if (input->mVideoFormat != media_util::kVideoNone)
        mCodecHandle = CreateCodec(input->mVideoFormat, output->mVideoFormat, input->mWidth, input->mHeight,
                                   kCodecFrameRate);
    delete[] mpQBoxBuffer;
    mpQBoxBuffer = nullptr;
    if (input->mVideoFormat == media_util::kVideoH264QBox)
        mpQBoxBuffer = new (std::nothrow) uint8_t[kQBoxBufferSize];
    mQBoxFill = 0;
    mDroppedInputs = 0;
    mQBoxOverflows = 0;
    mWaitForKeyFrame = false;
    input->CloneMe(&mInputFormat, CMediaObj::kCloneHeader);
    output->CloneMe(&mOutputFormat, CMediaObj::kCloneHeader);
}

CVideoDecoder* CVideoDecoder::CreateDecoderFrom(const CVideoDecoder* decoder) {
    if (decoder == nullptr)
        return nullptr;
    auto* copy = new CVideoDecoder;
    copy->Setup(&decoder->mInputFormat, &decoder->mOutputFormat);
    return copy;
}

int CVideoDecoder::BitsPerPixel(int32_t pixelCode) {
    switch (pixelCode) {
    case 0:
        return 0;
    case media_util::kPixelRgb24:
        return 24;
    case media_util::kPixelRgb16:
        return 16;
    case media_util::kPixelI420:
        return 12;
    default:
        return 32;
    }
}

int64_t CVideoDecoder::Stride(int32_t pixelCode, int32_t width) {
    if (width <= 0)
        return 0;
    const int64_t bytes = (int64_t(width) * BitsPerPixel(pixelCode) + 7) / 8;
    return (bytes + 3) / 4 * 4;
}

int64_t CVideoDecoder::PictureSize(int32_t pixelCode, int32_t width, int32_t height) {
    return Stride(pixelCode, width) * std::abs(int64_t(height));
}

uint8_t* CVideoDecoder::LayOutPictureBuffer(uint8_t* buffer) {
    if (buffer == nullptr || reinterpret_cast<uintptr_t>(buffer) % kPictureAlignment == 0)
        return buffer;
    memcpy(buffer, kAlignMarker, kAlignMarkerSize);
    return buffer + kAlignMarkerSize;
}

const uint8_t* CVideoDecoder::PictureBytes(const uint8_t* buffer, int32_t length) {
    if (buffer != nullptr && reinterpret_cast<uintptr_t>(buffer) % kPictureAlignment != 0 &&
        length >= kAlignMarkerSize && memcmp(buffer, kAlignMarker, kAlignMarkerSize) == 0)
        return buffer + kAlignMarkerSize;
    return buffer;
}

void CVideoDecoder::DiscardQBoxContent() {
    mQBoxFill = 0;
    ClearPending();
}

bool CVideoDecoder::AdmitQBoxInput(const CMediaObj& in) {
    const bool key =
        in.mFrameKind == media_util::kFrameKeyWithConfig || in.mFrameKind == media_util::kFrameKey;
    if (mWaitForKeyFrame) {
        if (!key) {
            ++mDroppedInputs;
            return false;
        }
        mWaitForKeyFrame = false;
    }
    if (in.mDataLength <= kQBoxBufferSize - mQBoxFill)
        return true;
    // What the buffer holds has not given a picture in a whole buffer's
    // worth of stream (no key frame yet, or a damaged one), or the input is
    // larger than any picture this buffer is meant for. Keeping either
    // would stop the stream for good: start again clean at a key frame.
    ++mQBoxOverflows;
    DiscardQBoxContent();
    if (key && in.mDataLength <= kQBoxBufferSize)
        return true;
    ++mDroppedInputs;
    mWaitForKeyFrame = true;
    return false;
}

void CVideoDecoder::MatchPending(int32_t consumed, CMediaObj* picture) {
    if (mPending.empty())
        return;
    // The oldest input with bytes left holds the start of the access unit
    // the codec just finished: the picture is that input's frame.
    mPending.front().mpHeader->CloneMe(picture, CMediaObj::kCloneHeader);
    // Inputs whose bytes are all used are done. Dropping them here, and not
    // one entry per picture, keeps the list in step with the codec: an
    // input that gives no picture of its own (a damaged frame, predicted
    // frames before the first key frame, a configuration alone) must not
    // push every later picture one input back in time, and an input that
    // held two frames gives both pictures its header.
    size_t done = 0;
    while (done < mPending.size() && mPending[done].mEnd <= consumed) {
        delete mPending[done].mpHeader;
        ++done;
    }
    mPending.erase(mPending.begin(), mPending.begin() + long(done));
    for (SPending& entry : mPending)
        entry.mEnd -= consumed;
}

uint32_t CVideoDecoder::DecodeObj(const CMediaObj* in) {
    if (in == nullptr || in->mVideoFormat != mInputFormat.mVideoFormat ||
        in->mAudioFormat != mInputFormat.mAudioFormat || in->mpData == nullptr || in->mDataLength <= 0)
        return 0;
    const bool qbox = in->mVideoFormat == media_util::kVideoH264QBox;
    if (qbox && mpQBoxBuffer == nullptr)
        return 0;

    auto* picture = new CMediaObj;
    in->CloneMe(picture, CMediaObj::kCloneHeader);
    picture->mVideoFormat = mOutputFormat.mVideoFormat;
    picture->mAudioFormat = mOutputFormat.mAudioFormat;
    picture->mFrameKind = media_util::kFrameKey;
    picture->mOwnsData = 1;
    // The stream's bytes the picture stands for, not its pixels': what a
    // host's bit rate counts (an H.264 picture gets those of the input its
    // access unit began in, with that input's header).
    picture->mByteCount = in->mByteCount > 0 ? in->mByteCount : in->mDataLength + in->mDataLength2;
    const int64_t size = PictureSize(picture->mVideoFormat, picture->mWidth, picture->mHeight);
    if (size <= 0 || size > CMediaObj::kMaxDataSize - kPictureSlack || (qbox && !AdmitQBoxInput(*in))) {
        delete picture;
        return 0;
    }
    const int32_t bufferLength = int32_t(size) + kPictureSlack;
    uint8_t* buffer = CMediaObj::AllocData(bufferLength);
    if (buffer == nullptr) {
        delete picture;
        return 0;
    }
    LayOutPictureBuffer(buffer);

    const uint8_t* input = in->mpData;
    int32_t inputLength = in->mDataLength;
    if (qbox) {
        int32_t extracted = 0;
        CMediaObj::ExtractQBox(in->mpData, mpQBoxBuffer + mQBoxFill, in->mDataLength, &extracted);
        mQBoxFill += extracted;
        auto* header = new CMediaObj;
        picture->CloneMe(header, CMediaObj::kCloneHeader);
        mPending.push_back({header, mQBoxFill});
        input = mpQBoxBuffer;
        inputLength = mQBoxFill;
    }
    picture->AttachData(buffer, bufferLength);

    int32_t consumed = inputLength;
    int32_t outputSize = bufferLength;
    uint32_t pictureSize = 0;
    if (Decode(mCodecHandle, input, &consumed, buffer, &outputSize))
        pictureSize = uint32_t(outputSize);
    while (qbox && pictureSize > 0) {
        consumed = std::clamp(consumed, 0, mQBoxFill);
        MatchPending(consumed, picture);
        if (mQBoxFill <= consumed) {
            mQBoxFill = 0;
            break;
        }
        memmove(mpQBoxBuffer, mpQBoxBuffer + consumed, size_t(mQBoxFill - consumed));
        mQBoxFill -= consumed;
        if (consumed == 0 || consumed >= kCatchUpMaxConsumed || mQBoxFill <= kCatchUpMinRemaining)
            break;
        consumed = mQBoxFill;
        outputSize = bufferLength;
        if (!Decode(mCodecHandle, mpQBoxBuffer, &consumed, buffer, &outputSize))
            break;
        pictureSize = uint32_t(outputSize);
    }
    // A catch-up call that finds no further picture does not undo the one
    // before it: the codec keeps the last access unit until the next one
    // begins, so the loop normally ends that way, and vcodec leaves the
    // buffer alone when it returns no picture.
    if (pictureSize == 0) {
        delete picture;
        return 0;
    }
    if (!mOutputQueue.Enque(picture))
        delete picture;
    return pictureSize;
}

int CVideoDecoder::TakePicture(CMediaObj** out) {
    if (out == nullptr)
        return 0;
    *out = mOutputQueue.Deque();
    return *out != nullptr ? 1 : 0;
}

int CVideoDecoder::DecodeAndTake(const CMediaObj* in, CMediaObj** out) {
    if (out != nullptr)
        *out = nullptr;
    if (DecodeObj(in) == 0)
        return 0;
    return TakePicture(out);
}
