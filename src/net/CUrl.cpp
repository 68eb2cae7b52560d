#include "net/CUrl.h"

#include "os/inet/WinInetUrl.h"
#include "platform/CLockWrap.h"

#include <memory>

int CUrl::Crack(const char* url) {
    media_util::CLockWrap lock(mLock);
    if (url == nullptr || url[0] == '\0') {
        mParseResult = 0;
        return 0;
    }

    // One block for the six buffers, as the components are cracked side by side.
    std::unique_ptr<char[]> block(new char[kComponentBufferSize * kComponentCount]);
    char* scheme = block.get();
    char* host = scheme + kComponentBufferSize;
    char* user = host + kComponentBufferSize;
    char* password = user + kComponentBufferSize;
    char* path = password + kComponentBufferSize;
    char* extra = path + kComponentBufferSize;

    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszScheme = scheme;
    parts.dwSchemeLength = kComponentBufferSize;
    parts.lpszHostName = host;
    parts.dwHostNameLength = kComponentBufferSize;
    parts.lpszUserName = user;
    parts.dwUserNameLength = kComponentBufferSize;
    parts.lpszPassword = password;
    parts.dwPasswordLength = kComponentBufferSize;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = kComponentBufferSize;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = kComponentBufferSize;

    mParseResult = InternetCrackUrlA(url, 0, ICU_DECODE | ICU_ESCAPE, &parts);
    if (mParseResult == 0)
        return 0;

    mPort = parts.nPort;
    // Read as C strings: an escaped NUL ends the component, as it would for
    // every caller that hands these texts on.
    mHostName = host;
    mUserName = user;
    mPassword = password;
    mUrlPath = path;
    mExtraInfo = extra;
    mScheme = scheme;
    mRequestPath = mUrlPath + mExtraInfo;
    return mParseResult;
}

void CUrl::CopyTo(CUrl* target) {
    if (target == nullptr || target == this)
        return;
    media_util::CLockWrap lock(mLock);
    target->mHostName = mHostName;
    target->mUserName = mUserName;
    target->mPassword = mPassword;
    target->mUrlPath = mUrlPath;
    target->mExtraInfo = mExtraInfo;
    target->mScheme = mScheme;
    target->mRequestPath = mRequestPath;
    target->mPort = mPort;
    target->mParseResult = mParseResult;
}
