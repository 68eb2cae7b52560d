#include "net/CSocketAddress.h"

#include "platform/CStrUtil.h"

#include <cstring>

CSocketAddress::CSocketAddress() {
    std::memset(&mAddress, 0, sizeof(mAddress));
    mAddress.sin_family = AF_INET;
}

void CSocketAddress::SetHost(const std::string& host) {
    if (media_util::CStrUtil::IsIPv4(host)) {
        mAddress.sin_addr.s_addr = inet_addr(host.c_str());
        return;
    }
    in_addr resolved;
    if (winsock::ResolveIPv4(host.c_str(), &resolved))
        mAddress.sin_addr = resolved;
}

void CSocketAddress::SetPort(uint16_t port) {
    mAddress.sin_port = htons(port);
}
