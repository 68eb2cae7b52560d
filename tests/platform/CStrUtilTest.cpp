#include "platform/CStrUtil.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using media_util::CStrUtil;

namespace {

struct ParseIntCase {
    const char* text;
    int base;
    int expected;
};

TEST(CStrUtilTest, ParseIntReadsLeadingNumberOrZero) {
    const ParseIntCase cases[] = {
        {"", 10, 0},
        {"abc", 10, 0},
        {"-", 10, 0},
        {"+", 10, 0},
        {" ", 10, 0},
        {"0", 10, 0},
        {"42", 10, 42},
        {"  42", 10, 42},
        {"\t\r\n42", 10, 42},
        {"+42", 10, 42},
        {"-42", 10, -42},
        {"- 42", 10, 0}, // no blank between sign and digits
        {"42abc", 10, 42},
        {"12px", 10, 12},
        {"3.9", 10, 3},
        {"007", 10, 7},
        {"2147483647", 10, INT_MAX},
        {"2147483648", 10, INT_MAX},
        {"99999999999999999999999", 10, INT_MAX},
        {"-2147483648", 10, INT_MIN},
        {"-2147483649", 10, INT_MIN},
        {"-99999999999999999999999", 10, INT_MIN},
        {"1a", 10, 1},
        // Hexadecimal: machine codes and chunk sizes.
        {"1412", 16, 0x1412},
        {"10004", 16, 0x10004},
        {"9001", 16, 36865},
        {"ff", 16, 255},
        {"FF", 16, 255},
        {"fF", 16, 255},
        {"0x1A", 16, 26},
        {"0X1a", 16, 26},
        {"0x", 16, 0},
        {"0xg", 16, 0},
        {"1a;name=value", 16, 26},
        {"1a\r\n", 16, 26},
        {"g", 16, 0},
        {"7FFFFFFF", 16, INT_MAX},
        {"80000000", 16, INT_MIN},
        {"FFFFFFFF", 16, -1},
        {"FFFFFFFE", 16, -2},
        {"123456789", 16, -1}, // above 32 bits saturates at 0xFFFFFFFF
        {"-1", 16, -1},
        {"-10", 16, -16},
        // Other bases.
        {"101", 2, 5},
        {"11111111111111111111111111111111", 2, -1}, // bases other than 10 are bit patterns
        {"111111111111111111111111111111111", 2, -1},
        {"37777777777", 8, -1},
        {"-7", 8, -7},
        {"102", 2, 2},
        {"777", 8, 511},
        {"8", 8, 0},
        {"zz", 36, 35 * 36 + 35},
        {"12", 1, 0},
        {"12", 37, 0},
        {"12", 0, 0},
        {"12", -16, 0},
    };
    for (const ParseIntCase& c : cases) {
        EXPECT_EQ(c.expected, CStrUtil::ParseInt(c.text, c.base)) << '"' << c.text << "\" base " << c.base;
        EXPECT_EQ(c.expected, CStrUtil::ParseInt(std::string(c.text), c.base)) << c.text;
    }
    EXPECT_EQ(0, CStrUtil::ParseInt(static_cast<const char*>(nullptr)));
}

TEST(CStrUtilTest, ParseIntStopsAtTheEndOfAView) {
    // Lines read in place are not NUL-terminated: the digits after the view
    // must not be taken.
    const char buffer[] = "12345";
    EXPECT_EQ(12, CStrUtil::ParseInt(std::string_view(buffer, 2)));
    EXPECT_EQ(0, CStrUtil::ParseInt(std::string_view(buffer, 0)));
    EXPECT_EQ(0x12, CStrUtil::ParseInt(std::string_view(buffer, 2), 16));
}

TEST(CStrUtilTest, ParseBool) {
    const struct {
        const char* text;
        bool expected;
    } cases[] = {
        {"1", true},      {"0", false},   {"", false},      {" 1 ", true},     {"2", true},   {"-1", true},
        {"true", true},   {"TRUE", true}, {"Yes", true},    {"on", true},      {"no", false}, {"off", false},
        {"false", false}, {"00", false},  {"truex", false}, {" on\r\n", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CStrUtil::ParseBool(c.text)) << '"' << c.text << '"';
}

TEST(CStrUtilTest, Num2TStrWritesEveryRadix) {
    const struct {
        int value;
        int radix;
        const char* expected;
    } cases[] = {
        {0, 10, "0"},
        {7, 10, "7"},
        {1234, 10, "1234"},
        {-1234, 10, "-1234"},
        {INT_MAX, 10, "2147483647"},
        {INT_MIN, 10, "-2147483648"},
        {0, 16, "0"},
        {16, 16, "10"},
        {255, 16, "ff"},
        {0x1412, 16, "1412"},
        {-1, 16, "ffffffff"},
        {INT_MIN, 16, "80000000"},
        {5, 2, "101"},
        {-1, 2, "11111111111111111111111111111111"},
        {35, 36, "z"},
        {12, 1, ""},
        {12, 37, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, CStrUtil::Num2TStr(c.value, c.radix)) << c.value << " radix " << c.radix;
        const std::string narrow = CStrUtil::Num2TStr(c.value, c.radix);
        EXPECT_EQ(std::wstring(narrow.begin(), narrow.end()), CStrUtil::Num2WStr(c.value, c.radix));
    }
}

TEST(CStrUtilTest, Num2TStrAndParseIntRoundTrip) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> values(INT_MIN, INT_MAX);
    for (int i = 0; i < 2000; ++i) {
        const int v = i < 3 ? (i == 0 ? 0 : i == 1 ? INT_MIN : INT_MAX) : values(random);
        EXPECT_EQ(v, CStrUtil::ParseInt(CStrUtil::Num2TStr(v, 10), 10)) << v;
        for (int radix : {2, 8, 16, 36})
            EXPECT_EQ(v, CStrUtil::ParseInt(CStrUtil::Num2TStr(v, radix), radix)) << v << " radix " << radix;
    }
}

TEST(CStrUtilTest, IndexOf) {
    const struct {
        const char* text;
        const char* what;
        size_t start;
        int expected;
    } cases[] = {
        {"/path?skip_pn=1", "skip_pn", 0, 6},
        {"/path", "skip_pn", 0, -1},
        {"", "a", 0, -1},
        {"", "", 0, 0},
        {"abc", "", 3, 3},
        {"abc", "", 4, -1},
        {"abab", "ab", 1, 2},
        {"abab", "ab", 3, -1},
        {"abc", "abcd", 0, -1},
        {"abc", "c", 2, 2},
        {"abc", "a", 100, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CStrUtil::IndexOf(c.text, c.what, c.start)) << c.text << " / " << c.what;
    EXPECT_EQ(1, CStrUtil::IndexOf("a=b", '='));
    EXPECT_EQ(-1, CStrUtil::IndexOf("ab", '='));
}

struct SplitCase {
    const char* text;
    const char* delimiter;
    int limit;
    std::vector<std::string> expected;
};

TEST(CStrUtilTest, SplitKeepsEmptyPiecesAndHonoursLimit) {
    const SplitCase cases[] = {
        {"", ",", 0, {}},
        {"a", ",", 0, {"a"}},
        {"a,b,c", ",", 0, {"a", "b", "c"}},
        {"a,,b", ",", 0, {"a", "", "b"}},
        {",a,", ",", 0, {"", "a", ""}},
        {",", ",", 0, {"", ""}},
        {",,", ",", 0, {"", "", ""}},
        {"abc", "", 0, {"abc"}},
        {"OK getmachinecode=1412", " ", 0, {"OK", "getmachinecode=1412"}},
        {"HTTP/1.1 404 Not Found", " ", 3, {"HTTP/1.1", "404", "Not Found"}},
        {"HTTP/1.1 200", " ", 3, {"HTTP/1.1", "200"}},
        {"HTTP/1.1", " ", 3, {"HTTP/1.1"}},
        {"a b c d", " ", 1, {"a b c d"}},
        {"a b c d", " ", 2, {"a", "b c d"}},
        {"a b c d", " ", -1, {"a", "b", "c", "d"}},
        {"a b ", " ", 2, {"a", "b "}},
        {"l1\r\nl2\r\n", "\r\n", 0, {"l1", "l2", ""}},
        {"l1\r\nl2\r", "\r\n", 0, {"l1", "l2\r"}},
        {"aaa", "aa", 0, {"", "a"}},
        {"line1\nline2\n\nline3", "\n", 0, {"line1", "line2", "", "line3"}},
    };
    for (const SplitCase& c : cases) {
        std::vector<std::string> parts = {"stale"};
        const int n = CStrUtil::Split(c.text, c.delimiter, parts, c.limit);
        EXPECT_EQ(c.expected, parts) << '"' << c.text << "\" at \"" << c.delimiter << "\" limit " << c.limit;
        EXPECT_EQ(static_cast<int>(c.expected.size()), n);
    }
}

TEST(CStrUtilTest, SplitPiecesJoinBackToTheText) {
    std::mt19937 random(777);
    const char alphabet[] = "ab,;";
    for (int i = 0; i < 500; ++i) {
        std::string text;
        const int length = static_cast<int>(random() % 12);
        for (int k = 0; k < length; ++k)
            text.push_back(alphabet[random() % 4]);
        const std::string delimiter = (i % 2) ? "," : ";,";
        const int limit = static_cast<int>(random() % 4);
        std::vector<std::string> parts;
        const int n = CStrUtil::Split(text, delimiter, parts, limit);
        ASSERT_EQ(static_cast<size_t>(n), parts.size());
        if (limit > 0) {
            EXPECT_LE(n, limit) << text;
        }
        std::string joined;
        for (size_t k = 0; k < parts.size(); ++k)
            joined += (k ? delimiter : "") + parts[k];
        EXPECT_EQ(text, joined) << "seed 777 case " << i;
    }
}

TEST(CStrUtilTest, GetAtThrowsOutOfRangeWithTheSystemsMessage) {
    std::vector<std::string> parts;
    CStrUtil::Split("a b", " ", parts);
    EXPECT_EQ("b", CStrUtil::GetAt(parts, 1));
    try {
        CStrUtil::GetAt(parts, 2);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ("invalid vector<T> subscript", e.what());
    }
    parts.clear();
    EXPECT_THROW(CStrUtil::GetAt(parts, 0), std::out_of_range);
}

TEST(CStrUtilTest, Trim) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"", ""},     {"   ", ""},    {"a", "a"},       {" a", "a"}, {"a ", "a"}, {"\t a b \r\n", "a b"},
        {"\r\n", ""}, {"\va\f", "a"}, {"x  y", "x  y"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, CStrUtil::Trim(c.text)) << '"' << c.text << '"';
        EXPECT_EQ(c.expected, CStrUtil::TrimView(c.text));
    }
    // A NUL is content, not a blank.
    EXPECT_EQ(std::string("a\0", 2), CStrUtil::Trim(std::string_view(" a\0 ", 4)));
}

