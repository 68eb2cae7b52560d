// The pictures that travel between the video filters: which picture subtype
// is which decoder pixel code, how many bytes a picture needs, and the
// description the compositing function takes (os/compose) of a sample.
//
// Threads: pure functions.
#pragma once

#include "os/compose/Compose.h"
#include "os/dshow/DShow.h"

#include <cstdint>

namespace os::dshow {

// The decoder pixel code of a picture subtype (100 RGB24, 120 RGB565, 130
// I420, 32 RGB32); 0 for anything else.
int32_t PixelCodeOf(REFGUID subtype);
// Bytes a picture of this code needs with rows of stride bytes (for I420 the
// luma row; chroma rows are half of it).
int64_t PictureBytes(int32_t pixelCode, int32_t stride, int32_t height);
// The picture a sample carries, for ComposePicture; false when the sample
// is too short for the size it names.
bool PictureOfSample(const CMediaSample& sample, int32_t pixelCode, SComposePicture* picture);
// The largest rectangle with the shape of width x height centred in dst.
RECT LetterboxRect(const RECT& dst, int32_t width, int32_t height);
// Fills the part of rect inside the surface with a colour (0x00BBGGRR).
void FillSurfaceRect(const SComposeSurface& surface, const RECT& rect, COLORREF colour);

} // namespace os::dshow
