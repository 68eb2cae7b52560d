// The push source filter of the renderers' graphs ("VMR Source Filter"): the
// channel's pacer pushes media objects into it and it hands them downstream
// as samples, on the pushing thread, through its one output pin.
//
// Configure tells it what the objects are (the input format) and what its
// output pin carries (the output format):
// - a picture format (pixel codes 100, 120, 130 or 32-bit): compressed
//   objects (JPEG, MPEG-4, H.264 in QBox boxes) are decoded into that format
//   through vcodec, and objects that are already pictures of that format (a
//   decoded shared source's) are passed on as they are;
// - a compressed video format (a decoder filter follows in the graph): the
//   objects' bytes are passed on unchanged;
// - an audio format (2005 u-law, 2010 AAC, 2020 G.726): the objects' audio
//   bytes are passed on for the ACM wrapper.
// A JPEG frame shown at half its size or less (the renderer's scale hint) is
// decoded at 1/2, 1/4 or 1/8 scale with libjpeg-turbo instead, and one that
// the renderer would copy unchanged into a 32-bit window straight into the
// window's surface.
//
// Its events: the first is the stop signal of the renderer (set while no
// graph runs: Deliver then refuses at once); the second is set whenever a
// picture or block reached the filter downstream, so an owner can wait for
// the first frame shown.
//
// It is a component of its own, outside the graph layer: it knows the media
// objects and the decoder, which the layer below them does not, and it joins
// CoCreateInstance's table when RegisterVmrSourceFilter is called.
//
// Threads: Configure on the renderer owner's thread while no graph runs;
// Deliver on the pushing thread. mLock guards the decoder state.
#pragma once

#include "os/dshow/CBaseFilter.h"
#include "os/dshow/JpegPlanes.h"
#include "platform/CManualEvent.h"
#include "platform/CMediaObj.h"

#include <memory>
#include <vector>

extern const CLSID CLSID_VMRSourceFilter;
extern const IID IID_IVmrSampleInput;

// The sample-input interface of the push source filter.
class IVmrSampleInput : public IUnknown {
public:
    // Copies both formats (header fields) and keeps the two events (not
    // owned; they must outlive the filter's use). E_INVALIDARG for a null
    // format or an output format with neither a video nor an audio code.
    // VFW_E_ALREADY_CONNECTED while the output pin is connected.
    virtual HRESULT Configure(const media_util::CMediaObj* input, const media_util::CMediaObj* output,
                              media_util::CManualEvent* event1, media_util::CManualEvent* event2) = 0;
    // Hands one object downstream; the object stays the caller's and nothing
    // of it is kept. 1 when a sample reached the next filter, 0 otherwise
    // (not configured, not connected, not running, stopping, an object of
    // another format, a frame that did not decode, or nothing decoded yet).
    virtual int Deliver(const media_util::CMediaObj* object) = 0;
};

// Adds the filter's class to CoCreateInstance's table (once; later calls do
// nothing).
void RegisterVmrSourceFilter();

namespace os::dshow {

class CVmrSourceFilter : public CBaseFilter, public IVmrSampleInput {
public:
    // H.264 bytes held while waiting for the rest of an access unit: the
    // same bound as the decoder wrapper's QBox buffer. More means the stream
    // is broken; the buffer is emptied and decoding starts again at the
    // next key frame.
    static constexpr int32_t kQBoxBufferSize = 1024000;
    // What the decoder is asked for an H.264 picture at most per object:
    // more pictures than that in one object is a backlog, of which only the
    // last is shown.
    static constexpr int kMaxPicturesPerObject = 8;

    static HRESULT Create(REFIID iid, void** out);
    // Process-wide: whether JPEG frames shown small are decoded at reduced
    // scale (on unless a host or a benchmark turns it off to compare).
    static void SetScaledDecoding(bool enabled);
    static bool IsScaledDecoding();
    // Process-wide: whether JPEG frames decoded straight into the window are
    // left there as YCbCr planes, turned into pixels only when looked at (on
    // unless a host or a benchmark turns it off to compare).
    static void SetPlanarPictures(bool enabled);
    static bool IsPlanarPictures();

