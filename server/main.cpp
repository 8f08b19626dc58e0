// jov-appserver: the chain's server for its registers.
//   jov-appserver --bind HOST --port N --updates DIR [--ask] [--http-settings FILE]
//                 [--source-url URL] [--signing-key KEY] [--fleet-db FILE|CONNECTION]
//                 [--fleet-token FILE] [--threads N] [--handler-threads N]
//                 [--max-per-address N] [--max-connections N] [--fleet-keys FILE]
//                 [--max-registers N] [--report-interval SECONDS]
// Prints "listening on HOST:PORT" as its first line (--port 0 picks a free port) and where
// the fleet is kept as its second, logs one line per request to standard error, and stops
// cleanly on SIGTERM or SIGINT. docs/server.md describes the options and bounds.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "server/handlers/app_server.h"
#include "server/http/engine.h"
#include "server/http/line_log.h"
#include "server/startup.h"

namespace {

int Usage(const std::string& why) {
  std::fprintf(stderr,
               "jov-appserver: %s\n"
               "usage: jov-appserver --bind HOST --port N --updates DIR [--ask]\n"
               "                     [--http-settings FILE] [--source-url URL]\n"
               "                     [--signing-key KEY] [--fleet-db FILE|CONNECTION]\n"
               "                     [--fleet-token FILE] [--threads N] [--handler-threads N]\n"
               "                     [--max-per-address N] [--max-connections N]\n"
               "                     [--fleet-keys FILE] [--max-registers N]\n"
               "                     [--report-interval SECONDS]\n",
               why.c_str());
  return 2;
}

// An opening hour opens a connection per register at once; the default soft limit of open
// files (1024) would refuse them. Returns the limit now in force.
rlim_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return RLIM_INFINITY;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur;
}

}  // namespace

int main(int argc, char** argv) {
  // Signals are taken by sigwait in this thread only; every thread started later (the
  // server's, the fleet store's) inherits the mask and never sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Qt SQL loads its drivers only with an application object.
  QCoreApplication application(argc, argv);
  appserver::http::LineLog log;
  const auto fail = [&log](const std::string& why) {
    log.Write("jov-appserver: " + why);
    return 1;
  };

  std::string why;
  std::optional<appserver::StartOptions> start = appserver::ParseCommandLine(argc, argv, why);
  if (!start) return Usage(why);
  appserver::Options& options = start->options;
  if (!start->token_file.empty()) {
    options.fleet_token = appserver::ReadToken(start->token_file, why);
    if (options.fleet_token.empty()) {
      return fail("cannot take the fleet token from " + start->token_file + ": " + why);
    }
  }
  if (!start->keys_file.empty()) {
    const auto keys = appserver::ReadFleetKeys(start->keys_file, why);
    if (!keys) return fail("cannot take the registers' keys from " + start->keys_file + ": " + why);
    start->store.keys = *keys;
  }
  // The connections stay within the open files, with room for the archives being sent and
  // the fleet store's.
  const rlim_t files = RaiseOpenFileLimit();
  const rlim_t room = 256;
  if (files != RLIM_INFINITY && static_cast<rlim_t>(start->limits.max_connections) + room > files) {
    start->limits.max_connections = files > 2 * room ? static_cast<int>(files - room) : 64;
    log.Write("jov-appserver: at most " + std::to_string(start->limits.max_connections) +
              " connections: the limit of open files is " + std::to_string(files));
  }
  const std::string fleet_line = appserver::OpenFleet(
      *start, [&log](const std::string& line) { log.Write("jov-appserver: " + line); });
  if (fleet_line.empty()) return 1;

  std::shared_ptr<const appserver::Context> context;
  appserver::http::Router router;
  int port = 0;
  std::unique_ptr<appserver::http::Engine> engine;
  try {
    // The router is set before the engine starts and only read after.
    engine = std::make_unique<appserver::http::Engine>(
        start->limits,
        [&router](const appserver::http::Request& request) { return router.Route(request); }, log);
    try {
      port = engine->Listen(options.bind, options.port);
    } catch (const std::exception& error) {
      return fail("cannot listen on " + options.bind + ":" + std::to_string(options.port) + ": " +
                  error.what());
    }
    context = appserver::MakeContext(options, port, log);
    router = appserver::MakeRouter(context);
  } catch (const std::exception& error) {
    return fail(error.what());
  }
  std::printf("listening on %s:%d\n%s\n", options.bind.c_str(), port, fleet_line.c_str());
  std::fflush(stdout);

  std::thread serving([&] {
    engine->Run(start->threads);
    kill(getpid(), SIGUSR1);  // wakes the main thread when serving ends by itself
  });
  int received = 0;
  sigwait(&stop_signals, &received);
  engine->Stop();
  serving.join();
  engine.reset();
  std::fprintf(stderr, "jov-appserver: stopped (%s)\n", strsignal(received));
  return received == SIGUSR1 ? 1 : 0;
}
