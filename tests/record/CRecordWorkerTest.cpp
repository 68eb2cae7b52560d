// The recorder worker against a RecKit stand-in that writes down every call:
// the key-frame gate on crafted object sequences, the records it makes, how
// it opens, begins and closes a recording. Passes run on the test's thread
// (Job), so every sequence is exact; one case runs the worker's own thread.
#include "record/CRecordWorker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

using media_util::CMediaObj;

// --- The RecKit stand-in ---

struct SFakeRecKit {
    std::mutex lock;
    std::string calls; // one word per call, separated by blanks
    // The joins alone: "c" configuration, "k" key, "p" predicted records with
    // their lengths, "a" audio blocks; "!" marks a join that failed.
    std::string joins;
    int32_t createResult = 7;
    int32_t setResult = 1;
    int32_t startResult = 1;
    int failJoins = 0; // this many joins fail first
    bool started = false;

    int Add(const std::string& word, int result = 1, bool join = false) {
        std::lock_guard<std::mutex> hold(lock);
        calls += (calls.empty() ? "" : " ") + word;
        if (join)
            joins += (joins.empty() ? "" : " ") + word;
        return result;
    }
    bool JoinResult() {
        if (failJoins > 0) {
            --failJoins;
            return false;
        }
        return started;
    }
} gFake;

int Join(char type, uint32_t length) {
    const bool ok = gFake.JoinResult();
    return gFake.Add(type + std::to_string(length) + (ok ? "" : "!"), ok ? 1 : 0, true);
}

const CRecordWorker::SRecKit kFake = {
    [](int32_t kind, int32_t, int32_t) {
        return gFake.Add("create" + std::to_string(kind), gFake.createResult);
    },
    [](int32_t handle, const wchar_t* info, const wchar_t* thrd) {
        return gFake.Add("info" + std::to_string(handle) + ":" + os::WideToUtf8(info) + ":" +
                             os::WideToUtf8(thrd),
                         gFake.setResult);
    },
    [](int32_t) {
        gFake.started = gFake.startResult != 0;
        return gFake.Add("start", gFake.startResult);
    },
    [](int32_t, const CmsVideoFrame* f) {
        return Join(f->frameType == 2 ? 'c' : f->frameType == 1 ? 'p' : 'k', f->dataLength);
    },
    [](int32_t, const CmsAudioFrame* f) { return Join('a', f->dataLength); },
    [](int32_t) {
        gFake.started = false;
        return gFake.Add("stop");
    },
    [](int32_t) { return gFake.Add("release"); },
    [](int32_t, char*, int32_t) { return 0; },
};

void ResetFake() {
    std::lock_guard<std::mutex> hold(gFake.lock);
    gFake.calls.clear();
    gFake.joins.clear();
    gFake.createResult = 7;
    gFake.setResult = gFake.startResult = 1;
    gFake.failJoins = 0;
    gFake.started = false;
}

// --- Crafted objects ---

constexpr int32_t kMpeg4ConfigBytes = 12; // video object code + VOL
constexpr int32_t kH264ConfigBytes = 40;  // one configuration box

CMediaObj* Video(int32_t format, int32_t kind, std::vector<uint8_t> bytes, int32_t total) {
    auto* object = new CMediaObj;
    object->mVideoFormat = format;
    object->mFrameKind = kind;
    object->mWidth = 640;
    object->mHeight = 480;
    object->mFrameRate = 30000;
    bytes.resize(static_cast<size_t>(std::max<int32_t>(total, static_cast<int32_t>(bytes.size()))), 0x55);
    object->CopyData(bytes.data(), static_cast<int32_t>(bytes.size()));
    return object;
}

