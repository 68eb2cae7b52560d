// The decoder wrapper against the real codec library, loaded through the
// import library as the viewer loads it, on JPEG, MPEG-4 and H.264 made by
// the ffmpeg tool at set-up. Pictures are compared with ffmpeg's own decode:
// MPEG-4 and H.264 go through the same libavcodec and libswscale and agree
// byte for byte, JPEG goes through libjpeg-turbo and agrees by PSNR.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "TestMedia.h"
#include "ipcamview/vcodec.h"
#include "platform/CMediaObj.h"
#include "render/CVideoDecoder.h"

using media_util::CMediaObj;
using namespace ipcam::test;

namespace {

using Picture = std::unique_ptr<CMediaObj>;

constexpr int kWidth = 352;
constexpr int kHeight = 240;
const Bytes kDelimiter = {0, 0, 0, 1, 9, 0xF0}; // begins a unit, so the one before it is complete

// An H.264 stream as a camera sends it: the configuration (SPS and PPS) in a
// box of its own before every key frame, each access unit in its box.
struct H264Stream {
    Bytes mConfig;
    std::vector<Bytes> mUnits; // without SPS and PPS
    std::vector<bool> mKey;
    std::vector<Bytes> mReference; // ffmpeg's I420 pictures, tight, top-down
};

struct Media {
    Bytes mJpeg;
    std::map<int32_t, std::vector<Bytes>> mJpegReference;
    std::vector<Bytes> mMpeg4;
    std::map<int32_t, std::vector<Bytes>> mMpeg4Reference;
    H264Stream mPlain; // a moving picture, key frame every 5
    H264Stream mStill; // a still picture: key frames of ~150 KB, predicted frames of a few bytes
    H264Stream mNoisy; // noise at almost lossless quality: every unit ~180 KB, key frame every 10
};
Media* gMedia = new Media;

int NalType(const Bytes& nal) {
    size_t i = 0;
    while (i < nal.size() && nal[i] == 0)
        ++i;
    return i + 1 < nal.size() ? nal[i + 1] & 0x1F : -1;
}

H264Stream LoadH264(const std::string& path) {
    H264Stream s;
    for (const Bytes& unit : SplitAccessUnits(ReadFile(path))) {
        Bytes rest;
        bool key = false;
        for (const Bytes& nal : SplitNalUnits(unit)) {
            int type = NalType(nal);
            if (type == 7 || type == 8) {
                if (s.mUnits.empty())
                    s.mConfig.insert(s.mConfig.end(), nal.begin(), nal.end());
                continue;
            }
            key = key || type == 5;
            rest.insert(rest.end(), nal.begin(), nal.end());
        }
        s.mUnits.push_back(rest);
        s.mKey.push_back(key);
    }
    std::map<int32_t, std::vector<Bytes>> reference = ReferenceFrames(path, kWidth, kHeight);
    for (const Bytes& p : reference[130])
        s.mReference.push_back(Tight(p, 130, kWidth, kHeight, false, true));
    return s;
}

class CVideoDecoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        av_log_set_level(AV_LOG_QUIET);
        TempDir dir("render");
        ASSERT_EQ(0, Generate(kWidth, kHeight, 12,
                              "-c:v mjpeg -q:v 2 -pix_fmt yuvj420p -frames:v 1 -update 1 '" +
                                  dir.File("in.jpg") + "' -c:v mpeg4 -q:v 4 -g 3 -bf 0 -frames:v 6 -f m4v '" +
                                  dir.File("in.m4v") +
                                  "' -c:v libx264 -profile:v baseline -preset veryfast -g 5 -bf 0 "
                                  "-x264-params aud=1:scenecut=0 -f h264 '" +
                                  dir.File("plain.h264") + "'"));
        ASSERT_EQ(
            0, Generate(kWidth, kHeight, 1,
                        "-vf noise=alls=100:allf=u -frames:v 1 -update 1 '" + dir.File("still.png") + "'"));
        ASSERT_EQ(0, ipcam::test::Run(
                         "ffmpeg -nostdin -v error -y -loop 1 -i '" + dir.File("still.png") +
                         "' -frames:v 10 -pix_fmt yuv420p -c:v libx264 -profile:v baseline -preset veryfast "
                         "-g 4 -bf 0 -qp 2 -x264-params aud=1:scenecut=0 -f h264 '" +
                         dir.File("still.h264") + "'"));
        ASSERT_EQ(0,
                  Generate(kWidth, kHeight, 25,
                           "-vf noise=alls=60:allf=t -c:v libx264 -profile:v baseline -preset veryfast -g 10 "
                           "-bf 0 -qp 1 -x264-params aud=1:scenecut=0 -f h264 '" +
                               dir.File("noisy.h264") + "'"));
        Media& m = *gMedia;
        m.mJpeg = ReadFile(dir.File("in.jpg"));
        m.mJpegReference = ReferenceFrames(dir.File("in.jpg"), kWidth, kHeight);
        m.mMpeg4 = SplitMpeg4Frames(ReadFile(dir.File("in.m4v")));
        m.mMpeg4Reference = ReferenceFrames(dir.File("in.m4v"), kWidth, kHeight);
        for (auto* refs : {&m.mJpegReference, &m.mMpeg4Reference})
            for (auto& [code, pictures] : *refs)
                for (Bytes& p : pictures)
                    p = Tight(p, code, kWidth, kHeight, false, true);
        ASSERT_EQ(m.mMpeg4.size(), m.mMpeg4Reference[130].size());
        m.mPlain = LoadH264(dir.File("plain.h264"));
        m.mStill = LoadH264(dir.File("still.h264"));
        m.mNoisy = LoadH264(dir.File("noisy.h264"));
        for (const H264Stream* s : {&m.mPlain, &m.mStill, &m.mNoisy}) {
            ASSERT_FALSE(s->mConfig.empty());
            ASSERT_EQ(s->mUnits.size(), s->mReference.size());
        }
        // What the cases below are built on.
        ASSERT_EQ(12u, m.mPlain.mUnits.size());
        for (const Bytes& unit : m.mPlain.mUnits) // no catch-up in the plain stream
            ASSERT_GE(unit.size(), size_t(CVideoDecoder::kCatchUpMaxConsumed));
        ASSERT_EQ(10u, m.mStill.mUnits.size());
        for (size_t i = 0; i < m.mStill.mUnits.size(); ++i) {
            ASSERT_EQ(i % 4 == 0, bool(m.mStill.mKey[i])) << i;
            if (i % 4 == 0)
                ASSERT_GT(m.mStill.mUnits[i].size(), size_t(CVideoDecoder::kCatchUpMinRemaining)) << i;
            else
                ASSERT_LT(m.mStill.mUnits[i].size(), size_t(CVideoDecoder::kCatchUpMaxConsumed)) << i;
        }
        ASSERT_EQ(25u, m.mNoisy.mUnits.size());
        for (size_t i = 0; i < m.mNoisy.mUnits.size(); ++i) {
            ASSERT_EQ(i % 10 == 0, bool(m.mNoisy.mKey[i])) << i;
            // Five units and a configuration fit the buffer, six do not.
            ASSERT_GT(m.mNoisy.mUnits[i].size(), size_t(CVideoDecoder::kQBoxBufferSize) / 6 + 1000) << i;
            ASSERT_LT(m.mNoisy.mUnits[i].size(), size_t(CVideoDecoder::kQBoxBufferSize) / 5 - 1000) << i;
        }
    }
};

