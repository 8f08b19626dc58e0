// The opening rules read from table CAIXA made by the project's own scripts, on an SQLite file
// and on a PostgreSQL server started here: the same cases over both.
#include <gtest/gtest.h>

#include <sstream>

#include "Cli_jov00000/data_components.h"
#include "Cli_jov00000/identify/parametros.h"
#include "clientlib/geraljov.h"
#include "platform/database_qt.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

[[maybe_unused]] ::testing::Environment* const kPostgres =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

struct Sqlite {
  static constexpr const char* kScript = JOV_SQL_DIR "/sqlite/caixa.sql";
  TempDir dir;
  std::string ConnectionString() const {
    return "Provider=QSQLITE;Data Source=" + dir.path() + "/caixa.db";
  }
  // A database file in a folder that does not exist cannot be opened.
  std::string Unreachable() const {
    return "Provider=QSQLITE;Data Source=" + dir.path() + "/no/such/folder/caixa.db";
  }
};

struct Postgres {
  static constexpr const char* kScript = JOV_SQL_DIR "/postgresql/caixa.sql";
  std::string ConnectionString() const { return PostgresEnvironment::Server().ConnectionString(); }
  std::string Unreachable() const {
    return "Provider=QPSQL;Data Source=127.0.0.1:" + std::to_string(FreeLoopbackPort()) +
           "/postgres;User ID=postgres";
  }
};

// Runs a script whose statements end with ";" at a line end; "--" lines are comments.
void RunScript(Database& db, const std::string& path) {
  const std::string text = TempDir::Read(path);
  ASSERT_FALSE(text.empty()) << path;
  std::istringstream lines(text);
  std::string line;
  std::string statement;
  while (std::getline(lines, line)) {
    if (line.rfind("--", 0) == 0) continue;
    statement += line + "\n";
    if (!line.empty() && line.back() == ';') {
      statement.pop_back();
      statement.pop_back();
      db.Query(statement, {});
      statement.clear();
    }
  }
  EXPECT_EQ(statement.find_first_not_of(" \n"), std::string::npos) << "unterminated: " << statement;
}

// What the form's query read, and what the connection's handlers saw, in order.
struct Rules {
  std::string util;
  std::string per;
  std::vector<std::string> connects;
};

// The form's connection and query over a real database, wired as the form wires them.
Rules Read(Database& db, const std::string& connection_string, const std::string& filial,
           const std::string& caixa,
           const std::vector<std::string>& sql = {
               "SELECT IDAUTOIMPTAB, IDUTILABERAUTO,IDPERACESSOTER", "  FROM CAIXA",
               " WHERE CDFILIAL = :P_CDFILIAL", "   AND CDCAIXA  = :P_CDCAIXA"}) {
  Rules rules;
  std::string f = filial;
  std::string c = caixa;
  Cli_jov00000::Parametros saida{f, c, rules.util, rules.per};
  TADOConnection connection(db);
  connection.BeforeConnect = [&](TADOConnection& conn) {
    rules.connects.push_back("before");
    conn.ConnectionString = connection_string;
  };
  connection.AfterConnect = [&](TADOConnection& conn) {
    rules.connects.push_back(Jov_calvora::SetADODBSession(conn.Session()) ? "session" : "none");
  };
  TADOQuery query;
  query.Connection = &connection;
  query.SQL = sql;
  Cli_jov00000::LeRegras(query, saida);
  return rules;
}

template <typename T>
class RegrasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DatabaseQt setup;
    setup.Connect(backend.ConnectionString());
    RunScript(setup, T::kScript);
  }

  T backend;
  DatabaseQt db;
};

using Backends = ::testing::Types<Sqlite, Postgres>;
TYPED_TEST_SUITE(RegrasTest, Backends);

TYPED_TEST(RegrasTest, TheRegistersRowGivesItsRulesAndNoRowGivesEmptyRules) {
  struct Case {
    const char* filial;
    const char* caixa;
    const char* util;
    const char* per;
  };
  // Rows whose two rules differ, so that a swapped column shows; a NULL rule reads as empty.
  {
    DatabaseQt setup;
    setup.Connect(this->backend.ConnectionString());
    setup.Query("INSERT INTO CAIXA VALUES ('0002', '001', 'N', 'S', 'N')", {});
    setup.Query("INSERT INTO CAIXA VALUES ('0002', '002', 'S', 'N', 'S')", {});
    setup.Query("INSERT INTO CAIXA VALUES ('0002', '003', 'S', NULL, 'x')", {});
  }
  const Case cases[] = {
      {"0001", "001", "N", "N"},  // opens by hand
      {"0001", "002", "S", "S"},  // opens by itself
      {"0002", "001", "S", "N"}, {"0002", "002", "N", "S"},
      {"0002", "003", "", "x"},                              // passed on as read
      {"0001", "003", "", ""},                               // no row
      {"9999", "001", "", ""},   {"00001", "001", "", ""}};  // a code longer than the column
  const std::string connection = this->backend.ConnectionString();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.filial) + "/" + c.caixa);
    const auto rules = Read(this->db, connection, c.filial, c.caixa);
    EXPECT_EQ(rules.util, c.util);
    EXPECT_EQ(rules.per, c.per);
  }
}

TYPED_TEST(RegrasTest, TheSessionIsSetUpRightAfterConnectingAndOnlyOnce) {
  const std::string connection = this->backend.ConnectionString();
  auto rules = Read(this->db, connection, "0001", "002");
  EXPECT_EQ(rules.connects, (std::vector<std::string>{"before", "session"}));
  rules = Read(this->db, connection, "0001", "001");  // the connection stays open
  EXPECT_TRUE(rules.connects.empty());
  EXPECT_EQ(rules.util, "N");
}

TYPED_TEST(RegrasTest, ATableWithoutOneOfTheThreeColumnsGivesNForBoth) {
  for (const char* column : {"IDAUTOIMPTAB", "IDUTILABERAUTO", "IDPERACESSOTER"}) {
    SCOPED_TRACE(std::string("without ") + column);
    DatabaseQt setup;
    setup.Connect(this->backend.ConnectionString());
    RunScript(setup, TypeParam::kScript);
    setup.Query(std::string("ALTER TABLE CAIXA DROP COLUMN ") + column, {});
    setup.Disconnect();
    this->db.Disconnect();
    const auto rules = Read(this->db, this->backend.ConnectionString(), "0001", "002");
    EXPECT_EQ(rules.util, "N");
    EXPECT_EQ(rules.per, "N");
  }
}

TYPED_TEST(RegrasTest, AnUnreachableDatabaseGivesNForBoth) {
  const auto rules = Read(this->db, this->backend.Unreachable(), "0001", "002");
  EXPECT_EQ(rules.util, "N");
  EXPECT_EQ(rules.per, "N");
  EXPECT_FALSE(this->db.IsConnected());
}

TEST(RegrasSemTabela, ADatabaseWithoutTableCaixaGivesNForBoth) {
  TempDir dir;
  DatabaseQt db;
  const auto rules = Read(db, "Provider=QSQLITE;Data Source=" + dir.path() + "/vazio.db", "0001",
                          "002", {"SELECT IDAUTOIMPTAB, IDUTILABERAUTO,IDPERACESSOTER FROM CAIXA"});
  EXPECT_EQ(rules.util, "N");
  EXPECT_EQ(rules.per, "N");
}

}  // namespace
}  // namespace jov::testing
