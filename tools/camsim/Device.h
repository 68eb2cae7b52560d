// The device models camsim can play, and the live state of the one it plays.
//
// `DeviceConfig` is a model's fixed description: one entry per row of
// docs/devices.md (name, machine code, device type, channel count, receive
// type) plus what the model sends and answers: codec, picture sizes, frame
// rate, audio, stream profiles. It is immutable once the table is built.
//
// `DeviceState` is the running device: its parameter store (the values the
// parameter CGIs read and the editors and the PTZ control write) and the
// stream settings derived from it. Every value that a client can read through
// a CGI lives in the store as text, so that a write through "/vb.htm?" or the
// control CGI changes what the live media send as well as what the next read
// answers. Settings persist for the life of the process.
//
// Threads: one DeviceState is shared by every connection thread; all its
// members lock internally and may be called from any thread.
#pragma once

#include "Picture.h"
#include "PtzHead.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace camsim {

// Video format codes as the devices announce them to the viewer.
constexpr uint32_t kCodecNone = 0;
constexpr uint32_t kCodecJpeg = 1000;
constexpr uint32_t kCodecMpeg4 = 1005;
constexpr uint32_t kCodecH264 = 1010;
// Audio format codes: mu-law, AAC, G.726.
constexpr uint32_t kAudioNone = 0;
constexpr uint32_t kAudioUlaw = 2005;
constexpr uint32_t kAudioAac = 2010;
constexpr uint32_t kAudioG726 = 2020;
// Frame rates in thousandths of a frame per second.
constexpr uint32_t kFrameRateNtsc = 30000;
constexpr uint32_t kFrameRatePal = 25000;

// Which set of CGIs a model answers its set-up through.
enum class Dialect {
    ParameterCamera, // "/vb.htm?" camera with format and size keys
    ProfileCamera,   // "/vb.htm?" plus "/ipcam/multiprofile.cgi?" stream profiles
    FixedCamera,     // takes codec, size and profile from the host: asks nothing
    MultiChannel,    // "/api.htm?" recorder
    VideoStandard,   // "/getstate?value=ntsc" and "/dms" servers
    OtherVendor,     // the other vendor's fixed MJPEG camera
    NoVideo,         // answers "getmachinecode" only
};

const char* DialectName(Dialect dialect);

// One stream profile of a profile camera. Profile ids index the device's
// profile list; id 0 exists but cannot stream.
struct ProfileConfig {
    bool valid = true;
    uint32_t codec = kCodecJpeg;
    uint32_t width = 0;
    uint32_t height = 0;
};

struct DeviceConfig {
    std::string name;
    uint32_t machineCode = 0;
    int deviceType = 0;
    uint32_t maxChannel = 0;
    int receiveType = 0; // 1 multipart stream, 2 one JPEG per request, 0 none
    Dialect dialect = Dialect::NoVideo;

    uint32_t videoCodec = kCodecNone;
    // The size of one channel's picture. A dual-picture model sends two of
    // them one above the other under a band (see PictureHeight); its size
    // keys and its JPEG header give that whole picture, which is what the
    // viewer splits.
    uint32_t width = 0;
    uint32_t height = 0;
    // The height the recorder's size keys report, when it differs from the
    // picture (encoders that report their padded frame: 504 for 480, 624
    // for 576). 0 = the picture's height.
    uint32_t reportedHeight = 0;
    uint32_t frameRate = kFrameRateNtsc;
    bool pal = false; // "videomode" 1: 25 frames per second

    bool audioSupported = false;
    uint32_t audioCodec = kAudioNone;
    uint32_t audioSampleRate = 8000;
    uint32_t audioBits = 8;
    uint32_t audioChannels = 1;

    // JPEG images begin with the device header (APP12 "IPCH" right after
    // SOI). The fixed camera's images carry none.
    bool jpegDeviceHeader = true;
    // The header holds the picture size at bytes 36/38 (model 8192 leaves 0).
    bool headerCarriesSize = true;
    // Two channels in one picture, one above the other under a band of
    // kDualPictureBand pixels.
    bool dualPicture = false;

    std::vector<ProfileConfig> profiles; // profile cameras only; index = profile id

    // How the model detects motion, as its "supportmotion" answer says:
    // kMotionArea (one rectangle, "getmotionx1" ...), kMotionGrid (a block
    // grid, "motionblock"), or kMotionNone ("0", and none of those keys).
    // kMotionUnasked: the model has no "supportmotion" key at all.
    int motionSupport = 0;

    // Set by the benchmark options (ApplyOverrides), never by the table:
    // every stream runs at this rate (thousandths), whatever "videomode"
    // says and however many channels share a connection; 0 = the model's
    // rates.
    uint32_t forcedFrameRate = 0;
    // The pictures keep width x height whatever the request asks, on the
    // models whose protocol fixes the size elsewhere (the video-standard
    // server's standard, the other vendor's stream path).
    bool fixedSize = false;
    // --still: the scene does not move by itself and carries no text, so
    // that pictures change only with the PTZ view and the privacy masks.
    bool still = false;
};

// The benchmark options: what a run changes in its model. 0 (kCodecNone)
// keeps the model's own value.
struct ModelOverrides {
    uint32_t width = 0; // the pictures sent; a dual-picture model's whole picture
    uint32_t height = 0;
    uint32_t fps = 0;
    uint32_t codec = kCodecNone;
    bool Any() const { return width || height || fps || codec != kCodecNone; }
};

// Sizes the benchmark options accept: even (4:2:0), within what a picture
// may be.
constexpr uint32_t kMinOverrideSide = 16;
constexpr uint32_t kMaxOverrideSide = 4096;
constexpr uint32_t kMaxOverrideFps = 60;