SYSTEMTIME TimeOf(int number) {
    return SYSTEMTIME{2024, 5, 5, 19, 10, WORD(number / 60 % 60), WORD(number % 60), WORD(number * 7 % 1000)};
}

// A media object as the receivers make it, numbered so that the header a
// picture carries tells which input it came from.
std::unique_ptr<CMediaObj> Object(int32_t format, const Bytes& data, int number, int32_t kind) {
    auto object = std::make_unique<CMediaObj>();
    object->mVideoFormat = format;
    object->mWidth = kWidth;
    object->mHeight = kHeight;
    object->mFrameRate = 25000;
    object->mFrameKind = kind;
    object->mFrameNumber = number;
    object->mChannel = 1 + number % 16;
    object->mChannelMask = 1 << (number % 16);
    object->mTime = TimeOf(number);
    object->CopyData(data.data(), int32_t(data.size()));
    return object;
}

// The boxes of one unit, with the configuration box before a key frame.
Bytes UnitBoxes(const H264Stream& s, size_t unit) {
    return s.mKey[unit] ? Cat({QBox(0x03, s.mConfig), QBox(0x06, s.mUnits[unit])})
                        : QBox(0x02, s.mUnits[unit]);
}

int32_t KindOf(const H264Stream& s, size_t unit) {
    return s.mKey[unit] ? media_util::kFrameKeyWithConfig : media_util::kFramePredicted;
}

void SetUpDecoder(CVideoDecoder* decoder, int32_t format, int32_t pixelCode, int32_t height = kHeight) {
    CMediaObj input;
    input.mVideoFormat = format;
    input.mWidth = kWidth;
    input.mHeight = height;
    CMediaObj output;
    output.mVideoFormat = pixelCode;
    output.mWidth = kWidth;
    output.mHeight = -kHeight;
    decoder->Setup(&input, &output);
}

std::vector<Picture> TakeAll(CVideoDecoder* decoder) {
    std::vector<Picture> pictures;
    CMediaObj* picture = nullptr;
    while (decoder->TakePicture(&picture))
        pictures.emplace_back(picture);
    return pictures;
}

