#include "platform/CJpegHeader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

using media_util::CJpegHeader;
using media_util::IVideoHeader;

namespace {

// The fields a simulated device stamps into its images.
struct Stamp {
    uint32_t machineCode = 0x1412;
    uint16_t year = 2026;
    uint8_t month = 12, day = 6, hour = 7, minute = 15, second = 30;
    uint16_t ms = 250;
    uint8_t channelByte = 2; // channel 3
    uint8_t alarm = 0x05;
    uint16_t checksum = 0xBEEF;
    uint32_t sequence = 123456;
    uint16_t width = 704, height = 576;
    uint8_t mask = 0x0F;
    uint16_t segmentLength = 62;
    const char* magic = "IPCH";
};

void PutLe16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    PutLe16(b, at, v & 0xFFFF);
    PutLe16(b, at + 2, v >> 16);
}

// The APP12 segment as a device writes it (marker, length and payload),
// laid out here from the documented offsets (image offset - 2).
std::vector<uint8_t> MakeSegment(const Stamp& s) {
    std::vector<uint8_t> seg(2 + 62, 0);
    seg[0] = 0xFF;
    seg[1] = 0xEC;
    seg[2] = static_cast<uint8_t>(s.segmentLength >> 8);
    seg[3] = static_cast<uint8_t>(s.segmentLength);
    std::memcpy(&seg[4], s.magic, 4);
    PutLe32(seg, 8, s.machineCode);
    PutLe16(seg, 12, s.year);
    seg[14] = s.month;
    seg[15] = s.day;
    seg[16] = s.hour;
    seg[17] = s.minute;
    seg[18] = s.second;
    PutLe16(seg, 20, s.ms);
    seg[22] = s.channelByte;
    seg[23] = s.alarm;
    PutLe16(seg, 26, s.checksum);
    PutLe32(seg, 28, s.sequence);
    PutLe16(seg, 34, s.width);
    PutLe16(seg, 36, s.height);
    seg[38] = s.mask;
    return seg;
}

// Puts the segment right after the image's SOI.
std::vector<uint8_t> Splice(const std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& segment) {
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("IPCAM_TEST_TMP");
    const std::string base = (dir && *dir) ? dir : "/tmp";
    return base + "/jpegheader-" + std::to_string(getpid()) + "-" + name;
}

std::string RunCommand(const std::string& command, int* status) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *status = -1;
        return {};
    }
    std::string out;
    char buffer[1024];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.append(buffer, n);
    *status = pclose(pipe);
    return out;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// Orders times as calendar values, for "between" checks.
std::tuple<int, int, int, int, int, int, int> Key(const SYSTEMTIME& t) {
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

class CJpegHeaderTest : public ::testing::Test {
protected:
    // One real JPEG image from the ffmpeg command-line tool, shared by all tests.
    static void SetUpTestSuite() {
        const std::string path = TempPath("plain.jpg");
        int status = 0;
        RunCommand("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=64x48 -frames:v 1 -f image2 "
                   "-c:v mjpeg '" +
                       path + "' 2>&1",
                   &status);
        sPlain = ReadFile(path);
        std::remove(path.c_str());
    }

    void SetUp() override {
        ASSERT_GT(sPlain.size(), 100u) << "ffmpeg did not produce a JPEG image";
        ASSERT_EQ(0xFF, sPlain[0]);
        ASSERT_EQ(0xD8, sPlain[1]);
    }

    // Reads the header from an exact-size heap copy, so that a read past the
    // given length is caught by AddressSanitizer.
    static CJpegHeader Read(const std::vector<uint8_t>& image, size_t length) {
        std::vector<uint8_t> exact(image.begin(), image.begin() + static_cast<long>(length));
        return CJpegHeader(exact.empty() ? nullptr : exact.data(), exact.size(), 0);
    }

    static void ExpectNoHeader(const IVideoHeader& h, const SYSTEMTIME& before, const char* what) {
        SYSTEMTIME after;
        GetLocalTime(&after);
        EXPECT_FALSE(h.HasHeader()) << what;
        EXPECT_EQ(0, h.GetMachineCode()) << what;
        EXPECT_EQ(0, h.GetWidth()) << what;
        EXPECT_EQ(0, h.GetHeight()) << what;
        EXPECT_EQ(0u, h.GetSequence()) << what;
        EXPECT_EQ(0, h.GetAlarm()) << what;
        EXPECT_EQ(0, h.GetChannel()) << what;
        EXPECT_EQ(0, h.GetChannelMask()) << what;
        SYSTEMTIME t;
        h.GetTime(&t);
        EXPECT_LE(Key(before), Key(t)) << what << ": not the local time";
        EXPECT_LE(Key(t), Key(after)) << what << ": not the local time";
    }

    static std::vector<uint8_t> sPlain;
};

std::vector<uint8_t> CJpegHeaderTest::sPlain;

TEST_F(CJpegHeaderTest, ReadsEveryFieldOfADeviceImage) {
    Stamp s;
    const std::vector<uint8_t> image = Splice(sPlain, MakeSegment(s));
    const CJpegHeader header(image.data(), image.size(), 0);
    const IVideoHeader& h = header;
    EXPECT_TRUE(h.HasHeader());
    EXPECT_EQ(0x1412, h.GetMachineCode());
    EXPECT_EQ(704, h.GetWidth());
    EXPECT_EQ(576, h.GetHeight());
    EXPECT_EQ(123456u, h.GetSequence());
    EXPECT_EQ(5, h.GetAlarm());
    EXPECT_EQ(3, h.GetChannel());
    EXPECT_EQ(0x0F, h.GetChannelMask());
    SYSTEMTIME t;
    h.GetTime(&t);
    EXPECT_EQ(2026, t.wYear);
    EXPECT_EQ(12, t.wMonth);
    EXPECT_EQ(6, t.wDay);
    EXPECT_EQ(0, t.wDayOfWeek); // a Sunday
    EXPECT_EQ(7, t.wHour);
    EXPECT_EQ(15, t.wMinute);
    EXPECT_EQ(30, t.wSecond);
    EXPECT_EQ(250, t.wMilliseconds);
    h.GetTime(nullptr); // tolerated
}

TEST_F(CJpegHeaderTest, SplicedImageIsStillAJpegThatFfprobeOpens) {
    // The documented layout must make a valid JPEG segment, or devices built
    // to it would send images that decoders refuse.
    const std::string path = TempPath("stamped.jpg");
    WriteFile(path, Splice(sPlain, MakeSegment(Stamp{})));
    int status = 0;
    const std::string out = RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 '" + path + "'",
        &status);
    std::remove(path.c_str());
    EXPECT_EQ(0, status);
    EXPECT_EQ("64,48\n", out);
}

