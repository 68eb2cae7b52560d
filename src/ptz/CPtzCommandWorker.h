// The thread that sends a PTZ control's commands to the camera, one request
// at a time, in the order they were made, so that the host's input thread
// never waits for the network.
//
// Commands are texts: a move ("A000" + direction flags, pan speed, tilt
// speed in hexadecimal), the stop "A000000000", the zooms; each is written
// as the parameter "qk310output" through the dialect's set-one-parameter
// operation, and the answer is not looked at. A text "@SLEEP_<ms>" is a
// pause between two commands and never reaches the camera: a wheel step is
// zoom, a 50 ms pause, stop, so the zoom runs for at least 50 ms.
//
// The queue is bounded: moves come with every mouse move while a button is
// held and are not merged while the camera keeps up, but once
// kMaxQueuedMoves commands wait (a camera answering slowly) a new move
// replaces a move waiting at the queue's end instead of joining it, and once
// kMaxQueued wait, the moves waiting give way to a stop or a wheel step -
// the stop supersedes them - so that neither memory nor the delay before
// the camera stops grows without bound. A new command wakes the worker: it
// is sent as soon as the one in flight is answered.
//
// Threads: Append from the control's thread (the host's), Job on the
// worker's; mLock guards the queue only and is never held while the worker
// sleeps or sends. The owner stops the worker (the viewer first signals the
// link's cancel event, so that a request to a silent camera ends at once);
// commands still queued are dropped unsent.
#pragma once

#include "net/CUrl.h"
#include "platform/CCritSection.h"
#include "platform/CThreadWorker.h"

#include <deque>
#include <string>
#include <vector>

class CDeviceProfile;
class CHttpLink;

class CPtzCommandWorker : public media_util::CThreadWorker {
public:
    static constexpr const char* kCommandKey = "qk310output";
    static constexpr const char* kSleepPrefix = "@SLEEP_";
    // How long an idle worker waits before it looks at the queue again
    // (a new command ends the wait at once).
    static constexpr DWORD kIdleWaitMs = 500;
    static constexpr size_t kMaxQueuedMoves = 64;
    static constexpr size_t kMaxQueued = 128;

    // dialect, link: the control's (borrowed; without a dialect commands are
    // taken and dropped, pauses still pause); deviceAddress: the device's
    // URL as text.
    CPtzCommandWorker(CDeviceProfile* dialect, CHttpLink* link, const std::string& deviceAddress);
    ~CPtzCommandWorker() override;

    // Queues commands as one group, under the lock; isMove marks a move
    // (which the bounds above may merge or drop). False when the group was
    // dropped.
    bool Append(const std::vector<std::string>& commands, bool isMove);
    // The commands waiting, oldest first (for tests and traces).
    std::vector<std::string> Queued();
    // Commands taken from the queue so far (sent, or pauses made).
    uint64_t TakenCount() const { return mTaken.load(); }

    int Job() override;

private:
    // The first command, taken out under the lock; false when none waits.
    bool TakeFirst(std::string* command);
    void Send(const std::string& command);

    // --- Members, in this order. ---
    media_util::CCritSection mLock;
    std::deque<std::string> mQueue; // guarded by mLock
    std::deque<bool> mIsMove;       // guarded by mLock; beside each queued command
    CDeviceProfile* mpProfile = nullptr;
    CHttpLink* mpLink = nullptr;
    CUrl mDeviceUrl;
    std::atomic<uint64_t> mTaken{0};
};