// The picture's pixels as tight top-down rows.
Bytes Pixels(const CMediaObj& picture) {
    const int32_t code = picture.mVideoFormat;
    const int64_t size = CVideoDecoder::PictureSize(code, picture.mWidth, picture.mHeight);
    const uint8_t* start = CVideoDecoder::PictureBytes(picture.mpData, picture.mDataLength);
    if (start == nullptr || start + size > picture.mpData + picture.mDataLength)
        return Bytes();
    return Tight(Bytes(start, start + size), code, picture.mWidth, std::abs(picture.mHeight),
                 picture.mHeight > 0, false);
}

void ExpectHeaderOf(const CMediaObj& picture, int number, int32_t pixelCode, int height = kHeight) {
    EXPECT_EQ(number, picture.mFrameNumber);
    EXPECT_EQ(1 + number % 16, picture.mChannel);
    EXPECT_EQ(1 << (number % 16), picture.mChannelMask);
    SYSTEMTIME time = TimeOf(number);
    EXPECT_EQ(0, memcmp(&time, &picture.mTime, sizeof time)) << "time of input " << number;
    EXPECT_EQ(kWidth, picture.mWidth);
    EXPECT_EQ(height, picture.mHeight);
    EXPECT_EQ(25000, picture.mFrameRate);
    EXPECT_EQ(pixelCode, picture.mVideoFormat);
    EXPECT_EQ(media_util::kFrameKey, picture.mFrameKind);
    EXPECT_EQ(1, picture.mOwnsData);
}

// --- Picture layout ---

TEST(CVideoDecoderLayoutTest, StrideAndSizeFollowThePixelCodeWhateverTheHeightSign) {
    struct Case {
        int32_t mCode, mWidth, mHeight;
        int64_t mStride, mSize;
    };
    const Case cases[] = {
        {120, 352, 240, 704, 168960},
        {120, 352, -240, 704, 168960},
        {100, 3, 1, 12, 12},
        {100, 3, -5, 12, 60},
        {130, 5, 2, 8, 16},
        {130, 352, 240, 528, 126720},
        {32, 3, 2, 12, 24},
        {777, 5, -1, 20, 20},
        {100, 352, 240, 1056, 253440},
        {0, 352, 240, 0, 0},
        {120, 0, 240, 0, 0},
        {120, 352, 0, 704, 0},
        {120, -4, 240, 0, 0},
        {100, 1, 1, 4, 4},
        {130, 1, 1, 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << c.mCode << " " << c.mWidth << "x" << c.mHeight);
        EXPECT_EQ(c.mStride, CVideoDecoder::Stride(c.mCode, c.mWidth));
        EXPECT_EQ(c.mSize, CVideoDecoder::PictureSize(c.mCode, c.mWidth, c.mHeight));
    }
}

// A buffer off a 16-byte boundary gets the marker and the codec writes the
// picture after it, as the readers expect; an aligned buffer gets neither,
// even when its picture happens to begin with the marker's bytes.
TEST_F(CVideoDecoderTest, AlignmentMarkerAgreesWithTheCodec) {
    const int32_t code = 120;
    const int32_t size = int32_t(CVideoDecoder::PictureSize(code, kWidth, kHeight));
    const int32_t length = size + CVideoDecoder::kPictureSlack;
    int32_t handle = CreateCodec(VCODEC_FORMAT_JPEG, code, kWidth, -kHeight, 30);
    ASSERT_GE(handle, 0);
    const Bytes& jpeg = gMedia->mJpeg;
    Bytes expected;
    for (int offset : {0, 16, 1, 4, 8, 12, 15}) {
        SCOPED_TRACE(testing::Message() << "buffer at 16n+" << offset);
        void* block = nullptr;
        ASSERT_EQ(0, posix_memalign(&block, 64, size_t(length) + 64 + 1));
        uint8_t* buffer = static_cast<uint8_t*>(block) + offset;
        memset(buffer, 0xEE, size_t(length) + 1);
        uint8_t* start = CVideoDecoder::LayOutPictureBuffer(buffer);
        const bool marked = offset % 16 != 0;
        EXPECT_EQ(buffer + (marked ? 8 : 0), start);
        EXPECT_EQ(marked, memcmp(buffer, CVideoDecoder::kAlignMarker, 8) == 0);
        int32_t consumed = int32_t(jpeg.size());
        int32_t written = length;
        ASSERT_EQ(1, Decode(handle, jpeg.data(), &consumed, buffer, &written));
        EXPECT_EQ(size, written);
        EXPECT_EQ(start, CVideoDecoder::PictureBytes(buffer, length));
        EXPECT_EQ(marked, memcmp(buffer, CVideoDecoder::kAlignMarker, 8) == 0) << "the marker stays";
        EXPECT_EQ(0xEE, buffer[length]) << "written past the buffer";
        Bytes picture(start, start + size);
        if (expected.empty())
            expected = picture;
        EXPECT_EQ(expected, picture);
        if (!marked) {
            memcpy(buffer, CVideoDecoder::kAlignMarker, 8);
            EXPECT_EQ(buffer, CVideoDecoder::PictureBytes(buffer, length)) << "pixels taken for a marker";
        }
        free(block);
    }
    EXPECT_EQ(1, ReleaseCodec(handle));
    EXPECT_EQ(nullptr, CVideoDecoder::PictureBytes(nullptr, 0));
}

