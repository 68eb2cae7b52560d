// What the viewer knows about each device model, keyed by the machine code
// that the device reports for "getmachinecode" (hexadecimal text on the wire):
// its device type, which decides the dialect of parameter CGIs and stream
// paths; its maximum channel count; and how its live media arrive (one
// endless multipart response, or one JPEG image per request).
//
// The whole knowledge is one table in CMachineCodeConvert.cpp, written up row
// for row in docs/devices.md (the device simulator offers one device per row).
// A code that is not in the table belongs to a model the viewer cannot talk
// to: device type 0, no channels, no receive type.
//
// Stateless; every function may be called from any thread.
#pragma once

#include <cstddef>

namespace media_util {

class CMachineCodeConvert {
public:
    // Device types (results of GetDeviceType).
    static constexpr int kTypeUnknown = 0;        // no dialect: cannot stream
    static constexpr int kTypeProfileCamera = 1;  // "/vb.htm?" parameter family
    static constexpr int kTypeMultiChannel = 2;   // "/api.htm?" recorders
    static constexpr int kTypeVideoStandard = 3;  // "/dms" video servers
    static constexpr int kTypeNoStream = 4;       // known model without live video
    static constexpr int kTypeProfileCamera2 = 5; // "/vb.htm?" family with stream profiles
    static constexpr int kTypeOtherVendor = 100;  // fixed MJPEG camera of another vendor

    // Receive types (results of GetMediaReceiveType).
    static constexpr int kReceiveNone = 0;
    static constexpr int kReceiveMultipart = 1;   // one endless multipart HTTP response
    static constexpr int kReceiveJpegPolling = 2; // one JPEG image per request

    // The largest channel count of any model; channel masks and the stream
    // path composer rely on counts staying below 20.
    static constexpr int kMaxChannelLimit = 16;

    // One model. name is the short device name the simulator uses.
    struct SModel {
        const char* name;
        int machineCode;
        int deviceType;
        int maxChannel;
        int receiveType;
    };

    // Device type of the model, kTypeUnknown for codes not in the table
    // (including -1, the code of a device that did not answer).
    static int GetDeviceType(int machineCode);
    // Channels of the model (1 for cameras), 0 for unknown codes.
    static int GetMaxChannel(int machineCode);
    // kReceiveMultipart or kReceiveJpegPolling; kReceiveNone for models that
    // cannot stream and for unknown codes.
    static int GetMediaReceiveType(int machineCode);

    // The table itself, for tests and tools: GetModelCount rows, GetModelAt
    // returns null past the end. FindModel returns null for unknown codes.
    static size_t GetModelCount();
    static const SModel* GetModelAt(size_t index);
    static const SModel* FindModel(int machineCode);
};

} // namespace media_util
