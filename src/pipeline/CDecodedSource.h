// A shared source that decodes once for many channels: it registers a live
// source for the stream in the same table (its own input queue as the
// destination) and a decoding dispatcher turns the live source's objects
// into pictures for every channel.
//
// It matches a description whose URL is the same up to the query: both URLs
// are cut at their first "?" (for the two-stream recorder, machine code
// 5138, the cut keeps the "?" and the 16 characters after it, which say
// which stream). It does not look at whether anything runs.
#pragma once

#include "pipeline/CDecodeDispatchWorker.h"
#include "pipeline/CSharedSource.h"
#include "platform/CMediaQueue.h"

class CSourceTable;
class CVideoDecoder;

class CDecodedSource : public CSharedSource {
public:
    static constexpr int32_t kInputQueueLimit = 60;
    // Characters after the "?" that the two-stream recorder's URLs keep.
    static constexpr size_t kTwoStreamQueryKeep = 17;

    CDecodedSource(const CSourceDesc& desc, CSourceTable& table);
    // Unregisters the inner live source, stops the dispatcher.
    ~CDecodedSource() override;

    bool Matches(const CSourceDesc& desc) override;
    int GetType() const override { return kTypeDecoded; }
    // Registers the inner live source (after Stop) and starts decoding.
    void Start() override;
    void Stop() override;
    void SetDesc(const CSourceDesc&) override {}
    bool EnsureRunning() override;
    // The decoder, made from the formats of spec (a channel's decoder).
    void SetDecodeSpec(const CVideoDecoder* spec);

    // The part of url that decoded sharing compares.
    static std::string SharedPart(const std::string& url, int32_t machineCode);
    int GetInnerSlot() const { return mInnerSlot; }
    CDecodeDispatchWorker& GetDecodeDispatcher() { return mDispatcher; }

private:
    CSourceTable& mTable;
    CSourceDesc mInnerDesc;
    int mInnerSlot = -1;
    media_util::CMediaQueue mInputQueue{kInputQueueLimit};
    CVideoDecoder* mpDecoder = nullptr; // owned
    CDecodeDispatchWorker mDispatcher;
};
