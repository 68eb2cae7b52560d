// The fields a device embeds in its video frames: when the frame was taken,
// which model sent it, its picture size, its running sequence number, its
// alarm bits and its channel. Implemented by CJpegHeader for JPEG images.
//
// An implementation reads its fields when it is constructed and keeps no
// pointer to the frame, so the frame may be freed while the header lives.
#pragma once

#include "os/kernel/Kernel.h"

#include <cstdint>

namespace media_util {

class IVideoHeader {
public:
    virtual ~IVideoHeader() = default;

    // True when the frame carried a device header; without one every getter
    // reports its "none" value (see the implementation).
    virtual bool HasHeader() const = 0;
    // The time the device stamped on the frame (local calendar time).
    virtual void GetTime(SYSTEMTIME* time) const = 0;
    // The sending model's machine code; 0 when none.
    virtual int GetMachineCode() const = 0;
    // Picture size in pixels; 0 when none.
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    // The device's running frame counter; 0 when none.
    virtual uint32_t GetSequence() const = 0;
    // Alarm bits as the device set them (their meaning depends on the model).
    virtual int GetAlarm() const = 0;
    // 1-based channel of the picture; 0 when none.
    virtual int GetChannel() const = 0;
    // Channels 1 to 8 that have video, bit n-1 for channel n; 0 when none.
    virtual int GetChannelMask() const = 0;
};

} // namespace media_util
