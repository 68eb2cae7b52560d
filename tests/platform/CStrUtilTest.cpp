#include "platform/CStrUtil.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using media_util::CStrUtil;

namespace {

// In order: no digits; blanks, signs and what follows the number; decimal
// saturation, also past 2^64; hexadecimal machine codes and chunk sizes as bit
// patterns; other bases, where a digit at or above the base ends the number.
TEST(CStrUtilTest, ParseIntReadsLeadingNumberOrZero) {
    const struct {
        const char* text;
        int base;
        int expected;
    } cases[] = {{"", 10, 0},
                 {"- 42", 10, 0},
                 {"\t\r\n42", 10, 42},
                 {"-42", 10, -42},
                 {"12px", 10, 12},
                 {"18446744073709551617", 10, INT_MAX},
                 {"-2147483649", 10, INT_MIN},
                 {"0X1a", 16, 26},
                 {"1a;name=value", 16, 26},
                 {"80000000", 16, INT_MIN},
                 {"123456789", 16, -1},
                 {"-10", 16, -16},
                 {"102", 2, 2},
                 {"zz", 36, 35 * 36 + 35},
                 {"12", 1, 0},
                 {"12", 37, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, CStrUtil::ParseInt(c.text, c.base)) << '"' << c.text << "\" base " << c.base;
        EXPECT_EQ(c.expected, CStrUtil::ParseInt(std::string(c.text), c.base)) << c.text;
    }
    EXPECT_EQ(0, CStrUtil::ParseInt(static_cast<const char*>(nullptr)));
    // Lines read in place are not NUL-terminated: digits behind a view are not taken.
    const char buffer[] = "12345";
    EXPECT_EQ(12, CStrUtil::ParseInt(std::string_view(buffer, 2)));
    EXPECT_EQ(0, CStrUtil::ParseInt(std::string_view(buffer, 0)));
    EXPECT_EQ(0x12, CStrUtil::ParseInt(std::string_view(buffer, 2), 16));
}

TEST(CStrUtilTest, ParseBool) {
    const struct {
        const char* text;
        bool expected;
    } cases[] = {{"1", true},    {"0", false},   {"", false},      {"2", true},
                 {"-1", true},   {"TRUE", true}, {"Yes", true},    {"no", false},
                 {"off", false}, {"00", false},  {"truex", false}, {" on\r\n", true}};
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CStrUtil::ParseBool(c.text)) << '"' << c.text << '"';
}

TEST(CStrUtilTest, Num2TStrWritesEveryRadixAndParseIntReadsItBack) {
    const struct {
        int value;
        int radix;
        const char* expected;
    } cases[] = {{0, 10, "0"},    {-1234, 10, "-1234"}, {INT_MIN, 10, "-2147483648"},
                 {255, 16, "ff"}, {-1, 16, "ffffffff"}, {INT_MIN, 16, "80000000"},
                 {5, 2, "101"},   {35, 36, "z"},        {12, 1, ""},
                 {12, 37, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, CStrUtil::Num2TStr(c.value, c.radix)) << c.value << " radix " << c.radix;
        const std::string narrow = CStrUtil::Num2TStr(c.value, c.radix);
        EXPECT_EQ(std::wstring(narrow.begin(), narrow.end()), CStrUtil::Num2WStr(c.value, c.radix));
    }
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> values(INT_MIN, INT_MAX);
    for (int i = 0; i < 1000; ++i) {
        const int v = i == 0 ? INT_MIN : i == 1 ? INT_MAX : values(random);
        for (int radix : {2, 8, 10, 16, 36})
            ASSERT_EQ(v, CStrUtil::ParseInt(CStrUtil::Num2TStr(v, radix), radix)) << v << " radix " << radix;
    }
}

TEST(CStrUtilTest, IndexOf) {
    const struct {
        const char* text;
        const char* what;
        size_t start;
        int expected;
    } cases[] = {{"/path?skip_pn=1", "skip_pn", 0, 6},
                 {"", "", 0, 0},
                 {"abc", "", 3, 3},
                 {"abc", "", 4, -1},
                 {"abab", "ab", 1, 2}};
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CStrUtil::IndexOf(c.text, c.what, c.start)) << c.text << " / " << c.what;
    EXPECT_EQ(1, CStrUtil::IndexOf("a=b", '='));
    EXPECT_EQ(-1, CStrUtil::IndexOf("ab", '='));
}