// One box: size, "qbox", version and flags 0, stream type 2 (H.264), stream
// id 0, the sample flags, CTS 0, then a start code and filler.
std::vector<uint8_t> QBox(uint8_t flags, size_t payload) {
    const size_t size = 24 + payload;
    std::vector<uint8_t> box(size, 0x42);
    std::fill(box.begin(), box.begin() + 28, 0);
    for (int i = 0; i < 4; ++i)
        box[size_t(i)] = uint8_t(size >> (24 - 8 * i));
    std::memcpy(box.data() + 4, "qbox", 4);
    box[13] = 2;
    box[19] = flags;
    box[27] = 1;
    return box;
}

// One object of a sequence word: M800 an MPEG-4 key frame with its
// configuration of 800 bytes, I an MPEG-4 key frame without, P a predicted
// frame, H800 an H.264 configuration box and IDR box of 800 bytes in all,
// S a configuration box alone, J a JPEG, N a frame of kind 8, A a u-law
// block.
CMediaObj* Make(const std::string& word) {
    const int32_t size = word.size() > 1 ? std::stoi(word.substr(1)) : 0;
    switch (word[0]) {
    case 'M':
        return Video(media_util::kVideoMpeg4, media_util::kFrameKeyWithConfig,
                     {0, 0, 1, 0x01, 0, 0, 1, 0x20, 0xAA, 0xAA, 0xAA, 0xAA, 0, 0, 1, 0xB6, 0x00}, size);
    case 'I':
        return Video(media_util::kVideoMpeg4, media_util::kFrameKey, {0, 0, 1, 0xB6, 0x00}, 40);
    case 'P':
        return Video(media_util::kVideoMpeg4, media_util::kFramePredicted, {0, 0, 1, 0xB6, 0x40}, 6);
    case 'H': {
        std::vector<uint8_t> bytes = QBox(0x03, kH264ConfigBytes - 24);
        const std::vector<uint8_t> idr = QBox(0x06, static_cast<size_t>(size - kH264ConfigBytes - 24));
        bytes.insert(bytes.end(), idr.begin(), idr.end());
        return Video(media_util::kVideoH264QBox, media_util::kFrameKeyWithConfig, bytes, size);
    }
    case 'S':
        return Video(media_util::kVideoH264QBox, media_util::kFrameKeyWithConfig,
                     QBox(0x03, kH264ConfigBytes - 24), kH264ConfigBytes);
    case 'Q':
        return Video(media_util::kVideoH264QBox, media_util::kFramePredicted, QBox(0x02, 6), 30);
    case 'J':
        return Video(media_util::kVideoJpeg, media_util::kFrameKey, {0xFF, 0xD8}, 5000);
    case 'N':
        return Video(media_util::kVideoMpeg4, CRecordWorker::kFrameKindNothing, {0, 0, 1, 0xB6}, 9);
    default: {
        auto* audio = new CMediaObj;
        audio->mAudioFormat = media_util::kAudioUlaw;
        std::vector<uint8_t> block(320, 0xFF);
        audio->CopyData2(block.data(), static_cast<int32_t>(block.size()));
        return audio;
    }
    }
}

// Queues the sequence's objects and runs one pass per object.
void Feed(CRecordWorker& worker, const std::string& sequence) {
    size_t at = 0;
    int objects = 0;
    while (at < sequence.size()) {
        size_t end = sequence.find(' ', at);
        if (end == std::string::npos)
            end = sequence.size();
        ASSERT_TRUE(worker.GetQueue()->Enque(Make(sequence.substr(at, end - at))));
        ++objects;
        at = end + 1;
    }
    for (int i = 0; i < objects; ++i)
        worker.Job();
    EXPECT_EQ(0, worker.GetQueue()->GetCount());
}

class CRecordWorkerTest : public ::testing::Test {
protected:
    void SetUp() override { ResetFake(); }
};

