/* vcodec: decodes the compressed video of IP cameras (JPEG, MPEG-4 Visual,
 * H.264) into pictures of a chosen pixel format.
 *
 * Handles: CreateCodec returns a handle of 0 or more, negative on failure. A
 * handle serves one thread at a time; different handles may be used on
 * different threads at once, and creating and releasing handles is safe from
 * any thread. A negative, unknown or released handle makes every call fail
 * (result 0) without touching the buffers. Released handle numbers are not
 * handed out again for a long time, so a stale handle does not reach a new
 * codec.
 *
 * Input format codes: 1000 JPEG (one whole image per call), 1005 MPEG-4 Visual
 * (one frame per call; a frame that begins with the configuration carries it
 * in-band), 1010 H.264 Annex-B byte stream in any slicing (see Decode).
 *
 * Output pixel codes (bits per pixel):
 *   100 (24)  BGR, 3 bytes per pixel, blue first
 *   120 (16)  RGB565, little-endian 16-bit words, red in the top 5 bits
 *   130 (12)  planar I420: Y plane (width x |height|, rows of width bytes),
 *             then U, then V (each width/2 x |height|/2, rows of width/2 bytes;
 *             halves rounded down, so with an odd size the last chroma column
 *             or row is left out and the picture fits stride x |height|)
 *   0    (0)  no picture: the handle is valid but Decode never writes one
 *   other(32) BGRA, 4 bytes per pixel, blue first, alpha 255
 * Packed codes have rows of stride = ceil(width * bits / 8) rounded up to a
 * multiple of 4 bytes; a picture takes stride x |height| bytes. A positive
 * height means bottom-up rows (as a Windows DIB: the first row in memory is the
 * bottom of the picture; for I420 each plane is stored bottom-up), a negative
 * height top-down rows.
 *
 * Picture size: pictures come out at the size of the stream itself. The width
 * and height given to CreateCodec are what the caller expects; when a camera
 * changes its resolution the pictures follow the stream and the stride is that
 * of the stream's width, so a caller that sizes its buffer from each frame's
 * own width and height gets whole pictures. Only the sign of CreateCodec's
 * height is used for every picture (row order).
 */
#ifndef IPCAMVIEW_VCODEC_H
#define IPCAMVIEW_VCODEC_H

#include <stdint.h>

#if defined(IPCAM_BUILDING_VCODEC)
#define IPCAM_VCODEC_API __attribute__((visibility("default")))
#else
#define IPCAM_VCODEC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Input video format codes. */
#define VCODEC_FORMAT_JPEG 1000
#define VCODEC_FORMAT_MPEG4 1005
#define VCODEC_FORMAT_H264 1010

/* Output pixel format codes (any other code means 32-bit BGRA). */
#define VCODEC_PIXEL_NONE 0
#define VCODEC_PIXEL_BGR24 100
#define VCODEC_PIXEL_RGB565 120
#define VCODEC_PIXEL_I420 130
#define VCODEC_PIXEL_BGRA32 32

/* Largest picture side accepted, in pixels, for CreateCodec and for streams. */
#define VCODEC_MAX_DIMENSION 8192

/* Largest MPEG-4 or H.264 picture accepted, in pixels (4096 x 4096: a 4K or
 * 12-megapixel camera fits). A stream's header names the size its decoder
 * allocates every reference picture at, up to sixteen of them for H.264.
 * The environment variable VCODEC_MAX_PIXELS may lower it (a decimal count
 * of pixels), as it is when the first decoder is made. */
#define VCODEC_MAX_PIXELS (4096 * 4096)

/* Marker a caller may put in the first 8 bytes of an output buffer whose
 * address is not a multiple of 16: the picture then starts 8 bytes in, and the
 * 8 bytes count against the buffer's size. */
#define VCODEC_ALIGN_MARKER_SIZE 8

/* Creates a decoder. inFormat: 1000, 1005 or 1010. width > 0 and height != 0,
 * each at most VCODEC_MAX_DIMENSION in magnitude. fps is accepted and unused
 * (the pictures do not depend on the frame rate). Returns a handle >= 0, or
 * -1 for an unknown input format, a bad size, a full table or a decoder that
 * could not be set up. */
IPCAM_VCODEC_API int32_t CreateCodec(int32_t inFormat, int32_t outPixelFormat, int32_t width, int32_t height,
                                     int32_t fps);

/* Decodes at most one picture.
 *   in, *inOutLength: the input bytes. On return *inOutLength holds the bytes
 *     consumed. JPEG and MPEG-4 always consume the whole input. H.264 consumes
 *     up to the end of the access unit whose picture was written; when no
 *     picture comes out it reports 0 consumed and keeps nothing of the input,
 *     so the caller hands the same bytes again with more appended (an access
 *     unit is known to be complete only once the next one begins).
 *   out, *inOutSize: on entry the buffer's length in bytes; on return the
 *     picture's size in bytes (0 when no picture was written).
 * Returns non-zero when a picture was written, 0 otherwise: bad handle, null
 * pointers, negative lengths, no complete picture yet, a truncated or corrupt
 * frame, a stream larger than VCODEC_MAX_DIMENSION, or a buffer too small for
 * the picture (nothing is written past *inOutSize bytes). */
IPCAM_VCODEC_API int32_t Decode(int32_t handle, const uint8_t* in, int32_t* inOutLength, uint8_t* out,
                                int32_t* inOutSize);

/* Releases a handle: 1 when it was valid, 0 otherwise. Afterwards the handle
 * is invalid. */
IPCAM_VCODEC_API int32_t ReleaseCodec(int32_t handle);

#ifdef __cplusplus
}
#endif

#endif /* IPCAMVIEW_VCODEC_H */
