// The real clock of the media sources: timeGetTime and kernel event waits.
#pragma once

#include "source/ISourceClock.h"

class CSourceClock : public ISourceClock {
public:
    DWORD Now() override;
    bool WaitEvents(const media_util::CManualEvent* stop, const media_util::CManualEvent* owner,
                    DWORD milliseconds) override;
    // The process-wide instance every source uses unless told otherwise.
    static CSourceClock& Instance();
};
