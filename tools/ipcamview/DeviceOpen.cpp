#include "DeviceOpen.h"

#include "Interrupt.h"

#include "device/CDeviceProfile.h"
#include "device/CFixedDialect.h"
#include "device/CMultiChannelDialect.h"
#include "device/CProfileQueryDialect.h"
#include "device/CVideoStandardDialect.h"
#include "net/CKVXWinINetAsync.h"
#include "net/CTcpClientSocket.h"
#include "net/CUrl.h"
#include "os/inet/WinInet.h"
#include "os/socket/Winsock.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CMediaObj.h"

using media_util::CMachineCodeConvert;

namespace {

// Models whose set-up asks the profile CGI (docs/devices.md).
bool IsProfileModel(int32_t code) {
    for (int32_t model : {5751, 5753, 5761, 5763, 6002, 6003, 6004, 8192, 8193, 8448})
        if (code == model)
            return true;
    return false;
}

constexpr int32_t kFixedSetUpModel = 36865;

} // namespace

const std::vector<SOption> kConnectOptions = {
    {"--user", true, "U"}, {"--password", true, "P"}, {"--transport", true, "socket|inet"}};

const std::vector<SOption> kProbeOptions = {{"--user", true, "U"},
                                            {"--password", true, "P"},
                                            {"--transport", true, "socket|inet"},
                                            {"--channel", true, "N"},
                                            {"--codec", true, "jpeg|mpeg4|h264"},
                                            {"--profile", true, "N"},
                                            {"--width", true, "W"},
                                            {"--height", true, "H"},
                                            {"--audio", false, ""}};

DWORD TransportTimeoutMs(int32_t transport) {
    return transport == kTransportSocket ? CTcpClientSocket::kConnectTimeoutMs
                                         : CKVXWinINetAsync::kDefaultTimeoutMs;
}

bool ParseTransport(const std::string& name, int32_t& transport) {
    if (name == "socket")
        transport = kTransportSocket;
    else if (name == "inet")
        transport = kTransportInet;
    else
        return false;
    return true;
}

std::string NoAnswerText(DWORD error, int32_t transport) {
    const std::string within =
        "no answer within " + std::to_string(TransportTimeoutMs(transport) / 1000) + " s";
    switch (error) {
    case WSAECONNREFUSED:
    case ERROR_INTERNET_CANNOT_CONNECT:
        return "connection refused";
    case WSAETIMEDOUT:
    case ERROR_INTERNET_TIMEOUT:
    // The asynchronous client's last word when no head came in its time: the
    // status it then asks for is not there.
    case ERROR_HTTP_HEADER_NOT_FOUND:
    case 0:
        return within;
    case WSAHOST_NOT_FOUND:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return "unknown host";
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
        return "host unreachable";
    case WSAEADDRNOTAVAIL:
        return "no such address";
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_CONNECTION_ABORTED:
        return "connection closed without an answer";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        return "the answer is not HTTP";
    case ERROR_INTERNET_OPERATION_CANCELLED:
        return "interrupted";
    default:
        return "no answer (error " + std::to_string(error) + ")";
    }
}

bool ParseDeviceAddress(const std::string& address, SDeviceAddress& parsed, std::string& error) {
    parsed = SDeviceAddress();
    // People write HOST:PORT/PATH as often as a URL: anything without a
    // scheme is taken as http. (The library's own rule, for hosts that call
    // Start, completes only addresses without a path.)
    parsed.url = address.find("://") == std::string::npos ? "http://" + address : address;
    CUrl url;
    if (address.empty() || !url.Crack(parsed.url) || url.mHostName.empty()) {
        error = "cannot read the address \"" + address + "\" (HOST[:PORT][/PATH] or http://...)";
        return false;
    }
    if (url.mScheme != "http") {
        error = address + ": only http:// is supported, not " + url.mScheme + "://";
        return false;
    }
    const bool literalV6 = url.mHostName.find(':') != std::string::npos && url.mHostName.front() != '[';
    parsed.hostPort =
        (literalV6 ? "[" + url.mHostName + "]" : url.mHostName) + ":" + std::to_string(url.mPort);
    parsed.user = url.mUserName;
    parsed.password = url.mPassword;
    parsed.hasCredentials = !url.mUserName.empty();
    return true;
}

bool TakeConnectOptions(const CCommandLine& line, std::string& user, std::string& password,
                        int32_t& transport, std::string& error) {
    if (line.Has("--user") != line.Has("--password")) {
        error = line.Has("--user") ? "--user needs --password" : "--password needs --user";
        return false;
    }
    if (line.Has("--user")) {
        user = line.Value("--user");
        password = line.Value("--password");
    }
    if (line.Has("--transport") && !ParseTransport(line.Value("--transport"), transport)) {
        error = "bad transport \"" + line.Value("--transport") + "\" (socket or inet)";
        return false;
    }
    return true;
}

