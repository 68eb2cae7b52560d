#include "ProbeOptions.h"

#include "device/CDeviceProfile.h"
#include "device/CFixedDialect.h"
#include "device/CMultiChannelDialect.h"
#include "device/CProfileQueryDialect.h"
#include "device/CVideoStandardDialect.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CMediaObj.h"

#include <cstdlib>

namespace {

bool ParseNumber(const std::string& text, int32_t& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || number < 0 || number > 1000000)
        return false;
    value = static_cast<int32_t>(number);
    return true;
}

bool TakeNumber(Args& args, const char* name, int32_t& value, std::string& error) {
    std::string text;
    if (!TakeOption(args, name, text))
        return true;
    if (ParseNumber(text, value))
        return true;
    error = std::string("bad value for ") + name + ": \"" + text + "\"";
    return false;
}

} // namespace

bool TakeProbeOptions(Args& args, ProbeOptions& options, std::string& error) {
    TakeOption(args, "--user", options.user);
    TakeOption(args, "--password", options.password);
    if (!TakeNumber(args, "--channel", options.channel, error) ||
        !TakeNumber(args, "--profile", options.profile, error) ||
        !TakeNumber(args, "--width", options.width, error) ||
        !TakeNumber(args, "--height", options.height, error))
        return false;
    std::string codec;
    if (TakeOption(args, "--codec", codec)) {
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
    std::string transport;
    if (TakeOption(args, "--transport", transport)) {
        if (transport == "socket")
            options.transport = CViewer::kTransportSocket;
        else if (transport == "inet")
            options.transport = CViewer::kTransportSocket + 1;
        else {
            error = "bad transport \"" + transport + "\" (socket or inet)";
            return false;
        }
    }
    options.audio = TakeFlag(args, "--audio");
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
    result.opened = viewer.Open(options.transport, options.address.c_str(), 0, options.user.c_str(),
                                options.password.c_str(), &result.audioFlag, options.channel, &params);
    return result;
}

const char* DialectName(const CViewer& viewer) {
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

void PrintProbe(std::FILE* out, const CViewer& viewer, const ProbeResult& result) {
    using media_util::CMachineCodeConvert;
    const CDeviceProfile* p = viewer.mpProfile;
    // Without a dialect the device told nothing about its stream.
    auto field = [p](int32_t CDeviceProfile::*member) { return p != nullptr ? p->*member : 0; };
    const int32_t code = viewer.mMachineCode;
    // The handle a host's Start gets for the first instance of a process, or
    // none when the address did not parse.
    std::fprintf(out, "handle=%d\n", result.opened != 0 ? 0 : -1);
    std::fprintf(out, "last_status=%d\n", viewer.mLastStatus);
    if (code == CDisplayChannel::kUnknownMachineCode)
        std::fprintf(out, "machine_code=-1\n");
    else
        std::fprintf(out, "machine_code=0x%X\n", static_cast<uint32_t>(code));
    std::fprintf(out, "device_type=%d\n", CMachineCodeConvert::GetDeviceType(code));
    std::fprintf(out, "dialect=%s\n", DialectName(viewer));
    std::fprintf(out, "video_codec=%d\n", field(&CDeviceProfile::mVideoCodec));
    std::fprintf(out, "width=%d\n", field(&CDeviceProfile::mWidth));
    std::fprintf(out, "height=%d\n", field(&CDeviceProfile::mHeight));
    std::fprintf(out, "frame_rate=%d\n", field(&CDeviceProfile::mFrameRate));
    std::fprintf(out, "audio_supported=%d\n", field(&CDeviceProfile::mAudioSupported));
    std::fprintf(out, "audio_codec=%d\n", field(&CDeviceProfile::mAudioCodec));
    std::fprintf(out, "audio_flag=%d\n", result.audioFlag);
    std::fprintf(out, "channel=%d\n", field(&CDeviceProfile::mChannel));
    std::fprintf(out, "profile_id=%d\n", field(&CDeviceProfile::mProfileId));
    std::fprintf(out, "stream_url=%s\n", viewer.mStreamUrl.c_str());
    std::fprintf(out, "receive_type=%d\n", CMachineCodeConvert::GetMediaReceiveType(code));
}

int RunProbe(const Args& input) {
    Args args = input;
    ProbeOptions options;
    std::string error;
    if (!TakeProbeOptions(args, options, error) || args.size() != 1 || args[0].rfind("--", 0) == 0) {
        std::fprintf(stderr,
                     "%s%susage: ipcamview probe ADDRESS [--user U --password P] [--channel N] "
                     "[--codec jpeg|mpeg4|h264] [--profile N] [--width W --height H] [--audio] "
                     "[--transport socket|inet]\n",
                     error.c_str(), error.empty() ? "" : "\n");
        return 2;
    }
    options.address = args[0];
    CViewer viewer;
    const ProbeResult result = OpenViewer(viewer, options);
    PrintProbe(stdout, viewer, result);
    return viewer.HasStreamPath() ? 0 : 1;
}