TEST_F(CJpegHeaderTest, FieldValuesAtTheirExtremes) {
    const struct {
        uint32_t machineCode;
        uint8_t channelByte;
        uint8_t alarm;
        uint32_t sequence;
        uint16_t width, height;
        int expectedCode, expectedChannel;
    } cases[] = {
        {0xFFFFFFFF, 0x00, 0xFF, 0xFFFFFFFF, 0xFFFF, 0xFFFF, -1, 1},
        {0x10004, 0xF3, 0x10, 0, 0, 0, 0x10004, 4}, // only the low 4 bits are the channel
        {0, 0x0F, 0, 1, 1, 1, 0, 16},
        {0x80000000, 0x07, 0x80, 0x80000000, 1920, 1080, static_cast<int>(0x80000000u), 8},
    };
    for (const auto& c : cases) {
        Stamp s;
        s.machineCode = c.machineCode;
        s.channelByte = c.channelByte;
        s.alarm = c.alarm;
        s.sequence = c.sequence;
        s.width = c.width;
        s.height = c.height;
        const std::vector<uint8_t> image = Splice(sPlain, MakeSegment(s));
        const CJpegHeader h(image.data(), image.size(), 0);
        ASSERT_TRUE(h.HasHeader());
        EXPECT_EQ(c.expectedCode, h.GetMachineCode());
        EXPECT_EQ(c.expectedChannel, h.GetChannel());
        EXPECT_EQ(c.alarm, h.GetAlarm());
        EXPECT_EQ(c.sequence, h.GetSequence());
        EXPECT_EQ(c.width, h.GetWidth());
        EXPECT_EQ(c.height, h.GetHeight());
    }
}

TEST_F(CJpegHeaderTest, ImagesWithoutADeviceHeader) {
    SYSTEMTIME before;
    GetLocalTime(&before);
    ExpectNoHeader(CJpegHeader(sPlain.data(), sPlain.size(), 0), before, "plain JFIF image");

    const struct {
        const char* what;
        void (*change)(Stamp&);
    } stampCases[] = {
        {"wrong magic", [](Stamp& s) { s.magic = "IPCh"; }},
        {"other magic", [](Stamp& s) { s.magic = "JFIF"; }},
        {"segment too short for the channel mask", [](Stamp& s) { s.segmentLength = 36; }},
        {"segment length 0", [](Stamp& s) { s.segmentLength = 0; }},
        {"segment running past the image", [](Stamp& s) { s.segmentLength = 0xFFFF; }},
    };
    for (const auto& c : stampCases) {
        Stamp s;
        c.change(s);
        const std::vector<uint8_t> image = Splice(sPlain, MakeSegment(s));
        ExpectNoHeader(Read(image, image.size()), before, c.what);
    }

    // The segment must be the first one after SOI.
    std::vector<uint8_t> app0First(sPlain.begin(), sPlain.end());
    const std::vector<uint8_t> seg = MakeSegment(Stamp{});
    app0First.insert(app0First.begin() + 20, seg.begin(), seg.end());
    ExpectNoHeader(Read(app0First, app0First.size()), before, "APP12 not right after SOI");

    std::vector<uint8_t> noSoi = Splice(sPlain, seg);
    noSoi[1] = 0xD9;
    ExpectNoHeader(Read(noSoi, noSoi.size()), before, "no SOI");
    std::vector<uint8_t> app13 = Splice(sPlain, seg);
    app13[3] = 0xED;
    ExpectNoHeader(Read(app13, app13.size()), before, "APP13 instead of APP12");

    ExpectNoHeader(CJpegHeader(nullptr, 100, 0), before, "null data");
    ExpectNoHeader(CJpegHeader(nullptr, 0, 0), before, "null data, no length");
}

