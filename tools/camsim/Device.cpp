#include "Device.h"

#include "Decimal.h"
#include "HttpRequest.h"

#include <algorithm>
#include <cstdio>

namespace camsim {

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%X", value);
    return text;
}

DeviceConfig Camera(const std::string& name, uint32_t code, uint32_t codec, uint32_t width, uint32_t height) {
    DeviceConfig c;
    c.name = name;
    c.machineCode = code;
    c.deviceType = 1;
    c.maxChannel = 1;
    c.receiveType = 1;
    c.dialect = Dialect::ParameterCamera;
    c.videoCodec = codec;
    c.width = width;
    c.height = height;
    c.audioSupported = true;
    c.audioCodec = kAudioUlaw;
    c.motionSupport = kMotionArea;
    return c;
}

// Profile cameras carry four profiles: 0 exists but cannot stream, 1 to 3
// stream H.264, MPEG-4 and JPEG at different sizes, so that a test picking a
// profile sees codec and size change together.
DeviceConfig ProfileCamera(const std::string& name, uint32_t code) {
    DeviceConfig c = Camera(name, code, kCodecH264, 1280, 720);
    c.deviceType = 5;
    c.dialect = Dialect::ProfileCamera;
    c.motionSupport = kMotionGrid;
    c.profiles = {
        {false, kCodecJpeg, 640, 480},
        {true, kCodecH264, 1280, 720},
        {true, kCodecMpeg4, 640, 480},
        {true, kCodecJpeg, 320, 240},
    };
    return c;
}

DeviceConfig Recorder(const std::string& name, uint32_t code, uint32_t channels, int receiveType,
                      uint32_t codec, uint32_t width, uint32_t height) {
    DeviceConfig c;
    c.name = name;
    c.machineCode = code;
    c.deviceType = 2;
    c.maxChannel = channels;
    c.receiveType = receiveType;
    c.dialect = Dialect::MultiChannel;
    c.motionSupport = kMotionGrid;
    c.videoCodec = codec;
    c.width = width;
    c.height = height;
    if (codec == kCodecH264) {
        c.audioSupported = true;
        c.audioCodec = kAudioAac;
        c.audioSampleRate = 44100;
        c.audioBits = 16;
        c.audioChannels = 2;
    } else {
        // JPEG recorders have no audio; the viewer still names mu-law.
        c.audioCodec = kAudioUlaw;
    }
    return c;
}

DeviceConfig NoVideo(const std::string& name, uint32_t code, int type) {
    DeviceConfig c;
    c.name = name;
    c.machineCode = code;
    c.deviceType = type;
    c.dialect = Dialect::NoVideo;
    c.motionSupport = kMotionUnasked;
    return c;
}

