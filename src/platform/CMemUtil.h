// Memory copy used on the per-frame paths (recorder records, clones).
#pragma once

#include <cstddef>

namespace media_util {

class CMemUtil {
public:
    // Copies length bytes from source to destination and returns destination.
    // The areas must not overlap. A plain memcpy: the C library's copy
    // already uses the widest instructions this CPU has, which is what the
    // name promised on the original platform. Null pointers with a length of
    // 0 are allowed; null with a non-zero length copies nothing.
    static void* FastMemcpyMMX(void* destination, const void* source, size_t length);
};

} // namespace media_util