TEST(CStrUtilTest, SeparatePair) {
    const struct {
        const char* text;
        const char* separator;
        int found;
        const char* name;
        const char* value;
    } cases[] = {
        {"Content-Length: 12", ":", 1, "Content-Length", "12"},
        {"Content-Length:12", ":", 1, "Content-Length", "12"},
        {"  X-CH :  A  ", ":", 1, "X-CH", "A"},
        {"Location: http://h:80/p", ":", 1, "Location", "http://h:80/p"},
        {"getmachinecode=1412", "=", 1, "getmachinecode", "1412"},
        {"a=b=c", "=", 1, "a", "b=c"},
        {"=x", "=", 1, "", "x"},
        {"x=", "=", 1, "x", ""},
        {"=", "=", 1, "", ""},
        {"name", "=", 0, "old-name", "old-value"},
        {"", ":", 0, "old-name", "old-value"},
        {"a:b", "", 0, "old-name", "old-value"},
        {"key::=value", "::=", 1, "key", "value"},
    };
    for (const auto& c : cases) {
        std::string name = "old-name";
        std::string value = "old-value";
        EXPECT_EQ(c.found, CStrUtil::SeparatePair(c.text, c.separator, name, value)) << c.text;
        EXPECT_EQ(c.name, name) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }
}

