#include "platform/CManualEvent.h"

#include "platform/CLockWrap.h"

namespace media_util {

CManualEvent::CManualEvent() : m_hEvent(CreateEvent(nullptr, TRUE, FALSE, nullptr)), mState(kNotSignalled) {}

CManualEvent::~CManualEvent() {
    if (m_hEvent != nullptr)
        CloseHandle(m_hEvent);
}

int CManualEvent::Set() {
    CLockWrap lock(mStateLock);
    int ok = SetEvent(m_hEvent) ? 1 : 0;
    mState = kSignalled;
    return ok;
}

int CManualEvent::Reset() {
    CLockWrap lock(mStateLock);
    int ok = ResetEvent(m_hEvent) ? 1 : 0;
    mState = kNotSignalled;
    return ok;
}

int CManualEvent::IsSignalled() const {
    return WaitForSingleObject(m_hEvent, 0) == WAIT_OBJECT_0 ? 1 : 0;
}

int CManualEvent::Wait(DWORD milliseconds) const {
    return WaitForSingleObject(m_hEvent, milliseconds) == WAIT_OBJECT_0 ? 1 : 0;
}

int CManualEvent::WaitMany(const CManualEvent* const* events, int count, DWORD milliseconds) {
    HANDLE handles[3];
    int indexOf[3];
    DWORD used = 0;
    for (int i = 0; i < count; ++i) {
        if (events[i] == nullptr || events[i]->m_hEvent == nullptr)
            continue;
        handles[used] = events[i]->m_hEvent;
        indexOf[used] = i;
        ++used;
    }
    if (used == 0) {
        // Nothing to wait on: the caller still asked for a pause of this length.
        if (milliseconds != INFINITE)
            Sleep(milliseconds);
        return kWaitTimeout;
    }
    DWORD result = WaitForMultipleObjects(used, handles, FALSE, milliseconds);
    if (result == WAIT_TIMEOUT)
        return kWaitTimeout;
    if (result >= WAIT_OBJECT_0 + used)
        return kWaitFailed;
    return indexOf[result - WAIT_OBJECT_0];
}

int CManualEvent::WaitFirstEvents(const CManualEvent* a, const CManualEvent* b, DWORD milliseconds) {
    const CManualEvent* events[2] = {a, b};
    return WaitMany(events, 2, milliseconds) == 0 ? 1 : 0;
}

int CManualEvent::WaitTwoEvents(const CManualEvent* a, const CManualEvent* b, DWORD milliseconds) {
    const CManualEvent* events[2] = {a, b};
    return WaitMany(events, 2, milliseconds);
}

int CManualEvent::WaitThreeEvents(const CManualEvent* a, const CManualEvent* b, const CManualEvent* c,
                                  DWORD milliseconds) {
    const CManualEvent* events[3] = {a, b, c};
    return WaitMany(events, 3, milliseconds);
}

} // namespace media_util