TEST_F(CRecordWorkerTest, KeyFrameGateOnCraftedSequences) {
    const std::string c = std::to_string(kMpeg4ConfigBytes), h = std::to_string(kH264ConfigBytes);
    struct Case {
        const char* name;
        int32_t format;
        const char* sequence;
        int failJoins;
        std::string joins;
    } cases[] = {
        {"nothing before the first key frame, audio included", media_util::kVideoMpeg4, "P A P M800 P A", 0,
         "c" + c + " c800 p6 a320"},
        {"a large key frame while waiting is written once", media_util::kVideoMpeg4, "M2000 P", 0,
         "c" + c + " c2000 p6"},
        {"a large key frame once recording: the remembered configuration, then one key record",
         media_util::kVideoMpeg4, "M800 P M2000 P", 0, "c" + c + " c800 p6 c" + c + " k2000 p6"},
        {"a small key frame once recording stays two records", media_util::kVideoMpeg4, "M800 M800", 0,
         "c" + c + " c800 c" + c + " c800"},
        {"a key frame without configuration gets the remembered one", media_util::kVideoMpeg4, "M800 I", 0,
         "c" + c + " c800 c" + c + " k40"},
        {"a key frame without configuration ends the wait", media_util::kVideoMpeg4, "P I P", 0, "k40 p6"},
        {"kind 8 is consumed without a join", media_util::kVideoMpeg4, "M800 N P", 0, "c" + c + " c800 p6"},
        {"a failed join keeps the wait", media_util::kVideoMpeg4, "M800 P M800 P", 1,
         "c" + c + "! c" + c + " c800 p6"},
        {"a large key frame whose joins fail is tried as a plain key frame", media_util::kVideoMpeg4,
         "M2000 P", 2, "c" + c + "! c" + c + "! k2000 p6"},
        {"configuration alone (a late joiner's first object) does not end the wait",
         media_util::kVideoH264QBox, "S Q H800 Q", 0, "c" + h + " c" + h + " c800 p30"},
        {"JPEG has no wait and no configuration records", media_util::kVideoJpeg, "A J J A", 0,
         "a320 k5000 k5000 a320"},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name);
        ResetFake();
        CRecordWorker worker(kFake);
        ASSERT_NE(0, worker.OpenRecording(L"", t.format, 0, 0, 0, 0));
        gFake.failJoins = t.failJoins;
        Feed(worker, t.sequence);
        EXPECT_EQ(t.joins, gFake.joins);
    }
}

TEST_F(CRecordWorkerTest, OpeningChoosesTheKindAndBeginsUnlessDeferred) {
    struct Case {
        const char* name;
        int32_t format, machineCode, recordMode, createResult, setResult, startResult;
        int result;
        const char* calls;
    } cases[] = {
        {"MPEG-4", media_util::kVideoMpeg4, 0, 0, 7, 1, 1, 1, "create66 info7:f.mkv:thrd start"},
        {"H.264", media_util::kVideoH264QBox, 4752, 0, 7, 1, 1, 1, "create67 info7:f.mkv:thrd start"},
        {"H.264 of the two-stream recorder", media_util::kVideoH264QBox, 5138, 0, 7, 1, 1, 1,
         "create200 info7:f.mkv:thrd start"},
        {"JPEG", media_util::kVideoJpeg, 0, 0, 7, 1, 1, 1, "create65 info7:f.mkv:thrd start"},
        {"another format records as JPEG", 999, 0, 0, 7, 1, 1, 1, "create65 info7:f.mkv:thrd start"},
        {"deferred: created, not begun", media_util::kVideoMpeg4, 0, 1, 7, 1, 1, 1, "create66"},
        {"deferred without a recorder", media_util::kVideoMpeg4, 0, 1, -1, 1, 1, 0, "create66"},
        {"a refused recorder still gets its file information", media_util::kVideoMpeg4, 0, 0, -1, 0, 1, 0,
         "create66 info-1:f.mkv:thrd"},
        {"a failed start closes the recorder", media_util::kVideoMpeg4, 0, 0, 7, 1, 0, 0,
         "create66 info7:f.mkv:thrd start stop release"},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name);
        ResetFake();
        gFake.createResult = t.createResult;
        gFake.setResult = t.setResult;
        gFake.startResult = t.startResult;
        {
            CRecordWorker worker(kFake);
            EXPECT_EQ(t.result, worker.OpenRecording(L"f.mkv", t.format, 0, 0, t.recordMode, t.machineCode));
            EXPECT_EQ(t.calls, gFake.calls);
            worker.CloseRecording();
            worker.CloseRecording();
        }
        // Closing twice, then destroying, stops and releases the recorder once.
        const std::string after = gFake.calls.substr(std::string(t.calls).size());
        EXPECT_EQ(t.result != 0 ? " stop release" : "", after);
    }
}