TEST(CStrUtilTest, SeparatePairMayReadFromItsOwnOutput) {
    std::string name;
    std::string value = "a = b";
    EXPECT_EQ(1, CStrUtil::SeparatePair(value, "=", name, value));
    EXPECT_EQ("a", name);
    EXPECT_EQ("b", value);
}

// Reads every complete line of buffer[0, end) and returns them, with the
// position where reading stopped.
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
        {"abc", {}, 0},
        {"\r\n", {""}, 2},
        {"\r\n\r\n", {"", ""}, 4},
        {"abc\r\n", {"abc"}, 5},
        {"abc\r\ndef", {"abc"}, 5},   // a line without CR LF at the end stays
        {"abc\r\ndef\r", {"abc"}, 5}, // CR without its LF yet: incomplete
        {"--myboundary\r\nContent-Length: 3\r\n\r\nxyz", {"--myboundary", "Content-Length: 3", ""}, 35},
        {"a\nb\r\n", {"a", "b"}, 5}, // a bare LF also ends a line
        {"\n", {""}, 1},
        {"a\rb\r\n", {"a\rb"}, 5}, // a lone CR is content
        {"\r\r\n", {"\r"}, 3},
        {std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}, 5},
    };
    for (const auto& c : cases) {
        // An exact-size heap copy, so a read past the end is caught by ASan.
        std::vector<char> heap(c.buffer.begin(), c.buffer.end());
        const char* data = heap.empty() ? c.buffer.data() : heap.data();
        size_t position = 0;
        EXPECT_EQ(c.lines, ReadAllLines(data, heap.size(), position)) << c.buffer;
        EXPECT_EQ(c.stop, position) << c.buffer;
    }
}