// --- JPEG and MPEG-4 ---

TEST_F(CVideoDecoderTest, JpegAndMpeg4PicturesHaveTheirSizeAndTheirInputsHeader) {
    struct Case {
        const char* mName;
        int32_t mFormat, mCode, mSetupHeight;
    };
    const Case cases[] = {
        {"jpeg to 16 bits", 1000, 120, kHeight},          {"jpeg to 24 bits top-down", 1000, 100, -kHeight},
        {"jpeg to 32 bits", 1000, 32, kHeight},           {"jpeg to I420", 1000, 130, kHeight},
        {"mpeg4 to 16 bits", 1005, 120, kHeight},         {"mpeg4 to I420 top-down", 1005, 130, -kHeight},
        {"mpeg4 to other (32 bits)", 1005, 555, kHeight},
    };
    const Media& m = *gMedia;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mName);
        const bool jpeg = c.mFormat == 1000;
        CVideoDecoder decoder;
        SetUpDecoder(&decoder, c.mFormat, c.mCode, c.mSetupHeight);
        ASSERT_GE(decoder.GetCodecHandle(), 0);
        const std::vector<Bytes> frames = jpeg ? std::vector<Bytes>(3, m.mJpeg) : m.mMpeg4;
        const int32_t refCode = c.mCode == 555 ? 32 : c.mCode;
        const std::vector<Bytes>& reference = (jpeg ? m.mJpegReference : m.mMpeg4Reference).at(refCode);
        const int64_t size = CVideoDecoder::PictureSize(c.mCode, kWidth, kHeight);
        for (size_t i = 0; i < frames.size(); ++i) {
            const int number = 40 + int(i);
            auto in = Object(c.mFormat, frames[i], number, media_util::kFrameKey);
            in->mHeight = c.mSetupHeight; // the sign tells the row order of the picture
            CMediaObj* taken = nullptr;
            ASSERT_EQ(1, decoder.DecodeAndTake(in.get(), &taken)) << "frame " << i;
            Picture picture(taken);
            EXPECT_EQ(0, decoder.GetQueuedPictures());
            ExpectHeaderOf(*picture, number, c.mCode, c.mSetupHeight);
            // Counted for a bit rate as the frame it came from, not as pixels.
            EXPECT_EQ(int32_t(frames[i].size()), picture->mByteCount);
            EXPECT_EQ(size + CVideoDecoder::kPictureSlack, picture->mDataLength);
            EXPECT_EQ(picture->mDataLength, picture->mDataSize);
            Bytes pixels = Pixels(*picture);
            const Bytes& want = reference[jpeg ? 0 : i];
            if (jpeg)
                EXPECT_GE(Psnr(pixels, want, refCode), 40.0);
            else
                EXPECT_EQ(want, pixels);
        }
    }
}

// The figures of the 16-bit display picture, through a real decode.
TEST_F(CVideoDecoderTest, CifPictureIn16BitsFillsItsBuffer) {
    CVideoDecoder decoder;
    SetUpDecoder(&decoder, 1000, 120);
    auto in = Object(1000, gMedia->mJpeg, 7, media_util::kFrameKey);
    EXPECT_EQ(168960u, decoder.DecodeObj(in.get()));
    CMediaObj* taken = nullptr;
    ASSERT_EQ(1, decoder.TakePicture(&taken));
    Picture picture(taken);
    EXPECT_EQ(168976, picture->mDataLength);
    EXPECT_EQ(168976, picture->mDataSize);
    EXPECT_GE(CMediaObj::DataCapacity(picture->mpData), 168976);
    EXPECT_EQ(0, decoder.TakePicture(&taken));
    EXPECT_EQ(nullptr, taken);
}

TEST_F(CVideoDecoderTest, FullOutputQueueDropsTheNewestPicture) {
    CVideoDecoder decoder;
    SetUpDecoder(&decoder, 1000, 130);
    const uint32_t size = uint32_t(CVideoDecoder::PictureSize(130, kWidth, kHeight));
    for (int i = 0; i <= CVideoDecoder::kOutputQueueLimit; ++i) {
        auto in = Object(1000, gMedia->mJpeg, i, media_util::kFrameKey);
        EXPECT_EQ(size, decoder.DecodeObj(in.get())) << i;
    }
    std::vector<Picture> pictures = TakeAll(&decoder);
    ASSERT_EQ(size_t(CVideoDecoder::kOutputQueueLimit), pictures.size());
    for (int i = 0; i < CVideoDecoder::kOutputQueueLimit; ++i)
        EXPECT_EQ(i, pictures[size_t(i)]->mFrameNumber);
    CMediaObj* more = nullptr;
    EXPECT_EQ(0, decoder.DecodeAndTake(nullptr, &more));
    EXPECT_EQ(nullptr, more);
}

