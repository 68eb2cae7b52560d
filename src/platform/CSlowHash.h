// A small string-to-string dictionary kept in insertion order.
//
// Used for HTTP response headers, multipart part heads, the parameter
// dictionaries of the device's parameter CGI (whose replies are filed back by
// entry index, so the order of insertion matters) and the process-wide cache
// of machine codes. Keys are compared exactly (case-sensitive), as devices of
// this family expect.
//
// Lookups walk the entries: the dictionaries here hold a handful to a few
// dozen entries, where a walk is cheaper than hashing (bench/SlowHashBench).
//
// Not thread-safe: the owner serialises access.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace media_util {

class CSlowHash {
public:
    CSlowHash() = default;

    // Adds the entry at the end, or replaces the value of an existing key in
    // place (its position stays).
    void Add(std::string_view key, std::string_view value);
    // The key's value; empty when the key is absent.
    std::string Get(std::string_view key) const;
    bool IsContainKey(std::string_view key) const;
    // Index of the first entry (in insertion order) whose key begins with
    // prefix, or -1. An empty prefix matches the first entry.
    int GetKeyStartWith(std::string_view prefix) const;
    // Index of the key, or -1.
    int IndexOf(std::string_view key) const;
    void Clear() { mEntries.clear(); }

    size_t GetCount() const { return mEntries.size(); }
    bool IsEmpty() const { return mEntries.empty(); }
    // Entry access by index; an index not below GetCount() throws
    // std::out_of_range("invalid vector<T> subscript").
    const std::string& GetKeyAt(size_t index) const;
    const std::string& GetValueAt(size_t index) const;
    void SetValueAt(size_t index, std::string_view value);

private:
    struct SEntry {
        std::string key;
        std::string value;
    };
    const SEntry& EntryAt(size_t index) const;

    std::vector<SEntry> mEntries;
};

} // namespace media_util
