// `ipcamview audio-devices`: the capture devices a viewer sees, the one it
// would capture from, and which of the probe formats that device takes.
#include "Commands.h"

#include "audio/CAudioCapture.h"
#include "os/dsound/DSound.h"

#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: ipcamview audio-devices [--all] [--json]\n"
    "\n"
    "Lists the audio capture devices as every viewer sees them when it is made (the ALSA\n"
    "capture PCMs, \"default\" first as the primary device, which has no identity), then\n"
    "prepares the capture as a viewer does and prints the device it chose (the first one\n"
    "with an identity, else the primary device), the result, and for each of the 20 probe\n"
    "formats whether that device takes it. Nothing is recorded: devices are only opened\n"
    "and asked. Name=value lines (deviceK.name, deviceK.description, deviceK.guid, chosen,\n"
    "ready, result, formatI, formatI.supported), or one JSON object with --json.\n"
    "\n"
    "options:\n"
    "  --all    also ask every device about the probe formats (deviceK.formats: one\n"
    "           digit per format, 1 taken, 0 not, - the device did not open)\n"
    "  --json   one JSON object instead of name=value lines\n"
    "\n"
    "ALSA_CONFIG_PATH chooses another ALSA configuration, as for every ALSA program.\n"
    "\n"
    "Exit: 0 a viewer would have its audio capture ready; 1 it would not (no capture\n"
    "device, a busy one, or one that does not take 8000 Hz 16-bit mono); 2 bad usage.\n";

struct SDevice {
    bool hasGuid;
    GUID guid;
    std::string description;
    std::string name;
};

BOOL Collect(LPGUID guid, const char* description, const char* module, void* context) {
    static_cast<std::vector<SDevice>*>(context)->push_back(
        {guid != nullptr, guid != nullptr ? *guid : GUID{}, description, module});
    return TRUE;
}

std::string ResultText(HRESULT hr) {
    struct SName {
        HRESULT hr;
        const char* text;
    };
    static const SName kNames[] = {
        {DS_OK, "ok"},
        {DSERR_NODRIVER, "no such capture device (DSERR_NODRIVER)"},
        {DSERR_ALLOCATED, "the device is busy or does not answer (DSERR_ALLOCATED)"},
        {DSERR_BADFORMAT, "the device does not take the format (DSERR_BADFORMAT)"},
        {DSERR_ACCESSDENIED, "no permission to open the device (DSERR_ACCESSDENIED)"},
        {DSERR_OUTOFMEMORY, "out of memory (DSERR_OUTOFMEMORY)"},
        {DSERR_INVALIDPARAM, "invalid parameter (DSERR_INVALIDPARAM)"},
    };
    for (const SName& name : kNames)
        if (name.hr == hr)
            return name.text;
    char text[32];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::string FormatText(const WAVEFORMATEX& f) {
    return std::to_string(f.nSamplesPerSec) + " Hz " + std::to_string(f.wBitsPerSample) + "-bit " +
           (f.nChannels == 1 ? "mono" : "stereo");
}

// One digit per probe format for a device: what it answers, "-" throughout
// when it does not open.
std::string ProbeDevice(const SDevice& device) {
    IDirectSoundCapture* capture = nullptr;
    if (FAILED(DirectSoundCaptureCreate(device.hasGuid ? &device.guid : nullptr, &capture, nullptr)))
        return std::string(CAudioCapture::kProbeFormatCount, '-');
    int32_t supported[CAudioCapture::kProbeFormatCount] = {};
    CAudioCapture::ProbeFormats(capture, supported);
    capture->Release();
    std::string digits;
    for (int32_t flag : supported)
        digits += flag != 0 ? '1' : '0';
    return digits;
}

} // namespace

int RunAudioDevices(const Args& args) {
    const std::vector<SOption> known = {{"--all", false, ""}, {"--json", false, ""}};
    CCommandLine line;
    int exitCode = kExitOk;
    if (!ParseCommand("audio-devices", kUsage, args, known, line, exitCode))
        return exitCode;
    if (!line.Positional().empty())
        return Fail(kExitUsage, "audio-devices takes no arguments (see ipcamview audio-devices --help)");

    std::vector<SDevice> devices;
    DirectSoundCaptureEnumerateA(Collect, &devices);
    // As the first viewer of a process does.
    CAudioCapture capture;
    const HRESULT hr = capture.Prepare();

    CReport report;
    report.Add("devices", static_cast<int64_t>(devices.size()));
    std::string chosen = os::dsound::kPrimaryDeviceName;
    for (size_t i = 0; i < devices.size(); ++i) {
        const SDevice& d = devices[i];
        const std::string key = "device" + std::to_string(i + 1) + ".";
        report.Add(key + "name", d.name);
        report.Add(key + "description", d.description);
        report.Add(key + "guid", d.hasGuid ? os::dshow::GuidToString(d.guid) : "none (primary device)");
        if (d.hasGuid && d.guid == capture.mDeviceGuid)
            chosen = d.name;
        if (line.Has("--all"))
            report.Add(key + "formats", ProbeDevice(d));
    }
    GUID processDevice{};
    const bool found = CAudioCapture::GetProcessDevice(&processDevice);
    report.Add("chosen", chosen);
    report.Add("chosen.guid", found ? os::dshow::GuidToString(processDevice) : "none (primary device)");
    report.Add("ready", hr == S_OK ? 1 : 0);
    report.Add("result", ResultText(hr));
    const bool probed = capture.mpCaptureDevice != nullptr;
    for (int i = 0; i < CAudioCapture::kProbeFormatCount; ++i) {
        const std::string key = "format" + std::to_string(i);
        report.Add(key, FormatText(CAudioCapture::ProbeFormat(i)));
        if (probed)
            report.Add(key + ".supported", capture.mFormatSupported[i]);
        else
            report.Add(key + ".supported", "not asked: no device");
    }
    if (hr == S_OK) {
        report.Add("capture.format", FormatText(capture.mCaptureFormat));
        report.Add("capture.buffer_bytes", static_cast<int64_t>(capture.mBufferSize));
        report.Add("capture.chunk_bytes", static_cast<int64_t>(capture.mChunkSize));
    }
    report.Print(stdout, line.Has("--json"));
    std::fflush(stdout);
    if (hr != S_OK)
        return Fail(kExitFailed, "no audio capture: %s", ResultText(hr).c_str());
    return kExitOk;
}
