// Database over Qt SQL: SQLite (the embedded default) or PostgreSQL, by the string's provider.
#pragma once

#include <QString>

#include "platform/database.h"

namespace jov {

class DatabaseQt : public Database {
 public:
  DatabaseQt();
  ~DatabaseQt() override;
  void Connect(const std::string& connection_string) override;
  bool IsConnected() override;
  void Disconnect() override;
  std::vector<DbRow> Query(const std::string& sql,
                           const std::map<std::string, std::string>& params) override;

 private:
  QString name_;
};

// The parts of a connection string "Key=Value;..." (keys upper-cased, values trimmed).
std::map<std::string, std::string> ParseConnectionString(const std::string& text);

}  // namespace jov
