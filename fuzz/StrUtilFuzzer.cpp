// Feeds arbitrary bytes to the string helpers that parse what devices send
// (numbers, lines, pairs, times, addresses) and checks the rules their
// callers rely on. Any broken rule traps, so the fuzzer reports it.
#include "FuzzSupport.h"
#include "platform/CStrUtil.h"

using fuzz::Check;
using media_util::CStrUtil;

namespace {

void FuzzNumbers(std::string_view text, uint8_t selector) {
    const int base = 2 + selector % 35;
    const int any = CStrUtil::ParseInt(text, base);
    Check(CStrUtil::ParseInt(CStrUtil::Num2TStr(any, base), base) == any);
    const int decimal = CStrUtil::ParseInt(text);
    Check(CStrUtil::ParseInt(CStrUtil::Num2TStr(decimal)) == decimal);
    const int hex = CStrUtil::ParseInt(text, 16);
    Check(CStrUtil::ParseInt(CStrUtil::Num2TStr(hex, 16), 16) == hex);
    (void)CStrUtil::ParseBool(text);
    (void)CStrUtil::Num2WStr(decimal, base);
}

void FuzzSplit(std::string_view text, uint8_t selector) {
    static const char* const kDelimiters[] = {" ", "\n", "\r\n", ";", ",", ":", "", "aa"};
    const std::string_view delimiter = kDelimiters[selector % 8];
    const int limit = static_cast<int>(selector >> 4) - 2; // -2 .. 13
    std::vector<std::string> parts;
    const int n = CStrUtil::Split(text, delimiter, parts, limit);
    Check(n >= 0 && static_cast<size_t>(n) == parts.size());
    Check(text.empty() ? n == 0 : n >= 1);
    if (limit > 0)
        Check(n <= limit);
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i)
            joined.append(delimiter);
        joined.append(parts[i]);
    }
    Check(joined == text);
}

void FuzzTrimAndPairs(std::string_view text) {
    const std::string_view trimmed = CStrUtil::TrimView(text);
    Check(text.find(trimmed) != std::string_view::npos);
    Check(trimmed.empty() || (!CStrUtil::IsSpace(trimmed.front()) && !CStrUtil::IsSpace(trimmed.back())));
    std::string name = "n", value = "v";
    const int found = CStrUtil::SeparatePair(text, ":", name, value);
    Check(found == (text.find(':') != std::string_view::npos ? 1 : 0));
    if (!found)
        Check(name == "n" && value == "v");
    (void)CStrUtil::IndexOf(text, "skip_pn");
}

void FuzzLines(std::string_view text) {
    // An exact-size heap copy: a read past the end is an ASan report.
    std::vector<char> buffer(text.begin(), text.end());
    const char* data = buffer.data();
    size_t position = 0;
    const char* line = nullptr;
    size_t length = 0;
    while (CStrUtil::ReadLineNoCopy(data, buffer.size(), position, line, length)) {
        Check(line >= data && line + length < data + position);
        Check(position <= buffer.size() && data[position - 1] == '\n');
    }
    Check(position <= buffer.size());
    // Whatever is left holds no line end.
    for (size_t i = position; i < buffer.size(); ++i)
        Check(buffer[i] != '\n');
}

void FuzzTimeAndAddress(std::string_view text) {
    SYSTEMTIME t{};
    if (CStrUtil::ParseTime(text, t)) {
        Check(t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31);
        Check(t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60 && t.wMilliseconds < 1000 && t.wDayOfWeek < 7);
    }
    if (CStrUtil::IsIPv4(text)) {
        std::vector<std::string> parts;
        Check(CStrUtil::Split(text, ".", parts) == 4);
        for (const std::string& p : parts)
            Check(!p.empty() && p.size() <= 3 && CStrUtil::ParseInt(p) <= 255);
    }
    const std::string fixed = CStrUtil::FixLen(text, text.size() % 7);
    Check(fixed.size() == text.size() % 7);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t selector = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    FuzzNumbers(text, selector);
    FuzzSplit(text, selector);
    FuzzTrimAndPairs(text);
    FuzzLines(text);
    FuzzTimeAndAddress(text);
    return 0;
}
