// Opening hour: 500 registers start at once against one jov-appserver on loopback, each over
// one kept connection (the connect check, "GetDadosHttp", the nine "GetFileVersion" and
// "ReportUpdate"), with the fleet on SQLite and on PostgreSQL. Prints the slowest connect
// check and the 99th percentile of a call.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
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
const std::string kModule = "lum.rdmAtualizaEstrutura";

struct Figures {
  milliseconds slowest_connect{0};
  milliseconds call_p99{0};
  milliseconds slowest_call{0};
  milliseconds whole{0};
  int failed = 0;
};

milliseconds Ms(Clock::duration d) { return std::chrono::duration_cast<milliseconds>(d); }

// Every register's start, all let go at the same moment; each register's exchanges are
// bounded by the channel's limits, and once one has run out of time the later ones fail at
// once, so the whole run is bounded too.
Figures OpeningHour(int port) {
  const std::vector<std::string> names = Cli_jov00000::ExecutaveisDoCliente();
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& name : names) files.emplace_back(name, "20261201000000");
  std::mutex mutex;
  std::vector<Clock::duration> connects;
  std::vector<Clock::duration> calls;
  std::vector<std::string> failures;
  std::latch gate(kRegisters + 1);
  std::vector<std::thread> registers;
  for (int i = 0; i < kRegisters; ++i) {
    registers.emplace_back([&, i] {
      char filial[16], caixa[16];
      std::snprintf(filial, sizeof filial, "%04d", 1 + i / 20);
      std::snprintf(caixa, sizeof caixa, "%03d", 1 + i % 20);
      const std::string report = FleetReport(filial, caixa, files).dump();
      std::vector<Clock::duration> mine;
      Clock::duration connect{};
      std::string failure;
      gate.arrive_and_wait();
      try {
        ServerStall stall;  // every register a start of its own
        HttpAppServerChannel channel({}, stall);
        auto start = Clock::now();
        channel.Open("127.0.0.1", port, kModule);
        connect = Clock::now() - start;
        const auto call = [&](const std::string& method, const std::string& arg) {
          start = Clock::now();
          std::string result = channel.Call(method, {arg});
          mine.push_back(Clock::now() - start);
          return result;
        };
        if (call("GetDadosHttp", "").find("<DATAPACKET") == std::string::npos) {
          failure = "no data packet";
        }
        for (const std::string& name : names) {
          if (call("GetFileVersion", "&" + name).find(name + ".zip=") == std::string::npos) {
            failure = "no version of " + name;
          }
        }
        if (call("ReportUpdate", report) != "OK") failure = "the report was not taken";
        channel.Close();
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
  figures.slowest_connect = Ms(*std::max_element(connects.begin(), connects.end()));
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
    dir.Write("token", "t");
  }

  void Run(const std::string& store, const std::string& fleet_db) {
    AppServer server({"--updates", dir.path() + "/updates", "--fleet-db", fleet_db, "--fleet-token",
                      dir.path() + "/token"},
                     dir.path() + "/appserver.log");
    ASSERT_NE(server.port(), 0) << TempDir::Read(dir.path() + "/appserver.log");
    const Figures f = OpeningHour(server.port());
    std::printf(
        "%d registers at once, fleet on %s: slowest connect check %lld ms, call p99 %lld ms, "
        "slowest call %lld ms, all done in %lld ms, %d failed\n",
        kRegisters, store.c_str(), static_cast<long long>(f.slowest_connect.count()),
        static_cast<long long>(f.call_p99.count()), static_cast<long long>(f.slowest_call.count()),
        static_cast<long long>(f.whole.count()), f.failed);
    RecordProperty("slowest_connect_ms", static_cast<int>(f.slowest_connect.count()));
    RecordProperty("call_p99_ms", static_cast<int>(f.call_p99.count()));
    EXPECT_EQ(f.failed, 0);
    // The aim is under 1 s; on a loaded 2-core machine that also runs the 500 clients it is
    // met most of the time. A connection the listen queue dropped waits 1 s, then 3 s, for its
    // SYN to be sent again: the bound catches that.
    std::printf("connect checks under 1 s: %s\n", f.slowest_connect < 1000ms ? "yes" : "no");
    EXPECT_LT(f.slowest_connect, milliseconds(2500));
    const auto [status, body] = GetFleet(server.port(), "/fleet.json", "t");
    ASSERT_EQ(status, 200);
    EXPECT_EQ(nlohmann::json::parse(body)["registers"].size(),
              static_cast<std::size_t>(kRegisters));
  }

  TempDir dir;
};

TEST_F(OpeningHourTest, FiveHundredRegistersWithTheFleetOnSqlite) {
  Run("SQLite", dir.path() + "/fleet.db");
}

TEST_F(OpeningHourTest, FiveHundredRegistersWithTheFleetOnPostgresql) {
  if (!PostgresServer::Available()) GTEST_SKIP() << "no PostgreSQL here";
  Run("PostgreSQL", PostgresEnvironment::Server().ConnectionString());
}

}  // namespace
}  // namespace jov::testing
