#include "platform/CMachineCodeConvert.h"

namespace media_util {

namespace {

using M = CMachineCodeConvert;

// Every model the viewer knows. docs/devices.md lists the same rows with the
// reasons behind each; a test keeps the two in step, so change both together.
// Codes stay in ascending order.
const M::SModel kModels[] = {
    // Cameras of the "/vb.htm?" family with the default set-up: the device
    // says which codec it sends and the stream is one multipart response.
    {"cam-jpeg-4608", 0x1200, M::kTypeProfileCamera, 1, M::kReceiveMultipart},
    // The default-family camera whose channel 0 is taken as channel 1.
    {"cam-mpeg4-4752", 0x1290, M::kTypeProfileCamera, 1, M::kReceiveMultipart},
    // Recorders of the "/api.htm?" family that serve one JPEG image per
    // request and say in the image which channel it shows.
    {"dvr-jpeg-5124", 0x1404, M::kTypeMultiChannel, 4, M::kReceiveJpegPolling},
    {"dvr-jpeg-5136", 0x1410, M::kTypeMultiChannel, 16, M::kReceiveJpegPolling},
    // The two-stream H.264 recorder: four channels in two multipart streams,
    // each picture two channels one above the other.
    {"dvr-h264-5138", 0x1412, M::kTypeMultiChannel, 4, M::kReceiveMultipart},
    // Cameras with stream profiles ("/ipcam/stream.cgi?nowprofileid=").
    {"cam-profile-5751", 0x1677, M::kTypeProfileCamera2, 1, M::kReceiveMultipart},
    {"cam-profile-5753", 0x1679, M::kTypeProfileCamera2, 1, M::kReceiveMultipart},
    {"cam-profile-5761", 0x1681, M::kTypeProfileCamera2, 1, M::kReceiveMultipart},
    {"cam-profile-5763", 0x1683, M::kTypeProfileCamera2, 1, M::kReceiveMultipart},
    {"cam-profile-6002", 0x1772, M::kTypeProfileCamera2, 1, M::kReceiveMultipart},
    {"cam-profile-6003", 0x1773, M::kTypeProfileCamera2, 1, M::kReceiveMultipart},
    {"cam-profile-6004", 0x1774, M::kTypeProfileCamera2, 1, M::kReceiveMultipart},
    // Profile camera with G.726 audio whose JPEG header carries no picture size.
    {"cam-profile-8192", 0x2000, M::kTypeProfileCamera2, 1, M::kReceiveMultipart},
    {"cam-profile-8193", 0x2001, M::kTypeProfileCamera2, 1, M::kReceiveMultipart},
    {"cam-profile-8448", 0x2100, M::kTypeProfileCamera2, 1, M::kReceiveMultipart},
    // H.264 recorders with one multipart stream per channel selection.
    {"dvr-h264-8775", 0x2247, M::kTypeMultiChannel, 8, M::kReceiveMultipart},
    {"dvr-h264-8776", 0x2248, M::kTypeMultiChannel, 4, M::kReceiveMultipart},
    {"dvr-h264-8777", 0x2249, M::kTypeMultiChannel, 16, M::kReceiveMultipart},
    // Video server of the video-standard family: JPEG images per channel
    // from "/dms01", "/dms02", ...
    {"vs-jpeg-12292", 0x3004, M::kTypeVideoStandard, 4, M::kReceiveJpegPolling},
    // Audio/alarm encoder without live video.
    {"enc-noview-16385", 0x4001, M::kTypeNoStream, 0, M::kReceiveNone},
    // Alarm input/output box: answers the parameter CGI, has no video at all.
    {"io-box-20481", 0x5001, M::kTypeUnknown, 0, M::kReceiveNone},
    // Camera with the fixed set-up: its own mjpeg/mpeg4/avc CGIs, sizes and
    // codec from the host, no device header in its JPEG images.
    {"cam-fixed-36865", 0x9001, M::kTypeProfileCamera, 1, M::kReceiveMultipart},
    // MJPEG camera of another vendor with fixed parameters.
    {"cam-vendor-61441", 0xF001, M::kTypeOtherVendor, 1, M::kReceiveMultipart},
    // Dual-picture JPEG recorder: two channels per image, polled.
    {"dvr-jpeg-65540", 0x10004, M::kTypeMultiChannel, 4, M::kReceiveJpegPolling},
};

constexpr size_t kModelCount = sizeof(kModels) / sizeof(kModels[0]);

} // namespace

const CMachineCodeConvert::SModel* CMachineCodeConvert::FindModel(int machineCode) {
    // A few dozen rows: a linear walk beats anything cleverer here.
    for (const SModel& model : kModels) {
        if (model.machineCode == machineCode)
            return &model;
    }
    return nullptr;
}

int CMachineCodeConvert::GetDeviceType(int machineCode) {
    const SModel* model = FindModel(machineCode);
    return model ? model->deviceType : kTypeUnknown;
}

int CMachineCodeConvert::GetMaxChannel(int machineCode) {
    const SModel* model = FindModel(machineCode);
    return model ? model->maxChannel : 0;
}

int CMachineCodeConvert::GetMediaReceiveType(int machineCode) {
    const SModel* model = FindModel(machineCode);
    return model ? model->receiveType : kReceiveNone;
}

size_t CMachineCodeConvert::GetModelCount() {
    return kModelCount;
}

const CMachineCodeConvert::SModel* CMachineCodeConvert::GetModelAt(size_t index) {
    return index < kModelCount ? &kModels[index] : nullptr;
}

} // namespace media_util
