// Media for the codec and recording tests, made at set-up by the ffmpeg
// command-line tool (never checked in), helpers to cut it into the frames a
// camera sends and to compare pictures with ffmpeg's own decode.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace ipcam::test {

using Bytes = std::vector<uint8_t>;

// Writes a header bit by bit, most significant first, for the header readers'
// tests; Ue and Se write Exp-Golomb codes (H.264).
class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (mUsed % 8 == 0)
                mBytes.push_back(0);
            if ((value >> i) & 1u)
                mBytes.back() |= uint8_t(0x80u >> (mUsed % 8));
            ++mUsed;
        }
    }
    void Ue(uint32_t value) {
        const uint64_t code = uint64_t(value) + 1;
        int bits = 0;
        while ((code >> (bits + 1)) != 0)
            ++bits;
        Put(0, bits);
        Put(uint32_t(code), bits + 1);
    }
    void Se(int32_t value) { Ue(value > 0 ? uint32_t(2 * value - 1) : uint32_t(-2 * int64_t(value))); }
    Bytes Done() const { return mBytes; }

private:
    Bytes mBytes;
    int mUsed = 0;
};

// An H.264 payload as it travels: 00 00 followed by 00 .. 03 gets a 03
// (an emulation prevention byte) between.
inline Bytes Escape(const Bytes& rbsp) {
    Bytes out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

// A fresh directory under $IPCAM_TEST_TMP (or /tmp), removed by the destructor.
class TempDir {
public:
    explicit TempDir(const std::string& prefix);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return mPath; }
    std::string File(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

int Run(const std::string& command);             // a shell command's exit status
std::string Capture(const std::string& command); // a shell command's stdout
Bytes ReadFile(const std::string& path);
Bytes Cat(std::initializer_list<Bytes> parts);
// A camera's QBox around H.264: size (off by sizeDelta), "qbox", version and
// flags, stream type 2, id, sample flags, time stamp 0x1234, payload.
Bytes QBox(uint8_t flags, const Bytes& payload, int sizeDelta = 0);

// Encodes `frames` frames of ffmpeg's testsrc2 at width x height, 25 fps, in
// one ffmpeg run; `outputs` are output options and quoted paths, as many
// outputs as wanted. Odd sizes are scaled from the next even one. Exit status.
int Generate(int width, int height, int frames, const std::string& outputs);

// ffmpeg's decode of a file into each output pixel code's raw top-down frames
// (bgr24, rgb565le, yuv420p, bgra) in one ffmpeg run: code -> frames.
std::map<int32_t, std::vector<Bytes>> ReferenceFrames(const std::string& path, int width, int height);

// Annex-B H.264 cut at access unit delimiters (made with aud=1), and the NAL
// units of one buffer, start codes included.
std::vector<Bytes> SplitAccessUnits(const Bytes& stream);
std::vector<Bytes> SplitNalUnits(const Bytes& stream);
// MPEG-4 Visual cut into frames: each VOP with the headers before it.
std::vector<Bytes> SplitMpeg4Frames(const Bytes& stream);

// Bytes of a picture in a pixel code as the library documents it: rows of
// ceil(width * bits / 8) rounded up to 4 bytes, times |height|.
int32_t PictureSize(int32_t pixelCode, int width, int height);
// A library picture (padded rows, bottom-up when bottomUp) as tight top-down
// rows in ffmpeg's layout. ffmpeg rounds I420 chroma up, the library down, so
// for odd sizes the reference's extra chroma column and row are dropped too:
// pass reference = true for an ffmpeg frame.
Bytes Tight(const Bytes& picture, int32_t pixelCode, int width, int height, bool bottomUp, bool reference);
// PSNR in dB of two equal-length arrays (RGB565 words compared as 8-bit
// R, G, B); 1000 for identical ones, 0 for different lengths.
double Psnr(const Bytes& a, const Bytes& b, int32_t pixelCode);

} // namespace ipcam::test
