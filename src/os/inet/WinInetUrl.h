// URL cracking as WinINet's InternetCrackUrlA does it, for the viewer's CUrl.
//
// The real work is done by libcurl's URL API (curl_url); this layer adds what
// WinINet's callers rely on and libcurl does differently: a URL must name its
// host after "scheme://" (libcurl would read "http:///x" as host "x"), each
// component is copied into the caller's own buffer and fails the call when it
// does not fit, escapes are decoded on request, and the port comes back as the
// scheme's default when the URL gives none.
//
// Rules of InternetCrackUrlA here, in the order they are checked; a failing
// rule returns FALSE, leaves the caller's buffers and lengths untouched and
// sets os::LastCrackUrlError():
//   1. components null or its dwStructSize not sizeof(URL_COMPONENTSA), url
//      null, or a component with a null pointer but a non-zero length (WinINet
//      would then point into the URL; nothing here asks for that):
//      ERROR_INVALID_PARAMETER.
//   2. urlLength 0 means url is NUL-terminated; otherwise exactly urlLength
//      bytes are read. An empty URL, or one holding a NUL byte within its
//      length: ERROR_INTERNET_INVALID_URL.
//   3. No scheme (no "name:" in front, as in a bare "10.0.0.5" or "/x"):
//      ERROR_INTERNET_UNRECOGNIZED_SCHEME.
//   4. The scheme is not followed by "//", or the authority has no host
//      ("http:///x", "http://:80/", "http://user@/"): ERROR_INTERNET_INVALID_URL.
//      Only "file:" may have an empty host.
//   5. A port that is not a decimal number from 1 to 65535 ("http://h:0/",
//      "http://h:99999/", "http://h:x/"): ERROR_INTERNET_INVALID_URL. An empty
//      port ("http://h:/") is no port.
//   6. Whatever libcurl rejects (control characters, a malformed IPv6 literal,
//      a host with characters no host name has): ERROR_INTERNET_INVALID_URL.
//   7. A wanted component (non-null pointer, non-zero length) whose text and
//      terminating NUL do not fit in its buffer: ERROR_INSUFFICIENT_BUFFER. A
//      1024-byte buffer thus holds at most 1023 characters.
//
// What a successful call gives:
//   - Each wanted component is copied NUL-terminated into its buffer and its
//     length becomes the text's length without the NUL. A component with
//     length 0 on entry is not wanted and not touched.
//   - Scheme: lower case as libcurl gives it ("HTTP://h" -> "http"); nScheme
//     from it (INTERNET_SCHEME_UNKNOWN for a scheme WinINet has no number for).
//   - Host: as written, an IPv6 literal with its brackets ("[::1]"); libcurl
//     writes numeric IPv4 shorthands in dotted form ("127.1" -> "127.0.0.1").
//   - nPort: the URL's port, or the scheme's default (80 http, 443 https,
//     21 ftp, 70 gopher; 0 for other schemes).
//   - URL path: as written ("." and ".." are kept); "/" when the URL has none,
//     since an HTTP request line cannot carry an empty target.
//   - Extra information: the query with its leading "?" and any fragment with
//     its "#", as written ("?a=1#top"); empty when there is neither.
//   - With ICU_DECODE or ICU_ESCAPE every "%" followed by two hexadecimal digits
//     in user name, password, URL path and extra information becomes the byte it
//     names; any other "%" stays as it is. "+" is not a space. An escape for a
//     NUL byte ends the text that a caller reading it as a C string sees.
//
// Thread safety: the call keeps no state between calls except the thread's
// own last error, so any thread may call it at any time.
#pragma once

#include "os/kernel/Kernel.h"

#include <string>
#include <string_view>

using INTERNET_PORT = WORD;

