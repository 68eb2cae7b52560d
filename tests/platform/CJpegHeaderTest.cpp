#include "platform/CJpegHeader.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "PlatformTestFiles.h"

using media_util::CJpegHeader;
using platform_test::Bytes;

namespace {

// A field of the device header: offset from the image start, value, width in
// bytes (little-endian, as the devices write them). Written out here rather
// than taken from the class, so that the documented layout is checked too.
struct Field {
    size_t at;
    uint32_t value;
    int bytes;
};
using Fields = std::vector<Field>;

// What a simulated device stamps: SOI, APP12 with its big-endian length 62,
// "IPCH", machine code 0x1412, 2026-12-06 07:15:30.250 (a Sunday), channel 3,
// alarm bits 5, a checksum, sequence 123456, 704 x 576, channels 1 to 4.
const Fields kStamp = {{0, 0xD8FF, 2},  {2, 0xECFF, 2}, {4, 62 << 8, 2}, {6, 0x48435049, 4}, {10, 0x1412, 4},
                       {14, 2026, 2},   {16, 12, 1},    {17, 6, 1},      {18, 7, 1},         {19, 15, 1},
                       {20, 30, 1},     {22, 250, 2},   {24, 2, 1},      {25, 5, 1},         {28, 0xBEEF, 2},
                       {30, 123456, 4}, {36, 704, 2},   {38, 576, 2},    {40, 0x0F, 1}};

// The image with the stamp, then the changes, in front of everything behind its SOI.
Bytes Stamped(const Bytes& jpeg, const Fields& changes = {}) {
    Bytes out(CJpegHeader::kHeaderSize, 0);
    for (const Fields* fields : {&kStamp, &changes})
        for (const Field& f : *fields)
            for (int i = 0; i < f.bytes; ++i)
                out[f.at + size_t(i)] = uint8_t(f.value >> (8 * i));
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

// Orders times as calendar values, for "between" checks.
using Time = std::tuple<int, int, int, int, int, int, int>;
Time Key(const SYSTEMTIME& t) {
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

class CJpegHeaderTest : public ::testing::Test {
protected:
    // One real JPEG image from the ffmpeg command-line tool, shared by all tests.
    static void SetUpTestSuite() {
        const std::string path = platform_test::TempPath("plain.jpg");
        platform_test::RunCommand("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=64x48 "
                                  "-frames:v 1 -f image2 -c:v mjpeg '" +
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
        EXPECT_TRUE(Key(mBefore) <= Key(t) && Key(t) <= Key(after)) << what << ": not the local time";
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

// A stamp whose date and time are no calendar time (a device without a set
// clock writes zeros) gives the local time of reading; the other fields stand.
TEST_F(CJpegHeaderTest, ReadsEveryFieldOfADeviceImageThatFfprobeStillOpens) {
    // Every field at its extreme (only the low 4 bits are the channel); a leap
    // day, a Thursday, at the last millisecond.
    const Fields extreme = {
        {10, 0xFFFFFFFF, 4}, {24, 0xF3, 1}, {25, 0xFF, 1}, {30, 0xFFFFFFFF, 4}, {36, 0xFFFF, 2},
        {38, 0xFFFF, 2},     {40, 0xFF, 1}, {14, 2024, 2}, {16, 2, 1},          {17, 29, 1},
        {18, 23, 1},         {19, 59, 1},   {20, 59, 1},   {22, 999, 2},
    };
    const Time kLocal{};
    const struct {
        Fields changes;
        int code, width, height, alarm, channel, mask;
        uint32_t sequence;
        Time time;
        int weekday;
    } cases[] = {
        {{}, 0x1412, 704, 576, 5, 3, 0x0F, 123456, {2026, 12, 6, 7, 15, 30, 250}, 0},
        {extreme, -1, 0xFFFF, 0xFFFF, 0xFF, 4, 0xFF, 0xFFFFFFFF, {2024, 2, 29, 23, 59, 59, 999}, 4},
        {{{14, 0, 4}}, 0x1412, 704, 576, 5, 3, 0x0F, 123456, kLocal, 0},
        {{{18, 24, 1}}, 0x1412, 704, 576, 5, 3, 0x0F, 123456, kLocal, 0},
        {{{22, 1000, 2}}, 0x1412, 704, 576, 5, 3, 0x0F, 123456, kLocal, 0},
    };
    for (const auto& c : cases) {
        const Bytes image = Stamped(sPlain, c.changes);
        const CJpegHeader h(image.data(), image.size(), 0);
        EXPECT_TRUE(h.HasHeader());
        EXPECT_EQ(std::make_tuple(c.code, c.width, c.height, c.alarm, c.channel, c.mask, c.sequence),
                  std::make_tuple(h.GetMachineCode(), h.GetWidth(), h.GetHeight(), h.GetAlarm(),
                                  h.GetChannel(), h.GetChannelMask(), h.GetSequence()));
        if (c.time == kLocal) {
            ExpectLocalTime(h, "no calendar time");
            continue;
        }
        SYSTEMTIME t;
        h.GetTime(&t);
        EXPECT_EQ(c.time, Key(t));
        EXPECT_EQ(c.weekday, t.wDayOfWeek);
    }
    // The documented layout must make a valid JPEG segment, or devices built
    // to it would send images that decoders refuse.
    const std::string path = platform_test::TempPath("stamped.jpg");
    platform_test::WriteFile(path, Stamped(sPlain));
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
    const struct {
        const char* what;
        Fields changes;
    } cases[] = {
        {"no SOI", {{1, 0xD9, 1}}},
        {"APP13 instead of APP12", {{3, 0xED, 1}}},
        {"wrong magic", {{9, 'h', 1}}},
        {"segment too short for the channel mask", {{5, CJpegHeader::kMinSegmentLength - 1, 1}}},
        {"segment running past the image", {{4, 0xFFFF, 2}}},
    };
    for (const auto& c : cases) {
        const Bytes image = Stamped(sPlain, c.changes);
        ExpectNoHeader(Read(image, image.size()), c.what);
    }
    // The segment must be the first one after SOI: here the JFIF APP0 comes first.
    Bytes image = Stamped(sPlain);
    image.insert(image.begin() + 2, sPlain.begin() + 2, sPlain.begin() + 20);
    ExpectNoHeader(Read(image, image.size()), "APP12 not right after SOI");
}

TEST_F(CJpegHeaderTest, TruncatedOrOffsetImagesNeverReadPastTheirLength) {
    const Bytes image = Stamped(sPlain);
    for (size_t n = 0; n <= image.size(); ++n) {
        const CJpegHeader h = Read(image, n);
        EXPECT_EQ(n >= CJpegHeader::kHeaderSize, h.HasHeader()) << "length " << n;
        if (n < CJpegHeader::kHeaderSize)
            ExpectNoHeader(h, "truncated to " + std::to_string(n));
    }
    // A shorter segment that still covers the channel mask is read, up to its end.
    const Bytes shortImage = Stamped(sPlain, {{5, CJpegHeader::kMinSegmentLength, 1}});
    const size_t needed = 4 + CJpegHeader::kMinSegmentLength;
    EXPECT_EQ(0x0F, Read(shortImage, needed).GetChannelMask());
    EXPECT_FALSE(Read(shortImage, needed - 1).HasHeader());
    // The image may start inside the data; offsets count from the data.
    Bytes data = image;
    data.insert(data.begin(), 7, 0xAA);
    const struct {
        size_t length, offset;
        bool header;
    } cases[] = {
        {data.size(), 6, false},
        {7, 100, false},
        {7 + CJpegHeader::kHeaderSize - 1, 7, false},
        {7 + CJpegHeader::kHeaderSize, 7, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.header, Read(data, c.length, c.offset).HasHeader()) << c.length << " at " << c.offset;
}

} // namespace
