// The resources every camsim instance serves, whatever device it plays: small
// static and generated answers that exercise an HTTP client's framing,
// redirects, authentication and time-outs.
//
// Generated bodies follow one pattern so that a client can check every byte:
// byte i of the body is i mod 251 (a prime, so that no power-of-two buffer
// or chunk size lines up with the pattern's period).
#pragma once

#include <cstdint>
#include <string>

namespace camsim {

class Router;

class CoreResources {
public:
    // Upper bound of a generated body (/bytes, /chunked, /trickle, /nolength).
    static constexpr uint64_t kMaxGeneratedBytes = 16ull * 1024 * 1024 * 1024;
    // Upper bound of /bigheader's header line.
    static constexpr uint64_t kMaxHeaderLine = 1024 * 1024;
    static constexpr uint64_t kMaxRedirects = 1000;
    // How long "/camsim/control?until=N" waits when it names no timeout.
    static constexpr uint64_t kDefaultWaitMs = 5000;

    static void Register(Router& router);
    static char PatternByte(uint64_t index) { return static_cast<char>(index % 251); }
    // Usage lines for --help.
    static const char* Help();
};

} // namespace camsim
