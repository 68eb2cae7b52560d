// JPEG into YCbCr planes through libjpeg's raw-data interface: the planes
// must hold exactly what libjpeg-turbo's own tjDecompressToYUVPlanes makes
// of the same picture (same fast IDCT), for every layout a window or a
// tight plane buffer gives, and broken or foreign pictures must never write
// past the planes.
#include "os/dshow/JpegPlanes.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using os::dshow::CJpegPlanes;
using Bytes = std::vector<uint8_t>;

// A picture with edges and gradients in every channel, compressed by
// libjpeg-turbo with the given subsampling (and pixel format).
Bytes Compress(int width, int height, int subsampling, int pixelFormat = TJPF_RGB, int quality = 85) {
    const int bytes = tjPixelSize[pixelFormat];
    Bytes pixels(static_cast<size_t>(width) * height * bytes);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < bytes; ++c)
                pixels[(static_cast<size_t>(y) * width + x) * bytes + c] =
                    static_cast<uint8_t>((x * (c + 3) + y * (5 - c) + ((x / 7 + y / 5) % 2) * 90) & 0xFF);
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(h, pixels.data(), width, 0, height, pixelFormat, &out, &size, subsampling,
                               quality, TJFLAG_FASTDCT);
    tjDestroy(h);
    Bytes jpeg;
    if (rc == 0)
        jpeg.assign(out, out + size);
    tjFree(out);
    return jpeg;
}

// Planes in one buffer with a guard after each plane; stride = plane width
// plus padding.
struct Planes {
    static constexpr size_t kGuard = 64;
    static constexpr uint8_t kGuardByte = 0xA5;
    Bytes buffer;
    size_t offsets[3] = {0, 0, 0};
    size_t sizes[3] = {0, 0, 0};
    uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    int strides[3] = {0, 0, 0};
    int count = 0;

    Planes(int width, int height, int subsampling, int padding) {
        count = subsampling == TJSAMP_GRAY ? 1 : 3;
        size_t total = 0;
        for (int i = 0; i < count; ++i) {
            strides[i] = tjPlaneWidth(i, width, subsampling) + padding;
            offsets[i] = total;
            sizes[i] = static_cast<size_t>(strides[i]) * tjPlaneHeight(i, height, subsampling);
            total += sizes[i] + kGuard;
        }
        buffer.assign(total, kGuardByte);
        for (int i = 0; i < count; ++i)
            planes[i] = buffer.data() + offsets[i];
    }
    bool GuardsIntact() const {
        for (int i = 0; i < count; ++i)
            for (size_t k = 0; k < kGuard; ++k)
                if (buffer[offsets[i] + sizes[i] + k] != kGuardByte)
                    return false;
        return true;
    }
};

TEST(JpegPlanesTest, PlanesAreWhatLibjpegTurboDecodesForEveryLayout) {
    const struct {
        const char* name;
        int width, height, subsampling, padding;
    } cases[] = {
        {"1080p 4:2:0, 67.5 MCU rows, window strides", 1920, 1080, TJSAMP_420, 0},
        {"4:2:0, odd size, tight rows", 33, 17, TJSAMP_420, 0},
        {"4:2:0, odd size, padded rows", 33, 17, TJSAMP_420, 31},
        {"4:2:2", 70, 41, TJSAMP_422, 2},
        {"4:4:4", 50, 9, TJSAMP_444, 0},
        {"4:4:0", 24, 31, TJSAMP_440, 8},
        {"4:1:1", 37, 16, TJSAMP_411, 0},
        {"grey", 21, 13, TJSAMP_GRAY, 0},
        {"one pixel", 1, 1, TJSAMP_420, 0},
    };
    CJpegPlanes decoder; // one for all: it is reused frame after frame
    tjhandle reference = tjInitDecompress();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes jpeg = Compress(c.width, c.height, c.subsampling);
        ASSERT_FALSE(jpeg.empty());
        Planes ours(c.width, c.height, c.subsampling, c.padding);
        ASSERT_EQ(CJpegPlanes::EResult::Decoded, decoder.Decode(jpeg.data(), jpeg.size(), c.width, c.height,
                                                                c.subsampling, ours.planes, ours.strides));
        EXPECT_TRUE(ours.GuardsIntact());
        Planes theirs(c.width, c.height, c.subsampling, c.padding);
        ASSERT_EQ(0, tjDecompressToYUVPlanes(reference, jpeg.data(), jpeg.size(), theirs.planes, c.width,
                                             theirs.strides, c.height, TJFLAG_FASTDCT));
        for (int i = 0; i < ours.count; ++i) {
            const int w = tjPlaneWidth(i, c.width, c.subsampling);
            const int h = tjPlaneHeight(i, c.height, c.subsampling);
            int differing = 0;
            for (int y = 0; y < h; ++y)
                differing += std::memcmp(ours.planes[i] + static_cast<size_t>(y) * ours.strides[i],
                                         theirs.planes[i] + static_cast<size_t>(y) * theirs.strides[i],
                                         static_cast<size_t>(w)) != 0;
            EXPECT_EQ(0, differing) << "rows of plane " << i;
        }
    }
    tjDestroy(reference);
}

