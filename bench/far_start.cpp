// The start's talk with a far server: the connect check and "GetDadosHttp", then the update's
// connect check and its nine "GetFileVersion", through a relay that delays each direction by
// 25, 50 or 100 ms, against jov-appserver on loopback with nothing to update; the nine queries
// in flight together (sent while the update's connect check is, over connections set up beside
// the first connect check) beside one after another. Counts the round trips the start waited (its
// time over the round-trip time) and the connections it opened.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/spawn.h"
#include "clientlib/http_channel.h"
#include "clientlib/net_connection.h"
#include "clientlib/server_stall.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int Listen(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(fd, 64);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  port = ntohs(address.sin_port);
  return fd;
}

int ConnectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// One direction of a relayed connection: what is read from `from` is written to `to` delay
// later; the end of `from` ends `to`'s writing side once everything before it has gone.
class DelayedPipe {
 public:
  DelayedPipe(int from, int to, std::chrono::milliseconds delay)
      : from_(from), to_(to), delay_(delay) {
    reader_ = std::thread([this] { Read(); });
    writer_ = std::thread([this] { Write(); });
  }
  ~DelayedPipe() {
    reader_.join();
    writer_.join();
  }

 private:
  struct Chunk {
    Clock::time_point due;
    std::string bytes;  // empty: the end
  };
  void Read() {
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::recv(from_, buffer, sizeof buffer, 0);
      Push({Clock::now() + delay_, n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : ""});
      if (n <= 0) return;
    }
  }
  void Push(Chunk chunk) {
    const std::lock_guard<std::mutex> lock(mutex_);
    chunks_.push_back(std::move(chunk));
    ready_.notify_one();
  }
  void Write() {
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return !chunks_.empty(); });
      Chunk chunk = std::move(chunks_.front());
      chunks_.pop_front();
      lock.unlock();
      std::this_thread::sleep_until(chunk.due);
      if (chunk.bytes.empty()) {
        ::shutdown(to_, SHUT_WR);
        return;
      }
      std::size_t sent = 0;
      while (sent < chunk.bytes.size()) {
        const ssize_t n =
            ::send(to_, chunk.bytes.data() + sent, chunk.bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
    }
  }

  int from_;
  int to_;
  std::chrono::milliseconds delay_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Chunk> chunks_;
  std::thread reader_;
  std::thread writer_;
};

// A relay to the server on loopback that delays each direction (a connection's set-up too:
// the server is reached only after the delay). Counts the connections it relayed.
class DelayingRelay {
 public:
  DelayingRelay(int upstream, std::chrono::milliseconds delay)
      : upstream_(upstream), delay_(delay) {
    listener_ = Listen(port_);
    thread_ = std::thread([this] { Accept(); });
  }
  ~DelayingRelay() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
    for (auto& link : links_) link.join();
  }
  int port() const { return port_; }
  int connections() const { return connections_; }

 private:
  void Accept() {
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (::poll(&waiting, 1, 20) <= 0) continue;
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      ++connections_;
      links_.emplace_back([this, client] {
        // The handshake's round trip: the client's SYN crosses, the answer comes back.
        std::this_thread::sleep_for(delay_ * 2);
        const int server = ConnectTo(upstream_);
        if (server >= 0) {
          const int one = 1;
          ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          DelayedPipe up(client, server, delay_);
          DelayedPipe down(server, client, delay_);
        }
        ::close(client);
        if (server >= 0) ::close(server);
      });
    }
  }

  int upstream_;
  std::chrono::milliseconds delay_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::vector<std::thread> links_;
  std::thread thread_;
};

// jov-appserver on loopback with an empty update folder, for the whole run.
struct Server {
  // Made first and removed last, once the server has ended.
  struct Folder {
    std::string path = fs::temp_directory_path() / ("jov-far-" + std::to_string(::getpid()));
    Folder() { fs::create_directories(path + "/updates"); }
    ~Folder() { fs::remove_all(path); }
  } root;
  bench::AppServer app{JOV_BIN_DIR "/jov-appserver", root.path + "/updates",
                       root.path + "/server.out"};
  int port = app.port();
};

Server& Shared() {
  static Server server;
  return server;
}

const char* const kNames[] = {"JovSinc.exe", "JovImp.exe",     "JovTab.exe",
                              "JovExp.exe",  "JovBpl.exe",     "JovAut.exe",
                              "JovExt.exe",  "JovService.exe", "Altera_Permissoes_Calvora.EXE"};

// Arguments: the delay one way in ms; 1 for the queries one after another, 4 for together.
void BM_FarStart(benchmark::State& state) {
  Server& server = Shared();
  if (server.port == 0) {
    state.SkipWithError("jov-appserver did not start");
    return;
  }
  const std::chrono::milliseconds delay(state.range(0));
  jov::HttpAppServerChannel::Timeouts limits;
  limits.together = static_cast<int>(state.range(1));
  limits.set_up_ahead = limits.together > 1;  // as the launcher's start sets it
  int connections = 0;
  double seconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    DelayingRelay relay(server.port, delay);
    jov::ServerStall stall;
    jov::HttpAppServerChannel channel({}, stall, limits);
    jov::TNetConnection connection(channel);
    connection.ServerName = "lum.rdmAtualizaEstrutura";
    connection.Host = "127.0.0.1";
    connection.Port = relay.port();
    connection.SetConnected(true);
    try {
      benchmark::DoNotOptimize(connection.AppServer("GetDadosHttp", "0001"));
    } catch (const std::exception&) {
      // an answer without the settings costs the same round trip
    }
    connection.SetConnected(false);
    std::vector<std::string> arguments;
    for (const char* name : kNames) arguments.push_back(std::string("&") + name);
    const auto outcomes = connection.ConnectAndCallAll("GetFileVersion", arguments);
    for (const auto& outcome : outcomes) {
      if (outcome.error) state.SkipWithError("a query failed");
    }
    connection.SetConnected(false);
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    connections = relay.connections();
  }
  const double rtt = 2.0 * static_cast<double>(delay.count()) / 1000.0;
  state.counters["round_trips"] = seconds / static_cast<double>(state.iterations()) / rtt;
  state.counters["connections"] = connections;
}
BENCHMARK(BM_FarStart)
    ->ArgNames({"delay_ms", "together"})
    ->ArgsProduct({{25, 50, 100}, {1, 4}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