TEST(CStrUtilTest, SplitKeepsEmptyPiecesAndHonoursLimit) {
    const struct {
        const char* text;
        const char* delimiter;
        int limit;
        std::vector<std::string> expected;
    } cases[] = {
        {"", ",", 0, {}},
        {"a,,b", ",", 0, {"a", "", "b"}},
        {",a,", ",", 0, {"", "a", ""}},
        {"HTTP/1.1 404 Not Found", " ", 3, {"HTTP/1.1", "404", "Not Found"}},
        {"a b c d", " ", -1, {"a", "b", "c", "d"}},
        {"a b ", " ", 2, {"a", "b "}},
        {"l1\r\nl2\r\n", "\r\n", 0, {"l1", "l2", ""}},
        {"l1\r\nl2\r", "\r\n", 0, {"l1", "l2\r"}},
        {"aaa", "aa", 0, {"", "a"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> parts = {"stale"};
        EXPECT_EQ(int(c.expected.size()), CStrUtil::Split(c.text, c.delimiter, parts, c.limit));
        EXPECT_EQ(c.expected, parts) << '"' << c.text << "\" at \"" << c.delimiter << "\" limit " << c.limit;
    }
    try {
        std::vector<std::string> parts;
        CStrUtil::Split("a b", " ", parts);
        EXPECT_EQ("b", CStrUtil::GetAt(parts, 1));
        CStrUtil::GetAt(parts, 2);
        ADD_FAILURE() << "GetAt past the end did not throw";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ("invalid vector<T> subscript", e.what());
    }
}

TEST(CStrUtilTest, TrimAndSeparatePair) {
    const struct {
        const char* text;
        const char* expected;
    } trims[] = {{"", ""}, {"   ", ""}, {" a", "a"}, {"a ", "a"}, {"\t a b \r\n", "a b"}, {"\va\f", "a"}};
    for (const auto& c : trims) {
        EXPECT_EQ(c.expected, CStrUtil::Trim(c.text)) << '"' << c.text << '"';
        EXPECT_EQ(c.expected, CStrUtil::TrimView(c.text));
    }
    EXPECT_EQ(std::string("a\0", 2), CStrUtil::Trim(std::string_view(" a\0 ", 4))) << "a NUL is content";

    const struct {
        const char* text;
        const char* separator;
        int found;
        const char* name;
        const char* value;
    } pairs[] = {{"  X-CH :  A  ", ":", 1, "X-CH", "A"},
                 {"Location: http://h:80/p", ":", 1, "Location", "http://h:80/p"},
                 {"=x", "=", 1, "", "x"},
                 {"x=", "=", 1, "x", ""},
                 {"name", "=", 0, "old-name", "old-value"},
                 {"a:b", "", 0, "old-name", "old-value"},
                 {"key::=value", "::=", 1, "key", "value"}};
    for (const auto& c : pairs) {
        std::string name = "old-name";
        std::string value = "old-value";
        EXPECT_EQ(c.found, CStrUtil::SeparatePair(c.text, c.separator, name, value)) << c.text;
        EXPECT_EQ(c.name, name) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }
    // The text may be the value it is split into.
    std::string name;
    std::string value = "a = b";
    EXPECT_EQ(1, CStrUtil::SeparatePair(value, "=", name, value));
    EXPECT_EQ("a", name);
    EXPECT_EQ("b", value);
}

// Reads every complete line of buffer[0, end) from position on.
std::vector<std::string> ReadAllLines(const char* buffer, size_t end, size_t& position) {
    std::vector<std::string> lines;
    const char* line = nullptr;
    size_t length = 0;
    while (CStrUtil::ReadLineNoCopy(buffer, end, position, line, length)) {
        EXPECT_GE(line, buffer);
        EXPECT_LE(line + length, buffer + end);
        lines.emplace_back(line, length);
    }
    return lines;
}

TEST(CStrUtilTest, ReadLineNoCopy) {
    const struct {
        std::string buffer;
        std::vector<std::string> lines;
        size_t stop; // position after the last complete line
    } cases[] = {
        {"", {}, 0},
        {"\r\n\r\n", {"", ""}, 4},
        {"abc\r\ndef", {"abc"}, 5}, // a line without its end stays
        {"--myboundary\r\nContent-Length: 3\r\n\r\nxyz", {"--myboundary", "Content-Length: 3", ""}, 35},
        {"a\nb\r\n", {"a", "b"}, 5}, // a bare LF also ends a line
        {"a\rb\r\n", {"a\rb"}, 5},   // a lone CR is content
        {std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}, 5},
    };
    for (const auto& c : cases) {
        // An exact-size heap copy, so a read past the end is caught by ASan.
        std::vector<char> heap(c.buffer.begin(), c.buffer.end());
        size_t position = 0;
        EXPECT_EQ(c.lines, ReadAllLines(heap.empty() ? c.buffer.data() : heap.data(), heap.size(), position))
            << c.buffer;
        EXPECT_EQ(c.stop, position) << c.buffer;
    }
    // An incomplete line leaves every output alone; the end bounds the search
    // even when a LF lies behind it.
    const char buffer[] = "abc\r\n";
    for (size_t start : {size_t(0), size_t(6)}) {
        size_t position = start;
        const char* line = buffer;
        size_t length = 99;
        EXPECT_FALSE(CStrUtil::ReadLineNoCopy(buffer, start == 0 ? 4 : 5, position, line, length));
        EXPECT_EQ(start, position);
        EXPECT_EQ(buffer, line);
        EXPECT_EQ(99u, length);
        EXPECT_FALSE(CStrUtil::ReadLineNoCopy(nullptr, 5, position, line, length));
    }
}

TEST(CStrUtilTest, ReadLineNoCopyGivesTheSameLinesWhateverTheSplit) {
    // A head arriving in pieces: reading after each piece, keeping the
    // partial line, must give the lines of reading it whole.
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n\r\n--myboundary\nX-CH: A\r\n\r\n";
    size_t wholePosition = 0;
    const std::vector<std::string> whole = ReadAllLines(head.data(), head.size(), wholePosition);
    std::mt19937 random(4242);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<std::string> lines;
        size_t position = 0;
        for (size_t end = 0; end < head.size();) {
            end = std::min(head.size(), end + 1 + random() % 7);
            std::vector<char> arrived(head.begin(), head.begin() + long(end));
            for (const std::string& l : ReadAllLines(arrived.data(), arrived.size(), position))
                lines.push_back(l);
        }
        EXPECT_EQ(whole, lines) << "seed 4242 trial " << trial;
        EXPECT_EQ(wholePosition, position);
    }
}

