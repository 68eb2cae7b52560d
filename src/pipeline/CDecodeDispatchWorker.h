// The fan-out of a decoded shared source: each object is decoded once and
// every accepting destination gets its own clone of the picture, with the
// destination queue's channel number, so that many channels share one
// decoder.
//
// The two-stream H.264 recorder (machine code 5138) sends channels 1+2 and
// 3+4 as two separate streams; their pictures go through two decoders, the
// second (channels 3 and 4) made from the first's formats.
//
// Threads: as CDispatchWorker; the decoders are used only under its lock (a
// registration waits while a frame decodes).
#pragma once

#include "pipeline/CDispatchWorker.h"

class CVideoDecoder;

class CDecodeDispatchWorker : public CDispatchWorker {
public:
    // The recorder whose second stream needs a decoder of its own.
    static constexpr int32_t kMachineCodeTwoStreams = 5138;

    CDecodeDispatchWorker() = default;
    // Stops the thread; destroys the secondary decoder, never the primary.
    ~CDecodeDispatchWorker() override;

    void Dispatch(media_util::CMediaObj* object) override;

    void SetMachineCode(int32_t machineCode) { mMachineCode = machineCode; }
    // The primary decoder (not owned, it belongs to the source); for
    // machine code 5138 a secondary decoder is made from its formats.
    // Before the thread starts.
    void SetDecoders(CVideoDecoder* decoder);
    // Pictures that decoding produced (any thread may ask).
    int64_t GetPictureCount() const { return mPictures.load(); }

private:
    CVideoDecoder* mpPrimary = nullptr;   // not owned
    CVideoDecoder* mpSecondary = nullptr; // owned; only for machine code 5138
    int32_t mMachineCode = 0;
    std::atomic<int64_t> mPictures{0};
};