std::vector<DeviceConfig> BuildTable() {
    std::vector<DeviceConfig> t;
    t.push_back(Camera("cam-jpeg-4608", 0x1200, kCodecJpeg, 640, 480));
    t.push_back(Camera("cam-mpeg4-4752", 0x1290, kCodecMpeg4, 640, 480));
    t.push_back(Recorder("dvr-jpeg-5124", 0x1404, 4, 2, kCodecJpeg, 704, 480));
    t.push_back(Recorder("dvr-jpeg-5136", 0x1410, 16, 2, kCodecJpeg, 352, 240));
    // Two D1 channels a picture: its size keys report 720 x 1162.
    DeviceConfig dual264 = Recorder("dvr-h264-5138", 0x1412, 4, 1, kCodecH264, 720, 576);
    dual264.dualPicture = true;
    t.push_back(dual264);
    for (uint32_t code : {5751u, 5753u, 5761u, 5763u, 6002u, 6003u, 6004u}) {
        t.push_back(ProfileCamera("cam-profile-" + std::to_string(code), code));
    }
    DeviceConfig g726 = ProfileCamera("cam-profile-8192", 8192);
    g726.audioCodec = kAudioG726;
    g726.headerCarriesSize = false;
    // A PAL camera, so that one profile model answers "videomode" with 1.
    g726.pal = true;
    g726.frameRate = kFrameRatePal;
    t.push_back(g726);
    t.push_back(ProfileCamera("cam-profile-8193", 8193));
    t.push_back(ProfileCamera("cam-profile-8448", 8448));
    t.push_back(Recorder("dvr-h264-8775", 8775, 8, 1, kCodecH264, 704, 480));
    DeviceConfig padded = Recorder("dvr-h264-8776", 8776, 4, 1, kCodecH264, 704, 480);
    padded.reportedHeight = 504;
    t.push_back(padded);
    t.push_back(Recorder("dvr-h264-8777", 8777, 16, 1, kCodecH264, 352, 240));

    DeviceConfig server;
    server.name = "vs-jpeg-12292";
    server.machineCode = 0x3004;
    server.deviceType = 3;
    server.maxChannel = 4;
    server.receiveType = 2;
    server.dialect = Dialect::VideoStandard;
    server.videoCodec = kCodecJpeg;
    // A PAL server: its answer differs from what a viewer assumes when the
    // question goes unanswered (NTSC).
    server.pal = true;
    server.frameRate = kFrameRatePal;
    server.width = 352;
    server.height = 288;
    server.audioCodec = kAudioUlaw;
    // The server's dialect has no parameter CGI to ask through.
    server.motionSupport = kMotionUnasked;
    t.push_back(server);

    t.push_back(NoVideo("enc-noview-16385", 0x4001, 4));
    t.push_back(NoVideo("io-box-20481", 0x5001, 0));

    DeviceConfig fixed = Camera("cam-fixed-36865", 0x9001, kCodecJpeg, 640, 480);
    fixed.dialect = Dialect::FixedCamera;
    fixed.jpegDeviceHeader = false;
    // A camera without motion detection: it says so ("0").
    fixed.motionSupport = kMotionNone;
    t.push_back(fixed);

    DeviceConfig vendor;
    vendor.name = "cam-vendor-61441";
    vendor.machineCode = 0xF001;
    vendor.deviceType = 100;
    vendor.maxChannel = 1;
    vendor.receiveType = 1;
    vendor.dialect = Dialect::OtherVendor;
    vendor.videoCodec = kCodecJpeg;
    vendor.width = 320;
    vendor.height = 240;
    vendor.jpegDeviceHeader = false;
    vendor.motionSupport = kMotionUnasked;
    t.push_back(vendor);

    DeviceConfig dualJpeg = Recorder("dvr-jpeg-65540", 0x10004, 4, 2, kCodecJpeg, 352, 240);
    dualJpeg.dualPicture = true;
    t.push_back(dualJpeg);
    return t;
}

// The layout text a camera shows over its video: UTF-8 with a non-ASCII
// letter, so that a viewer's conversion to wide text is exercised.
const char kLayoutText[] = "camsim \xC3\xA9tage 1";
// Draw the text, left aligned, at the bottom.
const char kLayoutNumber[] = "33";

// Base64 in the devices' URL-safe spelling: "+" "=" "/" written "^" "@" "$",
// since the parameter CGI's answers are not percent-encoded.
std::string LayoutEncode(const std::string& text) {
    std::string b = Base64Encode(text);
    for (char& c : b) {
        if (c == '+')
            c = '^';
        else if (c == '=')
            c = '@';
        else if (c == '/')
            c = '$';
    }
    return b;
}

uint32_t ParseDecimal(const std::string& text, uint32_t fallback) {
    if (text.empty() || text.size() > 9)
        return fallback;
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return fallback;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    return v;
}

// Encoders that report their padded frame: the picture is smaller.
uint32_t UnpaddedHeight(uint32_t reported) {
    if (reported == 624)
        return 576;
    if (reported == 504)
        return 480;
    return reported;
}

} // namespace

