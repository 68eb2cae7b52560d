#include "net/CSocketAddress.h"

#include "platform/CStrUtil.h"

#include <cstring>

CSocketAddress::CSocketAddress() {
    std::memset(&mAddress, 0, sizeof(mAddress));
    mAddress.v4.sin_family = AF_INET;
}

void CSocketAddress::SetHost(const std::string& host) {
    const uint16_t port = GetPort();
    if (media_util::CStrUtil::IsIPv4(host)) {
        std::memset(&mAddress, 0, sizeof(mAddress));
        mAddress.v4.sin_family = AF_INET;
        mAddress.v4.sin_port = port;
        mAddress.v4.sin_addr.s_addr = inet_addr(host.c_str());
        return;
    }
    const bool bracketed = !host.empty() && host.front() == '[';
    if (bracketed || host.find(':') != std::string::npos) {
        // "[::1]" is how a URL carries the literal, and so how CUrl hands
        // the host over; callers that compose addresses may give it bare.
        if (bracketed && (host.size() < 2 || host.back() != ']'))
            return;
        const std::string literal = bracketed ? host.substr(1, host.size() - 2) : host;
        in6_addr parsed;
        if (inet_pton(AF_INET6, literal.c_str(), &parsed) != 1)
            return;
        std::memset(&mAddress, 0, sizeof(mAddress));
        mAddress.v6.sin6_family = AF_INET6;
        mAddress.v6.sin6_port = port;
        mAddress.v6.sin6_addr = parsed;
        return;
    }
    sockaddr_storage resolved;
    if (!winsock::ResolveHost(host.c_str(), &resolved))
        return;
    std::memset(&mAddress, 0, sizeof(mAddress));
    if (resolved.ss_family == AF_INET) {
        std::memcpy(&mAddress.v4, &resolved, sizeof(mAddress.v4));
        mAddress.v4.sin_port = port;
    } else {
        std::memcpy(&mAddress.v6, &resolved, sizeof(mAddress.v6));
        mAddress.v6.sin6_port = port;
    }
}

void CSocketAddress::SetPort(uint16_t port) {
    if (GetFamily() == AF_INET)
        mAddress.v4.sin_port = htons(port);
    else
        mAddress.v6.sin6_port = htons(port);
}

int CSocketAddress::Size() const {
    return GetFamily() == AF_INET ? static_cast<int>(sizeof(sockaddr_in))
                                  : static_cast<int>(sizeof(sockaddr_in6));
}

std::string CSocketAddress::ToText() const {
    char text[INET6_ADDRSTRLEN] = "";
    if (GetFamily() == AF_INET)
        inet_ntop(AF_INET, &mAddress.v4.sin_addr, text, sizeof(text));
    else
        inet_ntop(AF_INET6, &mAddress.v6.sin6_addr, text, sizeof(text));
    return text;
}
