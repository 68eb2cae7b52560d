#include "platform/CStrUtil.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace media_util {

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char ToLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (ToLower(a[i]) != ToLower(b[i]))
            return false;
    }
    return true;
}

template <typename Char> std::basic_string<Char> FormatNumber(int value, int radix) {
    if (radix < CStrUtil::kMinBase || radix > CStrUtil::kMaxBase)
        return {};
    bool negative = false;
    uint32_t magnitude = static_cast<uint32_t>(value);
    if (radix == 10 && value < 0) {
        negative = true;
        magnitude = 0u - magnitude; // INT_MIN's magnitude fits in 32 unsigned bits
    }
    Char digits[40];
    size_t count = 0;
    do {
        const uint32_t d = magnitude % static_cast<uint32_t>(radix);
        digits[count++] = static_cast<Char>(d < 10 ? '0' + d : 'a' + (d - 10));
        magnitude /= static_cast<uint32_t>(radix);
    } while (magnitude != 0);
    std::basic_string<Char> out;
    out.reserve(count + 1);
    if (negative)
        out.push_back(static_cast<Char>('-'));
    while (count > 0)
        out.push_back(digits[--count]);
    return out;
}

// Reads 1 to maxDigits decimal digits at text[pos]; advances pos.
bool ReadField(std::string_view text, size_t& pos, size_t minDigits, size_t maxDigits, int& out,
               size_t* digitsRead = nullptr) {
    size_t n = 0;
    int value = 0;
    while (pos + n < text.size() && n < maxDigits && IsDigit(text[pos + n])) {
        value = value * 10 + (text[pos + n] - '0');
        ++n;
    }
    if (n < minDigits)
        return false;
    pos += n;
    out = value;
    if (digitsRead)
        *digitsRead = n;
    return true;
}

bool ReadSeparator(std::string_view text, size_t& pos, std::string_view allowed) {
    if (pos >= text.size() || allowed.find(text[pos]) == std::string_view::npos)
        return false;
    ++pos;
    return true;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && IsLeapYear(year))
        return 29;
    return kDays[month - 1];
}

// 0 = Sunday, for the proleptic Gregorian calendar (Sakamoto's method).
int DayOfWeek(int year, int month, int day) {
    static const int kOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3)
        year -= 1;
    return (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
}

// SYSTEMTIME's own range.
constexpr int kMinYear = 1601;
constexpr int kMaxYear = 30827;

} // namespace

bool CStrUtil::MakeTime(int year, int month, int day, int hour, int minute, int second, int ms,
                        SYSTEMTIME& time) {
    if (year < kMinYear || year > kMaxYear || month < 1 || month > 12)
        return false;
    if (day < 1 || day > DaysInMonth(year, month))
        return false;
    if (hour > 23 || minute > 59 || second > 59 || ms > 999)
        return false;
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDayOfWeek = static_cast<WORD>(DayOfWeek(year, month, day));
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    time.wMilliseconds = static_cast<WORD>(ms);
    return true;
}

bool CStrUtil::IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool CStrUtil::IsStrNull(const char* text) {
    return text == nullptr || text[0] == '\0';
}

bool CStrUtil::IsStrNull(const wchar_t* text) {
    return text == nullptr || text[0] == L'\0';
}

int CStrUtil::ParseInt(const char* text, int base) {
    if (text == nullptr)
        return 0;
    return ParseInt(std::string_view(text), base);
}

int CStrUtil::ParseInt(std::string_view text, int base) {
    if (base < kMinBase || base > kMaxBase)
        return 0;
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (base == 16 && i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        i + 2 < text.size() && DigitValue(text[i + 2]) < 16) {
        i += 2;
    }
    // Accumulate with a cap so that any number of digits cannot overflow.
    // Base 10 is a signed number; every other base an unsigned bit pattern,
    // the counterpart of Num2TStr.
    const bool bitPattern = base != 10;
    const uint64_t cap = bitPattern ? 0xFFFFFFFFull : static_cast<uint64_t>(INT_MAX) + 1;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i]);
        if (d >= base)
            break;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (value > cap)
            value = cap;
    }
    if (bitPattern) {
        uint32_t bits = static_cast<uint32_t>(value);
        if (negative)
            bits = 0u - bits;
        return static_cast<int>(bits);
    }
    if (negative)
        return value >= static_cast<uint64_t>(INT_MAX) + 1 ? INT_MIN : -static_cast<int>(value);
    return value > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

bool CStrUtil::ParseBool(std::string_view text) {
    const std::string_view t = TrimView(text);
    if (EqualsNoCase(t, "true") || EqualsNoCase(t, "yes") || EqualsNoCase(t, "on"))
        return true;
    return ParseInt(t) != 0;
}

std::string CStrUtil::Num2TStr(int value, int radix) {
    return FormatNumber<char>(value, radix);
}

std::wstring CStrUtil::Num2WStr(int value, int radix) {
    return FormatNumber<wchar_t>(value, radix);
}

int CStrUtil::IndexOf(std::string_view text, std::string_view what, size_t start) {
    if (start > text.size())
        return -1;
    const size_t at = text.find(what, start);
    if (at == std::string_view::npos || at > static_cast<size_t>(INT_MAX))
        return -1;
    return static_cast<int>(at);
}

int CStrUtil::IndexOf(std::string_view text, char what, size_t start) {
    return IndexOf(text, std::string_view(&what, 1), start);
}

