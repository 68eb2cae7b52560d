#include "TestMedia.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
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
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed in " + root);
    mPath = pattern;
}

TempDir::~TempDir() {
    Run("rm -rf '" + mPath + "'");
}

int Run(const std::string& command) {
    int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes QBox(uint8_t flags, const Bytes& payload, int sizeDelta) {
    uint32_t size = uint32_t(24 + int(payload.size()) + sizeDelta);
    Bytes b = {
        uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size), 'q', 'b', 'o', 'x'};
    b.resize(24);
    b[13] = 2;
    b[19] = flags;
    b[22] = 0x12;
    b[23] = 0x34;
    return Cat({b, payload});
}

int Generate(int width, int height, int frames, const std::string& outputs) {
    char source[200];
    snprintf(source, sizeof source, "testsrc2=size=%dx%d:rate=25:duration=%g,scale=%d:%d", width + width % 2,
             height + height % 2, frames / 25.0, width, height);
    return Run("ffmpeg -nostdin -v error -y -f lavfi -i '" + std::string(source) + "' " + outputs);
}

namespace {
const std::pair<int32_t, const char*> kFfmpegFormats[] = {
    {100, "bgr24"}, {120, "rgb565le"}, {130, "yuv420p"}, {32, "bgra"}};

int BytesPerPixel(int32_t code) {
    return code == 100 ? 3 : code == 120 ? 2 : 4;
}

// Cuts before each 00 00 01 that isCut picks (its state starts true); with
// keepZero a zero before one belongs to the unit it starts.
std::vector<Bytes> CutAt(const Bytes& s, bool (*isCut)(const Bytes&, size_t, bool*), bool keepZero) {
    std::vector<size_t> cuts;
    bool state = true;
    for (size_t i = 0; i + 3 < s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && isCut(s, i, &state))
            cuts.push_back(keepZero && i > 0 && s[i - 1] == 0 ? i - 1 : i);
    std::vector<Bytes> parts;
    for (size_t i = 0; i < cuts.size(); ++i)
        parts.emplace_back(s.begin() + long(cuts[i]),
                           s.begin() + long(i + 1 < cuts.size() ? cuts[i + 1] : s.size()));
    return parts;
}
} // namespace

std::map<int32_t, std::vector<Bytes>> ReferenceFrames(const std::string& path, int width, int height) {
    std::string command = "ffmpeg -nostdin -v error -y -i '" + path + "'";
    for (const auto& [code, name] : kFfmpegFormats)
        command += std::string(" -f rawvideo -pix_fmt ") + name + " '" + path + "." + name + "'";
    std::map<int32_t, std::vector<Bytes>> frames;
    if (Run(command) != 0)
        return frames;
    for (const auto& [code, name] : kFfmpegFormats) {
        Bytes all = ReadFile(path + "." + name);
        size_t size = code == 130 ? size_t(width) * size_t(height) +
                                        2 * size_t((width + 1) / 2) * size_t((height + 1) / 2)
                                  : size_t(width) * size_t(height) * size_t(BytesPerPixel(code));
        for (size_t pos = 0; pos + size <= all.size(); pos += size)
            frames[code].emplace_back(all.begin() + long(pos), all.begin() + long(pos + size));
    }
    return frames;
}

std::vector<Bytes> SplitNalUnits(const Bytes& stream) {
    return CutAt(
        stream, [](const Bytes&, size_t, bool*) { return true; }, true);
}

std::vector<Bytes> SplitAccessUnits(const Bytes& stream) {
    return CutAt(
        stream, [](const Bytes& s, size_t at, bool*) { return (s[at + 3] & 0x1F) == 9; }, true);
}

std::vector<Bytes> SplitMpeg4Frames(const Bytes& stream) {
    // A frame starts at the first code and at each code after a VOP.
    return CutAt(
        stream,
        [](const Bytes& s, size_t at, bool* afterVop) {
            bool cut = *afterVop;
            *afterVop = s[at + 3] == 0xB6;
            return cut;
        },
        false);
}

int32_t PictureSize(int32_t pixelCode, int width, int height) {
    int bits = pixelCode == 130 ? 12 : BytesPerPixel(pixelCode) * 8;
    return ((width * bits + 7) / 8 + 3) / 4 * 4 * std::abs(height);
}

Bytes Tight(const Bytes& picture, int32_t pixelCode, int width, int height, bool bottomUp, bool reference) {
    struct Plane {
        size_t mPitch, mStoredRows, mBytes, mRows;
    };
    const size_t w = size_t(width), h = size_t(height), cw = reference ? (w + 1) / 2 : w / 2,
                 ch = reference ? (h + 1) / 2 : h / 2, row = w * size_t(BytesPerPixel(pixelCode));
    const Plane planes[3] = {
        pixelCode == 130 ? Plane{w, h, w, h}
                         : Plane{reference ? row : size_t(PictureSize(pixelCode, width, 1)), h, row, h},
        {cw, ch, w / 2, h / 2},
        {cw, ch, w / 2, h / 2}};
    Bytes out;
    size_t offset = 0;
    for (int i = 0; i < (pixelCode == 130 ? 3 : 1); ++i) {
        const Plane& p = planes[i];
        if (offset + p.mPitch * p.mStoredRows > picture.size())
            return Bytes();
        for (size_t y = 0; y < p.mRows; ++y) {
            auto begin = picture.begin() + long(offset + p.mPitch * (bottomUp ? p.mStoredRows - 1 - y : y));
            out.insert(out.end(), begin, begin + long(p.mBytes));
        }
        offset += p.mPitch * p.mStoredRows;
    }
    return out;
}

double Psnr(const Bytes& a, const Bytes& b, int32_t pixelCode) {
    if (a.size() != b.size() || a.empty())
        return 0;
    auto sample = [pixelCode](const Bytes& x, size_t i, int c) {
        if (pixelCode != 120)
            return double(x[i]);
        unsigned v = x[i] | unsigned(x[i + 1]) << 8;
        return double(c == 0 ? (v >> 11) << 3 : c == 1 ? ((v >> 5) & 63) << 2 : (v & 31) << 3);
    };
    size_t step = pixelCode == 120 ? 2 : 1;
    int channels = pixelCode == 120 ? 3 : 1;
    double sum = 0;
    for (size_t i = 0; i + step <= a.size(); i += step)
        for (int c = 0; c < channels; ++c) {
            double d = sample(a, i, c) - sample(b, i, c);
            sum += d * d;
        }
    if (sum == 0)
        return 1000;
    return 10 * std::log10(255.0 * 255.0 * double(a.size() / step * size_t(channels)) / sum);
}

} // namespace ipcam::test
