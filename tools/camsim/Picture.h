// The simulated camera's test picture: a planar 4:2:0 image (I420, the
// layout every encoder here takes) and the drawing of one frame of it.
//
// Each frame shows a diagonal gradient and a block of fine texture that move
// with the frame number, colour bars whose order depends on the channel, and
// three text lines in a built-in 5x7 font: the channel ("CH 03"), the frame
// number ("#000123") and the local time ("08:01:02.345"). So a person can
// tell channels and frames apart by eye, a decoder sees motion, and the JPEG
// pictures keep well above the size a polling viewer drops as "no picture".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

class Picture {
public:
    // Largest side accepted; bigger requests are clamped, so a query cannot
    // make camsim allocate without bound.
    static constexpr int kMaxSide = 4096;
    static constexpr int kMinSide = 16;
    // Rows of the dark band above the two pictures of a dual-picture device.
    static constexpr int kBandRows = 10;

    // Sizes are made even (4:2:0 needs it) and clamped to kMinSide..kMaxSide.
    Picture(int width, int height);

    int Width() const { return mWidth; }
    int Height() const { return mHeight; }
    uint8_t* Plane(int index) { return mPlanes[index].data(); }
    const uint8_t* Plane(int index) const { return mPlanes[index].data(); }
    // Bytes per row of a plane (no padding: width, then width / 2 twice).
    int Stride(int index) const { return index == 0 ? mWidth : mWidth / 2; }

    // Draws frame `frame` of channel `channel` over the whole picture, with
    // `clock` as the time line ("hh:mm:ss.mmm").
    void Draw(int channel, uint32_t frame, const std::string& clock);
    // A dual-picture device's frame: a band of kBandRows rows, the even
    // channel in rows kBandRows .. (h - kBandRows) / 2, the odd channel from
    // (h - kBandRows) / 2 + kBandRows to the bottom (where the viewer cuts them).
    void DrawDual(int oddChannel, uint32_t frame, const std::string& clock);

    // Luma of pixel (x, y), for tests of the drawing.
    uint8_t Luma(int x, int y) const { return mPlanes[0][static_cast<size_t>(y) * mWidth + x]; }

private:
    void DrawRegion(int top, int bottom, int channel, uint32_t frame, const std::string& clock);
    void Fill(int left, int top, int right, int bottom, uint8_t y, uint8_t u, uint8_t v);
    void Text(int left, int top, int scale, const std::string& text);

    int mWidth;
    int mHeight;
    std::vector<uint8_t> mPlanes[3];
};

} // namespace camsim