// Objects the decoder was not set up for give nothing and leave the H.264
// state (buffered bytes, waiting headers, queued pictures) as it was.
TEST_F(CVideoDecoderTest, ObjectOfAnotherFormatIsRejected) {
    const H264Stream& s = gMedia->mPlain;
    struct Case {
        const char* mName;
        std::unique_ptr<CMediaObj> mObject;
    };
    std::vector<Case> cases;
    cases.push_back({"null", nullptr});
    cases.push_back({"jpeg", Object(1000, gMedia->mJpeg, 90, media_util::kFrameKey)});
    cases.push_back({"mpeg4", Object(1005, gMedia->mMpeg4[0], 91, media_util::kFrameKeyWithConfig)});
    cases.push_back({"none", Object(0, UnitBoxes(s, 1), 92, media_util::kFramePredicted)});
    auto audio = Object(1010, UnitBoxes(s, 1), 93, media_util::kFramePredicted);
    audio->mAudioFormat = media_util::kAudioUlaw;
    cases.push_back({"h264 with audio", std::move(audio)});
    auto empty = Object(1010, Bytes(), 94, media_util::kFramePredicted);
    cases.push_back({"h264 without data", std::move(empty)});

    CVideoDecoder decoder;
    SetUpDecoder(&decoder, 1010, 130);
    auto first = Object(1010, UnitBoxes(s, 0), 0, KindOf(s, 0));
    ASSERT_EQ(0u, decoder.DecodeObj(first.get()));
    const int32_t fill = decoder.GetQBoxFill();
    ASSERT_EQ(int32_t(s.mConfig.size() + s.mUnits[0].size()), fill);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mName);
        CMediaObj stale;
        CMediaObj* picture = &stale;
        EXPECT_EQ(0u, decoder.DecodeObj(c.mObject.get()));
        EXPECT_EQ(0, decoder.DecodeAndTake(c.mObject.get(), &picture));
        EXPECT_EQ(nullptr, picture);
        EXPECT_EQ(fill, decoder.GetQBoxFill());
        EXPECT_EQ(1u, decoder.GetPendingCount());
        EXPECT_EQ(0, decoder.GetQueuedPictures());
    }
    // The stream goes on as if nothing had come in between.
    auto second = Object(1010, UnitBoxes(s, 1), 1, KindOf(s, 1));
    CMediaObj* taken = nullptr;
    ASSERT_EQ(1, decoder.DecodeAndTake(second.get(), &taken));
    Picture picture(taken);
    ExpectHeaderOf(*picture, 0, 130);
    EXPECT_EQ(s.mReference[0], Pixels(*picture));
}

// --- H.264 across objects ---

