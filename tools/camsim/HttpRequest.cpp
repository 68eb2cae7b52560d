#include "HttpRequest.h"

#include "Decimal.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace camsim {

namespace {

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.substr(begin, end - begin);
}

} // namespace

std::string ToLower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string PercentDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = HexDigitValue(text[i + 1]);
            int lo = HexDigitValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i] == '+' ? ' ' : text[i]);
    }
    return out;
}

HttpRequest::ParseResult HttpRequest::ParseHead(const std::string& head) {
    mHead = head;
    size_t lineEnd = head.find("\r\n");
    if (lineEnd == std::string::npos)
        return ParseResult::Malformed;
    std::string requestLine = head.substr(0, lineEnd);
    size_t sp1 = requestLine.find(' ');
    size_t sp2 = requestLine.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1)
        return ParseResult::Malformed;
    mMethod = requestLine.substr(0, sp1);
    mTarget = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    mVersion = requestLine.substr(sp2 + 1);
    if (mMethod.empty() || mTarget.empty() || mVersion.rfind("HTTP/1.", 0) != 0)
        return ParseResult::Malformed;
    size_t q = mTarget.find('?');
    mPath = mTarget.substr(0, q);
    mQuery = q == std::string::npos ? std::string() : mTarget.substr(q + 1);
    size_t pos = lineEnd + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos)
            return ParseResult::Malformed;
        if (end == pos)
            break;
        std::string line = head.substr(pos, end - pos);
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            return ParseResult::Malformed;
        mHeaders.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
        pos = end + 2;
    }
    size_t start = 0;
    while (start <= mQuery.size() && !mQuery.empty()) {
        size_t amp = mQuery.find('&', start);
        std::string pair = mQuery.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
        if (!pair.empty()) {
            size_t eq = pair.find('=');
            if (eq == std::string::npos)
                mParams[PercentDecode(pair)] = "";
            else
                mParams[PercentDecode(pair.substr(0, eq))] = PercentDecode(pair.substr(eq + 1));
        }
        if (amp == std::string::npos)
            break;
        start = amp + 1;
    }
    return ParseResult::Ok;
}

std::string HttpRequest::Header(const std::string& name) const {
    std::string lower = ToLower(name);
    for (const auto& h : mHeaders)
        if (ToLower(h.first) == lower)
            return h.second;
    return std::string();
}

bool HttpRequest::HasHeader(const std::string& name) const {
    std::string lower = ToLower(name);
    for (const auto& h : mHeaders)
        if (ToLower(h.first) == lower)
            return true;
    return false;
}

std::string HttpRequest::Param(const std::string& name, const std::string& fallback) const {
    auto it = mParams.find(name);
    return it == mParams.end() ? fallback : it->second;
}

uint64_t HttpRequest::ParamNumber(const std::string& name, uint64_t fallback) const {
    auto it = mParams.find(name);
    uint64_t value = 0;
    if (it == mParams.end() || !ParseDecimal(it->second, UINT64_MAX, &value))
        return fallback;
    return value;
}

bool HttpRequest::HasParam(const std::string& name) const {
    return mParams.count(name) != 0;
}

bool HttpRequest::KeepAlive() const {
    std::string connection = ToLower(Header("Connection"));
    if (mVersion == "HTTP/1.0")
        return connection == "keep-alive";
    return connection != "close";
}

static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(const std::string& data) {
    std::string out;
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        uint32_t v = (static_cast<uint8_t>(data[i]) << 16) | (static_cast<uint8_t>(data[i + 1]) << 8) |
                     static_cast<uint8_t>(data[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i + 1 == data.size()) {
        uint32_t v = static_cast<uint8_t>(data[i]) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == data.size()) {
        uint32_t v = (static_cast<uint8_t>(data[i]) << 16) | (static_cast<uint8_t>(data[i + 1]) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

bool Base64Decode(const std::string& text, std::string* out) {
    out->clear();
    if (text.size() % 4 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t v = 0;
        int pad = 0;
        for (size_t k = 0; k < 4; ++k) {
            char c = text[i + k];
            int d;
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                d = 0;
                ++pad;
            } else {
                if (pad > 0)
                    return false;
                const char* p = c ? std::strchr(kAlphabet, c) : nullptr;
                if (!p)
                    return false;
                d = static_cast<int>(p - kAlphabet);
            }
            v = (v << 6) | static_cast<uint32_t>(d);
        }
        out->push_back(static_cast<char>((v >> 16) & 0xFF));
        if (pad < 2)
            out->push_back(static_cast<char>((v >> 8) & 0xFF));
        if (pad < 1)
            out->push_back(static_cast<char>(v & 0xFF));
    }
    return true;
}

} // namespace camsim
