/* RecKit: records a camera channel's video (and audio) frames into Matroska
 * files, copying the compressed streams as they come (no transcoding).
 *
 * Calls, in order: CreateCMSRecorder, SetCMSRecorderFileInfo,
 * StartCMSRecorder, any number of JoinVideoToCMSRecorder and
 * JoinAudioToCMSRecorder, StopCMSRecorder, ReleaseCMSRecorder. Every call is
 * synchronous and every function may be called from any thread; calls on one
 * handle are serialised. A negative, unknown or released handle makes every
 * call fail (result 0) without harm. Results: non-zero on success, 0 on
 * failure; CreateCMSRecorder returns a handle >= 0 or -1.
 *
 * Stream kinds: 65 JPEG (Matroska V_MJPEG), 66 MPEG-4 Visual, 67 H.264 and
 * 200 H.264 of the two-stream recorder model (both V_MPEG4/ISO/AVC).
 * See docs/codecs.md for file naming, time stamps and crash behaviour.
 */
#ifndef IPCAMVIEW_RECKIT_H
#define IPCAMVIEW_RECKIT_H

#include <stdint.h>
#include <wchar.h>

#if defined(IPCAM_BUILDING_RECKIT)
#define IPCAM_RECKIT_API __attribute__((visibility("default")))
#else
#define IPCAM_RECKIT_API
#endif

/* SYSTEMTIME: inside this project the kernel layer's own definition (the same
 * 16 bytes) is used, so that a record's time can be filled by GetLocalTime
 * directly; elsewhere the header brings its own. */
#if defined(__cplusplus) && defined(__has_include)
#if __has_include("os/kernel/Kernel.h")
#include "os/kernel/Kernel.h"
#define IPCAM_RECKIT_HAVE_SYSTEMTIME 1
#endif
#endif
#ifndef IPCAM_RECKIT_HAVE_SYSTEMTIME
typedef struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} SYSTEMTIME;
#endif

#pragma pack(push, 1)

/* The Windows audio format description; the same guard as Windows' own
 * header, so that only one definition is seen. */
#ifndef _WAVEFORMATEX_
#define _WAVEFORMATEX_
typedef struct tWAVEFORMATEX {
    uint16_t wFormatTag; /* 1 PCM, 6 A-law, 7 u-law, 0x00FF AAC */
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
} WAVEFORMATEX;
#endif

/* One video frame handed to JoinVideoToCMSRecorder. */
typedef struct CmsVideoFrame {
    uint8_t* pData;       /* the frame's bytes, only read during the join */
    uint32_t dataLength;  /* bytes at pData */
    int32_t width;        /* pixels */
    int32_t height;       /* pixels; negative for top-down pictures (the sign is ignored here) */
    int32_t frameRate;    /* frames per second, or thousandths of one when 1000 or more; 0 = unknown */
    uint8_t reserved0;    /* 0 */
    uint8_t channel;      /* the camera channel, 0 to 16 */
    uint8_t frameType;    /* 0 key frame, 1 predicted frame, 2 stream configuration */
    uint8_t videoFormat;  /* 0 JPEG, 1 MPEG-4, 2 H.264 */
    uint32_t value;       /* first entry of the frame's tag list (alarm kind), 0 for none */
    SYSTEMTIME time;      /* local time at which the record was made */
    uint8_t reserved1[8]; /* 0 */
} CmsVideoFrame;

/* One block of audio handed to JoinAudioToCMSRecorder. */
typedef struct CmsAudioFrame {
    uint8_t* pData;      /* the audio bytes, only read during the join */
    uint32_t dataLength; /* bytes at pData */
    WAVEFORMATEX format; /* what the bytes are */
} CmsAudioFrame;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is 16 bytes");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes, packed");
static_assert(sizeof(void*) != 8 || sizeof(CmsVideoFrame) == 56,
              "CmsVideoFrame: 52 bytes + 4 for the pointer");
static_assert(sizeof(void*) != 8 || sizeof(CmsAudioFrame) == 30,
              "CmsAudioFrame: 26 bytes + 4 for the pointer");