TEST(JpegPlanesTest, BrokenAndForeignPicturesAreRefusedWithinThePlanes) {
    const Bytes good = Compress(64, 48, TJSAMP_420);
    const Bytes rgb = Compress(64, 48, TJSAMP_444, TJPF_RGB, 85);
    Bytes truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    Bytes garbage = good;
    for (size_t i = good.size() / 3; i < good.size() - 2; i += 7)
        garbage[i] ^= 0x5A;
    Bytes cmyk = Compress(64, 48, TJSAMP_444, TJPF_CMYK);
    const Bytes text{'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    const struct {
        const char* name;
        const Bytes* jpeg;
        int width, height, subsampling;
        CJpegPlanes::EResult expected;
    } cases[] = {
        {"cut in half", &truncated, 64, 48, TJSAMP_420, CJpegPlanes::EResult::Broken},
        {"scrambled entropy data", &garbage, 64, 48, TJSAMP_420, CJpegPlanes::EResult::Broken},
        {"not a JPEG", &text, 64, 48, TJSAMP_420, CJpegPlanes::EResult::Broken},
        {"another size", &good, 64, 32, TJSAMP_420, CJpegPlanes::EResult::NotMine},
        {"another subsampling", &good, 64, 48, TJSAMP_422, CJpegPlanes::EResult::NotMine},
        {"CMYK", &cmyk, 64, 48, TJSAMP_444, CJpegPlanes::EResult::NotMine},
        {"the good one after all that", &good, 64, 48, TJSAMP_420, CJpegPlanes::EResult::Decoded},
        {"4:4:4 after 4:2:0", &rgb, 64, 48, TJSAMP_444, CJpegPlanes::EResult::Decoded},
    };
    CJpegPlanes decoder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.jpeg->empty());
        Planes planes(c.width, c.height, c.subsampling, 0);
        EXPECT_EQ(c.expected, decoder.Decode(c.jpeg->data(), c.jpeg->size(), c.width, c.height, c.subsampling,
                                             planes.planes, planes.strides));
        EXPECT_TRUE(planes.GuardsIntact());
    }
    // Planes narrower than a row of the picture are not written at all.
    Planes narrow(64, 48, TJSAMP_420, 0);
    int strides[3] = {narrow.strides[0], narrow.strides[1] - 1, narrow.strides[2]};
    EXPECT_EQ(CJpegPlanes::EResult::NotMine,
              decoder.Decode(good.data(), good.size(), 64, 48, TJSAMP_420, narrow.planes, strides));
    uint8_t* missing[3] = {narrow.planes[0], nullptr, narrow.planes[2]};
    EXPECT_EQ(CJpegPlanes::EResult::NotMine,
              decoder.Decode(good.data(), good.size(), 64, 48, TJSAMP_420, missing, narrow.strides));
}

