// String helpers shared by every layer: number parsing and formatting, splitting,
// trimming, name/value separation, in-place line reading for protocol heads,
// date-time parsing and a few fixed-width formatting helpers.
//
// All functions are static, keep no state and may be called from any thread.
// Narrow strings are byte strings (UTF-8 or plain ASCII on the wire); nothing
// here depends on the locale.
#pragma once

#include "os/kernel/Kernel.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace media_util {

class CStrUtil {
public:
    // Bytes skipped by the trimming and number functions: blank, tab, CR, LF,
    // vertical tab, form feed. Nothing else (in particular not NUL) counts.
    static bool IsSpace(char c);

    // True for a null pointer or an empty string.
    static bool IsStrNull(const char* text);
    static bool IsStrNull(const wchar_t* text);
    static bool IsStrNull(const std::string& text) { return text.empty(); }

    // Reads an integer from the start of text, as devices write numbers in
    // headers, reply values and chunk sizes:
    // - leading blanks (IsSpace) are skipped, then one optional '+' or '-';
    // - base 16 also accepts an optional "0x"/"0X" after the sign;
    // - digits are 0-9 and a-z/A-Z (for 10 and up), each below the base; the
    //   number ends at the first byte that is not such a digit, so "1a;ext" in
    //   base 16 is 26 and "12px" is 12;
    // - no digit at all gives 0 ("", "-", "0x", "abc" in base 10);
    // - base 10 is a signed number and saturates at INT_MIN / INT_MAX;
    // - every other base reads an unsigned 32-bit number saturating at
    //   0xFFFFFFFF and returns its bit pattern, so a machine code "FFFFFFFE"
    //   in base 16 reads back as -2 (a '-' negates that pattern). This is the
    //   counterpart of Num2TStr, so ParseInt(Num2TStr(v, b), b) == v for all v;
    // - a base outside kMinBase..kMaxBase gives 0.
    static constexpr int kMinBase = 2;
    static constexpr int kMaxBase = 36;
    static int ParseInt(std::string_view text, int base = 10);
    static int ParseInt(const char* text, int base = 10);
    static int ParseInt(const std::string& text, int base = 10) {
        return ParseInt(std::string_view(text), base);
    }

    // A device's yes/no setting: after trimming, "true", "yes" and "on" in any
    // letter case are true; anything else is true exactly when ParseInt reads
    // a non-zero number from it ("1" true, "0", "" and "no" false).
    static bool ParseBool(std::string_view text);

    // Writes value in the radix (kMinBase..kMaxBase; anything else gives an
    // empty string). Radix 10 writes a '-' for negative values; every other
    // radix writes the unsigned 32-bit bit pattern (-1 in radix 16 is
    // "ffffffff"). Digits above 9 are lower case.
    static std::string Num2TStr(int value, int radix = 10);
    static std::wstring Num2WStr(int value, int radix = 10);

    // Index of the first occurrence of what in text at or after start, or -1.
    // An empty what is found at start when start <= text.size(). A start past
    // the end gives -1.
    static int IndexOf(std::string_view text, std::string_view what, size_t start = 0);
    static int IndexOf(std::string_view text, char what, size_t start = 0);

    // Splits text at every occurrence of delimiter into parts (cleared first)
    // and returns the number of parts.
    // - empty pieces are kept: "a,,b" gives "a", "", "b"; ",a," gives "", "a", "";
    // - an empty text gives no parts at all;
    // - an empty delimiter gives the whole text as the single part;
    // - limit > 0 is the largest number of parts: the last part then holds
    //   the rest of the text, delimiters included ("HTTP/1.1 404 Not Found"
    //   split at " " with limit 3 gives "HTTP/1.1", "404", "Not Found");
    //   limit <= 0 means no limit.
    static int Split(std::string_view text, std::string_view delimiter, std::vector<std::string>& parts,
                     int limit = 0);

    // Checked access to a split result or any other list of strings: throws
    // std::out_of_range("invalid vector<T> subscript") when index is not
    // below parts.size(), as the system's vectors do.
    static const std::string& GetAt(const std::vector<std::string>& parts, size_t index);

