// The parsed form of every URL the viewer requests.
//
// URLs are composed as text (device address, stream URLs, parameter CGIs) and
// cracked here once; the HTTP link then connects to mHostName:mPort and sends
// a GET for mRequestPath. Escapes are decoded while cracking, so mRequestPath
// is text ("?name=a%20b" holds "?name=a b"); both HTTP clients escape it again
// on the request line (os::EscapeRequestTarget, docs/http.md).
//
// Threads: Crack and CopyTo hold the object's own lock, so one thread may copy
// a URL that another is re-cracking. Plain field access is not locked; callers
// that rewrite mRequestPath (the JPEG poller does, per channel) own the object.
#pragma once

#include "platform/CCritSection.h"

#include <cstdint>
#include <string>

class CUrl {
public:
    // Each text component is cracked into a buffer of this many bytes, the
    // terminating NUL included: a component of more than kComponentBufferSize - 1
    // characters makes Crack fail.
    static constexpr uint32_t kComponentBufferSize = 1024;
    static constexpr uint32_t kComponentCount = 6;

    CUrl() = default;
    virtual ~CUrl() = default;
    CUrl(const CUrl&) = delete;
    CUrl& operator=(const CUrl&) = delete;

    // Parses url (scheme://[user[:password]@]host[:port][/path][?query]); see
    // os/inet/WinInetUrl.h for the exact rules. Returns the parse result,
    // non-zero on success. An empty or null url sets the parse result to 0 and
    // touches nothing else; any other failure also leaves every text field and
    // the port as they were.
    int Crack(const char* url);
    int Crack(const std::string& url) { return Crack(url.c_str()); }

    // Copies the seven strings, the port and the parse result into target
    // under this object's lock. A null target is ignored; so is this object.
    void CopyTo(CUrl* target);

    std::string mHostName;
    std::string mUserName;
    std::string mPassword;
    std::string mUrlPath;     // "/vb.htm"
    std::string mExtraInfo;   // "?getmachinecode", with its "?"
    std::string mScheme;      // "http"
    std::string mRequestPath; // mUrlPath + mExtraInfo: what a GET asks for
    uint16_t mPort = 0;       // the URL's port or the scheme's default; 0 before a crack
    int mParseResult = 0;     // result of the last Crack, 0 = failed

private:
    media_util::CCritSection mLock; // guards Crack and CopyTo
};
