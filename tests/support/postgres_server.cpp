#include "tests/support/postgres_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace jov::testing {
namespace {

namespace fs = std::filesystem;

std::string FindServerBin() {
  std::string best;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const std::string bin = entry.path().string() + "/bin";
    if (fs::exists(bin + "/initdb") && bin > best) best = bin;
  }
  return best;
}

// PostgreSQL refuses to run as root: run its programs as the postgres user then.
std::string AsServerUser(const std::string& command) {
  if (geteuid() != 0) return command;
  return "runuser -u postgres -- " + command;
}

void Run(const std::string& command, const std::string& log) {
  if (std::system((command + " >>" + log + " 2>&1").c_str()) != 0) {
    throw std::runtime_error("PostgreSQL command failed: " + command + "\n" + TempDir::Read(log));
  }
}

}  // namespace

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool PostgresServer::Available() { return !FindServerBin().empty(); }

PostgresServer::PostgresServer() : port_(FreeLoopbackPort()), bin_(FindServerBin()) {
  if (bin_.empty()) throw std::runtime_error("no PostgreSQL server installed");
  const std::string data = dir_.path() + "/data";
  const std::string log = dir_.path() + "/server.log";
  fs::permissions(dir_.path(), fs::perms::all);
  if (geteuid() == 0) {
    Run("chown postgres " + dir_.path(), log);
  }
  Run(AsServerUser(bin_ + "/initdb -D " + data + " -A trust -U postgres -E UTF8 --no-sync"), log);
  Run(AsServerUser(bin_ + "/pg_ctl -D " + data + " -l " + dir_.path() + "/postgres.log -w -t 30 " +
                   "-o \"-p " + std::to_string(port_) + " -k " + dir_.path() +
                   " -c listen_addresses=127.0.0.1 -c fsync=off\" start"),
      log);
}

PostgresServer::~PostgresServer() {
  const std::string command = AsServerUser(bin_ + "/pg_ctl -D " + dir_.path() +
                                           "/data -m immediate -w -t 30 stop >/dev/null 2>&1");
  [[maybe_unused]] int ignored = std::system(command.c_str());
}

std::string PostgresServer::ConnectionString() const {
  return "Provider=QPSQL;Data Source=127.0.0.1:" + std::to_string(port_) +
         "/postgres;User ID=postgres";
}

}  // namespace jov::testing