static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsVideoFrame, dataLength) == 8, "layout");
static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsVideoFrame, width) == 12, "layout");
static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsVideoFrame, frameRate) == 20, "layout");
static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsVideoFrame, channel) == 25, "layout");
static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsVideoFrame, frameType) == 26, "layout");
static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsVideoFrame, videoFormat) == 27, "layout");
static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsVideoFrame, value) == 28, "layout");
static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsVideoFrame, time) == 32, "layout");
static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsVideoFrame, reserved1) == 48, "layout");
static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsAudioFrame, format) == 12, "layout");
#else
_Static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is 16 bytes");
_Static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes, packed");
_Static_assert(sizeof(void*) != 8 || sizeof(CmsVideoFrame) == 56,
               "CmsVideoFrame: 52 bytes + 4 for the pointer");
_Static_assert(sizeof(void*) != 8 || sizeof(CmsAudioFrame) == 30,
               "CmsAudioFrame: 26 bytes + 4 for the pointer");
_Static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsVideoFrame, time) == 32, "layout");
_Static_assert(sizeof(void*) != 8 || __builtin_offsetof(CmsAudioFrame, format) == 12, "layout");
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Stream kinds of CreateCMSRecorder. */
#define CMS_KIND_JPEG 65
#define CMS_KIND_MPEG4 66
#define CMS_KIND_H264 67
#define CMS_KIND_H264_DUAL 200

/* Creates a recorder for a stream kind (65, 66, 67, 200). first and second
 * are reserved (the viewer passes 0 and 0) and ignored. -1 for another kind
 * or a full table. */
IPCAM_RECKIT_API int32_t CreateCMSRecorder(int32_t kind, int32_t first, int32_t second);

/* Sets where the recording goes, before StartCMSRecorder. info: a file path
 * (converted to UTF-8); null or empty means rec-<channel>-<YYYYMMDD-HHMMSS>.mkv
 * in the working directory, named from the first frame's channel and time.
 * thrd: the writer mode the viewer passes ("thrd"); accepted and not used, the
 * writer always works on the caller's thread. 0 after Start or for a path
 * longer than 4096 characters. */
IPCAM_RECKIT_API int32_t SetCMSRecorderFileInfo(int32_t handle, const wchar_t* info, const wchar_t* thrd);

/* Starts the recording: a given path is created (truncated) now, so a path
 * that cannot be written fails here. 0 when already started or stopped. */
IPCAM_RECKIT_API int32_t StartCMSRecorder(int32_t handle);

/* Adds one video frame (copied; the record is not kept). 0 for a frame of
 * another video format than the recorder's kind, an empty or oversized frame,
 * a frame before the stream's first key frame, or a write error. */
IPCAM_RECKIT_API int32_t JoinVideoToCMSRecorder(int32_t handle, const CmsVideoFrame* frame);

/* Adds one block of audio (copied). u-law (7), A-law (6), 16-bit PCM (1) and
 * AAC (0x00FF; ADTS or raw frames). The first block fixes the audio format;
 * a block of another format, or audio arriving after the file was laid out
 * without an audio track, gives 0. */
IPCAM_RECKIT_API int32_t JoinAudioToCMSRecorder(int32_t handle, const CmsAudioFrame* frame);

/* Finishes the file (index and duration written). When it returns the file is
 * complete. 1 also when nothing was recorded (then no file is left); 0 when
 * the recorder was never started or is already stopped, or the file could not
 * be finished. */
IPCAM_RECKIT_API int32_t StopCMSRecorder(int32_t handle);

/* Stops the recording if it still runs and invalidates the handle. */
IPCAM_RECKIT_API int32_t ReleaseCMSRecorder(int32_t handle);

/* The name of the recording's file as UTF-8 (the path given, or the default
 * name once the first frames have named it). Writes it with its NUL into
 * buffer when it fits in capacity bytes, and returns its length in bytes
 * without the NUL (so a result >= capacity means nothing was written). 0
 * while no file exists yet, after a stop that left none (nothing recorded),
 * and for a bad handle. Stays valid after StopCMSRecorder. */
IPCAM_RECKIT_API int32_t GetCMSRecorderFileName(int32_t handle, char* buffer, int32_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* IPCAMVIEW_RECKIT_H */
