#include "platform/CMemUtil.h"

#include <cstring>

namespace media_util {

void* CMemUtil::FastMemcpyMMX(void* destination, const void* source, size_t length) {
    if (destination == nullptr || source == nullptr || length == 0)
        return destination;
    return memcpy(destination, source, length);
}

} // namespace media_util
