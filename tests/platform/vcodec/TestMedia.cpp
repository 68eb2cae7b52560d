#include "TestMedia.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>

namespace ipcam::test {

TempDir::TempDir(const std::string& prefix) {
    const char* base = std::getenv("IPCAM_TEST_TMP");
    std::string root = base && *base ? base : "/tmp";
    mkdir(root.c_str(), 0700);
    std::string pattern = root + "/" + prefix + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp failed in " + root);
    mPath = buffer.data();
}

TempDir::~TempDir() {
    Run("rm -rf '" + mPath + "'");
}

int Run(const std::string& command) {
    int status = std::system(command.c_str());
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

int Generate(const std::string& path, int width, int height, int frames, const std::string& encoderOptions) {
    // testsrc2 draws even sizes only; odd ones are scaled from the next even size.
    char source[160];
    snprintf(source, sizeof source, "testsrc2=size=%dx%d:rate=25 -vf scale=%d:%d", width + width % 2,
             height + height % 2, width, height);
    std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i " + std::string(source) + " -frames:v " +
                          std::to_string(frames) + " " + encoderOptions + " '" + path + "'";
    return Run(command);
}

size_t RawFrameSize(const std::string& pixelFormat, int width, int height) {
    size_t pixels = size_t(width) * size_t(height);
    if (pixelFormat == "bgr24")
        return pixels * 3;
    if (pixelFormat == "rgb565le")
        return pixels * 2;
    if (pixelFormat == "yuv420p")
        return pixels + 2 * size_t((width + 1) / 2) * size_t((height + 1) / 2);
    return pixels * 4;
}

std::vector<Bytes> ReferenceFrames(const std::string& path, const std::string& pixelFormat, int width,
                                   int height) {
    std::string raw = path + "." + pixelFormat + ".raw";
    std::string command = "ffmpeg -nostdin -v error -y -i '" + path + "' -f rawvideo -pix_fmt " +
                          pixelFormat + " '" + raw + "'";
    std::vector<Bytes> frames;
    if (Run(command) != 0)
        return frames;
    Bytes all = ReadFile(raw);
    size_t size = RawFrameSize(pixelFormat, width, height);
    for (size_t pos = 0; pos + size <= all.size(); pos += size)
        frames.emplace_back(all.begin() + long(pos), all.begin() + long(pos + size));
    return frames;
}

namespace {
// Offsets of every 00 00 01 start code (a preceding zero of a four-byte code
// belongs to the unit before it, which does not matter for these cuts).
std::vector<size_t> StartCodes(const Bytes& s) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 3 <= s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1)
            at.push_back(i);
    return at;
}

size_t WithLeadingZero(const Bytes& s, size_t at) {
    return at > 0 && s[at - 1] == 0 ? at - 1 : at;
}

std::vector<Bytes> Cut(const Bytes& s, const std::vector<size_t>& cuts) {
    std::vector<Bytes> parts;
    for (size_t i = 0; i < cuts.size(); ++i) {
        size_t end = i + 1 < cuts.size() ? cuts[i + 1] : s.size();
        parts.emplace_back(s.begin() + long(cuts[i]), s.begin() + long(end));
    }
    return parts;
}
} // namespace

std::vector<Bytes> SplitNalUnits(const Bytes& stream) {
    std::vector<size_t> cuts;
    for (size_t at : StartCodes(stream))
        cuts.push_back(WithLeadingZero(stream, at));
    return Cut(stream, cuts);
}

std::vector<Bytes> SplitAccessUnits(const Bytes& stream) {
    std::vector<size_t> cuts;
    for (size_t at : StartCodes(stream))
        if (at + 3 < stream.size() && (stream[at + 3] & 0x1F) == 9)
            cuts.push_back(WithLeadingZero(stream, at));
    return Cut(stream, cuts);
}

std::vector<Bytes> SplitMpeg4Frames(const Bytes& stream) {
    std::vector<size_t> cuts;
    bool inVop = false;
    bool started = false;
    for (size_t at : StartCodes(stream)) {
        if (at + 3 >= stream.size())
            break;
        uint8_t code = stream[at + 3];
        if (!started || inVop) {
            cuts.push_back(at);
            started = true;
        }
        inVop = code == 0xB6;
    }
    return Cut(stream, cuts);
}

std::string PixelFormatName(int32_t pixelCode) {
    switch (pixelCode) {
    case 100:
        return "bgr24";
    case 120:
        return "rgb565le";
    case 130:
        return "yuv420p";
    default:
        return "bgra";
    }
}

Bytes TopDown(const Bytes& picture, int32_t pixelCode, int width, int height, bool bottomUp) {
    Bytes out;
    if (pixelCode == 130) {
        int widths[3] = {width, width / 2, width / 2};
        int heights[3] = {height, height / 2, height / 2};
        size_t offset = 0;
        for (int p = 0; p < 3; ++p) {
            for (int y = 0; y < heights[p]; ++y) {
                int row = bottomUp ? heights[p] - 1 - y : y;
                auto begin = picture.begin() + long(offset + size_t(row) * size_t(widths[p]));
                out.insert(out.end(), begin, begin + widths[p]);
            }
            offset += size_t(widths[p]) * size_t(heights[p]);
        }
        return out;
    }
    int bytesPerPixel = pixelCode == 100 ? 3 : pixelCode == 120 ? 2 : 4;
    size_t stride = (size_t(width) * size_t(bytesPerPixel) + 3) & ~size_t(3);
    for (int y = 0; y < height; ++y) {
        int row = bottomUp ? height - 1 - y : y;
        auto begin = picture.begin() + long(size_t(row) * stride);
        out.insert(out.end(), begin, begin + long(width * bytesPerPixel));
    }
    return out;
}

Bytes CommonPart(const Bytes& reference, int32_t pixelCode, int width, int height) {
    if (pixelCode != 130)
        return reference;
    Bytes out(reference.begin(), reference.begin() + long(width) * height);
    size_t cw = size_t(width + 1) / 2, ch = size_t(height + 1) / 2;
    for (int p = 0; p < 2; ++p) {
        size_t base = size_t(width) * size_t(height) + size_t(p) * cw * ch;
        for (int y = 0; y < height / 2; ++y) {
            auto begin = reference.begin() + long(base + size_t(y) * cw);
            out.insert(out.end(), begin, begin + width / 2);
        }
    }
    return out;
}

double Psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0)
        return 1000;
    double mse = sum / double(a.size());
    return 10 * std::log10(255.0 * 255.0 / mse);
}

Bytes Unpack565(const Bytes& words) {
    Bytes rgb;
    rgb.reserve(words.size() / 2 * 3);
    for (size_t i = 0; i + 1 < words.size(); i += 2) {
        unsigned v = words[i] | unsigned(words[i + 1]) << 8;
        rgb.push_back(uint8_t((v >> 11) << 3));
        rgb.push_back(uint8_t(((v >> 5) & 63) << 2));
        rgb.push_back(uint8_t((v & 31) << 3));
    }
    return rgb;
}

} // namespace ipcam::test
