#include "tests/server/server_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

int ConnectedFrom(int port, const std::string& from) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in source{};
  source.sin_family = AF_INET;
  ::inet_pton(AF_INET, from.c_str(), &source.sin_addr);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    return fd;
  }
  ::close(fd);
  return -1;
}

}  // namespace jov::testing