namespace {

const char* CodecName(uint32_t codec) {
    switch (codec) {
    case kCodecJpeg:
        return "JPEG";
    case kCodecMpeg4:
        return "MPEG-4";
    case kCodecH264:
        return "H.264";
    default:
        return "no video";
    }
}

} // namespace

bool ApplyOverrides(const DeviceConfig& model, const ModelOverrides& o, DeviceConfig* out,
                    std::string* error) {
    DeviceConfig c = model;
    if (!o.Any()) {
        *out = c;
        return true;
    }
    if (c.dialect == Dialect::NoVideo || c.videoCodec == kCodecNone) {
        *error = c.name + " has no video: --size, --fps and --codec do not apply";
        return false;
    }
    const bool cameraFamily = c.dialect == Dialect::ParameterCamera || c.dialect == Dialect::ProfileCamera ||
                              c.dialect == Dialect::FixedCamera;
    if (o.codec != kCodecNone && o.codec != c.videoCodec && !cameraFamily) {
        // The viewer takes a recorder's or server's codec from its machine
        // code, and the other vendor's camera only has MJPEG.
        *error =
            "--codec: " + c.name + " sends " + CodecName(c.videoCodec) + " only (its machine code says so)";
        return false;
    }
    if (o.codec != kCodecNone) {
        c.videoCodec = o.codec;
        for (size_t p = 1; p < c.profiles.size(); ++p)
            if (c.profiles[p].valid)
                c.profiles[p].codec = o.codec;
    }
    if (o.width || o.height) {
        if (c.receiveType == 1 && (o.height == 504 || o.height == 624)) {
            // A viewer reads these heights in X-Resolution (and in an H.264
            // recorder's size keys) as the padded frames of 480 and 576 lines.
            *error = "--size: " + c.name + " cannot report a height of " + std::to_string(o.height) +
                     " (a viewer reads it as a padded " + (o.height == 504 ? "480" : "576") + ")";
            return false;
        }
        if (c.dualPicture && o.height < 2 * kMinOverrideSide + kDualPictureBand) {
            *error = "--size: " + c.name + " puts two channels and a " + std::to_string(kDualPictureBand) +
                     "-row band in a picture: at least " +
                     std::to_string(2 * kMinOverrideSide + kDualPictureBand) + " rows";
            return false;
        }
        c.width = o.width;
        c.height = c.dualPicture ? (o.height - kDualPictureBand) / 2 : o.height;
        // A padded encoder keeps reporting its padded frame where it has one.
        if (c.reportedHeight)
            c.reportedHeight = c.height == 480 ? 504 : c.height == 576 ? 624 : 0;
        for (size_t p = 1; p < c.profiles.size(); ++p) {
            if (!c.profiles[p].valid)
                continue;
            c.profiles[p].width = o.width;
            c.profiles[p].height = o.height;
        }
        c.fixedSize = c.dialect == Dialect::VideoStandard || c.dialect == Dialect::OtherVendor;
    }
    if (o.fps) {
        const uint32_t rate = o.fps * 1000;
        if (c.dialect == Dialect::VideoStandard) {
            // Polled; what the viewer learns is the video standard alone.
            if (rate != kFrameRatePal && rate != kFrameRateNtsc) {
                *error = "--fps: " + c.name + " is polled and can only report 25 (PAL) or 30 (NTSC)";
                return false;
            }
        } else if (c.receiveType == 2 && rate != kFrameRateNtsc) {
            *error =
                "--fps: " + c.name + " is polled: a viewer takes 30 fps from it and asks for each picture";
            return false;
        } else if (c.receiveType != 2) {
            c.forcedFrameRate = rate;
        }
        c.frameRate = rate;
        // "videomode" can only say 25 (PAL) or 30 (NTSC): other rates show
        // in the parts' X-Framerate alone.
        c.pal = rate == kFrameRatePal;
    }
    *out = c;
    return true;
}

