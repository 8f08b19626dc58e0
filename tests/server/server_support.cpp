#include "tests/server/server_support.h"

#include "platform/errors.h"

namespace jov::testing {

AppServer::AppServer(const std::vector<std::string>& args, const std::string& stderr_path,
                     const std::vector<std::string>& env)
    : process_(
          [&] {
            std::vector<std::string> argv = {JOV_BIN_DIR "/jov-appserver", "--bind", "127.0.0.1",
                                             "--port", "0"};
            argv.insert(argv.end(), args.begin(), args.end());
            return argv;
          }(),
          env, stderr_path) {
  const std::optional<std::string> line = process_.FirstLine(10s);
  const std::string prefix = "listening on 127.0.0.1:";
  if (line && line->rfind(prefix, 0) == 0) port_ = std::stoi(line->substr(prefix.size()));
}

}  // namespace jov::testing