TEST_F(CJpegHeaderTest, ShortestSegmentThatHoldsTheFieldsIsRead) {
    Stamp s;
    s.segmentLength = CJpegHeader::kMinSegmentLength;
    const std::vector<uint8_t> image = Splice(sPlain, MakeSegment(s));
    // Just the bytes up to the channel mask: still a header.
    const size_t needed = 4 + CJpegHeader::kMinSegmentLength;
    EXPECT_EQ(CJpegHeader::kOffsetChannelMask + 1, needed);
    const CJpegHeader h = Read(image, needed);
    EXPECT_TRUE(h.HasHeader());
    EXPECT_EQ(0x0F, h.GetChannelMask());
    EXPECT_EQ(576, h.GetHeight());
    EXPECT_FALSE(Read(image, needed - 1).HasHeader());
}

TEST_F(CJpegHeaderTest, TruncatedImagesNeverReadPastTheirLength) {
    SYSTEMTIME before;
    GetLocalTime(&before);
    const std::vector<uint8_t> image = Splice(sPlain, MakeSegment(Stamp{}));
    for (size_t n = 0; n <= image.size(); ++n) {
        const CJpegHeader h = Read(image, n);
        EXPECT_EQ(n >= CJpegHeader::kHeaderSize, h.HasHeader()) << "length " << n;
        if (n < CJpegHeader::kHeaderSize)
            ExpectNoHeader(h, before, "truncated");
        else
            EXPECT_EQ(0x1412, h.GetMachineCode()) << "length " << n;
    }
}

TEST_F(CJpegHeaderTest, InvalidStampedTimeGivesLocalTimeButKeepsTheOtherFields) {
    const struct {
        const char* what;
        void (*change)(Stamp&);
    } cases[] = {
        {"all zero", [](Stamp& s) { s.year = 0, s.month = 0, s.day = 0; }},
        {"month 13", [](Stamp& s) { s.month = 13; }},
        {"30 February", [](Stamp& s) { s.month = 2, s.day = 30; }},
        {"29 February 2026", [](Stamp& s) { s.month = 2, s.day = 29; }},
        {"hour 24", [](Stamp& s) { s.hour = 24; }},
        {"minute 60", [](Stamp& s) { s.minute = 60; }},
        {"second 60", [](Stamp& s) { s.second = 60; }},
        {"1000 ms", [](Stamp& s) { s.ms = 1000; }},
        {"year 1600", [](Stamp& s) { s.year = 1600; }},
    };
    for (const auto& c : cases) {
        SYSTEMTIME before;
        GetLocalTime(&before);
        Stamp s;
        c.change(s);
        const std::vector<uint8_t> image = Splice(sPlain, MakeSegment(s));
        const CJpegHeader h(image.data(), image.size(), 0);
        SYSTEMTIME after;
        GetLocalTime(&after);
        EXPECT_TRUE(h.HasHeader()) << c.what;
        EXPECT_EQ(123456u, h.GetSequence()) << c.what;
        SYSTEMTIME t;
        h.GetTime(&t);
        EXPECT_LE(Key(before), Key(t)) << c.what;
        EXPECT_LE(Key(t), Key(after)) << c.what;
    }
    // A leap day is a valid stamp.
    Stamp leap;
    leap.year = 2024, leap.month = 2, leap.day = 29;
    const std::vector<uint8_t> image = Splice(sPlain, MakeSegment(leap));
    SYSTEMTIME t;
    CJpegHeader(image.data(), image.size(), 0).GetTime(&t);
    EXPECT_EQ(2024, t.wYear);
    EXPECT_EQ(29, t.wDay);
    EXPECT_EQ(4, t.wDayOfWeek);
}

TEST_F(CJpegHeaderTest, ImageAtAnOffsetInsideTheData) {
    const std::vector<uint8_t> image = Splice(sPlain, MakeSegment(Stamp{}));
    std::vector<uint8_t> data(7, 0xAA);
    data.insert(data.end(), image.begin(), image.end());
    const CJpegHeader h(data.data(), data.size(), 7);
    EXPECT_TRUE(h.HasHeader());
    EXPECT_EQ(0x1412, h.GetMachineCode());
    EXPECT_FALSE(CJpegHeader(data.data(), data.size(), 0).HasHeader());
    EXPECT_FALSE(CJpegHeader(data.data(), data.size(), 6).HasHeader());
    // Offsets at and past the end, and a header cut by the length.
    EXPECT_FALSE(CJpegHeader(data.data(), 7, 7).HasHeader());
    EXPECT_FALSE(CJpegHeader(data.data(), 7, 100).HasHeader());
    EXPECT_FALSE(CJpegHeader(data.data(), 7 + CJpegHeader::kHeaderSize - 1, 7).HasHeader());
    EXPECT_TRUE(CJpegHeader(data.data(), 7 + CJpegHeader::kHeaderSize, 7).HasHeader());
}

} // namespace
