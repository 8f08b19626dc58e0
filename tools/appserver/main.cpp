// jov-appserver: the reference application server for registers and tests.
//   jov-appserver --bind 127.0.0.1 --port N --updates DIR [--ask] [--http-settings FILE]
//                 [--source-url URL] [--signing-key KEY]
// Prints "listening on HOST:PORT" as its first line (--port 0 picks a free port), logs one
// line per request to standard error, and stops cleanly on SIGTERM or SIGINT.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "tools/appserver/app_server.h"

namespace {

int Usage(const char* why) {
  std::fprintf(stderr,
               "jov-appserver: %s\n"
               "usage: jov-appserver --bind HOST --port N --updates DIR [--ask]\n"
               "                     [--http-settings FILE] [--source-url URL]\n"
               "                     [--signing-key KEY]\n",
               why);
  return 2;
}

bool ParsePort(const char* text, int& port) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  appserver::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--ask") {
      options.ask = true;
    } else if (arg == "--bind" && has_value) {
      options.bind = argv[++i];
    } else if (arg == "--port" && has_value) {
      if (!ParsePort(argv[++i], options.port)) return Usage("bad port");
    } else if (arg == "--updates" && has_value) {
      options.updates = argv[++i];
    } else if (arg == "--http-settings" && has_value) {
      options.http_settings = argv[++i];
    } else if (arg == "--source-url" && has_value) {
      options.source_url = argv[++i];
    } else if (arg == "--signing-key" && has_value) {
      options.signing_key = argv[++i];
    } else {
      return Usage(("unknown or incomplete option " + arg).c_str());
    }
  }
  if (options.updates.empty()) return Usage("--updates is required");

  // Signals are taken by sigwait in this thread only; the server's threads never see them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  httplib::Server server;
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
  try {
    appserver::Install(server, options, port);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "jov-appserver: %s\n", error.what());
    return 1;
  }
  std::printf("listening on %s:%d\n", options.bind.c_str(), port);
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