TEST(CStrUtilTest, ReadLineNoCopyLeavesOutputsOnIncompleteLine) {
    const char buffer[] = "abc\r\npartial";
    size_t position = 5;
    const char* line = buffer;
    size_t length = 99;
    EXPECT_FALSE(CStrUtil::ReadLineNoCopy(buffer, sizeof(buffer) - 1, position, line, length));
    EXPECT_EQ(5u, position);
    EXPECT_EQ(buffer, line);
    EXPECT_EQ(99u, length);
    // The end bounds the search even when a LF lies behind it.
    const char more[] = "abc\r\n";
    position = 0;
    EXPECT_FALSE(CStrUtil::ReadLineNoCopy(more, 4, position, line, length));
    EXPECT_EQ(0u, position);
    // Position at or past the end, or a null buffer.
    position = 6;
    EXPECT_FALSE(CStrUtil::ReadLineNoCopy(more, 5, position, line, length));
    position = 0;
    EXPECT_FALSE(CStrUtil::ReadLineNoCopy(nullptr, 5, position, line, length));
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
        size_t end = 0;
        while (end < head.size()) {
            end = std::min(head.size(), end + 1 + random() % 7);
            std::vector<char> arrived(head.begin(), head.begin() + static_cast<long>(end));
            for (const std::string& l : ReadAllLines(arrived.data(), arrived.size(), position))
                lines.push_back(l);
        }
        EXPECT_EQ(whole, lines) << "seed 4242 trial " << trial;
        EXPECT_EQ(wholePosition, position);
    }
}

TEST(CStrUtilTest, ParseTimeAcceptsDeviceFormats) {
    const struct {
        const char* text;
        WORD year, month, day, hour, minute, second, ms, weekday;
    } cases[] = {
        {"2026-12-06 07:15:30", 2026, 12, 6, 7, 15, 30, 0, 0},
        {"2026-12-06 07:15:30.123", 2026, 12, 6, 7, 15, 30, 123, 0},
        {"2026-12-06 07:15:30,5", 2026, 12, 6, 7, 15, 30, 500, 0},
        {"2026-12-06 07:15:30.04", 2026, 12, 6, 7, 15, 30, 40, 0},
        {"2026/1/2 3:4:5", 2026, 1, 2, 3, 4, 5, 0, 5},
        {"2024.02.29T23:59:59", 2024, 2, 29, 23, 59, 59, 0, 4},
        {"2000-02-29_00:00:00", 2000, 2, 29, 0, 0, 0, 0, 2},
        {"  1970-01-01 00:00:00\r\n", 1970, 1, 1, 0, 0, 0, 0, 4},
        {"20261206071530", 2026, 12, 6, 7, 15, 30, 0, 0},
        {"20261206071530999", 2026, 12, 6, 7, 15, 30, 999, 0},
        {"1601-01-01 00:00:00", 1601, 1, 1, 0, 0, 0, 0, 1},
    };
    for (const auto& c : cases) {
        SYSTEMTIME t{};
        ASSERT_TRUE(CStrUtil::ParseTime(c.text, t)) << c.text;
        EXPECT_EQ(c.year, t.wYear) << c.text;
        EXPECT_EQ(c.month, t.wMonth) << c.text;
        EXPECT_EQ(c.day, t.wDay) << c.text;
        EXPECT_EQ(c.hour, t.wHour) << c.text;
        EXPECT_EQ(c.minute, t.wMinute) << c.text;
        EXPECT_EQ(c.second, t.wSecond) << c.text;
        EXPECT_EQ(c.ms, t.wMilliseconds) << c.text;
        EXPECT_EQ(c.weekday, t.wDayOfWeek) << c.text;
    }
}

