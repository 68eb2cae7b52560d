// Handles of the codec library: creation checks, stale and invalid handles,
// and handles used from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

#include "TestMedia.h"
#include "ipcamview/vcodec.h"

using namespace ipcam::test;

namespace {

TEST(CCodecTest, CreateAcceptsOnlyKnownFormatsAndSaneSizes) {
    struct Case {
        int32_t mFormat, mCode, mWidth, mHeight;
        bool mOk;
    } cases[] = {
        {1000, 100, 320, 240, true},    {1005, 120, 320, -240, true},   {1010, 130, 1920, 1080, true},
        {1010, 0, 320, 240, true},      {1000, 999, 8192, -8192, true}, {1001, 100, 320, 240, false},
        {0, 100, 320, 240, false},      {-1, 100, 320, 240, false},     {1000, 100, 0, 240, false},
        {1000, 100, 320, 0, false},     {1000, 100, -320, 240, false},  {1005, 100, 8193, 240, false},
        {1010, 100, 320, -8193, false}, {1010, 100, 320, 8193, false},
    };
    for (const Case& c : cases) {
        int32_t handle = CreateCodec(c.mFormat, c.mCode, c.mWidth, c.mHeight, 30);
        EXPECT_EQ(c.mOk, handle >= 0) << c.mFormat << " " << c.mCode << " " << c.mWidth << "x" << c.mHeight;
        if (handle >= 0) {
            EXPECT_EQ(1, ReleaseCodec(handle));
        }
    }
}

TEST(CCodecTest, InvalidHandlesFailWithoutTouchingAnything) {
    int32_t released = CreateCodec(1000, 100, 16, 16, 30);
    ASSERT_GE(released, 0);
    ASSERT_EQ(1, ReleaseCodec(released));
    // The next codec must not answer to the released handle's number.
    int32_t live = CreateCodec(1000, 100, 16, 16, 30);
    ASSERT_GE(live, 0);
    EXPECT_NE(released, live);
    uint8_t in[4] = {0xFF, 0xD8, 0xFF, 0xD9};
    uint8_t out[64];
    for (int32_t handle : {released, -1, -2, INT32_MIN, live + 1, INT32_MAX, 0, 1}) {
        memset(out, 0x42, sizeof out);
        int32_t length = 4, size = sizeof out;
        EXPECT_EQ(0, Decode(handle, in, &length, out, &size)) << handle;
        EXPECT_EQ(4, length) << handle;
        EXPECT_EQ(int32_t(sizeof out), size) << handle;
        EXPECT_EQ(0x42, out[0]);
        EXPECT_EQ(0, ReleaseCodec(handle)) << handle;
    }
    // Null pointers on a live handle.
    int32_t length = 4, size = sizeof out;
    EXPECT_EQ(0, Decode(live, in, nullptr, out, &size));
    EXPECT_EQ(0, Decode(live, in, &length, out, nullptr));
    EXPECT_EQ(0, Decode(live, nullptr, &length, out, &size));
    length = -5;
    size = sizeof out;
    EXPECT_EQ(0, Decode(live, in, &length, out, &size));
    length = 4;
    EXPECT_EQ(0, Decode(live, in, &length, nullptr, &size));
    EXPECT_EQ(1, ReleaseCodec(live));
    EXPECT_EQ(0, ReleaseCodec(live));
}

TEST(CCodecTest, TableFillsUpAndRecovers) {
    std::vector<int32_t> handles;
    for (;;) {
        int32_t h = CreateCodec(1000, 100, 16, 16, 30);
        if (h < 0)
            break;
        handles.push_back(h);
        ASSERT_LT(handles.size(), 100000u) << "the table has no limit";
    }
    EXPECT_FALSE(handles.empty());
    EXPECT_GE(ReleaseCodec(handles.back()), 1);
    handles.pop_back();
    int32_t again = CreateCodec(1000, 100, 16, 16, 30);
    EXPECT_GE(again, 0);
    handles.push_back(again);
    for (int32_t h : handles)
        EXPECT_EQ(1, ReleaseCodec(h));
}

// Several threads each decode their own stream on their own handle while
// others create and release handles; every thread gets every picture.
TEST(CCodecTest, HandlesWorkInParallel) {
    av_log_set_level(AV_LOG_QUIET);
    TempDir dir("vcodec-threads");
    std::string path = dir.File("in.h264");
    ASSERT_EQ(0, Generate(path, 160, 120, 8,
                          "-c:v libx264 -profile:v baseline -preset ultrafast -x264-params aud=1 -f h264"));
    Bytes stream = ReadFile(path);
    stream.insert(stream.end(), {0, 0, 0, 1, 9, 0xF0});
    std::vector<Bytes> ref = ReferenceFrames(path, "yuv420p", 160, 120);
    ASSERT_EQ(8u, ref.size());

    constexpr int kThreads = 4;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 3; ++round) {
                int32_t handle = CreateCodec(1010, 130, 160, -120, 30);
                if (handle < 0) {
                    ++failures;
                    return;
                }
                Bytes out(160 * 120 * 3 / 2);
                size_t pos = 0, pictures = 0;
                for (;;) {
                    int32_t length = int32_t(stream.size() - pos);
                    int32_t size = int32_t(out.size());
                    if (!Decode(handle, stream.data() + pos, &length, out.data(), &size))
                        break;
                    if (pictures >= ref.size() || out != ref[pictures])
                        ++failures;
                    ++pictures;
                    pos += size_t(length);
                }
                if (pictures != ref.size())
                    ++failures;
                ReleaseCodec(handle);
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i)
            ReleaseCodec(CreateCodec(1005, 32, 64, 64, 30));
    });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(0, failures.load());
}

} // namespace
