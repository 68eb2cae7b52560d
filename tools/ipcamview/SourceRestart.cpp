#include "SourceRestart.h"

#include "pipeline/CDecodedSource.h"
#include "pipeline/CLiveSource.h"
#include "pipeline/CSourceTable.h"
#include "source/CHttpMediaSource.h"
#include "viewer/CViewer.h"

#include <algorithm>

bool CSourceRestart::Stopped(CViewer& viewer) {
    const int slot = viewer.mLiveDesc.mSlot;
    if (slot < 0)
        return false;
    bool stopped = false;
    CSourceTable& table = CSourceTable::Instance();
    // The live source of a slot, or of the inner slot of a decoded source
    // (the table's lock is re-entrant: the inner look-up runs under it too).
    auto look = [&](int wanted, auto& self) -> void {
        table.ForEach([&](int index, CSharedSource& source) {
            if (index != wanted)
                return;
            if (auto* decoded = dynamic_cast<CDecodedSource*>(&source)) {
                if (decoded->GetInnerSlot() >= 0 && decoded->GetInnerSlot() != wanted)
                    self(decoded->GetInnerSlot(), self);
                return;
            }
            auto* live = dynamic_cast<CLiveSource*>(&source);
            CHttpMediaSource* receiver = live != nullptr ? live->GetReceiver() : nullptr;
            stopped = receiver != nullptr && receiver->IsRunning() == 0;
        });
    };
    look(slot, look);
    return stopped;
}

bool CSourceRestart::Poll(CViewer& viewer, int64_t shown, DWORD now) {
    if (mShownAtRestart >= 0 && shown > mShownAtRestart) {
        // Frames came again: the next stop waits the shortest time.
        mDelayMs = kFirstDelayMs;
        mShownAtRestart = -1;
    }
    if (!mWaiting) {
        if (!Stopped(viewer))
            return false;
        mWaiting = true;
        mStoppedAt = now;
        return false;
    }
    if (now - mStoppedAt < mDelayMs)
        return false;
    mWaiting = false;
    if (mShownAtRestart >= 0)
        mDelayMs = std::min(mDelayMs + kDelayStepMs, kMaxDelayMs);
    mShownAtRestart = shown;
    ++mRestarts;
    // The source's receiver starts again where it stopped: it keeps the
    // format it last saw, so a stream that stays at a new size is taken as
    // it is from now on.
    CSourceTable::Instance().EnsureRunning(viewer.mLiveDesc.mSlot);
    return true;
}
