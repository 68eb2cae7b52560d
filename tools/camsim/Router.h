// Maps request paths to handlers. A handler is registered for an exact path
// or for a path prefix; the exact match wins, then the longest prefix.
// Device dialects add their CGIs here.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace camsim {

class HttpRequest;
class HttpConnection;

// Answers one request on the connection. Runs on the connection's thread; it
// may write for as long as it likes (live streams) and should return when
// HttpConnection::Stopping() turns true or a write fails.
using Handler = std::function<void(const HttpRequest&, HttpConnection&)>;

class Router {
public:
    enum class Match { Exact, Prefix };

    // Registration happens before the server starts; lookups are then
    // read-only, so connection threads share the router without a lock.
    void Add(const std::string& path, Match match, Handler handler);
    // The handler for `path`, or null.
    const Handler* Find(const std::string& path) const;

private:
    struct Route {
        std::string path;
        Match match;
        Handler handler;
    };
    std::vector<Route> mRoutes;
};

} // namespace camsim