// However the stream is cut into objects, each picture carries the header
// of the object in which its access unit began (the oldest one still
// waiting when the picture comes out) and the list of waiting headers
// stays as short as the codec's hold on the stream.
TEST_F(CVideoDecoderTest, H264PicturesCarryTheHeaderOfTheOldestWaitingInput) {
    const H264Stream& s = gMedia->mPlain;
    const size_t units = s.mUnits.size();
    struct Input {
        Bytes mData;
        int32_t mKind;
    };
    struct Case {
        const char* mName;
        std::vector<Input> mInputs;
        std::vector<int> mFirstInputOfUnit;
    };
    std::vector<Case> cases;
    {
        Case c{"one unit per object", {}, {}};
        for (size_t u = 0; u < units; ++u) {
            c.mFirstInputOfUnit.push_back(int(c.mInputs.size()));
            c.mInputs.push_back({UnitBoxes(s, u), KindOf(s, u)});
        }
        cases.push_back(std::move(c));
    }
    {
        // A late joiner gets the configuration on its own first (the
        // dispatcher's copy), then the stream: the configuration object is
        // the first of the key frame's unit, so the first picture, after
        // three objects, carries its header.
        Case c{"configuration on its own first", {}, {}};
        c.mInputs.push_back({QBox(0x03, s.mConfig), media_util::kFrameKeyWithConfig});
        c.mInputs.push_back({QBox(0x06, s.mUnits[0]), media_util::kFrameKey});
        c.mFirstInputOfUnit.push_back(0);
        for (size_t u = 1; u < units; ++u) {
            c.mFirstInputOfUnit.push_back(int(c.mInputs.size()));
            c.mInputs.push_back({UnitBoxes(s, u), KindOf(s, u)});
        }
        cases.push_back(std::move(c));
    }
    {
        Case c{"each unit in two objects", {}, {}};
        for (size_t u = 0; u < units; ++u) {
            const Bytes& unit = s.mUnits[u];
            const long half = long(unit.size() / 2);
            Bytes head(unit.begin(), unit.begin() + half), tail(unit.begin() + half, unit.end());
            c.mFirstInputOfUnit.push_back(int(c.mInputs.size()));
            c.mInputs.push_back(
                {s.mKey[u] ? Cat({QBox(0x03, s.mConfig), QBox(0x06, head)}) : QBox(0x02, head),
                 KindOf(s, u)});
            c.mInputs.push_back({QBox(0x02, tail), media_util::kFramePredicted});
        }
        cases.push_back(std::move(c));
    }
    for (Case& c : cases) {
        SCOPED_TRACE(c.mName);
        c.mInputs.push_back({QBox(0x02, kDelimiter), media_util::kFramePredicted});
        CVideoDecoder decoder;
        SetUpDecoder(&decoder, 1010, 130);
        std::vector<Picture> pictures;
        for (size_t i = 0; i < c.mInputs.size(); ++i) {
            auto in = Object(1010, c.mInputs[i].mData, int(i), c.mInputs[i].mKind);
            decoder.DecodeObj(in.get());
            for (Picture& p : TakeAll(&decoder))
                pictures.push_back(std::move(p));
            EXPECT_LE(decoder.GetPendingCount(), 2u) << "after object " << i;
        }
        ASSERT_EQ(units, pictures.size());
        for (size_t u = 0; u < units; ++u) {
            SCOPED_TRACE(testing::Message() << "picture " << u);
            ExpectHeaderOf(*pictures[u], c.mFirstInputOfUnit[u], 130);
            EXPECT_EQ(int32_t(c.mInputs[size_t(c.mFirstInputOfUnit[u])].mData.size()),
                      pictures[u]->mByteCount);
            EXPECT_EQ(s.mReference[u], Pixels(*pictures[u]));
        }
        EXPECT_EQ(0, decoder.GetDroppedInputs());
    }
}

// The codec finishes a unit only when the next one has begun: what it did
// not consume moves to the start of the buffer and waits for the next object.
TEST_F(CVideoDecoderTest, PartlyConsumedInputKeepsTheRestAtTheBufferStart) {
    const H264Stream& s = gMedia->mPlain;
    CVideoDecoder decoder;
    SetUpDecoder(&decoder, 1010, 130);
    auto first = Object(1010, UnitBoxes(s, 0), 0, KindOf(s, 0));
    EXPECT_EQ(0u, decoder.DecodeObj(first.get()));
    Bytes held = Cat({s.mConfig, s.mUnits[0]});
    ASSERT_EQ(int32_t(held.size()), decoder.GetQBoxFill());
    EXPECT_EQ(0, memcmp(held.data(), decoder.GetQBoxBuffer(), held.size()));

    auto second = Object(1010, Cat({UnitBoxes(s, 1), UnitBoxes(s, 2)}), 1, KindOf(s, 1));
    EXPECT_EQ(uint32_t(CVideoDecoder::PictureSize(130, kWidth, kHeight)), decoder.DecodeObj(second.get()));
    Bytes rest = Cat({s.mUnits[1], s.mUnits[2]});
    ASSERT_EQ(int32_t(rest.size()), decoder.GetQBoxFill());
    EXPECT_EQ(0, memcmp(rest.data(), decoder.GetQBoxBuffer(), rest.size()));
    EXPECT_EQ(1u, decoder.GetPendingCount());
    std::vector<Picture> pictures = TakeAll(&decoder);
    ASSERT_EQ(1u, pictures.size());
    ExpectHeaderOf(*pictures[0], 0, 130);
    EXPECT_EQ(s.mReference[0], Pixels(*pictures[0]));

    auto third = Object(1010, UnitBoxes(s, 3), 2, KindOf(s, 3));
    decoder.DecodeObj(third.get());
    rest = Cat({s.mUnits[2], s.mUnits[3]});
    ASSERT_EQ(int32_t(rest.size()), decoder.GetQBoxFill());
    EXPECT_EQ(0, memcmp(rest.data(), decoder.GetQBoxBuffer(), rest.size()));
    pictures = TakeAll(&decoder);
    ASSERT_EQ(1u, pictures.size());
    ExpectHeaderOf(*pictures[0], 1, 130);
    EXPECT_EQ(s.mReference[1], Pixels(*pictures[0]));
}