// Nothing is joined while a deferred recording waits to begin; once begun,
// the gate starts afresh at the next key frame.
TEST_F(CRecordWorkerTest, DeferredRecordingJoinsNothingUntilItBegins) {
    CRecordWorker worker(kFake);
    ASSERT_EQ(1, worker.OpenRecording(L"", media_util::kVideoMpeg4, 0, 0, 1, 0));
    Feed(worker, "M800 P A");
    // The one join tried (the configuration of the key frame) fails, so the
    // wait goes on and the rest is dropped.
    EXPECT_EQ("c" + std::to_string(kMpeg4ConfigBytes) + "!", gFake.joins);
    ResetFake();
    EXPECT_EQ(1, worker.BeginRecording());
    Feed(worker, "P A M800 P A");
    EXPECT_EQ("c" + std::to_string(kMpeg4ConfigBytes) + " c800 p6 a320", gFake.joins);
}

TEST_F(CRecordWorkerTest, VideoRecords) {
    struct Case {
        const char* name;
        int32_t format, kind, frameRate, channel;
        std::vector<int32_t> tags;
        int result;
        uint8_t videoFormat, frameType;
        int32_t recordRate;
        uint32_t value;
    } cases[] = {
        {"JPEG key frame", media_util::kVideoJpeg, media_util::kFrameKey, 30000, 3, {2, 1}, 1, 0, 0, 30, 2},
        {"MPEG-4 with configuration", media_util::kVideoMpeg4, 1, 25000, 16, {}, 1, 1, 2, 25, 0},
        {"H.264 predicted, 7.5 fps", media_util::kVideoH264QBox, 4, 7500, 0, {}, 1, 2, 1, 8, 0},
        {"rate below one frame a second", media_util::kVideoJpeg, 2, 200, 1, {}, 1, 0, 0, 1, 0},
        {"no rate told: recorded as not known", media_util::kVideoJpeg, 2, 0, 1, {}, 1, 0, 0, 0, 0},
        {"a rate no device streams", media_util::kVideoJpeg, 2, 61000, 1, {}, 0, 0, 0, 0, 0},
        {"a format RecKit does not take", 999, 2, 30000, 1, {}, 0, 0, 0, 0, 0},
        {"a decoded picture", media_util::kPixelRgb16, 2, 30000, 1, {}, 0, 0, 0, 0, 0},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name);
        CMediaObj object;
        object.mVideoFormat = t.format;
        object.mFrameKind = t.kind;
        object.mFrameRate = t.frameRate;
        object.mChannel = t.channel;
        object.mTagList = t.tags;
        object.mWidth = 352;
        object.mHeight = -240;
        const uint8_t bytes[] = {1, 2, 3, 4, 5};
        object.CopyData(bytes, sizeof bytes);
        CmsVideoFrame record{};
        ASSERT_EQ(t.result, CRecordWorker::MakeVideoFrame(&object, &record));
        if (t.result == 0) {
            EXPECT_EQ(nullptr, record.pData);
            continue;
        }
        EXPECT_EQ(0, std::memcmp(bytes, record.pData, sizeof bytes));
        EXPECT_NE(object.mpData, record.pData) << "a copy of its own";
        EXPECT_EQ(sizeof bytes, record.dataLength);
        EXPECT_EQ(352, record.width);
        EXPECT_EQ(-240, record.height);
        EXPECT_EQ(t.recordRate, record.frameRate);
        EXPECT_EQ(t.channel, record.channel);
        EXPECT_EQ(t.frameType, record.frameType);
        EXPECT_EQ(t.videoFormat, record.videoFormat);
        EXPECT_EQ(t.value, record.value);
        EXPECT_NE(0, record.time.wYear) << "the time the record was made";
        CRecordWorker::FreeRecordData(&record.pData);
    }
}

