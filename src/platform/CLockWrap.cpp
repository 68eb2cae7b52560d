#include "platform/CLockWrap.h"

namespace media_util {

CLockWrap::CLockWrap(CCritSection* lock) : mpLock(lock) {
    if (mpLock != nullptr)
        mpLock->Lock();
}

CLockWrap::CLockWrap(CCritSection& lock) : CLockWrap(&lock) {}

CLockWrap::~CLockWrap() {
    if (mpLock != nullptr)
        mpLock->Unlock();
}

} // namespace media_util