enum INTERNET_SCHEME : int32_t {
    INTERNET_SCHEME_PARTIAL = -2,
    INTERNET_SCHEME_UNKNOWN = -1,
    INTERNET_SCHEME_DEFAULT = 0,
    INTERNET_SCHEME_FTP = 1,
    INTERNET_SCHEME_GOPHER = 2,
    INTERNET_SCHEME_HTTP = 3,
    INTERNET_SCHEME_HTTPS = 4,
    INTERNET_SCHEME_FILE = 5,
    INTERNET_SCHEME_NEWS = 6,
    INTERNET_SCHEME_MAILTO = 7,
    INTERNET_SCHEME_SOCKS = 8,
    INTERNET_SCHEME_JAVASCRIPT = 9,
    INTERNET_SCHEME_VBSCRIPT = 10,
    INTERNET_SCHEME_RES = 11,
};

constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;
constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
constexpr INTERNET_PORT INTERNET_DEFAULT_GOPHER_PORT = 70;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

// Both flags decode escapes when cracking; WinINet names them for their
// meaning when composing URLs, where they differ.
constexpr DWORD ICU_ESCAPE = 0x80000000u;
constexpr DWORD ICU_DECODE = 0x10000000u;

// Failure reasons, with WinINet's numbers.
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;

// The layout of WinINet's structure. On 32-bit Windows it is 60 bytes; here
// pointers are 8 bytes, so callers set dwStructSize = sizeof(URL_COMPONENTSA).
struct URL_COMPONENTSA {
    DWORD dwStructSize;
    char* lpszScheme;
    DWORD dwSchemeLength;
    INTERNET_SCHEME nScheme;
    char* lpszHostName;
    DWORD dwHostNameLength;
    INTERNET_PORT nPort;
    char* lpszUserName;
    DWORD dwUserNameLength;
    char* lpszPassword;
    DWORD dwPasswordLength;
    char* lpszUrlPath;
    DWORD dwUrlPathLength;
    char* lpszExtraInfo;
    DWORD dwExtraInfoLength;
};

// Splits url into components (see the rules above). TRUE on success.
BOOL InternetCrackUrlA(const char* url, DWORD urlLength, DWORD flags, URL_COMPONENTSA* components);

namespace os {
// What the text handed to EscapeRequestTarget is.
enum class TargetText {
    // Decoded text: the path and query of a cracked URL (cracking decodes
    // escapes) or a CGI query composed from values. Every "%" in it is a
    // percent sign of its own and goes out as "%25", so a decoded "100%" or
    // "%zz" never reaches the wire as a broken escape and "%41" is not read
    // back as "A".
    Decoded,
    // Wire form: a Location a device sent. A "%" followed by two hexadecimal
    // digits is an escape and stays; any other "%" goes out as "%25". An
    // absolute URL ("http://host/x") is kept as the absolute-form target.
    WireForm,
};

// The request target as both HTTP clients put it on the request line, so that
// both transports send the same, well-formed line for the same path:
// - every byte that cannot stand on a request line becomes "%" and two
//   upper-case hexadecimal digits: controls and space (0x00 to 0x20, CR and LF
//   among them, so no path can add a header line), DEL and every byte from
//   0x80, and " < > \ ^ ` { | } #;
// - "%" as `text` says;
// - everything else goes out as it is, the reserved "/ ? & = ; + :" included,
//   so a query keeps its structure;
// - a target that does not begin with "/" gets one in front ("" becomes "/"),
//   except an absolute URL in wire form.
std::string EscapeRequestTarget(std::string_view target, TargetText text = TargetText::Decoded);

// A host as it stands in a URL's authority and in a Host header: an IPv6
// literal in brackets. A host with a ':' that is not bracketed yet is one
// ("::1" -> "[::1]"); everything else, "[::1]" as CUrl yields it included, is
// returned as it is. Both HTTP clients use it, so a device given by its bare
// IPv6 address gets the same valid Host on either transport.
std::string BracketHostLiteral(std::string_view host);

// The reason the calling thread's last failed InternetCrackUrlA gave (one of
// the ERROR_ codes above); 0 after a successful call. WinINet reports it
// through GetLastError, which this layer does not have.
DWORD LastCrackUrlError();
} // namespace os
