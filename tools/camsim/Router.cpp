#include "Router.h"

namespace camsim {

void Router::Add(const std::string& path, Match match, Handler handler) {
    mRoutes.push_back(Route{path, match, std::move(handler)});
}

const Handler* Router::Find(const std::string& path) const {
    const Route* best = nullptr;
    for (const Route& r : mRoutes) {
        if (r.match == Match::Exact) {
            if (r.path == path)
                return &r.handler;
            continue;
        }
        if (path.compare(0, r.path.size(), r.path) == 0 && (!best || r.path.size() > best->path.size()))
            best = &r;
    }
    return best ? &best->handler : nullptr;
}

} // namespace camsim
