#include "platform/CMemoryStream.h"

#include <cstring>
#include <new>

namespace media_util {

bool CMemoryStream::Write(const void* data, size_t length) {
    if (length == 0)
        return true;
    if (data == nullptr || length > kMaxLength - mData.size())
        return false;
    try {
        const BYTE* bytes = static_cast<const BYTE*>(data);
        if (!mData.empty() && bytes >= mData.data() && bytes < mData.data() + mData.size()) {
            // Appending part of itself: growing may move the source.
            std::vector<BYTE> copy(bytes, bytes + length);
            mData.insert(mData.end(), copy.begin(), copy.end());
            return true;
        }
        mData.insert(mData.end(), bytes, bytes + length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

BYTE* CMemoryStream::ToByteArray() const {
    if (mData.empty())
        return nullptr;
    BYTE* copy = new (std::nothrow) BYTE[mData.size() + 1];
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, mData.data(), mData.size());
    copy[mData.size()] = 0;
    return copy;
}

bool CMemoryStream::CopyToByteArray(BYTE* target, size_t capacity) const {
    if (target == nullptr || capacity < mData.size())
        return false;
    if (!mData.empty())
        std::memcpy(target, mData.data(), mData.size());
    std::memset(target + mData.size(), 0, capacity - mData.size());
    return true;
}

} // namespace media_util
