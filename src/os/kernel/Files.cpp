#include "os/kernel/Kernel.h"

#include <sys/stat.h>
#include <unistd.h>

DWORD GetFileAttributesA(const char* fileName) {
    struct stat info {};
    if (fileName == nullptr || ::stat(fileName, &info) != 0)
        return INVALID_FILE_ATTRIBUTES;
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    // Whether this process may write, as the system decides it (owner,
    // groups, read-only mounts), not only the mode bits.
    if (::access(fileName, W_OK) != 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}
