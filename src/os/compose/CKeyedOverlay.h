// The overlay bitmap as the video mixer holds it: a copy taken when the
// renderer is handed the bitmap (ten times a second while a caption or an
// editor is shown), blended over every picture until the next one. Pixels of
// the colour key (white: GDI clears the bitmap to the window colour) are
// transparent, the others are mixed with the video by the overlay's alpha.
//
// The copy keeps only the pixels that are not the key, as runs per row: the
// captions and editor lines cover a small part of the bitmap, so blending
// costs in proportion to what is drawn, and a cleared bitmap costs nothing.
//
// Threads: Set, SetAlpha and Clear change the overlay; Blend only reads it.
// The owner (a renderer) serialises them with its own lock.
#pragma once

#include <cstdint>
#include <vector>

#include "os/compose/Compose.h"

namespace os {

enum class EOverlayFormat {
    Bgrx,  // 4 bytes a pixel, B, G, R and a byte that is not looked at
    Bgr24, // 3 bytes a pixel, B, G, R
};

class CKeyedOverlay {
public:
    // The mixer's colour key for the overlay: white (0x00BBGGRR).
    static constexpr COLORREF kWhite = 0xFFFFFF;

    CKeyedOverlay() = default;

    // Takes the bitmap: width x height pixels, the top row at pixels, each
    // row stride bytes after the one above it (negative for a bottom-up
    // bitmap). Pixels whose R, G and B are those of key (a COLORREF) are
    // transparent. False for a null bitmap or a size of 0 or above
    // kComposeMaxDimension; the overlay is then empty.
    bool Set(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride, EOverlayFormat format,
             COLORREF key = kWhite);
    // 0 (invisible) to 1 (opaque); values outside are clamped, NaN is 0.
    void SetAlpha(float alpha);
    float Alpha() const { return mAlpha; }
    // Nothing to blend.
    void Clear();

    int32_t Width() const { return mWidth; }
    int32_t Height() const { return mHeight; }
    // Pixels that are not the key.
    int64_t OpaquePixels() const { return int64_t(mPixels.size()); }
    // True when Blend would change nothing.
    bool IsInvisible() const { return mPixels.empty() || AlphaWeight() == 0; }

    // Blends the bitmap stretched over target (nearest pixel, so that the key
    // never smears into its neighbours) into the surface, writing only the
    // pixels inside clip (and the surface): alpha x overlay + (1 - alpha) x
    // video per colour, within one level.
    void Blend(const SComposeSurface& surface, const RECT& target, const RECT& clip) const;

    // Alpha as the weight of the overlay in 256ths.
    int AlphaWeight() const;

private:
    // A run of pixels of one row that are not the key: columns [mBegin,
    // mEnd), whose pixels start at mPixels[mFirst].
    struct SRun {
        int32_t mBegin;
        int32_t mEnd;
        uint32_t mFirst;
    };

    int32_t mWidth = 0;
    int32_t mHeight = 0;
    float mAlpha = 1.0f;
    // Runs of row y: mRuns[mRowRuns[y]] up to mRuns[mRowRuns[y + 1]].
    std::vector<uint32_t> mRowRuns;
    std::vector<SRun> mRuns;
    // The pixels of the runs, as the surface holds them (B, G, R, 0xFF).
    std::vector<uint32_t> mPixels;
};

} // namespace os
