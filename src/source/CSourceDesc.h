// What a display channel (or a recorder) wants to receive and where it goes:
// the device stream by URL with its credentials and transport, how it is
// received (multipart stream or JPEG polling), the format template of the
// media objects, the queue that takes them, the events through which the
// source and its owner meet, and the pacing values.
//
// A plain value type: owners hold descriptions, the source table and its
// sources keep copies, and every media source works from a pending copy.
// Pointers are never owned. Not thread-safe; a source guards its pending
// copy with its own lock.
#pragma once

#include "platform/CManualEvent.h"
#include "platform/CMediaObj.h"
#include "platform/IMediaQueue.h"

#include <cstdint>
#include <string>

class CSourceDesc {
public:
    // Source kinds.
    static constexpr int32_t kKindNone = -1;
    static constexpr int32_t kKindUrl = 0; // a network stream by URL, the only kind made
    // Receive types (as CMachineCodeConvert reports them).
    static constexpr int32_t kReceiveMultipart = 1;
    static constexpr int32_t kReceiveJpegPolling = 2;
    // Pacing modes (mPacingMode).
    static constexpr int32_t kPacingNone = 0;
    static constexpr int32_t kPacingFrameTime = 1; // space JPEG frames by the frame time of mFrameRateCode
    static constexpr int32_t kPacingRateLimit = 2; // limit the read rate to mRateLimit bytes per second
    // Request modes of a polling source: 0 idle, 1 or -1 one request, any
    // other value continuous polling. The viewer asks for continuous.
    static constexpr int32_t kRequestIdle = 0;
    static constexpr int32_t kRequestOnce = 1;
    static constexpr int32_t kRequestContinuous = 30000;

    CSourceDesc() = default;
    CSourceDesc(const CSourceDesc& other);
    CSourceDesc& operator=(const CSourceDesc& other);
    ~CSourceDesc() = default;

    // Sets both events; 0 (and nothing changes) when either is null.
    int SetEvents(media_util::CManualEvent* stopEvent, media_util::CManualEvent* listener);
    // 0 for a null queue.
    int SetQueue(media_util::IMediaQueue* queue);
    // Copies the object's header fields (not its data) into the template; 0 for null.
    int SetTemplate(const media_util::CMediaObj* object);
    // A network stream by URL: stores the four and sets the source kind to kKindUrl.
    void SetUrlSource(const std::string& url, int32_t receiveType, const std::string& user,
                      const std::string& password);
    // Every field equal: strings by content, templates by CMediaObj::Equals.
    bool operator==(const CSourceDesc& other) const;
    bool operator!=(const CSourceDesc& other) const { return !(*this == other); }
    // Empties the strings.
    void Clear();

    // --- Fields, in this order ---
    media_util::CManualEvent* mpStopEvent = nullptr; // owner's stop event; not owned
    media_util::CManualEvent* mpListener = nullptr;  // owner's notification event; not owned
    // Prototype of the objects a source creates (size, frame rate, codecs).
    // Its channel number is the channel the source serves (a polling
    // source's fixed channel).
    media_util::CMediaObj mTemplate;
    media_util::IMediaQueue* mpQueue = nullptr; // destination queue; not owned
    int32_t mSourceKind = kKindNone;
    int32_t mSlot = -1; // slot in the source table once registered
    std::string mUrl;
    int32_t mClientKind = 0; // 1 socket client, any other value the WinINet client
    int32_t mReceiveType = 0;
    std::string mUser;
    std::string mPassword;
    int32_t mRequestValue2 = 0;
    int32_t mRequestMode = 0;
    std::string mPathPrefix;
    std::string mPathSuffix; // polling path behind the channel digits; "skip_pn" fixes the channel
    // The four pacing values.
    int32_t mPacingMode = kPacingNone;
    int32_t mFrameRateCode = 0; // thousandths of a frame per second
    int32_t mRateLimit = 0;     // bytes per second, with kPacingRateLimit
    int32_t mPacingValue4 = 0;
    int32_t mAutoRestart = 1; // keep running after the failure limit
    int32_t mMachineCode = 0;
};
