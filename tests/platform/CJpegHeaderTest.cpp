#include "platform/CJpegHeader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "PlatformTestFiles.h"

using media_util::CJpegHeader;
using platform_test::Bytes;

namespace {

// The fields a simulated device stamps into its images.
struct Stamp {
    uint32_t machineCode = 0x1412;
    uint16_t year = 2026;
    uint8_t month = 12, day = 6, hour = 7, minute = 15, second = 30;
    uint16_t ms = 250;
    uint8_t channelByte = 2; // channel 3
    uint8_t alarm = 0x05;
    uint32_t sequence = 123456;
    uint16_t width = 704, height = 576;
    uint8_t mask = 0x0F;
};

void PutLe(Bytes& b, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// The image with the device's APP12 segment right after its SOI, laid out
// from the documented offsets (counted from the start of the image).
Bytes Stamped(const Bytes& jpeg, const Stamp& s) {
    Bytes seg(2 + 62, 0);
    seg[0] = 0xFF;
    seg[1] = 0xEC;
    seg[3] = CJpegHeader::kSegmentLength; // JPEG lengths are big-endian
    std::memcpy(&seg[4], "IPCH", 4);
    PutLe(seg, CJpegHeader::kOffsetMachineCode - 2, s.machineCode, 4);
    PutLe(seg, CJpegHeader::kOffsetYear - 2, s.year, 2);
    const uint8_t clock[] = {s.month, s.day, s.hour, s.minute, s.second};
    std::memcpy(&seg[14], clock, 5);
    PutLe(seg, CJpegHeader::kOffsetMilliseconds - 2, s.ms, 2);
    seg[22] = s.channelByte;
    seg[23] = s.alarm;
    PutLe(seg, CJpegHeader::kOffsetChecksum - 2, 0xBEEF, 2);
    PutLe(seg, CJpegHeader::kOffsetSequence - 2, s.sequence, 4);
    PutLe(seg, CJpegHeader::kOffsetWidth - 2, s.width, 2);
    PutLe(seg, CJpegHeader::kOffsetHeight - 2, s.height, 2);
    seg[38] = s.mask;
    Bytes out = jpeg;
    out.insert(out.begin() + 2, seg.begin(), seg.end());
    return out;
}

// Orders times as calendar values, for "between" checks.
std::tuple<int, int, int, int, int, int, int> Key(const SYSTEMTIME& t) {
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

class CJpegHeaderTest : public ::testing::Test {
protected:
    // One real JPEG image from the ffmpeg command-line tool, shared by all tests.
    static void SetUpTestSuite() {
        const std::string path = platform_test::TempPath("plain.jpg");
        platform_test::RunCommand(
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=64x48 -frames:v 1 "
            "-f image2 -c:v mjpeg '" +
            path + "' 2>&1");
        sPlain = platform_test::ReadFile(path);
        std::remove(path.c_str());
    }

    void SetUp() override {
        ASSERT_GT(sPlain.size(), 100u) << "ffmpeg did not produce a JPEG image";
        GetLocalTime(&mBefore);
    }

    // Reads the header from an exact-size heap copy, so that a read past the
    // given length is caught by AddressSanitizer.
    static CJpegHeader Read(const Bytes& image, size_t length, size_t offset = 0) {
        Bytes exact(image.begin(), image.begin() + long(length));
        return CJpegHeader(exact.empty() ? nullptr : exact.data(), exact.size(), offset);
    }

    // Without a usable stamp the time is the local time of construction.
    void ExpectLocalTime(const CJpegHeader& h, const std::string& what) {
        SYSTEMTIME after, t;
        GetLocalTime(&after);
        h.GetTime(&t);
        EXPECT_LE(Key(mBefore), Key(t)) << what << ": not the local time";
        EXPECT_LE(Key(t), Key(after)) << what << ": not the local time";
    }

    void ExpectNoHeader(const CJpegHeader& h, const std::string& what) {
        EXPECT_FALSE(h.HasHeader()) << what;
        EXPECT_EQ(0, h.GetMachineCode() | h.GetWidth() | h.GetHeight() | h.GetAlarm() | h.GetChannel() |
                         h.GetChannelMask() | int(h.GetSequence()))
            << what;
        ExpectLocalTime(h, what);
    }

    SYSTEMTIME mBefore{};
    static Bytes sPlain;
};

Bytes CJpegHeaderTest::sPlain;

TEST_F(CJpegHeaderTest, ReadsEveryFieldOfADeviceImageThatFfprobeStillOpens) {
    Stamp extreme;
    extreme.machineCode = extreme.sequence = 0xFFFFFFFF;
    extreme.channelByte = 0xF3; // only the low 4 bits are the channel
    extreme.alarm = extreme.mask = 0xFF;
    extreme.width = extreme.height = 0xFFFF;
    // A leap day, a Thursday, at the last millisecond.
    extreme.year = 2024, extreme.month = 2, extreme.day = 29;
    extreme.hour = 23, extreme.minute = extreme.second = 59, extreme.ms = 999;
    const struct {
        Stamp stamp;
        int code, width, height, alarm, channel, mask;
        uint32_t sequence;
        std::tuple<int, int, int, int, int, int, int> time;
        int weekday;
    } cases[] = {{Stamp{}, 0x1412, 704, 576, 5, 3, 0x0F, 123456, {2026, 12, 6, 7, 15, 30, 250}, 0},
                 {extreme, -1, 0xFFFF, 0xFFFF, 0xFF, 4, 0xFF, 0xFFFFFFFF, {2024, 2, 29, 23, 59, 59, 999}, 4}};
    for (const auto& c : cases) {
        const Bytes image = Stamped(sPlain, c.stamp);
        const CJpegHeader h(image.data(), image.size(), 0);
        EXPECT_TRUE(h.HasHeader());
        EXPECT_EQ(std::make_tuple(c.code, c.width, c.height, c.alarm, c.channel, c.mask, c.sequence),
                  std::make_tuple(h.GetMachineCode(), h.GetWidth(), h.GetHeight(), h.GetAlarm(),
                                  h.GetChannel(), h.GetChannelMask(), h.GetSequence()));
        SYSTEMTIME t;
        h.GetTime(&t);
        EXPECT_EQ(c.time, Key(t));
        EXPECT_EQ(c.weekday, t.wDayOfWeek);
    }
    // The documented layout must make a valid JPEG segment, or devices built
    // to it would send images that decoders refuse.
    const std::string path = platform_test::TempPath("stamped.jpg");
    platform_test::WriteFile(path, Stamped(sPlain, Stamp{}));
    int status = -1;
    const std::string out = platform_test::RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 '" + path + "'",
        &status);
    std::remove(path.c_str());
    EXPECT_EQ(0, status);
    EXPECT_EQ("64,48\n", out);
}

TEST_F(CJpegHeaderTest, ImagesWithoutADeviceHeader) {
    ExpectNoHeader(CJpegHeader(sPlain.data(), sPlain.size(), 0), "plain JFIF image");
    ExpectNoHeader(CJpegHeader(nullptr, 100, 0), "null data");
    const Bytes stamped = Stamped(sPlain, Stamp{});
    // The segment length is big-endian at 4, the magic at 6.
    const struct {
        const char* what;
        void (*change)(Bytes&);
    } cases[] = {
        {"no SOI", [](Bytes& b) { b[1] = 0xD9; }},
        {"APP13 instead of APP12", [](Bytes& b) { b[3] = 0xED; }},
        {"wrong magic", [](Bytes& b) { b[9] = 'h'; }},
        {"segment too short for the channel mask",
         [](Bytes& b) { b[5] = CJpegHeader::kMinSegmentLength - 1; }},
        {"segment length 0", [](Bytes& b) { b[5] = 0; }},
        {"segment running past the image", [](Bytes& b) { b[4] = b[5] = 0xFF; }},
        // The segment must be the first one after SOI.
        {"APP12 not right after SOI",
         [](Bytes& b) { std::rotate(b.begin() + 2, b.begin() + 2 + 64, b.begin() + 2 + 64 + 18); }},
    };
    for (const auto& c : cases) {
        Bytes image = stamped;
        c.change(image);
        ExpectNoHeader(Read(image, image.size()), c.what);
    }
}

TEST_F(CJpegHeaderTest, TruncatedOrOffsetImagesNeverReadPastTheirLength) {
    const Bytes image = Stamped(sPlain, Stamp{});
    for (size_t n = 0; n <= image.size(); ++n) {
        const CJpegHeader h = Read(image, n);
        EXPECT_EQ(n >= CJpegHeader::kHeaderSize, h.HasHeader()) << "length " << n;
        if (n < CJpegHeader::kHeaderSize)
            ExpectNoHeader(h, "truncated to " + std::to_string(n));
    }
    // A shorter segment that still covers the channel mask is read, up to its end.
    Bytes shortImage = image;
    shortImage[5] = CJpegHeader::kMinSegmentLength;
    const size_t needed = 4 + CJpegHeader::kMinSegmentLength;
    EXPECT_EQ(0x0F, Read(shortImage, needed).GetChannelMask());
    EXPECT_FALSE(Read(shortImage, needed - 1).HasHeader());
    // The image may start inside the data; offsets count from the data.
    Bytes data = image;
    data.insert(data.begin(), 7, 0xAA);
    const struct {
        size_t length, offset;
        bool header;
    } cases[] = {{data.size(), 7, true},
                 {data.size(), 6, false},
                 {7, 7, false},
                 {7, 100, false},
                 {7 + CJpegHeader::kHeaderSize - 1, 7, false},
                 {7 + CJpegHeader::kHeaderSize, 7, true}};
    for (const auto& c : cases)
        EXPECT_EQ(c.header, Read(data, c.length, c.offset).HasHeader()) << c.length << " at " << c.offset;
}

TEST_F(CJpegHeaderTest, InvalidStampedTimeGivesLocalTimeButKeepsTheOtherFields) {
    const struct {
        const char* what;
        void (*change)(Stamp&);
    } cases[] = {
        {"all zero", [](Stamp& s) { s.year = 0, s.month = 0, s.day = 0; }},
        {"month 13", [](Stamp& s) { s.month = 13; }},
        {"29 February 2026", [](Stamp& s) { s.month = 2, s.day = 29; }},
        {"hour 24", [](Stamp& s) { s.hour = 24; }},
        {"1000 ms", [](Stamp& s) { s.ms = 1000; }},
    };
    for (const auto& c : cases) {
        Stamp s;
        c.change(s);
        const Bytes image = Stamped(sPlain, s);
        const CJpegHeader h(image.data(), image.size(), 0);
        EXPECT_TRUE(h.HasHeader()) << c.what;
        EXPECT_EQ(123456u, h.GetSequence()) << c.what;
        ExpectLocalTime(h, c.what);
    }
}

} // namespace