bool TakeProbeOptions(const CCommandLine& line, const std::string& address, ProbeOptions& options,
                      std::string& error) {
    if (!ParseDeviceAddress(address, options.device, error))
        return false;
    options.user = options.device.user;
    options.password = options.device.password;
    if (!TakeConnectOptions(line, options.user, options.password, options.transport, error))
        return false;
    int64_t channel = options.channel, profile = options.profile, width = 0, height = 0;
    if (!line.Number("--channel", 1, media_util::CMediaObj::kMaxChannel, channel, error) ||
        !line.Number("--profile", 0, 99, profile, error) || !line.Number("--width", 1, 16384, width, error) ||
        !line.Number("--height", 1, 16384, height, error))
        return false;
    if (line.Has("--width") != line.Has("--height")) {
        error = "--width and --height go together";
        return false;
    }
    options.channel = static_cast<int32_t>(channel);
    options.profile = static_cast<int32_t>(profile);
    options.width = static_cast<int32_t>(width);
    options.height = static_cast<int32_t>(height);
    if (line.Has("--codec")) {
        const std::string codec = line.Value("--codec");
        if (codec == "jpeg")
            options.codec = media_util::kVideoJpeg;
        else if (codec == "mpeg4")
            options.codec = media_util::kVideoMpeg4;
        else if (codec == "h264")
            options.codec = media_util::kVideoH264QBox;
        else {
            error = "bad codec \"" + codec + "\" (jpeg, mpeg4 or h264)";
            return false;
        }
    }
    options.audio = line.Has("--audio");
    return true;
}

ProbeResult OpenViewer(CViewer& viewer, const ProbeOptions& options) {
    media_util::CMediaObj params;
    params.mVideoFormat = options.codec;
    params.mProfileId = options.profile;
    params.mWidth = options.width;
    params.mHeight = options.height;
    ProbeResult result;
    result.audioFlag = options.audio ? 1 : 0;
    viewer.SetOpenBudget(options.openBudgetMs);
    result.opened = viewer.Open(options.transport, options.device.url.c_str(), 0, options.user.c_str(),
                                options.password.c_str(), &result.audioFlag, options.channel, &params);
    return result;
}

int ExplainOpen(const CViewer& viewer, const ProbeOptions& options) {
    using Stage = CViewer::OpenStage;
    const CViewer::SOpenReport& report = viewer.GetOpenReport();
    const char* device = options.device.hostPort.c_str();
    if (report.aborted)
        return CInterrupt::Get().DeadlinePassed()
                   ? Fail(kExitNoAnswer, "%s: no answer before the duration ended", device)
                   : Fail(kExitNoAnswer, "%s: interrupted", device);
    const int32_t code = viewer.mMachineCode;
    switch (report.stage) {
    case Stage::kAddress:
        return Fail(kExitUsage, "cannot read the address \"%s\"", options.device.url.c_str());
    case Stage::kClient:
        return Fail(kExitNoAnswer, "%s: no HTTP client could be made", device);
    case Stage::kAccess:
    case Stage::kMachineCode:
    case Stage::kSetUp:
        if (report.httpStatus == 401 || report.httpStatus == 407)
            return Fail(kExitFailed, "%s: authentication failed (%d)", device, report.httpStatus);
        if (report.httpStatus == 0)
            return Fail(kExitNoAnswer, "%s: %s", device,
                        report.timedOut ? ("no answer within " +
                                           std::to_string((options.openBudgetMs + 999) / 1000) + " s")
                                              .c_str()
                                        : NoAnswerText(report.systemError, options.transport).c_str());
        if (report.stage == Stage::kSetUp)
            return Fail(kExitFailed, "%s: the device's parameter queries failed (last answer %d)", device,
                        report.httpStatus);
        return Fail(kExitFailed, "%s: %s answered %d", device,
                    report.stage == Stage::kAccess ? "the access check" : "the machine code lookup",
                    report.httpStatus);
    case Stage::kDialect:
        if (report.machineCodeStatus != 0 && report.machineCodeStatus != 200)
            return Fail(kExitFailed, "%s: not a camera: machine code lookup answered %d", device,
                        report.machineCodeStatus);
        if (code == CDisplayChannel::kUnknownMachineCode)
            return Fail(kExitFailed, "%s: not a camera: no machine code in its answer", device);
        if (CMachineCodeConvert::GetDeviceType(code) == CMachineCodeConvert::kTypeUnknown)
            return Fail(kExitFailed, "%s: unknown device: machine code 0x%X", device,
                        static_cast<uint32_t>(code));
        return Fail(kExitFailed, "%s: device 0x%X (device type %d) has no live video", device,
                    static_cast<uint32_t>(code), CMachineCodeConvert::GetDeviceType(code));
    case Stage::kPipeline:
    case Stage::kOpened:
        break;
    }
    const int32_t channels = CMachineCodeConvert::GetMaxChannel(code);
    if (channels > 0 && options.channel > channels)
        return Fail(kExitFailed, "channel %d: the device has %d", options.channel, channels);
    if (!viewer.HasStreamPath())
        return Fail(kExitFailed, "%s: the device offers no stream for %s (profile %d)", device,
                    VideoCodecName(options.codec), options.profile);
    if (report.stage == Stage::kPipeline)
        std::fprintf(stderr,
                     "ipcamview: note: %s tells no picture size; a host must give it (--width, --height)\n",
                     device);
    return kExitOk;
}

