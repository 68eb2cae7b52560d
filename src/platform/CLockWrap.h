// Holds a CCritSection for the lifetime of a scope.
#pragma once

#include "platform/CCritSection.h"

namespace media_util {

class CLockWrap {
public:
    // Takes the lock at once; a null lock makes the guard do nothing, so
    // optional locks need no special case at the call site.
    explicit CLockWrap(CCritSection* lock);
    explicit CLockWrap(CCritSection& lock);
    ~CLockWrap();
    CLockWrap(const CLockWrap&) = delete;
    CLockWrap& operator=(const CLockWrap&) = delete;

private:
    CCritSection* mpLock; // not owned
};

} // namespace media_util
