// The server's routes: a table from method and path to the handler that answers.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "server/http/message.h"

namespace appserver::http {

using Handler = std::function<Response(const Request&)>;

class Router {
 public:
  // Requests of the method for exactly this path.
  void Exact(const std::string& method, const std::string& path, Handler handler);
  // Requests of the method for any path that begins with prefix; Request::tail holds the rest.
  void Prefix(const std::string& method, const std::string& prefix, Handler handler);

  // The answer of the first route that matches (exact routes first); 404 when none does.
  // Safe from any thread once the routes are set.
  Response Route(Request request) const;

 private:
  struct Route_ {
    std::string method;
    std::string path;
    bool prefix;
    Handler handler;
  };
  std::vector<Route_> routes_;
};

}  // namespace appserver::http
