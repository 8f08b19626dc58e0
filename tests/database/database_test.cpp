// The database seam against real servers: an SQLite file and a PostgreSQL started here.
#include <gtest/gtest.h>

#include <memory>

#include "platform/cp1252.h"
#include "platform/database_qt.h"
#include "platform/errors.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

struct Sqlite {
  TempDir dir;
  std::string ConnectionString() const {
    return "Provider=QSQLITE;Data Source=" + dir.path() + "/caixa.db";
  }
};

[[maybe_unused]] ::testing::Environment* const kPostgres =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

struct Postgres {
  std::string ConnectionString() const { return PostgresEnvironment::Server().ConnectionString(); }
};

template <typename T>
class DatabaseContract : public ::testing::Test {
 protected:
  void SetUp() override {
    db.Connect(backend.ConnectionString());
    db.Query("DROP TABLE IF EXISTS CAIXA", {});
    db.Query(
        "CREATE TABLE CAIXA (CDFILIAL VARCHAR(16), CDCAIXA VARCHAR(16), IDAUTOIMPTAB "
        "VARCHAR(1), IDUTILABERAUTO VARCHAR(1), IDPERACESSOTER VARCHAR(1), NMCAIXA "
        "VARCHAR(40))",
        {});
  }
  T backend;
  DatabaseQt db;
};

using Backends = ::testing::Types<Sqlite, Postgres>;
TYPED_TEST_SUITE(DatabaseContract, Backends);

constexpr const char* kRules =
    "SELECT IDAUTOIMPTAB, IDUTILABERAUTO,IDPERACESSOTER\n  FROM CAIXA\n WHERE CDFILIAL = "
    ":P_CDFILIAL\n   AND CDCAIXA  = :P_CDCAIXA\n";

TYPED_TEST(DatabaseContract, ParametersSelectTheRegistersRowAndColumnsComeUpperCased) {
  DatabaseQt& db = this->db;
  db.Query("INSERT INTO CAIXA VALUES ('0001', '001', 'N', 'S', 'N', :NOME)",
           {{"NOME", "Caixa São João"_w}});
  db.Query("INSERT INTO CAIXA VALUES ('0001', '002', 'N', NULL, 'S', NULL)", {});
  auto rows = db.Query(kRules, {{"P_CDFILIAL", "0001"}, {"P_CDCAIXA", "001"}});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("IDUTILABERAUTO"), "S");
  EXPECT_EQ(rows[0].at("IDPERACESSOTER"), "N");
  rows = db.Query(kRules, {{"P_CDFILIAL", "0001"}, {"P_CDCAIXA", "002"}});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_FALSE(rows[0].at("IDUTILABERAUTO").has_value());
  EXPECT_TRUE(db.Query(kRules, {{"P_CDFILIAL", "9999"}, {"P_CDCAIXA", "001"}}).empty());
  rows = db.Query("SELECT NMCAIXA FROM CAIXA WHERE CDCAIXA = :C", {{"C", "001"}});
  EXPECT_EQ(rows.at(0).at("NMCAIXA"), "Caixa São João"_w);
}

TYPED_TEST(DatabaseContract, AMissingColumnFailsTheStatement) {
  this->db.Query("ALTER TABLE CAIXA DROP COLUMN IDPERACESSOTER", {});
  EXPECT_THROW(this->db.Query(kRules, {{"P_CDFILIAL", "0001"}, {"P_CDCAIXA", "001"}}), Error);
}

TYPED_TEST(DatabaseContract, DisconnectingEndsTheSession) {
  EXPECT_TRUE(this->db.IsConnected());
  this->db.Disconnect();
  EXPECT_FALSE(this->db.IsConnected());
  EXPECT_THROW(this->db.Query("SELECT 1", {}), Error);
}

TEST(DatabaseConnect, AnUnknownProviderOrAnUnreachableServerRaises) {
  DatabaseQt db;
  try {
    db.Connect("Provider=MSDAORA;Data Source=caixa");
    FAIL() << "expected an error";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("MSDAORA"), std::string::npos);
  }
  const std::string closed =
      "Provider=QPSQL;Data Source=127.0.0.1:" + std::to_string(FreeLoopbackPort()) +
      "/caixa;User ID=postgres";
  EXPECT_THROW(db.Connect(closed), Error);
  EXPECT_FALSE(db.IsConnected());
  // SSLMode reaches libpq only as one of its modes, never as more connection options.
  try {
    db.Connect(closed + ";SSLMode=require host=elsewhere");
    FAIL() << "expected an error";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("SSLMode 'require host=elsewhere'"),
              std::string::npos);
  }
}

// SSLMode is the server's to honour: the test server speaks no TLS.
TEST(DatabaseConnect, TheSslModeReachesTheServer) {
  DatabaseQt db;
  const std::string server = PostgresEnvironment::Server().ConnectionString();
  db.Connect(server + ";SSLMode=disable");
  EXPECT_TRUE(db.IsConnected());
  EXPECT_THROW(db.Connect(server + ";SSLMode=require"), Error);
}

TEST(DatabaseConnect, ConnectionStringsSplitOnSemicolonsWithAnyKeyCase) {
  const auto parts = ParseConnectionString(" provider = QPSQL ;Data Source=h:5/db;User ID=u;");
  EXPECT_EQ(parts.at("PROVIDER"), "QPSQL");
  EXPECT_EQ(parts.at("DATA SOURCE"), "h:5/db");
  EXPECT_EQ(parts.at("USER ID"), "u");
}

}  // namespace
}  // namespace jov::testing
