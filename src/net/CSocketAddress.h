// An IPv4 address and port in the form connect takes (a 16-byte
// sockaddr_in), filled from a host string.
#pragma once

#include "os/socket/Winsock.h"

#include <string>

class CSocketAddress {
public:
    // Zeroes all 16 bytes and sets the family: address 0.0.0.0, port 0.
    CSocketAddress();
    virtual ~CSocketAddress() = default;

    // A dotted IPv4 address is taken as it is; any other text is resolved
    // (the first IPv4 address of the name). When resolution fails the
    // address stays as it was (0.0.0.0 for a fresh object) and the following
    // connect fails: no error is reported here.
    void SetHost(const std::string& host);
    void SetPort(uint16_t port);

    const sockaddr* Data() const { return reinterpret_cast<const sockaddr*>(&mAddress); }
    int Size() const { return static_cast<int>(sizeof(mAddress)); }
    // Address and port in network byte order.
    uint32_t GetAddress() const { return mAddress.sin_addr.s_addr; }
    uint16_t GetPort() const { return mAddress.sin_port; }

private:
    sockaddr_in mAddress;
};
static_assert(sizeof(sockaddr_in) == 16, "connect takes a 16-byte IPv4 address");