// Refused: missing fields, days that do not exist (2026 is no leap year),
// out-of-range fields, long fractions, trailing text, a doubled separator.
TEST(CStrUtilTest, ParseTimeAcceptsDeviceFormatsAndRefusesTheRest) {
    const struct {
        const char* text;
        WORD year, month, day, hour, minute, second, ms, weekday;
    } good[] = {
        {"2026-12-06 07:15:30.123", 2026, 12, 6, 7, 15, 30, 123, 0},
        {"2026/1/2 3:4:5", 2026, 1, 2, 3, 4, 5, 0, 5},
        {"2024.02.29T23:59:59", 2024, 2, 29, 23, 59, 59, 0, 4},
        {"  2000-02-29_00:00:00\r\n", 2000, 2, 29, 0, 0, 0, 0, 2},
        {"20261206071530999", 2026, 12, 6, 7, 15, 30, 999, 0},
        {"1601-01-01 00:00:00", 1601, 1, 1, 0, 0, 0, 0, 1},
    };
    for (const auto& c : good) {
        SYSTEMTIME t{};
        ASSERT_TRUE(CStrUtil::ParseTime(c.text, t)) << c.text;
        const WORD got[] = {t.wYear,   t.wMonth,  t.wDay,          t.wHour,
                            t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek};
        const WORD want[] = {c.year, c.month, c.day, c.hour, c.minute, c.second, c.ms, c.weekday};
        EXPECT_EQ(std::vector<WORD>(want, want + 8), std::vector<WORD>(got, got + 8)) << c.text;
    }
    const char* bad[] = {"2026-12-06 07:15",     "2026-13-06 07:15:30",  "2026-02-29 07:15:30",
                         "2026-04-31 07:15:30",  "2026-12-06 23:59:60",  "2026-12-06 07:15:30.1234",
                         "2026-12-06 07:15:30Z", "2026-12-06  07:15:30", "1600-12-31 23:59:59",
                         "2026120607153"};
    for (const char* text : bad) {
        SYSTEMTIME t{1, 2, 3, 4, 5, 6, 7, 8};
        EXPECT_FALSE(CStrUtil::ParseTime(text, t)) << text;
        EXPECT_EQ(1, t.wYear) << text;
        EXPECT_EQ(8, t.wMilliseconds) << text;
    }
}

TEST(CStrUtilTest, IsIPv4) {
    const struct {
        const char* text;
        bool expected;
    } cases[] = {{"127.0.0.1", true},      {"255.255.255.255", true}, {"10.0.0.5", true},
                 {"256.0.0.1", false},     {"1.2.3", false},          {"1.2.3.4.5", false},
                 {"1.2.3.", false},        {"1..2.3", false},         {"", false},
                 {" 1.2.3.4", false},      {"1.2.3.4:80", false},     {"+1.2.3.4", false},
                 {"192.168.001.1", false}, {"1.2.3.0004", false},     {"camera.local", false}};
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CStrUtil::IsIPv4(c.text)) << '"' << c.text << '"';
}

TEST(CStrUtilTest, AppendInitAndFixLenStayInTheirBounds) {
    std::string s = "ab";
    EXPECT_EQ(0, CStrUtil::AppendANSIStr(s, nullptr));
    EXPECT_EQ(0, CStrUtil::AppendANSIStr(s, nullptr, 3));
    EXPECT_EQ(1, CStrUtil::AppendANSIStr(s, nullptr, 0));
    EXPECT_EQ(1, CStrUtil::AppendANSIStr(s, "x\0y", 3)); // a body may hold NULs
    EXPECT_EQ(std::string("abx\0y", 5), s);

    wchar_t wide[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_EQ(wide, CStrUtil::TStrInit(wide, 3));
    EXPECT_EQ(std::wstring(L"\0\0\0d", 4), std::wstring(wide, 4)) << "nothing past the capacity";
    EXPECT_EQ(nullptr, CStrUtil::TStrInit(static_cast<char*>(nullptr), 4));

    const struct {
        const char* text;
        size_t length;
        const char* expected;
    } cases[] = {{"21", 3, "021"}, {"", 3, "000"}, {"123", 3, "123"}, {"1234", 3, "234"}, {"a", 0, ""}};
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CStrUtil::FixLen(c.text, c.length)) << c.text;
    EXPECT_EQ(" 7", CStrUtil::FixLen("7", 2, ' '));
}

} // namespace
