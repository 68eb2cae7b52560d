// One HTTP request as camsim received it, and the small text helpers camsim's
// handlers need (query parameters, Base64 of Basic credentials).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace camsim {

class HttpRequest {
public:
    // The request head may not exceed this many bytes; a longer one is
    // answered 431 and the connection closed.
    static constexpr size_t kMaxHeadBytes = 16 * 1024;
    // A request body (Content-Length) above this is answered 413.
    static constexpr size_t kMaxBodyBytes = 1024 * 1024;

    enum class ParseResult { Ok, Malformed };

    // Parses a request head: the text up to and including the blank line.
    ParseResult ParseHead(const std::string& head);

    // The header's value, names compared without regard to case; empty when
    // absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
    // The query parameter's value (percent-decoded); `fallback` when absent.
    std::string Param(const std::string& name, const std::string& fallback = "") const;
    // The parameter as a non-negative integer; `fallback` when absent or not a
    // number.
    uint64_t ParamNumber(const std::string& name, uint64_t fallback) const;
    bool HasParam(const std::string& name) const;
    // Whether the connection may stay open after the answer.
    bool KeepAlive() const;

    std::string mMethod;
    std::string mTarget;  // as on the request line: path and query
    std::string mPath;    // without the query
    std::string mQuery;   // without the "?"
    std::string mVersion; // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> mHeaders;
    std::map<std::string, std::string> mParams;
    std::string mHead; // the head's raw bytes, as received
    std::string mBody;
};

std::string PercentDecode(const std::string& text);
// Standard Base64 (with padding). Decoding skips nothing: any character
// outside the alphabet makes it fail (false).
std::string Base64Encode(const std::string& data);
bool Base64Decode(const std::string& text, std::string* out);
std::string ToLower(std::string text);

} // namespace camsim
