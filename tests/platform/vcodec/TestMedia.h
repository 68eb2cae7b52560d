// Media for the codec and recording tests, made in the test set-up with the
// ffmpeg command-line tool (never checked in), and helpers to cut it into the
// frames a camera would send.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ipcam::test {

using Bytes = std::vector<uint8_t>;

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

// Runs a shell command; its exit status (0 = success). Output not captured.
int Run(const std::string& command);
// Runs a shell command and returns what it printed on stdout.
std::string Capture(const std::string& command);

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& data);

// ffmpeg's testsrc2 picture, `frames` frames of width x height at 25 fps,
// encoded by the named encoder with extra output options, into path.
// Returns the ffmpeg exit status.
int Generate(const std::string& path, int width, int height, int frames, const std::string& encoderOptions);

// Decodes a file with ffmpeg to raw top-down frames of a pixel format
// ("bgr24", "bgra", "rgb565le", "yuv420p"), one Bytes per frame.
std::vector<Bytes> ReferenceFrames(const std::string& path, const std::string& pixelFormat, int width,
                                   int height);
size_t RawFrameSize(const std::string& pixelFormat, int width, int height);

// Annex-B H.264 cut at access unit delimiters (the stream is made with aud=1).
std::vector<Bytes> SplitAccessUnits(const Bytes& stream);
// NAL units of an Annex-B buffer, start codes included.
std::vector<Bytes> SplitNalUnits(const Bytes& stream);
// MPEG-4 Visual elementary stream cut into frames: each frame is a VOP with
// the headers that come before it.
std::vector<Bytes> SplitMpeg4Frames(const Bytes& stream);

// The ffmpeg pixel format name of an output pixel code.
std::string PixelFormatName(int32_t pixelCode);
// A picture as vcodec lays it out (stride rounded to 4, rows bottom-up when
// bottomUp, I420 chroma planes at half size rounded down) turned into
// top-down rows without padding, comparable with CommonPart(reference).
Bytes TopDown(const Bytes& picture, int32_t pixelCode, int width, int height, bool bottomUp);
// The part of an ffmpeg reference frame that vcodec also outputs: all of a
// packed frame; for yuv420p the luma plane and the chroma planes cut to half
// the size rounded down.
Bytes CommonPart(const Bytes& reference, int32_t pixelCode, int width, int height);

// PSNR in dB of two equal-length byte arrays; 1000 for identical ones.
double Psnr(const Bytes& a, const Bytes& b);
// 8-bit R, G, B of RGB565 little-endian words.
Bytes Unpack565(const Bytes& words);

} // namespace ipcam::test
