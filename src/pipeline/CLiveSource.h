// A shared source with one receiver (the multipart stream reader or the JPEG
// poller, by the description's receive type) feeding one dispatcher.
//
// It matches a description with the same URL, byte for byte, as long as its
// receiver runs; a receiver that stopped itself (refused stream, changed
// format, given up) is never matched, so the next registration makes a new
// source.
#pragma once

#include "pipeline/CSharedSource.h"
#include "platform/CManualEvent.h"
#include "platform/CMediaQueue.h"

class CHttpMediaSource;

class CLiveSource : public CSharedSource {
public:
    // Objects the receiver may queue ahead of the dispatcher.
    static constexpr int32_t kInputQueueLimit = 60;

    explicit CLiveSource(const CSourceDesc& desc);
    // Stops the receiver and the dispatcher.
    ~CLiveSource() override;

    bool Matches(const CSourceDesc& desc) override;
    int GetType() const override { return kTypeLive; }
    // Makes the receiver for the description and starts it and the
    // dispatcher (after Stop).
    void Start() override;
    // Destroys the receiver (its thread stops) and stops the dispatcher.
    void Stop() override;
    void SetDesc(const CSourceDesc& desc) override;
    // Restarts a receiver whose thread has ended; false without receiver.
    bool EnsureRunning() override;

    CHttpMediaSource* GetReceiver() const { return mpReceiver; }

private:
    media_util::CMediaQueue mInputQueue{kInputQueueLimit};
    media_util::CManualEvent mReceiveEvent;
    CHttpMediaSource* mpReceiver = nullptr; // owned
    CDispatchWorker mDispatcher;
};