TEST_F(CRecordWorkerTest, AudioRecords) {
    struct Case {
        const char* name;
        int32_t format, channels, rate, bits;
        int result;
        uint16_t tag, recordChannels;
        uint32_t recordRate, avgBytes;
        uint16_t recordBits;
    } cases[] = {
        {"u-law as the part names it: codec alone", media_util::kAudioUlaw, 0, 0, 0, 1, 7, 1, 8000, 8000, 8},
        {"u-law with its fields", media_util::kAudioUlaw, 2, 16000, 8, 1, 7, 2, 16000, 16000, 8},
        {"2010", media_util::kAudio2010, 2, 44100, 16, 1, 0xFF, 2, 44100, 4000, 16},
        {"2010 as the codec alone", media_util::kAudio2010, 0, 0, 0, 1, 0xFF, 2, 44100, 4000, 16},
        {"G.726 is not recorded", media_util::kAudio2020, 1, 8000, 16, 0, 0, 0, 0, 0, 0},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name);
        CMediaObj object;
        object.mAudioFormat = t.format;
        object.mAudioChannels = t.channels;
        object.mSampleRate = t.rate;
        object.mBitsPerSample = t.bits;
        const uint8_t bytes[] = {9, 8, 7};
        object.CopyData2(bytes, sizeof bytes);
        CmsAudioFrame record{};
        ASSERT_EQ(t.result, CRecordWorker::MakeAudioFrame(&object, &record));
        if (t.result == 0)
            continue;
        EXPECT_EQ(0, std::memcmp(bytes, record.pData, sizeof bytes));
        EXPECT_EQ(t.tag, record.format.wFormatTag);
        EXPECT_EQ(t.recordChannels, record.format.nChannels);
        EXPECT_EQ(t.recordRate, record.format.nSamplesPerSec);
        EXPECT_EQ(t.avgBytes, record.format.nAvgBytesPerSec);
        EXPECT_EQ(1, record.format.nBlockAlign);
        EXPECT_EQ(t.recordBits, record.format.wBitsPerSample);
        EXPECT_EQ(0, record.format.cbSize);
        CRecordWorker::FreeRecordData(&record.pData);
    }
}

// On its own thread the worker takes what arrives without being woken, and
// the end of the thread closes the recorder there.
TEST_F(CRecordWorkerTest, ThreadJoinsWhatArrivesAndClosesTheRecorderAtItsEnd) {
    CRecordWorker worker(kFake);
    ASSERT_EQ(1, worker.OpenRecording(L"", media_util::kVideoJpeg, 0, 0, 0, 0));
    ASSERT_EQ(1, worker.Start());
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(worker.GetQueue()->Enque(Make("J")));
    worker.Stop();
    const CRecordWorker::SSummary summary = worker.GetSummary();
    EXPECT_TRUE(summary.closed);
    EXPECT_EQ(-1, worker.GetHandle());
    EXPECT_EQ(20 - worker.GetQueue()->GetCount(), summary.videoFrames);
    EXPECT_EQ(summary.videoFrames * 5000, summary.bytes);
    const std::string& calls = gFake.calls;
    EXPECT_EQ(" stop release", calls.substr(calls.size() - 13)) << calls;
}

} // namespace