uint32_t PictureHeight(const DeviceConfig& config) {
    return config.dualPicture ? 2 * config.height + kDualPictureBand : config.height;
}

uint32_t ChannelHeight(const DeviceConfig& config, uint32_t pictureHeight) {
    if (!config.dualPicture)
        return pictureHeight;
    return pictureHeight > kDualPictureBand ? (pictureHeight - kDualPictureBand) / 2 : 0;
}

const char* DialectName(Dialect dialect) {
    switch (dialect) {
    case Dialect::ParameterCamera:
        return "parameter-camera";
    case Dialect::ProfileCamera:
        return "profile-camera";
    case Dialect::FixedCamera:
        return "fixed-camera";
    case Dialect::MultiChannel:
        return "multi-channel";
    case Dialect::VideoStandard:
        return "video-standard";
    case Dialect::OtherVendor:
        return "other-vendor";
    case Dialect::NoVideo:
        return "no-video";
    }
    return "?";
}

const std::vector<DeviceConfig>& DeviceTable() {
    static const std::vector<DeviceConfig> table = BuildTable();
    return table;
}

const DeviceConfig* FindDevice(const std::string& name) {
    for (const DeviceConfig& c : DeviceTable())
        if (c.name == name)
            return &c;
    return nullptr;
}

DeviceState::DeviceState(const DeviceConfig& config) : mConfig(config) {
    Fill();
}

void DeviceState::Fill() {
    const DeviceConfig& c = mConfig;
    auto& v = mValues;
    v.clear();
    v["machinecode"] = Hex(c.machineCode);
    if (c.dialect == Dialect::NoVideo)
        return;
    const std::string w = std::to_string(c.width);
    const std::string h = std::to_string(c.height);
    v["videomode"] = c.pal ? "1" : "0";
    v["audioenable"] = c.audioSupported ? "1" : "0";
    if (c.dialect == Dialect::OtherVendor) {
        // The other vendor's camera knows no parameter keys of this family:
        // only its resolution, which its stream path also carries.
        v["resolution"] = w + "x" + h;
        return;
    }
    switch (c.dialect) {
    case Dialect::ParameterCamera:
    case Dialect::FixedCamera:
        v["supportavc"] = c.videoCodec == kCodecH264 ? "1" : "0";
        v["format"] = c.videoCodec == kCodecMpeg4 ? "1" : "0";
        for (const char* kind : {"jpeg", "mpeg4", "avc"}) {
            v[std::string(kind) + "xsize"] = w;
            v[std::string(kind) + "ysize"] = h;
        }
        break;
    case Dialect::ProfileCamera:
        for (size_t p = 0; p < c.profiles.size(); ++p) {
            const ProfileConfig& pr = c.profiles[p];
            const std::string prefix = "profile." + std::to_string(p) + ".";
            v[prefix + "streamvalid"] = pr.valid ? "1" : "0";
            v[prefix + "format"] = pr.codec == kCodecMpeg4 ? "1" : pr.codec == kCodecH264 ? "2" : "0";
            v[prefix + "xsize"] = std::to_string(pr.width);
            v[prefix + "ysize"] = std::to_string(pr.height);
        }
        break;
    case Dialect::MultiChannel: {
        const std::string picture = std::to_string(PictureHeight(c));
        const std::string reported = c.reportedHeight ? std::to_string(c.reportedHeight) : picture;
        for (uint32_t ch = 1; ch <= c.maxChannel; ++ch) {
            const std::string n = "." + std::to_string(ch);
            if (c.videoCodec == kCodecH264) {
                v["avcxsize" + n] = w;
                v["avcysize" + n] = reported;
                v["avcplayxsize" + n] = w;
                v["avcplayysize" + n] = reported;
            } else {
                v["jpegxsize" + n] = w;
                v["jpegysize" + n] = picture;
            }
        }
        break;
    }
    default:
        break;
    }

    // Keys of the area editors and the PTZ control. Cameras offer the motion
    // area, recorders and profile cameras the block grid (docs/devices.md).
    if (c.motionSupport != kMotionUnasked)
        v["supportmotion"] = std::to_string(c.motionSupport);
    if (c.motionSupport == kMotionArea) {
        v["motionxlimit"] = "22";
        v["motionylimit"] = "15";
        v["motionx1"] = "0";
        v["motiony1"] = "0";
        v["motionx2"] = "21";
        v["motiony2"] = "14";
        v["motionenable"] = "0";
        v["motionxy"] = "000000021014";
    }
    v["supportmaskarea"] = "1";
    v["maxmaskarea"] = "4";
    v["maskareaxlimit"] = "44";
    v["maskareaylimit"] = "30";
    std::string list;
    for (int i = 0; i < 4; ++i) {
        char item[32];
        std::snprintf(item, sizeof(item), "0%02d000000000000", i);
        list += item;
        list += ";";
    }
    v["maskarealist.all"] = list;
    if (c.motionSupport == kMotionGrid) {
        v["motionxblock"] = "12";
        v["motionyblock"] = "8";
        const std::string noBlocks(12 * 8 / 4, '0');
        v["motionblock"] = noBlocks;
        for (uint32_t ch = 1; ch <= c.maxChannel; ++ch)
            v["motionblock." + std::to_string(ch)] = noBlocks;
    }
    v["layouturl"] = LayoutEncode(kLayoutText);
    v["layoutnum"] = kLayoutNumber;
}