    // Text without the IsSpace bytes at both ends (all blanks gives "").
    static std::string Trim(std::string_view text);
    static std::string_view TrimView(std::string_view text);

    // Splits text at the first occurrence of separator into name (before) and
    // value (after), both trimmed. Returns 1 when the separator was found, 0
    // when not (or when the separator is empty); name and value are then left
    // unchanged. "Content-Length: 12" at ":" gives "Content-Length" and "12";
    // "a=b=c" at "=" gives "a" and "b=c"; ":x" gives "" and "x".
    static int SeparatePair(std::string_view text, std::string_view separator, std::string& name,
                            std::string& value);

    // Reads one line in place from buffer[position, end): the line runs up to
    // the next LF; a CR right before that LF is not part of it (so both CR LF
    // and a bare LF end a line; devices of this family send CR LF). On success
    // line points into the buffer, lineLength excludes the line end (0 for an
    // empty line), position moves past the LF, and the result is true. When
    // no LF lies before end the line is incomplete: the result is false and
    // position, line and lineLength are unchanged, so the caller can read
    // more behind the partial line and try again. Nothing at or past end is
    // read; a position at or past end is incomplete.
    static bool ReadLineNoCopy(const char* buffer, size_t end, size_t& position, const char*& line,
                               size_t& lineLength);

    // Reads a device's date-time text into time. Accepted (after trimming):
    //   "YYYY-MM-DD hh:mm:ss" with an optional fraction of a second of 1 to 3
    //   digits after '.' or ',' (".5" is 500 ms, ".045" 45 ms); the date
    //   separators may also be '/' or '.', date and time may be separated by
    //   ' ', 'T' or '_'; month, day, hour, minute and second have 1 or 2 digits;
    //   "YYYYMMDDhhmmss" and "YYYYMMDDhhmmssmmm" (compact form).
    // Every field must be in range (month 1-12, a day that exists in that
    // month, hour 0-23, minute 0-59, second 0-59, milliseconds 0-999, year
    // 1601-30827 as SYSTEMTIME allows). The day of the week is computed. Any
    // other text returns false and leaves time unchanged.
    static bool ParseTime(std::string_view text, SYSTEMTIME& time);
    // The calendar time of these fields under the same range rules as
    // ParseTime, with the day of the week computed; false (time unchanged)
    // when a field is out of range.
    static bool MakeTime(int year, int month, int day, int hour, int minute, int second, int ms,
                         SYSTEMTIME& time);

    // True for a dotted-quad IPv4 address: exactly four decimal numbers of 1
    // to 3 digits, each 0-255, separated by single dots, nothing else (no
    // blanks, signs or port). A number with a leading zero ("010") is refused,
    // because inet_addr would read it as octal.
    static bool IsIPv4(std::string_view text);

    // Appends bytes to target. The first form appends a NUL-terminated text,
    // the second exactly length bytes (NULs included). Returns 1, or 0 with
    // target unchanged when text is null (a null pointer with length 0 is an
    // empty append and returns 1). The wide forms convert UTF-8 to wide text.
    static int AppendANSIStr(std::string& target, const char* text);
    static int AppendANSIStr(std::string& target, const char* text, size_t length);
    static int AppendANSIStr(std::wstring& target, const char* text);

    // Empties the string.
    static void StringClear(std::string& text) { text.clear(); }
    static void StringClear(std::wstring& text) { text.clear(); }

    // Fills a fixed character buffer of capacity characters with NULs (an
    // empty, terminated text) and returns it; a null buffer or capacity 0 is
    // left alone.
    static char* TStrInit(char* buffer, size_t capacity);
    static wchar_t* TStrInit(wchar_t* buffer, size_t capacity);

    // Brings text to exactly length characters for fixed-width device fields:
    // a shorter text is padded on the left with fill ("21" to 3 gives "021");
    // a longer one keeps its last length characters ("1234" to 3 gives "234"),
    // so the field never grows and shifts its neighbours.
    static std::string FixLen(std::string_view text, size_t length, char fill = '0');
};

} // namespace media_util
