#include "os/inet/WinInetUrl.h"

#include <curl/curl.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

thread_local DWORD tLastError = 0;

BOOL Fail(DWORD error) {
    tLastError = error;
    return FALSE;
}

struct CurlUrlDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlUrlPtr = std::unique_ptr<CURLU, CurlUrlDeleter>;

bool IsSchemeChar(char c, bool first) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    if (first)
        return false;
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string DecodeEscapes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int high = HexValue(text[i + 1]);
            int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

// What the authority between "//" and the path says, checked before libcurl
// sees the URL because libcurl is more forgiving than WinINet about it.
struct Authority {
    bool hasPort = false;
    INTERNET_PORT port = 0;
};

DWORD CheckAuthority(const std::string& url, size_t start, bool hostMayBeEmpty, Authority* out) {
    size_t end = url.find_first_of("/?#", start);
    if (end == std::string::npos)
        end = url.size();
    size_t hostStart = start;
    for (size_t i = start; i < end; ++i) {
        if (url[i] == '@')
            hostStart = i + 1;
    }

    size_t hostEnd;
    size_t portStart;
    if (hostStart < end && url[hostStart] == '[') {
        size_t close = url.find(']', hostStart);
        if (close == std::string::npos || close >= end)
            return ERROR_INTERNET_INVALID_URL;
        hostEnd = close + 1;
        if (hostEnd < end && url[hostEnd] != ':')
            return ERROR_INTERNET_INVALID_URL;
        portStart = hostEnd < end ? hostEnd + 1 : end;
    } else {
        size_t colon = url.find(':', hostStart);
        hostEnd = (colon == std::string::npos || colon >= end) ? end : colon;
        portStart = hostEnd < end ? hostEnd + 1 : end;
    }
    if (hostEnd == hostStart && !hostMayBeEmpty)
        return ERROR_INTERNET_INVALID_URL;

    if (portStart >= end)
        return 0;
    uint32_t port = 0;
    for (size_t i = portStart; i < end; ++i) {
        char c = url[i];
        if (c < '0' || c > '9')
            return ERROR_INTERNET_INVALID_URL;
        port = port * 10 + static_cast<uint32_t>(c - '0');
        if (port > 65535)
            return ERROR_INTERNET_INVALID_URL;
    }
    if (port == 0)
        return ERROR_INTERNET_INVALID_URL;
    out->hasPort = true;
    out->port = static_cast<INTERNET_PORT>(port);
    return 0;
}

// Empty when the part is absent; libcurl's "no such part" and "empty part"
// both mean there is nothing to copy.
bool GetPart(CURLU* handle, CURLUPart part, std::string* out) {
    char* text = nullptr;
    CURLUcode rc = curl_url_get(handle, part, &text, 0);
    if (rc != CURLUE_OK) {
        out->clear();
        return false;
    }
    out->assign(text);
    curl_free(text);
    return true;
}

INTERNET_SCHEME SchemeNumber(const std::string& scheme) {
    struct Known {
        const char* name;
        INTERNET_SCHEME number;
    };
    static const Known kKnown[] = {
        {"ftp", INTERNET_SCHEME_FTP},
        {"gopher", INTERNET_SCHEME_GOPHER},
        {"http", INTERNET_SCHEME_HTTP},
        {"https", INTERNET_SCHEME_HTTPS},
        {"file", INTERNET_SCHEME_FILE},
        {"news", INTERNET_SCHEME_NEWS},
        {"mailto", INTERNET_SCHEME_MAILTO},
        {"socks", INTERNET_SCHEME_SOCKS},
        {"javascript", INTERNET_SCHEME_JAVASCRIPT},
        {"vbscript", INTERNET_SCHEME_VBSCRIPT},
        {"res", INTERNET_SCHEME_RES},
    };
    for (const Known& known : kKnown) {
        if (scheme == known.name)
            return known.number;
    }
    return INTERNET_SCHEME_UNKNOWN;
}

INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme) {
    switch (scheme) {
    case INTERNET_SCHEME_HTTP:
        return INTERNET_DEFAULT_HTTP_PORT;
    case INTERNET_SCHEME_HTTPS:
        return INTERNET_DEFAULT_HTTPS_PORT;
    case INTERNET_SCHEME_FTP:
        return INTERNET_DEFAULT_FTP_PORT;
    case INTERNET_SCHEME_GOPHER:
        return INTERNET_DEFAULT_GOPHER_PORT;
    default:
        return INTERNET_INVALID_PORT_NUMBER;
    }
}

struct Component {
    char* buffer;
    DWORD* length;
    const std::string* text;
};

bool Wanted(const Component& component) {
    return component.buffer != nullptr && *component.length != 0;
}

} // namespace