bool DeviceState::Get(const std::string& name, std::string* value) const {
    std::lock_guard<std::mutex> guard(mLock);
    return Lookup(name, value);
}

bool DeviceState::Lookup(const std::string& name, std::string* value) const {
    auto it = mValues.find(name);
    if (it == mValues.end())
        return false;
    *value = it->second;
    return true;
}

bool DeviceState::Set(const std::string& name, const std::string& value) {
    if (name.empty() || name.size() > kMaxNameBytes || value.size() > kMaxValueBytes)
        return false;
    std::lock_guard<std::mutex> guard(mLock);
    auto it = mValues.find(name);
    if (it == mValues.end()) {
        if (mValues.size() >= kMaxEntries)
            return false;
        mValues.emplace(name, value);
        ++mGeneration;
        return true;
    }
    if (it->second != value) {
        it->second = value;
        ++mGeneration;
    }
    return true;
}

void DeviceState::Reset() {
    {
        std::lock_guard<std::mutex> guard(mLock);
        Fill();
        ++mGeneration;
    }
    mPtz.Home();
    mPtz.ClearLog();
}

std::map<std::string, std::string> DeviceState::Snapshot() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mValues;
}

uint64_t DeviceState::Generation() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mGeneration;
}

uint32_t DeviceState::Number(const std::string& name, uint32_t fallback) const {
    std::string text;
    if (!Lookup(name, &text))
        return fallback;
    return ParseDecimal(text, fallback);
}

uint32_t DeviceState::ChannelNumber(const std::string& name, uint32_t channel, uint32_t fallback) const {
    return Number(name + "." + std::to_string(channel), Number(name, fallback));
}

