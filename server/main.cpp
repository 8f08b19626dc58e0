// jov-appserver: the reference application server for registers and tests.
//   jov-appserver --bind 127.0.0.1 --port N --updates DIR [--ask] [--http-settings FILE]
//                 [--source-url URL] [--signing-key KEY] [--fleet-db FILE|CONNECTION]
//                 [--fleet-token FILE] [--workers N]
// Prints "listening on HOST:PORT" as its first line (--port 0 picks a free port), logs one
// line per request to standard error, and stops cleanly on SIGTERM or SIGINT.
//
// The fleet (the registers' "ReportUpdate" reports) is kept in --fleet-db: an SQLite file, or
// a connection string "Provider=QPSQL;Data Source=HOST[:PORT]/DBNAME;User ID=U;Password=P".
// Without it, in "fleet.db" of the state folder ($STATE_DIRECTORY, else
// /var/lib/jov-appserver) when that folder exists; otherwise the server keeps no fleet.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "platform/database_qt.h"
#include "platform/file_text.h"
#include "server/handlers/app_server.h"
#include "server/http/bounded_server.h"
#include "server/fleet/fleet_store.h"

namespace {

int Usage(const char* why) {
  std::fprintf(stderr,
               "jov-appserver: %s\n"
               "usage: jov-appserver --bind HOST --port N --updates DIR [--ask]\n"
               "                     [--http-settings FILE] [--source-url URL]\n"
               "                     [--signing-key KEY] [--fleet-db FILE|CONNECTION]\n"
               "                     [--fleet-token FILE] [--workers N]\n",
               why);
  return 2;
}

bool ParseNumber(const char* text, long low, long high, int& number) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high) return false;
  number = static_cast<int>(value);
  return true;
}

// The token in the file, less the blanks and line ends around it; empty when it cannot be had.
std::string ReadToken(const std::string& path, std::string& why) {
  jov::FileText file = jov::ReadFileText(path, 4096);
  if (file.error != 0 || file.too_large) {
    why = file.error != 0 ? std::strerror(file.error) : "larger than 4 KiB";
    return {};
  }
  const std::string blanks = " \t\r\n";
  const auto first = file.text.find_first_not_of(blanks);
  if (first == std::string::npos) {
    why = "it holds no token";
    return {};
  }
  return file.text.substr(first, file.text.find_last_not_of(blanks) - first + 1);
}

std::string StateFolder() {
  const char* state = std::getenv("STATE_DIRECTORY");  // systemd's StateDirectory=
  if (state != nullptr && *state != '\0')
    return std::string(state).substr(0, std::strcspn(state, ":"));
  return "/var/lib/jov-appserver";
}

// An opening hour opens a connection per register at once; the default soft limit of open
// files (1024) would refuse them.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

void Log(const std::string& line) {
  std::string printable = line;
  for (char& c : printable) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  std::fprintf(stderr, "jov-appserver: %s\n", printable.c_str());
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  // Signals are taken by sigwait in this thread only; every thread started
  // later (the server's, the fleet store's) inherits the mask and never sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Qt SQL loads its drivers only with an application object.
  QCoreApplication application(argc, argv);
  appserver::Options options;
  std::string fleet_db;
  std::string token_file;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--ask") {
      options.ask = true;
    } else if (arg == "--bind" && has_value) {
      options.bind = argv[++i];
    } else if (arg == "--port" && has_value) {
      if (!ParseNumber(argv[++i], 0, 65535, options.port)) return Usage("bad port");
    } else if (arg == "--updates" && has_value) {
      options.updates = argv[++i];
    } else if (arg == "--http-settings" && has_value) {
      options.http_settings = argv[++i];
    } else if (arg == "--source-url" && has_value) {
      options.source_url = argv[++i];
    } else if (arg == "--signing-key" && has_value) {
      options.signing_key = argv[++i];
    } else if (arg == "--fleet-db" && has_value) {
      fleet_db = argv[++i];
      if (fleet_db.empty()) return Usage("--fleet-db is empty");
    } else if (arg == "--fleet-token" && has_value) {
      token_file = argv[++i];
    } else if (arg == "--workers" && has_value) {
      if (!ParseNumber(argv[++i], 1, 4096, options.workers)) return Usage("bad number of workers");
    } else {
      return Usage(("unknown or incomplete option " + arg).c_str());
    }
  }
  if (options.updates.empty()) return Usage("--updates is required");
  if (!token_file.empty()) {
    std::string why;
    options.fleet_token = ReadToken(token_file, why);
    if (options.fleet_token.empty()) {
      Log("cannot take the fleet token from " + token_file + ": " + why);
      return 1;
    }
  }
  RaiseOpenFileLimit();
  std::string fleet_line;
  const bool fleet_asked = !fleet_db.empty();
  if (!fleet_asked) {
    struct stat st {};
    const std::string folder = StateFolder();
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      fleet_db = folder + "/fleet.db";
    } else {
      fleet_line = "fleet: not kept (no --fleet-db and no state folder " + folder + ")";
    }
  }
  if (!fleet_db.empty()) {
    try {
      options.fleet = std::make_shared<appserver::fleet::Store>(
          appserver::fleet::ConnectionString(fleet_db), Log);
    } catch (const std::exception& error) {
      Log("cannot open the fleet store: " + std::string(error.what()));
      // A fleet store asked for must work; the default one only serves when it can, so that
      // a state folder this user cannot write does not keep the registers' calls from being
      // answered.
      if (fleet_asked) return 1;
      fleet_line = "fleet: not kept (" + fleet_db + " cannot be opened)";
      fleet_db.clear();
    }
  }

  appserver::BoundedServer server;
  server.set_tcp_nodelay(true);  // answers go out as head and body: no wait between them
  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port(options.bind);
    if (port < 0) port = 0;
  } else if (!server.bind_to_port(options.bind, port)) {
    port = 0;
  }
  if (port == 0) {
    std::fprintf(stderr, "jov-appserver: cannot listen on %s:%d: %s\n", options.bind.c_str(),
                 options.port, std::strerror(errno));
    return 1;
  }
  server.SetListenBacklog(4096);
  try {
    appserver::Install(server, options, port);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "jov-appserver: %s\n", error.what());
    return 1;
  }
  std::printf("listening on %s:%d\n", options.bind.c_str(), port);
  // The second line says where the fleet is kept, without a connection string's password.
  if (fleet_line.empty()) {
    const auto parts = jov::ParseConnectionString(appserver::fleet::ConnectionString(fleet_db));
    const auto source = parts.find("DATA SOURCE");
    fleet_line = "fleet: " + (source == parts.end() ? std::string() : source->second);
  }
  std::printf("%s\n", fleet_line.c_str());
  std::fflush(stdout);

  std::thread listener([&server] {
    server.listen_after_bind();
    kill(getpid(), SIGUSR1);  // wakes the main thread when listening ends by itself
  });
  int received = 0;
  sigwait(&stop_signals, &received);
  server.stop();
  listener.join();
  std::fprintf(stderr, "jov-appserver: stopped (%s)\n", strsignal(received));
  return received == SIGUSR1 ? 1 : 0;
}