// The header read once: ReadHeader answers what turbojpeg's header reader
// answers, and the Decode after it makes the same planes as a Decode on its
// own; a header left unused (the window refused the planes) or read from
// other bytes is never what a Decode starts from.
TEST(JpegPlanesTest, HeaderReadOnceServesTheDecodeThatFollows) {
    const struct {
        const char* name;
        int width, height, subsampling;
    } cases[] = {
        {"4:2:0", 96, 54, TJSAMP_420}, {"4:2:2", 70, 41, TJSAMP_422}, {"4:4:4", 50, 9, TJSAMP_444},
        {"4:4:0", 24, 31, TJSAMP_440}, {"4:1:1", 37, 16, TJSAMP_411}, {"grey", 21, 13, TJSAMP_GRAY},
    };
    CJpegPlanes once, twice;
    tjhandle reference = tjInitDecompress();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes jpeg = Compress(c.width, c.height, c.subsampling);
        // The same picture at another quality: other tables, same size.
        const Bytes other = Compress(c.width, c.height, c.subsampling, TJPF_RGB, 30);
        ASSERT_FALSE(jpeg.empty());
        int w = 0, h = 0, sub = -1, tw = 0, th = 0, tsub = -1, colours = 0;
        ASSERT_TRUE(once.ReadHeader(jpeg.data(), jpeg.size(), &w, &h, &sub));
        ASSERT_EQ(0, tjDecompressHeader3(reference, jpeg.data(), jpeg.size(), &tw, &th, &tsub, &colours));
        EXPECT_EQ(tw, w);
        EXPECT_EQ(th, h);
        EXPECT_EQ(tsub, sub);
        Planes a(w, h, sub, 3), b(w, h, sub, 3);
        ASSERT_EQ(CJpegPlanes::EResult::Decoded, once.Decode(jpeg.data(), jpeg.size(), w, h, sub, a.planes, a.strides));
        ASSERT_EQ(CJpegPlanes::EResult::Decoded,
                  twice.Decode(jpeg.data(), jpeg.size(), w, h, sub, b.planes, b.strides));
        EXPECT_EQ(a.buffer, b.buffer);
        // A header read and left, then another picture decoded.
        ASSERT_TRUE(once.ReadHeader(jpeg.data(), jpeg.size(), &w, &h, &sub));
        Planes c1(w, h, sub, 3), c2(w, h, sub, 3);
        ASSERT_EQ(CJpegPlanes::EResult::Decoded,
                  once.Decode(other.data(), other.size(), w, h, sub, c1.planes, c1.strides));
        ASSERT_EQ(CJpegPlanes::EResult::Decoded,
                  twice.Decode(other.data(), other.size(), w, h, sub, c2.planes, c2.strides));
        EXPECT_EQ(c1.buffer, c2.buffer);
        EXPECT_NE(a.buffer, c1.buffer);
        // Read twice over, the second read is the one that counts.
        ASSERT_TRUE(once.ReadHeader(other.data(), other.size(), &w, &h, &sub));
        ASSERT_TRUE(once.ReadHeader(jpeg.data(), jpeg.size(), &w, &h, &sub));
        Planes d(w, h, sub, 3);
        ASSERT_EQ(CJpegPlanes::EResult::Decoded, once.Decode(jpeg.data(), jpeg.size(), w, h, sub, d.planes, d.strides));
        EXPECT_EQ(a.buffer, d.buffer);
    }
    tjDestroy(reference);

    // What the planes do not take has no header to read.
    const Bytes good = Compress(64, 48, TJSAMP_420);
    const Bytes rgb = Compress(64, 48, TJSAMP_444, TJPF_RGB, 85);
    const Bytes cmyk = Compress(64, 48, TJSAMP_444, TJPF_CMYK);
    const Bytes text{'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    const Bytes headOnly(good.begin(), good.begin() + 40);
    const struct {
        const char* name;
        const Bytes* jpeg;
        bool taken;
    } refused[] = {{"CMYK", &cmyk, false},
                   {"not a JPEG", &text, false},
                   {"cut inside the header", &headOnly, false},
                   {"YCbCr 4:4:4", &rgb, true}};
    for (const auto& r : refused) {
        SCOPED_TRACE(r.name);
        int w = 0, h = 0, sub = -1;
        EXPECT_EQ(r.taken, once.ReadHeader(r.jpeg->data(), r.jpeg->size(), &w, &h, &sub));
        // And the decoder is none the worse for it.
        Planes p(64, 48, TJSAMP_420, 0);
        EXPECT_EQ(CJpegPlanes::EResult::Decoded,
                  once.Decode(good.data(), good.size(), 64, 48, TJSAMP_420, p.planes, p.strides));
    }
}

} // namespace
