#include "SourceRestart.h"

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
    CSourceTable::Instance().ForEach([&](int index, CSharedSource& source) {
        if (index != slot)
            return;
        auto* live = dynamic_cast<CLiveSource*>(&source);
        CHttpMediaSource* receiver = live != nullptr ? live->GetReceiver() : nullptr;
        stopped = receiver != nullptr && receiver->IsRunning() == 0;
    });
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
    viewer.Unsubscribe();
    viewer.Subscribe();
    return true;
}