// A still scene: predicted frames of a few bytes, key frames of ~150 KB.
// After a tiny unit with a large backlog behind it, the decoder asks the
// codec for the next picture at once.
TEST_F(CVideoDecoderTest, CatchUpAfterTinyUnitsKeepsPicturesAndHeadersInStep) {
    const H264Stream& s = gMedia->mStill;
    struct Case {
        const char* mName;
        std::vector<std::vector<size_t>> mInputs; // units per object
        // Per picture: the unit it shows and the object whose header it carries.
        std::vector<std::pair<size_t, int>> mPictures;
    };
    const Case cases[] = {
        // Before each key frame the last tiny unit is finished with the key
        // frame still incomplete behind it: the catch-up call finds nothing
        // more, and the tiny unit's picture must still come out.
        {"key frame after tiny units",
         {{0}, {1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}, {9}},
         {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}}},
        // A tiny unit is held when an object brings a key frame and the unit
        // after it: the codec skips through to the key frame's picture, which
        // carries the header of the object it came in, as does the picture
        // of the unit that came with it.
        {"backlog behind a tiny unit",
         {{0}, {1}, {2}, {3}, {4, 5}, {6}, {7}},
         {{0, 0}, {1, 1}, {2, 2}, {4, 4}, {5, 4}, {6, 5}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mName);
        CVideoDecoder decoder;
        SetUpDecoder(&decoder, 1010, 130);
        std::vector<Picture> pictures;
        for (size_t i = 0; i < c.mInputs.size(); ++i) {
            Bytes data;
            for (size_t unit : c.mInputs[i])
                data = Cat({data, UnitBoxes(s, unit)});
            auto in = Object(1010, data, int(i), KindOf(s, c.mInputs[i][0]));
            decoder.DecodeObj(in.get());
            for (Picture& p : TakeAll(&decoder))
                pictures.push_back(std::move(p));
        }
        ASSERT_EQ(c.mPictures.size(), pictures.size());
        for (size_t p = 0; p < pictures.size(); ++p) {
            SCOPED_TRACE(testing::Message() << "picture " << p);
            EXPECT_EQ(s.mReference[c.mPictures[p].first], Pixels(*pictures[p]));
            ExpectHeaderOf(*pictures[p], c.mPictures[p].second, 130);
        }
        EXPECT_LE(decoder.GetPendingCount(), 1u);
    }
}

// --- The QBox buffer's limit ---

// Units of ~180 KB: five fit the buffer, a sixth does not. A stream that
// gives no picture (no key frame yet) fills it; the decoder then starts
// again clean at a key frame and the stream decodes from there.
TEST_F(CVideoDecoderTest, OverflowingInputWaitsForTheNextKeyFrame) {
    const H264Stream& s = gMedia->mNoisy;
    struct Case {
        const char* mName;
        std::vector<std::vector<size_t>> mInputs; // units per object
        int32_t mDropped, mOverflows;
        std::vector<std::pair<size_t, int>> mPictures; // unit shown, object whose header it carries
    };
    const Case cases[] = {
        {"predicted frames without a key frame fill the buffer",
         {{1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}, {9}, {10}, {11}, {12}},
         4, // 6 to 9
         1,
         {{10, 9}, {11, 10}}},
        {"a key frame that does not fit is taken into the emptied buffer",
         {{1}, {2}, {3}, {4}, {5}, {10}, {11}, {12}},
         0,
         1,
         {{10, 5}, {11, 6}}},
        {"an object larger than the whole buffer is dropped even as a key frame",
         {{0}, {1}, {2}, {10, 11, 12, 13, 14, 15}, {16}, {17}, {18}, {19}, {20}, {21}, {22}},
         5, // the large object, 16 to 19
         1,
         {{0, 0}, {1, 1}, {20, 8}, {21, 9}}},
        {"decoding goes on when every object fits",
         {{0}, {1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}, {9}, {10}, {11}},
         0,
         0,
         {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}, {9, 9}, {10, 10}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mName);
        CVideoDecoder decoder;
        SetUpDecoder(&decoder, 1010, 130);
        std::vector<Picture> pictures;
        for (size_t i = 0; i < c.mInputs.size(); ++i) {
            Bytes data;
            for (size_t unit : c.mInputs[i])
                data = Cat({data, UnitBoxes(s, unit)});
            auto in = Object(1010, data, int(i), KindOf(s, c.mInputs[i][0]));
            decoder.DecodeObj(in.get());
            for (Picture& p : TakeAll(&decoder))
                pictures.push_back(std::move(p));
            EXPECT_LE(decoder.GetQBoxFill(), CVideoDecoder::kQBoxBufferSize);
            EXPECT_LE(decoder.GetPendingCount(), 6u);
        }
        EXPECT_EQ(c.mDropped, decoder.GetDroppedInputs());
        EXPECT_EQ(c.mOverflows, decoder.GetQBoxOverflows());
        EXPECT_FALSE(decoder.IsWaitingForKeyFrame());
        ASSERT_EQ(c.mPictures.size(), pictures.size());
        for (size_t p = 0; p < pictures.size(); ++p) {
            SCOPED_TRACE(testing::Message() << "picture " << p);
            EXPECT_EQ(s.mReference[c.mPictures[p].first], Pixels(*pictures[p]));
            ExpectHeaderOf(*pictures[p], c.mPictures[p].second, 130);
        }
    }
}

