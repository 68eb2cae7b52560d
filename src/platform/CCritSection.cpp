#include "platform/CCritSection.h"

namespace media_util {

CCritSection::CCritSection() {
    InitializeCriticalSection(&mSection);
}

CCritSection::~CCritSection() {
    DeleteCriticalSection(&mSection);
}

void CCritSection::Lock() {
    EnterCriticalSection(&mSection);
}

int CCritSection::TryLock() {
    return TryEnterCriticalSection(&mSection) ? 1 : 0;
}

void CCritSection::Unlock() {
    LeaveCriticalSection(&mSection);
}

} // namespace media_util
