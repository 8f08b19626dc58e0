// Opening hour: 500 registers start at once against one jov-appserver on loopback, each over
// one kept connection (the connect check, "GetDadosHttp", the nine "GetFileVersion" and
// "ReportUpdate"), with the fleet on SQLite and on PostgreSQL; then 2,000 from eight loopback
// addresses, alone and while a ninth holds 1,500 idle connections. Prints the slowest connect
// check and the 99th percentile of a call.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <latch>
#include <mutex>
#include <thread>

#include "Cli_jov00000/update/baixa_exe.h"
#include "clientlib/http_channel.h"
#include "clientlib/server_stall.h"
#include "tests/server/fleet_support.h"
#include "tests/server/server_support.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

[[maybe_unused]] ::testing::Environment* const kPostgres =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

constexpr int kRegisters = 500;
constexpr int kManyRegisters = 2000;
const std::string kModule = "lum.rdmAtualizaEstrutura";

struct Figures {
  milliseconds slowest_connect{0};
  milliseconds connect_p99{0};
  milliseconds call_p99{0};
  milliseconds slowest_call{0};
  milliseconds whole{0};
  int failed = 0;
};

milliseconds Ms(Clock::duration d) { return std::chrono::duration_cast<milliseconds>(d); }

// One register's exchanges over one kept connection: the connect check, then each call with
// its argument; gives the connect check's time, each call's and its result, or throws.
using Exchanges = std::function<void(const std::vector<std::pair<std::string, std::string>>& calls,
                                     Clock::duration& connect, std::vector<Clock::duration>& each,
                                     std::vector<std::string>& results)>;

// The register's own channel, from 127.0.0.1.
Exchanges ThroughTheChannel(int port) {
  return [port](const auto& calls, Clock::duration& connect, auto& each, auto& results) {
    ServerStall stall;  // every register a start of its own
    HttpAppServerChannel channel({}, stall);
    auto start = Clock::now();
    channel.Open("127.0.0.1", port, kModule);
    connect = Clock::now() - start;
    for (const auto& [method, arg] : calls) {
      start = Clock::now();
      results.push_back(channel.Call(method, {arg}));
      each.push_back(Clock::now() - start);
    }
    channel.Close();
  };
}

// Sends the request and reads its answer's body within 10 s; throws with why.
std::string Exchange(int fd, const std::string& request) {
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    throw std::runtime_error("send failed");
  }
  std::string got;
  char buffer[16384];
  pollfd wait{fd, POLLIN, 0};
  for (;;) {
    const std::size_t head = got.find("\r\n\r\n");
    if (head != std::string::npos) {
      const std::size_t at = got.find("Content-Length: ");
      if (got.compare(0, 12, "HTTP/1.1 200") != 0 || at == std::string::npos || at > head) {
        throw std::runtime_error("answered " + got.substr(0, got.find('\r')));
      }
      const std::size_t length = std::stoul(got.substr(at + 16));
      if (got.size() >= head + 4 + length) return got.substr(head + 4, length);
    }
    if (::poll(&wait, 1, 10000) != 1) throw std::runtime_error("no answer in 10 s");
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) throw std::runtime_error("connection closed");
    got.append(buffer, static_cast<std::size_t>(n));
  }
}