TEST(CStrUtilTest, ParseTimeRefusesAndLeavesTimeUnchanged) {
    const char* bad[] = {
        "",
        "garbage",
        "2026-12-06",
        "2026-12-06 07:15",
        "2026-13-06 07:15:30",
        "2026-00-06 07:15:30",
        "2026-02-29 07:15:30", // not a leap year
        "1900-02-29 07:15:30",
        "2026-04-31 07:15:30",
        "2026-12-00 07:15:30",
        "2026-12-06 24:00:00",
        "2026-12-06 23:60:00",
        "2026-12-06 23:59:60",
        "2026-12-06 07:15:30.",
        "2026-12-06 07:15:30.1234",
        "2026-12-06 07:15:30Z",
        "2026-12-06  07:15:30",
        "26-12-06 07:15:30",
        "0000-00-00 00:00:00",
        "1600-12-31 23:59:59",
        "-2026-12-06 07:15:30",
        "2026-12-06 07:15:3x",
        "2026120607153",
        "202612060715301",
        "20261306071530",
        "2026-12-006 07:15:30",
    };
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
    } cases[] = {
        {"127.0.0.1", true},
        {"0.0.0.0", true},
        {"255.255.255.255", true},
        {"10.0.0.5", true},
        {"256.0.0.1", false},
        {"1.2.3", false},
        {"1.2.3.4.5", false},
        {"1.2.3.", false},
        {".1.2.3", false},
        {"1..2.3", false},
        {"", false},
        {"a.b.c.d", false},
        {"1.2.3.4 ", false},
        {" 1.2.3.4", false},
        {"1.2.3.4:80", false},
        {"+1.2.3.4", false},
        {"01.2.3.4", false},
        {"1.2.3.0004", false},
        {"1.2.3.004", false},
        {"1000.2.3.4", false},
        {"camera.local", false},
        {"::1", false},
        {"192.168.001.1", false},
        {"1.2.3.99", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CStrUtil::IsIPv4(c.text)) << '"' << c.text << '"';
}

TEST(CStrUtilTest, AppendAndInitRespectNullAndLength) {
    std::string s = "ab";
    EXPECT_EQ(0, CStrUtil::AppendANSIStr(s, nullptr));
    EXPECT_EQ(0, CStrUtil::AppendANSIStr(s, nullptr, 3));
    EXPECT_EQ(1, CStrUtil::AppendANSIStr(s, nullptr, 0));
    EXPECT_EQ(1, CStrUtil::AppendANSIStr(s, "x\0y", 3)); // a body may hold NULs
    EXPECT_EQ(std::string("abx\0y", 5), s);
    EXPECT_EQ(1, CStrUtil::AppendANSIStr(s, "x\0y"));
    EXPECT_EQ(std::string("abx\0yx", 6), s);

    std::wstring w;
    EXPECT_EQ(1, CStrUtil::AppendANSIStr(w, "b\xc3\xa4"));
    EXPECT_EQ(L"b\u00e4", w);

    wchar_t wide[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_EQ(wide, CStrUtil::TStrInit(wide, 3));
    EXPECT_EQ(L'\0', wide[0]);
    EXPECT_EQ(L'\0', wide[2]);
    EXPECT_EQ(L'd', wide[3]); // nothing past the capacity
    EXPECT_EQ(nullptr, CStrUtil::TStrInit(static_cast<char*>(nullptr), 4));
    EXPECT_TRUE(CStrUtil::IsStrNull(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(CStrUtil::IsStrNull(static_cast<const wchar_t*>(nullptr)));
}

TEST(CStrUtilTest, FixLen) {
    const struct {
        const char* text;
        size_t length;
        char fill;
        const char* expected;
    } cases[] = {
        {"21", 3, '0', "021"},   {"0", 3, '0', "000"}, {"", 3, '0', "000"}, {"123", 3, '0', "123"},
        {"1234", 3, '0', "234"}, {"a", 0, '0', ""},    {"7", 2, ' ', " 7"}, {"", 0, '0', ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CStrUtil::FixLen(c.text, c.length, c.fill)) << c.text;
    // The motion area as the device wants it: four 3-digit decimal fields.
    std::string area;
    for (int v : {0, 0, 21, 14})
        area += CStrUtil::FixLen(CStrUtil::Num2TStr(v), 3);
    EXPECT_EQ("000000021014", area);
    // A mask rectangle in 3-digit hexadecimal fields reads back.
    EXPECT_EQ(32, CStrUtil::ParseInt(CStrUtil::FixLen(CStrUtil::Num2TStr(32, 16), 3), 16));
}

} // namespace
