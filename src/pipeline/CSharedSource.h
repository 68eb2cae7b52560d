// A media source that several channels share, held by the process-wide
// source table (CSourceTable): a description (what it was made for) and a
// dispatcher that fans its objects out to the channels' queues.
//
// Two kinds: CLiveSource (type 1), one receiver feeding a dispatcher; and
// CDecodedSource (type 2), which registers a live source in the same table
// and decodes its objects once for every channel.
//
// Threads: the table calls every operation under its lock, on the threads
// of the channels that register; the receiver and dispatcher run their own.
#pragma once

#include "pipeline/CDispatchWorker.h"
#include "source/CSourceDesc.h"

class CSharedSource {
public:
    static constexpr int kTypeLive = 1;
    static constexpr int kTypeDecoded = 2;

    explicit CSharedSource(const CSourceDesc& desc) : mDesc(desc) {}
    virtual ~CSharedSource() = default;
    CSharedSource(const CSharedSource&) = delete;
    CSharedSource& operator=(const CSharedSource&) = delete;

    // Whether this source serves what desc asks for.
    virtual bool Matches(const CSourceDesc& desc) = 0;
    virtual int GetType() const = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    // A newer description of what the source serves.
    virtual void SetDesc(const CSourceDesc& desc) = 0;
    // Restarts what has stopped; false when the source has nothing to run.
    virtual bool EnsureRunning() = 0;

    CDispatchWorker* GetDispatcher() const { return mpDispatcher; }
    const CSourceDesc& GetDesc() const { return mDesc; }

protected:
    CSourceDesc mDesc;
    CDispatchWorker* mpDispatcher = nullptr; // owned by the subclass
};