    HRESULT QueryInterface(REFIID iid, void** out) override;
    ULONG AddRef() override { return CBaseFilter::AddRef(); }
    ULONG Release() override { return CBaseFilter::Release(); }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override;

    HRESULT Configure(const media_util::CMediaObj* input, const media_util::CMediaObj* output,
                      media_util::CManualEvent* event1, media_util::CManualEvent* event2) override;
    int Deliver(const media_util::CMediaObj* object) override;

    // --- For tests and the host ---
    // Objects that reached the next filter, and JPEG frames decoded scaled.
    uint64_t GetDelivered();
    uint64_t GetScaledDecodes();
    // JPEG frames decoded straight into the window (see DecodeJpegDirect),
    // and of those the ones left there as planes.
    uint64_t GetDirectDecodes();
    uint64_t GetPlanarDecodes();
    // Objects that did not decode (broken frames, a format the filter was
    // not configured for).
    uint64_t GetRejected();
    // Bytes held for decoded pictures (the picture buffer and the scaled
    // decode's scratch): what one channel's decoding keeps in memory.
    size_t GetPictureMemory();

private:
    class COutputPin;

    CVmrSourceFilter();
    ~CVmrSourceFilter() override;

    bool DecodeVideo(const media_util::CMediaObj& object, CMediaSample* sample);
    // A JPEG frame of a 32-bit display that the renderer would copy to its
    // window unchanged is decoded straight into the window surface
    // (IVideoDirectTarget), saving a copy of the whole picture: as YCbCr
    // planes where the window takes them (no colour conversion until
    // somebody looks), else as pixels. True when it was shown that way.
    bool DecodeJpegDirect(const media_util::CMediaObj& object);
    bool DecodeJpegScaled(const media_util::CMediaObj& object, LONG denominator, CMediaSample* sample);
    bool DecodeWithCodec(const media_util::CMediaObj& object, CMediaSample* sample);
    bool PassPicture(const media_util::CMediaObj& object, CMediaSample* sample);
    // Makes a picture buffer hold exactly `bytes`; false for more than any
    // picture may have (a device's header is not trusted with the size).
    static bool SizeBuffer(std::vector<uint8_t>& buffer, int64_t bytes);
    void ReleaseDecoder();
    HRESULT CheckOutputType(const AM_MEDIA_TYPE& mt);
    bool OutputType(AM_MEDIA_TYPE* mt);

    std::unique_ptr<COutputPin> mpOutput;
    // Guarded by mLock.
    media_util::CMediaObj mInputFormat;
    media_util::CMediaObj mOutputFormat;
    bool mConfigured = false;
    media_util::CManualEvent* mpStopEvent = nullptr;  // not owned
    media_util::CManualEvent* mpShownEvent = nullptr; // not owned
    int32_t mCodecHandle = -1;
    int32_t mCodecFormat = 0; // the video format the codec was made for
    int32_t mCodecWidth = 0;
    int32_t mCodecHeight = 0;
    void* m_hJpeg = nullptr;                   // TurboJPEG decompressor for scaled decoding
    std::unique_ptr<CJpegPlanes> mpJpegPlanes; // JPEG into a window's planes, made on first use
    std::vector<uint8_t> mPicture;             // the last decoded picture
    std::vector<uint8_t> mQBox;                // extracted H.264 not yet consumed
    std::vector<uint8_t> mScratch;             // a decoded picture in another format, before conversion
    bool mWaitForKeyFrame = false;             // H.264 after an overflow
    uint64_t mDelivered = 0;
    uint64_t mScaledDecodes = 0;
    uint64_t mDirectDecodes = 0;
    uint64_t mPlanarDecodes = 0;
    uint64_t mRejected = 0;
};

} // namespace os::dshow
