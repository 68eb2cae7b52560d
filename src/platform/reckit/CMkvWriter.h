// Writes one Matroska file through libavformat: tracks are declared, the
// header written once, then packets as they come, then the trailer.
//
// Crash behaviour: clusters are closed after kClusterTimeLimitMs of media (or
// kClusterSizeLimit bytes, or at a video key frame once the cluster holds
// some data) and every closed cluster goes to the file at once, so a writer
// killed mid-recording leaves a file that players read up to its last
// complete cluster. The segment's size is left "unknown" until the trailer.
//
// Not thread-safe: its owner (CCmsRecorder) serialises the calls.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVPacket;
struct AVStream;

namespace ipcam {

class CMkvWriter {
public:
    static constexpr int kClusterTimeLimitMs = 500;
    static constexpr int kClusterSizeLimit = 2 * 1024 * 1024;
    // Time stamps are milliseconds, Matroska's default scale.
    static constexpr int kTimeBase = 1000;
    // Bytes the muxer may read past a packet's end: libavcodec's
    // AV_INPUT_BUFFER_PADDING_SIZE (checked where FFmpeg's headers are seen).
    static constexpr size_t kPadding = 64;

    CMkvWriter() = default;
    ~CMkvWriter(); // closes without a trailer (see Abort)
    CMkvWriter(const CMkvWriter&) = delete;
    CMkvWriter& operator=(const CMkvWriter&) = delete;

    // Creates (truncates) the file. path is UTF-8.
    bool Open(const std::string& path);
    bool IsOpen() const { return mpContext != nullptr; }
    const std::string& Path() const { return mPath; }

    // Track declarations, before WriteHeader; each returns the track index or -1.
    // codecId is an AVCodecID.
    int AddVideo(int codecId, int width, int height, const std::vector<uint8_t>& extradata);
    int AddAudio(int codecId, int sampleRate, int channels, int bitsPerSample,
                 const std::vector<uint8_t>& extradata);

    bool WriteHeader();
    bool HeaderWritten() const { return mHeaderWritten; }
    // One packet; times in milliseconds. The bytes are copied into a
    // buffer padded as libavcodec expects.
    bool Write(int track, const uint8_t* data, size_t size, int64_t pts, int64_t duration, bool key);
    // The same for bytes that are already followed by kPadding zero bytes
    // the muxer may read: handed to it as they are, without the copy.
    bool WritePadded(int track, const uint8_t* data, size_t size, int64_t pts, int64_t duration, bool key);
    // Writes the trailer and closes the file.
    bool Finish();
    // Closes without the trailer and removes the file (used when nothing was
    // recorded).
    void Abort();

private:
    // A new stream of the media type and codec on this writer's clock; null
    // once the header is written or without a file.
    AVStream* NewStream(int mediaType, int codecId);
    bool WritePacket(int track, const uint8_t* data, size_t size, int64_t pts, int64_t duration, bool key);
    void Close();

    AVFormatContext* mpContext = nullptr;
    std::string mPath;
    bool mHeaderWritten = false;
    // Kept from packet to packet (a frame-sized allocation per packet made
    // the C library give the memory back and fault it in again each time).
    AVPacket* mpPacket = nullptr;
    std::vector<uint8_t> mScratch;
};

} // namespace ipcam
