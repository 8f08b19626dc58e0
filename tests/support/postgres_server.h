// A throwaway PostgreSQL server for tests: its own data folder, loopback, a free port.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/temp_dir.h"

namespace jov::testing {

class PostgresServer {
 public:
  // Starts the server (initdb, then pg_ctl start); throws std::runtime_error with the server's
  // log when it cannot. Blocks until it accepts connections (at most 30 s).
  PostgresServer();
  // Stops it at once and removes its folder.
  ~PostgresServer();

  int port() const { return port_; }
  // "Provider=QPSQL;Data Source=127.0.0.1:PORT/postgres;User ID=postgres".
  std::string ConnectionString() const;
  // True when a PostgreSQL server program is installed here.
  static bool Available();

 private:
  TempDir dir_;
  int port_ = 0;
  std::string bin_;
};

// One server for a whole test program, started on first use (a start takes a few seconds)
// and stopped when the tests end, so that no server outlives them. A program registers it
// once: ::testing::AddGlobalTestEnvironment(new PostgresEnvironment).
class PostgresEnvironment : public ::testing::Environment {
 public:
  static PostgresServer& Server() {
    if (server_ == nullptr) server_ = std::make_unique<PostgresServer>();
    return *server_;
  }
  void TearDown() override { server_.reset(); }

 private:
  static inline std::unique_ptr<PostgresServer> server_;
};

// A loopback TCP port that nothing listens on at the moment of the call.
int FreeLoopbackPort();

}  // namespace jov::testing
