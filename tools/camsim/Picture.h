// The simulated camera's test picture: a planar 4:2:0 image (I420, the
// layout every encoder here takes) and the drawing of one frame of it.
//
// Each frame shows a diagonal gradient and a block of fine texture that move
// with the frame number, colour bars whose order depends on the channel, and
// three text lines in a built-in 5x7 font: the channel ("CH 03"), the frame
// number ("#000123") and the local time ("08:01:02.345"). So a person can
// tell channels and frames apart by eye, a decoder sees motion, and the JPEG
// pictures keep well above the size a polling viewer drops as "no picture".
//
// What the device does to its scene comes on top (`Scene`): the pan/tilt/zoom
// view looks at another part of an endless scene (the pattern repeats every
// picture width and height) and magnifies it around the centre, the enabled
// privacy masks are blanked out in grey, and the text stays where it is, as
// a camera's on-screen display does. A still scene does not move by itself
// and carries no text, so that two pictures differ only when the view or the
// masks changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

struct Scene {
    static constexpr int kZoomHome = 1000; // thousandths

    // A privacy mask in cells of the device's mask grid, both corners
    // included.
    struct Mask {
        int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    };

    int pan = 0;  // scene pixels the view looks right of home
    int tilt = 0; // ... below home
    int zoom = kZoomHome;
    int maskColumns = 0; // the mask grid; no masks are drawn while either is 0
    int maskRows = 0;
    std::vector<Mask> masks; // the enabled ones
    bool still = false;

    bool Moved() const { return pan != 0 || tilt != 0 || zoom != kZoomHome; }
    // Drawn as the pictures of a replayed clip are: nothing on top.
    bool Plain() const { return !Moved() && (masks.empty() || maskColumns <= 0 || maskRows <= 0); }
};

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
    void Draw(int channel, uint32_t frame, const std::string& clock, const Scene& scene = Scene());
    // A dual-picture device's frame: a band of kBandRows rows, the even
    // channel in rows kBandRows .. (h - kBandRows) / 2, the odd channel from
    // (h - kBandRows) / 2 + kBandRows to the bottom (where the viewer cuts them).
    // Each channel has the scene's view and masks in its own part.
    void DrawDual(int oddChannel, uint32_t frame, const std::string& clock, const Scene& scene = Scene());

    // Luma of pixel (x, y), for tests of the drawing.
    uint8_t Luma(int x, int y) const { return mPlanes[0][static_cast<size_t>(y) * mWidth + x]; }

private:
    void DrawRegion(int top, int bottom, int channel, uint32_t frame, const std::string& clock,
                    const Scene& scene);
    // Replaces rows top..bottom by the part of the (repeating) pattern the
    // view looks at.
    void Look(int top, int bottom, const Scene& scene);
    void Blank(int top, int bottom, const Scene& scene);
    void Fill(int left, int top, int right, int bottom, uint8_t y, uint8_t u, uint8_t v);
    void Text(int left, int top, int scale, const std::string& text);

    int mWidth;
    int mHeight;
    std::vector<uint8_t> mPlanes[3];
    std::vector<uint8_t> mScratch; // Look's copy of the region
};

} // namespace camsim
