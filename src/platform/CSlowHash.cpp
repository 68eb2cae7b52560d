#include "platform/CSlowHash.h"

#include <stdexcept>

namespace media_util {

void CSlowHash::Add(std::string_view key, std::string_view value) {
    const int at = IndexOf(key);
    if (at >= 0) {
        mEntries[static_cast<size_t>(at)].value.assign(value);
        return;
    }
    mEntries.push_back(SEntry{std::string(key), std::string(value)});
}

std::string CSlowHash::Get(std::string_view key) const {
    const int at = IndexOf(key);
    if (at < 0)
        return {};
    return mEntries[static_cast<size_t>(at)].value;
}

bool CSlowHash::IsContainKey(std::string_view key) const {
    return IndexOf(key) >= 0;
}

int CSlowHash::IndexOf(std::string_view key) const {
    for (size_t i = 0; i < mEntries.size(); ++i) {
        if (mEntries[i].key == key)
            return static_cast<int>(i);
    }
    return -1;
}

int CSlowHash::GetKeyStartWith(std::string_view prefix) const {
    for (size_t i = 0; i < mEntries.size(); ++i) {
        const std::string& key = mEntries[i].key;
        if (key.size() >= prefix.size() && key.compare(0, prefix.size(), prefix) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

const CSlowHash::SEntry& CSlowHash::EntryAt(size_t index) const {
    if (index >= mEntries.size())
        throw std::out_of_range("invalid vector<T> subscript");
    return mEntries[index];
}

const std::string& CSlowHash::GetKeyAt(size_t index) const {
    return EntryAt(index).key;
}

const std::string& CSlowHash::GetValueAt(size_t index) const {
    return EntryAt(index).value;
}

void CSlowHash::SetValueAt(size_t index, std::string_view value) {
    EntryAt(index); // range check
    mEntries[index].value.assign(value);
}

} // namespace media_util
