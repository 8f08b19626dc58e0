// One database connection and its parameterised queries (table CAIXA and the like).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace jov {

// A row maps upper-case column names to their text; a NULL column is nothing.
using DbRow = std::map<std::string, std::optional<std::string>>;

class Database {
 public:
  virtual ~Database() = default;
  // Connects with the connection string ("Provider=QSQLITE;Data Source=..." or QPSQL).
  // Throws Error naming the database and the driver's reason.
  virtual void Connect(const std::string& connection_string) = 0;
  virtual bool IsConnected() = 0;
  virtual void Disconnect() = 0;
  // Runs the statement with ":NAME" parameters bound as text; throws on any failure.
  virtual std::vector<DbRow> Query(const std::string& sql,
                                   const std::map<std::string, std::string>& params) = 0;
};

}  // namespace jov