BOOL InternetCrackUrlA(const char* url, DWORD urlLength, DWORD flags, URL_COMPONENTSA* components) {
    tLastError = 0;
    if (url == nullptr || components == nullptr || components->dwStructSize != sizeof(URL_COMPONENTSA))
        return Fail(ERROR_INVALID_PARAMETER);
    const std::pair<char*, DWORD> requested[] = {
        {components->lpszScheme, components->dwSchemeLength},
        {components->lpszHostName, components->dwHostNameLength},
        {components->lpszUserName, components->dwUserNameLength},
        {components->lpszPassword, components->dwPasswordLength},
        {components->lpszUrlPath, components->dwUrlPathLength},
        {components->lpszExtraInfo, components->dwExtraInfoLength},
    };
    for (const auto& request : requested) {
        if (request.first == nullptr && request.second != 0)
            return Fail(ERROR_INVALID_PARAMETER);
    }

    std::string text = urlLength == 0 ? std::string(url) : std::string(url, urlLength);
    if (text.empty() || text.find('\0') != std::string::npos)
        return Fail(ERROR_INTERNET_INVALID_URL);

    size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0)
        return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    for (size_t i = 0; i < colon; ++i) {
        if (!IsSchemeChar(text[i], i == 0))
            return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    }
    if (text.compare(colon + 1, 2, "//") != 0)
        return Fail(ERROR_INTERNET_INVALID_URL);

    std::string schemeWritten = text.substr(0, colon);
    for (char& c : schemeWritten)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    Authority authority;
    if (DWORD error = CheckAuthority(text, colon + 3, schemeWritten == "file", &authority))
        return Fail(error);

    CurlUrlPtr handle(curl_url());
    if (!handle)
        return Fail(ERROR_INTERNET_INVALID_URL);
    const unsigned int setFlags = CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS | CURLU_ALLOW_SPACE;
    if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), setFlags) != CURLUE_OK)
        return Fail(ERROR_INTERNET_INVALID_URL);

    std::string scheme, host, user, password, path, query, fragment;
    GetPart(handle.get(), CURLUPART_SCHEME, &scheme);
    GetPart(handle.get(), CURLUPART_HOST, &host);
    GetPart(handle.get(), CURLUPART_USER, &user);
    GetPart(handle.get(), CURLUPART_PASSWORD, &password);
    GetPart(handle.get(), CURLUPART_PATH, &path);
    bool hasQuery = GetPart(handle.get(), CURLUPART_QUERY, &query);
    bool hasFragment = GetPart(handle.get(), CURLUPART_FRAGMENT, &fragment);
    std::string extra;
    if (hasQuery)
        extra += "?" + query;
    if (hasFragment)
        extra += "#" + fragment;
    if (flags & (ICU_DECODE | ICU_ESCAPE)) {
        user = DecodeEscapes(user);
        password = DecodeEscapes(password);
        path = DecodeEscapes(path);
        extra = DecodeEscapes(extra);
    }

    const Component out[] = {
        {components->lpszScheme, &components->dwSchemeLength, &scheme},
        {components->lpszHostName, &components->dwHostNameLength, &host},
        {components->lpszUserName, &components->dwUserNameLength, &user},
        {components->lpszPassword, &components->dwPasswordLength, &password},
        {components->lpszUrlPath, &components->dwUrlPathLength, &path},
        {components->lpszExtraInfo, &components->dwExtraInfoLength, &extra},
    };
    for (const Component& component : out) {
        if (Wanted(component) && component.text->size() + 1 > *component.length)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    for (const Component& component : out) {
        if (!Wanted(component))
            continue;
        std::memcpy(component.buffer, component.text->c_str(), component.text->size() + 1);
        *component.length = static_cast<DWORD>(component.text->size());
    }
    components->nScheme = SchemeNumber(scheme);
    components->nPort = authority.hasPort ? authority.port : DefaultPort(components->nScheme);
    return TRUE;
}

namespace os {

namespace {

bool MustEscape(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}#", c) != nullptr;
}

// "scheme://" at the start: the absolute form of a target.
bool IsAbsoluteForm(std::string_view target) {
    size_t i = 0;
    while (i < target.size() && IsSchemeChar(target[i], i == 0))
        ++i;
    return i > 0 && target.substr(i, 3) == "://";
}

} // namespace

std::string EscapeRequestTarget(std::string_view target, TargetText text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size() + 8);
    if (target.empty() || (target[0] != '/' && !(text == TargetText::WireForm && IsAbsoluteForm(target))))
        out.push_back('/');
    for (size_t i = 0; i < target.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(target[i]);
        const bool escapeAlready = c == '%' && text == TargetText::WireForm && i + 2 < target.size() &&
                                   HexValue(target[i + 1]) >= 0 && HexValue(target[i + 2]) >= 0;
        if (MustEscape(c) || (c == '%' && !escapeAlready)) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string BracketHostLiteral(std::string_view host) {
    if (host.find(':') == std::string_view::npos || (!host.empty() && host.front() == '['))
        return std::string(host);
    std::string out;
    out.reserve(host.size() + 2);
    out += '[';
    out += host;
    out += ']';
    return out;
}

DWORD LastCrackUrlError() {
    return tLastError;
}
} // namespace os