VideoSettings DeviceState::Video(uint32_t channel) const {
    if (channel == 0)
        channel = 1;
    const DeviceConfig& c = mConfig;
    std::lock_guard<std::mutex> guard(mLock);
    VideoSettings s;
    if (c.dialect == Dialect::NoVideo)
        return s;
    s.frameRate = c.forcedFrameRate             ? c.forcedFrameRate
                  : Number("videomode", 0) != 0 ? kFrameRatePal
                                                : kFrameRateNtsc;
    s.audio = Number("audioenable", 0) == 1;
    s.audioCodec = c.audioCodec;
    switch (c.dialect) {
    case Dialect::ParameterCamera:
        if (Number("supportavc", 0) == 1) {
            s.codec = kCodecH264;
            s.width = Number("avcxsize", c.width);
            s.height = Number("avcysize", c.height);
        } else if (Number("format", 0) == 1) {
            s.codec = kCodecMpeg4;
            s.width = Number("mpeg4xsize", c.width);
            s.height = Number("mpeg4ysize", c.height);
        } else {
            s.codec = kCodecJpeg;
            s.width = Number("jpegxsize", c.width);
            s.height = Number("jpegysize", c.height);
        }
        break;
    case Dialect::FixedCamera:
    case Dialect::ProfileCamera:
    case Dialect::OtherVendor:
        s.codec = c.videoCodec;
        s.width = c.width;
        s.height = c.height;
        if (c.dialect == Dialect::OtherVendor) {
            s.audio = false;
            s.frameRate = c.forcedFrameRate ? c.forcedFrameRate : kFrameRateNtsc;
        }
        break;
    case Dialect::MultiChannel: {
        s.codec = c.videoCodec;
        s.frameRate = c.forcedFrameRate ? c.forcedFrameRate : kFrameRateNtsc;
        s.audio = c.audioSupported;
        if (c.videoCodec == kCodecH264) {
            s.width = ChannelNumber("avcxsize", channel, c.width);
            s.height = UnpaddedHeight(ChannelNumber("avcysize", channel, PictureHeight(c)));
        } else {
            s.width = ChannelNumber("jpegxsize", channel, c.width);
            s.height = ChannelNumber("jpegysize", channel, PictureHeight(c));
        }
        break;
    }
    case Dialect::VideoStandard:
        s.codec = kCodecJpeg;
        s.width = c.fixedSize ? c.width : 352;
        s.height = c.fixedSize ? c.height : s.frameRate == kFrameRatePal ? 288 : 240;
        s.audio = false;
        break;
    case Dialect::NoVideo:
        break;
    }
    return s;
}

VideoSettings DeviceState::ProfileVideo(uint32_t profileId) const {
    VideoSettings s = Video(1);
    if (mConfig.dialect != Dialect::ProfileCamera)
        return s;
    std::lock_guard<std::mutex> guard(mLock);
    const std::string prefix = "profile." + std::to_string(profileId) + ".";
    std::string valid;
    if (!Lookup(prefix + "streamvalid", &valid) || valid == "0") {
        s.codec = kCodecNone;
        s.width = s.height = 0;
        return s;
    }
    uint32_t format = Number(prefix + "format", 0);
    s.codec = format == 1 ? kCodecMpeg4 : format == 2 ? kCodecH264 : kCodecJpeg;
    s.width = Number(prefix + "xsize", 0);
    s.height = Number(prefix + "ysize", 0);
    return s;
}

void DeviceState::HeaderSize(uint32_t channel, uint32_t* width, uint32_t* height) const {
    *width = 0;
    *height = 0;
    if (!mConfig.jpegDeviceHeader || !mConfig.headerCarriesSize)
        return;
    VideoSettings s = mConfig.dialect == Dialect::ProfileCamera ? ProfileVideo(1) : Video(channel);
    *width = s.width;
    *height = s.height;
}

bool DeviceState::HasPtz() const {
    return mConfig.dialect != Dialect::NoVideo && mConfig.dialect != Dialect::OtherVendor;
}