int CStrUtil::Split(std::string_view text, std::string_view delimiter, std::vector<std::string>& parts,
                    int limit) {
    parts.clear();
    if (text.empty())
        return 0;
    if (delimiter.empty()) {
        parts.emplace_back(text);
        return 1;
    }
    size_t begin = 0;
    for (;;) {
        if (limit > 0 && parts.size() + 1 == static_cast<size_t>(limit))
            break;
        const size_t at = text.find(delimiter, begin);
        if (at == std::string_view::npos)
            break;
        parts.emplace_back(text.substr(begin, at - begin));
        begin = at + delimiter.size();
    }
    parts.emplace_back(text.substr(begin));
    return static_cast<int>(parts.size());
}

const std::string& CStrUtil::GetAt(const std::vector<std::string>& parts, size_t index) {
    if (index >= parts.size())
        throw std::out_of_range("invalid vector<T> subscript");
    return parts[index];
}

std::string_view CStrUtil::TrimView(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    while (end > begin && IsSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::string CStrUtil::Trim(std::string_view text) {
    return std::string(TrimView(text));
}

int CStrUtil::SeparatePair(std::string_view text, std::string_view separator, std::string& name,
                           std::string& value) {
    if (separator.empty())
        return 0;
    const size_t at = text.find(separator);
    if (at == std::string_view::npos)
        return 0;
    // Assign through temporaries: text may be a view of name or value.
    std::string newName(TrimView(text.substr(0, at)));
    std::string newValue(TrimView(text.substr(at + separator.size())));
    name.swap(newName);
    value.swap(newValue);
    return 1;
}

bool CStrUtil::ReadLineNoCopy(const char* buffer, size_t end, size_t& position, const char*& line,
                              size_t& lineLength) {
    if (buffer == nullptr || position >= end)
        return false;
    const void* lf = std::memchr(buffer + position, '\n', end - position);
    if (lf == nullptr)
        return false;
    const size_t lfAt = static_cast<size_t>(static_cast<const char*>(lf) - buffer);
    size_t length = lfAt - position;
    if (length > 0 && buffer[lfAt - 1] == '\r')
        --length;
    line = buffer + position;
    lineLength = length;
    position = lfAt + 1;
    return true;
}

bool CStrUtil::ParseTime(std::string_view text, SYSTEMTIME& time) {
    const std::string_view t = TrimView(text);
    bool allDigits = !t.empty();
    for (char c : t)
        allDigits = allDigits && IsDigit(c);
    if (allDigits) {
        if (t.size() != 14 && t.size() != 17)
            return false;
        size_t pos = 0;
        int f[7] = {0, 0, 0, 0, 0, 0, 0};
        const size_t widths[7] = {4, 2, 2, 2, 2, 2, 3};
        const size_t fields = t.size() == 17 ? 7 : 6;
        for (size_t i = 0; i < fields; ++i) {
            if (!ReadField(t, pos, widths[i], widths[i], f[i]))
                return false;
        }
        return CStrUtil::MakeTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6], time);
    }
    size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    if (!ReadField(t, pos, 4, 4, year) || !ReadSeparator(t, pos, "-/.") || !ReadField(t, pos, 1, 2, month) ||
        !ReadSeparator(t, pos, "-/.") || !ReadField(t, pos, 1, 2, day) || !ReadSeparator(t, pos, " T_") ||
        !ReadField(t, pos, 1, 2, hour) || !ReadSeparator(t, pos, ":") || !ReadField(t, pos, 1, 2, minute) ||
        !ReadSeparator(t, pos, ":") || !ReadField(t, pos, 1, 2, second)) {
        return false;
    }
    if (pos < t.size()) {
        size_t digits = 0;
        if (!ReadSeparator(t, pos, ".,") || !ReadField(t, pos, 1, 3, ms, &digits))
            return false;
        for (; digits < 3; ++digits)
            ms *= 10;
    }
    if (pos != t.size())
        return false;
    return CStrUtil::MakeTime(year, month, day, hour, minute, second, ms, time);
}

bool CStrUtil::IsIPv4(std::string_view text) {
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && !ReadSeparator(text, pos, "."))
            return false;
        const size_t begin = pos;
        int value = 0;
        size_t digits = 0;
        if (!ReadField(text, pos, 1, 3, value, &digits))
            return false;
        if (value > 255 || (digits > 1 && text[begin] == '0'))
            return false;
    }
    return pos == text.size();
}

int CStrUtil::AppendANSIStr(std::string& target, const char* text) {
    if (text == nullptr)
        return 0;
    target.append(text);
    return 1;
}

int CStrUtil::AppendANSIStr(std::string& target, const char* text, size_t length) {
    if (length == 0)
        return 1;
    if (text == nullptr)
        return 0;
    target.append(text, length);
    return 1;
}

int CStrUtil::AppendANSIStr(std::wstring& target, const char* text) {
    if (text == nullptr)
        return 0;
    target += os::Utf8ToWide(text);
    return 1;
}

char* CStrUtil::TStrInit(char* buffer, size_t capacity) {
    if (buffer != nullptr && capacity > 0)
        std::memset(buffer, 0, capacity);
    return buffer;
}

wchar_t* CStrUtil::TStrInit(wchar_t* buffer, size_t capacity) {
    if (buffer != nullptr && capacity > 0)
        std::memset(buffer, 0, capacity * sizeof(wchar_t));
    return buffer;
}

std::string CStrUtil::FixLen(std::string_view text, size_t length, char fill) {
    if (text.size() >= length)
        return std::string(text.substr(text.size() - length));
    std::string out(length - text.size(), fill);
    out.append(text);
    return out;
}

} // namespace media_util
