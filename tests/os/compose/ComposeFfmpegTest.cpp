// The compositing function against ffmpeg on a real camera picture: a JPEG
// served by camsim over loopback, decoded by vcodec into each pixel code and
// both row orders, composited into windows of other sizes and shapes, must
// match what ffmpeg's scale (and crop and pad) filters make of the same JPEG.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ipcamview/vcodec.h"
#include "os/compose/CComposeContext.h"
#include "os/compose/Compose.h"
#include "tools/CamsimClient.h"

using namespace os;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr double kMinPsnr = 30.0;

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// PSNR in dB over the B, G and R bytes of two BGRX pictures; 0 when their
// sizes differ.
double Psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); i += 4)
        for (size_t c = 0; c < 3; ++c) {
            const double d = double(a[i + c]) - double(b[i + c]);
            sum += d * d;
        }
    const double samples = double(a.size() / 4 * 3);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * samples / sum);
}

// The camsim picture as a JPEG file, fetched once.
const std::string& PicturePath() {
    static const std::string path = [] {
        const uint16_t port = camsimtest::DevicePort(
            "vs-jpeg-12292", {"--size", std::to_string(kWidth) + "x" + std::to_string(kHeight)});
        const std::string jpeg = camsimtest::Body(port, "/dms01");
        return jpeg.size() > 2 && uint8_t(jpeg[0]) == 0xFF && uint8_t(jpeg[1]) == 0xD8
                   ? camsimtest::WriteFile("camsim.jpg", jpeg)
                   : std::string();
    }();
    return path;
}

// vcodec's picture of the JPEG in a pixel code and row order, in a buffer of
// the size a decoder gives it (picture + 16 bytes).
Bytes DecodeCamsimPicture(int32_t code, bool bottomUp) {
    const Bytes jpeg = ReadAll(PicturePath());
    const int32_t handle = CreateCodec(VCODEC_FORMAT_JPEG, code, kWidth, bottomUp ? kHeight : -kHeight, 30);
    const int bits = code == kComposeBgr24    ? 24
                     : code == kComposeRgb565 ? 16
                     : code == kComposeI420   ? 12
                                              : 32;
    Bytes picture(size_t((kWidth * bits + 31) / 32 * 4) * kHeight + 16);
    int32_t length = int32_t(jpeg.size());
    int32_t size = int32_t(picture.size());
    const bool ok = handle >= 0 && Decode(handle, jpeg.data(), &length, picture.data(), &size) != 0;
    ReleaseCodec(handle);
    return ok ? picture : Bytes();
}

// ffmpeg's BGRA picture of the JPEG through a filter chain.
Bytes Reference(const std::string& chain, int width, int height) {
    const std::string out = camsimtest::TempDir() + "/reference.bgra";
    const std::string command = "ffmpeg -nostdin -v error -y -i '" + PicturePath() + "' -vf '" + chain +
                                ",format=bgra' -frames:v 1 -f rawvideo '" + out + "'";
    if (std::system(command.c_str()) != 0)
        return Bytes();
    Bytes bgra = ReadAll(out);
    return bgra.size() == size_t(width) * height * 4 ? bgra : Bytes();
}

TEST(ComposeFfmpegTest, CamsimPictureMatchesFfmpegScale) {
    ASSERT_FALSE(PicturePath().empty()) << "no picture from camsim";
    struct Case {
        const char* what;
        int width, height; // window
        RECT source;
        EComposeAspect aspect;
        EComposeFilter filter;
        std::string chain;
    } cases[] = {
        // clang-format off
        {"stretched up", 800, 600, {}, EComposeAspect::Stretch, EComposeFilter::Bilinear, "scale=800:600"},
        {"stretched down to another shape", 500, 300, {}, EComposeAspect::Stretch, EComposeFilter::Bilinear,
         "scale=500:300"},
        {"a grid cell, a quarter of the size", 160, 120, {}, EComposeAspect::Stretch, EComposeFilter::Bilinear,
         "scale=160:120"},
        // Nearest pixels agree with ffmpeg's choice where the ratio is whole.
        {"nearest pixel, twice the size", 1280, 960, {}, EComposeAspect::Stretch, EComposeFilter::Point,
         "scale=1280:960:flags=neighbor"},
        {"letterboxed", 800, 400, {}, EComposeAspect::Letterbox, EComposeFilter::Bilinear,
         "scale=800:400:force_original_aspect_ratio=decrease,pad=800:400:(ow-iw)/2:(oh-ih)/2:black"},
        {"cropped", 640, 480, {160, 120, 480, 360}, EComposeAspect::Stretch, EComposeFilter::Bilinear,
         "crop=320:240:160:120,scale=640:480"},
        {"cropped and letterboxed", 600, 400, {0, 0, 320, 480}, EComposeAspect::Letterbox, EComposeFilter::Bilinear,
         "crop=320:480:0:0,scale=600:400:force_original_aspect_ratio=decrease,pad=600:400:(ow-iw)/2:(oh-ih)/2:black"},
        // clang-format on
    };
    for (const Case& c : cases) {
        const Bytes reference = Reference(c.chain, c.width, c.height);
        ASSERT_FALSE(reference.empty()) << c.chain;
        for (int32_t code : {kComposeBgra, kComposeBgr24, kComposeRgb565, kComposeI420})
            for (bool bottomUp : {true, false}) {
                const std::string name = std::string(c.what) + ", code " + std::to_string(code) +
                                         (bottomUp ? ", bottom-up" : ", top-down");
                SCOPED_TRACE(name);
                const Bytes picture = DecodeCamsimPicture(code, bottomUp);
                ASSERT_FALSE(picture.empty());
                SComposePicture view;
                view.mpData = picture.data();
                view.mBytes = int64_t(picture.size());
                view.mPixelCode = code;
                view.mWidth = kWidth;
                view.mHeight = bottomUp ? kHeight : -kHeight;
                Bytes window(size_t(c.width) * c.height * 4, 0x77);
                SComposeOptions options;
                options.mSource = c.source;
                options.mAspect = c.aspect;
                options.mFilter = c.filter;
                CComposeContext context;
                ASSERT_TRUE(ComposePicture(
                    context, view, SComposeSurface{window.data(), c.width, c.height, c.width * 4}, options));
                const double psnr = Psnr(window, reference);
                EXPECT_GE(psnr, kMinPsnr);
                std::printf("%-36s %-22s PSNR %.1f dB\n", c.what,
                            name.substr(std::string(c.what).size() + 2).c_str(), psnr);
            }
    }
}

} // namespace