// The test's own client, from one of the loopback addresses (the channel cannot choose its
// source address); the same requests as the channel's.
Exchanges FromAddress(int port, std::string from) {
  return [port, from](const auto& calls, Clock::duration& connect, auto& each, auto& results) {
    auto start = Clock::now();
    const int fd = ConnectedFrom(port, from);
    if (fd < 0) throw std::runtime_error("cannot connect from " + from);
    const std::unique_ptr<int, void (*)(int*)> closer(new int(fd), [](int* open) {
      ::close(*open);
      delete open;
    });
    Exchange(fd, "GET /" + kModule + "/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    connect = Clock::now() - start;
    for (const auto& [method, arg] : calls) {
      const std::string body = nlohmann::json::array({arg}).dump();
      start = Clock::now();
      const nlohmann::json reply = nlohmann::json::parse(
          Exchange(fd, "POST /" + kModule + "/" + method +
                           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                           "Content-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n" + body));
      results.push_back(reply.at("result").get<std::string>());
      each.push_back(Clock::now() - start);
    }
  };
}

// Every register's start, all let go at the same moment; each register's exchanges are
// bounded in time, so the whole run is bounded too. Register i goes through exchanges(i).
Figures OpeningHour(int registers_at_once, const std::function<Exchanges(int)>& exchanges) {
  const std::vector<std::string> names = Cli_jov00000::ExecutaveisDoCliente();
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& name : names) files.emplace_back(name, "20261201000000");
  std::mutex mutex;
  std::vector<Clock::duration> connects;
  std::vector<Clock::duration> calls;
  std::vector<std::string> failures;
  std::latch gate(registers_at_once + 1);
  std::vector<std::thread> registers;
  for (int i = 0; i < registers_at_once; ++i) {
    registers.emplace_back([&, i] {
      char filial[16], caixa[16];
      std::snprintf(filial, sizeof filial, "%04d", 1 + i / 20);
      std::snprintf(caixa, sizeof caixa, "%03d", 1 + i % 20);
      std::vector<std::pair<std::string, std::string>> asked = {{"GetDadosHttp", ""}};
      for (const std::string& name : names) asked.emplace_back("GetFileVersion", "&" + name);
      asked.emplace_back("ReportUpdate", FleetReport(filial, caixa, files).dump());
      const Exchanges exchange = exchanges(i);
      std::vector<Clock::duration> mine;
      std::vector<std::string> results;
      Clock::duration connect{};
      std::string failure;
      gate.arrive_and_wait();
      try {
        exchange(asked, connect, mine, results);
        if (results.empty() || results[0].find("<DATAPACKET") == std::string::npos) {
          failure = "no data packet";
        }
        for (std::size_t n = 0; n < names.size() && n + 1 < results.size(); ++n) {
          if (results[n + 1].find(names[n] + ".zip=") == std::string::npos) {
            failure = "no version of " + names[n];
          }
        }
        if (results.size() != asked.size() || results.back() != "OK") {
          failure = "the report was not taken";
        }
      } catch (const std::exception& error) {
        failure = error.what();
      }
      const std::lock_guard<std::mutex> lock(mutex);
      if (!failure.empty()) failures.push_back(std::string(filial) + "/" + caixa + ": " + failure);
      connects.push_back(connect);
      calls.insert(calls.end(), mine.begin(), mine.end());
    });
  }
  const auto start = Clock::now();
  gate.arrive_and_wait();
  for (std::thread& t : registers) t.join();
  Figures figures;
  figures.whole = Ms(Clock::now() - start);
  figures.failed = static_cast<int>(failures.size());
  for (std::size_t i = 0; i < std::min<std::size_t>(failures.size(), 5); ++i) {
    ADD_FAILURE() << failures[i];
  }
  std::sort(connects.begin(), connects.end());
  figures.slowest_connect = Ms(connects.back());
  figures.connect_p99 = Ms(connects[connects.size() * 99 / 100]);
  std::sort(calls.begin(), calls.end());
  if (!calls.empty()) {
    figures.call_p99 = Ms(calls[calls.size() * 99 / 100]);
    figures.slowest_call = Ms(calls.back());
  }
  return figures;
}

class OpeningHourTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A connection a register, and the channel's own descriptors.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    for (const std::string& name : Cli_jov00000::ExecutaveisDoCliente()) {
      dir.Write("updates/" + name + ".zip", "zip");
    }
    ::chmod(dir.Write("token", "opening-hour-token").c_str(), 0600);
  }

  // The registers at once, register i through the exchanges client(port, i) makes; with idle
  // connections held from 127.0.0.10 meanwhile when idle > 0. Registers calling from one
  // address (behind one router, say) need a share of at least their number.
  void Run(const std::string& store, const std::string& fleet_db, int registers_at_once,
           const std::function<Exchanges(int port, int i)>& client, int idle = 0,
           int per_address = 256) {
    AppServer server({"--updates", dir.path() + "/updates", "--fleet-db", fleet_db, "--fleet-token",
                      dir.path() + "/token", "--max-per-address", std::to_string(per_address)},
                     dir.path() + "/appserver.log");
    ASSERT_NE(server.port(), 0) << TempDir::Read(dir.path() + "/appserver.log");
    std::vector<int> held;
    for (int i = 0; i < idle; ++i) held.push_back(ConnectedFrom(server.port(), "127.0.0.10"));
    const Figures f =
        OpeningHour(registers_at_once, [&](int i) { return client(server.port(), i); });
    for (const int fd : held) ::close(fd);
    const std::string beside = idle > 0 ? " beside " + std::to_string(idle) + " idle" : "";
    std::printf(
        "%d registers at once%s, fleet on %s: slowest connect check %lld ms, connect check p99 "
        "%lld ms, call p99 %lld ms, slowest call %lld ms, all done in %lld ms, %d failed\n",
        registers_at_once, beside.c_str(), store.c_str(),
        static_cast<long long>(f.slowest_connect.count()),
        static_cast<long long>(f.connect_p99.count()), static_cast<long long>(f.call_p99.count()),
        static_cast<long long>(f.slowest_call.count()), static_cast<long long>(f.whole.count()),
        f.failed);
    RecordProperty("slowest_connect_ms", static_cast<int>(f.slowest_connect.count()));
    RecordProperty("connect_p99_ms", static_cast<int>(f.connect_p99.count()));
    RecordProperty("call_p99_ms", static_cast<int>(f.call_p99.count()));
    EXPECT_EQ(f.failed, 0);
    // The aim is under 1 s; on a loaded 2-core machine that also runs the clients it is met
    // most of the time. A connection the listen queue dropped waits 1 s, then 3 s, for its
    // SYN to be sent again: the bound catches that.
    std::printf("connect checks under 1 s: %s\n", f.slowest_connect < 1000ms ? "yes" : "no");
    EXPECT_LT(f.slowest_connect, milliseconds(2500));
    const auto [status, body] = GetFleet(server.port(), "/fleet.json", "opening-hour-token");
    ASSERT_EQ(status, 200);
    EXPECT_EQ(nlohmann::json::parse(body)["matching"], registers_at_once);
  }

  static Exchanges Channel(int port, int) { return ThroughTheChannel(port); }
  // Register i from 127.0.0.2 ... 127.0.0.9 in turn.
  static Exchanges EightAddresses(int port, int i) {
    return FromAddress(port, "127.0.0." + std::to_string(2 + i % 8));
  }

  TempDir dir;
};

TEST_F(OpeningHourTest, FiveHundredRegistersWithTheFleetOnSqlite) {
  Run("SQLite", dir.path() + "/fleet.db", kRegisters, Channel, 0, kRegisters);
}

TEST_F(OpeningHourTest, TwoThousandRegistersFromEightAddresses) {
  Run("SQLite", dir.path() + "/fleet.db", kManyRegisters, EightAddresses);
}

// One address cannot take the server from the others: it holds its share and no more.
TEST_F(OpeningHourTest, TwoThousandRegistersWhileOneAddressHoldsIdleConnections) {
  Run("SQLite", dir.path() + "/fleet.db", kManyRegisters, EightAddresses, 1500);
}

TEST_F(OpeningHourTest, FiveHundredRegistersWithTheFleetOnPostgresql) {
  if (!PostgresServer::Available()) GTEST_SKIP() << "no PostgreSQL here";
  Run("PostgreSQL", PostgresEnvironment::Server().ConnectionString(), kRegisters, Channel, 0,
      kRegisters);
}

}  // namespace
}  // namespace jov::testing