const char* DialectName(const CViewer& viewer) {
    const CDeviceProfile* profile = viewer.mpProfile;
    if (profile == nullptr)
        return viewer.mMachineCode == CDisplayChannel::kUnknownMachineCode ? "none" : "no-video";
    if (dynamic_cast<const CProfileQueryDialect*>(profile) != nullptr) {
        if (viewer.mMachineCode == kFixedSetUpModel)
            return "fixed-camera";
        return IsProfileModel(viewer.mMachineCode) ? "profile-camera" : "parameter-camera";
    }
    if (dynamic_cast<const CMultiChannelDialect*>(profile) != nullptr)
        return "multi-channel";
    if (dynamic_cast<const CVideoStandardDialect*>(profile) != nullptr)
        return "video-standard";
    if (dynamic_cast<const CFixedDialect*>(profile) != nullptr)
        return "other-vendor";
    return "unknown";
}

namespace {

const char* DialectClass(const CViewer& viewer) {
    const CDeviceProfile* profile = viewer.mpProfile;
    if (profile == nullptr)
        return "none";
    if (dynamic_cast<const CProfileQueryDialect*>(profile) != nullptr)
        return "CProfileQueryDialect";
    if (dynamic_cast<const CMultiChannelDialect*>(profile) != nullptr)
        return "CMultiChannelDialect";
    if (dynamic_cast<const CVideoStandardDialect*>(profile) != nullptr)
        return "CVideoStandardDialect";
    if (dynamic_cast<const CFixedDialect*>(profile) != nullptr)
        return "CFixedDialect";
    return "CDeviceProfile";
}

const char* ReceiveName(int32_t type) {
    switch (type) {
    case CMachineCodeConvert::kReceiveMultipart:
        return "multipart";
    case CMachineCodeConvert::kReceiveJpegPolling:
        return "polling";
    default:
        return "none";
    }
}

} // namespace

void AddProbe(CReport& report, const CViewer& viewer, const ProbeResult& result, bool verbose) {
    const CDeviceProfile* p = viewer.mpProfile;
    // Without a dialect the device told nothing about its stream.
    auto field = [p](int32_t CDeviceProfile::*member) { return p != nullptr ? p->*member : 0; };
    const int32_t code = viewer.mMachineCode;
    if (verbose) {
        // The handle a host's Start gets for the first instance of a
        // process, or none when the address did not parse.
        report.Add("handle", result.opened != 0 ? 0 : -1);
        report.Add("dialect_class", DialectClass(viewer));
    }
    report.Add("last_status", viewer.mLastStatus);
    if (code == CDisplayChannel::kUnknownMachineCode) {
        report.Add("machine_code", -1);
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%X", static_cast<uint32_t>(code));
        report.Add("machine_code", hex);
    }
    report.Add("device_type", CMachineCodeConvert::GetDeviceType(code));
    report.Add("dialect", DialectName(viewer));
    report.Add("max_channel", CMachineCodeConvert::GetMaxChannel(code));
    report.Add("channel", UserChannel(field(&CDeviceProfile::mChannel)));
    report.Add("video_codec", field(&CDeviceProfile::mVideoCodec));
    report.Add("video_codec_name", VideoCodecName(field(&CDeviceProfile::mVideoCodec)));
    report.Add("width", field(&CDeviceProfile::mWidth));
    report.Add("height", field(&CDeviceProfile::mHeight));
    report.Add("frame_rate", field(&CDeviceProfile::mFrameRate));
    report.AddFixed("fps", Fps(field(&CDeviceProfile::mFrameRate)), 2);
    report.Add("audio_supported", field(&CDeviceProfile::mAudioSupported));
    report.Add("audio_codec", field(&CDeviceProfile::mAudioCodec));
    report.Add("audio_codec_name", AudioCodecName(field(&CDeviceProfile::mAudioCodec)));
    report.Add("audio_flag", result.audioFlag);
    report.Add("profile_id", field(&CDeviceProfile::mProfileId));
    report.Add("stream_url", viewer.mStreamUrl);
    report.Add("receive_type", CMachineCodeConvert::GetMediaReceiveType(code));
    report.Add("receive", ReceiveName(CMachineCodeConvert::GetMediaReceiveType(code)));
}