Scene DeviceState::SceneAt(PtzHead::Clock::time_point now) const {
    Scene scene;
    {
        std::lock_guard<std::mutex> guard(mLock);
        if (mMaskGeneration != mGeneration) {
            // "maskarealist.all": items of 15 characters separated by ";":
            // enable digit, two-digit index, x1 y1 x2 y2 in three hex digits.
            mMaskGeneration = mGeneration;
            mMasks = Scene();
            mMasks.maskColumns = static_cast<int>(Number("maskareaxlimit", 0));
            mMasks.maskRows = static_cast<int>(Number("maskareaylimit", 0));
            std::string list;
            Lookup("maskarealist.all", &list);
            for (size_t start = 0; start < list.size() && mMasks.masks.size() < kMaxMasks;) {
                size_t semi = list.find(';', start);
                if (semi == std::string::npos)
                    semi = list.size();
                const std::string item = list.substr(start, semi - start);
                start = semi + 1;
                if (item.size() != 15 || item[0] != '1')
                    continue;
                uint64_t c[4];
                bool valid = true;
                for (int i = 0; i < 4; ++i)
                    valid = ParseHex(item.substr(static_cast<size_t>(3 + 3 * i), 3), 0xFFF, &c[i]) && valid;
                if (valid)
                    mMasks.masks.push_back(Scene::Mask{static_cast<int>(c[0]), static_cast<int>(c[1]),
                                                       static_cast<int>(c[2]), static_cast<int>(c[3])});
            }
        }
        scene = mMasks;
    }
    scene.still = mConfig.still;
    if (HasPtz()) {
        const PtzHead::State head = mPtz.At(now);
        scene.pan = head.pan;
        scene.tilt = head.tilt;
        scene.zoom = head.zoom;
    }
    return scene;
}

std::string DeviceState::Describe() const {
    const DeviceConfig& c = mConfig;
    // What a viewer concludes from a plain open (channel 1, profile 1; the
    // fixed camera: profile 0 and the size its stream has), which is also the
    // size of the pictures that open's stream carries.
    const VideoSettings s = c.dialect == Dialect::ProfileCamera ? ProfileVideo(1) : Video(1);
    uint32_t headerWidth = 0;
    uint32_t headerHeight = 0;
    HeaderSize(1, &headerWidth, &headerHeight);
    std::string out;
    auto line = [&out](const std::string& name, const std::string& value) {
        out += name + "=" + value + "\n";
    };
    line("name", c.name);
    line("machine_code", "0x" + Hex(c.machineCode));
    line("device_type", std::to_string(c.deviceType));
    line("dialect", DialectName(c.dialect));
    line("max_channel", std::to_string(c.maxChannel));
    line("receive_type", std::to_string(c.receiveType));
    line("video_codec", std::to_string(s.codec));
    line("width", std::to_string(s.width));
    line("height", std::to_string(s.height));
    line("frame_rate", std::to_string(c.dialect == Dialect::NoVideo ? 0 : s.frameRate));
    line("audio_supported", s.audio ? "1" : "0");
    line("audio_codec", std::to_string(c.audioCodec));
    line("audio_sample_rate", std::to_string(c.audioSampleRate));
    line("audio_bits", std::to_string(c.audioBits));
    line("audio_channels", std::to_string(c.audioChannels));
    line("jpeg_device_header", c.jpegDeviceHeader ? "1" : "0");
    line("header_width", std::to_string(headerWidth));
    line("header_height", std::to_string(headerHeight));
    line("dual_picture", c.dualPicture ? "1" : "0");
    line("channel_width", std::to_string(s.width));
    line("channel_height", std::to_string(ChannelHeight(c, s.height)));
    if (c.dialect == Dialect::FixedCamera) {
        line("cif_width", std::to_string(kCifWidth));
        line("cif_height", std::to_string(kCifHeight));
    }
    line("profiles", std::to_string(c.profiles.size()));
    const PtzHead::State p = mPtz.At(PtzHead::Clock::now());
    line("ptz", HasPtz() ? "1" : "0");
    line("ptz_pan", std::to_string(p.pan));
    line("ptz_tilt", std::to_string(p.tilt));
    line("ptz_zoom", std::to_string(p.zoom));
    line("ptz_pan_speed", std::to_string(p.panSpeed));
    line("ptz_tilt_speed", std::to_string(p.tiltSpeed));
    line("ptz_zoom_speed", std::to_string(p.zoomSpeed));
    line("ptz_commands", std::to_string(p.taken));
    for (const auto& kv : Snapshot())
        line("param." + kv.first, kv.second);
    return out;
}

} // namespace camsim
