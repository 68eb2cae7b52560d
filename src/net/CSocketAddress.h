// A device's address and port in the form connect takes, filled from a host
// string: an IPv4 sockaddr_in (16 bytes) or an IPv6 sockaddr_in6 (28 bytes).
//
// The wrapper was IPv4-only (one sockaddr_in, names resolved to their first
// IPv4 address); it is widened so that a device given as "[::1]" or "::1", or
// by a name that has only an IPv6 address, is reached over IPv6. Everything
// that resolved to IPv4 before still does, to the same address: IPv4 is
// preferred whenever a name has both (docs/http.md, "Device addresses").
#pragma once

#include "os/socket/Winsock.h"

#include <string>

class CSocketAddress {
public:
    // Zeroes the address and sets the family to IPv4: address 0.0.0.0, port 0.
    CSocketAddress();
    virtual ~CSocketAddress() = default;

    // - A dotted IPv4 address is taken as it is (inet_addr).
    // - An IPv6 literal, bare ("::1") or in the brackets a URL writes it in
    //   ("[::1]", as CUrl yields the host), is taken as it is. Any text with a
    //   ':' or in brackets is read as one: host names have neither, so such
    //   text never goes to name resolution. Zone suffixes ("fe80::1%eth0") are
    //   not taken.
    // - Any other text is resolved: the name's first IPv4 address, or its
    //   first IPv6 address when it has no IPv4 one (winsock::ResolveHost).
    // When the text is no valid literal or resolution fails the address stays
    // as it was (0.0.0.0 for a fresh object) and the following connect fails:
    // no error is reported here. The port is kept across a change of family.
    void SetHost(const std::string& host);
    void SetPort(uint16_t port);

    const sockaddr* Data() const { return &mAddress.any; }
    // 16 for an IPv4 address, 28 for an IPv6 one.
    int Size() const;
    // AF_INET or AF_INET6: the family of the socket that connects to it.
    int GetFamily() const { return mAddress.any.sa_family; }
    // The IPv4 address in network byte order; 0 for an IPv6 address.
    uint32_t GetAddress() const { return GetFamily() == AF_INET ? mAddress.v4.sin_addr.s_addr : 0; }
    // The port in network byte order.
    uint16_t GetPort() const { return GetFamily() == AF_INET ? mAddress.v4.sin_port : mAddress.v6.sin6_port; }
    // The address as numeric text without port or brackets ("127.0.0.1",
    // "::1"), for traces and tests.
    std::string ToText() const;

private:
    union {
        sockaddr any;
        sockaddr_in v4;
        sockaddr_in6 v6;
    } mAddress;
};
static_assert(sizeof(sockaddr_in) == 16, "connect takes a 16-byte IPv4 address");
static_assert(sizeof(sockaddr_in6) == 28, "connect takes a 28-byte IPv6 address");
