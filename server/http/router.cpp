#include "server/http/router.h"

#include <utility>

namespace appserver::http {

void Router::Exact(const std::string& method, const std::string& path, Handler handler) {
  routes_.push_back({method, path, false, std::move(handler)});
}

void Router::Prefix(const std::string& method, const std::string& prefix, Handler handler) {
  routes_.push_back({method, prefix, true, std::move(handler)});
}

Response Router::Route(Request request) const {
  for (const bool prefix : {false, true}) {
    for (const Route_& route : routes_) {
      if (route.prefix != prefix || route.method != request.method) continue;
      if (prefix ? request.path.rfind(route.path, 0) == 0 : request.path == route.path) {
        request.tail = request.path.substr(route.path.size());
        return route.handler(request);
      }
    }
  }
  return Response::Text(404, "not found\n");
}

}  // namespace appserver::http
