// Plain numbers as camsim reads them from its command line, its control CGI,
// request parameters and the devices' parameter values: digits only, no sign
// or blanks; decimal, or hexadecimal in either case where a device writes
// hexadecimal (PTZ commands, privacy mask items, percent escapes).
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

// The value of one hexadecimal digit, either case; -1 for any other character.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// As ParseDecimal, for hexadecimal digits.
inline bool ParseHex(const std::string& text, uint64_t limit, uint64_t* out) {
    if (text.empty())
        return false;
    uint64_t value = 0;
    for (char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || value > (UINT64_MAX - 15) / 16)
            return false;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    if (value > limit)
        return false;
    *out = value;
    return true;
}

} // namespace camsim