// --- Set-up ---

TEST_F(CVideoDecoderTest, SetupAgainSwitchesFormatsAndDropsWaitingPictures) {
    const H264Stream& s = gMedia->mPlain;
    CVideoDecoder decoder;
    SetUpDecoder(&decoder, 1010, 130);
    const int32_t h264Handle = decoder.GetCodecHandle();
    ASSERT_GE(h264Handle, 0);
    for (size_t u = 0; u < 3; ++u) {
        auto in = Object(1010, UnitBoxes(s, u), int(u), KindOf(s, u));
        decoder.DecodeObj(in.get());
    }
    ASSERT_EQ(2, decoder.GetQueuedPictures());
    ASSERT_EQ(1u, decoder.GetPendingCount());
    ASSERT_GT(decoder.GetQBoxFill(), 0);

    std::unique_ptr<CVideoDecoder> copy(CVideoDecoder::CreateDecoderFrom(&decoder));
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(1010, copy->GetInputFormat().mVideoFormat);
    EXPECT_EQ(130, copy->GetOutputFormat().mVideoFormat);
    EXPECT_GE(copy->GetCodecHandle(), 0);
    EXPECT_NE(h264Handle, copy->GetCodecHandle());
    EXPECT_EQ(0, copy->GetQBoxFill());
    EXPECT_EQ(0, copy->GetQueuedPictures());

    SetUpDecoder(&decoder, 1000, 120);
    EXPECT_EQ(0, decoder.GetQueuedPictures());
    EXPECT_EQ(0u, decoder.GetPendingCount());
    EXPECT_EQ(0, decoder.GetQBoxFill());
    EXPECT_EQ(nullptr, decoder.GetQBoxBuffer());
    EXPECT_EQ(0, ReleaseCodec(h264Handle)) << "the old codec was released";
    EXPECT_EQ(1000, decoder.GetInputFormat().mVideoFormat);
    EXPECT_EQ(120, decoder.GetOutputFormat().mVideoFormat);
    auto h264 = Object(1010, UnitBoxes(s, 3), 3, KindOf(s, 3));
    EXPECT_EQ(0u, decoder.DecodeObj(h264.get()));
    auto jpeg = Object(1000, gMedia->mJpeg, 50, media_util::kFrameKey);
    CMediaObj* taken = nullptr;
    ASSERT_EQ(1, decoder.DecodeAndTake(jpeg.get(), &taken));
    Picture picture(taken);
    ExpectHeaderOf(*picture, 50, 120);

    // The copy decodes the H.264 stream from its start on a codec of its own.
    std::vector<Picture> pictures;
    for (size_t u = 0; u < 3; ++u) {
        auto in = Object(1010, UnitBoxes(s, u), int(u), KindOf(s, u));
        copy->DecodeObj(in.get());
    }
    pictures = TakeAll(copy.get());
    ASSERT_EQ(2u, pictures.size());
    EXPECT_EQ(s.mReference[1], Pixels(*pictures[1]));
}

// A codec that cannot be made (no size to make it for) and a pixel code
// without pictures give no pictures, and nothing breaks.
TEST_F(CVideoDecoderTest, NoCodecOrNoPixelsGiveNoPictures) {
    struct Case {
        const char* mName;
        int32_t mFormat, mCode, mWidth;
        bool mHandle;
    };
    const Case cases[] = {
        {"no width", 1005, 120, 0, false},
        {"no input format", 0, 120, kWidth, false},
        {"pixel code 0", 1000, 0, kWidth, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mName);
        CVideoDecoder decoder;
        CMediaObj input;
        input.mVideoFormat = c.mFormat;
        input.mWidth = c.mWidth;
        input.mHeight = kHeight;
        CMediaObj output;
        output.mVideoFormat = c.mCode;
        decoder.Setup(&input, &output);
        EXPECT_EQ(c.mHandle, decoder.GetCodecHandle() >= 0);
        const Bytes& data = c.mFormat == 1005 ? gMedia->mMpeg4[0] : gMedia->mJpeg;
        auto in = Object(c.mFormat, data, 1, media_util::kFrameKey);
        CMediaObj* picture = nullptr;
        EXPECT_EQ(0, decoder.DecodeAndTake(in.get(), &picture));
        EXPECT_EQ(nullptr, picture);
    }
    CVideoDecoder unset;
    EXPECT_EQ(CVideoDecoder::kNoCodec, unset.GetCodecHandle());
    EXPECT_EQ(nullptr, CVideoDecoder::CreateDecoderFrom(nullptr));
}

} // namespace
