// A growable byte buffer that collects an HTTP body piece by piece (a fetched
// JPEG image, a parameter reply) before the caller takes it as one block.
//
// Bounded: a body larger than kMaxLength is refused rather than letting a
// device that never stops sending exhaust memory. Not thread-safe; one
// fetch fills one stream.
#pragma once

#include "os/kernel/Kernel.h"

#include <cstddef>
#include <vector>

namespace media_util {

class CMemoryStream {
public:
    // Largest content a stream holds: far above any single image or reply a
    // device of this family sends (a 1080p JPEG is well under 1 MiB).
    static constexpr size_t kMaxLength = 32u * 1024u * 1024u;

    CMemoryStream() = default;

    // Appends length bytes. False, with the stream unchanged, when data is
    // null (and length > 0), the content would exceed kMaxLength, or no memory
    // could be had. Writing 0 bytes succeeds.
    bool Write(const void* data, size_t length);

    size_t GetLength() const { return mData.size(); }
    bool IsEmpty() const { return mData.empty(); }
    // The content in place, valid until the next Write or Clear; null when
    // empty.
    const BYTE* GetBuffer() const { return mData.empty() ? nullptr : mData.data(); }
    void Clear() { mData.clear(); }

    // A copy of the content in a new array owned by the caller (delete[]),
    // followed by one NUL byte so that text can be read as a C string. Null
    // when the stream is empty or no memory could be had.
    BYTE* ToByteArray() const;

    // Copies the content into the caller's block of capacity bytes and
    // zero-fills the rest of it. False (target untouched) when target is null
    // or capacity is smaller than the content.
    bool CopyToByteArray(BYTE* target, size_t capacity) const;

private:
    std::vector<BYTE> mData;
};

} // namespace media_util