// `model` with the overrides applied, so that its parameter CGIs, its
// description and its streams all say the new size, codec and rate. False,
// with one line in *error, for what the model's protocol cannot say: a codec
// its machine code does not allow, a rate a polled model cannot report, a
// height an H.264 recorder's size keys would read as a padded frame, any
// option on a model without video.
bool ApplyOverrides(const DeviceConfig& model, const ModelOverrides& overrides, DeviceConfig* out,
                    std::string* error);

// Motion detection kinds (DeviceConfig::motionSupport).
constexpr int kMotionUnasked = -1;
constexpr int kMotionNone = 0;
constexpr int kMotionArea = 1;
constexpr int kMotionGrid = 2;

// Height of the band between the two channels of a dual picture.
constexpr uint32_t kDualPictureBand = 10;
// The fixed camera's "cif" stream paths, asked for every profile but 0, send
// CIF whatever the host said.
constexpr uint32_t kCifWidth = 352;
constexpr uint32_t kCifHeight = 288;

// The height of the pictures a model sends: one channel's, or for a
// dual-picture model two channels and the band.
uint32_t PictureHeight(const DeviceConfig& config);
// One channel's part of a picture of that height.
uint32_t ChannelHeight(const DeviceConfig& config, uint32_t pictureHeight);
// Largest channel count of any model, and the bound of channel numbers in the
// parameter keys.
constexpr uint32_t kMaxChannels = 16;

// Every model camsim plays, in the order of docs/devices.md.
const std::vector<DeviceConfig>& DeviceTable();
// The model of that name, or null.
const DeviceConfig* FindDevice(const std::string& name);
// The device played when no --device is given.
constexpr const char* kDefaultDeviceName = "cam-jpeg-4608";

// What one channel (or profile) streams at this moment.
struct VideoSettings {
    uint32_t codec = kCodecNone;
    uint32_t width = 0;  // picture width in pixels
    uint32_t height = 0; // picture height in pixels (a dual picture: both channels and the band)
    uint32_t frameRate = kFrameRateNtsc;
    bool audio = false;
    uint32_t audioCodec = kAudioNone;
};

class DeviceState {
public:
    // Bounds of the store, so that a client writing forever cannot grow the
    // process without limit.
    static constexpr size_t kMaxEntries = 1024;
    static constexpr size_t kMaxValueBytes = 4096;
    static constexpr size_t kMaxNameBytes = 128;
    // Privacy masks drawn at most (the list may hold more items).
    static constexpr size_t kMaxMasks = 16;

    explicit DeviceState(const DeviceConfig& config);
    DeviceState(const DeviceState&) = delete;
    DeviceState& operator=(const DeviceState&) = delete;

    const DeviceConfig& Config() const { return mConfig; }

    // The store. Names are the device's own parameter names without the
    // "get" of the read keys ("format", "jpegxsize"); per-channel values are
    // stored as "name.N" (channel N, 1-based) and per-profile values as
    // "profile.P.name". Get is false for a name not in the store.
    bool Get(const std::string& name, std::string* value) const;
    // Sets or adds a value. False when the name or value is too long or the
    // store is full (a new name beyond kMaxEntries).
    bool Set(const std::string& name, const std::string& value);
    // Resets the store to the model's values.
    void Reset();
    std::map<std::string, std::string> Snapshot() const;
    // Number that changes whenever a value changes, so that a live stream can
    // notice a new size or codec cheaply.
    uint64_t Generation() const;

    // What channel `channel` (1-based; 0 is taken as 1) streams now, derived
    // from the store. On a dual-picture model the size is the whole picture.
    VideoSettings Video(uint32_t channel) const;
    // What profile `profileId` streams now; codec kCodecNone for an invalid or
    // unknown profile.
    VideoSettings ProfileVideo(uint32_t profileId) const;
    // The size a recorder's or camera's device header reports for the
    // channel's pictures (0 x 0 for models whose header carries no size).
    void HeaderSize(uint32_t channel, uint32_t* width, uint32_t* height) const;

    // Whether the model has the PTZ head ("qk310output"): every model with
    // the family's editor keys.
    bool HasPtz() const;
    // The head the "qk310output" commands drive; reset with the store.
    PtzHead& Ptz() { return mPtz; }
    const PtzHead& Ptz() const { return mPtz; }
    // What the device does to its pictures at `now`: the PTZ view, the
    // enabled privacy masks of "maskarealist.all" in the mask grid of
    // "maskareaxlimit" x "maskareaylimit", and --still.
    Scene SceneAt(PtzHead::Clock::time_point now) const;

    // The model's configuration and the values served, as name=value lines.
    std::string Describe() const;

private:
    uint32_t Number(const std::string& name, uint32_t fallback) const; // caller holds mLock
    bool Lookup(const std::string& name, std::string* value) const;    // caller holds mLock
    uint32_t ChannelNumber(const std::string& name, uint32_t channel, uint32_t fallback) const;
    void Fill();

    const DeviceConfig mConfig;
    mutable std::mutex mLock;
    std::map<std::string, std::string> mValues; // guarded by mLock
    uint64_t mGeneration = 0;                   // guarded by mLock
    // The masks as last read from the store, and the generation they were
    // read at: a stream asks every frame, the list changes rarely.
    mutable Scene mMasks;                          // guarded by mLock
    mutable uint64_t mMaskGeneration = UINT64_MAX; // guarded by mLock
    PtzHead mPtz;                                  // locks itself
};

} // namespace camsim
