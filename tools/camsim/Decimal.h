// Plain decimal numbers as camsim reads them from its command line, its
// control CGI and request parameters: digits only, no sign or blanks.
#pragma once

#include <cstdint>
#include <string>

namespace camsim {

// True with *out set when text is 1 or more digits whose value is at most
// limit; false (out untouched) for anything else, overflow included.
inline bool ParseDecimal(const std::string& text, uint64_t limit, uint64_t* out) {
    if (text.empty())
        return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > (UINT64_MAX - 9) / 10)
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > limit)
        return false;
    *out = value;
    return true;
}

} // namespace camsim
